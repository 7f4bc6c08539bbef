// String operations: comparisons with ASCII-only case folding, the
// case-insensitive search, bounded copies and the program's folder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "corv-str.h"
#include "platform.h"

namespace {

// Restores the process command line that a test replaced.
class CommandLineScope {
public:
    explicit CommandLineScope(const std::string& line) : saved_(PlatCommandLine()) { PlatSetCommandLine(line.c_str()); }
    ~CommandLineScope() { PlatSetCommandLine(saved_.c_str()); }
private:
    std::string saved_;
};

TEST(StringCompare, WholeStrings)
{
    struct Row {
        const char* a;
        const char* b;
        int exact;
        int folded;
    };
    const Row rows[] = {
        {"abc", "abc", 1, 1},   {"abc", "ABC", 0, 1},     {"abc", "aBc", 0, 1},  {"abc", "abcd", 0, 0},
        {"abcd", "abc", 0, 0},  {"abc", "ab", 0, 0},      {"", "", 1, 1},        {"", "a", 0, 0},
        {"[", "{", 0, 0},       {"^", "~", 0, 0},         {"@", "`", 0, 0},      {"\xC9", "\xE9", 0, 0},
        {"\xC9", "\xC9", 1, 1}, {"a1 !z", "A1 !Z", 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "[" << row.a << "] [" << row.b << "]");
        EXPECT_EQ(StrEqual(row.a, row.b), row.exact);
        EXPECT_EQ(StrEqualNoCase(row.a, row.b), row.folded);
    }
}

// The counted forms are the prefix test: the terminator is one more byte.
TEST(StringCompare, CountedPositions)
{
    struct Row {
        const char* a;
        const char* b;
        int n;
        int exact;
        int folded;
    };
    const Row rows[] = {
        {"abc", "xyz", 0, 1, 1},           {"abc", "xyz", -3, 1, 1},        {"", "abc", 0, 1, 1},
        {"BASEURL=x", "baseurl", 7, 0, 1}, {"BASEURL=x", "BASEURL", 7, 1, 1}, {"BASE", "baseurl", 7, 0, 0},
        {"BASE", "BASEURL", 7, 0, 0},      {"abc", "abd", 2, 1, 1},         {"abc", "abd", 3, 0, 0},
        {"abc", "ABD", 2, 0, 1},           {"ab", "abc", 3, 0, 0},          {"abc", "ab", 3, 0, 0},
        {"[x", "{x", 2, 0, 0},             {"abc", "abc", 3, 1, 1},         {"\xE9t\xE9", "\xC9T\xC9", 3, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "[" << row.a << "] [" << row.b << "] n " << row.n);
        EXPECT_EQ(StrEqualN(row.a, row.b, row.n), row.exact);
        EXPECT_EQ(StrEqualNoCaseN(row.a, row.b, row.n), row.folded);
    }
}

TEST(StringCompare, FindNoCase)
{
    struct Row {
        const char* text;
        const char* word;
        int result;
        int offset;  // -1 for an absent position
    };
    const Row rows[] = {
        {"Hello World", "WORLD", 1, 6}, {"aaa", "", 1, 0},     {"", "", 0, -1},     {"", "a", 0, -1},
        {"abc", "abcd", 0, -1},         {"abab", "BA", 1, 1},  {"abc", "C", 1, 2},  {"xx[", "{", 0, -1},
        {"x\xC9", "\xE9", 0, -1},       {"ab", "b\xC9", 0, -1}, {"Search=x", "search=", 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "[" << row.text << "] [" << row.word << "]");
        const char* position = "sentinel";
        EXPECT_EQ(StrFindNoCase(row.text, row.word, &position), row.result);
        EXPECT_EQ(position ? position - row.text : -1, row.offset);
    }
}

// Only the ASCII letters fold; every other byte matches itself alone.
TEST(StringCompare, CaseFoldingOfEveryByte)
{
    auto isLetter = [](int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    int mismatches = 0;
    for (int a = 1; a <= 255; ++a) {
        for (int b = 1; b <= 255; ++b) {
            const char left[2] = {static_cast<char>(a), '\0'};
            const char right[2] = {static_cast<char>(b), '\0'};
            const int same = a == b;
            const int folded = same || (isLetter(a) && isLetter(b) && (a ^ b) == 0x20);
            const char* position = nullptr;
            bool ok = StrEqual(left, right) == same && StrEqualN(left, right, 1) == same &&
                      StrEqualNoCase(left, right) == folded && StrEqualNoCaseN(left, right, 1) == folded &&
                      StrFindNoCase(left, right, &position) == folded && (position == left) == (folded == 1);
            if (!ok && ++mismatches <= 10) ADD_FAILURE() << "bytes " << a << " and " << b;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(StringCopy, BoundedCopiesNeverCut)
{
    char target[8];
    strcpy(target, "old");
    EXPECT_EQ(StrCopyBounded(target, 8, "1234567"), 1);
    EXPECT_STREQ(target, "1234567");
    strcpy(target, "old");
    EXPECT_EQ(StrCopyBounded(target, 8, "12345678"), 0);
    EXPECT_STREQ(target, "old");
    EXPECT_EQ(StrAppendBounded(target, 8, "4567"), 1);
    EXPECT_STREQ(target, "old4567");
    EXPECT_EQ(StrAppendBounded(target, 8, "x"), 0);
    EXPECT_STREQ(target, "old4567");
    EXPECT_EQ(StrAppend(target, ""), 1);
    EXPECT_STREQ(target, "old4567");
}

TEST(ProgramPaths, SlashesToBackslashes)
{
    const char* rows[][2] = {{"a/b//c/", "a\\b\\\\c\\"}, {"", ""}, {"D:\\x.htm", "D:\\x.htm"}, {"/", "\\"}};
    for (auto& row : rows) {
        char path[16];
        strcpy(path, row[0]);
        EXPECT_EQ(SlashesToBackslashes(path), 1);
        EXPECT_STREQ(path, row[1]);
    }
}

TEST(ProgramPaths, ProgramDirectoryFromTheCommandLine)
{
    const std::string name319 = "\\" + std::string(317, 'a') + "\\";  // 319 characters and a terminator
    const std::string longName(5000, 'a');
    struct Row {
        std::string line;
        std::string directory;
    };
    const Row rows[] = {
        {"\"/srv/my site/cgi-bin/trawlex.exe\" -x", "\\srv\\my site\\cgi-bin\\"},
        {"/srv/site/cgi-bin/trawlex.exe", "\\srv\\site\\cgi-bin\\"},
        {"D:\\web\\cgi-bin\\prog.exe /?", "D:\\web\\cgi-bin\\"},
        {"D:/web/prog.exe", "D:\\web\\"},
        {"D:prog.exe", "D:\\"},
        {"", ""},
        {"   ", ""},
        {"\"\" -x", ""},
        {"/" + std::string(317, 'a') + "/p.exe", name319},
        {"/" + std::string(318, 'a') + "/p.exe", ""},
        // Far longer than any buffer: a cut path would name another folder.
        {"/" + longName + "/p.exe", ""},
        {"/x/" + longName + "/p.exe", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line.substr(0, 60));
        CommandLineScope scope(row.line);
        char target[PathCapacity];
        memset(target, 'Z', sizeof target);
        EXPECT_EQ(GetProgramDirectory(target, sizeof target), 1);
        ASSERT_NE(memchr(target, '\0', sizeof target), nullptr);
        EXPECT_EQ(target, row.directory);
    }
}

TEST(StringDeath, NullPointersEndTheRun)
{
    static char buffer[8] = "abc";
    void (*const actions[])() = {
        [] { StrLength(nullptr); },
        [] { StrCopy(buffer, nullptr); },
        [] { StrAppend(nullptr, "x"); },
        [] { StrEqual("a", nullptr); },
        [] { StrEqualNoCase(nullptr, "a"); },
        [] { StrEqualN("a", nullptr, 0); },
        [] { StrEqualNoCaseN(nullptr, "a", -1); },
        [] { StrFindNoCase("a", "a", nullptr); },
    };
    for (auto action : actions) {
        EXPECT_EXIT(action(), testing::ExitedWithCode(1),
                    "^Internal error\\.\\.\\.\nASSERT:Pointer is NULL\\.\\.\\.\n       \\(corv-str/[0-9]+\\)\n$");
    }
}

}  // namespace
