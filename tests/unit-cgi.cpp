// CGI module: field and pair splitting, URL decoding and encoding, numbers,
// request intake from the environment and standard input, the site root,
// in-page comments, fragment copies and the daily query log.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
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

class CommandLineScope {
public:
    explicit CommandLineScope(const std::string& line) : saved_(PlatCommandLine()) { PlatSetCommandLine(line.c_str()); }
    ~CommandLineScope() { PlatSetCommandLine(saved_.c_str()); }
private:
    std::string saved_;
};

void SetOrUnset(const char* name, const char* value)
{
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

// CgiInit for a GET request without query string, from REMOTE_ADDR as given;
// the test runner itself is no CGI request, so nothing needs restoring.
class PlainRequest {
public:
    explicit PlainRequest(const char* remoteAddress)
    {
        unsetenv("CONTENT_LENGTH");
        unsetenv("QUERY_STRING");
        SetOrUnset("REMOTE_ADDR", remoteAddress);
        CgiInit();
    }
    ~PlainRequest() { unsetenv("REMOTE_ADDR"); }
};

std::string StopCapture()
{
    PlatOutputFlush();
    return testing::internal::GetCapturedStdout();
}

// ---- Decoding helpers ---------------------------------------------------------------

TEST(CgiFields, NextFieldWalksTheText)
{
    struct Row {
        std::string text;
        int capacity;
        std::vector<std::pair<std::string, int>> fields;  // field and consumed count
    };
    const std::string field319(319, 'f');
    const Row rows[] = {
        {"a=1&&b=2", 320, {{"a=1", 5}, {"b=2", 3}}},
        {"a=\"x&y\"&b", 320, {{"a=x&y", 8}, {"b", 1}}},
        {"&a", 320, {{"", 1}, {"a", 1}}},
        {"a&&&", 320, {{"a", 4}}},
        {"\"\"&b", 320, {{"", 3}, {"b", 1}}},
        {"a\"b&c", 320, {{"ab&c", 5}}},
        {"", 320, {}},
        {field319, 320, {{field319, 319}}},
        {field319 + "&x", 320, {{field319, 320}, {"x", 1}}},
        {field319 + "g", 320, {}},
        {"abcd&x", 4, {}},
        {"abc&x", 4, {{"abc", 4}, {"x", 1}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 40));
        std::vector<char> target(static_cast<size_t>(row.capacity));  // exact size, for the sanitizer
        std::vector<std::pair<std::string, int>> fields;
        const char* text = row.text.c_str();
        int consumed = -1;
        while (CgiNextField(target.data(), row.capacity, '&', text, &consumed)) {
            fields.push_back({target.data(), consumed});
            text += consumed;
            ASSERT_LE(fields.size(), 10u);
        }
        EXPECT_EQ(consumed, 0);
        EXPECT_EQ(fields, row.fields);
    }
}

TEST(CgiFields, SplitPair)
{
    struct Row {
        const char* text;
        int result;
        const char* name;
        const char* value;
    };
    const Row rows[] = {
        {"Search=+abc", 1, "Search", "abc"}, {"Search=", 1, "Search", ""},   {"Search", 0, "old", "old"},
        {"", 0, "old", "old"},               {"=x", 1, "", "x"},             {"a=b=c", 1, "a", "b=c"},
        {"a= + +b c", 1, "a", "b c"},        {"Count=%2B5", 1, "Count", "%2B5"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        char name[320] = "old";
        char value[320] = "old";
        EXPECT_EQ(CgiSplitPair(name, value, 320, '=', row.text), row.result);
        EXPECT_STREQ(name, row.name);
        EXPECT_STREQ(value, row.value);
    }
}

TEST(CgiFields, UrlDecode)
{
    const char* rows[][2] = {
        {"a+b%2Bc", "a b+c"}, {"%41", "A"},    {"%6a", "j"},   {"%6A", "j"},     {"100%", "100%"},
        {"%4", "%4"},         {"%zz", "%zz"},  {"x%00y", "x"}, {"%%41", "%A"},   {"%4g1", "%4g1"},
        {"", ""},             {"%e9+", "\xE9 "},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row[0]);
        char target[32];
        EXPECT_EQ(CgiUrlDecode(row[0], target), 1);
        EXPECT_STREQ(target, row[1]);
        char inPlace[32];
        strcpy(inPlace, row[0]);
        CgiUrlDecode(inPlace, inPlace);
        EXPECT_STREQ(inPlace, row[1]);
    }
}

TEST(CgiFields, UrlEncode)
{
    const char* rows[][2] = {
        {"a b&c=d", "a+b%26c%3Dd"}, {"100%", "100%25"}, {"\xE9", "%E9"},       {"@.*-_", "@.*-_"},
        {"+", "%2B"},               {"/\"~", "%2F%22%7E"}, {"", ""},           {"Zz09", "Zz09"},
        {"\x01\x7F\xFF", "%01%7F%FF"},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row[0]);
        std::vector<char> target(3 * strlen(row[0]) + 1);  // the documented room, exactly
        EXPECT_EQ(CgiUrlEncode(row[0], target.data()), 1);
        EXPECT_STREQ(target.data(), row[1]);
    }
}

