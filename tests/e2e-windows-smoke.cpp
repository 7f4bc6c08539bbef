// The program under test against the Linux build, request for request: two
// sites laid out alike, one with the Linux program and one with the program
// that TRAWLEX_TEST_PROGRAM names (the Windows build, started through
// TRAWLEX_TEST_LAUNCHER). Pages and query logs must agree byte for byte once
// each site's own folder is written as SITE.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "test-support.h"

using namespace testing_support;

namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

std::string Backslashed(std::string path)
{
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

void Touch(const std::string& path, time_t when)
{
    timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

struct Request {
    std::string name;
    std::function<RunOptions(const TestSite&)> options;
};

RunOptions Query(const std::string& query)
{
    RunOptions options;
    options.environment = {{"QUERY_STRING", query}, {"REMOTE_ADDR", "127.0.0.1"}, {"PATH", "/usr/bin:/bin"}};
    return options;
}

RunOptions Body(const std::string& body)
{
    RunOptions options;
    options.environment = {{"CONTENT_LENGTH", std::to_string(body.size())},
                           {"REMOTE_ADDR", "127.0.0.1"},
                           {"REQUEST_METHOD", "POST"},
                           {"PATH", "/usr/bin:/bin"}};
    options.input = body;
    return options;
}

// The same site twice: linux_ runs the Linux build, other_ the program under test.
class Twins : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!UnderLauncher())
            GTEST_SKIP() << "compares another build with the Linux one: set TRAWLEX_TEST_PROGRAM and "
                            "TRAWLEX_TEST_LAUNCHER (scripts/test-windows does)";
        ForBoth([](const TestSite& site) {
            site.Data("header.htm", "<HTML><BODY><H1>Search</H1>\n");
            site.Data("footer.htm", "<P>footer</P></BODY></HTML>\n");
            site.Data("body.htm",
                      "<LI>&Search.Match;. <A HREF=\"&Search.BaseURL;&Search.URL;\">&Search.Title;</A> "
                      "&Search.Percent; &Search.Weight; &Search.Size; &Search.Modified; &Search.Description;"
                      " (&Search.MatchReturned; of &Search.MatchTotal;)\n");
            site.Data("bodyalt.htm", "<P>&Search.URL;</P>\n");
            site.Config("FILESPEC .htm\nFILESPEC .html\nBASEURL /\nEXCLUDEPATH /docs/private/\n");
        });
    }

    void ForBoth(const std::function<void(const TestSite&)>& action)
    {
        action(linux_);
        action(other_);
    }

    // A document on both sites, modified at the same local time.
    void Document(const std::string& relativePath, const std::string& content,
                  time_t modified = LocalTime(2001, 3, 5, 10, 20, 30))
    {
        ForBoth([&](const TestSite& site) {
            site.Page(relativePath, content);
            Touch(site.root() + "/" + relativePath, modified);
        });
    }

    void ExpectSamePages(const std::vector<Request>& requests)
    {
        for (const Request& request : requests) {
            SCOPED_TRACE(request.name);
            RunResult expected = RunProgram(linux_.program(), request.options(linux_));
            RunResult actual = RunProgram(other_.program(), request.options(other_));
            EXPECT_EQ(Normalized(actual.out, "Z:" + Backslashed(other_.root())),
                      Normalized(expected.out, Backslashed(linux_.root())));
            EXPECT_EQ(actual.exitCode, expected.exitCode);
        }
    }

    void ExpectSameLogs()
    {
        static const std::regex stamp(R"(^(\S+) [0-9A-F]{8} )", std::regex::multiline);
        std::string expected = linux_.TodaysLog();
        EXPECT_NE(expected, "");
        EXPECT_EQ(std::regex_replace(other_.TodaysLog(), stamp, "$1 STAMP "),
                  std::regex_replace(expected, stamp, "$1 STAMP "));
    }

    // The page with the search time masked and the site's folder, in either
    // slash form, written as SITE.
    static std::string Normalized(const std::string& page, const std::string& root)
    {
        std::string text = ReplaceAll(MaskSearchTime(page), root, "SITE");
        return ReplaceAll(text, ReplaceAll(root, "\\", "/"), "SITE");
    }

    TestSite linux_{ReleaseProgram};
    TestSite other_;
};

