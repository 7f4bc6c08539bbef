// The daily query log as requests leave it: one whole line per request.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <set>
#include <sstream>

#include "test-support.h"

using namespace testing_support;

namespace {

// The minute may turn during the run: either stamp is right.
void ExpectLogLine(const std::string& line, const std::string& address, const std::string& text, time_t before,
                   time_t after)
{
    const std::string early = address + " " + MinuteStamp(before) + " " + text + "\n";
    const std::string late = address + " " + MinuteStamp(after) + " " + text + "\n";
    EXPECT_TRUE(line == early || line == late) << "line: " << line << "expected: " << early;
}

TEST(LoggedRequests, OneLineWithAddressMinuteStampAndRequest)
{
    struct Row {
        const char* name;
        bool withAddress;
        std::string query;
        std::string address;
        std::string text;
    };
    const std::vector<Row> rows = {
        {"defaults", true, "Search=red+apples", "127.0.0.1", "(0, 20) red apples"},
        {"no address", false, "Search=cat&Count=10&StartAt=25", "0.0.0.0", "(25, 10) cat"},
        {"clamped numbers", true, "Count=5000&StartAt=1000000000&Search=x", "127.0.0.1", "(999999999, 200) x"},
        {"control bytes become blanks", true, "Search=a%0Ab%0D%0Ac%09d%01e%1F", "127.0.0.1", "(0, 20) a b  c d e "},
        {"high bytes and percent signs", true, "Search=caf%E9+100%25", "127.0.0.1", "(0, 20) caf\xE9 100%"},
        {"refused search", true, "Search=%2B+cat", "127.0.0.1", "(0, 20) + cat"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestSite site;
        FurnishSite(site);
        RunOptions options = GetOptions(row.query);
        if (!row.withAddress) options.environment.erase("REMOTE_ADDR");
        time_t before = time(nullptr);
        RunResult result = RunProgram(site.program(), options);
        time_t after = time(nullptr);
        EXPECT_EQ(result.out.find("<!--"), std::string::npos) << result.out;
        ExpectLogLine(site.TodaysLog(), row.address, row.text, before, after);
    }
}

TEST(LoggedRequests, MissingLogFolderCostsOnlyAComment)
{
    TestSite site;
    FurnishSite(site);
    PutDocument(site, "a.htm", "<P>cat</P>\n");
    ASSERT_EQ(remove((site.srchdata() + "/logs").c_str()), 0);
    RunResult result = Get(site, "Search=cat");
    EXPECT_EQ(MaskSearchTime(result.out),
              std::string(ContentHeader) + "<!-- Unable to update log\n -->\n\n" + HeaderFragment + Summary(1, 1) +
                  ResultLine(1, {"a.htm", "Untitled", "100%", "1.00", "11 bytes"}) +
                  "Result Pages:&nbsp;<B>1</B>&nbsp;" + CreditLine(1) + FooterFragment);
    EXPECT_FALSE(FileExists(site.srchdata() + "/logs"));
}

TEST(LoggedRequests, SimultaneousRequestsLeaveOneWholeLineEach)
{
    TestSite site;
    FurnishSite(site);
    PutDocument(site, "a.htm", "<P>cat</P>\n");
    const int requests = 20;
    std::vector<StartedProgram> started;
    for (int i = 0; i < requests; ++i)
        started.push_back(StartProgram(site.program(), GetOptions("Search=word" + std::to_string(i) + "+" +
                                                                   std::string(200, 'a' + i % 26))));
    for (StartedProgram& program : started) EXPECT_EQ(FinishProgram(program).exitCode, 0);

    std::istringstream log(site.TodaysLog());
    static const std::regex lineForm(R"(127\.0\.0\.1 [0-9A-F]{8} \(0, 20\) word([0-9]+) ([a-z])\2{199})");
    std::set<int> seen;
    std::string line;
    int lines = 0;
    while (std::getline(log, line)) {
        ++lines;
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, lineForm)) << line;
        int i = std::stoi(match[1]);
        EXPECT_EQ(match[2].str()[0], 'a' + i % 26);
        seen.insert(i);
    }
    EXPECT_EQ(lines, requests);
    EXPECT_EQ(static_cast<int>(seen.size()), requests);
}

}  // namespace
