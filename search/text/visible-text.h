// The visible-text reader: the text a visitor sees of a document, markup
// left out, every run of blanks one blank, no blank at either end. Keep mode
// leaves character references as they stand (excerpts escape them later);
// decode mode decodes them for matching. Read for its main content, it also
// leaves out what every page of a site repeats (see StartMainContent). The
// reader takes the document's bytes in pieces of any size and holds what a
// piece cannot decide, so every split of a document gives the same text.
#pragma once

#include <cstdint>

#include "corv-vector.h"

enum VisibleTextMode : int32_t {
    VisibleTextKeepReferences = 0,
    VisibleTextDecodeReferences = 1
};

enum VisibleTextScope : int32_t {
    VisibleTextWhole = 0,  // the whole page
    VisibleTextMain = 1    // its main content
};

// What a call may write beyond the bytes it is given: the text held back
// from earlier calls (a blank, a "<" or a reference not yet complete).
constexpr int VisibleTextSlack = 64;
constexpr int VisibleTextReferenceLimit = 32;

// What marks a page's main content, each kind stronger than the one before:
// the owner's attribute wins over the theme's elements.
enum PageMarks : int32_t {
    NoMarks = 0,    // the whole page is its content
    MainMarks = 1,  // <main> and role="main" elements
    BodyMarks = 2   // elements with a data-trawlex-body attribute
};

// An element followed to its end by counting its name's start and end tags.
struct ElementExtent {
    uint64_t name;  // as ElementNameOf gives it; 0: no element is followed
    uint64_t key;   // the same name as the vector engine's tag names (0x20 on every byte)
    int64_t depth;  // start tags of the name less its end tags since the element began
    bool letters;   // the name is of a few ASCII letters, which its key tells exactly
};

// The names of the elements that a header or footer inside is not the page's.
enum : int { SectionArticle, SectionAside, SectionMain, SectionNav, SectionSection, SectionNames };

// The tag being read, as far as main content needs it: its name in full, and
// what its attributes say.
struct TagAttributes {
    uint64_t element;   // the name so far (see ElementNameOf)
    uint64_t hash;      // of a name longer than NameLimit
    int32_t state;      // where in the attributes the tag is
    int32_t length;     // bytes of the attribute name or role token so far
    int32_t value;      // whose value is being read
    int32_t flags;      // what the attributes said so far
    char text[20];      // the attribute name or role token so far, in lower case
};

// The reader's whole state; it allocates nothing, so a copy of it reads on
// from where it was taken. Only offset, restartAt, startOver and marks are
// for callers to read.
struct VisibleTextReader {
    int64_t offset;      // document bytes read so far, counted from its start
    int64_t restartAt;   // where to feed the document again, or -1 (see FinishVisibleText and startOver)
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
    bool startOver;  // main content: the text so far is void, the document is fed again from its start
    char reference[VisibleTextReferenceLimit];
    // Main content (scope VisibleTextMain).
    int32_t scope;
    int32_t marks;  // the marks the page is read by: the strongest met so far
    ElementExtent shown;   // the outermost element marked as main content
    ElementExtent hidden;  // the outermost element left out
    ElementExtent within;  // the outermost role="main" or data-trawlex-body element
    int64_t sections[SectionNames];  // open elements of each name
    TagAttributes tag;
};

void StartVisibleText(VisibleTextReader* reader, VisibleTextMode mode, VectorLevel level);
// Before the first byte: reads the page's main content only. The marks are
// those the page is known to hold (NoMarks when not known): where the reader
// meets stronger ones after it has written text, it sets startOver and
// restartAt to 0, and the caller drops the text written so far and feeds the
// document again from its start (the reader knows the marks then). The
// marks found are in `marks` at the end.
//
// The main content is the content of the elements with a data-trawlex-body
// attribute, or where the page has none, of its <main> and role="main"
// elements, or where it has none of those either, the whole page; without
// <nav> elements, elements whose role lists navigation, search, banner or
// contentinfo, <header> and <footer> elements outside article, aside, main,
// nav, section, role="main" and data-trawlex-body elements, and elements with
// a data-trawlex-ignore attribute. An element runs from its start tag to the
// end tag that its name's start and end tags, counted, close (or the end); a
// void or self-closed tag holds nothing. What is left out stands as a blank.
void StartMainContent(VisibleTextReader* reader, PageMarks marks);
// Feeds the next count bytes of the document (as read in text mode, in order,
// split anywhere) and writes the visible text they complete into target,
// which holds count + VisibleTextSlack bytes. Returns the bytes written; the
// bytes of target after them may have been overwritten.
int ReadVisibleText(VisibleTextReader* reader, const char* source, int count, char* target);
// At the document's end: writes what is held back into target (which holds
// VisibleTextSlack bytes) and returns the bytes written. When the document
// ended inside a head with a "<body" after it and no "</head", restartAt is
// the offset of that "<body": the caller feeds the document again from there
// and calls this again (at most once per reading of the document). Otherwise
// restartAt is -1. (The text stream does that for its readers.)
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
// As DecodeReference, of a name of one to eight bytes given as a number, its
// first byte lowest; writes four bytes.
int DecodeNameNumber(uint64_t name, char* bytes);
// As DecodeReference, of a number's value (above 0x10FFFF where it is larger).
int DecodeNumber(int32_t value, char* bytes);
// The length of the whole reference at bytes[0] ("&" name ";", "&#" digits
// ";" or "&#x" hex digits ";", shorter than VisibleTextReferenceLimit), of
// count bytes, or 0: a reference as it stands, whether or not it decodes.
int32_t WholeReferenceLength(const unsigned char* bytes, int32_t count);
// The candidate reference at bytes[0] ("&"), of count bytes, read at once as
// the reader reads it byte by byte: its length when it decodes, with its
// character's bytes in `decoded` (*decodedLength of them, at most 4 and never
// more than its length, or 0 for a blank); ReferenceIsText when its "&" is
// text and what follows is read as text; or ReferenceNeedsMore when the bytes
// end before that is told.
enum : int32_t { ReferenceNeedsMore = -2 };
int32_t ReadWholeReference(const unsigned char* bytes, int32_t count, char* decoded, int32_t* decodedLength);
