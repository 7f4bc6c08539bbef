// filesrch: excerpts. The piece of a result's visible text that holds the
// most search words, best as whole words, with every hit marked, written so
// that it can stand anywhere in a page: it never opens an element of its own,
// never ends an attribute, and never cuts a character or a reference.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "excerpt.h"

#include "corv-core.h"
#include "corv-str.h"
#include "platform.h"
#include "text-stream.h"

namespace {

const char* const ExcerptModule = "filesrch";
// Hits tried as a window's first.
constexpr int WindowStartLimit = 1024;
constexpr char Ellipsis[] = "...";
constexpr char MarkOpen[] = "<MARK>";
constexpr char MarkClose[] = "</MARK>";
static_assert(ExcerptCapacity(1) == VisibleTextReferenceLimit + sizeof MarkOpen - 1 + sizeof MarkClose - 1 +
                                       2 * (sizeof Ellipsis - 1) + 1,
              "an excerpt's room holds the longest character, its marks and the ellipses");
// Further on, a document is read around each hit its scan recorded (where
// the stored file's carriage returns may have moved it a little).
constexpr int64_t NeighbourhoodBefore = 4096;
constexpr int32_t NeighbourhoodBytes = 2 * NeighbourhoodBefore;
// A document's start is read in stretches that begin with this size and double.
constexpr int64_t FirstStretchBytes = 16384;

bool IsWordByte(unsigned char byte) { return IsAsciiLetter(byte) || IsAsciiDigit(byte) || byte == '_' || byte >= 0x80; }

// The visible text being cut: bytes and their count.
struct Text {
    const unsigned char* bytes;
    int32_t length;
    bool decoded = false;  // references were decoded: an "&" left is text
};

// The length of the whole character reference at `at` (the reader's own
// grammar), or 0; in decoded text an "&" is text.
int32_t ReferenceLengthAt(const Text& text, int32_t at)
{
    if (text.bytes[at] != '&' || text.decoded) return 0;
    return WholeReferenceLength(text.bytes + at, text.length - at);
}

// The length of the well-formed UTF-8 sequence at `at`, or 0.
int32_t SequenceLengthAt(const Text& text, int32_t at)
{
    return Utf8SequenceLength(text.bytes + at, text.bytes + text.length);
}

// Characters: a whole reference, a UTF-8 sequence, or any other byte.
inline int32_t CharLengthAt(const Text& text, int32_t at)
{
    const unsigned char byte = text.bytes[at];
    if (byte < 0x80 && byte != '&') return 1;  // most of any text
    int32_t length = ReferenceLengthAt(text, at);
    if (length == 0) length = SequenceLengthAt(text, at);
    return length > 0 ? length : 1;
}

// The start of the character that ends at `at`, which starts a character.
int32_t PreviousCharStart(const Text& text, int32_t at)
{
    for (int32_t back = 2; back <= VisibleTextReferenceLimit && at - back >= 0; ++back) {
        const int32_t from = at - back;
        if (back <= 4 && SequenceLengthAt(text, from) == back) return from;
        if (ReferenceLengthAt(text, from) == back) return from;
    }
    return at - 1;
}

// Whether `at` lies between two characters: a walk from the text's start
// would stop there.
bool IsCharBoundary(const Text& text, int32_t at)
{
    if (at <= 0 || at >= text.length) return true;
    for (int32_t back = 1; back < VisibleTextReferenceLimit && at - back >= 0; ++back) {
        const int32_t from = at - back;
        const unsigned char byte = text.bytes[from];
        if (byte == '&' && ReferenceLengthAt(text, from) > back) return false;
        if (byte >= 0xC2 && back < 4 && SequenceLengthAt(text, from) > back) return false;
    }
    return true;
}

// Moves from `at` by up to `count` characters forward, within [0, limit].
int32_t Forward(const Text& text, int32_t at, int32_t count, int32_t limit)
{
    while (count-- > 0 && at < limit) at = std::min(limit, at + CharLengthAt(text, at));
    return at;
}

int32_t Backward(const Text& text, int32_t at, int32_t count)
{
    while (count-- > 0 && at > 0) at = PreviousCharStart(text, at);
    return at;
}

int32_t CharsBetween(const Text& text, int32_t from, int32_t to, int32_t stopAfter)
{
    int32_t chars = 0;
    for (int32_t at = from; at < to && chars <= stopAfter; at += CharLengthAt(text, at)) ++chars;
    return chars;
}

// ---- Hits --------------------------------------------------------------------------

using Hit = ExcerptHit;

struct HitList {
    const SearchExpression* expression;
    Hit* hits;
    int32_t count;
    bool counted[PatternSetLimit];  // terms whose hits count: some word of theirs is not excluded
};

// Where hits are looked for: the text, or under folding the text folded,
// with where each folded byte's character begins in the text (none when the
// text is its own folding).
struct SearchedText {
    Text text;
    const int32_t* from;
    const SearchPlan* plan;
};

// As the scan scores a hit.
double HitScore(const SearchedText& searched, const Hit& hit)
{
    const Text& text = searched.text;
    const char* bytes = reinterpret_cast<const char*>(text.bytes);
    const TermScoring& scoring = searched.plan->scoring[hit.term];
    unsigned char before = hit.start > 0 ? text.bytes[hit.start - 1] : 0;
    unsigned char after = hit.end < text.length ? text.bytes[hit.end] : 0;
    if (searched.plan->keepsPunctuation) {
        if (before >= 0x80) before = FoldedByteBefore(bytes, bytes + hit.start);
        if (after >= 0x80) after = FoldedByteAt(bytes + hit.end, bytes + text.length);
    }
    return scoring.left[before] * scoring.right[after];
}

// Under folding, no hit ends before a mark of the character it ends in.
bool EndsCharacter(const SearchedText& searched, const Hit& hit)
{
    if (searched.plan->folding == CaseFoldAscii) return true;
    const char* bytes = reinterpret_cast<const char*>(searched.text.bytes);
    return FoldedEndOfHit(bytes + hit.end, bytes + searched.text.length) != FoldedHitEnd::Continues;
}

// The stretch of the text that the folded bytes [from, to) come from.
void Unfold(const SearchedText& searched, const Text& text, int32_t* from, int32_t* to)
{
    if (!searched.from) return;
    int32_t start = text.length, end = 0;
    for (int32_t at = *from; at < *to; ++at) {
        const int32_t character = searched.from[at];
        start = std::min(start, character);
        end = std::max(end, character + CharLengthAt(text, character));
    }
    *from = start;
    *to = end;
}

// A hit that starts or ends inside a character (a reference among them) is
// not one the visitor can see.
bool Visible(const Text& text, const Hit& hit)
{
    return IsCharBoundary(text, hit.start) && IsCharBoundary(text, hit.end);
}

void AddHitsOfTerm(const SearchedText& folded, const Text& original, int32_t term, int32_t limit, HitList* list)
{
    const Text& text = folded.text;
    const SearchTerm& searched = list->expression->terms[term];
    const char* start = reinterpret_cast<const char*>(text.bytes);
    const char* end = start + text.length;
    const char* found = nullptr;
    for (const char* from = start; list->count < limit && FindPattern(searched.pattern, from, end, &found);
         from = found + searched.pattern->length) {
        Hit hit;
        hit.start = static_cast<int32_t>(found - start);
        hit.end = hit.start + searched.pattern->length;
        if (!Visible(text, hit) || !EndsCharacter(folded, hit)) continue;
        hit.markStart = hit.start;
        hit.markEnd = hit.end;
        if (searched.flags & WordAnyPrefix)
            while (hit.markStart > 0 && IsWordByte(text.bytes[hit.markStart - 1])) --hit.markStart;
        if (searched.flags & WordAnySuffix)
            while (hit.markEnd < text.length && IsWordByte(text.bytes[hit.markEnd])) ++hit.markEnd;
        hit.term = term;
        hit.score = HitScore(folded, hit);
        Unfold(folded, original, &hit.start, &hit.end);
        Unfold(folded, original, &hit.markStart, &hit.markEnd);
        list->hits[list->count++] = hit;
    }
}

// Grows the room for folding a text of `length` bytes.
void GrowFoldRoom(ExcerptWorkspace* workspace, int32_t length)
{
    const int32_t needed = FoldOutputCapacity(length);
    if (needed <= workspace->foldRoom) return;
    const int32_t room = std::max(workspace->foldRoom * 2, needed);
    if (workspace->foldRoom > 0) {
        MemFree(&workspace->folded, workspace->foldRoom, ExcerptModule, __LINE__);
        MemFree(&workspace->foldedFrom, workspace->foldRoom * static_cast<int32_t>(sizeof(int32_t)), ExcerptModule, __LINE__);
    } else {
        workspace->pieceOffsets = MemAllocArray<int64_t>(FoldOutputCapacity(ExcerptFoldPiece), ExcerptModule, __LINE__);
    }
    workspace->folded = static_cast<char*>(MemAlloc(room, ExcerptModule, __LINE__));
    workspace->foldedFrom = MemAllocArray<int32_t>(room, ExcerptModule, __LINE__);
    workspace->foldRoom = room;
}

// The text as hits are looked for in it: folded as the plan folds it,
// unless it is its own folding.
SearchedText FoldForHits(const Text& text, ExcerptWorkspace* workspace)
{
    const SearchPlan& plan = *workspace->plan;
    const char* bytes = reinterpret_cast<const char*>(text.bytes);
    if (plan.folding == CaseFoldAscii || AsciiPrefixLength(bytes, text.length) == text.length)
        return SearchedText{text, nullptr, &plan};
    GrowFoldRoom(workspace, text.length);
    FoldState state;
    StartFolding(&state, plan.folding, plan.keepsPunctuation);
    int32_t length = 0;
    for (int32_t at = 0, piece = 1; piece > 0; at += piece) {
        piece = std::min(ExcerptFoldPiece, text.length - at);
        const int32_t made = piece > 0 ? FoldText(&state, bytes + at, piece, workspace->folded + length, workspace->pieceOffsets)
                                       : FinishFolding(&state, workspace->folded + length, workspace->pieceOffsets);
        for (int32_t i = 0; i < made; ++i) workspace->foldedFrom[length + i] = static_cast<int32_t>(workspace->pieceOffsets[i]);
        length += made;
    }
    const Text folded{reinterpret_cast<const unsigned char*>(workspace->folded), length, text.decoded};
    return SearchedText{folded, workspace->foldedFrom, &plan};
}

// Every hit of every term that some word not excluded searches for (up to
// an equal share of the room for each), in the order of their marks.
void FindHits(const Text& text, HitList* list, ExcerptWorkspace* workspace)
{
    const SearchExpression& expression = *list->expression;
    list->count = 0;
    int32_t counted = 0;
    for (int32_t term = 0; term < expression.termCount; ++term) list->counted[term] = false;
    for (int32_t i = 0; i < expression.wordCount; ++i) {
        const SearchWord& word = expression.words[i];
        if (word.term < 0 || (word.flags & WordExcluded) || list->counted[word.term]) continue;
        list->counted[word.term] = true;
        ++counted;
    }
    const SearchedText searched = FoldForHits(text, workspace);
    for (int32_t term = 0; term < expression.termCount; ++term)
        if (list->counted[term]) AddHitsOfTerm(searched, text, term, list->count + ExcerptHitCapacity / counted, list);
    std::stable_sort(list->hits, list->hits + list->count,
                     [](const Hit& a, const Hit& b) { return a.markStart < b.markStart; });
}

// ---- The window --------------------------------------------------------------------

// How much a window shows: more different terms first, then better hits.
struct WindowValue {
    int32_t terms;
    double score;
    bool Beats(const WindowValue& other) const
    {
        return terms != other.terms ? terms > other.terms : score > other.score;
    }
};

struct Window {
    int32_t start, end;  // bytes of the text
    WindowValue value;
};

// The window whose first hit is list.hits[first], with as many of the
// following hits as fit `size` characters.
Window WindowFrom(const Text& text, const HitList& list, int32_t first, int32_t size)
{
    const int32_t termCount = list.expression->termCount;
    double best[PatternSetLimit];
    for (int32_t term = 0; term < termCount; ++term) best[term] = -1.0;
    Window window{list.hits[first].markStart, list.hits[first].markStart, WindowValue{0, 0.0}};
    int32_t chars = 0;
    for (int32_t i = first; i < list.count; ++i) {
        const Hit& hit = list.hits[i];
        if (hit.markEnd > window.end) {
            chars += CharsBetween(text, window.end, hit.markEnd, size - chars);
            if (chars > size) break;
            window.end = hit.markEnd;
        }
        if (best[hit.term] < 0.0) ++window.value.terms;
        best[hit.term] = std::max(best[hit.term], hit.score);
    }
    for (int32_t term = 0; term < termCount; ++term)
        if (best[term] > 0.0) window.value.score += best[term];
    return window;
}

// The best window; on a tie the earliest. With no hit, the text's start.
// A window that shows every term as a whole word cannot be beaten.
Window ChooseWindow(const Text& text, const HitList& list, int32_t size)
{
    int32_t counted = 0;
    for (int32_t term = 0; term < list.expression->termCount; ++term) counted += list.counted[term] ? 1 : 0;
    Window chosen{0, 0, WindowValue{0, 0.0}};
    for (int32_t first = 0; first < list.count && first < WindowStartLimit; ++first) {
        Window window = WindowFrom(text, list, first, size);
        if (window.end > window.start && (chosen.end == 0 || window.value.Beats(chosen.value))) chosen = window;
        if (chosen.value.terms == counted && chosen.value.score >= counted) break;
    }
    return chosen;
}

bool IsBlankAt(const Text& text, int32_t at) { return at >= 0 && at < text.length && text.bytes[at] == ' '; }

// Widens the window to `size` characters around its hits, half the room on
// each side, then cuts both ends back to whole words. A piece read from
// inside the document may begin or end in the middle of a word, a character
// or a reference, so its own edges are cut back too.
Window Widen(const Text& text, const ExcerptPiece& piece, Window window, int32_t size)
{
    const int32_t used = CharsBetween(text, window.start, window.end, size);
    int32_t start = Backward(text, window.start, (size - used) / 2);
    int32_t end = Forward(text, window.end, size - CharsBetween(text, start, window.end, size), text.length);
    if ((start > 0 || !piece.startsDocument) && !IsBlankAt(text, start - 1)) {
        int32_t blank = start;
        while (blank < window.start && !IsBlankAt(text, blank)) ++blank;
        start = blank < window.start ? blank + 1 : window.start;
    }
    if ((end < text.length || !piece.endsDocument) && !IsBlankAt(text, end)) {
        int32_t blank = end;
        while (blank > window.end && !IsBlankAt(text, blank)) --blank;
        end = blank > window.end ? blank : window.end;
    }
    while (IsBlankAt(text, start) && start < end) ++start;
    while (end > start && IsBlankAt(text, end - 1)) --end;
    return Window{start, end, window.value};
}

// ---- Writing -----------------------------------------------------------------------

struct Writer {
    char* out;
    int32_t used;
    int32_t capacity;  // the terminator's byte not included

