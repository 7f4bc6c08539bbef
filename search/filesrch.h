// filesrch: the search run and its results page, the result template, the
// directory walk with its file filter, and the document scanner that scores
// and ranks each file.
#pragma once

#include <cstdint>

#include "corv-str.h"
#include "fastsrch.h"
#include "srchparm.h"

// ---- Search run --------------------------------------------------------------

struct RunSettings {
    const char* searchPath;
    const char* baseUrl;
    const char* fileSpecs;
    const char* excludePaths;
    int32_t pageStart;
    int32_t pageSize;
};
extern RunSettings runSettings;

constexpr int ScanBufferSize = 20480;
constexpr int ResultLimit = 200;
constexpr int ResultSlotCount = ResultLimit + 1;

int RunSearch(const SearchRequest* request, const char* baseUrl, const char* searchPath,
              const char* fileSpecs, const char* excludePaths, const char* skipListPath);

// ---- Results -----------------------------------------------------------------

constexpr int TitleCapacity = 100;
constexpr int TitleCharacterLimit = 90;
constexpr int DescriptionCapacity = 324;
constexpr int KeywordsCapacity = 320;

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
};
extern ResultList resultList;

// ---- Result template ---------------------------------------------------------

int WriteResults(const char* look);
int ExpandResultTemplate(const ResultEntry* entry, int position, const char* templateText, char* output,
                         int capacity, int* outputLength);

// ---- Directory walk ------------------------------------------------------------

enum : int {
    WalkHidden = 1,
    WalkTopFiles = 2,
    WalkSubfolders = 4
};

extern char walkPath[PathCapacity];
extern int32_t walkDepth;

int WalkFolder(const char* folderPath, int options);
bool IsSearchableFile(const char* folderPath, const char* fileName);

// ---- Document scanner ----------------------------------------------------------

constexpr int TagTextCapacity = 1000;
constexpr int MetaTokenSize = 300;

struct ScannerState {
    char* scanBuffer;
    int32_t scanBufferSize;
    TextPattern titlePattern;
    TextPattern metaPattern;
};
extern ScannerState scanner;

int ScanFile(const char* folderPath, const char* fileName, int32_t size, uint32_t modified);
int ResetWordStats();
int ScanRegion(double weight, const char* start, const char* end, int* longestWord);
int LeftContextFactor(unsigned char before, double* factor);
int RightContextFactor(unsigned char after, unsigned char lastOfHit, double* factor);
int ScoreDocument(int* foundCount, double* percent, double* weight);
int CopyTagText(char* source, const char* sourceEnd, char* destination, const char* destinationEnd, int blank);
// token must hold tokenSize + 1 bytes: a cut token ends in "..." at tokenSize - 3.
int GetAttributeToken(const char* tagText, int index, char* token, int tokenSize, char* separator);
// Files a matched entry at its place for the current sort mode.
void InsertRanked(ResultEntry* entry);
