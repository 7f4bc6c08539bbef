// Reference files for the differential test: the C library's streams, one
// byte at a time, with the text-mode translation written out plainly.
#include <cstdio>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"
#include "platform-common.h"
#include "platform-posix-internal.h"

struct PlatFile {
    FILE* stream;
    PlatOpenMode mode;
    bool textEnded;
};

PlatFile* PlatOpen(const char* path, PlatOpenMode mode, PlatFailure* failure)
{
    if (failure) *failure = PlatFailureMissing;
    const char* modes[] = {"rb", "rb", "wb", "ab"};
    std::string systemPath = PlatSystemPath(path);
    struct stat info;
    if (mode <= PlatReadText && (stat(systemPath.c_str(), &info) != 0 || S_ISDIR(info.st_mode))) return nullptr;
    FILE* stream = fopen(systemPath.c_str(), modes[mode]);
    if (!stream) return nullptr;
    if (failure) *failure = PlatFailureNone;
    return new PlatFile{stream, mode, false};
}

void PlatClose(PlatFile* file)
{
    fclose(file->stream);
    delete file;
}

int64_t PlatFileSize(PlatFile* file)
{
    struct stat info;
    return fstat(fileno(file->stream), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

int PlatRead(PlatFile* file, void* target, int count)
{
    unsigned char* out = static_cast<unsigned char*>(target);
    int delivered = 0;
    while (delivered < count && !file->textEnded) {
        int byte = fgetc(file->stream);
        if (byte == EOF) break;
        if (file->mode == PlatReadText && byte == 0x1A) file->textEnded = true;
        else if (file->mode == PlatReadText && byte == '\r') continue;
        else out[delivered++] = static_cast<unsigned char>(byte);
    }
    return delivered;
}

int PlatReadFailed(PlatFile* file) { return ferror(file->stream) ? 1 : 0; }

int PlatReadByte(PlatFile* file)
{
    unsigned char byte;
    return PlatRead(file, &byte, 1) == 1 ? byte : -1;
}

int PlatWrite(PlatFile* file, const void* source, int count)
{
    size_t written = fwrite(source, 1, static_cast<size_t>(count), file->stream);
    fflush(file->stream);
    return written == static_cast<size_t>(count) ? 1 : 0;
}

// Standard output: the page, written plainly.
namespace {

long WritePlainly(intptr_t handle, const void* source, long count)
{
    return static_cast<long>(write(static_cast<int>(handle), source, static_cast<size_t>(count)));
}

// Folders are listed as the program lists them.
const PlatFileCalls plainCalls = {nullptr, nullptr, WritePlainly, nullptr, nullptr,
                                  nullptr, nullptr, nullptr,      nullptr, PlatSystemListFolder};

}  // namespace

intptr_t PlatStandardOutputHandle() { return STDOUT_FILENO; }
const PlatFileCalls* PlatFileCallsInUse() { return &plainCalls; }

int64_t PlatReadOffset(PlatFile* file) { return static_cast<int64_t>(ftell(file->stream)); }

int PlatSeek(PlatFile* file, int64_t offset)
{
    if (fseek(file->stream, static_cast<long>(offset), SEEK_SET) != 0) return 0;
    file->textEnded = false;
    return 1;
}
