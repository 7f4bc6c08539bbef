// platform-posix: files, with the text-mode translation of documents.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"
#include "platform-posix-internal.h"

// ---- Files -----------------------------------------------------------------

struct PlatFile {
    int descriptor;
    PlatOpenMode mode;
    bool textEnded;          // a 0x1A byte was met in text mode
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
    if (file->textEnded) return false;
    for (;;) {
        ssize_t got = read(file->descriptor, file->buffer, sizeof file->buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        file->position = 0;
        file->length = static_cast<size_t>(got);
        return true;
    }
}

// Copies translated text bytes from the buffer: carriage returns dropped, a
// 0x1A byte ends the text for good.
size_t TakeText(PlatFile* file, unsigned char* target, size_t wanted)
{
    size_t taken = 0;
    while (taken < wanted && file->position < file->length) {
        unsigned char byte = file->buffer[file->position++];
        if (byte == 0x1A) {
            file->textEnded = true;
            file->position = file->length;
            break;
        }
        if (byte != '\r') target[taken++] = byte;
    }
    return taken;
}

}  // namespace

int PlatRead(PlatFile* file, void* target, int count)
{
    unsigned char* out = static_cast<unsigned char*>(target);
    size_t wanted = count > 0 ? static_cast<size_t>(count) : 0;
    size_t delivered = 0;
    while (delivered < wanted) {
        if (file->position >= file->length && !Refill(file)) break;
        if (file->mode == PlatReadText) {
            delivered += TakeText(file, out + delivered, wanted - delivered);
        } else {
            size_t chunk = std::min(wanted - delivered, file->length - file->position);
            memcpy(out + delivered, file->buffer + file->position, chunk);
            file->position += chunk;
            delivered += chunk;
        }
    }
    return static_cast<int>(delivered);
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

