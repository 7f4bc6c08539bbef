// fastsrch: several patterns found in one pass over a range, so that a
// search of many words costs little more than a search of one.
//
// One pattern goes through FindPattern. Two to 24 go through a vector filter
// of the first three bytes of each window, one pass per eight patterns: every
// byte is split into its two nibbles, and a table lookup per nibble (a byte
// shuffle) tells which patterns allow it there; a window that all three bytes
// allow is compared in full. Larger sets go through an Aho-Corasick automaton
// over ASCII-folded bytes, which costs the same for any number of patterns.
// The portable level searches the patterns one after another.
#include "fastsrch.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "corv-core.h"
#include "corv-vector.h"
#include "fastsrch-internal.h"

using fastsrch_internal::CandidateWork;
using fastsrch_internal::MatchesAt;

namespace {

const char* const SearchModule = "fastsrch";
constexpr int FilterBytes = 3;

unsigned char FoldLower(unsigned char byte) { return (byte >= 'A' && byte <= 'Z') ? byte + 32 : byte; }

// Where each pattern's search may go on: occurrences of one pattern never
// overlap. Reports an occurrence that starts at or after that point. The
// filter passes over groups of eight patterns: bit i is pattern first + i.
struct HitSink {
    const PatternSet* set;
    const unsigned char* start;
    PatternHitHandler onHit;
    void* context;
    int first;
    ptrdiff_t resume[PatternSetLimit];
    CandidateWork work;  // the vector filter's, over all its passes
    ptrdiff_t scanned;   // bytes the vector filter has passed over, over all its passes
    bool mayGiveWay;     // to the automaton, which the set has

    PatternHit batch[PatternHitBatch];
    int batched;

    void Report(int pattern, ptrdiff_t at)
    {
        if (at < resume[pattern]) return;
        resume[pattern] = at + set->lengths[pattern];
        batch[batched++] = PatternHit{reinterpret_cast<const char*>(start + at), pattern};
        if (batched == PatternHitBatch) Flush();
    }

    void Flush()
    {
        if (batched > 0) onHit(context, batch, batched);
        batched = 0;
    }

