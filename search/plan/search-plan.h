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
    // The same factors in twentieths, which they all are: the relevance
    // ranking adds up hit strengths as exact whole numbers.
    uint8_t leftTwentieths[256];
    uint8_t rightTwentieths[256];
    uint8_t rightAfterSTwentieths[256];
};

struct SearchPlan {
    const SearchExpression* expression;  // the words, the terms and the terms' pattern set
    VectorLevel level;                   // the level everything here was compiled at
    bool textOnly;                       // documents are scored by their visible text
    bool relevance;                      // each hit counted once per field, for the relevance ranking
    TagPatterns tags;
    ContextFactors factors;
    TextFilter filter;  // text only: prepared; else unready
};

// Builds the plan for compiled words; the expression must outlive it.
void BuildSearchPlan(SearchPlan* plan, const SearchExpression* expression, bool textOnly, bool relevance = false);
void ReleaseSearchPlan(SearchPlan* plan);

// The whole-word rules: how much the byte before a hit, and the byte after it
// (the hit's last byte telling a plural "s"), let it count.
int LeftContextFactor(unsigned char before, double* factor);
int RightContextFactor(unsigned char after, unsigned char lastOfHit, double* factor);
