// Every way of finding candidates gives the leftmost occurrence that a plain
// byte-by-byte search gives, on ranges built to hit each path's edges, and
// every way of searching a set gives what its patterns give one at a time.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "corv-vector.h"
#include "fastsrch.h"

namespace {

bool SameByte(unsigned char a, unsigned char b, bool ignoreCase)
{
    auto fold = [](unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; };
    return ignoreCase ? fold(a) == fold(b) : a == b;
}

long PlainSearch(const std::string& pattern, const std::string& range, size_t from, bool ignoreCase)
{
    for (size_t at = from; at + pattern.size() <= range.size(); ++at) {
        size_t i = 0;
        while (i < pattern.size() && SameByte(pattern[i], range[at + i], ignoreCase)) ++i;
        if (i == pattern.size()) return static_cast<long>(at);
    }
    return -1;
}

// Every vector level, and sets through the automaton.
struct SearchWay {
    VectorLevel level;
    bool automaton;
};

// Names the way in reports; without it the framework prints the record's raw
// bytes, padding included, which memcheck rightly calls uninitialised.
void PrintTo(const SearchWay& way, std::ostream* out)
{
    *out << VectorLevelName(way.level) << (way.automaton ? " automaton" : "");
}

class PatternPaths : public testing::TestWithParam<SearchWay> {
protected:
    void SetUp() override
    {
        levelBefore_ = VectorLevelInUse();
        UseVectorLevel(GetParam().level);
        PreferPatternSetAutomaton(GetParam().automaton);
    }
    void TearDown() override
    {
        UseVectorLevel(levelBefore_);
        PreferPatternSetAutomaton(false);
    }

private:
    VectorLevel levelBefore_ = VectorPortable;
};

// Letters of both cases, their folded neighbours ('@', '[', '`', '{'), the
// control bytes that fold onto letters under |0x20, bytes above 0x7F and zero.
std::string RandomText(std::mt19937& random, size_t length)
{
    static const std::string Alphabet = std::string("aAbBzZ@[`{\x01\x1A\x41\xC9\xE9 \0", 17);
    std::string text;
    for (size_t i = 0; i < length; ++i) text += Alphabet[random() % Alphabet.size()];
    return text;
}

TEST_P(PatternPaths, EveryOccurrenceIsTheLeftmostOfThePlainSearch)
{
    std::mt19937 random(7);
    for (int round = 0; round < 4000; ++round) {
        size_t patternLength = 1 + random() % (round % 10 == 0 ? 256 : 5);
        std::string pattern = RandomText(random, patternLength);
        if (pattern.find('\0') != std::string::npos) pattern.erase(pattern.find('\0'));
        if (pattern.empty()) continue;
        std::string range = RandomText(random, random() % 200);
        if (!range.empty() && random() % 2) range.replace(random() % range.size(), 0, pattern);
        bool ignoreCase = round % 3 != 0;
        TextPattern compiled;
        ASSERT_EQ(CompilePattern(&compiled, pattern.c_str(), ignoreCase ? PatternIgnoreCase : PatternExactCase), 1);
        // An exact-size heap block, so a read past the range's end is caught.
        std::unique_ptr<char[]> block(new char[range.empty() ? 1 : range.size()]);
        std::copy(range.begin(), range.end(), block.get());
        const char* start = block.get();
        const char* end = start + range.size();
        for (size_t from = 0; from <= range.size(); from += 1 + random() % 7) {
            const char* found = reinterpret_cast<const char*>(1);
            int result = FindPattern(&compiled, start + from, end, &found);
            long expected = PlainSearch(pattern, range, from, ignoreCase);
            ASSERT_EQ(result, expected >= 0 ? 1 : 0) << "round " << round;
            ASSERT_EQ(found, expected >= 0 ? start + expected : nullptr) << "round " << round;
        }
    }
}

// Every occurrence of a set's patterns, one pattern at a time: what
// FindPattern gives when called again after each occurrence's end.
std::vector<std::vector<long>> EachInTurn(const std::vector<std::string>& patterns, const std::string& range)
{
    std::vector<std::vector<long>> hits(patterns.size());
    for (size_t i = 0; i < patterns.size(); ++i)
        for (long at = PlainSearch(patterns[i], range, 0, true); at >= 0;
             at = PlainSearch(patterns[i], range, static_cast<size_t>(at) + patterns[i].size(), true))
            hits[i].push_back(at);
    return hits;
}

void CollectHit(void* hits, const PatternHit* found, int count)
{
    auto& collected = *static_cast<std::pair<const char*, std::vector<std::vector<long>>>*>(hits);
    for (int i = 0; i < count; ++i)
        collected.second[static_cast<size_t>(found[i].pattern)].push_back(found[i].at - collected.first);
}

// Sets of 1 to 30 patterns (the filter tells 8 apart per pass and takes up
// to 24; more take the automaton), short ones that overlap and repeat, and
// texts that hold them at both ends: every path reports what the patterns
// give one at a time.
TEST_P(PatternPaths, SetsReportWhatEachPatternGivesAlone)
{
    std::mt19937 random(11);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::string> patterns(1 + random() % (round % 4 == 0 ? 30 : 8));
        for (std::string& pattern : patterns) {
            do pattern = RandomText(random, 1 + random() % (round % 7 == 0 ? 40 : 4));
            while (pattern.find('\0') != std::string::npos);
        }
        std::string range = RandomText(random, random() % 300);
        range.insert(0, patterns[random() % patterns.size()]);
        range += patterns[random() % patterns.size()];
        std::vector<TextPattern> compiled(patterns.size());
        std::vector<const TextPattern*> pointers;
        for (size_t i = 0; i < patterns.size(); ++i) {
            ASSERT_EQ(CompilePattern(&compiled[i], patterns[i].c_str(), PatternIgnoreCase), 1);
            pointers.push_back(&compiled[i]);
        }
        auto set = std::make_unique<PatternSet>();
        ASSERT_EQ(CompilePatternSet(set.get(), pointers.data(), static_cast<int>(pointers.size())), 1);
        std::unique_ptr<char[]> block(new char[range.size()]);
        std::copy(range.begin(), range.end(), block.get());
        std::pair<const char*, std::vector<std::vector<long>>> hits{block.get(), std::vector<std::vector<long>>(patterns.size())};
        FindPatternSet(set.get(), block.get(), block.get() + range.size(), CollectHit, &hits);
        ASSERT_EQ(hits.second, EachInTurn(patterns, range)) << "round " << round;
    }
}

