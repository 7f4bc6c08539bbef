// srchexpr: the search words of a request (operators, wildcards, quoted
// phrases), compiled into patterns, and the skip list of common words.
#pragma once

#include <cstdint>

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
    double best;
    double total;
    int32_t found;
    int32_t flags;
};

struct SearchExpression {
    int32_t wordCount;
    SearchWord* words;
};

// The words of the current search, compiled by CompileSearchExpression.
extern SearchExpression searchExpression;

// A word is extracted into a buffer of this many bytes.
constexpr int SearchWordCapacity = 320;

int CompileSearchExpression(const char* skipListPath, const char* searchText);
int FreeSearchExpression();
int CountSearchWords(const char* text);
const char* FindSearchWord(const char* text, int wantedIndex, int* lastIndex);
// word holds SearchWordCapacity bytes; a longer word is cut.
int GetSearchWord(const char* text, int index, char* operatorCharacter, char* word);
