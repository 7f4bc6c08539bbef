// platform-posix: files, with the text-mode translation of documents, and the
// system calls behind them that tests may replace.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"
#include "platform-common.h"
#include "platform-posix-internal.h"

// ---- The system calls --------------------------------------------------------

namespace {

// A FIFO or a device would block the request or never end: only regular
// files are opened, checked on the open descriptor so that nothing swapped in
// after a listing can slip through. O_NONBLOCK keeps the open of a FIFO from
// waiting for a writer; it is cleared again for the reads.
intptr_t SystemOpen(const char* path, PlatOpenMode mode)
{
    int flags = O_RDONLY;
    if (mode == PlatWriteTruncate) flags = O_WRONLY | O_CREAT | O_TRUNC;
    if (mode == PlatAppend) flags = O_WRONLY | O_CREAT | O_APPEND;
    int descriptor = open(PlatSystemPath(path).c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
    if (descriptor < 0) return -1;
    struct stat info;
    bool regular = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
    if (!regular || fcntl(descriptor, F_SETFL, flags & O_APPEND) != 0) {
        close(descriptor);
        return -1;
    }
    return descriptor;
}

long SystemRead(intptr_t handle, void* target, long count)
{
    for (;;) {
        ssize_t got = read(static_cast<int>(handle), target, static_cast<size_t>(count));
        if (got >= 0 || errno != EINTR) return static_cast<long>(got);
    }
}

long SystemWrite(intptr_t handle, const void* source, long count)
{
    for (;;) {
        ssize_t written = write(static_cast<int>(handle), source, static_cast<size_t>(count));
        if (written >= 0 || errno != EINTR) return static_cast<long>(written);
    }
}

int64_t SystemSize(intptr_t handle)
{
    struct stat info;
    if (fstat(static_cast<int>(handle), &info) != 0) return -1;
    return static_cast<int64_t>(info.st_size);
}

const PlatFileCalls systemCalls = {SystemOpen, SystemRead, SystemWrite, SystemSize};
const PlatFileCalls* calls = &systemCalls;

}  // namespace

const PlatFileCalls* PlatFileCallsInUse() { return calls; }

void PlatUseFileCalls(const PlatFileCalls* replacement) { calls = replacement ? replacement : &systemCalls; }

intptr_t PlatStandardOutputHandle() { return STDOUT_FILENO; }

// ---- Files -----------------------------------------------------------------

struct PlatFile {
    intptr_t handle;
    PlatOpenMode mode;
    platform_common::FileReader reader;
};

PlatFile* PlatOpen(const char* path, PlatOpenMode mode)
{
    intptr_t handle = calls->open(path, mode);
    if (handle < 0) return nullptr;
    PlatFile* file = new PlatFile;
    file->handle = handle;
    file->mode = mode;
    return file;
}

void PlatClose(PlatFile* file)
{
    if (!file) return;
    close(static_cast<int>(file->handle));
    delete file;
}

int64_t PlatFileSize(PlatFile* file) { return calls->size(file->handle); }

int PlatRead(PlatFile* file, void* target, int count)
{
    if (count <= 0) return 0;
    unsigned char* out = static_cast<unsigned char*>(target);
    auto readSome = [file](unsigned char* into, size_t wanted) {
        return calls->read(file->handle, into, static_cast<long>(wanted));
    };
    size_t wanted = static_cast<size_t>(count);
    if (file->mode == PlatReadText) return static_cast<int>(file->reader.ReadText(out, wanted, readSome));
    return static_cast<int>(file->reader.ReadRaw(out, wanted, readSome));
}

int PlatReadByte(PlatFile* file)
{
    unsigned char byte;
    return PlatRead(file, &byte, 1) == 1 ? byte : -1;
}

int64_t PlatReadOffset(PlatFile* file) { return file->reader.Offset(); }

int PlatSeek(PlatFile* file, int64_t offset)
{
    if (offset < 0 || lseek(static_cast<int>(file->handle), static_cast<off_t>(offset), SEEK_SET) < 0) return 0;
    file->reader.MovedTo(offset);
    return 1;
}

namespace {

// An append takes turns with the other requests on a lock, so that the end
// it notes is where its bytes land and a failed append can be cut off again
// without touching anyone else's line.
int AppendWhole(PlatFile* file, const char* bytes, int count)
{
    const int descriptor = static_cast<int>(file->handle);
    while (flock(descriptor, LOCK_EX) != 0)
        if (errno != EINTR) return 0;
    int64_t end = calls->size(file->handle);
    int written = end >= 0 ? platform_common::WriteAll(calls->write, file->handle, bytes, count) : 0;
    if (!written && end >= 0) {
        while (ftruncate(descriptor, static_cast<off_t>(end)) != 0 && errno == EINTR) {
        }
    }
    flock(descriptor, LOCK_UN);
    return written;
}

}  // namespace

int PlatWrite(PlatFile* file, const void* source, int count)
{
    const char* bytes = static_cast<const char*>(source);
    if (file->mode == PlatAppend) return AppendWhole(file, bytes, count);
    return platform_common::WriteAll(calls->write, file->handle, bytes, count);
}
