// Shared pieces of the fuzz targets: scratch folders, file writing, the core
// started once per process, and the check that tracked memory is back at zero.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "corv-core.h"
#include "platform.h"

namespace fuzz_support {

// Reports a broken property and ends the run, so libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what)
{
    fprintf(stderr, "\nfuzz property broken: %s\n", what);
    fflush(stderr);
    abort();
}

inline void Require(bool condition, const char* what)
{
    if (!condition) Fail(what);
}

// Removed at exit. Under TMPDIR when it is set (the fuzz script sets it to its
// scratch folder), else in memory where the system offers it: the targets
// write a file per run, which is slow on some disk file systems.
inline std::string ScratchFolder(const char* tag)
{
    const char* base = getenv("TMPDIR");
    if (!base || !*base) base = access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/trawlex-" + tag + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) Fail("cannot create a scratch folder");
    static std::vector<std::string> folders;
    if (folders.empty()) {
        atexit([] {
            std::error_code ignored;
            for (const std::string& folder : folders) std::filesystem::remove_all(folder, ignored);
        });
    }
    folders.push_back(buffer.data());
    return buffer.data();
}

// Replaces the file rather than emptying it: some file systems flush a file
// that was emptied and written again, which would slow every run down.
inline void WriteBytes(const std::string& path, const void* data, size_t size)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    unlink(path.c_str());
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) Fail("cannot write a scratch file");
    if (size > 0 && fwrite(data, 1, size, file) != size) Fail("short write of a scratch file");
    fclose(file);
}

inline void WriteText(const std::string& path, const std::string& text) { WriteBytes(path, text.data(), text.size()); }

// The program's own spelling of a path: backslashes throughout.
inline std::string InternalPath(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Starts the core as the driver does, for a program at programPath.
inline void StartCore(const std::string& programPath)
{
    bool blank = programPath.find(' ') != std::string::npos;
    PlatSetCommandLine((blank ? "\"" + programPath + "\"" : programPath).c_str());
    DebugInit("debug.log", 0);
    MemInit(MemLimitMaximum, 0);
}

inline void RequireNoTrackedMemory(const char* where)
{
    MemStats stats = MemGetStats();
    if (stats.liveCount != 0 || stats.bytesInUse != 0) {
        fprintf(stderr, "\ntracked memory left after %s: %d blocks, %d bytes\n", where, stats.liveCount,
                stats.bytesInUse);
        Fail("tracked memory not back at zero");
    }
}

// Reads the fuzz input from the front, giving zeros once it runs out.
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t Number(int bytes)
    {
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | Byte();
        return value;
    }
    // Up to the next `end` byte (consumed, not returned) or `limit` bytes.
    std::string Until(uint8_t end, size_t limit)
    {
        std::string text;
        while (at_ < size_ && data_[at_] != end && text.size() < limit) text += static_cast<char>(data_[at_++]);
        if (at_ < size_ && data_[at_] == end) ++at_;
        return text;
    }
    std::string Take(size_t count)
    {
        count = std::min(count, size_ - at_);
        std::string text(reinterpret_cast<const char*>(data_ + at_), count);
        at_ += count;
        return text;
    }
    std::string Rest() { return Take(size_ - at_); }
    size_t Left() const { return size_ - at_; }
private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A heap block of exactly `size` bytes, so any access beyond it is reported.
class ExactBlock {
public:
    explicit ExactBlock(size_t size) : data_(static_cast<char*>(malloc(size))), size_(size)
    {
        if (!data_ && size) Fail("out of memory");
    }
    ExactBlock(const void* bytes, size_t size) : ExactBlock(size) { if (size) memcpy(data_, bytes, size); }
    // A zero-terminated copy of text: its length plus one byte.
    explicit ExactBlock(const std::string& text) : ExactBlock(text.c_str(), text.size() + 1) {}
    ~ExactBlock() { free(data_); }
    ExactBlock(const ExactBlock&) = delete;
    ExactBlock& operator=(const ExactBlock&) = delete;
    char* data() const { return data_; }
    char* end() const { return data_ + size_; }
    size_t size() const { return size_; }
private:
    char* data_;
    size_t size_;
};

}  // namespace fuzz_support
