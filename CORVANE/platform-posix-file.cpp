// platform-posix: files, with the text-mode translation of documents.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"
#include "platform-common.h"
#include "platform-posix-internal.h"

// ---- Files -----------------------------------------------------------------

struct PlatFile {
    int descriptor;
    PlatOpenMode mode;
    platform_common::FileReader reader;
};

PlatFile* PlatOpen(const char* path, PlatOpenMode mode)
{
    int flags = O_RDONLY;
    if (mode == PlatWriteTruncate) flags = O_WRONLY | O_CREAT | O_TRUNC;
    if (mode == PlatAppend) flags = O_WRONLY | O_CREAT | O_APPEND;
    int descriptor = open(PlatSystemPath(path).c_str(), flags | O_CLOEXEC, 0644);
    if (descriptor < 0) return nullptr;
    struct stat info;
    if (fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(descriptor);
        return nullptr;
    }
    PlatFile* file = new PlatFile;
    file->descriptor = descriptor;
    file->mode = mode;
    return file;
}

void PlatClose(PlatFile* file)
{
    if (!file) return;
    close(file->descriptor);
    delete file;
}

int64_t PlatFileSize(PlatFile* file)
{
    struct stat info;
    if (fstat(file->descriptor, &info) != 0) return -1;
    return static_cast<int64_t>(info.st_size);
}

namespace {

long ReadSome(int descriptor, unsigned char* target, size_t count)
{
    for (;;) {
        ssize_t got = read(descriptor, target, count);
        if (got >= 0 || errno != EINTR) return static_cast<long>(got);
    }
}

}  // namespace

int PlatRead(PlatFile* file, void* target, int count)
{
    if (count <= 0) return 0;
    unsigned char* out = static_cast<unsigned char*>(target);
    auto readSome = [file](unsigned char* into, size_t wanted) { return ReadSome(file->descriptor, into, wanted); };
    size_t wanted = static_cast<size_t>(count);
    if (file->mode == PlatReadText) return static_cast<int>(file->reader.ReadText(out, wanted, readSome));
    return static_cast<int>(file->reader.ReadRaw(out, wanted, readSome));
}

int PlatReadByte(PlatFile* file)
{
    unsigned char byte;
    return PlatRead(file, &byte, 1) == 1 ? byte : -1;
}

int PlatWrite(PlatFile* file, const void* source, int count)
{
    const char* bytes = static_cast<const char*>(source);
    while (count > 0) {
        ssize_t written = write(file->descriptor, bytes, static_cast<size_t>(count));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return 0;
        bytes += written;
        count -= static_cast<int>(written);
    }
    return 1;
}