// Runs of one byte that patterns begin and end with (base64 images, rules,
// padding) make every position a candidate: the filters give way to a
// search whose cost does not depend on the bytes, and report the same.
TEST_P(PatternPaths, RunsThatEveryPositionIsACandidateInGiveTheSameOccurrences)
{
    std::mt19937 random(13);
    for (int round = 0; round < 300; ++round) {
        const char runByte = "aA=-"[round % 4];
        std::string range(1000 + random() % 4000, runByte);
        const size_t length = 3 + random() % 60;
        std::vector<std::string> patterns(1 + random() % (round % 3 == 0 ? 30 : 12));
        for (std::string& pattern : patterns) {
            pattern.assign(length, runByte);
            pattern[random() % length] = "bB=x"[random() % 4];
            if (random() % 4 == 0) range.insert(random() % range.size(), pattern);
        }
        const bool ignoreCase = round % 5 != 0;
        std::vector<TextPattern> compiled(patterns.size());
        std::vector<const TextPattern*> pointers;
        for (size_t i = 0; i < patterns.size(); ++i) {
            ASSERT_EQ(CompilePattern(&compiled[i], patterns[i].c_str(), ignoreCase ? PatternIgnoreCase : PatternExactCase), 1);
            pointers.push_back(&compiled[i]);
        }
        const char* start = range.data();
        const char* found = nullptr;
        const long expected = PlainSearch(patterns[0], range, 0, ignoreCase);
        ASSERT_EQ(FindPattern(&compiled[0], start, start + range.size(), &found), expected >= 0 ? 1 : 0) << round;
        ASSERT_EQ(found, expected >= 0 ? start + expected : nullptr) << round;
        if (!ignoreCase) continue;
        auto set = std::make_unique<PatternSet>();
        ASSERT_EQ(CompilePatternSet(set.get(), pointers.data(), static_cast<int>(pointers.size())), 1);
        std::pair<const char*, std::vector<std::vector<long>>> hits{start, std::vector<std::vector<long>>(patterns.size())};
        FindPatternSet(set.get(), start, start + range.size(), CollectHit, &hits);
        ASSERT_EQ(hits.second, EachInTurn(patterns, range)) << "round " << round;
    }
}

// The filter compares a pattern's rarest bytes, wherever they lie in it:
// an occurrence that the range's end cuts is none, though the bytes after
// the range complete it, at every place among the filter's windows.
TEST_P(PatternPaths, AnOccurrenceThatTheRangesEndCutsIsNone)
{
    const std::string patterns[] = {"eezqee", "zeeeee", "eeeeez", "asyncio", "\xD0\xBF\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82",
                                    std::string(40, 'e') + "jq" + std::string(40, 'e')};
    for (const std::string& pattern : patterns) {
        TextPattern compiled;
        ASSERT_EQ(CompilePattern(&compiled, pattern.c_str(), PatternIgnoreCase), 1);
        for (size_t before = 0; before < 70; ++before) {
            const std::string text = std::string(before, '.') + pattern;
            for (size_t cut = before; cut <= text.size(); ++cut) {
                const char* found = nullptr;
                const bool whole = cut == text.size();
                ASSERT_EQ(FindPattern(&compiled, text.data(), text.data() + cut, &found), whole ? 1 : 0)
                    << pattern << ", " << before << " before, cut at " << cut;
                ASSERT_EQ(found, whole ? text.data() + before : nullptr);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllPaths, PatternPaths,
                         testing::Values(SearchWay{VectorAvx2, false}, SearchWay{VectorSse2, false},
                                         SearchWay{VectorPortable, false}, SearchWay{VectorAvx2, true}));

}  // namespace