    void Write(const char* bytes, int32_t count)
    {
        count = std::min(count, capacity - used);
        memcpy(out + used, bytes, static_cast<size_t>(count));
        used += count;
    }
    void Write(const char* text) { Write(text, static_cast<int32_t>(strlen(text))); }
};

// A C0 control other than a tab or a line end, DEL, or a C1 control (as
// UTF-8): what reads the page may stop at or stumble on one, so none is shown.
bool IsControlChar(const unsigned char* at, int32_t length)
{
    if (length == 2) return at[0] == 0xC2 && at[1] <= 0x9F;
    return length == 1 && ((at[0] < 0x20 && at[0] != '\t' && at[0] != '\n' && at[0] != '\r') || at[0] == 0x7F);
}

// One character of the text, escaped where it could be taken for markup, a
// control shown as a blank.
int32_t WriteChar(const Text& text, int32_t at, Writer* writer)
{
    const int32_t reference = ReferenceLengthAt(text, at);
    const char* bytes = reinterpret_cast<const char*>(text.bytes + at);
    if (reference > 0) {
        writer->Write(bytes, reference);
        return reference;
    }
    switch (text.bytes[at]) {
    case '&': writer->Write("&amp;"); return 1;
    case '<': writer->Write("&lt;"); return 1;
    case '>': writer->Write("&gt;"); return 1;
    case '"': writer->Write("&quot;"); return 1;
    default: break;
    }
    const int32_t length = CharLengthAt(text, at);
    if (IsControlChar(text.bytes + at, length)) writer->Write(" ", 1);
    else writer->Write(bytes, length);
    return length;
}

// The marked stretches inside the window, overlapping ones joined (the hits
// come in the order of their marks).
int32_t MarkSpans(const HitList& list, const Window& window, int32_t (*spans)[2])
{
    int32_t count = 0;
    for (int32_t i = 0; i < list.count; ++i) {
        int32_t start = std::max(list.hits[i].markStart, window.start);
        int32_t end = std::min(list.hits[i].markEnd, window.end);
        if (start >= end) continue;
        if (count > 0 && start <= spans[count - 1][1]) {
            spans[count - 1][1] = std::max(spans[count - 1][1], end);
            continue;
        }
        spans[count][0] = start;
        spans[count][1] = end;
        ++count;
    }
    return count;
}

// Ellipses stand where the piece was cut, and where the piece itself is cut
// out of its document.
void WriteWindow(const Text& text, const ExcerptPiece& piece, const HitList& list, const Window& window,
                 int32_t (*spans)[2], Writer* writer)
{
    const int32_t spanCount = MarkSpans(list, window, spans);
    if (window.start > 0 || !piece.startsDocument) writer->Write(Ellipsis);
    int32_t span = 0;
    for (int32_t at = window.start; at < window.end;) {
        if (span < spanCount && at == spans[span][0]) writer->Write(MarkOpen);
        at += WriteChar(text, at, writer);
        if (span < spanCount && at >= spans[span][1]) {
            writer->Write(MarkClose);
            ++span;
        }
    }
    if (window.end < text.length || !piece.endsDocument) writer->Write(Ellipsis);
}

// Whether no later text could give a better window: this one shows, each
// as a whole word, every term that counts and that the scan found in the
// document's text, and the text runs on far enough to widen it.
bool CannotBeBeaten(const Text& text, int32_t size, const ResultEntry& entry, ExcerptWorkspace* workspace)
{
    HitList list{workspace->plan->expression, workspace->hits, 0, {}};
    FindHits(text, &list, workspace);
    const Window window = ChooseWindow(text, list, size);
    int32_t possible = 0;
    for (int32_t term = 0; term < list.expression->termCount; ++term)
        if (list.counted[term] && (term >= HitOffsetLimit || entry.hitOffsets[term] >= 0)) ++possible;
    return window.end > window.start && window.value.terms >= possible && window.value.score >= possible &&
           CharsBetween(text, window.end, text.length, size) >= size;
}

}  // namespace