// Every byte survives the way through a paging link and back.
TEST(CgiFields, EncodeThenDecodeIsTheIdentity)
{
    std::string all;
    for (int byte = 1; byte <= 255; ++byte) all += static_cast<char>(byte);
    std::vector<char> encoded(3 * all.size() + 1);
    CgiUrlEncode(all.c_str(), encoded.data());
    for (const char* at = encoded.data(); *at; ++at) {
        unsigned char c = static_cast<unsigned char>(*at);
        ASSERT_TRUE(isalnum(c) || strchr("@*-_.+%", c)) << "byte " << int(c) << " left unencoded";
    }
    std::vector<char> decoded(encoded.size());
    CgiUrlDecode(encoded.data(), decoded.data());
    EXPECT_EQ(std::string(decoded.data()), all);
    CgiUrlDecode(encoded.data(), encoded.data());
    EXPECT_EQ(std::string(encoded.data()), all);
}

TEST(CgiFields, ParseNumber)
{
    struct Row {
        const char* text;
        int32_t value;
    };
    const std::string zeros = std::string(100, '0') + "5";
    const std::string longRun(200, '9');
    const Row rows[] = {
        {"25abc", 25},       {"abc", 0},          {"-5", 0},           {"", 0},
        {nullptr, 0},        {" 7", 0},           {"2147483647", 2147483647},
        {"2147483648", 2147483647},               {"99999999999", 2147483647},
        {zeros.c_str(), 5},  {longRun.c_str(), 2147483647},          {"0012x9", 12},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text ? row.text : "(absent)");
        EXPECT_EQ(CgiParseNumber(row.text), row.value);
    }
}

// ---- Request intake --------------------------------------------------------------------

struct IntakeRow {
    const char* name;
    const char* contentLength;  // nullptr: not set
    const char* queryString;    // nullptr: not set
    std::string input;          // standard input
    std::string expected;       // the child's report
};

// The child reports what the module hands out; DebugConsole puts the traces
// on standard error between the report lines.
void ReportIntake(const IntakeRow& row, const std::string& inputPath)
{
    SetOrUnset("CONTENT_LENGTH", row.contentLength);
    SetOrUnset("QUERY_STRING", row.queryString);
    if (!freopen(inputPath.c_str(), "rb", stdin)) exit(2);
    PlatSetCommandLine("/srv/site/cgi-bin/trawlex.exe");
    DebugInit("debug.log", DebugConsole);
    CgiInit();
    const char* text = nullptr;
    int32_t length = -1;
    int result = CgiGetRequest(&text, &length);
    fprintf(stderr, "request %d %d %s\n", result, length, text ? text : "(absent)");
    static char buffer[2048];
    fprintf(stderr, "zero %d\n", CgiReadRequest(buffer, 0));
    if (length > 0) {
        int read = CgiReadRequest(buffer, length);
        fprintf(stderr, "read %d [%s]\n", read, buffer);
    }
    fprintf(stderr, "again %d\n", CgiReadRequest(buffer, 1));
}

