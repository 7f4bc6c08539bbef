// fastsrch: fixed byte patterns found in byte ranges with a shift table.
// Every text search of the program goes through it.
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
    unsigned char text[PatternTextCapacity];
    unsigned char shift[256];
};

// 1 when ready; 0 for an empty text or one longer than the pattern holds.
int CompilePattern(TextPattern* pattern, const char* text, int32_t mode);
// The leftmost occurrence that lies wholly within [start, end).
int FindPattern(const TextPattern* pattern, const char* start, const char* end, const char** found);

// How candidates are found: the fastest way this processor has, unless a test
// or a benchmark asks for another. Every way gives the same results.
enum PatternSearchPath {
    PatternPathFastest,
    PatternPathShiftTable,  // the portable path
    PatternPathSse2         // x86-64 only; elsewhere the portable path
};
void SetPatternSearchPath(PatternSearchPath path);