int MakeExcerpt(const ExcerptPiece& piece, int size, ExcerptWorkspace* workspace, char* out, int capacity,
                int* termsShown, double* score)
{
    CORV_CHECK_POINTER(ExcerptModule, piece.text);
    CORV_CHECK_POINTER(ExcerptModule, workspace);
    CORV_CHECK_POINTER(ExcerptModule, out);
    Writer writer{out, 0, capacity - 1};
    const Text visible{reinterpret_cast<const unsigned char*>(piece.text), piece.length, piece.decoded};
    Window window{0, 0, WindowValue{0, 0.0}};
    if (piece.length > 0) {
        HitList list{workspace->plan->expression, workspace->hits, 0, {}};
        FindHits(visible, &list, workspace);
        window = ChooseWindow(visible, list, size);
        WriteWindow(visible, piece, list, Widen(visible, piece, window, size), workspace->marks, &writer);
    }
    out[writer.used] = '\0';
    if (termsShown) *termsShown = window.value.terms;
    if (score) *score = window.value.score;
    return writer.used;
}

// ---- Reading the document again -------------------------------------------------------

namespace {

int32_t TextRoom(int32_t room) { return room + 2 * VisibleTextSlack; }

bool Decoded(const ExcerptWorkspace* workspace) { return workspace->mode == VisibleTextDecodeReferences; }

// Makes room for `needed` bytes of visible text, keeping the `kept` so far.
void GrowRoom(ExcerptWorkspace* workspace, int32_t needed, int32_t kept)
{
    if (needed <= workspace->room) return;
    const int32_t room = std::max(workspace->room * 2, needed);
    char* text = static_cast<char*>(MemAlloc(TextRoom(room), ExcerptModule, __LINE__));
    if (kept > 0) memcpy(text, workspace->text, static_cast<size_t>(kept));
    if (workspace->room > 0) MemFree(&workspace->text, TextRoom(workspace->room), ExcerptModule, __LINE__);
    workspace->text = text;
    workspace->room = room;
}

// Starts reading the file from where it is, as the search read it; of main
// content, knowing the page's marks when the scan told them.
void StartReading(VisibleTextStream* stream, PlatFile* file, ExcerptWorkspace* workspace, int32_t marks)
{
    StartTextStream(stream, file, workspace->mode, workspace->plan->level, workspace->piece, ExcerptPieceBytes);
    if (workspace->mainContent) StartMainContent(&stream->reader, static_cast<PageMarks>(marks < 0 ? NoMarks : marks));
}

// Reads the document on from where the stream is, at most `limit` stored
// bytes, into the visible text after the `visible` bytes it holds; the new
// count of them (none when the page's marks voided the text so far). A read
// that comes up short is the document's end.
int32_t ReadIntoText(VisibleTextStream* stream, int64_t limit, ExcerptWorkspace* workspace, int32_t visible)
{
    for (int64_t read = 0; read < limit && !stream->fileEnded;) {
        const int32_t wanted = static_cast<int32_t>(std::min<int64_t>(ExcerptPieceBytes, limit - read));
        GrowRoom(workspace, visible + wanted, visible);
        stream->readSize = wanted;
        visible += NextVisibleText(stream, workspace->text + visible, wanted);
        read += stream->fed;
        if (!stream->startedOver) continue;
        stream->startedOver = false;
        visible = 0;
    }
    return visible;
}

// The text's end: what the reader held back, and where the head was never
// closed, the text from its "<body" (the stream reads the document again to
// there), ExcerptStartBytes of it at most.
int32_t FinishText(VisibleTextStream* stream, ExcerptWorkspace* workspace, int32_t visible)
{
    GrowRoom(workspace, visible, visible);
    visible += NextVisibleText(stream, workspace->text + visible, 0);
    if (stream->ended) return visible;
    visible = ReadIntoText(stream, ExcerptStartBytes, workspace, visible);
    GrowRoom(workspace, visible, visible);
    return visible + EndVisibleText(stream, workspace->text + visible);
}

// The excerpt made so far, in `out`, and how much it shows.
struct BestExcerpt {
    int length = 0;
    int terms = -1;
    double score = 0.0;
};

// The document's start, read in growing stretches and no further once its
// text holds a window that nothing later could beat (most documents show
// their words early), up to ExcerptStartBytes (of main content, from where
// its text begins, which may be after a long menu). True when that settles
// the excerpt: nothing later could beat it, or the document ended; else
// *startEnd is where the reading stopped in the stored file.
bool StartExcerpt(PlatFile* file, const ResultEntry* entry, int32_t marks, int size, ExcerptWorkspace* workspace,
                  char* out, int capacity, BestExcerpt* best, int64_t* startEnd)
{
    VisibleTextStream stream;
    StartReading(&stream, file, workspace, marks);
    int32_t visible = 0;
    int64_t read = 0;
    bool ended = false, unbeaten = false;
    for (int64_t stretch = FirstStretchBytes; !ended && !unbeaten && read < ExcerptStartBytes; stretch *= 2) {
        const int64_t wanted = std::min<int64_t>(stretch, ExcerptStartBytes - read);
        visible = ReadIntoText(&stream, wanted, workspace, visible);
        ended = stream.fileEnded;
        if (!workspace->mainContent || visible > 0) read += wanted;
        const Text text{reinterpret_cast<const unsigned char*>(workspace->text), visible, Decoded(workspace)};
        unbeaten = !ended && CannotBeBeaten(text, size, *entry, workspace);
    }
    if (ended) visible = FinishText(&stream, workspace, visible);
    best->length = MakeExcerpt(ExcerptPiece{workspace->text, visible, true, ended, Decoded(workspace)}, size,
                               workspace, out, capacity, &best->terms, &best->score);
    *startEnd = workspace->mainContent ? TextStreamStored(&stream) : ExcerptStartBytes;
    return ended || unbeaten;
}

void TakeCandidate(ExcerptWorkspace* workspace, int capacity)
{
    if (workspace->candidateCapacity >= capacity) return;
    if (workspace->candidate) MemFree(&workspace->candidate, workspace->candidateCapacity, ExcerptModule, __LINE__);
    workspace->candidate = static_cast<char*>(MemAlloc(capacity, ExcerptModule, __LINE__));
    workspace->candidateCapacity = capacity;
}

// The recorded places past the start (which ended at startEnd), in order:
// where a piece read around them could show a hit that the start does not.
int FurtherOffsets(const int64_t* recorded, int64_t startEnd, int64_t (&offsets)[HitOffsetLimit])
{
    int count = 0;
    for (int i = 0; i < HitOffsetLimit; ++i)
        if (recorded[i] >= startEnd - NeighbourhoodBefore) offsets[count++] = recorded[i];
    std::sort(offsets, offsets + count);
    return count;
}

// Makes the excerpt of a piece cut out of the document, which replaces the
// best when it shows more.
void TryPiece(int32_t visible, bool ended, int size, ExcerptWorkspace* workspace, char* out, int capacity,
              BestExcerpt* best)
{
    int terms = 0;
    double score = 0.0;
    const int made = MakeExcerpt(ExcerptPiece{workspace->text, visible, false, ended, Decoded(workspace)}, size,
                                 workspace, workspace->candidate, capacity, &terms, &score);
    if (terms > best->terms || (terms == best->terms && score > best->score)) {
        memcpy(out, workspace->candidate, static_cast<size_t>(made) + 1);
        *best = BestExcerpt{made, terms, score};
    }
}

// Around each of the offsets, from the earliest: a piece that shows more
// replaces the excerpt, the earlier one stays on a tie. A piece begins as
// text, whatever markup it may fall into.
void ExcerptsAround(PlatFile* file, const int64_t* offsets, int count, int size, ExcerptWorkspace* workspace,
                    char* out, int capacity, BestExcerpt* best)
{
    TakeCandidate(workspace, capacity);
    for (int i = 0; i < count; ++i) {
        const int64_t from = offsets[i] - NeighbourhoodBefore;
        if (!PlatSeek(file, from)) continue;
        VisibleTextStream stream;
        StartReading(&stream, file, workspace, NoMarks);
        int32_t visible = ReadIntoText(&stream, NeighbourhoodBytes, workspace, 0);
        const bool ended = stream.fileEnded;
        GrowRoom(workspace, visible, visible);
        visible += EndVisibleText(&stream, workspace->text + visible);
        TryPiece(visible, ended, size, workspace, out, capacity, best);
    }
}

// Reads on, the text dropped, to about `stored` in the stored file; false
// when the document ends first.
bool SkipTo(VisibleTextStream* stream, int64_t stored, ExcerptWorkspace* workspace)
{
    GrowRoom(workspace, ExcerptPieceBytes, 0);
    for (int64_t at = TextStreamStored(stream); at < stored && !stream->fileEnded; at = TextStreamStored(stream)) {
        stream->readSize = static_cast<int32_t>(std::min<int64_t>(ExcerptPieceBytes, stored - at));
        NextVisibleText(stream, workspace->text, stream->readSize);
        stream->startedOver = false;
    }
    return !stream->fileEnded;
}

// Of main content, what a piece shows depends on the elements before it: the
// document is read once from its start, and each piece from a copy of the
// reader taken where it begins (the pieces may overlap).
void MainExcerptsAround(PlatFile* file, const int64_t* offsets, int count, int32_t marks, int size,
                        ExcerptWorkspace* workspace, char* out, int capacity, BestExcerpt* best)
{
    if (count == 0 || !PlatSeek(file, 0)) return;
    TakeCandidate(workspace, capacity);
    VisibleTextStream stream;
    StartReading(&stream, file, workspace, marks);
    for (int i = 0; i < count && SkipTo(&stream, offsets[i] - NeighbourhoodBefore, workspace); ++i) {
        const VisibleTextStream before = stream;
        const int64_t from = TextStreamStored(&stream);
        int32_t visible = ReadIntoText(&stream, NeighbourhoodBytes, workspace, 0);
        const bool ended = stream.fileEnded;
        GrowRoom(workspace, visible, visible);
        visible += EndVisibleText(&stream, workspace->text + visible);
        TryPiece(visible, ended, size, workspace, out, capacity, best);
        stream = before;
        if (!PlatSeek(file, from)) return;
    }
}

// Further on, around the best hit of each term that the scan recorded past
// the start; where those show nothing (a best hit may lie in a tag's
// attribute, which no visitor sees), around each term's first hit outside
// a tag.
void NeighbourhoodExcerpts(PlatFile* file, const ResultEntry* entry, int32_t marks, int64_t startEnd, int size,
                           ExcerptWorkspace* workspace, char* out, int capacity, BestExcerpt* best)
{
    for (const int64_t* recorded : {entry->hitOffsets, entry->shownOffsets}) {
        int64_t offsets[HitOffsetLimit];
        const int count = FurtherOffsets(recorded, startEnd, offsets);
        if (workspace->mainContent) MainExcerptsAround(file, offsets, count, marks, size, workspace, out, capacity, best);
        else ExcerptsAround(file, offsets, count, size, workspace, out, capacity, best);
        if (best->terms > 0) return;
    }
}

// The marks of a page whose scan did not read its text: the whole text is
// read once.
int32_t LearnMarks(PlatFile* file, ExcerptWorkspace* workspace)
{
    VisibleTextStream stream;
    StartReading(&stream, file, workspace, NoMarks);
    while (!stream.ended) {
        SkipTo(&stream, INT64_MAX, workspace);
        NextVisibleText(&stream, workspace->text, 0);  // the end, or a head's "<body"
    }
    return PlatSeek(file, 0) ? stream.reader.marks : -1;
}

}  // namespace

