// corv-core: lock, pointer checks, fatal reports and the debug outputs.
#include "corv-core.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace {

const char* const CoreModule = "corv-core";
const char* const CoreVersion = "0.31";
constexpr int DebugLogPathCapacity = 1024;

bool lockCreated = false;
uint32_t debugFlags = 0;
const char* reportModule = "Unknown";
int reportLine = 0;
char messageBuffer[DebugMessageCapacity + 1];
char debugLogPath[DebugLogPathCapacity];

enum ReportKind { ReportPlain, ReportFatal };

void DebugWrite(const char* text)
{
    int length = static_cast<int>(strlen(text));
    if (debugFlags & DebugConsole) PlatConsoleWrite(text, length);
    if (debugFlags & DebugLogFile) {
        PlatFileGuard file(PlatOpen(debugLogPath, PlatAppend));
        if (file) PlatWrite(file.get(), text, length);
    }
}

// Formats into the message buffer at `used`, never past its end; returns the
// full length the text would have had.
int AppendFormatted(int used, const char* format, va_list arguments)
{
    int room = used < DebugMessageCapacity ? DebugMessageCapacity + 1 - used : 0;
    char* target = room > 0 ? messageBuffer + used : nullptr;
    int length = vsnprintf(target, static_cast<size_t>(room), format, arguments);
    return used + (length > 0 ? length : 0);
}

int AppendText(int used, const char* format, ...) __attribute__((format(printf, 2, 3)));
int AppendText(int used, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int total = AppendFormatted(used, format, arguments);
    va_end(arguments);
    return total;
}

// The caller holds the lock.
void ComposeReport(ReportKind kind, const char* prefix, const char* format, va_list arguments)
{
    messageBuffer[0] = '\0';
    int length = 0;
    if (kind == ReportFatal) length = AppendText(length, "\n\n%s", prefix);
    length = AppendFormatted(length, format, arguments);
    if (kind == ReportFatal) length = AppendText(length, "       (%s/%d)\n", reportModule, reportLine);
    messageBuffer[DebugMessageCapacity] = '\0';
    if (kind == ReportFatal && !(debugFlags & DebugNoMessageBox))
        PlatShowFatalReport(strlen(messageBuffer) >= 2 ? messageBuffer + 2 : messageBuffer);
    DebugWrite(messageBuffer);
    if (length > DebugMessageCapacity) {
        reportModule = "Unknown";
        reportLine = 0;
        FatalAbort("Last string too large (%d > %d)\n", length, DebugMessageCapacity);
    }
}

[[noreturn]] void EndWithReport(const char* prefix, const char* format, va_list arguments)
{
    PlatOutputFlush();  // the page so far reaches the visitor
    ComposeReport(ReportFatal, prefix, format, arguments);
    LockLeave();
    exit(1);
}

}  // namespace

int LockEnter()
{
    if (lockCreated) PlatLockEnter();
    return 1;
}

int LockLeave()
{
    if (lockCreated) PlatLockLeave();
    return 1;
}

int SetReportLocation(const char* module, int line)
{
    LockEnter();
    reportModule = module;
    reportLine = line;
    return 1;
}

void FatalAbort(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    EndWithReport("ABORT: ", format, arguments);
}

int AssertCheck(int condition, const char* format, ...)
{
    if (condition) {
        LockLeave();
        return 1;
    }
    va_list arguments;
    va_start(arguments, format);
    EndWithReport("ASSERT:", format, arguments);
}

int CheckPointer(const void* pointer)
{
    return AssertCheck(pointer != nullptr, "Pointer is NULL...\n");
}

int DebugPrint(const char* format, ...)
{
    if (debugFlags == 0) return 1;
    LockEnter();
    va_list arguments;
    va_start(arguments, format);
    ComposeReport(ReportPlain, "", format, arguments);
    va_end(arguments);
    LockLeave();
    return 1;
}

int DebugSection(const char* title)
{
    if (debugFlags == 0) return 1;
    LockEnter();
    constexpr int TitledWidth = 80;   // counting the leading line end
    constexpr int PlainWidth = 79;
    int width = title ? TitledWidth : PlainWidth;
    char banner[DebugMessageCapacity + 2];
    if (title)
        snprintf(banner, sizeof banner, "\n====[%s]", title);
    else
        snprintf(banner, sizeof banner, "====");
    int length = static_cast<int>(strlen(banner));
    if (length > width) length = width;
    while (length < width) banner[length++] = '=';
    banner[length++] = '\n';
    banner[length] = '\0';
    DebugWrite(banner);
    LockLeave();
    return 1;
}

int DebugInit(const char* logName, uint32_t flags)
{
    PlatLockCreate();
    lockCreated = true;
    debugFlags = flags;
    if (!GetCommandArg(PlatCommandLine(), 0, debugLogPath, DebugLogPathCapacity)) {
        SetReportLocation(CoreModule, __LINE__);
        FatalAbort("No starting path was specified on commandline!\n");
    }
    char* cut = debugLogPath + strlen(debugLogPath);
    while (cut > debugLogPath && cut[-1] != '\\' && cut[-1] != '/') --cut;
    *cut = '\0';
    const char* name = (logName && strlen(logName) >= 2) ? logName : "debug.log";
    size_t used = strlen(debugLogPath);
    snprintf(debugLogPath + used, sizeof debugLogPath - used, "%s", name);
    if (debugFlags == 0) return 1;
    if (debugFlags & DebugConsole) PlatConsoleOpen(debugLogPath);
    if ((debugFlags & DebugLogFile) && !(debugFlags & DebugAppend)) {
        PlatFileGuard emptied(PlatOpen(debugLogPath, PlatWriteTruncate));
    }
    if (debugFlags & DebugVerbose) DebugPrint("Corvane v%s\n", CoreVersion);
    return 1;
}

int DebugRemove()
{
    if (lockCreated) PlatLockClose();
    lockCreated = false;
    return 1;
}

uint32_t DebugGetFlags() { return debugFlags; }
