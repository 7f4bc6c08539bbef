// Failures that no file can be made to cause on demand: a read or a move
// that fails half-way through a document, a document or folder that cannot
// be opened for lack of descriptors, an append that comes up short on a full
// disk or cannot take its lock, a page that cannot be written. The
// platform's system calls are replaced for the length of a test, and the
// whole request runs in this process.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <dirent.h>
#include <sys/resource.h>

#include "platform.h"
#include "test-support.h"
#include "winmain.h"

using namespace testing_support;

namespace {

constexpr intptr_t StandardOutput = 1;

// What the replaced calls do: the n-th read of one document, or the n-th
// write to the page or the query log (counted from 1), fails or passes only
// some of its bytes; every later write there fails too, as on a full disk,
// and every later move of the document, from the n-th on. A document or a folder may not open at all, and the log's lock may
// not be taken.
struct FaultPlan {
    std::string document;        // the file whose reads and moves are counted, by its name's end
    long readChunk = 0;          // > 0: its reads deliver at most this many bytes
    int failingRead = 0;
    int failingSeek = 0;
    intptr_t documentOpens = 0;  // PlatNoFile or PlatNoResources: it does not open
    std::string folder;          // a folder that cannot be listed, by its path's end
    PlatFailure folderFailure = PlatFailureNone;
    bool onPage = false;         // writes counted: the page's, or else the log's
    int failingWrite = 0;
    long writtenBeforeFailing = 0;
    bool lockRefused = false;    // the log's append lock
    bool slowOpens = false;      // each document opened is held a little longer