TEST(CgiIntake, RequestTextFromQueryStringOrBody)
{
    const std::string b300 = "Search=" + std::string(293, 'b');
    const std::string b512 = "Search=" + std::string(505, 'c');
    const std::string b513 = "Search=" + std::string(506, 'd');
    auto tooLarge = [](int n, int length, int position) {
        return "Request too large (" + std::to_string(n) + " / " + std::to_string(length) + " / " +
               std::to_string(position) + ")\n";
    };
    const std::string getReport = "request 1 10 Search=abc\nzero 1\nread 1 [Search=abc]\n" + tooLarge(1, 10, 10) +
                                  "again 0\n";
    const std::string noneReport = "request 0 0 (absent)\nzero 1\n" + tooLarge(1, 0, 0) + "again 0\n";
    const IntakeRow rows[] = {
        {"query string", nullptr, "Search=abc", "", getReport},
        {"length 0", "0", "Search=abc", "ignored", getReport},
        {"non-numeric length", "abc", "Search=abc", "ignored", getReport},
        {"negative length", "-5", "Search=abc", "ignored", getReport},
        {"nothing", nullptr, nullptr, "", noneReport},
        {"length 0 without query", "0", nullptr, "", noneReport},
        {"body 300", "300", "Other=1", b300,
         "request 1 300 " + b300 + "\nzero 1\nread 1 [" + b300 + "]\n" + tooLarge(1, 300, 300) + "again 0\n"},
        {"short body", "300", nullptr, b300.substr(0, 100),
         "request 1 100 " + b300.substr(0, 100) + "\nzero 1\nread 1 [" + b300.substr(0, 100) + "]\n" +
             tooLarge(1, 100, 100) + "again 0\n"},
        {"body 512", "512", nullptr, b512 + "tail",
         "request 1 512 " + b512 + "\nzero 1\nread 1 [" + b512 + "]\n" + tooLarge(1, 512, 512) + "again 0\n"},
        {"body 513 streamed", "513", nullptr, b513 + "tail",
         "Query too large, will no be qued (513 > 512)\nrequest 1 513 (absent)\nzero 1\nread 1 [" + b513 +
             "]\n" + tooLarge(1, 513, 513) + "again 0\n"},
        {"short streamed body", "513", nullptr, b513.substr(0, 200),
         "Query too large, will no be qued (513 > 512)\nrequest 1 513 (absent)\nzero 1\nread 0 [" +
             b513.substr(0, 200) + "]\nagain 0\n"},
    };
    for (const IntakeRow& row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder folder;
        const std::string inputPath = folder.path() + "/input";
        WriteFile(inputPath, row.input);
        EXPECT_EXIT((ReportIntake(row, inputPath), exit(0)), ExitedWithCode(0), Exactly(row.expected));
    }
}

TEST(CgiIntake, SiteRootIsTheFolderAboveTheProgram)
{
    const char* rows[][2] = {
        {"/srv/site/cgi-bin/trawlex.exe", "\\srv\\site\\"},
        {"\"/srv/my site/cgi-bin/trawlex.exe\" /x", "\\srv\\my site\\"},
        {"D:\\web\\cgi-bin\\prog.exe", "D:\\web\\"},
        {"D:\\cgi\\prog.exe", "D:\\"},
        {"D:\\prog.exe", "D:\\"},
        {"D:prog.exe", "D:\\"},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row[0]);
        CommandLineScope commandLine(row[0]);
        PlainRequest request(nullptr);
        char root[320];
        memset(root, 'Z', sizeof root);
        EXPECT_EQ(CgiGetSiteRoot(root, sizeof root), 1);
        EXPECT_STREQ(root, row[1]);
    }
}

// ---- Output -------------------------------------------------------------------------------

