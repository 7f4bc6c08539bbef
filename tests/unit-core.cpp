// Support library core: command-line arguments, fatal reports, the debug-log
// file, tracked and quick memory, and the query log's minute stamp.
//
// DebugInit fixes the debug flags for the rest of a process, and the memory
// limit is process-wide too, so everything that sets either runs in a child
// process (a death test). Children leave their findings in files of a folder
// the parent made, or in their standard error, which the parent matches.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cgi.h"
#include "corv-core.h"
#include "platform.h"
#include "test-support.h"

using testing::ExitedWithCode;
using testing_support::Exactly;
using testing_support::FileExists;
using testing_support::MakeFolders;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

namespace {

// What an operator reads on standard error for a fatal report.
std::string FatalText(const std::string& prefix, const std::string& message, const std::string& module,
                      int line)
{
    return "Internal error...\n" + prefix + message + "       (" + module + "/" + std::to_string(line) + ")\n";
}

std::string Banner(const std::string& title)
{
    std::string banner = "\n====[" + title + "]";
    return banner + std::string(80 - banner.size(), '=') + "\n";
}

const std::string Closing = std::string(79, '=') + "\n";

// Runs `body` in a child that must end with exit code 0.
#define EXPECT_IN_CHILD(body) EXPECT_EXIT(((body)(), exit(0)), ExitedWithCode(0), "")

// ---- Command-line arguments ---------------------------------------------------

struct ArgumentRow {
    const char* line;
    int index;
    int offset;  // of FindCommandArg's position, -1 for absent
    int result;
    const char* argument;
};

TEST(CommandArguments, FindAndCopy)
{
    const ArgumentRow rows[] = {
        {"prog.exe -x", 0, 0, 1, "prog.exe"},
        {"prog.exe -x", 1, 9, 1, "-x"},
        {"prog.exe -x", 2, -1, 0, ""},
        {"", 0, 0, 0, ""},
        {"   \t  ", 0, 6, 0, ""},
        {"  lead", 0, 2, 1, "lead"},
        {"one   two\t\t three", 2, 12, 1, "three"},
        {"one   two\t\t three", 3, -1, 0, ""},
        {"one two   ", 2, -1, 0, ""},
        {"a\x01" "b", 1, 2, 1, "b"},
        {"x\xC9y z", 0, 0, 1, "x\xC9y"},
        {"\"\" next", 0, 0, 1, ""},
        {"\"\" next", 1, 3, 1, "next"},
        {"\"C:\\My Folder\\prog.exe\" -x", 0, 0, 1, "C:\\My Folder\\prog.exe"},
        {"\"C:\\My Folder\\prog.exe\" -x", 1, 24, 1, "-x"},
        // The closing quote ends the copy; the e is not taken.
        {"ab\"c d\"e f", 0, 0, 1, "abc d"},
        {"ab\"c d\"e f", 1, 9, 1, "f"},
        // A quoted tab belongs to the argument but ends its copy.
        {"\"a\tb\" c", 0, 0, 1, "a"},
        {"\"a\tb\" c", 1, 6, 1, "c"},
    };
    for (const ArgumentRow& row : rows) {
        SCOPED_TRACE(testing::Message() << "line [" << row.line << "] index " << row.index);
        const char* at = FindCommandArg(row.line, row.index);
        EXPECT_EQ(at ? at - row.line : -1, row.offset);
        char target[64];
        memset(target, 'Z', sizeof target);
        EXPECT_EQ(GetCommandArg(row.line, row.index, target, sizeof target), row.result);
        EXPECT_STREQ(target, row.argument);
    }
}

TEST(CommandArguments, CopyIsCutToTheTarget)
{
    char target[4];
    EXPECT_EQ(GetCommandArg("abcdef x", 0, target, sizeof target), 1);
    EXPECT_STREQ(target, "abc");
}

// ---- Fatal reports --------------------------------------------------------------

struct FatalRow {
    const char* name;
    void (*action)();
    std::string report;  // standard error, as a pattern
};

// "\n\nABORT: " (9) + message + "       (m/7)\n" (13) = 4096 characters.
const std::string Message4074(4074, 'x');
const std::string Message4075(4075, 'x');

TEST(FatalReports, ComposedTextOnStandardError)
{
    std::string cut = FatalText("ABORT: ", Message4075, "m", 7);
    cut.pop_back();  // the 4097th character, the location's line end
    const FatalRow rows[] = {
        {"abort", [] { SetReportLocation("winmain", 77); FatalAbort("Config %s (%d)\n", "x", 5); },
         Exactly(FatalText("ABORT: ", "Config x (5)\n", "winmain", 77))},
        {"null pointer", [] { SetReportLocation("cgi", 654); CheckPointer(nullptr); },
         Exactly(FatalText("ASSERT:", "Pointer is NULL...\n", "cgi", 654))},
        {"assertion", [] { SetReportLocation("srchexpr", 4); AssertCheck(0, "bad count %d\n", 201); },
         Exactly(FatalText("ASSERT:", "bad count 201\n", "srchexpr", 4))},
        {"no program path", [] { PlatSetCommandLine(" "); DebugInit("debug.log", 0); },
         "^Internal error\\.\\.\\.\nABORT: No starting path was specified on commandline!\n"
         "       \\(corv-core/[0-9]+\\)\n$"},
        {"4096 characters", [] { SetReportLocation("m", 7); FatalAbort("%s", Message4074.c_str()); },
         Exactly(FatalText("ABORT: ", Message4074, "m", 7))},
        {"4097 characters", [] { SetReportLocation("m", 7); FatalAbort("%s", Message4075.c_str()); },
         Exactly(cut + FatalText("ABORT: ", "Last string too large (4097 > 4096)\n", "Unknown", 0))},
    };
    for (const FatalRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EXIT(row.action(), ExitedWithCode(1), row.report);
    }
    SetReportLocation("srchexpr", 3);
    EXPECT_EQ(AssertCheck(7, "never %d\n", 1), 1);
}

TEST(FatalReports, BufferedOutputIsFlushedBeforeTheEnd)
{
    TempFolder folder;
    const std::string page = folder.path() + "/page";
    auto child = [&] {
        if (!freopen(page.c_str(), "w", stdout)) exit(2);
        CgiPrint("Content-Type: text/html\n\npartial");
        SetReportLocation("filesrch", 12);
        FatalAbort("stop\n");
    };
    EXPECT_EXIT(child(), ExitedWithCode(1), Exactly(FatalText("ABORT: ", "stop\n", "filesrch", 12)));
    EXPECT_EQ(ReadFile(page), "Content-Type: text/html\n\npartial");
}

TEST(FatalReports, NoMessageBoxStillWritesTheLog)
{
    TempFolder folder;
    auto child = [&] {
        PlatSetCommandLine((folder.path() + "/prog.exe").c_str());
        DebugInit("debug.log", DebugLogFile | DebugNoMessageBox);
        SetReportLocation("fastsrch", 40);
        FatalAbort("gone\n");
    };
    EXPECT_EXIT(child(), ExitedWithCode(1), "^$");
    EXPECT_EQ(ReadFile(folder.path() + "/debug.log"), "\n\nABORT: gone\n       (fastsrch/40)\n");
}

// ---- Debug-log file ---------------------------------------------------------------

TEST(DebugLog, BannersAndLinesGoToTheLogBesideTheProgram)
{
    TempFolder folder;
    const std::string programFolder = folder.path() + "/cgi bin";
    MakeFolders(programFolder);
    const std::string longTitle(100, 't');
    auto child = [&] {
        PlatSetCommandLine(("\"" + programFolder + "/prog.exe\" -x").c_str());
        DebugInit("trace.log", DebugLogFile | DebugVerbose);
        DebugSection("Memory Init");
        DebugPrint("count %d of %s\n", 5, "words");
        DebugSection(nullptr);
        DebugSection(longTitle.c_str());
    };
    EXPECT_IN_CHILD(child);
    const std::string cutBanner = ("\n====[" + longTitle).substr(0, 80) + "\n";
    EXPECT_EQ(ReadFile(programFolder + "/trace.log"),
              "Corvane v0.31\n" + Banner("Memory Init") + "count 5 of words\n" + Closing + cutBanner);
}

struct LogStartRow {
    const char* logName;
    uint32_t flags;
    bool existing;          // a debug.log with "old\n" is there before
    const char* expected;   // debug.log afterwards, nullptr when it must not exist
};

TEST(DebugLog, NameFlagsAndAppend)
{
    const LogStartRow rows[] = {
        {"debug.log", DebugLogFile | DebugVerbose, true, "Corvane v0.31\nline\n"},
        {"debug.log", DebugLogFile | DebugVerbose | DebugAppend, true, "old\nCorvane v0.31\nline\n"},
        {"debug.log", DebugLogFile, true, "line\n"},
        {"", DebugLogFile, false, "line\n"},
        {"x", DebugLogFile, false, "line\n"},
        {"debug.log", 0, false, nullptr},
        {"debug.log", 0, true, "old\n"},
        {"debug.log", DebugVerbose, true, "old\n"},
    };
    for (const LogStartRow& row : rows) {
        SCOPED_TRACE(testing::Message() << "name [" << row.logName << "] flags " << row.flags);
        TempFolder folder;
        const std::string log = folder.path() + "/debug.log";
        if (row.existing) WriteFile(log, "old\n");
        auto child = [&] {
            PlatSetCommandLine((folder.path() + "/prog.exe").c_str());
            DebugInit(row.logName, row.flags);
            DebugPrint("line\n");
            DebugSection(nullptr);
        };
        EXPECT_IN_CHILD(child);
        if (!row.expected) {
            EXPECT_FALSE(FileExists(log));
            continue;
        }
        std::string expected = row.expected;
        if (row.flags & DebugLogFile) expected += Closing;
        EXPECT_EQ(ReadFile(log), expected);
    }
}

// ---- Tracked memory ---------------------------------------------------------------

class TrackedMemory : public testing::Test {
protected:
    void SetUp() override { MemInit(MemLimitMaximum, 0); }
};

TEST_F(TrackedMemory, BlocksAreGuardedZeroFilledAndCounted)
{
    struct Row {
        int32_t size;
        int32_t block;
    };
    const Row rows[] = {{1, 12}, {4, 12}, {5, 16}, {8, 16}, {9, 20}, {1000, 1008}, {300000, 300008}};
    const MemStats before = MemGetStats();
    std::vector<unsigned char*> blocks;
    int32_t total = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        auto* user = static_cast<unsigned char*>(MemAlloc(row.size, "winmain", 1));
        blocks.push_back(user);
        total += row.block;
        const int area = row.block - 8;
        for (int i = 0; i < area; ++i) ASSERT_EQ(user[i], 0) << "at " << i;
        for (int i = 1; i <= 4; ++i) EXPECT_EQ(user[-i], 0xCC);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(user[area + i], 0xCC);
        memset(user, 0x55, static_cast<size_t>(area));  // the slack may be written
        MemStats now = MemGetStats();
        EXPECT_EQ(now.bytesInUse - before.bytesInUse, total);
        EXPECT_EQ(now.liveCount - before.liveCount, static_cast<int32_t>(blocks.size()));
    }
    MemStats full = MemGetStats();
    for (size_t i = 0; i < blocks.size(); ++i) {
        void* block = blocks[i];
        EXPECT_EQ(MemFree(&block, rows[i].size, "winmain", 2), 1);
        EXPECT_EQ(block, nullptr);
    }
    MemStats after = MemGetStats();
    EXPECT_EQ(after.liveCount, before.liveCount);
    EXPECT_EQ(after.bytesInUse, before.bytesInUse);
    EXPECT_EQ(after.peakCount, full.liveCount);
    EXPECT_EQ(after.peakBytes, full.bytesInUse);
    // Blocks again where written ones were freed are zero-filled too.
    for (const Row& row : rows) {
        auto* user = static_cast<unsigned char*>(MemAlloc(row.size, "winmain", 1));
        for (int i = 0; i < row.block - 8; ++i) ASSERT_EQ(user[i], 0) << row.size << " at " << i;
        void* again = user;
        MemFree(&again, row.size, "winmain", 2);
    }
    void* block = MemAlloc(5, "winmain", 1);
    EXPECT_EQ(MemFree(&block, 8, "winmain", 2), 1);  // the same block size
}