void ReleaseExcerptRoom(ExcerptWorkspace* workspace)
{
    CORV_CHECK_POINTER(ExcerptModule, workspace);
    if (workspace->foldRoom > 0) {
        MemFree(&workspace->folded, workspace->foldRoom, ExcerptModule, __LINE__);
        MemFree(&workspace->foldedFrom, workspace->foldRoom * static_cast<int32_t>(sizeof(int32_t)), ExcerptModule, __LINE__);
        MemFree(&workspace->pieceOffsets, FoldOutputCapacity(ExcerptFoldPiece) * static_cast<int32_t>(sizeof(int64_t)),
                ExcerptModule, __LINE__);
        workspace->foldRoom = 0;
    }
    if (workspace->candidate) MemFree(&workspace->candidate, workspace->candidateCapacity, ExcerptModule, __LINE__);
    workspace->candidateCapacity = 0;
    if (workspace->room == 0) return;
    MemFree(&workspace->text, TextRoom(workspace->room), ExcerptModule, __LINE__);
    workspace->room = 0;
}

int BuildExcerpt(const ResultEntry* entry, int size, ExcerptWorkspace* workspace, char* out, int capacity)
{
    CORV_CHECK_POINTER(ExcerptModule, entry);
    CORV_CHECK_POINTER(ExcerptModule, workspace);
    CORV_CHECK_POINTER(ExcerptModule, out);
    out[0] = '\0';
    char path[PathCapacity];
    StrCopy(path, entry->path);
    SlashesToBackslashes(path);
    PlatFileGuard file(PlatOpen(path, PlatReadText));
    if (!file) return 0;
    int32_t marks = entry->marks;
    if (workspace->mainContent && marks < 0 && (marks = LearnMarks(file.get(), workspace)) < 0) return 0;
    BestExcerpt best;
    int64_t startEnd = 0;
    if (!StartExcerpt(file.get(), entry, marks, size, workspace, out, capacity, &best, &startEnd))
        NeighbourhoodExcerpts(file.get(), entry, marks, startEnd, size, workspace, out, capacity, &best);
    return best.length;
}
