// The search plan: everything compiled for one search, built once before the
// walk starts and then only read, by the walking thread, every scanning
// thread and every excerpt. Nothing a thread reads while scanning lies
// anywhere else.
#pragma once

#include <cstdint>

#include "corv-vector.h"
#include "fastsrch.h"
#include "run-settings.h"
#include "srchexpr.h"
#include "text-filter.h"

// The tags that a document's first block is searched for.
struct TagPatterns {
    TextPattern title;
    TextPattern meta;
};

// How much a hit counts by the byte on each side of it, for every byte: the
// whole-word rules, looked up once per hit.
enum : int32_t {
    FactorsLeft,         // before a hit
    FactorsRight,        // after a hit that does not end in "s"
    FactorsRightAfterS,  // after one that does
    FactorsNone,         // beside a "*": every byte counts 1
    FactorsTableCount
};
struct ContextFactors {
    double of[FactorsTableCount][256];
};

// How each term's hits are scored, settled when the plan is built: the hits
// of a term are as long as it is, end in its last byte, and have its
// wildcards, so that scoring a hit is two lookups.
struct TermScoring {
    int32_t length;
    int32_t left;   // the factor table of the byte before a hit
    int32_t right;  // and of the byte after it
};

struct SearchPlan {
    const SearchExpression* expression;  // the words, the terms and the terms' pattern set
    VectorLevel level;                   // the level everything here was compiled at
    bool textOnly;                       // documents are scored by their visible text
    bool mainContent;                    // and only by its main content (TEXTONLY main)
    TagPatterns tags;
    ContextFactors factors;
    TermScoring scoring[PatternSetLimit];
    TextFilter filter;  // text only: prepared; else unready
};

// Builds the plan for compiled words and a TextOnly; the expression must outlive it.
void BuildSearchPlan(SearchPlan* plan, const SearchExpression* expression, int32_t textOnly);
void ReleaseSearchPlan(SearchPlan* plan);

// The whole-word rules: how much the byte before a hit, and the byte after it
// (the hit's last byte telling a plural "s"), let it count.
int LeftContextFactor(unsigned char before, double* factor);
int RightContextFactor(unsigned char after, unsigned char lastOfHit, double* factor);
