// fastsrch: pattern search. The shift-table search (Horspool) is the portable
// level; on x86-64 a vector filter of each window's first and last byte
// (SSE2, or AVX2) finds the candidates instead. Every level gives the
// leftmost occurrence, so results never depend on the level.
#include "fastsrch.h"

#include <cstddef>
#include <cstring>

#include "corv-core.h"
#include "corv-str.h"
#include "corv-vector.h"
#include "fastsrch-internal.h"

using fastsrch_internal::CandidateWork;
using fastsrch_internal::MatchesAt;

namespace {

const char* const SearchModule = "fastsrch";

unsigned char CasePartner(unsigned char byte)
{
    if (byte >= 'a' && byte <= 'z') return static_cast<unsigned char>(byte - 32);
    return static_cast<unsigned char>(byte + 32);
}

unsigned char UnderMode(const TextPattern* pattern, unsigned char byte)
{
    return pattern->mode == PatternExactCase ? byte : FoldAsciiUpper(byte);
}

// Knuth-Morris-Pratt: the leftmost occurrence from `from` on, in time linear
// in the bytes whatever they hold.
ptrdiff_t FindWithBorders(const TextPattern* pattern, const unsigned char* start, ptrdiff_t from, ptrdiff_t range)
{
    int32_t matched = 0;
    for (ptrdiff_t at = from; at < range; ++at) {
        const unsigned char byte = UnderMode(pattern, start[at]);
        while (matched > 0 && UnderMode(pattern, pattern->text[matched]) != byte) matched = pattern->border[matched - 1];
        if (UnderMode(pattern, pattern->text[matched]) == byte) ++matched;
        if (matched == pattern->length) return at + 1 - matched;
    }
    return -1;
}

void ComputeBorders(TextPattern* pattern)
{
    pattern->border[0] = 0;
    int16_t border = 0;
    for (int i = 1; i < pattern->length; ++i) {
        const unsigned char byte = UnderMode(pattern, pattern->text[i]);
        while (border > 0 && UnderMode(pattern, pattern->text[border]) != byte) border = pattern->border[border - 1];
        if (UnderMode(pattern, pattern->text[border]) == byte) ++border;
        pattern->border[i] = border;
    }
}

// Shift-table search (Horspool): advance by the table while the last byte of the window
// cannot end a match, compare when it can, and advance by one after a miss.
ptrdiff_t FindWithShiftTable(const TextPattern* pattern, const unsigned char* start, ptrdiff_t from,
                             ptrdiff_t range)
{
    const ptrdiff_t length = pattern->length;
    CandidateWork work;
    for (ptrdiff_t last = from + length - 1; last < range;) {
        unsigned char shift = pattern->shift[start[last]];
        if (shift != 0) {
            last += shift;
            continue;
        }
        if (MatchesAt(pattern, start + (last - (length - 1)))) return last - (length - 1);
        work.Add(length);
        if (work.Spent(last - from)) return FindWithBorders(pattern, start, last - (length - 1), range);
        last += 1;
    }
    return -1;
}

#ifdef CORV_VECTOR_X86

// What the filter compares a window's first and last byte with: letters
// folded to lower case (byte | 0x20) in the ignore-case mode, other bytes as
// they are. A folded non-letter may pass the filter; the full compare decides.
struct EdgeBytes {
    unsigned char first, firstFold, last, lastFold;
};

EdgeBytes EdgesOf(const TextPattern* pattern)
{
    unsigned char first = pattern->text[0];
    unsigned char last = pattern->text[pattern->length - 1];
    bool fold = pattern->mode != PatternExactCase;
    unsigned char firstFold = (fold && IsAsciiLetter(first)) ? 0x20 : 0x00;
    unsigned char lastFold = (fold && IsAsciiLetter(last)) ? 0x20 : 0x00;
    return EdgeBytes{static_cast<unsigned char>(first | firstFold), firstFold,
                     static_cast<unsigned char>(last | lastFold), lastFold};
}

ptrdiff_t FindWithSse2(const TextPattern* pattern, const unsigned char* start, ptrdiff_t range)
{
    const ptrdiff_t length = pattern->length;
    const EdgeBytes edges = EdgesOf(pattern);
    const __m128i first = _mm_set1_epi8(static_cast<char>(edges.first));
    const __m128i firstFold = _mm_set1_epi8(static_cast<char>(edges.firstFold));
    const __m128i last = _mm_set1_epi8(static_cast<char>(edges.last));
    const __m128i lastFold = _mm_set1_epi8(static_cast<char>(edges.lastFold));
    ptrdiff_t at = 0;
    CandidateWork work;
    for (; at + length - 1 + 16 <= range; at += 16) {
        __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + at));
        __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + at + length - 1));
        __m128i both = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(head, firstFold), first),
                                     _mm_cmpeq_epi8(_mm_or_si128(tail, lastFold), last));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(both));
        if (!mask) continue;
        for (; mask; mask &= mask - 1) {
            ptrdiff_t candidate = at + __builtin_ctz(mask);
            if (MatchesAt(pattern, start + candidate)) return candidate;
            work.Add(length);
        }
        if (work.Spent(at)) return FindWithBorders(pattern, start, at + 16, range);
    }
    return FindWithShiftTable(pattern, start, at, range);
}

