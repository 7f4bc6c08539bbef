// Excerpts: the piece of a result's visible text that holds the most search
// words, best as whole words, with every hit marked, written so that it can
// stand anywhere in a page.
#pragma once

#include <cstdint>

#include "results.h"
#include "search-plan.h"
#include "visible-text.h"

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
// Under folding, text is folded for hits a piece of this size at a time.
constexpr int ExcerptFoldPiece = 4096;

struct ExcerptHit {
    int32_t start, end;          // bytes of the visible text that the search matched
    int32_t markStart, markEnd;  // what is marked: a wildcard's side runs to the word's end
    int32_t term;
    double score;                // as the ranking scores a hit
};

// The bytes an excerpt of `size` characters may take, its terminator
// included: a character is at most a reference, and may open and close a mark.
constexpr int ExcerptCapacity(int size) { return size * (VisibleTextReferenceLimit + 13) + 2 * 3 + 1; }

// What making excerpts works in: one block for a page's results, so that
// nothing is allocated per result, and the plan whose words it marks.
struct ExcerptWorkspace {
    const SearchPlan* plan;
    VisibleTextMode mode;  // references decoded where the search read them decoded (TEXTONLY)
    bool mainContent;      // the text is the page's main content (TEXTONLY main)
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
    // Under folding: the text folded for finding hits (foldRoom bytes), and
    // where in the text each folded byte's character begins.
    char* folded;
    int32_t* foldedFrom;
    int64_t* pieceOffsets;  // what folding a piece tells, FoldOutputCapacity(ExcerptFoldPiece)
    int32_t foldRoom;
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
// document has no visible text or can no longer be opened. Of main content,
// the start is where its text begins, and a piece further on is read with
// what the document's text before it holds (its elements).
int BuildExcerpt(const ResultEntry* entry, int size, ExcerptWorkspace* workspace, char* out, int capacity);