    intptr_t logHandle = -1;     // the walking thread alone opens and writes the log and the page
    int writes = 0;
    std::string page;            // what reached standard output
};
FaultPlan plan;

// What the scanning threads note of the document, each thread opening, reading
// and moving its own documents at the same time as the others.
struct DocumentSeen {
    std::atomic<intptr_t> handle{-1};
    std::atomic<int> reads{0}, seeks{0};
};
DocumentSeen seen;
const PlatFileCalls* systemCalls = nullptr;

bool EndsWith(const std::string& text, const std::string& end)
{
    return !end.empty() && text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

intptr_t PlannedOpen(const char* path, PlatOpenMode mode)
{
    if (plan.documentOpens != 0 && EndsWith(path, plan.document)) return plan.documentOpens;
    intptr_t handle = systemCalls->open(path, mode);
    if (plan.slowOpens && mode == PlatReadText) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (EndsWith(path, plan.document)) seen.handle = handle;
    if (mode == PlatAppend) plan.logHandle = handle;
    return handle;
}

long PlannedRead(intptr_t handle, void* target, long count)
{
    if (handle != seen.handle) return systemCalls->read(handle, target, count);
    if (++seen.reads == plan.failingRead) return -1;
    return systemCalls->read(handle, target, plan.readChunk > 0 && count > plan.readChunk ? plan.readChunk : count);
}

long PlannedWrite(intptr_t handle, const void* source, long count)
{
    const bool counted = handle == (plan.onPage ? StandardOutput : plan.logHandle);
    if (counted && plan.failingWrite > 0 && ++plan.writes >= plan.failingWrite) {
        if (plan.writes > plan.failingWrite || plan.writtenBeforeFailing == 0) return -1;
        count = plan.writtenBeforeFailing < count ? plan.writtenBeforeFailing : count;
    }
    if (handle != StandardOutput) return systemCalls->write(handle, source, count);
    plan.page.append(static_cast<const char*>(source), static_cast<size_t>(count));
    return count;
}

int PlannedSeek(intptr_t handle, int64_t offset)
{
    if (handle == seen.handle && plan.failingSeek > 0 && ++seen.seeks >= plan.failingSeek) return 0;
    return systemCalls->seek(handle, offset);
}

int PlannedLock(intptr_t handle) { return plan.lockRefused ? 0 : systemCalls->lockAppends(handle); }

PlatFailure PlannedList(const char* path, PlatFolderListing* listing)
{
    if (!plan.folder.empty() && EndsWith(path, plan.folder)) return plan.folderFailure;
    return systemCalls->listFolder(path, listing);
}

// The system's own calls but those the plan may make fail.
PlatFileCalls PlannedCalls(const PlatFileCalls& system)
{
    PlatFileCalls calls = system;
    calls.open = PlannedOpen;
    calls.read = PlannedRead;
    calls.write = PlannedWrite;
    calls.seek = PlannedSeek;
    calls.lockAppends = PlannedLock;
    calls.listFolder = PlannedList;
    return calls;
}

class Failures : public ::testing::Test {
protected:
    void SetUp() override
    {
        plan = FaultPlan{};
        systemCalls = PlatFileCallsInUse();
        plannedCalls_ = PlannedCalls(*systemCalls);
        PlatUseFileCalls(&plannedCalls_);
        FurnishSite(site_);
        PutDocument(site_, "a.htm", "<P>cat " + std::string(100, '.') + " dog</P>\n");
        PutDocument(site_, "b.htm", "<P>dog</P>\n");
    }
    void TearDown() override { PlatUseFileCalls(nullptr); }

    // The whole request in this process, as a web server would start it; the
    // page it wrote, with the walk's time masked.
    std::string Request(const std::string& query, const FaultPlan& faults)
    {
        plan = faults;
        seen.handle = -1;
        seen.reads = seen.seeks = 0;
        setenv("QUERY_STRING", query.c_str(), 1);
        setenv("REMOTE_ADDR", "10.0.0.1", 1);
        unsetenv("CONTENT_LENGTH");
        std::string program = site_.program();
        char* argv[] = {program.data(), nullptr};
        EXPECT_EQ(RunProgram(1, argv), 0);
        return MaskSearchTime(plan.page);
    }

    TestSite site_;
    PlatFileCalls plannedCalls_{};
};

}  // namespace

// The page tells how many files and folders exist but could not be searched,
// right after the summary line; they are not among the files searched.
std::string WithUnableToSearch(std::string page, int count)
{
    const std::string summary = "...<BR><BR>";
    const size_t at = page.find(summary);
    return page.insert(at + summary.size(), "<!-- Unable to search " + std::to_string(count) + " files -->\n");
}

TEST_F(Failures, ADocumentWhoseReadFailsIsNotSearched)
{
    FaultPlan faults;
    faults.document = "a.htm";
    faults.readChunk = 50;
    faults.failingRead = 2;  // the first 50 bytes hold "cat", " dog" is lost
    EXPECT_EQ(Request("Search=cat+dog", faults),
              WithUnableToSearch(ResultsPage({{"b.htm", "Untitled", "50%", "1.00", "11 bytes"}}, 1), 1));
}

// A document or folder that exists but cannot be opened for lack of
// descriptors is told; one that went, or that permission refuses, is not.
TEST_F(Failures, WhatCannotBeOpenedForLackOfResourcesIsTold)
{
    PutDocument(site_, "deep/c.htm", "<P>dog dog</P>\n");
    const std::string b = "b.htm";
    struct Row {
        std::string document;
        intptr_t opens;
        std::string folder;
        PlatFailure listing;
        int unable;
    } rows[] = {
        {"a.htm", PlatNoResources, "", PlatFailureNone, 1},
        {"a.htm", PlatNoFile, "", PlatFailureNone, 0},
        {"", 0, "/deep/", PlatFailureResources, 1},
        {"", 0, "/deep/", PlatFailureMissing, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.document + row.folder);
        FaultPlan faults;
        faults.document = row.document;
        faults.documentOpens = row.opens;
        faults.folder = row.folder;
        faults.folderFailure = row.listing;
        std::vector<ShownResult> shown;
        if (row.folder.empty()) shown.push_back({"deep/c.htm", "Untitled", "50%", "2.00", "15 bytes"});
        shown.push_back({"b.htm", "Untitled", "50%", "1.00", "11 bytes"});
        const std::string page = ResultsPage(shown, 2);
        EXPECT_EQ(Request("Search=dog+-cat", faults), row.unable ? WithUnableToSearch(page, row.unable) : page);
    }
}

// A move that fails ends the reading of a document where it is: it is
// scored, and its excerpt made, from what was read. Its only hit lies past
// what the text-only filter looks at first, and past the start that an
// excerpt reads before it moves to the hits the scan recorded.
TEST_F(Failures, AFailedMoveEndsADocumentWhereItIs)
{
    std::string filler;
    for (int i = 0; i < 20000; ++i) filler += "x ";
    PutDocument(site_, "a.htm", "<P>" + filler + "dog</P>\n");
    site_.Data("body.htm", "<LI>&Search.URL; &Search.Percent; [&Search.Excerpt;]\n");
    for (const bool textOnly : {false, true}) {
        site_.Config(std::string(DefaultConfig) + (textOnly ? "TEXTONLY yes\n" : ""));
        for (const int failingSeek : {0, 1}) {
            SCOPED_TRACE(std::to_string(textOnly) + std::to_string(failingSeek));
            FaultPlan faults;
            faults.document = "a.htm";
            faults.failingSeek = failingSeek;
            const std::string page = Request("Search=dog", faults);
            const size_t a = page.find("a.htm 100% [");
            // Text only, the move back to read it as text fails: no text, no match.
            EXPECT_EQ(a == std::string::npos, textOnly && failingSeek);
            if (a == std::string::npos) continue;
            // The move to the recorded hit fails: the excerpt is the start's.
            const std::string excerpt = page.substr(a, page.find(']', a) - a);
            EXPECT_EQ(excerpt.find("<MARK>dog</MARK>") != std::string::npos, !failingSeek) << excerpt;
            EXPECT_EQ(excerpt.find("[x x x") != std::string::npos, failingSeek != 0) << excerpt;
        }
    }
    // Folded, a soft hyphen (which folds to nothing) sends the scan of the
    // stored bytes back to the start to fold them: when that move fails, the
    // document is not searched, rather than scored from half a reading.
    PutDocument(site_, "a.htm", "<P>do\xC2\xADg " + filler + "dog</P>\n");
    site_.Config(std::string(DefaultConfig) + "CASEFOLD unicode\n");
    for (const int failingSeek : {0, 1}) {
        FaultPlan faults;
        faults.document = "a.htm";
        faults.failingSeek = failingSeek;
        const std::string page = Request("Search=dog", faults);
        EXPECT_EQ(page.find("a.htm 100% [") == std::string::npos, failingSeek != 0) << page;
        EXPECT_EQ(page.find("Unable to search 1 files") != std::string::npos, failingSeek != 0) << page;
    }
}

int OpenDescriptors()
{
    int count = 0;
    DIR* listing = opendir("/proc/self/fd");
    while (listing && readdir(listing)) ++count;
    if (listing) closedir(listing);
    return count - 3;  // ".", ".." and the listing's own
}

// Many threads and room for four more open files: the threads that would
// hold more documents open than that are not started, so no document is
// lost (each open is held a while, so that the threads overlap).
TEST_F(Failures, ManyThreadsWithFewDescriptorsLoseNoDocument)
{
    if (UnderInstrumentation()) GTEST_SKIP() << "a sanitizer or Valgrind holds descriptors of its own";
    for (int i = 0; i < 40; ++i) PutDocument(site_, "many/d" + std::to_string(i) + ".htm", "<P>dog</P>\n");
    site_.Config(std::string(DefaultConfig) + "THREADS 16\n");
    FaultPlan slow;
    slow.slowOpens = true;
    const std::string unlimited = Request("Search=dog", slow);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit few = saved;
    few.rlim_cur = static_cast<rlim_t>(OpenDescriptors() + 4);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0);
    const std::string limited = Request("Search=dog", slow);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(limited, unlimited);
    EXPECT_NE(limited.find("42 files searched"), std::string::npos);
}

