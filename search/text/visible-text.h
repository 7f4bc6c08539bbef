// The visible-text reader: the text a visitor sees of a document, markup
// left out, every run of blanks one blank, no blank at either end. Keep mode
// leaves character references as they stand (excerpts escape them later);
// decode mode decodes them for matching. The reader takes the document's
// bytes in pieces of any size and holds what a piece cannot decide, so every
// split of a document gives the same text.
#pragma once

#include <cstdint>

#include "corv-vector.h"

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
    int32_t level;  // the vector level it reads at
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

void StartVisibleText(VisibleTextReader* reader, VisibleTextMode mode, VectorLevel level);
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
// (The text stream does that for its readers.)
int FinishVisibleText(VisibleTextReader* reader, char* target);

// Past the end of the tag or comment whose "<" is at bytes[at], followed by
// a letter, "/", "!" or "?", as the reader reads it from text: -1 when the
// bytes end first.
int32_t MarkupEnd(const unsigned char* bytes, int32_t at, int32_t count);

// ---- Character references: the one grammar of the reader, the filter and the excerpts

// The code point of an HTML 4 character name (case counts), or -1.
int32_t CodePointOfName(const char* name, int length);
// Whether a candidate reference, "&" and what followed it (length bytes in
// all), goes on with the byte.
bool ContinuesReference(const char* reference, int length, unsigned char byte);
// What a candidate reference ended by ";" (not included) decodes to: the
// bytes of its character, written to bytes (up to 4) and counted, or one of:
enum : int { ReferenceIsText = -1, ReferenceIsBlank = 0 };
int DecodeReference(const char* reference, int length, char* bytes);
// The length of the whole reference at bytes[0] ("&" name ";", "&#" digits
// ";" or "&#x" hex digits ";", shorter than VisibleTextReferenceLimit), of
// count bytes, or 0: a reference as it stands, whether or not it decodes.
int32_t WholeReferenceLength(const unsigned char* bytes, int32_t count);
