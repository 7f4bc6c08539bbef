// What the request and the configuration ask of one search, beyond its words.
#pragma once

#include <cstdint>

#include "corv-fold.h"

// Readable while RunSearch is active, by the walking thread and the page.
struct RunSettings {
    const char* searchPath;
    const char* baseUrl;
    const char* fileSpecs;
    const char* excludePaths;
    int32_t pageStart;
    int32_t pageSize;
};
extern RunSettings runSettings;

// What TEXTONLY asks: a document's whole file, the text a visitor reads, or
// only the page's main content of that text.
enum TextOnly : int32_t { TextOnlyNo = 0, TextOnlyYes = 1, TextOnlyMain = 2 };

// How the default order ranks matches: classic by percent and weight,
// relevance by a score computed after the walk from the site's own counts.
enum : int32_t {
    RankingClassic = 0,
    RankingRelevance = 1
};

// What the configuration sets beyond the search path and the lists.
struct SearchSettings {
    int32_t threadCount;  // 1 to ThreadLimit, or 0 for as many as the processors, at most DefaultThreadLimit
    int32_t excerptSize;  // characters of an excerpt, or 0 for ExcerptSizeDefault
    int32_t textOnly;     // a TextOnly
    CaseFolding caseFolding;  // how letters compare: ASCII case only unless the site asks for more
    int32_t ranking;      // RankingClassic or RankingRelevance
    int32_t matchChunks;  // relevance: the chunks its records may take, or 0 for MatchChunkLimit (tests set fewer)
};
