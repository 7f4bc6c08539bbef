// The shift-table search against a plain search, in both modes: every call
// gives the leftmost occurrence that lies wholly inside its range, or none.
//
// Input: a byte giving the pattern's length less one (1 to 256 bytes), the
// pattern, two 2-byte numbers choosing the range within the text, the text.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fastsrch.h"
#include "fuzz-support.h"

using namespace fuzz_support;

namespace {

unsigned char Fold(unsigned char byte) { return (byte >= 'a' && byte <= 'z') ? byte - 32 : byte; }

// matches[i]: the pattern occurs at offset i of the range.
std::vector<bool> PlainSearch(const std::string& pattern, const char* range, size_t length, int32_t mode)
{
    std::vector<bool> matches(length, false);
    const size_t n = pattern.size();
    for (size_t i = 0; i + n <= length; ++i) {
        bool equal = true;
        for (size_t k = 0; k < n && equal; ++k) {
            const unsigned char a = static_cast<unsigned char>(pattern[k]);
            const unsigned char b = static_cast<unsigned char>(range[i + k]);
            equal = mode == PatternExactCase ? a == b : Fold(a) == Fold(b);
        }
        matches[i] = equal;
    }
    return matches;
}

void CheckMode(const std::string& pattern, const ExactBlock& range, int32_t mode)
{
    ExactBlock patternText(pattern);
    TextPattern compiled;
    const int ready = CompilePattern(&compiled, patternText.data(), mode);
    if (pattern.empty()) {
        Require(ready == 0, "an empty pattern is refused");
        return;
    }
    Require(ready == 1, "a pattern of 1 to 256 bytes compiles");

    const std::vector<bool> matches = PlainSearch(pattern, range.data(), range.size(), mode);
    // Every start position after a hit, as callers that find all hits search.
    for (size_t from = 0; from <= range.size();) {
        const char* found = reinterpret_cast<const char*>(1);
        const int result = FindPattern(&compiled, range.data() + from, range.end(), &found);
        size_t expected = from;
        while (expected < range.size() && !matches[expected]) ++expected;
        if (expected >= range.size()) {
            Require(result == 0 && found == nullptr, "no occurrence is reported as none");
            return;
        }
        Require(result == 1, "an occurrence inside the range is found");
        Require(found == range.data() + expected, "the leftmost occurrence is found");
        from = expected + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    StartCore("/srv/site/cgi-bin/trawlex.exe");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    InputReader input(data, size);
    const size_t patternLength = static_cast<size_t>(input.Byte()) + 1;
    const std::string pattern = input.Take(patternLength).c_str();  // a pattern is a text
    const uint32_t first = input.Number(2);
    const uint32_t second = input.Number(2);
    const std::string text = input.Rest();

    size_t start = first % (text.size() + 1);
    size_t end = second % (text.size() + 1);
    if (start > end) std::swap(start, end);
    ExactBlock range(text.data() + start, end - start);

    CheckMode(pattern, range, PatternIgnoreCase);
    CheckMode(pattern, range, PatternExactCase);
    return 0;
}
