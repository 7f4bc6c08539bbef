// corv-core: command-line arguments, the seconds clock and the minute stamp.
#include "corv-core.h"

#include "platform.h"

namespace {

const char* const CoreModule = "corv-core";

bool IsSeparatorByte(unsigned char byte) { return byte >= 1 && byte <= 32; }

}  // namespace

const char* FindCommandArg(const char* text, int index)
{
    CORV_CHECK_POINTER(CoreModule, text);
    const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
    while (IsSeparatorByte(*at)) ++at;
    int count = 0;
    bool quoting = false;
    while (*at) {
        if (*at == '"') quoting = !quoting;
        if (quoting || *at > 32) {
            if (count == index) return reinterpret_cast<const char*>(at);
            ++at;
            continue;
        }
        while (IsSeparatorByte(*at)) ++at;
        if (!*at) break;
        ++count;
    }
    return count == index ? reinterpret_cast<const char*>(at) : nullptr;
}

int GetCommandArg(const char* text, int index, char* target, int targetCapacity)
{
    CORV_CHECK_POINTER(CoreModule, text);
    CORV_CHECK_POINTER(CoreModule, target);
    if (targetCapacity <= 0) return 0;
    target[0] = '\0';
    const char* start = FindCommandArg(text, index);
    if (!start || !*start) return 0;
    int length = 0;
    bool quoting = false;
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(start); *at >= 32; ++at) {
        if (*at == '"') {
            quoting = !quoting;
            if (!quoting) break;
            continue;
        }
        if (*at == ' ' && !quoting) break;
        if (length + 1 < targetCapacity) target[length++] = static_cast<char>(*at);
    }
    target[length] = '\0';
    return 1;
}

double TickSeconds()
{
    uint64_t milliseconds = PlatTickCount();
    return static_cast<double>(milliseconds) * 0.001;
}

int DateToMinutes(int32_t* minutes, int hour, int minute, int month, int day, int yearsSince1900)
{
    static const int DaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    int h = hour & 0xFF, m = minute & 0xFF, mon = month & 0xFF, d = day & 0xFF, y = yearsSince1900 & 0xFF;
    int days = 365 * (y - 70) + (y - 68) / 4 + (mon < 12 ? DaysBeforeMonth[mon] : 0) + d;
    if (y % 4 == 0 && mon <= 1) days -= 1;
    *minutes = days * 1440 + h * 60 + m;
    return 1;
}
