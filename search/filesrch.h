// filesrch: the search run and its results page, the result template, the
// directory walk with its file filter, and the document scanner that scores
// and ranks each file.
#pragma once

#include <cstdint>

#include "corv-str.h"
#include "fastsrch.h"
#include "platform.h"
#include "srchexpr.h"
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

// What the configuration sets beyond the search path and the lists.
struct SearchSettings {
    int32_t threadCount;  // 1 to ThreadLimit, or 0 for as many as the processors, at most DefaultThreadLimit
    int32_t excerptSize;  // characters of an excerpt, or 0 for ExcerptSizeDefault
    int32_t textOnly;     // 1: a document's text is what a visitor reads, not its markup
};

int RunSearch(const SearchRequest* request, const char* baseUrl, const char* searchPath,
              const char* fileSpecs, const char* excludePaths, const char* skipListPath,
              const SearchSettings& settings);

// ---- Results -----------------------------------------------------------------

// Where in a document the best hits of its first terms lie, so that an
// excerpt of a large document needs only the neighbourhoods of these.
constexpr int HitOffsetLimit = 16;

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
    int64_t hitOffsets[HitOffsetLimit];  // about where each term's best hit in the text lies, or -1
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
};
extern ResultList resultList;

// ---- Result template ---------------------------------------------------------

// Excerpts, when the template asks for them, are made on `threads` threads.
int WriteResults(const char* look, const SearchSettings& settings, int threads);
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

// What a document scored so far for one search term.
struct TermCounts {
    double best;         // the best hit's score, 0 to 1
    double total;        // the sum of each hit's score squared times its region's weight
    int32_t found;       // 1 once hit
    double textBest;     // the best hit's score in the text (title and META tags aside)
    int64_t textOffset;  // about where that hit lies in the stored file, or -1 for none
};

// Everything one scanning thread works with, so that threads share nothing
// but the search words, which they only read.
struct ScanContext {
    char* block;          // blockSize bytes (and VisibleTextSlack more when textOnly)
    int32_t blockSize;    // ScanBufferSize; tests choose smaller ones
    int64_t blockOffset;  // about where in the stored file the block begins
    bool textOnly;        // the text is the document's visible text
    char* raw;            // textOnly: blockSize bytes of the document as read
    TermCounts counts[PatternSetLimit];
};

// What the first block tells of a document, and its score.
struct ScannedDocument {
    char title[TitleCapacity];
    char description[DescriptionCapacity];
    char keywords[KeywordsCapacity];
    int32_t matched;
    double percent;
    double weight;
    int64_t hitOffsets[HitOffsetLimit];
};

// The walk's call for each file: the filter, then the scan, then filing.
int ScanFile(const char* folderPath, const char* fileName, int32_t size, uint32_t modified);
// Reads and scores one document; false when it cannot be opened.
bool ScanDocument(ScanContext* context, const char* path, ScannedDocument* document);
// Files a scanned document into the ranked list and counts it.
void FileScannedDocument(const char* path, int32_t size, uint32_t modified, const ScannedDocument& document);
int ResetWordStats(ScanContext* context);
// Takes the title and META texts from a document's first block (blanking
// each META tag there) and scores them.
void ScoreFirstBlock(ScanContext* context, char* data, const char* end, ScannedDocument* texts);
int ScanRegion(ScanContext* context, double weight, const char* start, const char* end, int* longestWord);
// Scores a stretch of visible text that goes on from the last: each term's
// search begins at from[term] (bytes after start), and a hit counts only
// when the byte after it is known (the stretch ends after it, or the text
// ends with the stretch: final); from[term] moves past each hit counted.
// Hit positions in the stored file are about offsetOf(start + i).
void ScanTextStretch(ScanContext* context, const char* start, const char* end, bool final, int32_t* from,
                     int64_t (*offsetOf)(const void* map, int32_t at), const void* map);
