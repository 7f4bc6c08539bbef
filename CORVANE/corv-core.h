// corv-core: the support library's core. The process-wide lock, pointer
// checks and fatal reports, the optional debug outputs, tracked memory with
// guard bytes and a global limit, quick memory, the command-line argument
// reader, the seconds clock and the query log's minute stamp.
#pragma once

#include <cstdint>

// ---- Diagnostics -----------------------------------------------------------

enum : uint32_t {
    DebugConsole = 1,
    DebugLogFile = 2,
    DebugVerbose = 4,
    DebugAppend = 8,
    DebugNoMessageBox = 16
};

// Longest composed report; a longer one is cut and then reported itself.
constexpr int DebugMessageCapacity = 4096;

int DebugInit(const char* logName, uint32_t flags);
int DebugRemove();
uint32_t DebugGetFlags();

int LockEnter();
int LockLeave();

// A pointer check is SetReportLocation at once followed by CheckPointer; the
// lock is held from the first call to the end of the second.
int SetReportLocation(const char* module, int line);
int CheckPointer(const void* pointer);

[[noreturn]] void FatalAbort(const char* format, ...) __attribute__((format(printf, 1, 2)));
int AssertCheck(int condition, const char* format, ...) __attribute__((format(printf, 2, 3)));

int DebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
int DebugSection(const char* title);

// The command-line argument with the given index (0 is the program), or
// nullptr. The copy ends at a control byte, a closing quote or an unquoted
// blank, and is cut to fit targetCapacity bytes with its terminator.
const char* FindCommandArg(const char* text, int index);
int GetCommandArg(const char* text, int index, char* target, int targetCapacity);

double TickSeconds();

// Minutes from 31 December 1969 00:00 to the given local time; each calendar
// value is taken as an unsigned byte. Month 0 to 11, year since 1900.
int DateToMinutes(int32_t* minutes, int hour, int minute, int month, int day, int yearsSince1900);

// Checks a pointer argument on behalf of `module` at the caller's line. A
// pointer that is set passes without taking the lock: nothing can observe the
// location of a check that passed, and the checks sit on the search's hot paths.
#define CORV_CHECK_POINTER(module, pointer) \
    ((pointer) != nullptr ? 1 : (SetReportLocation((module), __LINE__), CheckPointer(pointer)))

// ---- Tracked memory ----------------------------------------------------------

constexpr int32_t MemLimitMaximum = 0x0FFFFFFF;

struct MemStats {
    int32_t limit;
    int32_t liveCount;
    int32_t bytesInUse;
    int32_t peakCount;
    int32_t peakBytes;
};

int MemInit(int32_t limit, int32_t quickMemorySize);
int MemRemove();
// A zero-filled block of at least size bytes; never nullptr (failures are fatal).
void* MemAlloc(int32_t size, const char* module, int line);
// Releases the block held by *pointerVariable (allocated with the same size)
// and sets the variable to nullptr.
int MemFree(void** pointerVariable, int32_t size, const char* module, int line);
MemStats MemGetStats();

template <typename T>
T* MemAllocArray(int32_t count, const char* module, int line)
{
    return static_cast<T*>(MemAlloc(count * static_cast<int32_t>(sizeof(T)), module, line));
}

template <typename T>
int MemFree(T** pointerVariable, int32_t size, const char* module, int line)
{
    void* block = *pointerVariable;
    int result = MemFree(&block, size, module, line);
    *pointerVariable = static_cast<T*>(block);
    return result;
}

// ---- Quick memory ------------------------------------------------------------

int QuickMemInit(int32_t size);
int QuickMemNewFrame();
int QuickMemRemove();
int QuickMemReport();
