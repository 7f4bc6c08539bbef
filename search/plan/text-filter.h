// The text-only scan's filter: whether a document's stored bytes could give
// a search term's visible text, so that only such documents are read as text.
#pragma once

#include <cstdint>

#include "corv-fold.h"
#include "corv-vector.h"
#include "srchexpr.h"

// Each call gets the bytes read next, after the last TextFilterCarry bytes of
// those before (all of them near the document's start): `carried` says how many.
constexpr int32_t TextFilterCarry = 128;

// A proper prefix of the keys: the first `length` bytes of `key`, and the
// bytes (folded to upper case) that follow it in the keys that begin so, a
// bit each.
struct KeyPrefix {
    int16_t key;
    int16_t length;
    uint64_t next[4];
};

// Prepared from the compiled search words before scanning and only read
// while scanning; unprepared, it passes every document.
struct TextFilter {
    bool ready;
    CaseFolding folding;  // the terms are folded so, and the stored bytes must be looked at folded
    const PatternSet* keys;  // the terms' own set when every term is its key
    PatternSet* ownSet;
    TextPattern* ownKeys;
    int32_t ownCount;
    // A reference's character at a key's start: the keys' first bytes
    // (folded to upper case), and whether one could be a named reference's.
    bool startsKey[256];
    bool namedMayBeginKey;
    // The keys' proper prefixes, each once, by their last byte (folded):
    // prefixes[endsOf[byte] .. endsOf[byte + 1]).
    int16_t endsOf[257];
    KeyPrefix prefixes[PatternSetTextLimit];
    // What comes before a markup boundary where one of them may end: the last byte, in
    // either case; the same as nibble-lookup tables for the vector search
    // (lowHalves[l] has bit h for the byte 16 h + l below 0x80, highBits[h]
    // is bit h, and whether any byte past 0x7F may); the last two bytes,
    // folded, a bit for each pair, the first byte's bits high (a prefix of
    // one byte takes any byte before it).
    bool endsPrefix[256];
    unsigned char lowHalves[16];
    unsigned char highBits[16];
    bool nonAsciiEndsPrefix;
    uint64_t pairEnds[256 * 256 / 64];
    int32_t vectorWidth;  // bytes looked at at once for markup boundaries (0: one by one)
};

// Prepares the filter for the expression's terms at the vector level given;
// a filter that cannot be prepared stays unready and passes everything.
void PrepareTextFilter(TextFilter* filter, const SearchExpression& expression, VectorLevel level);
void ReleaseTextFilter(TextFilter* filter);
bool MayShowTerm(const TextFilter& filter, const char* bytes, int32_t count, int32_t carried, bool documentEnds);

// ---- Under folding --------------------------------------------------------------
//
// The filter looks at the stored bytes folded as the text is folded, markup
// and all: a term's text that the visible text shows, folded, stands in the
// folded bytes as it does in stored bytes without folding, or across a
// boundary. Keys are pieces of the terms without ASCII punctuation, so an
// ASCII byte that folding made of other punctuation or a blank outside ASCII
// (a guillemet, a curly quote, a no-break space) can stand for nothing the
// filter reads as markup: it is written as FoldedPunctuation instead. A
// combining mark (or a byte that markup cut from its character) right
// after a tag or reference could go on a character before it: the document
// is read.
constexpr unsigned char FoldedPunctuation = 0xC0;  // never a byte of UTF-8

// The stored bytes of one document, folded read after read, with the last
// TextFilterCarry of them carried into the next read's look.
struct FoldedFilterWindow {
    FoldState fold;
    char* bytes;  // room: the bytes carried, then a read's bytes and what folding them writes
    int32_t kept;
};
// The room holds TextFilterCarry + FoldOutputCapacity(count) + 4 bytes for
// reads of up to `count` bytes.
void StartFoldedFilterWindow(FoldedFilterWindow* window, CaseFolding folding, char* room);
// The document's first stored bytes, which stay where they are.
bool FoldedFirstMayShowTerm(const TextFilter& filter, FoldedFilterWindow* window, const char* bytes, int32_t count);
// Where the next stored bytes are to be read; then the bytes read there
// (count of them; scratch holds as many), and whether the document ends
// after them.
char* FoldedFilterSpace(FoldedFilterWindow* window);
bool FoldedNextMayShowTerm(const TextFilter& filter, FoldedFilterWindow* window, int32_t count, bool documentEnds,
                           char* scratch);