TEST(CgiOutput, CommentsOnlyAfterTheHeader)
{
    CommandLineScope commandLine("/srv/site/cgi-bin/trawlex.exe");
    PlainRequest request(nullptr);
    PlatOutputFlush();
    testing::internal::CaptureStdout();
    CgiComment("Config too large (%d)\n", 5000);
    CgiSendHeader();
    CgiComment("Config too large (%d)\n", 5000);
    CgiComment("Unable to update log\n\n");
    CgiComment("plain %s", "text");
    EXPECT_EQ(StopCapture(),
              "Content-Type: text/html\n\n"
              "<!-- Config too large (5000) -->\n\n"
              "<!-- Unable to update log\n -->\n\n"
              "<!-- plain text -->\n\n");
}

TEST(CgiOutput, IncludeFileCopiesHtmlFragmentsUnchanged)
{
    TempFolder folder;
    std::string content1025;
    for (int i = 0; i < 1025; ++i) content1025 += static_cast<char>(i * 7 % 256);  // zero, CR and 0x1A too
    const std::string content512(512, 'h');
    struct Row {
        const char* name;
        std::string content;
        bool copied;
    };
    const Row rows[] = {
        {"empty.htm", "", true},
        {"header.htm", content512, true},
        {"footer.htm", content1025, true},
        {"upper.HTML", "<p>upper</p>", true},
        {"mixed.Html", "<p>mixed</p>", true},
        {"notes.txt", "text", false},
        {"noext", "text", false},
        {"page.shtm", "text", false},
        {"page.htm.txt", "text", false},
        {"short.h", "text", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string path = folder.path() + "/srchdata/" + row.name;
        WriteFile(path, row.content);
        for (char& c : path)
            if (c == '/') c = '\\';  // the program's own form of a path
        PlatOutputFlush();
        testing::internal::CaptureStdout();
        EXPECT_EQ(CgiIncludeFile(path.c_str()), 1);
        EXPECT_EQ(StopCapture(), row.copied ? row.content : "");
    }
    PlatOutputFlush();
    testing::internal::CaptureStdout();
    EXPECT_EQ(CgiIncludeFile((folder.path() + "/missing.htm").c_str()), 1);
    EXPECT_EQ(StopCapture(), "");
}

// ---- Query log -----------------------------------------------------------------------------

// Minutes since 31 December 1969 00:00 local time, from the C library's calendar.
int64_t LocalMinuteStamp(time_t seconds)
{
    tm local{};
    localtime_r(&seconds, &local);
    return (static_cast<int64_t>(seconds) + local.tm_gmtoff) / 60 + 1440;
}

std::string LogName(time_t seconds)
{
    tm local{};
    localtime_r(&seconds, &local);
    char name[32];
    snprintf(name, sizeof name, "%.2d%.2d%.4d.log", local.tm_mon + 1, local.tm_mday, local.tm_year + 1900);
    return name;
}

class QueryLog : public testing::Test {
protected:
    void SetUp() override { MakeFolders(logs()); }
    std::string cgiBin() const { return folder_.path() + "/cgi-bin"; }
    std::string logs() const { return cgiBin() + "/srchdata/logs"; }
    // Every line written between `from` and `to`, across a midnight if need be.
    std::vector<std::string> Lines(time_t from, time_t to) const
    {
        std::string text = ReadFile(logs() + "/" + LogName(from));
        if (LogName(to) != LogName(from)) text += ReadFile(logs() + "/" + LogName(to));
        std::vector<std::string> lines;
        std::istringstream stream(text);
        for (std::string line; std::getline(stream, line);) lines.push_back(line);
        EXPECT_TRUE(text.empty() || text.back() == '\n');
        return lines;
    }
    TempFolder folder_;
};

const std::string LongAddress(2040, '1');

TEST_F(QueryLog, OneLinePerRequestWithAddressAndMinuteStamp)
{
    CommandLineScope commandLine(cgiBin() + "/trawlex.exe");
    struct Row {
        const char* remoteAddress;
        int startAt;
        int count;
        const char* search;
        const char* logged;  // address and text as they must appear
    };
    const Row rows[] = {
        {"10.1.2.3", 0, 20, "red apples", "10\\.1\\.2\\.3 ([0-9A-F]{8}) \\(0, 20\\) red apples"},
        {nullptr, 40, 10, "x", "0\\.0\\.0\\.0 ([0-9A-F]{8}) \\(40, 10\\) x"},
        // A search text cannot start a line of its own.
        {"::1", 0, 20, "a\nb\rc\x01" "d\x1F", "::1 ([0-9A-F]{8}) \\(0, 20\\) a b c d "},
        // Nor can anything that a Unicode-aware reader takes for a line end:
        // DEL, the C1 controls (NEL), the line and paragraph separators, and
        // bytes 0x80-0x9F outside a well-formed sequence.
        {"::1", 0, 20,
         "a\x7F" "b\xC2\x85" "c\xE2\x80\xA8" "d\xE2\x80\xA9" "e\x85" "f\xC2\x9F" "g\xC2\xA0" "h\xC3\xA9"
         "i\xE2\x80\xA7" "j\xED\xA0\x80" "k\xF0\x9F\x98\x80" "l\xE2\x85" "m\xC0\x80",
         "::1 ([0-9A-F]{8}) \\(0, 20\\) a b  c   d   e f  g\xC2\xA0h\xC3\xA9i\xE2\x80\xA7j\xED\xA0 "
         "k\xF0\x9F\x98\x80l\xE2 m\xC0 "},
        // The longest text form of an address is kept; a longer one is cut.
        {LongAddress.c_str(), 1, 2, "x", "1{45} ([0-9A-F]{8}) \\(1, 2\\) x"},
    };
    const time_t from = time(nullptr);
    for (const Row& row : rows) {
        PlainRequest request(row.remoteAddress);
        EXPECT_EQ(CgiLogQuery("srchdata\\logs\\", "(%d, %d) %s\n", row.startAt, row.count, row.search), 1);
    }
    const time_t to = time(nullptr);
    std::vector<std::string> lines = Lines(from, to);
    ASSERT_EQ(lines.size(), std::size(rows));
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, std::regex(rows[i].logged)));
        int64_t stamp = std::stoll(match[1].str(), nullptr, 16);
        EXPECT_GE(stamp, LocalMinuteStamp(from));
        EXPECT_LE(stamp, LocalMinuteStamp(to));
    }
}

