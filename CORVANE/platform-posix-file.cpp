// platform-posix: the system calls behind files, which tests may replace.
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
    if (descriptor < 0) return errno == EMFILE || errno == ENFILE || errno == ENOMEM ? PlatNoResources : PlatNoFile;
    struct stat info;
    bool regular = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
    if (!regular || fcntl(descriptor, F_SETFL, flags & O_APPEND) != 0) {
        close(descriptor);
        return PlatNoFile;
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

int SystemSeek(intptr_t handle, int64_t offset)
{
    return lseek(static_cast<int>(handle), static_cast<off_t>(offset), SEEK_SET) >= 0 ? 1 : 0;
}

void SystemClose(intptr_t handle) { close(static_cast<int>(handle)); }

void SystemCutOff(intptr_t handle, int64_t length)
{
    while (ftruncate(static_cast<int>(handle), static_cast<off_t>(length)) != 0 && errno == EINTR) {
    }
}

int SystemLockAppends(intptr_t handle)
{
    while (flock(static_cast<int>(handle), LOCK_EX) != 0)
        if (errno != EINTR) return 0;
    return 1;
}

void SystemUnlockAppends(intptr_t handle) { flock(static_cast<int>(handle), LOCK_UN); }

}  // namespace

const PlatFileCalls& platform_common::SystemFileCalls()
{
    static const PlatFileCalls calls = {SystemOpen,   SystemRead,        SystemWrite,         SystemSize,
                                        SystemSeek,   SystemClose,       SystemCutOff,        SystemLockAppends,
                                        SystemUnlockAppends, PlatSystemListFolder};
    return calls;
}

intptr_t PlatStandardOutputHandle() { return STDOUT_FILENO; }
