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

// A filter's candidates are compared in full: in a run of bytes that a
// pattern begins and ends with (base64 images, rules of "=", padding) every
// position is one, and the comparisons would cost the run's length times the
// pattern's. The work they take is counted, and once it passes twice the
// bytes scanned (and a start), the search gives way to a method whose cost
// does not depend on the bytes.
struct CandidateWork {
    ptrdiff_t compared = 0;
    void Add(ptrdiff_t bytes) { compared += bytes; }
    bool Spent(ptrdiff_t scanned) const { return compared > 2 * scanned + 1024; }
};

}  // namespace fastsrch_internal
