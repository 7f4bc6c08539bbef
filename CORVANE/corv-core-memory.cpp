// corv-core: tracked memory (guard bytes, zero fill, a global limit, counters
// and a leak report) and quick memory (a disabled-by-default arena).
#include "corv-core.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* const CoreModule = "corv-core";
constexpr unsigned char GuardByte = 0xCC;
constexpr int GuardSize = 4;
// The user area sits this far into the system block, so that it is aligned
// for any type; the front guard occupies the 4 bytes just before it.
constexpr size_t UserAreaOffset = 16;

MemStats stats;

struct QuickMemArena {
    char* base;
    int32_t size;
    char* top;
    char* end;
    int32_t largestFrame;
    char* highMark;
};
QuickMemArena quick;

// Block size (guards and slack included), or -1 beyond the signed 32-bit range.
int64_t BlockSizeFor(int32_t size)
{
    int64_t block = (static_cast<int64_t>(size) + 2 * GuardSize + 3) & ~static_cast<int64_t>(3);
    return block > INT32_MAX ? -1 : block;
}

[[noreturn]] void AbortAt(const char* module, int line, const char* format, int32_t a, int32_t b = 0,
                          int32_t c = 0)
{
    SetReportLocation(module, line);
    FatalAbort(format, a, b, c);
}

}  // namespace

MemStats MemGetStats()
{
    LockEnter();
    MemStats copy = stats;
    LockLeave();
    return copy;
}

void* MemAlloc(int32_t size, const char* module, int line)
{
    LockEnter();
    if (size <= 0) AbortAt(module, line, "Invalid Memory Size (%d)\n", size);
    int64_t block = BlockSizeFor(size);
    if (block < 0 || stats.bytesInUse + block > stats.limit)
        AbortAt(module, line, "Memory exceeds limit ((%d + %d) / %d)\n", stats.bytesInUse,
                static_cast<int32_t>(block < 0 ? INT32_MAX : block), stats.limit);
    // calloc, not malloc and a fill: memory fresh from the system is zero
    // already, and pages of a large buffer (the room that folding might
    // need) that are never written are then never touched.
    char* system = static_cast<char*>(calloc(1, UserAreaOffset - GuardSize + static_cast<size_t>(block)));
    if (!system)
        AbortAt(module, line, "No Memory available (%d / %d)\n", size, static_cast<int32_t>(block));
    stats.liveCount += 1;
    stats.bytesInUse += static_cast<int32_t>(block);
    if (stats.peakCount < stats.liveCount) stats.peakCount = stats.liveCount;
    if (stats.peakBytes < stats.bytesInUse) stats.peakBytes = stats.bytesInUse;
    char* user = system + UserAreaOffset;
    memset(user - GuardSize, GuardByte, GuardSize);
    memset(user + block - 2 * GuardSize, GuardByte, GuardSize);
    LockLeave();
    return user;
}

int MemFree(void** pointerVariable, int32_t size, const char* module, int line)
{
    CORV_CHECK_POINTER(module, pointerVariable);
    LockEnter();
    if (size <= 0) AbortAt(module, line, "Invalid Memory Size (%d)\n", size);
    int64_t block = BlockSizeFor(size);
    int32_t reportedBlock = static_cast<int32_t>(block < 0 ? INT32_MAX : block);
    if (*pointerVariable == nullptr || block < 0)
        AbortAt(module, line, "No Memory address to free (%d / %d)\n", size, reportedBlock);
    unsigned char* user = static_cast<unsigned char*>(*pointerVariable);
    for (int i = 0; i < GuardSize; ++i)
        if (user[i - GuardSize] != GuardByte) AbortAt(module, line, "Memory corrupt before (%d)\n", size);
    unsigned char* back = user + block - 2 * GuardSize;
    for (int i = 0; i < GuardSize; ++i)
        if (back[i] != GuardByte) AbortAt(module, line, "Memory corrupt after (%d)\n", size);
    stats.liveCount -= 1;
    stats.bytesInUse -= static_cast<int32_t>(block);
    free(user - UserAreaOffset);
    *pointerVariable = nullptr;
    LockLeave();
    return 1;
}

int MemInit(int32_t limit, int32_t quickMemorySize)
{
    bool verbose = DebugGetFlags() & DebugVerbose;
    if (verbose) DebugSection("Memory Init");
    LockEnter();
    stats = MemStats{limit, 0, 0, 0, 0};
    LockLeave();
    QuickMemInit(quickMemorySize);
    if (verbose) {
        if (limit == MemLimitMaximum)
            DebugPrint("Memory Initialized (Maximum)\n");
        else
            DebugPrint("Memory Initialized (limit %dk)\n", limit / 1024);
        DebugSection(nullptr);
    }
    return 1;
}

int MemRemove()
{
    bool verbose = DebugGetFlags() & DebugVerbose;
    if (verbose) DebugSection("Memory Remove");
    QuickMemRemove();
    MemStats now = MemGetStats();
    if (verbose) DebugPrint("Maximum Memory in use (%d / %dk)\n", now.peakCount, now.peakBytes / 1024);
    if (now.bytesInUse != 0) {
        if (now.bytesInUse < 1024)
            DebugPrint("Not all memory was free'd (%d / %db)\n", now.liveCount, now.bytesInUse);
        else
            DebugPrint("Not all memory was free'd (%d / %dk)\n", now.liveCount, now.bytesInUse / 1024);
    }
    if (verbose) DebugSection(nullptr);
    return 1;
}

int QuickMemInit(int32_t size)
{
    quick = QuickMemArena{};
    quick.size = size;
    if (size == MemLimitMaximum) {
        SetReportLocation(CoreModule, __LINE__);
        FatalAbort("Quickmemory size is invalid!\n");
    }
    quick.base = size == 0 ? nullptr : static_cast<char*>(MemAlloc(size, CoreModule, __LINE__));
    quick.top = quick.base;
    quick.highMark = quick.base;
    QuickMemNewFrame();
    if (DebugGetFlags() & DebugVerbose) {
        if (size == 0)
            DebugPrint("Quickmemory Initialized (Disabled)\n");
        else
            DebugPrint("Quickmemory Initialized (%dk)\n", size / 1024);
    }
    return 1;
}

int QuickMemNewFrame()
{
    LockEnter();
    int32_t inUse = static_cast<int32_t>(quick.top - quick.base);
    if (inUse > quick.largestFrame) quick.largestFrame = inUse;
    quick.top = quick.base;
    quick.end = quick.base ? quick.base + quick.size : nullptr;
    LockLeave();
    return 1;
}

int QuickMemRemove()
{
    quick.top = quick.base;
    if (DebugGetFlags() & DebugVerbose) QuickMemReport();
    if (quick.size > 0 && quick.base) MemFree(&quick.base, quick.size, CoreModule, __LINE__);
    return 1;
}

int QuickMemReport()
{
    if (!quick.base) return 1;
    DebugPrint("Quick Memory size was set to (%dk)\n", quick.size / 1024);
    DebugPrint("Maximum Quick Memory in use (%dk)  Largest Frame (%dk)\n",
               static_cast<int32_t>(quick.highMark - quick.base) / 1024, quick.largestFrame / 1024);
    return 1;
}