// A block of `size` bytes under the largest limit.
unsigned char* Block(int32_t size)
{
    MemInit(MemLimitMaximum, 0);
    return static_cast<unsigned char*>(MemAlloc(size, "winmain", 1));
}

void Release(void* block, int32_t size) { MemFree(&block, size, "filesrch", 9); }

TEST(TrackedMemoryDeath, FailuresAreReportedAtTheCaller)
{
    const FatalRow rows[] = {
        // Block 100 is exactly the limit; the next one is not.
        {"limit", [] { MemInit(100, 0); MemAlloc(92, "winmain", 1); MemAlloc(1, "filesrch", 9); },
         "Memory exceeds limit ((100 + 12) / 100)\n"},
        // Damaged on both sides: the front guard is verified first.
        {"front guard", [] { auto* b = Block(8); b[-1] = 0; b[8] = 0; Release(b, 8); }, "Memory corrupt before (8)\n"},
        {"first byte after the slack", [] { auto* b = Block(5); b[8] = 1; Release(b, 5); }, "Memory corrupt after (5)\n"},
        {"smaller size", [] { Release(Block(16), 4); }, "Memory corrupt after (4)\n"},
        {"double free", [] { void* b = Block(8); MemFree(&b, 8, "winmain", 2); Release(b, 8); },
         "No Memory address to free (8 / 16)\n"},
        {"zero size", [] { MemInit(MemLimitMaximum, 0); MemAlloc(0, "filesrch", 9); }, "Invalid Memory Size (0)\n"},
        {"negative free", [] { Release(Block(4), -4); }, "Invalid Memory Size (-4)\n"},
    };
    for (const FatalRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EXIT(row.action(), ExitedWithCode(1), Exactly(FatalText("ABORT: ", row.report, "filesrch", 9)));
    }
}

