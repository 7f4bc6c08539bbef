// Failures that no file can be made to cause on demand: a read that fails
// half-way through a document, an append that comes up short on a full disk,
// a page that cannot be written. The platform's file calls are replaced for
// the length of a test, and the whole request runs in this process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform.h"
#include "test-support.h"
#include "winmain.h"

using namespace testing_support;

namespace {

constexpr intptr_t StandardOutput = 1;

// What the replaced calls do: the n-th read of one document, or the n-th
// write to the page or the query log (counted from 1), fails or passes only
// some of its bytes; every later write there fails too, as on a full disk.
struct FaultPlan {
    std::string document;        // the file whose reads are counted, by its name's end
    long readChunk = 0;          // > 0: its reads deliver at most this many bytes
    int failingRead = 0;
    bool onPage = false;         // writes counted: the page's, or else the log's
    int failingWrite = 0;
    long writtenBeforeFailing = 0;

    intptr_t documentHandle = -1, logHandle = -1;
    int reads = 0, writes = 0;
    std::string page;            // what reached standard output
};
FaultPlan plan;
const PlatFileCalls* systemCalls = nullptr;

bool EndsWith(const std::string& text, const std::string& end)
{
    return !end.empty() && text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

intptr_t PlannedOpen(const char* path, PlatOpenMode mode)
{
    intptr_t handle = systemCalls->open(path, mode);
    if (EndsWith(path, plan.document)) plan.documentHandle = handle;
    if (mode == PlatAppend) plan.logHandle = handle;
    return handle;
}

long PlannedRead(intptr_t handle, void* target, long count)
{
    if (handle != plan.documentHandle) return systemCalls->read(handle, target, count);
    if (++plan.reads == plan.failingRead) return -1;
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

int64_t PlannedSize(intptr_t handle) { return systemCalls->size(handle); }

const PlatFileCalls plannedCalls = {PlannedOpen, PlannedRead, PlannedWrite, PlannedSize};

class Failures : public ::testing::Test {
protected:
    void SetUp() override
    {
        plan = FaultPlan{};
        systemCalls = PlatFileCallsInUse();
        PlatUseFileCalls(&plannedCalls);
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
        setenv("QUERY_STRING", query.c_str(), 1);
        setenv("REMOTE_ADDR", "10.0.0.1", 1);
        unsetenv("CONTENT_LENGTH");
        std::string program = site_.program();
        char* argv[] = {program.data(), nullptr};
        EXPECT_EQ(RunProgram(1, argv), 0);
        return MaskSearchTime(plan.page);
    }

    TestSite site_;
};

}  // namespace

TEST_F(Failures, ADocumentIsReadUpToAFailedRead)
{
    FaultPlan faults;
    faults.document = "a.htm";
    faults.readChunk = 50;
    faults.failingRead = 2;  // the first 50 bytes hold "cat", " dog" is lost
    EXPECT_EQ(Request("Search=cat+dog", faults),
              ResultsPage({{"b.htm", "Untitled", "50%", "1.00", "11 bytes"},
                           {"a.htm", "Untitled", "50%", "1.00", "116 bytes"}},
                          2));
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
