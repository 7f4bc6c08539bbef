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
    bool textEnded;          // a 0x1A byte was met in text mode
    // Raw reads go through this buffer (the configuration is read a byte at a
    // time); text reads go straight into the caller's block.
    size_t position;
    size_t length;
    unsigned char buffer[1 << 16];
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
    file->textEnded = false;
    file->position = 0;
    file->length = 0;
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

bool Refill(PlatFile* file)
{
    for (;;) {
        ssize_t got = read(file->descriptor, file->buffer, sizeof file->buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        file->position = 0;
        file->length = static_cast<size_t>(got);
        return true;
    }
}

ssize_t ReadSome(int descriptor, unsigned char* target, size_t count)
{
    for (;;) {
        ssize_t got = read(descriptor, target, count);
        if (got >= 0 || errno != EINTR) return got;
    }
}

// Text is read straight into the caller's block, then translated there.
int ReadText(PlatFile* file, unsigned char* target, size_t wanted)
{
    size_t delivered = 0;
    while (delivered < wanted && !file->textEnded) {
        ssize_t got = ReadSome(file->descriptor, target + delivered, wanted - delivered);
        if (got <= 0) break;
        delivered += platform_common::TranslateText(target + delivered, static_cast<size_t>(got), file->textEnded);
    }
    return static_cast<int>(delivered);
}

int ReadRaw(PlatFile* file, unsigned char* target, size_t wanted)
{
    size_t delivered = 0;
    while (delivered < wanted) {
        if (file->position >= file->length && !Refill(file)) break;
        size_t chunk = std::min(wanted - delivered, file->length - file->position);
        memcpy(target + delivered, file->buffer + file->position, chunk);
        file->position += chunk;
        delivered += chunk;
    }
    return static_cast<int>(delivered);
}

}  // namespace

int PlatRead(PlatFile* file, void* target, int count)
{
    if (count <= 0) return 0;
    unsigned char* out = static_cast<unsigned char*>(target);
    if (file->mode == PlatReadText) return ReadText(file, out, static_cast<size_t>(count));
    return ReadRaw(file, out, static_cast<size_t>(count));
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

