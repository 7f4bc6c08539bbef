// fastsrch: what the search for one pattern and the search for a set share.
// Included by the fastsrch files only.
#pragma once

#include <cstring>

#include "corv-str.h"
#include "corv-vector-kernels.h"
#include "fastsrch.h"

namespace fastsrch_internal {

// The window at candidate equals the pattern under the pattern's mode.
inline bool MatchesAt(const TextPattern* pattern, const unsigned char* candidate)
{
    const unsigned char* text = pattern->text;
    const int length = pattern->length;
    if (pattern->mode == PatternExactCase) return memcmp(text, candidate, static_cast<size_t>(length)) == 0;
    for (int i = 0; i < length; ++i)
        if (FoldAsciiUpper(text[i]) != FoldAsciiUpper(candidate[i])) return false;
    return true;
}

}  // namespace fastsrch_internal
