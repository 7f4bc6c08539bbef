// The program as a web server runs it: whole pages, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "test-support.h"

using namespace testing_support;

namespace {

const char* const Header = "Content-Type: text/html\n\n";
const std::string MissingParameters = std::string(Header) + "Unable to locate any paramters!<BR>\n";
const std::string TooLong = std::string(Header) + "CGI response too long!<BR>\n";

const std::string CatDocument = "<TITLE>Cats and Dogs</TITLE>\n<P>A cat sat.</P>\n";

// The page for Search=cat on the site of CatSite(). Title hit "Cats" 0.9
// (8 x 0.81), the same hit in the text 0.81, "cat" 1.0: 100%, 8.29.
std::string CatPage()
{
    return ResultsPage({{"a.htm", "Cats and Dogs", "100%", "8.29", SizeText(CatDocument.size())}}, 1);
}

void CatSite(const TestSite& site)
{
    FurnishSite(site);
    PutDocument(site, "a.htm", CatDocument);
}

// Ignored pairs and then "Search=cat", exactly size bytes long, so a request
// text cut anywhere loses the search.
std::string PaddedQuery(size_t size)
{
    const std::string search = "Search=cat";
    std::string query;
    while (size - search.size() - query.size() >= 105) query += "Pad=" + std::string(95, 'x') + "&";
    size_t rest = size - search.size() - query.size();
    if (rest >= 5) query += "P=" + std::string(rest - 3, 'y') + "&";
    else query += std::string(rest, '&');
    return query + search;
}

RunOptions PostOptions(const std::string& announced, const std::string& body)
{
    RunOptions options;
    options.environment = {{"CONTENT_LENGTH", announced}, {"REMOTE_ADDR", "127.0.0.1"}, {"REQUEST_METHOD", "POST"}};
    options.input = body;
    return options;
}

TEST(Driver, NoRequestTextGivesTheMissingParametersPage)
{
    TestSite site;
    RunResult result = Get(site, "");
    EXPECT_EQ(result.out, std::string(Header) + "Unable to locate any paramters!<BR>\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(site.TodaysLog(), "");
}

TEST(Driver, RefusedRequestsGetOnlyTheHeaderAndTheirMessage)
{
    TestSite site;
    CatSite(site);
    struct Row {
        const char* name;
        std::map<std::string, std::string> environment;
        std::string input;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"no variables at all", {}, "", MissingParameters},
        {"no query string", {{"REMOTE_ADDR", "127.0.0.1"}}, "", MissingParameters},
        {"empty query string", {{"QUERY_STRING", ""}}, "", MissingParameters},
        {"zero length, empty query", {{"CONTENT_LENGTH", "0"}, {"QUERY_STRING", ""}}, "Search=cat", MissingParameters},
        {"non-numeric length, empty query", {{"CONTENT_LENGTH", "abc"}, {"QUERY_STRING", ""}}, "Search=cat",
         MissingParameters},
        {"1024-byte query", {{"QUERY_STRING", PaddedQuery(1024)}}, "", TooLong},
        {"100,000-byte query", {{"QUERY_STRING", "Search=" + std::string(100000 - 7, 'a')}}, "", TooLong},
        {"1024-byte body", {{"CONTENT_LENGTH", "1024"}}, PaddedQuery(1024), TooLong},
        {"huge announced body", {{"CONTENT_LENGTH", "99999999999"}}, "Search=cat", TooLong},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RunOptions options;
        options.environment = row.environment;
        options.input = row.input;
        RunResult result = RunProgram(site.program(), options);
        EXPECT_EQ(result.out, row.expected);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitCode, 0);
    }
    EXPECT_EQ(site.TodaysLog(), "") << "refused requests leave no log line";
}

