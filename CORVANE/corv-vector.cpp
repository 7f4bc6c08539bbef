// corv-vector: one detection of the processor's vector units, and the level
// that the whole program uses.
#include "corv-vector.h"

#include <cstdlib>

#include "corv-str.h"

namespace {

struct VectorUnits {
    VectorLevel highest = VectorPortable;
    bool ssse3 = false;
};

VectorUnits DetectUnits()
{
    VectorUnits units;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    units.highest = VectorSse2;  // every x86-64 processor has SSE2
    units.ssse3 = __builtin_cpu_supports("ssse3");
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                      __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt") &&
                      __builtin_cpu_supports("pclmul");
    if (avx2 && units.ssse3) units.highest = VectorAvx2;
#endif
    return units;
}

// Function-local, so that patterns compiled while the program starts
// (before this file's own start-up has run) find them ready.
const VectorUnits& Units()
{
    static const VectorUnits units = DetectUnits();
    return units;
}

VectorLevel Clamped(VectorLevel level) { return level > Units().highest ? Units().highest : level; }

VectorLevel LevelFromEnvironment()
{
    VectorLevel named = Units().highest;
    const char* value = getenv(VectorLevelVariable);
    if (value && VectorLevelNamed(value, &named)) return Clamped(named);
    return Units().highest;
}

VectorLevel& LevelInUse()
{
    static VectorLevel level = LevelFromEnvironment();
    return level;
}

const char* const LevelNames[VectorLevelCount] = {"portable", "sse2", "avx2"};

}  // namespace

VectorLevel HighestVectorLevel() { return Units().highest; }

bool VectorHasSsse3() { return Units().ssse3; }

VectorLevel VectorLevelInUse() { return LevelInUse(); }

VectorLevel UseVectorLevel(VectorLevel level)
{
    LevelInUse() = Clamped(level);
    return LevelInUse();
}

const char* VectorLevelName(VectorLevel level)
{
    return level >= 0 && level < VectorLevelCount ? LevelNames[level] : "";
}

bool VectorLevelNamed(const char* name, VectorLevel* level)
{
    for (int i = 0; i < VectorLevelCount; ++i) {
        if (StrEqualNoCase(name, LevelNames[i])) {
            *level = static_cast<VectorLevel>(i);
            return true;
        }
    }
    return false;
}