__attribute__((target("avx2"))) ptrdiff_t FindWithAvx2(const TextPattern* pattern, const unsigned char* start,
                                                       ptrdiff_t range)
{
    const ptrdiff_t length = pattern->length;
    const EdgeBytes edges = EdgesOf(pattern);
    const __m256i first = _mm256_set1_epi8(static_cast<char>(edges.first));
    const __m256i firstFold = _mm256_set1_epi8(static_cast<char>(edges.firstFold));
    const __m256i last = _mm256_set1_epi8(static_cast<char>(edges.last));
    const __m256i lastFold = _mm256_set1_epi8(static_cast<char>(edges.lastFold));
    ptrdiff_t at = 0;
    CandidateWork work;
    for (; at + length - 1 + 32 <= range; at += 32) {
        __m256i head = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(start + at));
        __m256i tail = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(start + at + length - 1));
        __m256i both = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(head, firstFold), first),
                                        _mm256_cmpeq_epi8(_mm256_or_si256(tail, lastFold), last));
        unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(both));
        if (!mask) continue;
        for (; mask; mask &= mask - 1) {
            ptrdiff_t candidate = at + __builtin_ctz(mask);
            if (MatchesAt(pattern, start + candidate)) return candidate;
            work.Add(length);
        }
        if (work.Spent(at)) return FindWithBorders(pattern, start, at + 32, range);
    }
    ptrdiff_t rest = FindWithSse2(pattern, start + at, range - at);
    return rest >= 0 ? at + rest : -1;
}

#endif

ptrdiff_t FindPortable(const TextPattern* pattern, const unsigned char* start, ptrdiff_t range)
{
    return FindWithShiftTable(pattern, start, 0, range);
}

ptrdiff_t FindAtLevel(const TextPattern* pattern, const unsigned char* start, ptrdiff_t range)
{
#ifdef CORV_VECTOR_X86
    if (pattern->level == VectorAvx2) return FindWithAvx2(pattern, start, range);
    if (pattern->level == VectorSse2) return FindWithSse2(pattern, start, range);
#endif
    return FindPortable(pattern, start, range);
}

}  // namespace

int CompilePattern(TextPattern* pattern, const char* text, int32_t mode)
{
    CORV_CHECK_POINTER(SearchModule, pattern);
    CORV_CHECK_POINTER(SearchModule, text);
    memset(pattern, 0, sizeof *pattern);
    pattern->mode = mode;
    pattern->level = VectorLevelInUse();
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
    ComputeBorders(pattern);
    return 1;
}

int FindPattern(const TextPattern* pattern, const char* start, const char* end, const char** found)
{
    CORV_CHECK_POINTER(SearchModule, pattern);
    CORV_CHECK_POINTER(SearchModule, start);
    CORV_CHECK_POINTER(SearchModule, end);
    CORV_CHECK_POINTER(SearchModule, found);
    *found = nullptr;
    const ptrdiff_t range = end - start;
    if (pattern->length <= 0 || range < pattern->length) return 0;
    ptrdiff_t offset = FindAtLevel(pattern, reinterpret_cast<const unsigned char*>(start), range);
    if (offset < 0) return 0;
    *found = start + offset;
    return 1;
}
