// platform-files: files as every system opens, reads and writes them, through
// the table of system calls that tests may replace. What differs between
// systems (the calls themselves, closing, moving, the append lock) comes from
// each system's own file.
#include "platform.h"
#include "platform-common.h"

namespace {

const PlatFileCalls* calls = &platform_common::SystemFileCalls();

}  // namespace

const PlatFileCalls* PlatFileCallsInUse() { return calls; }

void PlatUseFileCalls(const PlatFileCalls* replacement)
{
    calls = replacement ? replacement : &platform_common::SystemFileCalls();
}

struct PlatFile {
    intptr_t handle;
    PlatOpenMode mode;
    platform_common::FileReader reader;
};

PlatFile* PlatOpen(const char* path, PlatOpenMode mode, PlatFailure* failure)
{
    const intptr_t handle = calls->open(path, mode);
    if (failure) *failure = handle == PlatNoResources ? PlatFailureResources : handle == PlatNoFile ? PlatFailureMissing
                                                                                                     : PlatFailureNone;
    if (handle == PlatNoFile || handle == PlatNoResources) return nullptr;
    PlatFile* file = new PlatFile;
    file->handle = handle;
    file->mode = mode;
    return file;
}

void PlatClose(PlatFile* file)
{
    if (!file) return;
    calls->close(file->handle);
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

int PlatReadFailed(PlatFile* file) { return file->reader.failed ? 1 : 0; }

int PlatReadByte(PlatFile* file)
{
    unsigned char byte;
    return PlatRead(file, &byte, 1) == 1 ? byte : -1;
}

int64_t PlatReadOffset(PlatFile* file) { return file->reader.Offset(); }

int PlatSeek(PlatFile* file, int64_t offset)
{
    if (offset < 0 || !calls->seek(file->handle, offset)) return 0;
    file->reader.MovedTo(offset);
    return 1;
}

// An append takes turns with the other requests on a lock, so that the end
// it notes is where its bytes land, and a write that fails or comes up short
// is cut off again without touching anyone else's line.
int PlatWrite(PlatFile* file, const void* source, int count)
{
    const char* bytes = static_cast<const char*>(source);
    if (file->mode != PlatAppend) return platform_common::WriteAll(calls->write, file->handle, bytes, count);
    if (!calls->lockAppends(file->handle)) return 0;
    const int64_t end = calls->size(file->handle);
    const bool atEnd = end >= 0 && calls->seek(file->handle, end);
    const int written = atEnd ? platform_common::WriteAll(calls->write, file->handle, bytes, count) : 0;
    if (!written && atEnd) calls->cutOff(file->handle, end);
    calls->unlockAppends(file->handle);
    return written;
}
