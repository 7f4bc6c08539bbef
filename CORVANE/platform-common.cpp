// platform-common: name order, text translation, DOS time stamps, the page's
// output buffer and whole writes, the same on every system.
#include "platform-common.h"

#include <algorithm>
#include <cstring>

#include "platform.h"

namespace platform_common {

namespace {

unsigned char UpperAscii(unsigned char byte)
{
    return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - 32) : byte;
}

}  // namespace

bool NameBefore(const std::string& a, const std::string& b)
{
    size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        unsigned char x = UpperAscii(static_cast<unsigned char>(a[i]));
        unsigned char y = UpperAscii(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;  // std::string compares as unsigned bytes
}

size_t TranslateText(unsigned char* bytes, size_t count, bool& textEnded)
{
    if (const void* end = memchr(bytes, 0x1A, count)) {
        count = static_cast<size_t>(static_cast<const unsigned char*>(end) - bytes);
        textEnded = true;
    }
    unsigned char* carriageReturn = static_cast<unsigned char*>(memchr(bytes, '\r', count));
    if (!carriageReturn) return count;
    unsigned char* kept = carriageReturn;
    for (const unsigned char* at = carriageReturn; at < bytes + count; ++at)
        if (*at != '\r') *kept++ = *at;
    return static_cast<size_t>(kept - bytes);
}

int WriteAll(long (*write)(intptr_t, const void*, long), intptr_t handle, const char* bytes, int count)
{
    while (count > 0) {
        long written = write(handle, bytes, count);
        if (written <= 0) return 0;
        bytes += written;
        count -= static_cast<int>(written);
    }
    return 1;
}

}  // namespace platform_common

// ---- Standard output ---------------------------------------------------------

namespace {

struct OutputBuffer {
    char bytes[1 << 16];
    int used = 0;
    bool failed = false;
};
OutputBuffer output;

void WriteOut(const char* bytes, int count)
{
    if (output.failed || count <= 0) return;
    if (!platform_common::WriteAll(PlatFileCallsInUse()->write, PlatStandardOutputHandle(), bytes, count))
        output.failed = true;
}

}  // namespace

void platform_common::StartOutput()
{
    output.used = 0;
    output.failed = false;
}

void PlatOutputWrite(const void* bytes, int count)
{
    const char* from = static_cast<const char*>(bytes);
    if (count <= 0) return;
    if (output.used + count > static_cast<int>(sizeof output.bytes)) PlatOutputFlush();
    if (count >= static_cast<int>(sizeof output.bytes)) {
        WriteOut(from, count);
        return;
    }
    memcpy(output.bytes + output.used, from, static_cast<size_t>(count));
    output.used += count;
}

void PlatOutputFlush()
{
    WriteOut(output.bytes, output.used);
    output.used = 0;
}

uint32_t PlatDosDateTime(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1980) return (1u << 5 | 1u) << 16;
    if (year > 2107) return ((127u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u);
    uint32_t date = static_cast<uint32_t>((year - 1980) << 9 | month << 5 | day);
    uint32_t time = static_cast<uint32_t>(hour << 11 | minute << 5 | second / 2);
    return date << 16 | time;
}