    // Compares each pattern whose bit is set with the window at `at`.
    void Verify(unsigned bits, ptrdiff_t at, ptrdiff_t range)
    {
        for (; bits; bits &= bits - 1) {
            int pattern = first + __builtin_ctz(bits);
            const TextPattern* compiled = set->patterns[pattern];
            if (at + compiled->length > range || at < resume[pattern]) continue;
            if (MatchesAt(compiled, start + at)) Report(pattern, at);
            else work.Add(compiled->length);
        }
    }
};

// ---- Pattern by pattern (the portable path) ------------------------------------

void FindEachInTurn(HitSink& sink, const char* start, const char* end)
{
    for (int pattern = 0; pattern < sink.set->count; ++pattern) {
        const TextPattern* compiled = sink.set->patterns[pattern];
        const char* hit = nullptr;
        const char* from = start + std::min<ptrdiff_t>(sink.resume[pattern], end - start);
        for (; FindPattern(compiled, from, end, &hit); from = hit + compiled->length) sink.Report(pattern, hit - start);
    }
}

// ---- The vector filter -----------------------------------------------------------

void AllowByte(PatternSet* set, int group, int position, unsigned char byte, unsigned char bit)
{
    set->lowNibbles[group][position][byte & 15] |= bit;
    set->highNibbles[group][position][byte >> 4] |= bit;
}

// A pattern shorter than the filter allows any byte after its end; a letter
// allows its other case where the pattern ignores case.
void CompileFilter(PatternSet* set)
{
    for (int pattern = 0; pattern < set->count && pattern < PatternSetFilterLimit; ++pattern) {
        const TextPattern* compiled = set->patterns[pattern];
        const int group = pattern / PatternSetGroupSize;
        const unsigned char bit = static_cast<unsigned char>(1u << (pattern % PatternSetGroupSize));
        for (int position = 0; position < FilterBytes; ++position) {
            if (position >= compiled->length) {
                for (int nibble = 0; nibble < 16; ++nibble)
                    AllowByte(set, group, position, static_cast<unsigned char>(nibble * 17), bit);
                continue;
            }
            unsigned char byte = compiled->text[position];
            AllowByte(set, group, position, byte, bit);
            if (compiled->mode != PatternExactCase && IsAsciiLetter(byte)) AllowByte(set, group, position, byte ^ 0x20, bit);
        }
    }
}

#ifdef CORV_VECTOR_X86

// The patterns of the group that sink.first begins.
unsigned GroupBits(const HitSink& sink)
{
    const int inGroup = sink.set->count - sink.first;
    return inGroup >= PatternSetGroupSize ? 0xFFu : (1u << inGroup) - 1;
}

// Windows that start too close to the range's end for the vector loads.
void VerifyTail(HitSink& sink, ptrdiff_t from, ptrdiff_t range)
{
    const unsigned all = GroupBits(sink);
    for (ptrdiff_t at = from; at < range; ++at) sink.Verify(all, at, range);
}

__attribute__((target("ssse3"))) bool FindWithFilterSsse3(HitSink& sink, ptrdiff_t range)
{
    const int group = sink.first / PatternSetGroupSize;
    __m128i low[FilterBytes], high[FilterBytes];
    for (int i = 0; i < FilterBytes; ++i) {
        low[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sink.set->lowNibbles[group][i]));
        high[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sink.set->highNibbles[group][i]));
    }
    alignas(16) unsigned char bits[16];
    ptrdiff_t at = 0;
    for (; at + (FilterBytes - 1) + 16 <= range; at += 16) {
        __m128i allowed = _mm_set1_epi8(-1);
        for (int i = 0; i < FilterBytes; ++i) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sink.start + at + i));
            allowed = _mm_and_si128(allowed, corv_vector::ClassifyNibbles(bytes, low[i], high[i]));
        }
        unsigned candidates = ~corv_vector::ZeroBytes(allowed) & 0xFFFF;
        if (!candidates) continue;
        if (sink.mayGiveWay && sink.work.Spent(sink.scanned + at)) return false;
        _mm_store_si128(reinterpret_cast<__m128i*>(bits), allowed);
        for (; candidates; candidates &= candidates - 1) {
            int offset = __builtin_ctz(candidates);
            sink.Verify(bits[offset], at + offset, range);
        }
    }
    VerifyTail(sink, at, range);
    sink.scanned += range;
    return true;
}

__attribute__((target("avx2"))) bool FindWithFilterAvx2(HitSink& sink, ptrdiff_t range)
{
    const int group = sink.first / PatternSetGroupSize;
    __m256i low[FilterBytes], high[FilterBytes];
    for (int i = 0; i < FilterBytes; ++i) {
        low[i] = corv_vector::TwiceOver(sink.set->lowNibbles[group][i]);
        high[i] = corv_vector::TwiceOver(sink.set->highNibbles[group][i]);
    }
    alignas(32) unsigned char bits[32];
    ptrdiff_t at = 0;
    for (; at + (FilterBytes - 1) + 32 <= range; at += 32) {
        __m256i allowed = _mm256_set1_epi8(-1);
        for (int i = 0; i < FilterBytes; ++i) {
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sink.start + at + i));
            allowed = _mm256_and_si256(allowed, corv_vector::ClassifyNibbles(bytes, low[i], high[i]));
        }
        unsigned candidates = ~corv_vector::ZeroBytes(allowed);
        if (!candidates) continue;
        if (sink.mayGiveWay && sink.work.Spent(sink.scanned + at)) return false;
        _mm256_store_si256(reinterpret_cast<__m256i*>(bits), allowed);
        for (; candidates; candidates &= candidates - 1) {
            int offset = __builtin_ctz(candidates);
            sink.Verify(bits[offset], at + offset, range);
        }
    }
    VerifyTail(sink, at, range);
    sink.scanned += range;
    return true;
}

#endif

