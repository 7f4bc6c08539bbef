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
    // The same factors in twentieths, which they all are: the relevance
    // ranking adds up hit strengths as exact whole numbers.
    uint8_t twentieths[FactorsTableCount][256];
};

// How each term's hits are scored, settled when the plan is built: the hits
// of a term are as long as it is, end in its last byte, and have its
// wildcards, so that scoring a hit is two lookups. Under folding, a side of
// a term of a script written without spaces between words (Han, kana, Thai...)
// is scored as a wildcard's side: a word's end whatever stands beside it.
struct TermScoring {
    int32_t length;
    const double* left;   // the factors of the byte before a hit, in the plan's tables
    const double* right;  // and of the byte after it
    const uint8_t* leftTwentieths;   // the same in twentieths
    const uint8_t* rightTwentieths;
};

// Terms of one byte, where there are several, are found by a table, each
// byte of the text looked at once: a hit at nearly every byte then costs no
// search and no call. The other terms go through a pattern set of their own.
struct ByteTerms {
    int32_t count;         // terms of one byte; below 2 the terms' own set finds every hit
    int16_t termOf[256];   // the term that a byte is, or -1
    PatternSet* others;    // the terms of more bytes, or nullptr when there are none
    int16_t otherTerm[PatternSetLimit];  // the term of each of the others' patterns
};

// The terms as stored bytes hold them, where that is not their folding.
struct StoredTerms {
    TextPattern patterns[PatternSetLimit];
    PatternSet set;
};

struct SearchPlan {
    const SearchExpression* expression;  // the words, the terms and the terms' pattern set
    VectorLevel level;                   // the level everything here was compiled at
    bool textOnly;                       // documents are scored by their visible text
    bool mainContent;                    // and only by its main content (TEXTONLY main)
    CaseFolding folding;                 // the expression's: texts are folded so before they are searched
    // Under folding, when no term holds an ASCII byte but letters and digits:
    // texts keep their punctuation and blanks outside ASCII as written (no
    // term could hold what they fold to), and a hit's neighbours are read as
    // what they fold to (FoldedByteBefore, FoldedByteAt).
    bool keepsPunctuation;
    // Under folding, markup searched without the relevance ranking,
    // when every term is ASCII letters and digits, Han and kana, and small
    // Cyrillic letters alone: a document's stored bytes are searched as
    // they stand (Cyrillic capitals lowered) while they hold no character
    // that would fold otherwise around such words (MayChangeWordsAsStored).
    bool wordsAsStored;
    StoredWords storedWords;  // then: the terms and their letters
    // Then too: the terms as the stored bytes hold them (StoredFormOf: й
    // precomposed, not as и and a breve), searched and scored there by
    // their own length: the terms' own set, or storedTerms' where some term
    // differs (else storedTerms is nullptr).
    const PatternSet* storedPatterns;
    TermScoring storedScoring[PatternSetLimit];
    StoredTerms* storedTerms;
    bool relevance;                      // each hit counted once per field, for the relevance ranking
    TagPatterns tags;
    ContextFactors factors;
    TermScoring scoring[PatternSetLimit];
    ByteTerms byteTerms;
    TextFilter filter;  // text only: prepared; else unready
};

// Builds the plan for compiled words and a TextOnly, in place (it points
// into itself, so it is never copied); the expression must outlive it.
void BuildSearchPlan(SearchPlan* plan, const SearchExpression* expression, int32_t textOnly, bool relevance = false);
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
// The byte that the character ending at `at` (not before start) folds to
// last, and the byte the character at `at` (before end) folds to first, for
// text that keeps its punctuation: punctuation and blanks outside ASCII read
// as the ASCII they fold to, any other byte as it stands.
unsigned char FoldedByteBefore(const char* start, const char* at);
unsigned char FoldedByteAt(const char* at, const char* end);
// The same three of stored bytes searched as they stand for words of ASCII
// letters and digits, Han and kana, and small Cyrillic under `folding` (the
// plan's wordsAsStored):
// a character beside a hit is read as what its folding is (ś as an s and a
// mark, U+0345 as the letter ι).
FoldedHitEnd StoredEndOfHit(CaseFolding folding, const char* after, const char* end);
unsigned char StoredByteBefore(CaseFolding folding, const char* start, const char* at);
unsigned char StoredByteAt(CaseFolding folding, const char* at, const char* end);
