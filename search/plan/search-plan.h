// The search plan: everything compiled for one search, built once before the
// walk starts and then only read, by the walking thread, every scanning
// thread and every excerpt. Nothing a thread reads while scanning lies
// anywhere else.
#pragma once

#include <cstdint>

#include "corv-vector.h"
#include "fastsrch.h"
#include "srchexpr.h"
#include "text-filter.h"

// The tags that a document's first block is searched for.
struct TagPatterns {
    TextPattern title;
    TextPattern meta;
};

// How much a hit counts by the byte on each side of it, for every byte: the
// whole-word rules, looked up once per hit.
struct ContextFactors {
    double left[256];
    double right[256];        // after a hit that does not end in "s"
    double rightAfterS[256];  // after one that does
};

// Under folding, a term whose first (or last) character is of a script
// written without spaces between words counts as a whole word on that side.
enum : uint8_t {
    TermStartsUnspaced = 1,
    TermEndsUnspaced = 2
};

struct SearchPlan {
    const SearchExpression* expression;  // the words, the terms and the terms' pattern set
    VectorLevel level;                   // the level everything here was compiled at
    bool textOnly;                       // documents are scored by their visible text
    CaseFolding folding;                 // the expression's: texts are folded so before they are searched
    uint8_t termEdges[PatternSetLimit];  // under folding, each term's unspaced sides
    TagPatterns tags;
    ContextFactors factors;
    TextFilter filter;  // text only: prepared; else unready
};

// Builds the plan for compiled words; the expression must outlive it.
void BuildSearchPlan(SearchPlan* plan, const SearchExpression* expression, bool textOnly);
void ReleaseSearchPlan(SearchPlan* plan);

// The whole-word rules: how much the byte before a hit, and the byte after it
// (the hit's last byte telling a plural "s"), let it count.
int LeftContextFactor(unsigned char before, double* factor);
int RightContextFactor(unsigned char after, unsigned char lastOfHit, double* factor);

// Under folding, a hit never ends inside a character as a reader sees it
// (ContinuesCharacter). What the folded bytes from `after` (a hit's end) up
// to `end` tell:
enum class FoldedHitEnd {
    Ends,       // a whole character that begins anew, a byte that is no UTF-8, or nothing
    Continues,  // the character the hit ends in goes on: no hit
    Unknown     // the bytes end before the character after the hit does
};
FoldedHitEnd FoldedEndOfHit(const char* after, const char* end);