// Sizes whose block size leaves the signed 32-bit range must be refused
// before they reach the allocator, even under the largest limit.
TEST(TrackedMemoryDeath, SizesNearTheTopOfTheRangeAreRefused)
{
    for (int32_t size : {INT32_MAX, INT32_MAX - 3, INT32_MAX - 10}) {
        SCOPED_TRACE(size);
        auto child = [size] {
            MemInit(INT32_MAX, 0);
            MemAlloc(size, "filesrch", 9);
        };
        EXPECT_EXIT(child(), ExitedWithCode(1),
                    "^Internal error\\.\\.\\.\nABORT: (Memory exceeds limit|No Memory available) "
                    "\\([-0-9 +/()]*\\)\n       \\(filesrch/9\\)\n$");
    }
}

// ---- Statistics, leak report and quick memory in the debug log -------------------

// Keeps a deliberately leaked block reachable for the leak checker.
void* leakedBlock;

struct MemoryLogRow {
    const char* name;
    uint32_t flags;
    int32_t limit;
    int32_t quickSize;
    int32_t leaked;  // size of one block left live at MemRemove, 0 for none
    std::string expected;
};

TEST(MemoryLog, StatisticsAndLeakReport)
{
    const std::string start = "Corvane v0.31\n" + Banner("Memory Init");
    const MemoryLogRow rows[] = {
        {"one small leak", DebugLogFile | DebugVerbose, MemLimitMaximum, 0, 1,
         start + "Quickmemory Initialized (Disabled)\nMemory Initialized (Maximum)\n" + Closing +
             "live 1 / 12\n" + Banner("Memory Remove") +
             "Maximum Memory in use (1 / 0k)\nNot all memory was free'd (1 / 12b)\n" + Closing},
        {"kilobyte leak", DebugLogFile | DebugVerbose, 65536, 0, 1016,
         start + "Quickmemory Initialized (Disabled)\nMemory Initialized (limit 64k)\n" + Closing +
             "live 1 / 1024\n" + Banner("Memory Remove") +
             "Maximum Memory in use (1 / 1k)\nNot all memory was free'd (1 / 1k)\n" + Closing},
        {"leak without verbose", DebugLogFile, MemLimitMaximum, 0, 1,
         "live 1 / 12\nNot all memory was free'd (1 / 12b)\n"},
        {"quick memory", DebugLogFile | DebugVerbose, MemLimitMaximum, 65536, 0,
         start + "Quickmemory Initialized (64k)\nMemory Initialized (Maximum)\n" + Closing +
             "live 1 / 65544\n" + Banner("Memory Remove") +
             "Quick Memory size was set to (64k)\n"
             "Maximum Quick Memory in use (0k)  Largest Frame (0k)\n"
             "Maximum Memory in use (1 / 64k)\n" +
             Closing},
    };
    for (const MemoryLogRow& row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder folder;
        auto child = [&] {
            PlatSetCommandLine((folder.path() + "/prog.exe").c_str());
            DebugInit("debug.log", row.flags);
            MemInit(row.limit, row.quickSize);
            if (row.leaked) leakedBlock = MemAlloc(row.leaked, "winmain", 1);
            MemStats now = MemGetStats();
            DebugPrint("live %d / %d\n", now.liveCount, now.bytesInUse);
            MemRemove();
            DebugRemove();
        };
        EXPECT_IN_CHILD(child);
        EXPECT_EQ(ReadFile(folder.path() + "/debug.log"), row.expected);
    }
}