// The query log's append lock cannot be taken: the line is not written, and
// the page says so, as for a full disk.
TEST_F(Failures, AnAppendWithoutItsLockIsNotWritten)
{
    const std::string page = Request("Search=cat", FaultPlan{});
    const std::string before = site_.TodaysLog();
    FaultPlan refused;
    refused.lockRefused = true;
    const std::string comment = "<!-- Unable to update log\n -->\n\n";
    EXPECT_EQ(Request("Search=cat", refused), std::string(page).insert(std::string(ContentHeader).size(), comment));
    EXPECT_EQ(site_.TodaysLog(), before);
}
TEST_F(Failures, AShortAppendIsCutOffAndTold)
{
    const std::string page = Request("Search=cat", FaultPlan{});
    const std::string before = site_.TodaysLog();
    FaultPlan full;
    full.failingWrite = 1;
    full.writtenBeforeFailing = 7;
    const std::string comment = "<!-- Unable to update log\n -->\n\n";
    EXPECT_EQ(Request("Search=cat", full), std::string(page).insert(std::string(ContentHeader).size(), comment));
    EXPECT_EQ(site_.TodaysLog(), before);
    EXPECT_EQ(Request("Search=dog", FaultPlan{}).find(comment), std::string::npos);
    const std::string after = site_.TodaysLog();
    EXPECT_EQ(after.compare(0, before.size(), before), 0);
    EXPECT_NE(after.find(") dog\n", before.size()), std::string::npos) << after;
}

TEST_F(Failures, APageThatCannotBeWrittenEndsTheRunAsUsual)
{
    for (long written : {0L, 10L}) {
        SCOPED_TRACE(written);
        const std::string before = site_.TodaysLog();
        FaultPlan gone;
        gone.onPage = true;
        gone.failingWrite = 1;
        gone.writtenBeforeFailing = written;
        EXPECT_EQ(Request("Search=cat", gone), std::string(ContentHeader).substr(0, static_cast<size_t>(written)));
        const std::string after = site_.TodaysLog();
        EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), std::count(before.begin(), before.end(), '\n') + 1);
        EXPECT_EQ(after.back(), '\n');
    }
}