// With TEXTONLY: reads the open document as its visible text (references
// decoded) in blocks, the title and META texts taken from its first block as
// read, and scores it as the whole text at once would be scored.
void ScoreVisibleText(ScanContext* context, PlatFile* file, ScannedDocument* texts);
// Text only, before a document is read as text: whether its bytes could give
// a search term's text. The filter is prepared from the compiled search words
// before scanning and only read while scanning; unprepared, it passes every
// document. Each call gets the bytes read next, after the last
// TextFilterCarry bytes of those before (all of them near the document's
// start): `carried` says how many.
constexpr int32_t TextFilterCarry = 128;
void PrepareTextFilter();
void ReleaseTextFilter();
bool MayShowTerm(const char* bytes, int32_t count, int32_t carried, bool documentEnds);
int LeftContextFactor(unsigned char before, double* factor);
int RightContextFactor(unsigned char after, unsigned char lastOfHit, double* factor);
int ScoreDocument(const ScanContext* context, int* foundCount, double* percent, double* weight);
int CopyTagText(char* source, const char* sourceEnd, char* destination, const char* destinationEnd, int blank);
// token must hold tokenSize + 1 bytes: a cut token ends in "..." at tokenSize - 3.
int GetAttributeToken(const char* tagText, int index, char* token, int tokenSize, char* separator);
// Files a matched entry at its place for the current sort mode.
void InsertRanked(ResultEntry* entry);

// ---- Scanning threads ------------------------------------------------------------

constexpr int ThreadLimit = 16;
constexpr int DefaultThreadLimit = 4;

// The threads of a run: threadCount threads scan the documents that the
// calling thread walks to; it scans too when it has nothing else to do, and
// files every document in walk order, so that pages never depend on which
// thread finished first. With one thread, the calling thread scans and files
// each document as the walk hands it over.
void StartScanning(int threadCount, bool textOnly);
// Scans a document that passed the filter, or queues it for a thread.
void ScanInWalkOrder(const char* path, int32_t size, uint32_t modified);
// Waits for every queued document, files it, and ends the threads.
void FinishScanning();
// Calls work(index, worker, argument) for every index from 0 to count - 1 on
// up to `threads` threads, the calling one among them; worker tells which
// (0 to threads - 1), so that each can have its own memory.
void ForEachOnThreads(int count, int threads, void (*work)(int index, int worker, void* argument), void* argument);

// ---- Visible text --------------------------------------------------------------

// The text a visitor sees: markup left out, every run of blanks one blank,
// no blank at either end. Keep mode leaves character references as they
// stand (excerpts escape them later); decode mode decodes them for matching.
enum VisibleTextMode : int32_t {
    VisibleTextKeepReferences = 0,
    VisibleTextDecodeReferences = 1
};

// What a call may write beyond the bytes it is given: the text held back
// from earlier calls (a blank, a "<" or a reference not yet complete).
constexpr int VisibleTextSlack = 64;
constexpr int VisibleTextReferenceLimit = 32;

// The reader's whole state; it allocates nothing. Only offset and restartAt
// are for callers to read.
struct VisibleTextReader {
    int64_t offset;      // document bytes read so far, counted from its start
    int64_t restartAt;   // set by FinishVisibleText: where to feed the document again, or -1
    int64_t bodyOffset;  // the first "<body" inside the current head, or -1
    int32_t mode;
    int32_t state;
    int32_t rawEnd;      // what ends the contents of a script, style or head
    int32_t endMatched;  // bytes of that end matched so far
    int32_t bodyMatched;
    int32_t referenceLength;
    int32_t nameLength;
    uint64_t name;        // the tag name's first bytes in lower case, the first lowest
    unsigned char quote;  // the quote that closes the attribute value being read, or 0
    bool afterEquals;
    bool nameEnded;
    bool closing;
    bool headUnclosed;  // no "</head" follows: a head runs to its first "<body"
    bool wroteText;
    bool blankPending;
    char reference[VisibleTextReferenceLimit];
};

void StartVisibleText(VisibleTextReader* reader, VisibleTextMode mode);
// Feeds the next count bytes of the document (as read in text mode, in order,
// split anywhere) and writes the visible text they complete into target,
// which holds count + VisibleTextSlack bytes. Returns the bytes written; the
// bytes of target after them may have been overwritten.
int ReadVisibleText(VisibleTextReader* reader, const char* source, int count, char* target);
// At the document's end: writes what is held back into target (which holds
// VisibleTextSlack bytes) and returns the bytes written. When the document
// ended inside a head with a "<body" after it and no "</head", restartAt is
// the offset of that "<body": the caller feeds the document again from there
// and calls this again (at most once per document). Otherwise restartAt is -1.
int FinishVisibleText(VisibleTextReader* reader, char* target);

