// fastsrch: pattern search. The shift-table search (Horspool) is the portable
// level; on x86-64 a vector filter of two bytes of each window, the pattern's
// rarest (SSE2, or AVX2), finds the candidates instead. Every level gives the
// leftmost occurrence, so results never depend on the level.
#include "fastsrch.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
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

// The two bytes of a window that the filter compares (the pattern's probes),
// and what with: letters folded to lower case (byte | 0x20) in the
// ignore-case mode, other bytes as they are. A folded non-letter may pass the
// filter; the full compare decides.
struct ProbeBytes {
    ptrdiff_t firstAt, secondAt;
    unsigned char first, firstFold, second, secondFold;
};

// The bit that folds a letter to lower case, in the ignore-case mode; else 0.
unsigned char LowerCaseBit(const TextPattern* pattern, unsigned char byte)
{
    return pattern->mode != PatternExactCase && IsAsciiLetter(byte) ? 0x20 : 0x00;
}

ProbeBytes ProbesOf(const TextPattern* pattern)
{
    const unsigned char first = pattern->text[pattern->probes[0]];
    const unsigned char second = pattern->text[pattern->probes[1]];
    const unsigned char firstFold = LowerCaseBit(pattern, first), secondFold = LowerCaseBit(pattern, second);
    return ProbeBytes{pattern->probes[0], pattern->probes[1], static_cast<unsigned char>(first | firstFold), firstFold,
                      static_cast<unsigned char>(second | secondFold), secondFold};
}

ptrdiff_t FindWithSse2(const TextPattern* pattern, const unsigned char* start, ptrdiff_t range)
{
    const ptrdiff_t length = pattern->length;
    const ProbeBytes probes = ProbesOf(pattern);
    const __m128i first = _mm_set1_epi8(static_cast<char>(probes.first));
    const __m128i firstFold = _mm_set1_epi8(static_cast<char>(probes.firstFold));
    const __m128i second = _mm_set1_epi8(static_cast<char>(probes.second));
    const __m128i secondFold = _mm_set1_epi8(static_cast<char>(probes.secondFold));
    ptrdiff_t at = 0;
    CandidateWork work;
    for (; at + length - 1 + 16 <= range; at += 16) {
        __m128i atFirst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + at + probes.firstAt));
        __m128i atSecond = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + at + probes.secondAt));
        __m128i both = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(atFirst, firstFold), first),
                                     _mm_cmpeq_epi8(_mm_or_si128(atSecond, secondFold), second));
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
    const ProbeBytes probes = ProbesOf(pattern);
    const __m256i first = _mm256_set1_epi8(static_cast<char>(probes.first));
    const __m256i firstFold = _mm256_set1_epi8(static_cast<char>(probes.firstFold));
    const __m256i second = _mm256_set1_epi8(static_cast<char>(probes.second));
    const __m256i secondFold = _mm256_set1_epi8(static_cast<char>(probes.secondFold));
    ptrdiff_t at = 0;
    CandidateWork work;
    for (; at + length - 1 + 32 <= range; at += 32) {
        __m256i atFirst = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(start + at + probes.firstAt));
        __m256i atSecond = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(start + at + probes.secondAt));
        __m256i both = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(atFirst, firstFold), first),
                                        _mm256_cmpeq_epi8(_mm256_or_si256(atSecond, secondFold), second));
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

// How common the byte text[at] is in web pages and in their folded texts,
// higher for commoner: a rough rank. ASCII letters as they come in English
// and the languages near it, then markup. Of a character of more bytes, the
// last tells it from the others of its script; its lead and the bytes
// before the last are shared by many (every letter of Cyrillic, every kana).
int Commonness(const unsigned char* text, int length, int at)
{
    static const char letters[] = " etaoinsrhldcumfpgwybvkxjqz";
    const unsigned char byte = text[at];
    if (byte >= 0x80) {
        const bool last = at + 1 == length || (text[at + 1] & 0xC0) != 0x80;
        return byte >= 0xC0 || !last ? 200 : 150;
    }
    const unsigned char lower = byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + 32) : byte;
    for (int i = 0; letters[i]; ++i)
        if (static_cast<unsigned char>(letters[i]) == lower) return 255 - 4 * i;
    if (byte == '<' || byte == '>' || byte == '/' || byte == '"' || byte == '=' || byte == '\n') return 230;
    if (byte == '.' || byte == ',' || byte == '-') return 180;
    if (byte >= '0' && byte <= '9') return 160;
    return byte < 0x20 ? 10 : 120;
}

// Where the character that holds text[at] begins.
int CharacterStart(const unsigned char* text, int at)
{
    for (int back = 0; back < 3 && at > 0 && (text[at] & 0xC0) == 0x80; ++back) --at;
    return at;
}

// The two bytes that the vector filter compares: the rarest, and the rarest
// of another value in another character, the farthest from it of those as
// rare, since neighbours go together more often than bytes apart.
void ChooseProbes(TextPattern* pattern)
{
    const unsigned char* text = pattern->text;
    const int length = pattern->length;
    int first = 0;
    for (int i = 1; i < length; ++i)
        if (Commonness(text, length, i) < Commonness(text, length, first)) first = i;
    int second = first;  // a pattern of one byte compares it twice
    int secondCost = 1 << 30;
    for (int i = 0; i < length; ++i) {
        if (i == first) continue;
        const bool apart = CharacterStart(text, i) != CharacterStart(text, first) &&
                           FoldAsciiUpper(text[i]) != FoldAsciiUpper(text[first]);
        // Rarer first, then farther.
        const int cost = (Commonness(text, length, i) + (apart ? 0 : 256)) * 1024 - std::abs(i - first);
        if (cost < secondCost) {
            secondCost = cost;
            second = i;
        }
    }
    pattern->probes[0] = static_cast<int16_t>(std::min(first, second));
    pattern->probes[1] = static_cast<int16_t>(std::max(first, second));
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
    ChooseProbes(pattern);
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
