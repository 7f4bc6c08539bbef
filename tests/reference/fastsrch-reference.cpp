// Reference pattern search for the differential test: the plain shift-table
// search, one window at a time, with no filter in front of it.
#include "fastsrch.h"

#include <cstddef>
#include <cstring>

#include "corv-core.h"
#include "corv-str.h"

namespace {

const char* const SearchModule = "fastsrch";

unsigned char CasePartner(unsigned char byte)
{
    if (byte >= 'a' && byte <= 'z') return static_cast<unsigned char>(byte - 32);
    return static_cast<unsigned char>(byte + 32);
}

}  // namespace

int CompilePattern(TextPattern* pattern, const char* text, int32_t mode)
{
    CORV_CHECK_POINTER(SearchModule, pattern);
    CORV_CHECK_POINTER(SearchModule, text);
    memset(pattern, 0, sizeof *pattern);
    pattern->mode = mode;
    int length = StrLength(text);
    if (length == 0 || length > PatternTextCapacity) return 0;
    pattern->length = length;
    memcpy(pattern->text, text, static_cast<size_t>(length));
    memset(pattern->shift, length & 0xFF, sizeof pattern->shift);
    for (int i = 0; i < length; ++i) {
        unsigned char byte = pattern->text[i];
        unsigned char distance = static_cast<unsigned char>(length - 1 - i);
        pattern->shift[byte] = distance;
        if (mode != PatternExactCase) pattern->shift[CasePartner(byte)] = distance;
    }
    return 1;
}

int FindPattern(const TextPattern* pattern, const char* start, const char* end, const char** found)
{
    CORV_CHECK_POINTER(SearchModule, pattern);
    CORV_CHECK_POINTER(SearchModule, start);
    CORV_CHECK_POINTER(SearchModule, end);
    CORV_CHECK_POINTER(SearchModule, found);
    *found = nullptr;
    const ptrdiff_t length = pattern->length;
    const ptrdiff_t range = end - start;
    if (length <= 0 || range < length) return 0;
    const char* patternText = reinterpret_cast<const char*>(pattern->text);
    // Offsets rather than pointers: a shift may step past the range's end.
    for (ptrdiff_t last = length - 1; last < range;) {
        unsigned char shift = pattern->shift[static_cast<unsigned char>(start[last])];
        if (shift != 0) {
            last += shift;
            continue;
        }
        const char* candidate = start + (last - (length - 1));
        int n = static_cast<int>(length);
        bool equal = pattern->mode == PatternExactCase ? StrEqualN(patternText, candidate, n)
                                                       : StrEqualNoCaseN(patternText, candidate, n);
        if (equal) {
            *found = candidate;
            return 1;
        }
        last += 1;
    }
    return 0;
}

// A set is searched pattern by pattern, each from the range's start.
int CompilePatternSet(PatternSet* set, const TextPattern* const* patterns, int count)
{
    CORV_CHECK_POINTER(SearchModule, set);
    CORV_CHECK_POINTER(SearchModule, patterns);
    memset(set, 0, sizeof *set);
    if (count <= 0 || count > PatternSetLimit) return 0;
    set->count = count;
    for (int pattern = 0; pattern < count; ++pattern) set->patterns[pattern] = patterns[pattern];
    return 1;
}

int FindPatternSetFrom(const PatternSet* set, const char* start, const char* end, const int32_t* from,
                       PatternHitHandler onHit, void* context)
{
    for (int pattern = 0; pattern < set->count; ++pattern) {
        const TextPattern* compiled = set->patterns[pattern];
        const char* hit = nullptr;
        const char* at = start + (from && from[pattern] > 0 ? from[pattern] : 0);
        for (; at <= end && FindPattern(compiled, at, end, &hit); at = hit + compiled->length) {
            const PatternHit found{hit, pattern};
            onHit(context, &found, 1);
        }
    }
    return 1;
}

int FindPatternSet(const PatternSet* set, const char* start, const char* end, PatternHitHandler onHit, void* context)
{
    return FindPatternSetFrom(set, start, end, nullptr, onHit, context);
}

void PreferPatternSetAutomaton(bool) {}
