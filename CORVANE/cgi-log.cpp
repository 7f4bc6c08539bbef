// cgi: the daily query log, one line per request.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cgi.h"
#include "corv-core.h"
#include "corv-str.h"
#include "platform.h"

extern CgiState cgiState;

namespace {

const char* const CgiModule = "cgi";
constexpr int OpenAttempts = 100;
constexpr int RetryPauseMilliseconds = 10;
constexpr int LogLineCapacity = 2048;

PlatFile* OpenWithRetries(const char* path)
{
    for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
        if (PlatFile* file = PlatOpen(path, PlatAppend)) return file;
        PlatSleepMilliseconds(RetryPauseMilliseconds);
    }
    return nullptr;
}

// The longest text form of an address (IPv6 with an IPv4 tail).
constexpr int AddressLengthLimit = 45;

// What readers take for a line end: the C1 controls (NEL among them) and the
// line and paragraph separators.
bool EndsLinesForSomeReaders(const unsigned char* at, int length)
{
    if (length == 2) return at[0] == 0xC2 && at[1] <= 0x9F;
    return length == 3 && at[0] == 0xE2 && at[1] == 0x80 && (at[2] == 0xA8 || at[2] == 0xA9);
}

// Every byte that some reader could take for a line end or a control becomes
// a blank, so that a request always leaves exactly one line and nothing in it
// can forge another; the line's own end is kept.
void BlankControlBytes(char* text, int length)
{
    unsigned char* at = reinterpret_cast<unsigned char*>(text);
    unsigned char* end = at + ((length > 0 && text[length - 1] == '\n') ? length - 1 : length);
    while (at < end) {
        int sequence = *at >= 0x80 ? Utf8SequenceLength(at, end) : 0;
        if (sequence > 0) {
            if (EndsLinesForSomeReaders(at, sequence)) memset(at, ' ', static_cast<size_t>(sequence));
            at += sequence;
            continue;
        }
        if (*at < 0x20 || *at == 0x7F || (*at >= 0x80 && *at <= 0x9F)) *at = ' ';
        ++at;
    }
}

int ComposeLine(char* line, const PlatLocalTime& now, const char* format, va_list arguments)
{
    int32_t stamp = 0;
    DateToMinutes(&stamp, now.hour, now.minute, now.month - 1, now.day, now.year - 1900);
    const char* address = cgiState.remoteAddress ? cgiState.remoteAddress : "0.0.0.0";
    int prefix = snprintf(line, LogLineCapacity, "%.*s %.8X ", AddressLengthLimit, address,
                          static_cast<unsigned>(stamp));
    if (prefix < 0 || prefix >= LogLineCapacity) return 0;
    int text = vsnprintf(line + prefix, static_cast<size_t>(LogLineCapacity - prefix), format, arguments);
    if (text < 0) return 0;
    int length = static_cast<int>(strlen(line));
    if (prefix + text >= LogLineCapacity) line[length - 1] = '\n';  // a cut line still ends
    BlankControlBytes(line, length);  // the address comes from outside too
    return length;
}

}  // namespace

int CgiLogQuery(const char* folder, const char* format, ...)
{
    CORV_CHECK_POINTER(CgiModule, folder);
    CORV_CHECK_POINTER(CgiModule, format);
    PlatLocalTime now;
    PlatGetLocalTime(&now);
    char path[PathCapacity];
    char fileName[32];
    snprintf(fileName, sizeof fileName, "%.2d%.2d%.4d.log", now.month, now.day, now.year);
    GetProgramDirectory(path, sizeof path);
    bool fits = path[0] && StrAppendBounded(path, sizeof path, folder) &&
                StrAppendBounded(path, sizeof path, fileName);
    PlatFileGuard file(fits ? OpenWithRetries(path) : nullptr);
    if (!file) {
        CgiComment("Unable to update log\n\n");
        return 1;
    }
    char line[LogLineCapacity];
    va_list arguments;
    va_start(arguments, format);
    int length = ComposeLine(line, now, format, arguments);
    va_end(arguments);
    if (length > 0 && !PlatWrite(file.get(), line, length)) CgiComment("Unable to update log\n\n");
    return 1;
}
