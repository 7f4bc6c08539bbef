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

// Control bytes become blanks, so that a request always leaves exactly one
// line and a search text cannot forge lines; the line end is kept.
void BlankControlBytes(char* text, int length)
{
    int end = (length > 0 && text[length - 1] == '\n') ? length - 1 : length;
    for (int i = 0; i < end; ++i)
        if (static_cast<unsigned char>(text[i]) < 0x20) text[i] = ' ';
}

int ComposeLine(char* line, const PlatLocalTime& now, const char* format, va_list arguments)
{
    int32_t stamp = 0;
    DateToMinutes(&stamp, now.hour, now.minute, now.month - 1, now.day, now.year - 1900);
    const char* address = cgiState.remoteAddress ? cgiState.remoteAddress : "0.0.0.0";
    int prefix = snprintf(line, LogLineCapacity, "%s %.8X ", address, static_cast<unsigned>(stamp));
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
    if (length > 0) PlatWrite(file.get(), line, length);
    return 1;
}