TEST_F(QueryLog, MissingFolderLeavesACommentAfterTheRetries)
{
    CommandLineScope commandLine(cgiBin() + "/trawlex.exe");
    PlainRequest request("10.1.2.3");
    PlatOutputFlush();
    testing::internal::CaptureStdout();
    CgiSendHeader();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CgiLogQuery("srchdata\\nologs\\", "(%d, %d) %s\n", 0, 20, "x"), 1);
    std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(StopCapture(), "Content-Type: text/html\n\n<!-- Unable to update log\n -->\n\n");
    // 100 attempts, each followed by a pause of at least 10 ms: a lower bound
    // that no machine can undercut, so this never fails by chance.
    EXPECT_GE(spent.count(), 1.0);
    EXPECT_FALSE(FileExists(cgiBin() + "/srchdata/nologs"));
}

TEST_F(QueryLog, PathThatDoesNotFitIsDroppedWithTheComment)
{
    const std::string deep = folder_.path() + "/" + std::string(290, 'd') + "/trawlex.exe";  // folder fits 320
    CommandLineScope commandLine(deep);
    PlainRequest request(nullptr);
    PlatOutputFlush();
    testing::internal::CaptureStdout();
    CgiSendHeader();
    EXPECT_EQ(CgiLogQuery("srchdata\\logs\\", "(%d, %d) %s\n", 0, 20, "x"), 1);
    EXPECT_EQ(StopCapture(), "Content-Type: text/html\n\n<!-- Unable to update log\n -->\n\n");
}

TEST(QueryLogDeath, NullArgumentsEndTheRun)
{
    const char* pattern = "^Internal error\\.\\.\\.\nASSERT:Pointer is NULL\\.\\.\\.\n       \\(cgi/[0-9]+\\)\n$";
    EXPECT_EXIT(CgiLogQuery(nullptr, "x\n"), ExitedWithCode(1), pattern);
    EXPECT_EXIT(CgiLogQuery("srchdata\\logs\\", nullptr), ExitedWithCode(1), pattern);
}

}  // namespace
