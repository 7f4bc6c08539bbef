// srchexpr: the search words of a request (operators, wildcards, quoted
// phrases), compiled into patterns, and the skip list of common words.
#pragma once

#include <cstdint>

#include "corv-fold.h"
#include "fastsrch.h"

enum : int32_t {
    WordRequired = 1,
    WordExcluded = 2,
    WordSkipped = 4,
    WordAnyPrefix = 16,
    WordAnySuffix = 32
};

struct SearchWord {
    TextPattern pattern;
    int32_t flags;
    int32_t term;  // its search term, or -1 for a skipped word
};

// Words of the same text (ASCII case aside, and folded as the search folds
// them) and the same wildcards find the
// same hits with the same scores: they share one search term, which is
// searched for and scored once, and each word takes its counts from it.
struct SearchTerm {
    const TextPattern* pattern;  // the pattern of the term's first word
    int32_t flags;               // its WordAnyPrefix and WordAnySuffix
};

struct SearchExpression {
    int32_t wordCount;
    SearchWord* words;
    int32_t termCount;
    SearchTerm terms[PatternSetLimit];
    PatternSet* termPatterns;  // the terms' patterns, found in one pass
    int32_t longestTerm;       // the longest term's length in bytes
    CaseFolding folding;       // how the words, the skip list and the text are folded before they are compared
};

// The words of the current search, compiled by CompileSearchExpression.
extern SearchExpression searchExpression;

// A word is extracted into a buffer of this many bytes.
constexpr int SearchWordCapacity = 320;

// Under a folding other than CaseFoldAscii, each word (its operators and
// wildcards taken off first) and the skip list are folded: a word's pattern
// holds its folded text, at most PatternTextCapacity bytes.
int CompileSearchExpression(const char* skipListPath, const char* searchText, CaseFolding folding = CaseFoldAscii);
int FreeSearchExpression();
int CountSearchWords(const char* text);
const char* FindSearchWord(const char* text, int wantedIndex, int* lastIndex);
// word holds SearchWordCapacity bytes; a longer word is cut.
int GetSearchWord(const char* text, int index, char* operatorCharacter, char* word);
