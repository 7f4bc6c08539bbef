// corv-vector: the one place that knows the processor's vector units. Every
// vector path of the program (the pattern search, the pattern set's filter,
// the text filter and the visible-text reader) takes the level chosen here,
// and every level gives the same results: a level is a speed, never a
// behaviour. The level is read once when the program starts; code that
// compiles patterns or starts a reader records it then, so nothing that
// scanning threads read changes under them.
#pragma once

#include <cstdint>

enum VectorLevel : int32_t {
    VectorPortable = 0,  // plain C++ (and the compiler's portable vectors): every processor
    VectorSse2 = 1,      // x86-64: SSE2, with SSSE3 byte shuffles where the processor has them
    VectorAvx2 = 2       // x86-64: AVX2 with BMI1, BMI2, POPCNT and PCLMUL
};
constexpr int VectorLevelCount = 3;

// The environment variable that lowers the level (portable, sse2 or avx2, in
// any case), so that a user can rule a vector path out when diagnosing. It
// can never raise the level above what the processor allows.
constexpr const char* VectorLevelVariable = "TRAWLEX_VECTOR";

// The highest level this processor allows.
VectorLevel HighestVectorLevel();
// Whether the SSE2 level may use SSSE3 byte shuffles.
bool VectorHasSsse3();
// The level in use: the highest allowed, or the lower one the environment names.
VectorLevel VectorLevelInUse();
// Tests and benchmarks: use another level from now on, but never one above
// the highest; returns the level now in use. Call it only while no scanning
// threads run: what was compiled before keeps its level.
VectorLevel UseVectorLevel(VectorLevel level);
// "portable", "sse2" or "avx2".
const char* VectorLevelName(VectorLevel level);
// The level a name gives (any ASCII case); false for no level.
bool VectorLevelNamed(const char* name, VectorLevel* level);
