// The ranked result list of a search: the best ResultLimit documents in the
// order of the request's sort, and the counts of the run. It is filled on the
// walking thread only, in walk order.
#pragma once

#include <cstdint>

#include "corv-str.h"
#include "document-scan.h"

constexpr int ResultLimit = 200;
constexpr int ResultSlotCount = ResultLimit + 1;

struct ResultEntry {
    char path[PathCapacity];
    int32_t size;
    uint32_t modified;
    char title[TitleCapacity];
    char description[DescriptionCapacity];
    double percent;
    double weight;
    ResultEntry* next;
    ResultEntry* prev;
    int64_t hitOffsets[HitOffsetLimit];    // about where each term's best hit in the text lies, or -1
    int64_t shownOffsets[HitOffsetLimit];  // and its first hit that is not inside a tag, or -1
    int32_t marks;                          // the PageMarks its scan found, or -1
    const char* excerpt;                  // while its page is written, or nullptr
    int32_t excerptLength;                // its bytes, the terminator not included
};

enum : int32_t {
    SortByPercent = 0,
    SortByWeight = 1,
    SortByDate = 2,
    SortBySize = 3
};

struct ResultList {
    ResultEntry* slots;
    ResultEntry* head;
    ResultEntry* tail;
    int32_t linkedCount;   // entries linked, up to ResultSlotCount
    int32_t resultCount;   // results held, up to ResultLimit
    int32_t matchedTotal;
    int32_t filesScanned;
    int32_t sortMode;
    int32_t unableToSearch;  // files and folders that exist but could not be read
};
extern ResultList resultList;

int32_t SortModeFor(const char* sortBy);
// Counts a scanned document and files it at its place when it matched.
void FileScannedDocument(const char* path, int32_t size, uint32_t modified, const ScannedDocument& document);
// Files a matched entry at its place for the current sort mode.
void InsertRanked(ResultEntry* entry);
