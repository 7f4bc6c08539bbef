// The document scanner: reads one document, takes its title and META texts,
// scores every hit of every search term, and tells whether it matches and how
// well. It is a pure function of the plan and the document: it keeps nothing
// between documents and writes only to its own context, so that any number of
// threads can scan at once.
#pragma once

#include <cstdint>

#include "platform.h"
#include "search-plan.h"

constexpr int ScanBufferSize = 20480;
constexpr int TagTextCapacity = 1000;
constexpr int MetaTokenSize = 300;

// Where in a document the best hits of its first terms lie, so that an
// excerpt of a large document needs only the neighbourhoods of these.
constexpr int HitOffsetLimit = 16;

constexpr int TitleCapacity = 100;
constexpr int TitleCharacterLimit = 90;
constexpr int DescriptionCapacity = 324;
constexpr int KeywordsCapacity = 320;

// Where a hit stands, for the relevance ranking: the title, the META
// description and keywords, and the text.
enum ScanField : int32_t {
    FieldTitle = 0,
    FieldDescription = 1,
    FieldKeywords = 2,
    FieldText = 3,
    FieldCount = 4
};

// A hit's strength is its score (left factor times right factor) in
// four-hundredths, a whole number: a whole word is 400.
constexpr int32_t WholeWordStrength = 400;

// Relevance: the strengths of one term's hits in each field of a document,
// added up, every hit counted once.
struct FieldStrengths {
    uint64_t field[FieldCount];
};

// What a document scored so far for one search term.
struct TermCounts {
    double best;         // the best hit's score, 0 to 1
    double total;        // the sum of each hit's score squared times its region's weight
    int32_t found;       // 1 once hit
    double textBest;     // the best hit's score in the text (title and META tags aside)
    int64_t textOffset;  // about where that hit lies in the stored file, or -1 for none
    int64_t shownOffset; // about where the first hit that is not inside a tag lies, or -1
};

// Under folding, the hits at the end of a block that more text follows wait
// for the character after them: a combining mark there makes them no hits.
struct PendingHit {
    int32_t term;
    double score;
    double weight;
    int64_t offset;  // about where it lies in the stored file, or -1
    bool shown;      // not inside a tag
};

struct FoldedTail {
    int32_t hitCount;
    int32_t byteCount;
    char bytes[4];  // the character after them, as far as it is known
    PendingHit hits[PatternSetLimit];
};

// Everything one scanning thread works with: the plan it only reads, and
// memory of its own.
struct ScanContext {
    const SearchPlan* plan;
    char* block;          // ScanBlockBytes(plan, blockSize) bytes
    int32_t blockSize;    // ScanBufferSize; tests choose smaller ones
    int64_t blockOffset;  // about where in the stored file the block begins
    bool inTag;           // the stored bytes before the block end inside a tag
    char* raw;            // text only or folding: ScanRawBytes(blockSize) bytes of the document as read
    char* folded;         // folding: ScanFoldRoom(blockSize) bytes for what folding writes
    // Under folding, where in the stored file a byte of the block lies, when
    // set (else blockOffset and the byte's place in the block tell).
    int64_t (*offsetOf)(const void* map, int32_t at);
    const void* offsetMap;
    bool asStored;  // under folding, the block is stored bytes searched as they stand (wordsAsStored)
    // The bytes of documents searched whole as stored, and those read as
    // stored before a character sent the scan back to fold the document:
    // documents are tried as stored while the second stay small beside the
    // first (ScoreFoldedFileText).
    int64_t storedBytesKept;
    int64_t storedBytesWasted;
    TermCounts counts[PatternSetLimit];
    FoldedTail tail;
    // Relevance only. The text is the stored bytes as read (markup searched)
    // or the visible text; the title's own bytes in the stored text count in
    // the title, not again in the text.
    FieldStrengths strengths[PatternSetLimit];
    int64_t textLength;          // bytes of text searched (read whole when it holds a term)
    int64_t blockText;           // where in the text the block begins
    int64_t titleFrom, titleTo;  // where the title's bytes lie in the text, or nowhere
};

// The bytes of a context's block, of its block as read and of its room for
// folding, for blocks of blockSize bytes; folded stored bytes are read this
// many bytes ahead of a block's need.
int32_t ScanBlockBytes(const SearchPlan& plan, int32_t blockSize);
int32_t ScanRawBytes(int32_t blockSize);
int32_t ScanFoldRoom(int32_t blockSize);
constexpr int32_t ScanReadAhead(int32_t blockSize) { return blockSize / 16; }

