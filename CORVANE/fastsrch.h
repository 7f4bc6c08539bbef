// fastsrch: fixed byte patterns found in byte ranges: a shift table
// (Horspool's variant of Boyer-Moore) on the portable level, a vector filter
// of two bytes of each window on the others. Every text search of
// the program goes through it.
#pragma once

#include <cstdint>

enum : int32_t {
    PatternIgnoreCase = 0,
    PatternExactCase = 1
};

constexpr int PatternTextCapacity = 256;

struct TextPattern {
    int32_t mode;
    int32_t length;
    int32_t level;  // the vector level in use when it was compiled (see corv-vector)
    unsigned char text[PatternTextCapacity];
    unsigned char shift[256];
    // Knuth-Morris-Pratt's failure function (under the pattern's mode): the
    // longest proper border of the first i + 1 bytes. The search gives way to
    // it where candidates would cost more than the bytes they come from.
    int16_t border[PatternTextCapacity];
    // Where the two bytes that the vector filter compares lie, the first
    // before the second: the rarest (a guess from their values), apart.
    int16_t probes[2];
};

// 1 when ready; 0 for an empty text or one longer than the pattern holds.
int CompilePattern(TextPattern* pattern, const char* text, int32_t mode);
// The leftmost occurrence that lies wholly within [start, end).
int FindPattern(const TextPattern* pattern, const char* start, const char* end, const char** found);

// ---- Several patterns in one pass -------------------------------------------

// A search text of 319 characters holds no more words than this, and no
// more bytes in all of them than PatternSetTextLimit.
constexpr int PatternSetLimit = 160;
constexpr int PatternSetTextLimit = 320;
// The vector filter tells eight patterns apart in one pass over a range; a
// set of up to PatternSetFilterLimit patterns takes one pass per eight, a
// larger one is searched with an Aho-Corasick automaton, unless a pattern matches letter
// case exactly or the patterns hold more than PatternSetTextLimit bytes in
// all: then pattern by pattern.
constexpr int PatternSetGroupSize = 8;
constexpr int PatternSetFilterLimit = 3 * PatternSetGroupSize;

struct PatternSet {
    int32_t count;
    const TextPattern* patterns[PatternSetLimit];
    // The vector filter: for each group of eight patterns and each of a
    // window's first three bytes, the patterns (one bit each) that allow each
    // low and each high nibble.
    unsigned char lowNibbles[PatternSetFilterLimit / PatternSetGroupSize][3][16];
    unsigned char highNibbles[PatternSetFilterLimit / PatternSetGroupSize][3][16];
    int32_t method;  // how it is searched, chosen when it is compiled
    // The automaton (Aho-Corasick, its transitions complete) over ASCII-folded bytes: for each state the next state
    // for every byte, the pattern that ends there (or -1), the next state
    // down its suffix chain where one ends (or -1), and a pattern that has
    // the same text as another (or -1).
    int32_t stateCount;
    int16_t next[PatternSetTextLimit + 1][256];
    int16_t endingPattern[PatternSetTextLimit + 1];
    int16_t outputLink[PatternSetTextLimit + 1];
    int16_t sameText[PatternSetLimit];
    int16_t firstOutput[PatternSetTextLimit + 1];  // the first state down the chain where one ends, or -1
    int16_t onlyOutput[PatternSetTextLimit + 1];   // the pattern when it is the only one that ends there, or -1
    int16_t lengths[PatternSetLimit];              // each pattern's, at hand for every occurrence
};

// An occurrence found: where it starts, and the pattern's index in the set.
struct PatternHit {
    const char* at;
    int32_t pattern;
};
// Called with the occurrences found, a batch of up to PatternHitBatch at a
// time, so that a search with a hit at nearly every byte costs no call for
// each.
using PatternHitHandler = void (*)(void* context, const PatternHit* hits, int count);
constexpr int PatternHitBatch = 256;

// 1 when ready; 0 for no patterns or more than PatternSetLimit. The set keeps
// pointers to the patterns, which must outlive it.
int CompilePatternSet(PatternSet* set, const TextPattern* const* patterns, int count);
// Reports every occurrence of every pattern within [start, end): the
// occurrences of one pattern come in increasing order and never overlap, as
// FindPattern called again after each occurrence's end would find them.
int FindPatternSet(const PatternSet* set, const char* start, const char* end, PatternHitHandler onHit, void* context);
// The same with each pattern's search beginning at from[pattern] bytes after
// start: where it left off in a range that this one goes on from.
int FindPatternSetFrom(const PatternSet* set, const char* start, const char* end, const int32_t* from,
                       PatternHitHandler onHit, void* context);

// ---- Tests ------------------------------------------------------------------

// Sets of two to PatternSetFilterLimit patterns compiled from now on go
// through the automaton instead of the vector filter (where it fits), so
// that tests and benchmarks can compare the two on the same sets.
void PreferPatternSetAutomaton(bool prefer);