// The code point of an HTML 4 character name (case counts), or -1.
int32_t CodePointOfName(const char* name, int length);
// Past the end of the tag or comment whose "<" is at bytes[at], followed by
// a letter, "/", "!" or "?", as the reader reads it from text: -1 when the
// bytes end first.
int32_t MarkupEnd(const unsigned char* bytes, int32_t at, int32_t count);
// Whether a candidate reference, "&" and what followed it (length bytes in
// all), goes on with the byte.
bool ContinuesReference(const char* reference, int length, unsigned char byte);
// What a candidate reference ended by ";" (not included) decodes to: the
// bytes of its character, written to bytes (up to 4) and counted, or one of:
enum : int { ReferenceIsText = -1, ReferenceIsBlank = 0 };
int DecodeReference(const char* reference, int length, char* bytes);

// ---- Excerpts ------------------------------------------------------------------

constexpr int ExcerptSizeDefault = 240;
constexpr int ExcerptSizeMinimum = 40;
constexpr int ExcerptSizeMaximum = 1000;
// Hits looked at in one document.
constexpr int ExcerptHitCapacity = 1024;
// An excerpt comes from a document's first bytes, as many as this at most,
// or from around the hits that its scan recorded further on: so that no
// document, however large, costs more than a few reads.
constexpr int ExcerptStartBytes = 32 * 1024;
// Documents are read again through a piece of this size.
constexpr int ExcerptPieceBytes = 1 << 14;

struct ExcerptHit {
    int32_t start, end;          // bytes of the visible text that the search matched
    int32_t markStart, markEnd;  // what is marked: a wildcard's side runs to the word's end
    int32_t term;
    double score;                // as the ranking scores a hit
};

// What making excerpts works in: one block for a page's results, so that
// nothing is allocated per result.
// The bytes an excerpt of `size` characters may take, its terminator
// included: a character is at most a reference, and may open and close a mark.
constexpr int ExcerptCapacity(int size) { return size * (VisibleTextReferenceLimit + 13) + 2 * 3 + 1; }

struct ExcerptWorkspace {
    VisibleTextMode mode;  // references decoded where the search read them decoded (TEXTONLY)
    ExcerptHit hits[ExcerptHitCapacity];
    int32_t marks[ExcerptHitCapacity][2];
    char piece[ExcerptPieceBytes];
    // A document's visible text, in tracked memory that grows as documents
    // need it (most are cut short long before their end).
    char* text;    // room + 2 * VisibleTextSlack bytes
    int32_t room;
    // Where a large document's excerpts are compared, taken when one comes.
    char* candidate;
    int32_t candidateCapacity;
};
// Gives back the memory that the workspace took as documents needed it.
void ReleaseExcerptRoom(ExcerptWorkspace* workspace);

// Visible text (references as they stand), and whether it begins and ends
// its document or was cut out of it.
struct ExcerptPiece {
    const char* text;
    int32_t length;
    bool startsDocument;
    bool endsDocument;
    bool decoded;  // the references were decoded: an "&" in it is text
};

// The piece of about `size` characters (a reference or a UTF-8 sequence is
// one) that holds the most different search words, preferring whole-word
// hits, the earliest on a tie; with no hit, the text's start. Its ends fall
// on word boundaries with "..." where the text was cut, every hit inside is
// wrapped in <MARK> and </MARK>, "<", ">", '"' and an "&" that begins no
// reference are written as references, and a control character (C0 but a
// tab or a line end, DEL, C1) as a blank: it never holds a NUL. Returns its
// length; tells how many terms it shows and how well.
int MakeExcerpt(const ExcerptPiece& piece, int size, ExcerptWorkspace* workspace, char* out, int capacity,
                int* termsShown, double* score);
// Reads the entry's document again and makes its excerpt: empty when the
// document has no visible text or can no longer be opened.
int BuildExcerpt(const ResultEntry* entry, int size, ExcerptWorkspace* workspace, char* out, int capacity);
