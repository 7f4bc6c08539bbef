// Tracked memory is all given back at the end of every kind of run: the test
// build of the program writes its leak report into cgi-bin/debug.log.
#include <gtest/gtest.h>

#include <cstdio>

#include "test-support.h"

using namespace testing_support;

namespace {

struct Request {
    const char* name;
    std::string query;
    std::string body;  // a POST when not empty
};

void ExpectAllMemoryFreed(const TestSite& site, const Request& request)
{
    SCOPED_TRACE(request.name);
    RunOptions options = GetOptions(request.query);
    if (!request.body.empty()) {
        options.environment["CONTENT_LENGTH"] = std::to_string(request.body.size());
        options.environment["QUERY_STRING"] = "";
        options.input = request.body;
    }
    options.environment["TRAWLEX_DEBUG_FLAGS"] = "6";  // debug-log file, verbose
    RunResult result = RunProgram(site.program(), options);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind(ContentHeader, 0), 0u);
    const std::string log = ReadFile(site.cgiBin() + "/debug.log");
    EXPECT_NE(log.find("Maximum Memory in use"), std::string::npos) << log;
    EXPECT_EQ(log.find("Not all memory was free'd"), std::string::npos) << log;
}

TEST(MemoryAtExit, EveryKindOfRunEndsWithNothingInUse)
{
    TestSite site(DebugProgram);
    FurnishSite(site, std::string(DefaultConfig) + "SKIPLIST skip.txt\nEXCLUDEPATH /private/\n");
    site.Data("skip.txt", "the and of\n");
    site.Data("bodyCompact.htm", "[&Search.Title;]\n");
    PutDocument(site, "private/a.htm", "<P>cat</P>\n");
    PutDocument(site, "meta.htm", "<META name=\"description\" content=\"a cat\"><TITLE>Cat</TITLE>cat\n");
    // More matches than the list holds, so entries give way to later ones.
    for (int i = 0; i < 205; ++i)
        PutDocument(site, "many/m" + std::to_string(i) + ".htm", "<P>" + std::string(1 + i % 7, 'x') + " cat</P>\n");
    const std::vector<Request> requests = {
        {"no parameters", "", ""},
        {"request too long", "Search=" + std::string(1100, 'a'), ""},
        {"refused words", "Search=%2B+cat", ""},
        {"only skip-list words", "Search=the+of", ""},
        {"word too long", "Search=" + std::string(300, 'a'), ""},
        {"no match", "Search=bird", ""},
        {"by percent", "Search=cat+the", ""},
        {"by weight", "Search=cat&SortBy=Weight", ""},
        {"by date", "Search=cat*&SortBy=Date", ""},
        {"by size", "Search=*at&SortBy=Size&Count=3&StartAt=9", ""},
        {"compact look", "Search=cat&Look=Compact", ""},
        {"unsafe look", "Search=cat&Look=..%2Fbody", ""},
        {"buffered body", "", "Search=cat+-x&Count=200"},
        {"streamed body", "", "Search=cat&Pad=" + std::string(600, 'p')},
    };
    for (const Request& request : requests) ExpectAllMemoryFreed(site, request);

    ASSERT_EQ(remove((site.srchdata() + "/body.htm").c_str()), 0);
    ExpectAllMemoryFreed(site, {"no result template", "Search=cat", ""});
    site.Data("config.txt", std::string(51201, '#'));
    ExpectAllMemoryFreed(site, {"config too large", "Search=cat", ""});
    site.Data("config.txt", "");
    ExpectAllMemoryFreed(site, {"empty config", "Search=cat", ""});
    ASSERT_EQ(remove((site.srchdata() + "/config.txt").c_str()), 0);
    ExpectAllMemoryFreed(site, {"no config", "Search=cat", ""});
}

}  // namespace