// ---- The automaton ---------------------------------------------------------------

bool AutomatonFits(const PatternSet* set)
{
    int bytes = 0;
    for (int pattern = 0; pattern < set->count; ++pattern) {
        if (set->patterns[pattern]->mode == PatternExactCase) return false;
        bytes += set->patterns[pattern]->length;
    }
    return bytes <= PatternSetTextLimit;
}

// The patterns as a tree of folded bytes; next[][] holds its edges, 0 where
// there is none (no edge leads back to the root).
void BuildTree(PatternSet* set)
{
    set->stateCount = 1;
    for (int pattern = 0; pattern < set->count; ++pattern) {
        const TextPattern* compiled = set->patterns[pattern];
        int state = 0;
        for (int i = 0; i < compiled->length; ++i) {
            unsigned char byte = FoldLower(compiled->text[i]);
            if (set->next[state][byte] == 0) set->next[state][byte] = static_cast<int16_t>(set->stateCount++);
            state = set->next[state][byte];
        }
        // Patterns of the same text end in the same state: chain them.
        set->sameText[pattern] = set->endingPattern[state];
        set->endingPattern[state] = static_cast<int16_t>(pattern);
    }
}

// Breadth first: a state's failure state is shorter, so already complete.
// Missing edges then take the failure state's, and upper-case letters the
// edges of their lower-case partners.
void CompleteAutomaton(PatternSet* set)
{
    int16_t failure[PatternSetTextLimit + 1] = {};
    int16_t queue[PatternSetTextLimit + 1];
    int head = 0, tail = 0;
    for (int byte = 0; byte < 256; ++byte)
        if (set->next[0][byte]) queue[tail++] = set->next[0][byte];
    while (head < tail) {
        int state = queue[head++];
        int fail = failure[state];
        set->outputLink[state] = set->endingPattern[fail] >= 0 ? static_cast<int16_t>(fail) : set->outputLink[fail];
        for (int byte = 0; byte < 256; ++byte) {
            int16_t child = set->next[state][byte];
            if (child == 0) {
                set->next[state][byte] = set->next[fail][byte];
                continue;
            }
            failure[child] = set->next[fail][byte];
            queue[tail++] = child;
        }
    }
    for (int state = 0; state < set->stateCount; ++state)
        for (int byte = 'A'; byte <= 'Z'; ++byte) set->next[state][byte] = set->next[state][byte + 32];
}

void CompileAutomaton(PatternSet* set)
{
    for (int state = 0; state <= PatternSetTextLimit; ++state) set->endingPattern[state] = set->outputLink[state] = -1;
    BuildTree(set);
    CompleteAutomaton(set);
    for (int state = 0; state <= PatternSetTextLimit; ++state) {
        const int16_t first = set->endingPattern[state] >= 0 ? static_cast<int16_t>(state) : set->outputLink[state];
        set->firstOutput[state] = first;
        const bool alone = first >= 0 && set->outputLink[first] < 0 && set->sameText[set->endingPattern[first]] < 0;
        set->onlyOutput[state] = alone ? set->endingPattern[first] : -1;
    }
}

// Every pattern that ends at `end`, from the first state down the chain where one does.
void ReportEndingAt(HitSink& sink, int output, ptrdiff_t end)
{
    const PatternSet* set = sink.set;
    for (int state = output; state >= 0; state = set->outputLink[state])
        for (int pattern = set->endingPattern[state]; pattern >= 0; pattern = set->sameText[pattern])
            sink.Report(pattern, end + 1 - set->lengths[pattern]);
}

void FindWithAutomaton(HitSink& sink, ptrdiff_t range)
{
    const PatternSet* set = sink.set;
    int state = 0;
    for (ptrdiff_t at = 0; at < range; ++at) {
        state = set->next[state][sink.start[at]];
        const int output = set->firstOutput[state];
        if (output < 0) continue;
        const int only = set->onlyOutput[state];
        if (only >= 0) sink.Report(only, at + 1 - set->lengths[only]);
        else ReportEndingAt(sink, output, at);
    }
}

