// The relevance ranking (RANKING relevance). While the walk goes on, the
// walking thread keeps a compact record of every match and counts, over
// every document scanned, how many hold each term and how long their fields
// are; after the walk every match is scored from these exact counts (BM25F)
// and the best ResultSlotCount fill the result list.
#pragma once

#include <cstdint>

#include "document-scan.h"
#include "results.h"
#include "search-plan.h"

// The fields a match is ranked by: those the scan counts, and its address
// (its path below the search path), whose hits do not make it match.
constexpr int FieldAddress = FieldCount;
constexpr int RankedFieldCount = FieldCount + 1;

// The model's parameters: per field, its weight and how much its length
// normalises (BM25F's b); k1 saturates a term's weighted frequency.
struct RelevanceModel {
    double fieldWeight[RankedFieldCount];
    double lengthNormalisation[RankedFieldCount];
    double saturation;  // k1
};
extern const RelevanceModel DefaultRelevanceModel;

// Records and paths live in chunks of tracked memory, all of them within
// the run's budget.
constexpr int32_t MatchChunkBytes = 1 << 16;
constexpr int32_t MatchChunkLimit = 512;  // 32 MB

struct MatchChunks {
    char* chunk[MatchChunkLimit];
    int32_t used[MatchChunkLimit];  // bytes used in each
    int32_t count;
};

// What the site holds, counted over every document scanned. The average
// lengths are taken over the documents that hold a term, which are read
// whole in every mode (text only, others may be passed over unread).
struct SiteCounts {
    int64_t documents;                 // N
    int32_t holding[PatternSetLimit];  // documents holding each term (its document frequency)
    int64_t holdingAny;                // documents holding any
    int64_t fieldBytes[RankedFieldCount];  // their fields' lengths added up
};

struct RelevanceRun {
    const SearchPlan* plan;
    const RelevanceModel* model;
    int32_t sortMode;
    int32_t addressFrom;  // where a document's address begins in its path: after the search path
    int32_t recordBytes;
    int32_t chunkBudget;  // chunks of records and paths together, MatchChunkLimit unless a test says less
    SiteCounts counts;
    MatchChunks records;
    MatchChunks paths;    // each record's path, as it differs from the one before
    char lastPath[PathCapacity];
    uint32_t recordCount;
    uint32_t filed;       // matches filed, the walk number of the next
    uint32_t passedOver;  // matches dropped by a provisional score to stay within the budget
};

void StartRelevance(RelevanceRun* run, const SearchPlan* plan, int32_t sortMode, const char* searchPath,
                    int32_t chunkBudget = MatchChunkLimit, const RelevanceModel* model = &DefaultRelevanceModel);
// On the walking thread, in walk order: counts the document and keeps a
// record of it when it matched (it counts in resultList as well).
void FileForRelevance(RelevanceRun* run, const char* path, int32_t size, uint32_t modified,
                      const ScannedDocument& document);
// Scores every record and fills resultList with the best in the order of
// the sort mode; the records are given back.
void RankByRelevance(RelevanceRun* run);
// The bytes a record takes for a search of termCount terms, its path aside.
int32_t MatchRecordBytes(int32_t termCount);

// Titles and descriptions are not kept in the records: the results that a
// page shows take theirs from their documents' first blocks again.
void TakeShownTexts(const SearchPlan* plan, int32_t first, int32_t count);

// log2 of a whole number of 1 or more, with 32 bits of fraction: the same
// bits on every platform, unlike a C library's log.
int64_t FixedLog2(uint64_t value);