TEST(QuickMemoryDeath, InvalidSizes)
{
    EXPECT_EXIT(MemInit(MemLimitMaximum, MemLimitMaximum), ExitedWithCode(1),
                "^Internal error\\.\\.\\.\nABORT: Quickmemory size is invalid!\n       \\(corv-core/[0-9]+\\)\n$");
    EXPECT_EXIT(MemInit(MemLimitMaximum, -5), ExitedWithCode(1),
                "^Internal error\\.\\.\\.\nABORT: Invalid Memory Size \\(-5\\)\n       \\(corv-core/[0-9]+\\)\n$");
}

// ---- Minute stamp -------------------------------------------------------------------

TEST(MinuteStamp, KnownDates)
{
    struct Row {
        int hour, minute, month, day, year;
        uint32_t stamp;
    };
    const Row rows[] = {
        {0, 0, 0, 1, 70, 1440},
        {23, 59, 11, 31, 99, 0x00F0C6BF},
        {12, 0, 1, 29, 100, 0x00F21570},
        {0, 0, 2, 1, 100, 0x00F21840},
        {23, 16, 11, 7, 126, 0x01C8F154},
    };
    for (const Row& row : rows) {
        int32_t stamp = -1;
        EXPECT_EQ(DateToMinutes(&stamp, row.hour, row.minute, row.month, row.day, row.year), 1);
        EXPECT_EQ(static_cast<uint32_t>(stamp), row.stamp) << row.day << "." << row.month << "." << row.year;
    }
}

// Every day from 1970 to 2099 against the calendar of the C library.
TEST(MinuteStamp, AgreesWithTheCalendarThrough2099)
{
    for (int year = 70; year <= 199; ++year) {
        for (int yearDay = 0; yearDay < 366; ++yearDay) {
            tm date{};
            date.tm_year = year;
            date.tm_mday = 1 + yearDay;
            date.tm_hour = yearDay % 24;
            date.tm_min = (yearDay * 7) % 60;
            time_t seconds = timegm(&date);  // normalises month and day
            if (date.tm_year != year) break;
            int32_t stamp = 0;
            DateToMinutes(&stamp, date.tm_hour, date.tm_min, date.tm_mon, date.tm_mday, date.tm_year);
            ASSERT_EQ(stamp, seconds / 60 + 1440) << 1900 + year << " day " << yearDay;
        }
    }
}

}  // namespace