// ---- Choosing the way ------------------------------------------------------------------

enum SetMethod : int32_t { OneByOne, FilterSsse3, FilterAvx2, Automaton };

bool preferAutomaton = false;

// Chosen once, when the set is compiled, from the vector level in use then.
SetMethod MethodFor(const PatternSet* set)
{
    const VectorLevel level = VectorLevelInUse();
    const bool automaton = set->stateCount > 0;
    if (set->count == 1) return OneByOne;
    if (preferAutomaton || set->count > PatternSetFilterLimit) return automaton ? Automaton : OneByOne;
    if (level == VectorAvx2) return FilterAvx2;
    if (level == VectorSse2 && VectorHasSsse3()) return FilterSsse3;
    return OneByOne;
}

// The set's own method, or the vector filter giving way to the automaton.
void FindWithMethod(const PatternSet* set, HitSink& sink, ptrdiff_t range)
{
    const char* start = reinterpret_cast<const char*>(sink.start);
    if (set->method == Automaton) FindWithAutomaton(sink, range);
    if (set->method == OneByOne) FindEachInTurn(sink, start, start + range);
    if (set->method == Automaton || set->method == OneByOne) return;
    sink.scanned = 0;
    sink.mayGiveWay = set->stateCount > 0;
    for (sink.first = 0; sink.first < set->count; sink.first += PatternSetGroupSize) {
#ifdef CORV_VECTOR_X86
        const bool done = set->method == FilterAvx2 ? FindWithFilterAvx2(sink, range) : FindWithFilterSsse3(sink, range);
        // Its candidates cost more than the bytes: the automaton reads the
        // range again, reporting only what was not reported yet.
        if (!done) {
            FindWithAutomaton(sink, range);
            return;
        }
#endif
    }
}

}  // namespace

int CompilePatternSet(PatternSet* set, const TextPattern* const* patterns, int count)
{
    CORV_CHECK_POINTER(SearchModule, set);
    CORV_CHECK_POINTER(SearchModule, patterns);
    memset(set, 0, sizeof *set);
    if (count <= 0 || count > PatternSetLimit) return 0;
    set->count = count;
    for (int pattern = 0; pattern < count; ++pattern) {
        CORV_CHECK_POINTER(SearchModule, patterns[pattern]);
        if (patterns[pattern]->length <= 0) return 0;  // as FindPattern, an empty pattern finds nothing
        set->patterns[pattern] = patterns[pattern];
        set->lengths[pattern] = static_cast<int16_t>(patterns[pattern]->length);
    }
    CompileFilter(set);
    if (count > 1 && AutomatonFits(set)) CompileAutomaton(set);
    set->method = MethodFor(set);
    return 1;
}

int FindPatternSet(const PatternSet* set, const char* start, const char* end, PatternHitHandler onHit, void* context)
{
    return FindPatternSetFrom(set, start, end, nullptr, onHit, context);
}

int FindPatternSetFrom(const PatternSet* set, const char* start, const char* end, const int32_t* from,
                       PatternHitHandler onHit, void* context)
{
    CORV_CHECK_POINTER(SearchModule, set);
    CORV_CHECK_POINTER(SearchModule, start);
    CORV_CHECK_POINTER(SearchModule, end);
    if (!onHit) CORV_CHECK_POINTER(SearchModule, static_cast<const void*>(nullptr));
    HitSink sink;  // its resume points are set for the set's patterns only
    sink.set = set;
    sink.start = reinterpret_cast<const unsigned char*>(start);
    sink.onHit = onHit;
    sink.context = context;
    sink.first = 0;
    sink.batched = 0;
    for (int pattern = 0; pattern < set->count; ++pattern) sink.resume[pattern] = from ? std::max(0, from[pattern]) : 0;
    const ptrdiff_t range = end - start;
    FindWithMethod(set, sink, range);
    sink.Flush();
    return 1;
}

void PreferPatternSetAutomaton(bool prefer) { preferAutomaton = prefer; }