TEST_F(Twins, SearchesPagesAndLogsAlike)
{
    // Text-mode reading: carriage returns dropped, nothing after a 0x1A counts.
    Document("a.htm", "<TITLE>Cats</TITLE>\r\n<META NAME=\"description\" CONTENT=\"All about cats\">\r\ncat cat dog\r\n");
    Document("b.htm", "<title>b</title>cat\r\n\x1A cat cat cat cat");
    Document("_c.htm", "cat");
    Document("Zeta.html", "<TITLE>zeta</TITLE>cat cat");
    Document("docs/c.html", "cat and dog");
    Document("docs/Sub/d.htm", "cat cat cat");
    Document("docs/private/e.htm", "cat");             // excluded
    Document("docs/private/deeper/f.htm", "cat cat");  // not excluded
    Document(".hidden/g.htm", "cat");                  // hidden folder
    Document(".h.htm", "cat");                         // hidden file
    Document("cgi-bin/x.htm", "cat");                  // the program's own folder
    Document("old.htm", "<TITLE>old</TITLE>cat", LocalTime(1975, 6, 1, 12, 0, 0));
    Document("future.htm", "<TITLE>future</TITLE>cat", LocalTime(2110, 6, 1, 12, 0, 0));
    Document("x.txt", "cat");
    Document("caf\xC3\xA9.htm", "<TITLE>caf\xC3\xA9</TITLE>cat caf\xC3\xA9");
    Document("docs/\xE2\x82\xAC/euro.htm", "cat");

    auto get = [](const std::string& query) { return [query](const TestSite&) { return Query(query); }; };
    auto post = [](const std::string& body) { return [body](const TestSite&) { return Body(body); }; };
    ExpectSamePages({
        {"all matches", get("Search=cat")},
        {"first page of three", get("Search=cat&Count=3")},
        {"second page", get("Search=cat&Count=3&StartAt=3")},
        {"last page", get("Search=cat&Count=3&StartAt=9")},
        {"past the end", get("Search=cat&Count=3&StartAt=300")},
        {"by date", get("Search=cat&SortBy=Date")},
        {"by size", get("Search=cat&SortBy=Size")},
        {"by weight", get("Search=cat+-dog&SortBy=Weight")},
        {"required and phrase", get("Search=%2Bcat+%22cat+dog%22")},
        {"prefix and suffix", get("Search=ca*+*og")},
        {"no match", get("Search=zebra")},
        {"UTF-8 words", get("Search=caf%C3%A9")},
        {"raw UTF-8 words", get("Search=caf\xC3\xA9")},
        {"variant template", get("Search=cat&Look=alt")},
        {"POST", post("Search=cat&Count=2&StartAt=2")},
        {"POST with line ends and end-of-text bytes", post("Search=cat+dog&Count=4\r\n\x1A\x1A\r\n")},
        {"POST of 900 bytes", post("Search=cat&Submit=" + std::string(880, 'x'))},
    });
    ExpectSameLogs();
}

TEST_F(Twins, PassesOverSpecialEntriesAlike)
{
    Document("a.htm", "<TITLE>a</TITLE>cat");
    Document("docs/b.htm", "<TITLE>b</TITLE>cat cat");
    ForBoth([](const TestSite& site) {
        std::string root = site.root();
        ASSERT_EQ(mkfifo((root + "/fifo.htm").c_str(), 0644), 0);            // would never end
        ASSERT_EQ(symlink("nowhere.htm", (root + "/broken.htm").c_str()), 0);  // leads nowhere
        ASSERT_EQ(symlink("..", (root + "/docs/up").c_str()), 0);              // cycles
        ASSERT_EQ(symlink(".", (root + "/docs/self").c_str()), 0);
        ASSERT_EQ(symlink("../a.htm", (root + "/docs/link.htm").c_str()), 0);  // a file, found twice
    });
    ExpectSamePages({{"links and a fifo", [](const TestSite&) { return Query("Search=cat&SortBy=Size"); }}});
}

TEST_F(Twins, RefusesBadInputAlike)
{
    Document("a.htm", "<TITLE>Cats</TITLE>cat");
    Document("srchdata/x.htm", "<P>not a template</P>");
    auto get = [](const std::string& query) { return [query](const TestSite&) { return Query(query); }; };
    ExpectSamePages({
        {"no request text", get("")},
        {"request of 1024 bytes", get("Search=" + std::string(1017, 'a'))},
        {"body of 5000 bytes", [](const TestSite&) { return Body("Search=" + std::string(4993, 'a')); }},
        {"body shorter than announced",
         [](const TestSite&) {
             RunOptions options = Body("Search=cat");
             options.environment["CONTENT_LENGTH"] = "300";
             return options;
         }},
        // Percent-encoded: Windows keeps the environment in UTF-16, so raw high
        // bytes reach a program only as the system's code page can carry them.
        {"odd bytes", get("Search=%00%01cat%FF%1A%0D%0A<b>&Count=abc&StartAt=-3&SortBy=%0D%0A")},
        {"huge numbers", get("Search=cat&Count=99999999999&StartAt=99999999999")},
        {"Look leaving srchdata with backslashes", get("Search=cat&Look=..%5C..%5Cx")},
        {"Look leaving srchdata with slashes", get("Search=cat&Look=../../x")},
        {"Look with a drive", get("Search=cat&Look=Z:%5Ctmp%5Cx")},
        {"search words too long", get("Search=" + std::string(300, 'a'))},
    });
    ExpectSameLogs();
}

TEST_F(Twins, StartsAndReportsAlike)
{
    Document("a.htm", "<TITLE>Cats</TITLE>cat");
    auto started = [](const std::string& folder, const std::string& argument0, std::vector<std::string> arguments) {
        return [=](const TestSite& site) {
            RunOptions options = Query("Search=cat");
            options.workingFolder = folder == "root" ? site.root() : folder == "cgi-bin" ? site.cgiBin() : "";
            options.argument0 = argument0;
            options.arguments = arguments;
            return options;
        };
    };
    ExpectSamePages({
        {"version with /?", started("", "", {"/?"})},
        {"version with -?", started("", "", {"-?"})},
        {"/? with a second argument is a request", started("", "", {"/?", "x"})},
        {"started by relative path", started("root", "cgi-bin/trawlex.exe", {})},
        {"started by bare name in its folder", started("cgi-bin", "trawlex.exe", {})},
    });

    // A configuration that cannot be read leaves a comment naming it.
    ForBoth([](const TestSite& site) { ASSERT_EQ(remove((site.srchdata() + "/config.txt").c_str()), 0); });
    ExpectSamePages({{"missing configuration", [](const TestSite&) { return Query("Search=cat"); }}});

    // Without a logs folder the log cannot be written, and the page says so.
    ForBoth([](const TestSite& site) {
        std::string logs = site.srchdata() + "/logs";
        ASSERT_EQ(system(("rm -r '" + logs + "'").c_str()), 0);
    });
    ExpectSamePages({{"missing logs folder", [](const TestSite&) { return Query("Search=cat"); }}});
}

}  // namespace