// What the first block tells of a document, and its score.
struct ScannedDocument {
    char title[TitleCapacity];
    char description[DescriptionCapacity];
    char keywords[KeywordsCapacity];
    int32_t matched;
    double percent;
    double weight;
    int64_t hitOffsets[HitOffsetLimit];
    int64_t shownOffsets[HitOffsetLimit];  // where a visitor may see the first hit of each, or -1
    int32_t marks;  // read for main content to its end: the PageMarks it holds; else -1
    bool noIndex;   // read for main content: its first block's robots META tag asks not to be found
    bool unreadable;  // not scanned for lack of descriptors or memory, or a failed read
    // Relevance only: each term's strengths by field (as far as 32 bits
    // hold), and the context's textLength.
    uint32_t strengths[PatternSetLimit][FieldCount];
    int64_t textLength;
};

// Reads and scores one document; false when it cannot be opened (gone or
// refused, or unreadable) or a read failed part-way (unreadable).
bool ScanDocument(ScanContext* context, const char* path, ScannedDocument* document);
int ResetWordStats(ScanContext* context);
// Takes the title and META texts from a document's first block (blanking
// each META tag there) and scores them.
void ScoreFirstBlock(ScanContext* context, char* data, const char* end, ScannedDocument* texts);
// Takes the title and the META texts from a document's first block (blanking
// each META tag there), without scoring them.
void TakeFirstBlockTexts(const TagPatterns& tags, char* data, const char* end, ScannedDocument* texts);
// Relevance: the strengths of the hits in a document's address (its path
// below the search path, with "/"), which do not make it match, by term.
void CountAddressStrengths(const SearchPlan& plan, const char* address, const char* end, uint32_t* strengths);
// Scores a region; the relevance ranking counts its hits in `field`.
int ScanRegion(ScanContext* context, double weight, const char* start, const char* end, int* longestWord,
               ScanField field = FieldText);
// One block of the document's bytes (folded, when the plan folds), the first
// `carried` of them the last block's last: scores it and moves the bytes the
// next block carries (the longest term's length), and the `following` bytes
// after the block already made for the next, to the block's start; returns
// the count of those carried.
int ScoreBlock(ScanContext* context, int dataLength, int carried, int following = 0);
// After the last block: a hit that waited for the character after it counts.
void EndBlocks(ScanContext* context);
// Under folding, outside text only: reads the open document, its first
// block as read giving the title and META texts, and scores it in blocks as
// ScoreBlock scores them: as its stored bytes stand, for the plan's words of
// ASCII letters and digits, Han and kana, until a character that would fold
// otherwise comes; else (and then from the start again) folded as it is
// read. False when the document could not be read again.
bool ScoreFoldedFileText(ScanContext* context, PlatFile* file, ScannedDocument* texts);
// Scores a stretch of visible text that goes on from the last: each term's
// search begins at from[term] (bytes after start), and a hit counts only
// when the byte after it is known (the stretch ends after it, or the text
// ends with the stretch: final); from[term] moves past each hit counted.
// Hit positions in the stored file are about offsetOf(start + i).
void ScanTextStretch(ScanContext* context, const char* start, const char* end, bool final, int32_t* from,
                     int64_t (*offsetOf)(const void* map, int32_t at), const void* map);
// Text only: reads the open document as its visible text (references
// decoded) in blocks, the title and META texts taken from its first block as
// read, and scores it as the whole text at once would be scored; for main
// content (the plan's), only that text, and nothing where the page asks not
// to be found.
void ScoreVisibleText(ScanContext* context, PlatFile* file, ScannedDocument* texts);
// Whether a document's first block (data to end) holds <meta name="robots">
// whose content lists noindex or none, told from the META tag whose "<META"
// is at `from` and every one after it that starts before `to`, as they are
// met: RobotsNoIndex, the page asks not to be found; RobotsTagRunsPast, the
// block ends inside one, which ends the looking (the page is found);
// RobotsSilent, none of them tells.
enum : int32_t { RobotsSilent, RobotsNoIndex, RobotsTagRunsPast };
int32_t RobotsVerdict(const TagPatterns& tags, const char* data, const char* from, const char* to, const char* end);
// Markup searched: whether the stored bytes before `at` end inside a tag,
// as far back as the scan looks, `before` when nothing there tells.
bool EndsInsideTag(const char* start, const char* at, bool before);
// Relevance, markup searched: reads the open document in blocks, the title
// and META texts taken from its first block, and scores it as the whole
// stored text (folded as it is read, under folding) at once would be
// scored, each hit counted once.
void ScoreStoredText(ScanContext* context, PlatFile* file, ScannedDocument* texts);
int ScoreDocument(const ScanContext* context, int* foundCount, double* percent, double* weight);

// The tag text after "<META" up to its ">", and its attribute tokens.
int CopyTagText(char* source, const char* sourceEnd, char* destination, const char* destinationEnd, int blank);
// token must hold tokenSize + 1 bytes: a cut token ends in "..." at tokenSize - 3.
int GetAttributeToken(const char* tagText, int index, char* token, int tokenSize, char* separator);
