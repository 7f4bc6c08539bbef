// Fast text search: compiled shift-table patterns found in byte ranges.
//
// Every range is copied into a heap block of exactly its size, so that a read
// past its end (or before its start) shows up in a sanitizer build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fastsrch.h"

namespace {

class Range {
public:
    explicit Range(const std::string& bytes) : size_(bytes.size()), block_(new char[bytes.size()])
    {
        if (size_) memcpy(block_.get(), bytes.data(), size_);
    }
    const char* begin() const { return block_.get(); }
    const char* end() const { return block_.get() + size_; }
private:
    size_t size_;
    std::unique_ptr<char[]> block_;
};

// Offsets of every occurrence, found by calling again one byte after each hit.
std::vector<long> FindAll(const TextPattern& pattern, const Range& range)
{
    std::vector<long> offsets;
    const char* from = range.begin();
    const char* found = "sentinel";
    while (FindPattern(&pattern, from, range.end(), &found)) {
        offsets.push_back(found - range.begin());
        from = found + 1;
    }
    EXPECT_EQ(found, nullptr);
    return offsets;
}

// The plain search the shift table must agree with.
std::vector<long> ReferenceAll(const std::string& pattern, const std::string& text, bool ignoreCase)
{
    auto fold = [ignoreCase](char c) {
        unsigned char byte = static_cast<unsigned char>(c);
        return (ignoreCase && byte >= 'a' && byte <= 'z') ? byte - 32 : byte;
    };
    std::vector<long> offsets;
    for (auto at = text.begin();; ++at) {
        at = std::search(at, text.end(), pattern.begin(), pattern.end(),
                         [&](char a, char b) { return fold(a) == fold(b); });
        if (at == text.end()) break;
        offsets.push_back(at - text.begin());
    }
    return offsets;
}

TEST(FastSearch, CompileRefusesEmptyAndOverlongTexts)
{
    TextPattern pattern;
    EXPECT_EQ(CompilePattern(&pattern, "", PatternIgnoreCase), 0);
    EXPECT_EQ(CompilePattern(&pattern, std::string(257, 'a').c_str(), PatternIgnoreCase), 0);
    EXPECT_EQ(CompilePattern(&pattern, std::string(256, 'a').c_str(), PatternIgnoreCase), 1);
    EXPECT_EQ(pattern.length, 256);
    EXPECT_EQ(CompilePattern(&pattern, "x", PatternExactCase), 1);
    EXPECT_EQ(pattern.length, 1);
}

TEST(FastSearch, EdgeCases)
{
    struct Row {
        const char* name;
        std::string pattern;
        int32_t mode;
        std::string text;
        std::vector<long> offsets;
    };
    const int32_t Ignore = PatternIgnoreCase, Exact = PatternExactCase;
    const Row rows[] = {
        {"letters fold", "cat", Ignore, "the CAT sat on a Cat", {4, 17}},
        {"exact case", "cat", Exact, "the CAT sat on a cat", {17}},
        {"exact case upper", "A", Exact, "aAa", {1}},
        {"range too short", "abc", Ignore, "ab", {}},
        {"empty range", "a", Ignore, "", {}},
        {"fills the range", "abc", Ignore, "abc", {0}},
        {"start and end", "abc", Ignore, "abcxxabc", {0, 5}},
        {"overlapping", "aa", Ignore, "aaa", {0, 1}},
        {"high bytes match themselves", "\xC9", Ignore, "\xE9\xC9\xE9", {1}},
        {"high bytes match themselves 2", "\xE9t\xE9", Ignore, "\xC9T\xC9 \xE9T\xE9", {4}},
        {"brackets do not fold", "[", Ignore, "{[{", {1}},
        {"partner of a mark", "!", Ignore, "A!A", {1}},
        {"zero bytes are searched", "ab", Ignore, std::string("\0ab\0AB\0", 7), {1, 4}},
        {"zero bytes only", "x", Ignore, std::string(5, '\0'), {}},
        {"shift past a near miss", "abcd", Ignore, "abcabcabcd", {6}},
        {"repeated last byte", "xaa", Ignore, "aaxaaaxaa", {2, 6}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TextPattern pattern;
        ASSERT_EQ(CompilePattern(&pattern, row.pattern.c_str(), row.mode), 1);
        Range range(row.text);
        EXPECT_EQ(FindAll(pattern, range), row.offsets);
    }
}

TEST(FastSearch, RangeEndIsExclusive)
{
    TextPattern pattern;
    CompilePattern(&pattern, "abc", PatternIgnoreCase);
    Range range("xabcx");
    const char* found = "sentinel";
    EXPECT_EQ(FindPattern(&pattern, range.begin(), range.begin() + 3, &found), 0);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(FindPattern(&pattern, range.begin() + 1, range.begin() + 4, &found), 1);
    EXPECT_EQ(found, range.begin() + 1);
    EXPECT_EQ(FindPattern(&pattern, range.begin() + 2, range.end(), &found), 0);
}

// Every one-byte pattern against every byte.
TEST(FastSearch, EveryByteMatchesItselfAndItsAsciiCasePartner)
{
    auto isLetter = [](int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    int mismatches = 0;
    for (int p = 1; p <= 255; ++p) {
        const char text[2] = {static_cast<char>(p), '\0'};
        TextPattern ignore, exact;
        CompilePattern(&ignore, text, PatternIgnoreCase);
        CompilePattern(&exact, text, PatternExactCase);
        for (int b = 0; b <= 255; ++b) {
            Range range(std::string(1, static_cast<char>(b)));
            const char* found;
            bool folded = p == b || (isLetter(p) && isLetter(b) && (p ^ b) == 0x20);
            bool ok = FindPattern(&ignore, range.begin(), range.end(), &found) == (folded ? 1 : 0) &&
                      FindPattern(&exact, range.begin(), range.end(), &found) == (p == b ? 1 : 0);
            if (!ok && ++mismatches <= 10) ADD_FAILURE() << "pattern byte " << p << ", text byte " << b;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(FastSearch, LongestPatternIsFound)
{
    std::mt19937 random(7);
    std::string pattern;
    for (int i = 0; i < 256; ++i) pattern += static_cast<char>('a' + random() % 3);
    std::string text;
    for (int i = 0; i < 1000; ++i) text += static_cast<char>('a' + random() % 4);
    text.replace(300, 256, pattern);
    text.replace(700, 256, pattern);
    text[700] = 'D';  // a near miss in its first byte
    for (char& c : pattern) c = static_cast<char>(c - 32);
    TextPattern compiled;
    ASSERT_EQ(CompilePattern(&compiled, pattern.c_str(), PatternIgnoreCase), 1);
    EXPECT_EQ(FindAll(compiled, Range(text)), ReferenceAll(pattern, text, true));
    EXPECT_EQ(FindAll(compiled, Range(text)), std::vector<long>{300});
}

// Random patterns over a small alphabet (with zero bytes, a high byte and its
// would-be partner, and characters whose "partners" are unrelated), in random
// ranges with planted occurrences; the seed is fixed.
TEST(FastSearch, AgreesWithAPlainSearch)
{
    const std::string alphabet("aAbB[{!\xC9\xE9 \0", 11);
    std::mt19937 random(20261207);
    size_t occurrences = 0;
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    for (int round = 0; round < 4000; ++round) {
        const size_t patternLength = pick(10) == 0 ? 200 + pick(57) : 1 + pick(6);
        std::string pattern;
        while (pattern.size() < patternLength) {
            char c = alphabet[pick(alphabet.size() - 1)];  // no zero byte in a pattern text
            pattern += c;
        }
        std::string text;
        const size_t textLength = pick(patternLength + 300);
        while (text.size() < textLength) text += alphabet[pick(alphabet.size())];
        for (size_t planted = pick(4); planted > 0 && text.size() >= patternLength; --planted) {
            size_t at = pick(text.size() - patternLength + 1);
            for (size_t i = 0; i < patternLength; ++i) {
                char c = pattern[i];
                if (pick(2) && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) c ^= 0x20;
                text[at + i] = c;
            }
        }
        const bool ignoreCase = pick(4) != 0;
        size_t start = pick(text.size() + 1);
        size_t end = start + pick(text.size() - start + 1);
        std::string slice = text.substr(start, end - start);
        TextPattern compiled;
        ASSERT_EQ(CompilePattern(&compiled, pattern.c_str(), ignoreCase ? PatternIgnoreCase : PatternExactCase), 1);
        const std::vector<long> expected = ReferenceAll(pattern, slice, ignoreCase);
        ASSERT_EQ(FindAll(compiled, Range(slice)), expected)
            << "round " << round << ", pattern length " << patternLength << ", range " << slice.size();
        occurrences += expected.size();
    }
    EXPECT_GT(occurrences, 2000u);  // the rounds do find things
}

TEST(FastSearchDeath, NullArgumentsEndTheRun)
{
    const char* pattern = "^Internal error\\.\\.\\.\nASSERT:Pointer is NULL\\.\\.\\.\n       \\(fastsrch/[0-9]+\\)\n$";
    TextPattern compiled;
    CompilePattern(&compiled, "a", PatternIgnoreCase);
    const char* text = "a";
    EXPECT_EXIT(CompilePattern(&compiled, nullptr, PatternIgnoreCase), testing::ExitedWithCode(1), pattern);
    EXPECT_EXIT(FindPattern(&compiled, text, text + 1, nullptr), testing::ExitedWithCode(1), pattern);
}

}  // namespace