// Every way of handing over the same search gives the same page.
TEST(Driver, EveryWayOfAskingForCatGivesTheSamePage)
{
    for (size_t size : {512u, 513u, 1023u, 1024u}) ASSERT_EQ(PaddedQuery(size).size(), size);
    TestSite site;
    CatSite(site);
    auto run = [&](RunOptions options) { return RunProgram(site.program(), options); };
    struct Row {
        const char* name;
        std::function<RunResult()> request;
    };
    const std::vector<Row> rows = {
        {"plain GET", [&] { return Get(site, "Search=cat"); }},
        {"1023-byte query", [&] { return Get(site, PaddedQuery(1023)); }},
        {"%00 ends the value", [&] { return Get(site, "Search=cat%00dog"); }},
        {"zero length selects the query", [&] {
             RunOptions options = GetOptions("Search=cat");
             options.environment["CONTENT_LENGTH"] = "0";
             return run(options);
         }},
        {"negative length selects the query", [&] {
             RunOptions options = GetOptions("Search=cat");
             options.environment["CONTENT_LENGTH"] = "-5";
             return run(options);
         }},
        {"non-numeric length selects the query", [&] {
             RunOptions options = GetOptions("Search=cat");
             options.environment["CONTENT_LENGTH"] = "abc";
             return run(options);
         }},
        {"short POST", [&] { return Post(site, "Search=cat"); }},
        {"buffered POST of 512", [&] { return Post(site, PaddedQuery(512)); }},
        {"streamed POST of 513", [&] { return Post(site, PaddedQuery(513)); }},
        {"streamed POST of 1023", [&] { return Post(site, PaddedQuery(1023)); }},
        {"buffered body shorter than announced", [&] { return run(PostOptions("300", "Search=cat")); }},
        {"streamed body shorter than announced", [&] { return run(PostOptions("900", "Search=cat")); }},
        {"started by relative path", [&] {
             RunOptions options = GetOptions("Search=cat");
             options.workingFolder = site.root();
             options.argument0 = "cgi-bin/trawlex.exe";
             return run(options);
         }},
        {"started by bare name in its folder", [&] {
             RunOptions options = GetOptions("Search=cat");
             options.workingFolder = site.cgiBin();
             options.argument0 = "trawlex.exe";
             return run(options);
         }},
        {"/? with a second argument is a request", [&] {
             RunOptions options = GetOptions("Search=cat");
             options.arguments = {"/?", "x"};
             return run(options);
         }},
        {"/?x is a request", [&] {
             RunOptions options = GetOptions("Search=cat");
             options.arguments = {"/?x"};
             return run(options);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RunResult result = row.request();
        EXPECT_EQ(MaskSearchTime(result.out), CatPage());
        EXPECT_EQ(result.err, "");
    }
    // Each of them was logged, from wherever the program was started.
    std::string log = site.TodaysLog();
    EXPECT_EQ(static_cast<size_t>(std::count(log.begin(), log.end(), '\n')), rows.size());
}

TEST(Driver, HighBytesPassThroughAndFoldOnlyAsciiLetters)
{
    TestSite site;
    FurnishSite(site);
    const std::string lower = "<TITLE>Caf\xE9</TITLE> caf\xE9 au lait\n";
    const std::string upper = "<TITLE>CAF\xC9</TITLE> CAF\xC9\n";
    PutDocument(site, "lower.htm", lower);
    PutDocument(site, "upper.htm", upper);
    // Title "Caf\xE9" 8.0, the text after "<TITLE>" 1.0 and " caf\xE9 " 1.0.
    const std::string middle = Summary(1, 1) +
                               ResultLine(1, {"lower.htm", "Caf\xE9", "100%", "10.00", SizeText(lower.size())}) +
                               "Result Pages:&nbsp;<B>1</B>&nbsp;" + CreditLine(2);
    for (const char* query : {"Search=caf%E9", "Search=caf\xE9", "sEaRcH=CAF%e9"}) {
        SCOPED_TRACE(query);
        // Windows keeps its environment in UTF-16: a raw 0xE9 cannot reach the program.
        if (UnderLauncher() && std::string(query).find('\xE9') != std::string::npos) continue;
        EXPECT_EQ(MaskSearchTime(Get(site, query).out), WholePage(middle));
    }
    // A paging link carries the byte encoded.
    RunResult paged = Get(site, "Search=caf%E9&Count=1&StartAt=1");
    EXPECT_NE(paged.out.find("<A HREF=\"/cgi-bin/trawlex.exe?Count=1&Search=caf%E9\"><B>&lt;&lt; Prev</B></A>"),
              std::string::npos);
}

TEST(Driver, VersionTextOnlyForASingleSwitch)
{
    TestSite site;
    CatSite(site);
    const std::string version =
        "\nTarvine Trawlex version 3.00 (Release)\nThe latest version can always be found at https://trawlex.example/\n";
    for (const char* argument : {"/?", "-?"}) {
        SCOPED_TRACE(argument);
        RunOptions options = GetOptions("Search=cat");
        options.arguments = {argument};
        RunResult result = RunProgram(site.program(), options);
        EXPECT_EQ(result.out, version);
        EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(site.TodaysLog(), "");
    EXPECT_FALSE(FileExists(site.cgiBin() + "/debug.log"));
}

TEST(Driver, ConfigurationThatCannotBeLoadedLeavesACommentAndTheRunGoesOn)
{
    TestSite site;
    FurnishSite(site);
    PutDocument(site, "a.htm", CatDocument);
    const std::string noMatch = std::string(HeaderFragment) + "Unable to find any Web pages matching your query...<BR>" +
                                CreditLine(0) + FooterFragment;

    ASSERT_EQ(remove((site.srchdata() + "/config.txt").c_str()), 0);
    const std::string configPath = InternalPath(site.srchdata() + "/config.txt");
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat").out),
              std::string(Header) + "<!-- Unable to load config file '" + configPath + "' -->\n\n" + noMatch);

    std::string config = DefaultConfig;
    std::string padding = "# " + std::string(70, '-') + "\n";
    while (config.size() + padding.size() <= 51200) config += padding;
    config += std::string(51200 - config.size() - 1, ' ') + "\n";
    ASSERT_EQ(config.size(), 51200u);
    // Written as they are: a test run's THREADS line would change the size.
    site.Data("config.txt", config);
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat").out), CatPage()) << "51,200 bytes still load";

    site.Data("config.txt", config + " ");
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat").out),
              std::string(Header) + "<!-- Config too large (51201) -->\n\n" + noMatch);
}

}  // namespace
