// corv-fold: the text folder. Every code point's fate is worked out ahead by
// scripts/gen-unicode-tables: a letter written alone is a lookup in a
// two-stage table and a copy of its folded bytes. Only a letter followed by
// marks takes the long way (decompose, put in canonical order, fold), and
// plain ASCII is found 16 bytes at a time and copied.
#include "corv-fold.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "corv-str.h"
#include "corv-vector-kernels.h"
#include "corv-vector.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

struct FoldRecord {
    // Per mode, the character folded alone: its bytes when they fit, else
    // where they begin in foldTexts (the low byte first).
    unsigned char text[2][4];
    uint16_t decomposition;  // in foldCodes: its canonical decomposition when that holds marks, or 0
    uint16_t folding;        // in foldCodes: a mark case folded and decomposed, or 0 for itself
    uint8_t combiningClass;
    uint8_t flags;
    uint8_t marks;           // the marks in its decomposition
    uint8_t lengths;         // of the texts: the first mode's in the low four bits
};

enum : uint8_t {
    FlagMark = 0x01,        // general category M, or a combining class
    FlagUnspaced = 0x02,    // of a script written without spaces
    FlagAccented = 0x04,    // folds to a Latin, Greek or Cyrillic letter: its marks go (accents)
    FlagKeepsBreve = 0x08,  // folds to Cyrillic и: a breve after it stays, for й
    FlagUnchanged = 0x10,   // written as it stands in both modes
    FlagHangul = 0x20,      // a Hangul syllable, decomposed by arithmetic
    FlagHold = 0x40         // << (mode - 1): marks after it may change how it is written
};
constexpr uint8_t LetterFlags = FlagAccented | FlagKeepsBreve;

#include "corv-fold-tables.inc"

static_assert(FoldDataExpansion <= FoldExpansion, "the tables write more per byte than callers allow for");
static_assert(FoldDataMarkLimit == FoldMarkLimit, "the tables were made for another mark limit");

constexpr uint32_t CombiningBreve = 0x0306;
constexpr uint32_t HangulFirst = 0xAC00;

const FoldRecord& RecordOf(uint32_t codePoint)
{
    if (codePoint < 0x800) return foldRecords[foldTwoByteRecords[codePoint]];
    const uint32_t block = foldBlockIndex[codePoint >> FoldBlockShift];
    return foldRecords[foldBlocks[block << FoldBlockShift | (codePoint & ((1u << FoldBlockShift) - 1))]];
}

const uint32_t* CodesOf(uint16_t at, int* count)
{
    *count = static_cast<int>(foldCodes[at]);
    return foldCodes + at + 1;
}

inline uint32_t Decode(const unsigned char* at, int length)
{
    switch (length) {
    case 1: return at[0];
    case 2: return (at[0] & 0x1Fu) << 6 | (at[1] & 0x3Fu);
    case 3: return (at[0] & 0x0Fu) << 12 | (at[1] & 0x3Fu) << 6 | (at[2] & 0x3Fu);
    default: return (at[0] & 0x07u) << 18 | (at[1] & 0x3Fu) << 12 | (at[2] & 0x3Fu) << 6 | (at[3] & 0x3Fu);
    }
}

int Encode(uint32_t codePoint, unsigned char* bytes)
{
    if (codePoint < 0x80) {
        bytes[0] = static_cast<unsigned char>(codePoint);
        return 1;
    }
    static const unsigned char leads[5] = {0, 0, 0xC0, 0xE0, 0xF0};
    const int length = codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
    for (int i = length - 1; i > 0; --i, codePoint >>= 6) bytes[i] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
    bytes[0] = static_cast<unsigned char>(leads[length] | codePoint);
    return length;
}

// Whether the bytes up to end begin a well-formed sequence that they cut short.
bool IsCutSequence(const unsigned char* at, const unsigned char* end)
{
    const unsigned char lead = at[0];
    const int length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                     : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    const ptrdiff_t have = end - at;
    if (have >= length) return false;
    for (ptrdiff_t i = 1; i < have; ++i)
        if ((at[i] & 0xC0) != 0x80) return false;
    if (have < 2) return true;
    const unsigned char second = at[1];
    return !((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
             (lead == 0xF4 && second > 0x8F));
}

// Where the folded bytes go.
struct Sink {
    unsigned char* bytes;
    int64_t* offsets;
    int length;
    int capacity;
};

void PutOffsets(Sink* sink, int count, int64_t offset)
{
    if (sink->offsets)
        for (int i = 0; i < count; ++i) sink->offsets[sink->length + i] = offset;
    sink->length += count;
}

void Put(Sink* sink, const unsigned char* bytes, int count, int64_t offset)
{
    unsigned char* target = sink->bytes + sink->length;
    for (int i = 0; i < count; ++i) target[i] = bytes[i];
    PutOffsets(sink, count, offset);
}

// A record's text; one that the record holds is copied whole, 4 bytes, where there is room.
void PutText(Sink* sink, int32_t mode, const FoldRecord& record, int64_t offset)
{
    const int length = record.lengths >> (4 * (mode - 1)) & 0x0F;
    const unsigned char* text = record.text[mode - 1];
    if (length <= 4 && sink->capacity - sink->length >= 4) {
        memcpy(sink->bytes + sink->length, text, 4);
        PutOffsets(sink, length, offset);
    } else {
        Put(sink, length <= 4 ? text : foldTexts + (text[0] | text[1] << 8), length, offset);
    }
}

void PutHangul(Sink* sink, uint32_t syllable, int64_t offset)
{
    const uint32_t index = syllable - HangulFirst;
    const uint32_t jamo[3] = {0x1100 + index / 588, 0x1161 + index % 588 / 28, 0x11A7 + index % 28};
    unsigned char bytes[9];
    const int count = index % 28 ? 3 : 2;
    for (int i = 0; i < count; ++i) Encode(jamo[i], bytes + 3 * i);
    Put(sink, bytes, 3 * count, offset);
}

// A character folded alone; `own` holds its bytes (length of them) when it is unchanged.
void PutFolded(Sink* sink, int32_t mode, const FoldRecord& record, uint32_t codePoint, const unsigned char* own,
               int length, int64_t offset)
{
    if (record.flags & FlagUnchanged) {
        Put(sink, own, length, offset);
    } else if (record.flags & FlagHangul) {
        PutHangul(sink, codePoint, offset);
    } else {
        PutText(sink, mode, record, offset);
    }
}

void PutCodePoint(Sink* sink, int32_t mode, const FoldRecord& record, uint32_t codePoint, int64_t offset)
{
    unsigned char own[4];
    const int length = (record.flags & FlagUnchanged) ? Encode(codePoint, own) : 0;
    PutFolded(sink, mode, record, codePoint, own, length, offset);
}

bool IsDropped(const FoldState* state, uint32_t mark)
{
    return state->mode == CaseFoldAccents && (state->baseFlags & FlagAccented) &&
           !(mark == CombiningBreve && (state->baseFlags & FlagKeepsBreve));
}

// ---- A letter and its marks, the long way ----------------------------------------

struct Item {
    uint32_t codePoint;
    uint32_t combiningClass;
    int64_t offset;
};
constexpr int ItemLimit = FoldMarkLimit;  // a held letter's first part is written, not an item

void Append(Item* items, int* count, const uint32_t* codes, int codeCount, int64_t offset)
{
    for (int i = 0; i < codeCount; ++i)
        items[(*count)++] = Item{codes[i], RecordOf(codes[i]).combiningClass, offset};
}

// Each run of marks with a combining class, sorted stably by class: the
// canonical order (a character of class 0 is a barrier).
void PutInCanonicalOrder(Item* items, int count)
{
    for (int i = 1; i < count; ++i) {
        const Item item = items[i];
        if (item.combiningClass == 0) continue;
        int j = i;
        for (; j > 0 && items[j - 1].combiningClass > item.combiningClass; --j) items[j] = items[j - 1];
        items[j] = item;
    }
}

constexpr uint32_t KanaFirst = 0x3000;
constexpr uint32_t VoicingMark = 0x3099, SemiVoicingMark = 0x309A;

// The voiced kana that a kana and a voicing mark right after it make, or 0:
// kana are written composed, as Japanese text writes them.
uint32_t VoicedKana(uint32_t kana, uint32_t mark)
{
    if (kana - KanaFirst > 0xFF || mark - VoicingMark > SemiVoicingMark - VoicingMark) return 0;
    const uint8_t low = foldVoicedKana[mark - VoicingMark][kana - KanaFirst];
    return low ? KanaFirst + low : 0;
}

// The held letter's first part is written first (it folds to no mark), with
// the first mark after it in canonical order when they make a voiced kana;
// the rest, and the marks, are decomposed into items in canonical order.
int DecomposeHeld(FoldState* state, Sink* sink, Item* items)
{
    int count = 0;
    uint32_t base = 0;
    for (int i = 0; i < state->heldCount; ++i) {
        const uint32_t codePoint = state->held[i];
        const FoldRecord& record = RecordOf(codePoint);
        int codeCount = 1;
        const uint32_t* codes = record.decomposition ? CodesOf(record.decomposition, &codeCount) : &codePoint;
        if (i == 0 && state->heldBase) {
            base = codes[0];
            ++codes;
            --codeCount;
        }
        Append(items, &count, codes, codeCount, state->heldOffset[i]);
    }
    PutInCanonicalOrder(items, count);
    if (!state->heldBase) return count;
    const uint32_t voiced = count > 0 ? VoicedKana(base, items[0].codePoint) : 0;
    const uint32_t first = voiced ? voiced : base;
    PutCodePoint(sink, state->mode, RecordOf(first), first, state->heldOffset[0]);
    if (!voiced) return count;
    for (int i = 1; i < count; ++i) items[i - 1] = items[i];
    return count - 1;
}

// Case folding changes no mark's class (it leaves marks as they are, or makes
// letters of them), so the order stands: each part is folded and written.
void ReleaseSequence(FoldState* state, Sink* sink)
{
    Item decomposed[ItemLimit];
    const int count = DecomposeHeld(state, sink, decomposed);
    for (int i = 0; i < count; ++i) {
        const FoldRecord& record = RecordOf(decomposed[i].codePoint);
        int codeCount = 1;
        const uint32_t* codes = record.folding ? CodesOf(record.folding, &codeCount) : &decomposed[i].codePoint;
        for (int k = 0; k < codeCount; ++k) {
            const FoldRecord& folded = RecordOf(codes[k]);
            if (!(folded.flags & FlagMark))
                state->baseFlags = folded.flags & LetterFlags;  // U+0345 folds to iota
            else if (IsDropped(state, codes[k]))
                continue;
            PutCodePoint(sink, state->mode, folded, codes[k], decomposed[i].offset);
        }
    }
}

// Writes what is held back: a letter alone, a plain mark, or the long way.
void Release(FoldState* state, Sink* sink)
{
    if (state->heldCount == 0) return;
    const uint32_t first = state->held[0];
    const FoldRecord& record = RecordOf(first);
    if (state->heldCount == 1 && state->heldBase) {
        PutCodePoint(sink, state->mode, record, first, state->heldOffset[0]);
    } else if (state->heldCount == 1 && (record.flags & FlagUnchanged)) {
        if (!IsDropped(state, first)) PutCodePoint(sink, state->mode, record, first, state->heldOffset[0]);
    } else {
        ReleaseSequence(state, sink);
    }
    state->heldCount = 0;
    state->heldBase = false;
}

// ---- Taking characters ---------------------------------------------------------

// A letter that marks after it cannot change, with nothing held before it.
// Punctuation or a blank outside ASCII: written as one ASCII byte that is no letter or digit.
bool IsPunctuation(const FoldRecord& record, uint32_t codePoint)
{
    const unsigned char first = record.text[0][0];
    return codePoint >= 0x80 && !(record.flags & FlagUnchanged) && (record.lengths & 0x0F) == 1 && first < 0x80 &&
           !IsAsciiLetter(first) && !IsAsciiDigit(first);
}

bool WrittenAsItStands(const FoldState* state, const FoldRecord& record, uint32_t codePoint)
{
    return (record.flags & FlagUnchanged) || (state->keepsPunctuation && IsPunctuation(record, codePoint));
}

void WriteLetter(FoldState* state, Sink* sink, const FoldRecord& record, uint32_t codePoint,
                 const unsigned char* bytes, int length, int64_t offset)
{
    state->baseFlags = record.flags & LetterFlags;
    state->markCount = record.marks;
    if (state->keepsPunctuation && IsPunctuation(record, codePoint)) Put(sink, bytes, length, offset);
    else PutFolded(sink, state->mode, record, codePoint, bytes, length, offset);
}

void TakeLetter(FoldState* state, Sink* sink, const FoldRecord& record, uint32_t codePoint,
                const unsigned char* bytes, int length, int64_t offset)
{
    Release(state, sink);
    if (!(record.flags & (FlagHold << (state->mode - 1)))) {
        WriteLetter(state, sink, record, codePoint, bytes, length, offset);
        return;
    }
    state->baseFlags = record.flags & LetterFlags;
    state->markCount = record.marks;
    state->held[0] = codePoint;
    state->heldOffset[0] = offset;
    state->heldCount = 1;
    state->heldBase = true;
}

void TakeMark(FoldState* state, Sink* sink, const FoldRecord& record, uint32_t codePoint,
              const unsigned char* bytes, int length, int64_t offset)
{
    ++state->marksTaken;
    if (state->markCount + record.marks > FoldMarkLimit) {  // no longer the letter's marks
        Release(state, sink);
        state->baseFlags = 0;
        state->markCount = 0;
    }
    state->markCount += record.marks;
    // A plain mark of class 0 ends the marks before it and is never reordered.
    if (record.combiningClass == 0 && (record.flags & FlagUnchanged)) {
        Release(state, sink);
        if (!IsDropped(state, codePoint)) Put(sink, bytes, length, offset);
        return;
    }
    state->held[state->heldCount] = codePoint;
    state->heldOffset[state->heldCount++] = offset;
}

void TakeCharacter(FoldState* state, Sink* sink, const FoldRecord& record, uint32_t codePoint,
                   const unsigned char* bytes, int length, int64_t offset)
{
    if (record.flags & FlagMark)
        TakeMark(state, sink, record, codePoint, bytes, length, offset);
    else
        TakeLetter(state, sink, record, codePoint, bytes, length, offset);
}

// A byte that is not part of well-formed UTF-8, written as it stands.
void TakeStray(FoldState* state, Sink* sink, unsigned char byte, int64_t offset)
{
    ++state->marksTaken;
    Release(state, sink);
    state->baseFlags = 0;
    state->markCount = 0;
    Put(sink, &byte, 1, offset);
}

void TakeAscii(FoldState* state, Sink* sink, const unsigned char* bytes, int count, int64_t offset)
{
    Release(state, sink);
    unsigned char* target = sink->bytes + sink->length;
    if (count < 16)  // a blank between words: no call
        for (int i = 0; i < count; ++i) target[i] = bytes[i];
    else
        CopyBytes(reinterpret_cast<char*>(target), reinterpret_cast<const char*>(bytes), count);
    if (sink->offsets)
        for (int i = 0; i < count; ++i) sink->offsets[sink->length + i] = offset + i;
    sink->length += count;
    state->baseFlags = IsAsciiLetter(bytes[count - 1]) ? FlagAccented : 0;
    state->markCount = 0;
}

// The sequence cut short at the last call's end, completed from the bytes
// at `at`: returns the first byte not taken.
const unsigned char* TakePending(FoldState* state, Sink* sink, const unsigned char* at, const unsigned char* end)
{
    unsigned char bytes[4];
    const int have = state->pendingLength;
    memcpy(bytes, state->pending, static_cast<size_t>(have));
    const int take = static_cast<int>(end - at < 4 - have ? end - at : 4 - have);
    memcpy(bytes + have, at, static_cast<size_t>(take));
    const int64_t offset = state->offset - have;
    const int length = Utf8SequenceLength(bytes, bytes + have + take);
    if (length > 0) {
        state->pendingLength = 0;
        const uint32_t codePoint = Decode(bytes, length);
        TakeCharacter(state, sink, RecordOf(codePoint), codePoint, bytes, length, offset);
        return at + (length - have);
    }
    if (IsCutSequence(bytes, bytes + have + take)) {  // cut short again
        memcpy(state->pending + have, at, static_cast<size_t>(take));
        state->pendingLength = have + take;
        return end;
    }
    // Not well formed: its bytes stand as they are, and the bytes after them are read afresh.
    for (int i = 0; i < have; ++i) TakeStray(state, sink, bytes[i], offset + i);
    state->pendingLength = 0;
    return at;
}

// The bytes of one call, and the offset of their first in the text.
struct Source {
    const unsigned char* begin;
    const unsigned char* end;
    int64_t origin;
    int64_t OffsetOf(const unsigned char* at) const { return origin + (at - begin); }
};

// Characters up to the next ASCII byte or the end, or (without offsets) to
// where nothing is held back any more and the common way may go on: returns
// where it stopped, past one character at least.
const unsigned char* TakeCharacters(FoldState* state, Sink* sink, const Source& source, const unsigned char* at)
{
    const unsigned char* const end = source.end;
    const uint8_t heldOrMark = FlagMark | (FlagHold << (state->mode - 1));
    for (const unsigned char* first = at; at < end && *at >= 0x80;) {
        if (at > first && state->heldCount == 0 && !sink->offsets) return at;
        const int length = Utf8SequenceLength(at, end);
        if (length > 0) {
            const uint32_t codePoint = Decode(at, length);
            const FoldRecord& record = RecordOf(codePoint);
            if ((record.flags & heldOrMark) || state->heldCount > 0)
                TakeCharacter(state, sink, record, codePoint, at, length, source.OffsetOf(at));
            else  // most letters
                WriteLetter(state, sink, record, codePoint, at, length, source.OffsetOf(at));
            at += length;
        } else if (IsCutSequence(at, end)) {
            state->pendingLength = static_cast<int32_t>(end - at);
            memcpy(state->pending, at, static_cast<size_t>(end - at));
            return end;
        } else {
            TakeStray(state, sink, *at, source.OffsetOf(at));
            ++at;
        }
    }
    return at;
}

// The length of the well-formed sequence of two or three bytes at `at`, or 0.
inline int ShortSequenceLength(const unsigned char* at, const unsigned char* end)
{
    const unsigned char lead = at[0];
    if (lead >= 0xC2 && lead <= 0xDF) return end - at >= 2 && (at[1] & 0xC0) == 0x80 ? 2 : 0;
    if (lead < 0xE0 || lead > 0xEF || end - at < 3 || (at[1] & 0xC0) != 0x80 || (at[2] & 0xC0) != 0x80) return 0;
    return (lead == 0xE0 && at[1] < 0xA0) || (lead == 0xED && at[1] > 0x9F) ? 0 : 3;
}

constexpr int ShortAsciiRun = 64;

// Copies the ASCII bytes at `at` to out, ShortAsciiRun at most: how many.
// Sixteen are stored at a time, whole (out has room for that much more).
inline int CopyShortAsciiRun(unsigned char* out, const unsigned char* at, const unsigned char* end)
{
    int ascii = 0;
#if defined(__SSE2__)
    while (ascii < ShortAsciiRun && end - at - ascii >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + ascii));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + ascii), chunk);
        const int mask = _mm_movemask_epi8(chunk);
        if (mask) return ascii + __builtin_ctz(static_cast<unsigned>(mask));
        ascii += 16;
    }
#endif
    while (ascii < ShortAsciiRun && at + ascii < end && at[ascii] < 0x80) {
        out[ascii] = at[ascii];
        ++ascii;
    }
    return ascii;
}

// Whether the character at `at` is known, and is no mark: a letter before
// it, which marks after it could change, is written as folded alone.
bool NoMarkAt(const unsigned char* at, const unsigned char* end)
{
    if (at >= end) return false;
    if (*at < 0xCC) return *at < 0x80 || *at >= 0xC2;  // marks begin at U+0300
    const int length = ShortSequenceLength(at, end);
    return length > 0 && !(RecordOf(Decode(at, length)).flags & FlagMark);
}

// ---- The quick way: letters written from a table -----------------------------

// A character of two bytes as the quick way writes it, whatever follows it:
// its folded bytes and what it leaves for the marks after it.
struct QuickLetter {
    unsigned char text[4];
    uint8_t length;  // of text, or QuickNone: the character takes the record's way
    uint8_t letterFlags;
    uint8_t marks;
    uint8_t kind;    // QuickHolds, QuickMark
};
enum : uint8_t {
    QuickHolds = 0x01,  // marks after it may change how it is written: the next character must be no mark
    QuickMark = 0x02,
    QuickWindow = 0x04  // a small Cyrillic letter: vector windows may take it and what follows
};
constexpr uint8_t QuickNone = 0xFF;
constexpr int QuickBlocks = 16 * 64;  // three-byte characters by the low bits of their first two bytes

// A character of three bytes from U+3000 to U+30FF (kana, voiced or that a
// voicing mark may follow) as the quick way writes it when it is not plain:
// its folded bytes, and what it leaves for the marks after it.
struct QuickKana {
    unsigned char text[8];
    QuickLetter letter;  // its length, or QuickNone: the record's way
};

// Per mode, worked out from the records once: the letters of two bytes
// (Latin, Greek, Cyrillic...) that are written at once, and the plain
// three-byte characters (Han, most kana, symbols), written as they stand and
// leaving nothing for marks after them: a bit for each in a mask per 64.
struct QuickTables {
    QuickLetter twoBytes[0x800];
    uint64_t plainBlocks[QuickBlocks];
    // As plainBlocks, with the kana of kanaWindowBits: the characters that a
    // run of them copies, a kana that waits for no mark after it given back
    // at the run's end unless the character after it is known to be none.
    uint64_t runBlocks[QuickBlocks];
    QuickKana kana[0x100];
    bool smallCyrillic;  // а to я but й are written as they stand (vector windows may copy them)
    // Han from U+4000 to U+9FFF is plain, and these of U+3000 to U+30FF (bit
    // col & 7 of byte row * 8 + col / 8 for U+3000 + row * 64 + col) are
    // written as they stand, plain or waiting only for no mark after them:
    // vector windows may copy Japanese text.
    bool kanaWindows;
    alignas(32) uint8_t kanaWindowBits[32];
};

uint8_t AsciiLetterFlags(uint32_t byte)
{
    return IsAsciiLetter(static_cast<unsigned char>(byte)) ? uint8_t{FlagAccented} : uint8_t{0};
}

// Marks, Hangul, punctuation that becomes ASCII and texts that a record
// does not hold take the record's way; punctuation that the caller keeps is
// written as it stands. Below U+0080 (no letter of two bytes: the sequence
// is overlong) an entry tells what an ASCII byte leaves for marks after it.
QuickLetter QuickLetterOf(int32_t mode, bool keepsPunctuation, uint32_t codePoint)
{
    if (codePoint < 0x80) return QuickLetter{{0, 0, 0, 0}, QuickNone, AsciiLetterFlags(codePoint), 0, 0};
    const FoldRecord& record = RecordOf(codePoint);
    const uint8_t kind = (record.flags & (FlagHold << (mode - 1)) ? QuickHolds : 0) | (record.flags & FlagMark ? QuickMark : 0);
    QuickLetter quick{{0, 0, 0, 0}, QuickNone, static_cast<uint8_t>(record.flags & LetterFlags), record.marks, kind};
    const int length = record.lengths >> (4 * (mode - 1)) & 0x0F;
    const bool punctuation = IsPunctuation(record, codePoint);
    if ((record.flags & (FlagMark | FlagHangul)) || (punctuation && !keepsPunctuation)) return quick;
    if ((record.flags & FlagUnchanged) || punctuation) {
        quick.length = static_cast<uint8_t>(Encode(codePoint, quick.text));
    } else if (length <= 4) {
        memcpy(quick.text, record.text[mode - 1], 4);
        quick.length = static_cast<uint8_t>(length);
    }
    return quick;
}

// Written as it stands (kept punctuation too, all of it of two bytes or
// more), leaving nothing for marks after it and waiting for none.
bool IsPlainRecord(const FoldRecord& record, bool keepsPunctuation)
{
    const bool asItStands = (record.flags & FlagUnchanged) || (keepsPunctuation && IsPunctuation(record, 0x80));
    return asItStands && !(record.flags & (FlagMark | LetterFlags | FlagHold | FlagHold << 1)) && record.marks == 0;
}

// Which of the 64 code points from `first` are plain, looked up through the
// table's block of 128 that holds them (blocks repeat: each is looked at once).
uint64_t PlainMask(uint32_t first, bool keepsPunctuation, uint64_t* halves, bool* known)
{
    const uint32_t block = foldBlockIndex[first >> FoldBlockShift];
    const uint32_t half = block * 2 + (first >> 6 & 1);
    if (!known[half]) {
        known[half] = true;
        halves[half] = 0;
        for (uint32_t i = 0; i < 64; ++i)
            if (IsPlainRecord(foldRecords[foldBlocks[block << FoldBlockShift | ((first & 0x40) + i)]], keepsPunctuation))
                halves[half] |= uint64_t{1} << i;
    }
    return halves[half];
}

// A letter's folded text as its record gives it: in the record, or in foldTexts.
inline const unsigned char* RecordText(const FoldRecord& record, int32_t mode, int length)
{
    const unsigned char* text = record.text[mode - 1];
    return length <= 4 ? text : foldTexts + (text[0] | text[1] << 8);
}

// Letters written as they stand, or whose folded text (8 bytes at most) the
// record holds or points to; punctuation, marks and Hangul take the record's way.
QuickKana QuickKanaOf(int32_t mode, uint32_t codePoint)
{
    const FoldRecord& record = RecordOf(codePoint);
    const int length = record.lengths >> (4 * (mode - 1)) & 0x0F;
    const uint8_t kind = record.flags & (FlagHold << (mode - 1)) ? QuickHolds : 0;
    const uint8_t letterFlags = record.flags & LetterFlags;
    QuickKana kana{{0, 0, 0, 0, 0, 0, 0, 0}, {{0, 0, 0, 0}, QuickNone, letterFlags, record.marks, kind}};
    if ((record.flags & (FlagMark | FlagHangul)) || IsPunctuation(record, codePoint) || length > 8) return kana;
    if (record.flags & FlagUnchanged) {
        kana.letter.length = static_cast<uint8_t>(Encode(codePoint, kana.text));
        return kana;
    }
    memcpy(kana.text, RecordText(record, mode, length), static_cast<size_t>(length));
    kana.letter.length = static_cast<uint8_t>(length);
    return kana;
}

// The quick way writes no ASCII punctuation for other characters (letters
// that would go the record's way), so that those who must tell such bytes
// apart (FoldApart's foldedApart) need not be told of what it writes.
bool WritesAsciiPunctuation(const QuickLetter& quick)
{
    if (quick.length == QuickNone) return false;
    for (int i = 0; i < quick.length; ++i)
        if (quick.text[i] < 0x80 && !IsAsciiLetter(quick.text[i]) && !IsAsciiDigit(quick.text[i])) return true;
    return false;
}

// Whether a character of three bytes has its plain bit.
bool IsPlainThreeByte(const QuickTables& tables, uint32_t codePoint)
{
    return tables.plainBlocks[(codePoint >> 6 & 0x3FF)] >> (codePoint & 0x3F) & 1;
}

// Whether the quick way writes a kana as it stands (it may wait for no mark
// after it first).
bool IsKanaAsItStands(const QuickTables& tables, uint32_t codePoint)
{
    const QuickKana& kana = tables.kana[codePoint - KanaFirst];
    unsigned char own[4];
    Encode(codePoint, own);
    return kana.letter.length == 3 && kana.letter.letterFlags == 0 && memcmp(kana.text, own, 3) == 0;
}

void NoteKanaWindows(QuickTables* tables)
{
    tables->kanaWindows = true;
    for (uint32_t block = 0x4000 >> 6; block <= 0x9FFF >> 6; ++block)
        if (~tables->plainBlocks[block]) tables->kanaWindows = false;
    memset(tables->kanaWindowBits, 0, sizeof tables->kanaWindowBits);
    memcpy(tables->runBlocks, tables->plainBlocks, sizeof tables->runBlocks);
    for (uint32_t i = 0; i < 0x100; ++i)
        if (IsPlainThreeByte(*tables, KanaFirst + i) || IsKanaAsItStands(*tables, KanaFirst + i)) {
            tables->kanaWindowBits[i >> 3] |= static_cast<uint8_t>(1u << (i & 7));
            tables->runBlocks[(KanaFirst + i) >> 6] |= uint64_t{1} << (i & 0x3F);
        }
}

QuickTables MakeQuickTables(int32_t mode, bool keepsPunctuation)
{
    static_assert(FoldBlockShift == 7, "a block of the tables holds two quick blocks");
    QuickTables tables;
    for (uint32_t codePoint = 0; codePoint < 0x800; ++codePoint) {
        tables.twoBytes[codePoint] = QuickLetterOf(mode, keepsPunctuation, codePoint);
        if (WritesAsciiPunctuation(tables.twoBytes[codePoint])) tables.twoBytes[codePoint].length = QuickNone;
    }
    constexpr size_t Halves = 2 * (sizeof foldBlocks / sizeof foldBlocks[0] >> FoldBlockShift);
    uint64_t halves[Halves];
    bool known[Halves] = {};
    for (uint32_t block = 0; block < QuickBlocks; ++block) {
        const uint32_t first = block << 6;  // the lead's low bits, then the second byte's
        // Below U+0800 the sequence is overlong; U+D800 to U+DFFF are surrogates.
        const bool wellFormed = first >= 0x800 && (first < 0xD800 || first > 0xDFFF);
        tables.plainBlocks[block] = wellFormed ? PlainMask(first, keepsPunctuation, halves, known) : 0;
    }
    for (uint32_t i = 0; i < 0x100; ++i) tables.kana[i] = QuickKanaOf(mode, KanaFirst + i);
    tables.smallCyrillic = true;
    for (uint32_t codePoint = 0x0430; codePoint <= 0x044F; ++codePoint) {
        const QuickLetter& quick = tables.twoBytes[codePoint];
        unsigned char own[4];
        Encode(codePoint, own);
        if (codePoint != 0x0439 && (quick.length != 2 || quick.kind != 0 || memcmp(quick.text, own, 2) != 0))
            tables.smallCyrillic = false;
    }
    for (uint32_t codePoint = 0x0430; tables.smallCyrillic && codePoint <= 0x044F; ++codePoint)
        if (codePoint != 0x0439) tables.twoBytes[codePoint].kind = QuickWindow;
    NoteKanaWindows(&tables);
    return tables;
}

// Made when first asked for: a request folds in one way.
const QuickTables& QuickTablesOf(const FoldState* state)
{
    if (state->keepsPunctuation) {
        if (state->mode == CaseFoldUnicode) {
            static const QuickTables unicode = MakeQuickTables(CaseFoldUnicode, true);
            return unicode;
        }
        static const QuickTables accents = MakeQuickTables(CaseFoldAccents, true);
        return accents;
    }
    if (state->mode == CaseFoldUnicode) {
        static const QuickTables unicode = MakeQuickTables(CaseFoldUnicode, false);
        return unicode;
    }
    static const QuickTables accents = MakeQuickTables(CaseFoldAccents, false);
    return accents;
}

// Where a run of the quick way stands: the next byte to read, the next to
// write (never after it), and the last character taken.
struct QuickRun {
    const unsigned char* at;
    unsigned char* out;
    const QuickLetter* last;
};

const QuickLetter PlainLetter{{0, 0, 0, 0}, QuickNone, 0, 0, 0};

// Whether the character at `at` (4 bytes at least before the end) may be a
// mark: of three bytes or more, or one of two bytes that is. A byte that is
// no UTF-8 there is no mark either.
inline bool MayBeMark(const QuickTables& tables, const unsigned char* at)
{
    if (at[0] < 0x80) return false;
    return at[0] >= 0xE0 || (tables.twoBytes[(at[0] & 0x1Fu) << 6 | (at[1] & 0x3Fu)].kind & QuickMark);
}

// The 4 bytes at `at` as one word, the first in the low byte.
inline uint32_t LittleEndianWord(const unsigned char* at)
{
    uint32_t word;
    memcpy(&word, at, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap32(word);
#endif
    return word;
}

// Whether the character of three bytes that `word` (LittleEndianWord of
// it: a lead of 0xE0 to 0xEF and two continuation bytes) holds has its bit
// in `blocks` (plainBlocks, runBlocks).
inline bool HasBlockBit(const uint64_t* blocks, uint32_t word)
{
    return blocks[(word & 0x0Fu) << 6 | (word >> 8 & 0x3Fu)] >> (word >> 16 & 0x3Fu) & 1;
}

// The table's kana of U+3000 to U+30FF whose last two bytes are `second`
// and `third`.
inline const QuickKana& KanaOf(const QuickTables& tables, unsigned char second, unsigned char third)
{
    return tables.kana[(second & 0x03u) << 6 | (third & 0x3Fu)];
}

// Whether the character at `at` (4 bytes at least before the end) is known
// to be no mark: ASCII, a letter of two bytes that is none, a plain
// character of three bytes, or a kana with a text in the table.
inline bool IsKnownNoMark(const QuickTables& tables, const unsigned char* at)
{
    if (at[0] < 0xE0) return !MayBeMark(tables, at);
    const uint32_t word = LittleEndianWord(at);
    if ((word & 0xC0C0F0u) != 0x8080E0u) return false;
    if (HasBlockBit(tables.plainBlocks, word)) return true;
    return at[0] == 0xE3 && (at[1] & 0xFC) == 0x80 && KanaOf(tables, at[1], at[2]).letter.length != QuickNone;
}

// Whether the last character that a run or kana windows took, written as
// it stands just before `written` (ASCII, or a character of three bytes),
// is a kana that waits for no mark after it. It is read where it was
// written: where the text stands, the bytes it was read from may have been
// written over.
inline bool EndsWaiting(const QuickTables& tables, const unsigned char* written)
{
    if (written[-1] < 0x80 || written[-3] != 0xE3) return false;
    return KanaOf(tables, written[-2], written[-1]).letter.kind & QuickHolds;
}

// The bytes to give back at a run's end: such a kana's, unless the
// character after it, at `next` (4 bytes at least before the end), is known
// to be no mark.
inline int GivenBack(const QuickTables& tables, const unsigned char* written, const unsigned char* next)
{
    return EndsWaiting(tables, written) && !IsKnownNoMark(tables, next) ? 3 : 0;
}

// Takes back the last `back` bytes that a run copied, up to `at` and `out`:
// where the text stands (InPlace), they are written back where they were
// read, which the run's stores may have written over, to be read again.
template <bool InPlace>
inline void TakeBack(int back, const unsigned char** at, unsigned char** out)
{
    if (InPlace && back > 0 && *out != *at) {
        unsigned char* const read = *out + (*at - *out);  // the same bytes as *at, which may be written
        memmove(read - back, *out - back, static_cast<size_t>(back));
    }
    *at -= back;
    *out -= back;
}

// Copies the characters of three bytes of runBlocks (Han, kana) that begin
// at `at`, up to the last 3 bytes: returns where they end. Each is tested as
// one word: a lead of 0xE0 to 0xEF, two continuation bytes, and its bit in
// runBlocks (clear for overlong sequences and surrogates). The 4 bytes read
// are stored whole, at or before where they were read: the fourth lands on a
// byte read already, or on room that out has. A kana that waits for no mark
// after it is given back at the end unless the character after it is known
// to be none.
template <bool InPlace>
inline const unsigned char* CopyPlainThreeByteRun(const QuickTables& tables, const unsigned char* at,
                                                  const unsigned char* end, unsigned char** out)
{
    const unsigned char* const start = at;
    unsigned char* target = *out;
    while (end - at > 3) {
        const uint32_t word = LittleEndianWord(at);
        if ((word & 0xC0C0F0u) != 0x8080E0u || !HasBlockBit(tables.runBlocks, word)) break;
        memmove(target, at, 4);
        target += 3;
        at += 3;
    }
    if (at > start) {
        const int back = end - at < 4 ? (EndsWaiting(tables, target) ? 3 : 0) : GivenBack(tables, target, at);
        TakeBack<InPlace>(back, &at, &target);
    }
    *out = target;
    return at;
}

// A kana that is not plain at `at` (one that a voicing mark after it would
// compose with, a voiced kana, one that folding changes), written from its
// table at out: false when it takes the record's way. One that marks after
// it could change waits until the character after it is known to be no
// mark. Out has room for 8 bytes; InPlace, a text of 3 bytes at most is
// written, within the bytes read.
template <bool InPlace>
inline bool TakeKana(const QuickTables& tables, const unsigned char** at, const unsigned char* end, unsigned char** out,
                     const QuickLetter** last)
{
    const unsigned char* bytes = *at;
    if (bytes[0] != 0xE3 || (bytes[1] & 0xFC) != 0x80 || (bytes[2] & 0xC0) != 0x80) return false;  // U+3000 to U+30FF
    const QuickKana& kana = KanaOf(tables, bytes[1], bytes[2]);
    const bool waits = (kana.letter.kind & QuickHolds) && (end - bytes < 8 || !IsKnownNoMark(tables, bytes + 3));
    if (kana.letter.length == QuickNone || waits || (InPlace && kana.letter.length > 3)) return false;
    if (InPlace) memcpy(*out, kana.text, 3);
    else memcpy(*out, kana.text, 8);
    *out += kana.letter.length;
    *at += 3;
    *last = &kana.letter;
    return true;
}

// Where text moves, the letter of two bytes at `at` (4 bytes at least
// before the end) that the table writes at once, taken as the quick way's
// loop takes it, unless its kind is among `refused`: the letter, or null.
inline const QuickLetter* TakeTwoByteLetter(const QuickTables& tables, const unsigned char** at, unsigned char** out,
                                            uint8_t refused)
{
    const unsigned char* bytes = *at;
    if (bytes[0] < 0xC0 || bytes[0] >= 0xE0 || (bytes[1] & 0xC0) != 0x80) return nullptr;
    const QuickLetter* quick = &tables.twoBytes[(bytes[0] & 0x1Fu) << 6 | (bytes[1] & 0x3Fu)];
    if (quick->length > 4 || (quick->kind & refused) || ((quick->kind & QuickHolds) && MayBeMark(tables, bytes + 2)))
        return nullptr;  // QuickNone too
    memcpy(*out, quick->text, 4);
    *out += quick->length;
    *at += 2;
    return quick;
}

#if defined(__SSE2__)
// How many of the 16 bytes at `at` (the byte after them is read too) are,
// from the first, ASCII and whole small Cyrillic letters written as they
// stand (а to я but й, whose breve may go); the byte after those is not one.
inline int SmallCyrillicPrefix(const unsigned char* at)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1));
    const __m128i before = _mm_slli_si128(bytes, 1);  // none before the first: it begins a character
    const __m128i ascii = _mm_cmpgt_epi8(bytes, _mm_set1_epi8(-1));
    const __m128i nextFollows = _mm_cmpeq_epi8(_mm_and_si128(next, _mm_set1_epi8(-0x40)), _mm_set1_epi8(-0x80));
    const __m128i d0 = _mm_set1_epi8(static_cast<char>(0xD0)), d1 = _mm_set1_epi8(static_cast<char>(0xD1));
    const __m128i leads = _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, d0), _mm_cmpeq_epi8(bytes, d1)), nextFollows);
    const __m128i high = _mm_and_si128(bytes, _mm_set1_epi8(-0x10));
    const __m128i afterD0 = _mm_andnot_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(0xB9))),
                                             _mm_cmpeq_epi8(high, _mm_set1_epi8(static_cast<char>(0xB0))));
    const __m128i afterD1 = _mm_cmpeq_epi8(high, _mm_set1_epi8(static_cast<char>(0x80)));
    const __m128i seconds = _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(before, d0), afterD0),
                                         _mm_and_si128(_mm_cmpeq_epi8(before, d1), afterD1));
    const unsigned good = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(ascii, seconds), leads)));
    const int length = __builtin_ctz(~good);  // 16 when all are
    // A letter whose second byte is not among them is not taken.
    return length > 0 && (_mm_movemask_epi8(leads) >> (length - 1) & 1) ? length - 1 : length;
}
#endif

// The last character that windows took (ASCII or a small Cyrillic letter),
// for the marks after it: read where it was written, as it stands, just
// before `written` (where text is folded in place, a window's store may
// have written over the bytes it was read from).
inline const QuickLetter* LastBefore(const QuickTables& tables, const unsigned char* written)
{
    const unsigned char final = written[-1];
    return final < 0x80 ? &tables.twoBytes[final] : &tables.twoBytes[(written[-2] & 0x1Fu) << 6 | (final & 0x3Fu)];
}

#ifdef CORV_VECTOR_X86
// The high bits of the 64 bytes of `first` and `second`, the first in the low bit.
__attribute__((target("avx2"))) inline uint64_t HighBits64(__m256i first, __m256i second)
{
    return static_cast<uint32_t>(_mm256_movemask_epi8(first)) |
           uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(second))} << 32;
}

// SmallCyrillicPrefix for the 32 bytes at `at` (the byte after them is read
// too), told from where letters begin: a lead whose next byte makes it a
// small letter written as it stands covers that byte as well.
__attribute__((target("avx2"))) inline int SmallCyrillicPrefixAvx2(const unsigned char* at, __m256i bytes)
{
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
    const __m256i high = _mm256_and_si256(next, _mm256_set1_epi8(-0x10));
    const __m256i afterD0 = _mm256_andnot_si256(_mm256_cmpeq_epi8(next, _mm256_set1_epi8(static_cast<char>(0xB9))),
                                                _mm256_cmpeq_epi8(high, _mm256_set1_epi8(static_cast<char>(0xB0))));
    const __m256i afterD1 = _mm256_cmpeq_epi8(high, _mm256_set1_epi8(static_cast<char>(0x80)));
    const __m256i leads = _mm256_or_si256(_mm256_and_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(static_cast<char>(0xD0))), afterD0),
                                          _mm256_and_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(static_cast<char>(0xD1))), afterD1));
    const uint32_t leadBits = static_cast<uint32_t>(_mm256_movemask_epi8(leads));
    const uint32_t good = ~static_cast<uint32_t>(_mm256_movemask_epi8(bytes)) | leadBits | leadBits << 1;
    const int length = ~good ? __builtin_ctz(~good) : 32;
    // A letter whose second byte is not among them is not taken.
    return length > 0 && (leadBits >> (length - 1) & 1) ? length - 1 : length;
}

// TakeSmallCyrillic's windows, 32 bytes at a time: where the text stands,
// as long as a window's store reaches no byte not yet read. Returns true
// when it stopped at a character that no window takes; else the 16-byte
// windows take the rest.
template <bool InPlace>
__attribute__((target("avx2"))) bool TakeSmallCyrillicAvx2(const QuickTables& tables, QuickRun* run, const unsigned char* end)
{
    const unsigned char* at = run->at;
    unsigned char* out = run->out;
    const QuickLetter* letter = nullptr;  // the last letter taken between windows, and where it ends
    const unsigned char* letterEnd = nullptr;
    bool stopped = false;
    while (end - at > 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        // Markup between the words is ASCII alone: half the windows of a Russian page.
        const int length = _mm256_movemask_epi8(bytes) ? SmallCyrillicPrefixAvx2(at, bytes) : 32;
        if (InPlace && (length == 0 || (out != at && out + 32 > at + length))) break;
        if (!InPlace || out != at) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
        out += length;
        at += length;
        if (length >= 31) continue;  // the 32 bytes, or all but a letter they cut: the next window takes it
        // Where text moves, a letter that no window takes (a capital, й) is
        // written from the table, and the windows go on after it.
        if (!InPlace && end - at > 3) {
            if (const QuickLetter* taken = TakeTwoByteLetter(tables, &at, &out, 0)) {
                letter = taken;
                letterEnd = out;
                continue;
            }
        }
        stopped = length > 0;
        break;
    }
    if (at > run->at) {
        run->last = out == letterEnd ? letter : LastBefore(tables, out);
        run->at = at;
        run->out = out;
    }
    return stopped;
}

// Where the bytes of the 32 at `at` (`bytes`) that a kana window may copy
// begin a character (the two bytes after them are read too): a plain Han
// character from U+4000 to U+9FFF, or one of U+3000 to U+30FF whose bit
// kanaWindowBits sets, each with its two continuation bytes.
__attribute__((target("avx2"))) inline uint32_t KanaWindowLeads(const QuickTables& tables, const unsigned char* at,
                                                                 __m256i bytes)
{
    const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
    const __m256i third = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 2));
    const __m256i top = _mm256_set1_epi8(-0x40), follows = _mm256_set1_epi8(-0x80);
    const __m256i fromHan = _mm256_sub_epi8(bytes, _mm256_set1_epi8(static_cast<char>(0xE4)));
    const __m256i han = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(fromHan, _mm256_set1_epi8(5)), fromHan),  // E4 to E9
                                         _mm256_cmpeq_epi8(_mm256_and_si256(second, top), follows));
    // A second byte of 0x80 to 0x83 after 0xE3 is one, and the kana's bit is
    // bit third & 7 of byte (second & 3) * 8 + (third & 63) / 8 of the 32.
    const __m256i kanaLead = _mm256_and_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(static_cast<char>(0xE3))),
                                              _mm256_cmpeq_epi8(_mm256_and_si256(second, _mm256_set1_epi8(-4)), follows));
    const __m256i index = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(second, _mm256_set1_epi8(3)), 3),
                                          _mm256_and_si256(_mm256_srli_epi16(third, 3), _mm256_set1_epi8(7)));
    const __m256i lowTable = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(tables.kanaWindowBits)));
    const __m256i highTable =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(tables.kanaWindowBits + 16)));
    // An index with its top bit set reads 0: each table answers for its half.
    const __m256i row = _mm256_or_si256(_mm256_shuffle_epi8(lowTable, _mm256_add_epi8(index, _mm256_set1_epi8(0x70))),
                                        _mm256_shuffle_epi8(highTable, _mm256_sub_epi8(index, _mm256_set1_epi8(0x10))));
    const __m256i bitOf = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0,
                                           1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i bit = _mm256_shuffle_epi8(bitOf, _mm256_and_si256(third, _mm256_set1_epi8(7)));
    const __m256i kana = _mm256_andnot_si256(_mm256_cmpeq_epi8(_mm256_and_si256(row, bit), _mm256_setzero_si256()), kanaLead);
    const __m256i thirdFollows = _mm256_cmpeq_epi8(_mm256_and_si256(third, top), follows);
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(_mm256_or_si256(han, kana), thirdFollows)));
}

// KanaWindowLeads of the 64 bytes at `at` (the two after them are read too),
// where bytes past ASCII other than `carried` ask for them: markup need not.
__attribute__((target("avx2"))) inline uint64_t KanaWindowLeads64(const QuickTables& tables, const unsigned char* at,
                                                                  __m256i first, __m256i second, uint64_t high,
                                                                  uint64_t carried)
{
    const uint64_t asked = high & ~carried;
    const uint64_t low = static_cast<uint32_t>(asked) ? KanaWindowLeads(tables, at, first) : 0;
    return asked >> 32 ? low | uint64_t{KanaWindowLeads(tables, at + 32, second)} << 32 : low;
}

// Kana windows: ASCII and the characters of KanaWindowLeads from `at`, 64
// bytes at a time, copied whole (InPlace, where the text stands, as long as
// a window's store reaches no byte not yet read; where it stands already,
// not at all) up to the first other byte: false when they take nothing. A
// character may go on into the next window, which takes its last bytes as
// carried; one still cut where the windows end is taken back, as TakeBack
// says, and left to what follows.
template <bool InPlace>
__attribute__((target("avx2"))) bool TakeKanaWindows(const QuickTables& tables, QuickRun* run, const unsigned char* end)
{
    const unsigned char* at = run->at;
    unsigned char* out = run->out;
    uint64_t carried = 0;  // the first bytes of the window, which end a character begun before it
    while (end - at >= 72) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
        const uint64_t high = HighBits64(first, second);
        const uint64_t leads = KanaWindowLeads64(tables, at, first, second, high, carried);
        const uint64_t left = high & ~(carried | leads | leads << 1 | leads << 2);
        const int length = left ? __builtin_ctzll(left) : 64;
        if (InPlace && out != at && out + 64 > at + length) break;
        if (!InPlace || out != at) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), first);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), second);
        }
        out += length;
        at += length;
        if (left) {
            carried = 0;
            break;
        }
        carried = leads >> 62 | leads >> 63;  // a lead at 62 leaves one byte to the next window, one at 63 two
    }
    const int cut = carried == 0 ? 0 : carried == 1 ? 2 : 1;  // the bytes taken of a character cut short
    const int back = cut == 0 && at > run->at ? GivenBack(tables, out, at) : 0;  // one cut short is no mark
    TakeBack<InPlace>(cut + back, &at, &out);
    if (at <= run->at) return false;
    const unsigned char final = out[-1];
    if (final < 0x80) run->last = &tables.twoBytes[final];
    else if (out[-3] == 0xE3) run->last = &KanaOf(tables, out[-2], final).letter;
    else run->last = &PlainLetter;
    run->at = at;
    run->out = out;
    return true;
}

#endif

// Takes, when windows allow, the ASCII and small Cyrillic (the most of
// Russian text) that begin at `at`, found 16 bytes at a time (32 with
// `wide`, AVX2) and copied whole: false when it takes nothing. Out of the
// quick way's loop, which other scripts take without it.
template <bool InPlace>
inline bool TakeSmallCyrillic(const QuickTables& tables, QuickRun* run, const unsigned char* end, bool wide)
{
#if defined(__SSE2__)
    const unsigned char* const start = run->at;
#ifdef CORV_VECTOR_X86
    if (wide && end - start > 32 && TakeSmallCyrillicAvx2<InPlace>(tables, run, end)) return true;
#else
    (void)wide;
#endif
    const unsigned char* const narrow = run->at;  // what the wide windows took keeps their last letter
    while (end - run->at > 16) {
        const unsigned char* at = run->at;
        const int length = SmallCyrillicPrefix(at);
        // Where the text stands, all 16 are stored where only read bytes lie.
        if (length == 0 || (InPlace && run->out != at && run->out + 16 > at + length)) break;
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        if (!InPlace || run->out != at) _mm_storeu_si128(reinterpret_cast<__m128i*>(run->out), bytes);
        run->out += length;
        run->at += length;
        if (length < 15) break;  // as in the wide windows, one that cuts a letter goes on
    }
    if (run->at == narrow) return run->at != start;
    run->last = LastBefore(tables, run->out);
    return true;
#else
    (void)tables, (void)run, (void)end, (void)wide;
    return false;
#endif
}

#ifdef CORV_VECTOR_X86
// 128 bytes at a time with AVX2 while none of them is past ASCII.
__attribute__((target("avx2"))) int AsciiPrefixLengthAvx2(const char* bytes, int count)
{
    int at = 0;
    for (; at + 128 <= count; at += 128) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + at));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + at + 32));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + at + 64));
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + at + 96));
        if (_mm256_movemask_epi8(_mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c, d)))) break;
    }
    return at + AsciiPrefixLength(bytes + at, count - at);
}
#endif

// The ASCII bytes that a text begins with, found as fast as the state's level allows.
int AsciiRunAt(int32_t level, const char* bytes, int count)
{
#ifdef CORV_VECTOR_X86
    if (level == VectorAvx2) return AsciiPrefixLengthAvx2(bytes, count);
#endif
    (void)level;
    return AsciiPrefixLength(bytes, count);
}

int AsciiRun(const FoldState* state, const char* bytes, int count) { return AsciiRunAt(state->level, bytes, count); }

#ifdef CORV_VECTOR_X86
// Copies the ASCII bytes at `at` to out and returns how many, found and
// moved in one pass, 64 at a time while 64 remain, then 32 (out has room
// for them: folding writes 3 bytes at most for each byte it reads).
__attribute__((target("avx2"))) int CopyAsciiRunAvx2(unsigned char* out, const unsigned char* at, const unsigned char* end)
{
    int ascii = 0;
    for (; end - at - ascii >= 64; ascii += 64) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + ascii));
        const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + ascii + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + ascii), first);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + ascii + 32), second);
        const uint64_t mask = HighBits64(first, second);
        if (mask) return ascii + __builtin_ctzll(mask);
    }
    for (; end - at - ascii >= 32; ascii += 32) {
        const __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + ascii));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + ascii), chunk);
        const uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(chunk));
        if (mask) return ascii + __builtin_ctz(mask);
    }
    return ascii + CopyShortAsciiRun(out + ascii, at + ascii, end);
}

// Where text moves: runs of ASCII, 64 bytes at a time, and the letters of
// two bytes between them that the table writes at once (é as e and its
// accent, Ä as ä), without leaving the loop for each letter, as most of a
// page in French, German or Spanish goes. Stops at any other character
// (small Cyrillic to its windows), and where fewer than 68 bytes remain: a
// letter found at a window's end is read with the two bytes after it.
__attribute__((target("avx2"))) void TakeLatinRunAvx2(const QuickTables& tables, QuickRun* run, const unsigned char* end)
{
    const unsigned char* at = run->at;
    unsigned char* out = run->out;
    const QuickLetter* letter = run->last;  // the last letter taken
    while (end - at >= 68) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), first);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), second);
        const uint64_t high = HighBits64(first, second);
        if (!high) {
            at += 64;
            out += 64;
            continue;
        }
        const int ascii = __builtin_ctzll(high);
        at += ascii;
        out += ascii;
        const QuickLetter* taken = TakeTwoByteLetter(tables, &at, &out, QuickWindow);
        if (!taken) break;
        letter = taken;
    }
    if (at == run->at) return;
    run->last = at[-1] < 0x80 ? &tables.twoBytes[at[-1]] : letter;
    run->at = at;
    run->out = out;
}
#endif

// Copies the ASCII bytes at `at` to out (which has room for 16 more) and
// returns how many: a short run at once, a longer one (markup) found and
// copied 64 bytes at a time.
inline int CopyAsciiRun(int32_t level, unsigned char* out, const unsigned char* at, const unsigned char* end)
{
#ifdef CORV_VECTOR_X86
    if (level == VectorAvx2) return CopyAsciiRunAvx2(out, at, end);
#endif
    int ascii = CopyShortAsciiRun(out, at, end);
    if (ascii == ShortAsciiRun) {
        const int rest = AsciiRunAt(level, reinterpret_cast<const char*>(at + ascii), static_cast<int>(end - at - ascii));
        CopyBytes(reinterpret_cast<char*>(out + ascii), reinterpret_cast<const char*>(at + ascii), rest);
        ascii += rest;
    }
    return ascii;
}

// Takes letters of the quick way and the ASCII between them (a lone byte
// where the text stands, a whole run where it moves), up to the last 3
// bytes; at a vector level, runs of small Cyrillic and ASCII as well. A
// letter that marks after it could change is taken when the character after
// it is no mark. InPlace, each is written in the bytes it was read from or
// before, so that text may be folded where it stands; else out has room for
// 4 bytes more than a letter writes.
template <bool InPlace>
inline void TakeQuickRun(const QuickTables& tables, QuickRun* run, const unsigned char* end, int32_t level)
{
    const int32_t windows = tables.smallCyrillic ? level : VectorPortable;
    const unsigned char* at = run->at;
    unsigned char* out = run->out;
    const QuickLetter* last = run->last;
    while (end - at > 3) {
        const unsigned char lead = at[0], second = at[1];
        if (lead >= 0xE0) {  // three bytes: Han and kana first, a run of them in a loop of its own
#ifdef CORV_VECTOR_X86
            QuickRun window{at, out, last};  // from kana or Han (lead 0xE3 to 0xE9) only: other text would not go far
            if (lead - 0xE3u <= 0xE9u - 0xE3u && level == VectorAvx2 && tables.kanaWindows &&
                TakeKanaWindows<InPlace>(tables, &window, end)) {
                at = window.at;
                out = window.out;
                last = window.last;
                continue;
            }
#endif
            const unsigned char* const first = at;
            at = CopyPlainThreeByteRun<InPlace>(tables, at, end, &out);
            if (at > first) {
                last = &PlainLetter;
            } else if (!TakeKana<InPlace>(tables, &at, end, &out, &last)) {
                break;
            }
        } else if (lead >= 0xC0) {
            if ((second & 0xC0) != 0x80) break;
            const QuickLetter* quick = &tables.twoBytes[(lead & 0x1Fu) << 6 | (second & 0x3Fu)];
            if (windows >= VectorSse2 && (quick->kind & QuickWindow)) {
                QuickRun window{at, out, last};
                if (TakeSmallCyrillic<InPlace>(tables, &window, end, windows == VectorAvx2)) {
                    at = window.at;
                    out = window.out;
                    last = window.last;
                    continue;
                }
            }
            if (quick->length > (InPlace ? 2 : 4) || ((quick->kind & QuickHolds) && MayBeMark(tables, at + 2))) break;  // QuickNone too
            memcpy(out, quick->text, InPlace ? 2 : 4);
            out += quick->length;
            at += 2;
            last = quick;
        } else if (lead < 0x80 && second >= 0x80) {  // a lone byte, as between words of Cyrillic
            *out++ = lead;
            ++at;
            last = &tables.twoBytes[lead];
        } else if (lead < 0x80 && !InPlace) {  // where text moves, a run of ASCII is copied in the loop
#ifdef CORV_VECTOR_X86
            if (level == VectorAvx2 && end - at >= 68) {  // the letters between the runs too
                QuickRun latin{at, out, last};
                TakeLatinRunAvx2(tables, &latin, end);
                at = latin.at;
                out = latin.out;
                last = latin.last;
                continue;
            }
#endif
            const int ascii = CopyAsciiRun(level, out, at, end);
            out += ascii;
            at += ascii;
            last = &tables.twoBytes[at[-1]];
        } else {
            break;
        }
    }
    run->at = at;
    run->out = out;
    run->last = last;
}

// What a quick run that began at `from` leaves in the state (the marks
// that its last letter allows after it, the bytes taken): the bytes taken.
int NoteQuickRun(FoldState* state, const QuickRun& run, const unsigned char* from)
{
    if (!run.last) return 0;
    state->baseFlags = run.last->letterFlags;
    state->markCount = run.last->marks;
    const int taken = static_cast<int>(run.at - from);
    state->offset += taken;
    return taken;
}

// Most text in a tight loop: runs of ASCII, letters of the quick way,
// and other letters of two or three bytes written from their records, at
// once or, when marks after them could change them, once the next character
// is known to be no mark; while nothing is held back and no offsets are
// asked for. Returns where it stopped: at the end, or at what takes the
// long way.
const unsigned char* TakeCommon(FoldState* state, Sink* sink, const unsigned char* at, const unsigned char* end)
{
    if (sink->offsets || state->heldCount > 0 || state->pendingLength > 0) return at;
    const QuickTables& tables = QuickTablesOf(state);
    const int32_t mode = state->mode;
    const uint8_t hold = FlagHold << (mode - 1);
    const uint8_t mark = FlagMark | FlagHangul;
    const int shift = 4 * (mode - 1);
    uint8_t baseFlags = state->baseFlags;
    int32_t markCount = state->markCount;
    unsigned char* out = sink->bytes + sink->length;
    while (at < end) {
        QuickRun run{at, out, nullptr};  // runs of ASCII too
        TakeQuickRun<false>(tables, &run, end, state->level);
        if (run.at > at) {
            baseFlags = run.last->letterFlags;
            markCount = run.last->marks;
            out = run.out;
            at = run.at;
            continue;
        }
        const int length = ShortSequenceLength(at, end);
        if (length == 0) break;
        const uint32_t codePoint = Decode(at, length);
        const FoldRecord& record = RecordOf(codePoint);
        const bool asItStands = WrittenAsItStands(state, record, codePoint);
        const int written = asItStands ? length : record.lengths >> shift & 0x0F;
        if ((record.flags & mark) || ((record.flags & hold) && !NoMarkAt(at + length, end))) break;
        if (asItStands) {  // no byte past the character is read
            out[0] = at[0];
            out[1] = at[1];
            if (length == 3) out[2] = at[2];
        } else if (written <= 4) {
            memcpy(out, record.text[mode - 1], 4);
        } else {
            memcpy(out, RecordText(record, mode, written), static_cast<size_t>(written));
        }
        baseFlags = record.flags & LetterFlags;
        markCount = record.marks;
        out += written;
        at += length;
    }
    state->baseFlags = baseFlags;
    state->markCount = markCount;
    sink->length = static_cast<int>(out - sink->bytes);
    return at;
}

}  // namespace

void StartFolding(FoldState* state, CaseFolding mode, bool keepsPunctuation)
{
    memset(state, 0, sizeof *state);
    state->mode = mode;
    state->level = VectorLevelInUse();
    state->keepsPunctuation = keepsPunctuation;
}

int AsciiPrefixLength(const char* bytes, int count)
{
    int at = 0;
#if defined(__SSE2__)
    // 64 bytes at a time while none of them is past ASCII, then 16.
    for (; at + 64 <= count; at += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at + 48));
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)))) break;
    }
    for (; at + 16 <= count; at += 16) {
        const int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at)));
        if (mask) return at + __builtin_ctz(static_cast<unsigned>(mask));
    }
#else
    for (; at + 8 <= count; at += 8) {
        uint64_t word;
        memcpy(&word, bytes + at, sizeof word);
        if (word & 0x8080808080808080u) break;
    }
#endif
    while (at < count && static_cast<unsigned char>(bytes[at]) < 0x80) ++at;
    return at;
}

int NonAsciiPrefixLength(const char* bytes, int count)
{
    int at = 0;
#if defined(__SSE2__)
    for (; at + 16 <= count; at += 16) {
        const unsigned ascii = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at)))) & 0xFFFFu;
        if (ascii) return at + __builtin_ctz(ascii);
    }
#endif
    while (at < count && static_cast<unsigned char>(bytes[at]) >= 0x80) ++at;
    return at;
}

void CopyBytes(char* target, const char* source, int count)
{
    int at = 0;
#if defined(__SSE2__)
    for (; at + 64 <= count; at += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at + 48));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + at), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + at + 16), b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + at + 32), c);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + at + 48), d);
    }
    for (; at + 16 <= count; at += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + at), _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at)));
#endif
    for (; at < count; ++at) target[at] = source[at];  // a few: no call
}

int FoldText(FoldState* state, const char* source, int count, char* target, int64_t* offsets)
{
    Sink sink{reinterpret_cast<unsigned char*>(target), offsets, 0, FoldOutputCapacity(count)};
    const Source input{reinterpret_cast<const unsigned char*>(source), reinterpret_cast<const unsigned char*>(source) + count,
                       state->offset};
    const unsigned char* at = input.begin;
    if (state->mode == CaseFoldAscii) {
        memcpy(target, source, static_cast<size_t>(count));
        if (offsets)
            for (int i = 0; i < count; ++i) offsets[i] = input.origin + i;
        state->offset += count;
        return count;
    }
    if (state->pendingLength > 0 && count > 0) {
        at = TakePending(state, &sink, at, input.end);
    }
    while (at < input.end) {
        at = TakeCommon(state, &sink, at, input.end);
        const int ascii = AsciiRun(state, reinterpret_cast<const char*>(at), static_cast<int>(input.end - at));
        if (ascii > 0) {
            TakeAscii(state, &sink, at, ascii, input.OffsetOf(at));
            at += ascii;
        }
        at = TakeCharacters(state, &sink, input, at);
    }
    state->offset += count;
    return sink.length;
}

int FinishFolding(FoldState* state, char* target, int64_t* offsets)
{
    Sink sink{reinterpret_cast<unsigned char*>(target), offsets, 0, FoldOutputCapacity(0)};
    const int64_t pendingOffset = state->offset - state->pendingLength;
    for (int i = 0; i < state->pendingLength; ++i) TakeStray(state, &sink, state->pending[i], pendingOffset + i);
    Release(state, &sink);
    StartFolding(state, static_cast<CaseFolding>(state->mode), state->keepsPunctuation);
    return sink.length;
}

namespace {

// What FoldTakeAscii notes of ASCII bytes taken where they stand.
void NoteAsciiTaken(FoldState* state, const char* source, int count)
{
    if (count > 0) {
        state->baseFlags = IsAsciiLetter(static_cast<unsigned char>(source[count - 1])) ? FlagAccented : 0;
        state->markCount = 0;
    }
    state->offset += count;
}

// The bytes a character that marks do not change is written as.
int FoldedLength(const FoldState* state, const FoldRecord& record, uint32_t codePoint, int length)
{
    if (WrittenAsItStands(state, record, codePoint)) return length;
    if (record.flags & FlagHangul) return (codePoint - HangulFirst) % 28 ? 9 : 6;
    return record.lengths >> (4 * (state->mode - 1)) & 0x0F;
}

// ASCII and letters of the quick way from `source`, folded into target
// (which has room for them all): the bytes taken; *made tells the bytes
// written. Nothing may be held back.
int TakeQuickApart(FoldState* state, const char* source, int count, char* target, int* made)
{
    const unsigned char* from = reinterpret_cast<const unsigned char*>(source);
    QuickRun run{from, reinterpret_cast<unsigned char*>(target), nullptr};
    TakeQuickRun<false>(QuickTablesOf(state), &run, from + count, state->level);
    *made = static_cast<int>(run.out - reinterpret_cast<unsigned char*>(target));
    return NoteQuickRun(state, run, from);
}

}  // namespace

// The quick way's letters write no ASCII punctuation for other characters:
// what it takes goes untold.
int FoldApart(FoldState* state, const char* source, int count, char* target, void (*foldedApart)(char*, int))
{
    if (!foldedApart) return FoldText(state, source, count, target, nullptr);
    int written = 0;
    for (int at = 0; at < count;) {
        if (state->heldCount == 0 && state->pendingLength == 0 && state->mode != CaseFoldAscii) {
            int made = 0;
            at += TakeQuickApart(state, source + at, count - at, target + written, &made);
            written += made;
        }
        const int ascii = AsciiRun(state, source + at, count - at);
        if (ascii > 0 && state->heldCount == 0 && state->pendingLength == 0) {  // their own folding: copied
            CopyBytes(target + written, source + at, ascii);
            NoteAsciiTaken(state, source + at, ascii);
            written += ascii;
            at += ascii;
        } else if (ascii > 0) {
            const int made = FoldText(state, source + at, ascii, target + written, nullptr);
            foldedApart(target + written, made - ascii);  // what was held back before them
            written += made;
            at += ascii;
        }
        const int run = NonAsciiPrefixLength(source + at, count - at);
        if (run == 0) continue;
        const int made = FoldText(state, source + at, run, target + written, nullptr);
        foldedApart(target + written, made);
        written += made;
        at += run;
    }
    return written;
}

namespace {

// Letters of the quick way folded where they stand, text[*read] written at
// text[*written] (never after it), with the lone ASCII bytes between them
// (and, at a vector level, runs of small Cyrillic and ASCII). Nothing may be
// held back.
void TakeQuickInPlace(FoldState* state, const QuickTables& tables, unsigned char* text, int* written, int* read, int count)
{
    QuickRun run{text + *read, text + *written, nullptr};
    TakeQuickRun<true>(tables, &run, text + count, state->level);
    const int taken = NoteQuickRun(state, run, text + *read);
    *read += taken;
    *written = static_cast<int>(run.out - text);
}

}  // namespace

// ASCII and the letters written at once (most of them) are folded where they
// stand, each within the bytes it was read from; the first character that
// is held back, or would outgrow its bytes, sends the rest the long way, as
// does text that moved (é folded to e without its accent): moving each run
// of ASCII back costs more than folding the rest from a copy, whose runs
// and letters the loop of the long way takes together.
int FoldInPlace(FoldState* state, char* text, int count, char* scratch, void (*foldedApart)(char*, int))
{
    if (state->mode == CaseFoldAscii) {  // the text is its own folding
        state->offset += count;
        return count;
    }
    unsigned char* bytes = reinterpret_cast<unsigned char*>(text);
    const uint8_t heldOrMark = FlagMark | (FlagHold << (state->mode - 1));
    const QuickTables& tables = QuickTablesOf(state);
    int read = 0, written = 0;
    while (read < count && written == read && state->pendingLength == 0 && state->heldCount == 0) {
        const int ascii = AsciiRun(state, text + read, count - read);
        if (ascii > 0) {
            NoteAsciiTaken(state, text + read, ascii);
            written += ascii;
            read += ascii;
            continue;
        }
        const int readFrom = read;
        TakeQuickInPlace(state, tables, bytes, &written, &read, count);  // untold, as in FoldApart
        if (read > readFrom) continue;
        const int length = Utf8SequenceLength(bytes + read, bytes + count);
        if (length <= 0) break;
        const uint32_t codePoint = Decode(bytes + read, length);
        const FoldRecord& record = RecordOf(codePoint);
        if ((record.flags & heldOrMark) || FoldedLength(state, record, codePoint, length) > length) break;
        Sink sink{bytes + written, nullptr, 0, length};  // written is read: the letter's own bytes
        WriteLetter(state, &sink, record, codePoint, bytes + read, length, state->offset);
        if (foldedApart) foldedApart(text + written, sink.length);
        written += sink.length;
        read += length;
        state->offset += length;
    }
    if (read == count) return written;
    CopyBytes(scratch, text + read, count - read);
    return written + FoldApart(state, scratch, count - read, text + written, foldedApart);
}

bool FoldTakeAscii(FoldState* state, const char* source, int count)
{
    if (state->mode != CaseFoldAscii &&
        (state->pendingLength > 0 || state->heldCount > 0 || AsciiRun(state, source, count) < count))
        return false;
    NoteAsciiTaken(state, source, count);
    return true;
}

// Most characters are written at once from their record, without a state.
int FoldCharacter(CaseFolding mode, const char* bytes, int length, char* target)
{
    const unsigned char* at = reinterpret_cast<const unsigned char*>(bytes);
    if (mode == CaseFoldAscii || length == 1) {
        memcpy(target, bytes, static_cast<size_t>(length));
        return length;
    }
    const uint32_t codePoint = Decode(at, length);
    const FoldRecord& record = RecordOf(codePoint);
    if (record.flags & (FlagMark | (FlagHold << (mode - 1))))
        return FoldWord(mode, bytes, length, target, FoldOutputCapacity(4));
    Sink sink{reinterpret_cast<unsigned char*>(target), nullptr, 0, FoldOutputCapacity(4)};
    PutFolded(&sink, mode, record, codePoint, at, length, 0);
    return sink.length;
}

int FoldWord(CaseFolding mode, const char* source, int count, char* target, int capacity)
{
    constexpr int Piece = 64;
    char folded[FoldOutputCapacity(Piece)];
    FoldState state;
    StartFolding(&state, mode);
    int length = 0;
    for (int at = 0;; at += Piece) {
        const int written = at < count ? FoldText(&state, source + at, count - at < Piece ? count - at : Piece, folded, nullptr)
                                       : FinishFolding(&state, folded, nullptr);
        if (written > capacity - length) return -1;
        memcpy(target + length, folded, static_cast<size_t>(written));
        length += written;
        if (at >= count) return length;
    }
}

int CodePointAt(const char* at, const char* end, uint32_t* codePoint)
{
    if (at >= end) return 0;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(at);
    const int length = bytes[0] < 0x80 ? 1 : Utf8SequenceLength(bytes, reinterpret_cast<const unsigned char*>(end));
    if (length > 0) *codePoint = Decode(bytes, length);
    return length;
}

bool IsCutCodePoint(const char* at, const char* end)
{
    return at < end && IsCutSequence(reinterpret_cast<const unsigned char*>(at), reinterpret_cast<const unsigned char*>(end));
}

int CodePointBefore(const char* start, const char* at, uint32_t* codePoint)
{
    if (at <= start) return 0;
    int back = 1;
    while (back < 4 && at - back > start && (static_cast<unsigned char>(at[-back]) & 0xC0) == 0x80) ++back;
    return CodePointAt(at - back, at, codePoint) == back ? back : 0;
}

bool IsCombiningMark(uint32_t codePoint) { return codePoint < 0x110000 && (RecordOf(codePoint).flags & FlagMark); }

bool ContinuesCharacter(uint32_t codePoint)
{
    constexpr uint32_t HangulVowelsFirst = 0x1160, HangulFinalsLast = 0x11FF;
    constexpr uint32_t HangulExtendedFirst = 0xD7B0, HangulExtendedLast = 0xD7FF;
    return IsCombiningMark(codePoint) || (codePoint >= HangulVowelsFirst && codePoint <= HangulFinalsLast) ||
           (codePoint >= HangulExtendedFirst && codePoint <= HangulExtendedLast);
}

unsigned char PunctuationByte(uint32_t codePoint)
{
    if (codePoint >= 0x110000) return 0;
    const FoldRecord& record = RecordOf(codePoint);
    return IsPunctuation(record, codePoint) ? record.text[0][0] : 0;
}

bool IsUnspacedScript(uint32_t codePoint)
{
    return codePoint < 0x110000 && (RecordOf(codePoint).flags & FlagUnspaced);
}

bool IsHanOrKana(uint32_t codePoint)
{
    // The scripts without spaces from U+2E80 on: Han, Hiragana, Katakana
    // (Thai, Lao, Myanmar and Khmer come before, with marks that folding
    // may reorder). Kana with a voicing mark are written composed, as they
    // stand.
    if (codePoint < 0x2E80 || !IsUnspacedScript(codePoint)) return false;
    if (RecordOf(codePoint).flags & FlagUnchanged) return true;
    unsigned char bytes[4];
    const int length = Encode(codePoint, bytes);
    for (CaseFolding mode : {CaseFoldUnicode, CaseFoldAccents}) {
        char folded[FoldOutputCapacity(4)];
        if (FoldCharacter(mode, reinterpret_cast<const char*>(bytes), length, folded) != length ||
            memcmp(folded, bytes, static_cast<size_t>(length)) != 0)
            return false;
    }
    return true;
}

// ---- Words of ASCII letters and digits in stored text -------------------------------

namespace {

// The ASCII letters and digits that a character's folding writes where a
// hit of such words may take them (not before a mark), a bit each (a to z,
// then 0 to 9), for the characters that write any; a test that reads every
// code point finds no other.
uint64_t AsciiLettersFoldedFrom(uint32_t codePoint)
{
    constexpr uint64_t s = AsciiLetterBit('s');
    switch (codePoint) {
    case 0x00DF: case 0x017F: case 0x1E9E: return s;  // ß ſ ẞ
    case 0x0149: return AsciiLetterBit('n');          // ŉ
    case 0x1E9A: return AsciiLetterBit('a');          // ẚ
    case 0x212A: return AsciiLetterBit('k');          // the Kelvin sign
    case 0xFB00: return AsciiLetterBit('f');
    case 0xFB01: case 0xFB03: return AsciiLetterBit('f') | AsciiLetterBit('i');
    case 0xFB02: case 0xFB04: return AsciiLetterBit('f') | AsciiLetterBit('l');
    case 0xFB05: case 0xFB06: return s | AsciiLetterBit('t');
    default: return 0;
    }
}

// Whether a character's folding is nothing (a soft hyphen, the zero-width
// spaces), which joins the letters on either side, or holds ASCII
// punctuation that a scan of markup would read (≠, ≮, ≯).
bool FoldsToNothingOrMarkup(uint32_t codePoint)
{
    switch (codePoint) {
    case 0x00AD: case 0x200B: case 0x2060: case 0xFEFF: case 0x2260: case 0x226E: case 0x226F: return true;
    default: return false;
    }
}

// Whether a character's folding writes Han or kana other than itself: the
// CJK compatibility ideographs that stand for a unified one, and the kana
// voicing marks, which a kana before them takes (か and U+3099 are が).
bool FoldsIntoHanOrKana(uint32_t codePoint)
{
    const bool compatibility =
        (codePoint >= 0xF900 && codePoint <= 0xFAFF) || (codePoint >= 0x2F800 && codePoint <= 0x2FA1F);
    return codePoint == 0x3099 || codePoint == 0x309A || (compatibility && !(RecordOf(codePoint).flags & FlagUnchanged));
}

// Under CaseFoldUnicode, whether the character that begins at `at` is one
// of them for words of `letters`; one that the end cuts may be.
bool UnicodeChangerAt(const unsigned char* at, const unsigned char* end, uint64_t letters)
{
    uint32_t codePoint = 0;
    if (CodePointAt(reinterpret_cast<const char*>(at), reinterpret_cast<const char*>(end), &codePoint) == 0)
        return IsCutSequence(at, end);
    return FoldsToNothingOrMarkup(codePoint) || (AsciiLettersFoldedFrom(codePoint) & letters) ||
           ((letters & HanOrKanaBit) && FoldsIntoHanOrKana(codePoint));
}

// Under CaseFoldAccents, the same. Marks, and the Hangul vowels that join a
// syllable, count whatever their folding: after an ASCII letter, folding
// drops most marks, which joins the letters on either side. Other
// characters count when their folding is nothing, or writes ASCII
// punctuation or any of `letters` (é for words with an e); some 500 Latin
// letters do, so their folding tells rather than a list. Punctuation
// outside ASCII stays as written in text that keeps it.
bool AccentChangerAt(const unsigned char* at, const unsigned char* end, uint64_t letters)
{
    uint32_t codePoint = 0;
    const int length = CodePointAt(reinterpret_cast<const char*>(at), reinterpret_cast<const char*>(end), &codePoint);
    if (length == 0) return IsCutSequence(at, end);
    if (ContinuesCharacter(codePoint) || ((letters & HanOrKanaBit) && FoldsIntoHanOrKana(codePoint))) return true;
    const FoldRecord& record = RecordOf(codePoint);
    if (record.flags & FlagUnchanged || IsPunctuation(record, codePoint)) return false;  // kept as written
    char folded[FoldOutputCapacity(4)];
    const int written = FoldCharacter(CaseFoldAccents, reinterpret_cast<const char*>(at), length, folded);
    if (written == 0) return true;
    for (int i = 0; i < written; ++i) {
        const unsigned char byte = static_cast<unsigned char>(folded[i]);
        if (byte < 0x80 && ((!IsAsciiLetter(byte) && !IsAsciiDigit(byte)) || (AsciiLetterBit(byte) & letters))) return true;
    }
    return false;
}

template <CaseFolding Folding>
inline bool ChangerAt(const unsigned char* at, const unsigned char* end, uint64_t letters)
{
    return Folding == CaseFoldAccents ? AccentChangerAt(at, end, letters) : UnicodeChangerAt(at, end, letters);
}

// Whether the bytes at `at` may begin one under CaseFoldUnicode: C2 AD,
// C3 9F, C5 89, C5 BF, E1 BA, E2 80 to E2 89, E3 82, EF A4 to EF AC, EF BB
// or F0 AF.
inline bool MayBeUnicodeChanger(const unsigned char* at, const unsigned char* end)
{
    if (at[0] < 0xC2 || end - at < 2) return at[0] >= 0xC2;
    const uint32_t pair = uint32_t{at[0]} << 8 | at[1];
    return pair == 0xC2AD || pair == 0xC39F || pair == 0xC589 || pair == 0xC5BF || pair == 0xE1BA ||
           (pair >= 0xE280 && pair <= 0xE289) || pair == 0xE382 || (pair >= 0xEFA4 && pair <= 0xEFAC) ||
           pair == 0xEFBB || pair == 0xF0AF;
}

// Under CaseFoldAccents: C2 to C9 (Latin letters), CC and CD (marks), D2
// and D6 to DF (marks of Cyrillic and of the scripts written right to
// left), E0, E1, EA, ED and F0 to F4 (marks of many scripts, Latin letters
// with marks, Hangul vowels), E2 80, 81, 83, 84, 89, B3, B5 and B7, E3 80
// and 82 (the kana voicing marks), EF A4 to AC, B8 and BB. Not D0 and D1, the
// Cyrillic letters, nor the kana and Han of E3 to E9.
inline bool MayBeAccentChanger(const unsigned char* at, const unsigned char* end)
{
    const unsigned char lead = at[0];
    if (lead < 0xC2) return false;
    if (lead <= 0xC9 || lead == 0xCC || lead == 0xCD || lead == 0xD2 || (lead >= 0xD6 && lead <= 0xDF) || lead == 0xE0 ||
        lead == 0xE1 || lead == 0xEA || lead == 0xED || (lead >= 0xF0 && lead <= 0xF4) || end - at < 2)
        return true;
    const unsigned char second = at[1];
    switch (lead) {
    case 0xE2:
        return second == 0x80 || second == 0x81 || second == 0x83 || second == 0x84 || second == 0x89 || second == 0xB3 ||
               second == 0xB5 || second == 0xB7;
    case 0xE3: return second == 0x80 || second == 0x82;
    case 0xEF: return (second >= 0xA4 && second <= 0xAC) || second == 0xB8 || second == 0xBB;
    default: return false;
    }
}

// Writes the capital that begins at `at` (Ѐ to Я, D0 80 to AF) as its small
// letter, where it stands: Ѐ to Џ are D1 90 to 9F, А to П D0 B0 to BF, Р to
// Я D1 80 to 8F.
inline void LowerCyrillicCapital(unsigned char* at)
{
    if (at[1] < 0x90 || at[1] >= 0xA0) ++at[0];
    at[1] = static_cast<unsigned char>(at[1] < 0x90 ? at[1] + 0x10 : at[1] < 0xA0 ? at[1] + 0x20 : at[1] - 0x20);
}

// А to Я, whose folding is their small letter under either value.
inline bool IsCyrillicCapital(const unsigned char* at) { return at[0] == 0xD0 && at[1] >= 0x90 && at[1] <= 0xAF; }

// The capitals that stored bytes searched as they stand hold as small
// letters: А to Я, and under unicode Ѐ to Џ too, whose small letters fold
// as they do (Ё and ё are е and a diaeresis; under accents е alone, which
// the check looks around instead).
template <CaseFolding Folding>
inline bool IsLoweredCapital(const unsigned char* at)
{
    return at[0] == 0xD0 && at[1] >= (Folding == CaseFoldUnicode ? 0x80 : 0x90) && at[1] <= 0xAF;
}

// An ASCII letter in small letters; other bytes as they are.
inline unsigned char SmallAscii(unsigned char byte) { return IsAsciiLetter(byte) ? byte | 0x20 : byte; }

// The character at `at` (`length` bytes, `codePoint`) folded alone into
// `folded`, as read beside a word's letters: ASCII in small letters, as the
// search compares it; the Cyrillic letters А to я but Й and й by
// arithmetic. -1 for a mark, which no character is read without.
int FoldNeighbour(CaseFolding folding, const unsigned char* at, int length, uint32_t codePoint, unsigned char* folded)
{
    if (length == 1) {
        folded[0] = SmallAscii(at[0]);
        return 1;
    }
    const bool plain = at[0] == 0xD0 ? at[1] >= 0x90 && (at[1] & 0xDF) != 0x99 : at[0] == 0xD1 && at[1] <= 0x8F;
    if (length == 2 && plain) {
        folded[0] = at[0];
        folded[1] = at[1];
        if (IsCyrillicCapital(folded)) LowerCyrillicCapital(folded);
        return 2;
    }
    if (ContinuesCharacter(codePoint)) return -1;
    return FoldCharacter(folding, reinterpret_cast<const char*>(at), length, reinterpret_cast<char*>(folded));
}

// Whether `count` folded bytes are those of a word (whose ASCII letters
// may stand in either case).
inline bool SameAsWord(const unsigned char* folded, const unsigned char* word, int count)
{
    for (int i = 0; i < count; ++i)
        if (folded[i] != SmallAscii(word[i])) return false;
    return true;
}

// Whether the folding of the characters before `at` (back to start) may end
// with the `need` bytes of `wanted`, read one character at a time: no as
// soon as one differs; yes when they all agree, or a character cannot be
// read alone (a mark, one that start cuts).
bool MayEndWith(CaseFolding folding, const unsigned char* start, const unsigned char* at, const unsigned char* wanted,
                int need)
{
    while (need > 0) {
        uint32_t codePoint = 0;
        const int back = CodePointBefore(reinterpret_cast<const char*>(start), reinterpret_cast<const char*>(at), &codePoint);
        if (back == 0) return true;
        at -= back;
        unsigned char folded[FoldOutputCapacity(4)];
        const int written = FoldNeighbour(folding, at, back, codePoint, folded);
        if (written < 0) return true;
        const int compared = std::min(written, need);
        if (!SameAsWord(folded + written - compared, wanted + need - compared, compared)) return false;
        need -= compared;
    }
    return true;
}

// The same after `at` (up to end): whether their folding may begin with the
// `need` bytes of `wanted`.
bool MayBeginWith(CaseFolding folding, const unsigned char* at, const unsigned char* end, const unsigned char* wanted,
                  int need)
{
    while (need > 0) {
        uint32_t codePoint = 0;
        const int length = CodePointAt(reinterpret_cast<const char*>(at), reinterpret_cast<const char*>(end), &codePoint);
        if (length == 0) return true;
        unsigned char folded[FoldOutputCapacity(4)];
        const int written = FoldNeighbour(folding, at, length, codePoint, folded);
        if (written < 0) return true;
        const int compared = std::min(written, need);
        if (!SameAsWord(folded, wanted, compared)) return false;
        wanted += compared;
        need -= compared;
        at += length;
    }
    return true;
}

// Whether ASCII letters and digits that a character folds to (œ's oe) may
// hold the beginning or the end of a word of `wordLength` bytes at `text`:
// k is where the folding begins in the word, before it when negative.
bool MayHoldWordEnds(CaseFolding folding, const unsigned char* start, const unsigned char* at, int length,
                     const unsigned char* end, const unsigned char* folded, int count, const unsigned char* text,
                     int wordLength)
{
    for (int k = 1 - count; k < wordLength; ++k) {
        if (k >= 0 && k + count <= wordLength) continue;  // inside the word
        const int from = std::max(0, -k), to = std::min(count, wordLength - k);
        if (SameAsWord(folded + from, text + k + from, to - from) && (k <= 0 || MayEndWith(folding, start, at, text, k)) &&
            (k + count >= wordLength || MayBeginWith(folding, at + length, end, text + k + count, wordLength - k - count)))
            return true;
    }
    return false;
}

// Whether a character at `at` (`length` bytes) whose folding is `folded`
// (`count` bytes: a letter of the words, or ASCII letters and digits) may
// stand in one of the words: where a word holds that folding, or begins or
// ends inside it, the characters around it fold to the rest of the word (ё
// under accents matters to пакет only after пак and before т, œ to poeme
// only after p and before me, and to euvre before uvre).
bool MayFormWordAround(CaseFolding folding, const unsigned char* start, const unsigned char* at, int length,
                       const unsigned char* end, const unsigned char* folded, int count, const StoredWords& words)
{
    for (int word = 0; word < words.count; ++word) {
        const unsigned char* text = words.text[word];
        const int wordLength = words.length[word];
        for (int k = 0; k + count <= wordLength; ++k)  // a letter's first byte matches no later byte of a character
            if (SameAsWord(folded, text + k, count) && MayEndWith(folding, start, at, text, k) &&
                MayBeginWith(folding, at + length, end, text + k + count, wordLength - k - count))
                return true;
        if (count > 1 && folded[0] < 0x80 && MayHoldWordEnds(folding, start, at, length, end, folded, count, text, wordLength))
            return true;
    }
    return false;
}

// What the check of a block looks with: the words, where the text before
// the block begins, where the block begins and ends, and how many
// characters it looked around so far.
struct ChangerLook {
    const StoredWords& words;
    const unsigned char* start;
    const unsigned char* from;
    const unsigned char* end;
    int latinLooks;     // around letters whose folding is an ASCII letter
    int cyrillicLooks;  // around those whose folding is a Cyrillic one
};

// Looking around a character costs a few hundred instructions: a block
// looks around a few, and one more for each so many bytes it has passed.
// That is plenty for the few accented letters of a page in another script
// (â on a Russian page) and for ё among Cyrillic words, and soon spent on a
// page full of Latin letters with marks (é on a French one, ä on a German
// one), which folding costs less.
struct LookAllowance {
    int first;
    int bytesPerLook;
};
constexpr LookAllowance LatinLooks = {2, 1024}, CyrillicLooks = {4, 512};

// Whether the check may look around the character at `at`; counts it.
inline bool TakeLook(const unsigned char* at, const LookAllowance& allowance, int* looks, const ChangerLook& look)
{
    if (*looks >= allowance.first + (at - look.from) / allowance.bytesPerLook) return false;
    ++*looks;
    return true;
}

// Whether a character that ChangerAt took may change what the words find
// where it stands. One whose folding is ASCII letters and digits (é under
// accents, œ, ß, ﬁ, the Kelvin sign) does only where the characters around
// it fold to the rest of a word that holds that folding, while the looks
// last.
template <CaseFolding Folding>
bool ChangesAround(const unsigned char* at, ChangerLook& look)
{
    uint32_t codePoint = 0;
    const int length = CodePointAt(reinterpret_cast<const char*>(at), reinterpret_cast<const char*>(look.end), &codePoint);
    if (length < 2 || ContinuesCharacter(codePoint) || !TakeLook(at, LatinLooks, &look.latinLooks, look)) return true;
    unsigned char folded[FoldOutputCapacity(4)];
    const int written = FoldCharacter(Folding, reinterpret_cast<const char*>(at), length, reinterpret_cast<char*>(folded));
    for (int i = 0; i < written; ++i)
        if (!IsAsciiLetter(folded[i]) && !IsAsciiDigit(folded[i])) return true;
    return written == 0 || MayFormWordAround(Folding, look.start, at, length, look.end, folded, written, look.words);
}

template <CaseFolding Folding>
inline bool ChangesAt(const unsigned char* at, ChangerLook& look)
{
    return ChangerAt<Folding>(at, look.end, look.words.letters) && ChangesAround<Folding>(at, look);
}

// The first changer for words of `letters` from `at` on, or end.
template <CaseFolding Folding>
const unsigned char* FirstChangerPortable(const unsigned char* at, const unsigned char* end, uint64_t letters)
{
    for (; at < end; ++at)
        if ((Folding == CaseFoldAccents ? MayBeAccentChanger(at, end) : MayBeUnicodeChanger(at, end)) &&
            ChangerAt<Folding>(at, end, letters))
            return at;
    return end;
}

template <CaseFolding Folding>
bool MayChangeWordsAsStoredPortable(const unsigned char* at, ChangerLook& look)
{
    for (;; ++at) {
        at = FirstChangerPortable<Folding>(at, look.end, look.words.letters);
        if (at == look.end) return false;
        if (ChangesAround<Folding>(at, look)) return true;
    }
}

#ifdef CORV_VECTOR_X86
// For each value of a byte's high nibble and of its low one, the classes of
// sequence that such a byte may stand in at one place of the first three
// bytes of a character (eight classes, a bit each): a byte may when both
// its nibbles' entries have the class's bit. Where a class is of fewer
// bytes, its entries at the later places hold any byte.
struct NibbleClasses {
    alignas(16) uint8_t high[16];
    alignas(16) uint8_t low[16];
};

// Under CaseFoldUnicode, the classes are pairs of a lead and its next byte:
// C2 AD; C3 9F and C5 BF (with C3 BF and C5 9F, which the nibbles cannot
// tell apart); C5 89; E1 BA; E2 80 to E2 89 and E3 82 (each with a third
// byte to look at); EF A4 to AC and B4 to BC; F0 AF.
enum : uint8_t {
    PairC2AD = 0x01, PairsOfS = 0x02, PairC589 = 0x04, PairE1BA = 0x08,
    PairE28x = 0x10, PairsOfEF = 0x20, PairE382 = 0x40, PairF0AF = 0x80
};

// The pairs that words of `letters` need looked at: those that fold to
// nothing or to punctuation always, the others as their letters say.
uint8_t PairsFor(uint64_t letters)
{
    const bool s = letters & AsciiLetterBit('s');
    return PairC2AD | PairE28x | PairsOfEF | (s ? PairsOfS : 0) | (letters & AsciiLetterBit('n') ? PairC589 : 0) |
           (s || (letters & AsciiLetterBit('a')) ? PairE1BA : 0) | (letters & HanOrKanaBit ? PairE382 | PairF0AF : 0);
}

constexpr NibbleClasses UnicodeFirsts = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, PairC2AD | PairsOfS | PairC589, 0, PairE1BA | PairE28x | PairsOfEF | PairE382,
     PairF0AF},
    {PairF0AF, PairE1BA, PairC2AD | PairE28x, PairsOfS | PairE382, 0, PairsOfS | PairC589, 0, 0, 0, 0, 0, 0, 0, 0, 0,
     PairsOfEF}};
constexpr NibbleClasses UnicodeSeconds = {
    {0, 0, 0, 0, 0, 0, 0, 0, PairC589 | PairE28x | PairE382, PairsOfS, PairC2AD | PairsOfEF | PairF0AF,
     PairsOfS | PairE1BA | PairsOfEF, 0, 0, 0, 0},
    {PairE28x, PairE28x, PairE382, 0, PairE28x | PairsOfEF, PairsOfEF, PairsOfEF, PairsOfEF, PairsOfEF,
     PairC589 | PairE28x | PairsOfEF, PairE1BA | PairsOfEF, PairsOfEF, PairsOfEF, PairC2AD, 0, PairsOfS | PairF0AF}};
// After E2: 8B, A0, AA, AE and AF (U+200B, U+2060, U+212A, U+2260, U+226E,
// U+226F), and a few more that the nibbles cannot tell apart; after E3 82:
// 99 and 9A.
constexpr uint8_t AnyButE2E3 = static_cast<uint8_t>(~(PairE28x | PairE382));
constexpr uint8_t AndE2 = AnyButE2E3 | PairE28x, AndE3 = AnyButE2E3 | PairE382;
constexpr NibbleClasses UnicodeThirds = {
    {AnyButE2E3, AnyButE2E3, AnyButE2E3, AnyButE2E3, AnyButE2E3, AnyButE2E3, AnyButE2E3, AnyButE2E3, AndE2, AndE3, AndE2,
     AnyButE2E3, AnyButE2E3, AnyButE2E3, AnyButE2E3, AnyButE2E3},
    {AndE2, AnyButE2E3, AnyButE2E3, AnyButE2E3, AnyButE2E3, AnyButE2E3, AnyButE2E3, AnyButE2E3, AnyButE2E3, AndE3,
     AndE2 | PairE382, AndE2, AnyButE2E3, AnyButE2E3, AndE2, AndE2}};

// Under CaseFoldAccents, the classes of MayBeAccentChanger: leads of any
// next bytes (C2 to C9, CC, CD and F0 to F4 share one, with bytes that
// never lead), D2 and D6 to DF, E0, E1, EA and ED; E2 80, 81, 84 and 89
// with a third byte of 80, 8A, 8B, 8E, 8F, A0, AA, AB, AE or AF; E2 83, 85,
// 87, B3, B5 and B7; E3 80 AA to AF and E3 82 99 and 9A (the marks among
// the kana's punctuation and letters); EF A4 to AC and B4 to BC.
enum : uint8_t {
    LeadCF = 0x01, LeadD = 0x02, LeadE = 0x04, PairE2Few = 0x08, PairE2Any = 0x10, MarksE380 = 0x20, MarksE382 = 0x40,
    PairEF = 0x80
};
constexpr uint8_t AnyNext = LeadCF | LeadD | LeadE;
constexpr uint8_t AnyThird = AnyNext | PairE2Any | PairEF;
constexpr NibbleClasses AccentFirsts = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, LeadCF, LeadD, LeadE | PairE2Few | PairE2Any | MarksE380 | MarksE382 | PairEF, LeadCF},
    {LeadCF | LeadE, LeadCF | LeadE, LeadCF | LeadD | PairE2Few | PairE2Any, LeadCF | MarksE380 | MarksE382, LeadCF,
     LeadCF, LeadCF | LeadD, LeadCF | LeadD, LeadCF | LeadD, LeadCF | LeadD, LeadD | LeadE, LeadD, LeadCF | LeadD,
     LeadCF | LeadD | LeadE, LeadD, LeadD | PairEF}};
constexpr NibbleClasses AccentSeconds = {
    {AnyNext, AnyNext, AnyNext, AnyNext, AnyNext, AnyNext, AnyNext, AnyNext,
     AnyNext | PairE2Few | PairE2Any | MarksE380 | MarksE382, AnyNext, AnyNext | PairEF, AnyNext | PairE2Any | PairEF,
     AnyNext, AnyNext, AnyNext, AnyNext},
    {AnyNext | PairE2Few | MarksE380, AnyNext | PairE2Few, AnyNext | MarksE382, AnyNext | PairE2Any,
     AnyNext | PairE2Few | PairEF, AnyNext | PairE2Any | PairEF, AnyNext | PairEF, AnyNext | PairE2Any | PairEF,
     AnyNext | PairEF, AnyNext | PairE2Few | PairEF, AnyNext | PairEF, AnyNext | PairEF, AnyNext | PairEF, AnyNext,
     AnyNext, AnyNext}};
constexpr NibbleClasses AccentThirds = {
    {AnyThird, AnyThird, AnyThird, AnyThird, AnyThird, AnyThird, AnyThird, AnyThird, AnyThird | PairE2Few,
     AnyThird | MarksE382, AnyThird | PairE2Few | MarksE380, AnyThird, AnyThird, AnyThird, AnyThird, AnyThird},
    {AnyThird | PairE2Few, AnyThird, AnyThird, AnyThird, AnyThird, AnyThird, AnyThird, AnyThird, AnyThird,
     AnyThird | MarksE382, AnyThird | PairE2Few | MarksE380 | MarksE382, AnyThird | PairE2Few | MarksE380,
     AnyThird | MarksE380, AnyThird | MarksE380, AnyThird | PairE2Few | MarksE380, AnyThird | PairE2Few | MarksE380}};

// The nibble tables in vectors, loaded once, and the classes asked for.
struct ChangerVectors {
    __m256i high[3];
    __m256i low[3];
    __m256i pairs;
};

__attribute__((target("avx2"))) inline __m256i Broadcast(const uint8_t* table)
{
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(table)));
}

template <CaseFolding Folding>
__attribute__((target("avx2"))) inline ChangerVectors ChangerVectorsFor(uint64_t letters)
{
    const bool accents = Folding == CaseFoldAccents;
    const NibbleClasses* tables[3] = {accents ? &AccentFirsts : &UnicodeFirsts, accents ? &AccentSeconds : &UnicodeSeconds,
                                      accents ? &AccentThirds : &UnicodeThirds};
    ChangerVectors vectors;
    for (int i = 0; i < 3; ++i) {
        vectors.high[i] = Broadcast(tables[i]->high);
        vectors.low[i] = Broadcast(tables[i]->low);
    }
    vectors.pairs = _mm256_set1_epi8(static_cast<char>(accents ? 0xFF : PairsFor(letters)));
    return vectors;
}

// The class bits of the 32 bytes at `at` in the place `place` of a character.
__attribute__((target("avx2"))) inline __m256i ClassesOf(const unsigned char* at, const ChangerVectors& vectors, int place)
{
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    return _mm256_and_si256(_mm256_shuffle_epi8(vectors.high[place], _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble)),
                            _mm256_shuffle_epi8(vectors.low[place], _mm256_and_si256(bytes, nibble)));
}

// Where in the 32 bytes at `at` (the two after them are read too) one of
// the classes asked for may begin. Most bytes begin none: the bytes after
// them are looked at only when some do.
__attribute__((target("avx2"))) inline uint32_t ChangerLeads(const unsigned char* at, const ChangerVectors& vectors)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i leads = _mm256_and_si256(ClassesOf(at, vectors, 0), vectors.pairs);
    if (!~_mm256_movemask_epi8(_mm256_cmpeq_epi8(leads, zero))) return 0;
    const __m256i classes =
        _mm256_and_si256(_mm256_and_si256(leads, ClassesOf(at + 1, vectors, 1)), ClassesOf(at + 2, vectors, 2));
    return ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(classes, zero)));
}

// The first place from `skip` on (below 32) among the 32 bytes at `at` (the
// two after them are read too) where a changer for words of `letters`
// begins, or nullptr.
template <CaseFolding Folding>
__attribute__((target("avx2"))) inline const unsigned char* ChangerIn32(const unsigned char* at, int skip,
                                                                        const unsigned char* end,
                                                                        const ChangerVectors& vectors, uint64_t letters)
{
    for (uint32_t leads = ChangerLeads(at, vectors) >> skip << skip; leads; leads &= leads - 1)
        if (ChangerAt<Folding>(at + __builtin_ctz(leads), end, letters)) return at + __builtin_ctz(leads);
    return nullptr;
}

// The same among the 64 bytes at `at`; 32 of them that are all ASCII need
// no closer look.
template <CaseFolding Folding>
__attribute__((target("avx2"))) inline const unsigned char* ChangerIn64(const unsigned char* at, int skip,
                                                                        const unsigned char* end,
                                                                        const ChangerVectors& vectors, uint64_t letters)
{
    const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
    const unsigned char* found = skip < 32 && _mm256_movemask_epi8(first)
                                     ? ChangerIn32<Folding>(at, skip, end, vectors, letters)
                                     : nullptr;
    if (!found && skip < 64 && _mm256_movemask_epi8(second))
        found = ChangerIn32<Folding>(at + 32, std::max(0, skip - 32), end, vectors, letters);
    return found;
}

// The first changer from `at` on, or end: 128 bytes at a time passed over
// while all are ASCII (most of a page's bytes, its markup), else 64 at a
// time; the last ones with some before them again, and the last two, whose
// next bytes are not there, one by one.
template <CaseFolding Folding>
__attribute__((target("avx2"))) const unsigned char* FirstChangerAvx2(const unsigned char* at, const unsigned char* end,
                                                                      const ChangerVectors& vectors, uint64_t letters)
{
    if (end - at < 66) return FirstChangerPortable<Folding>(at, end, letters);
    for (; end - at >= 130; at += 128) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 64));
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 96));
        if (!_mm256_movemask_epi8(_mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c, d)))) continue;
        if (const unsigned char* found = ChangerIn64<Folding>(at, 0, end, vectors, letters)) return found;
        if (const unsigned char* found = ChangerIn64<Folding>(at + 64, 0, end, vectors, letters)) return found;
    }
    if (end - at >= 66) {
        if (const unsigned char* found = ChangerIn64<Folding>(at, 0, end, vectors, letters)) return found;
        at += 64;
    }
    const unsigned char* const window = end - 66;
    if (const unsigned char* found = ChangerIn64<Folding>(window, static_cast<int>(at - window), end, vectors, letters))
        return found;
    return FirstChangerPortable<Folding>(std::max(at, end - 2), end, letters);
}

// Whether a changer that matters where it stands begins from `at` on.
template <CaseFolding Folding>
__attribute__((target("avx2"))) bool MayChangeWordsAsStoredAvx2(const unsigned char* at, ChangerLook& look)
{
    const ChangerVectors vectors = ChangerVectorsFor<Folding>(look.words.letters);
    for (;; ++at) {
        at = FirstChangerAvx2<Folding>(at, look.end, vectors, look.words.letters);
        if (at == look.end) return false;
        if (ChangesAround<Folding>(at, look)) return true;
    }
}
#endif

// ---- Cyrillic words in stored bytes ----------------------------------------------

// Whether the two bytes at `at` (end - at >= 2) are a Cyrillic letter that
// stored bytes hold as the words would (StoredFormOf) once capitals are
// lowered: А to я, and under unicode ѐ to џ as well (ё, which folds to е
// and a diaeresis, stands as ё in the words too).
template <CaseFolding Folding>
inline bool IsPlainForCyrillicWords(const unsigned char* at)
{
    const unsigned char lead = at[0], second = at[1];
    if (lead == 0xD0) return second >= 0x90 && second <= 0xBF;
    return lead == 0xD1 && second >= 0x80 && second <= (Folding == CaseFoldUnicode ? 0x9F : 0x8F);
}

// The Cyrillic letter of the words (two bytes) that `folded` (`written`
// bytes) is alone, or nullptr. Through `more`, whether it holds one of
// their letters otherwise: not where a mark follows it in the folding
// (Ӑ is а and a breve under unicode), which no hit goes through or ends before.
const unsigned char* WordLetterAlone(const char* folded, int written, uint64_t cyrillic, bool* more)
{
    *more = false;
    for (int at = 0; at < written;) {
        uint32_t codePoint = 0;
        const int length = std::max(1, CodePointAt(folded + at, folded + written, &codePoint));
        uint32_t next = 0;
        const bool marked = CodePointAt(folded + at + length, folded + written, &next) > 0 && ContinuesCharacter(next);
        if (length == 2 && (CyrillicLetterBit(codePoint) & cyrillic) && !marked) {
            if (written == 2) return reinterpret_cast<const unsigned char*>(folded);
            *more = true;
        }
        at += length;
    }
    return nullptr;
}

// Whether the character that begins at `at` (not plain for Cyrillic words)
// may change what the words find: as for their ASCII letters, Han and kana,
// or a mark (which may join letters, or make one under unicode: и and a
// breve are й), or a letter that folds to one of theirs in their midst.
template <CaseFolding Folding>
bool CyrillicWordsChangerAt(const unsigned char* at, ChangerLook& look)
{
    const StoredWords& words = look.words;
    uint32_t codePoint = 0;
    const int length = CodePointAt(reinterpret_cast<const char*>(at), reinterpret_cast<const char*>(look.end), &codePoint);
    if (length == 0) return IsCutSequence(at, look.end);  // not UTF-8: compared as it stands, unless the end cuts it
    unsigned char letter[2];
    if (length == 2 && (at[0] & 0xFE) == 0xD0) {
        const uint32_t small = words.cyrillicFolds[codePoint - 0x400];
        if (small == codePoint || !(CyrillicLetterBit(small) & words.cyrillic)) return false;
        Encode(small, letter);
    } else {
        if (ContinuesCharacter(codePoint) || ChangesAt<Folding>(at, look)) return true;
        if (RecordOf(codePoint).flags & FlagUnchanged) return false;  // folded as it stands
        char folded[FoldOutputCapacity(4)];
        const int written = FoldCharacter(Folding, reinterpret_cast<const char*>(at), length, folded);
        bool more = false;
        const unsigned char* alone = WordLetterAlone(folded, written, words.cyrillic, &more);
        if (more) return true;
        if (!alone) return false;
        memcpy(letter, alone, 2);
    }
    return !TakeLook(at, CyrillicLooks, &look.cyrillicLooks, look) ||
           MayFormWordAround(Folding, look.start, at, length, look.end, letter, 2, words);
}

// Whether the byte at `at` may begin a character that CyrillicWordsChangerAt
// looks at: a lead byte past ASCII, unless of a plain letter.
template <CaseFolding Folding>
inline bool MayBeCyrillicWordsChanger(const unsigned char* at, const unsigned char* end)
{
    return at[0] >= 0xC2 && (end - at < 2 || !IsPlainForCyrillicWords<Folding>(at));
}

// Capitals lowered and the other characters past ASCII looked at, byte by byte.
template <CaseFolding Folding>
bool MayChangeCyrillicWordsPortable(unsigned char* at, ChangerLook& look)
{
    for (; at < look.end; ++at) {
        if (look.end - at >= 2 && IsLoweredCapital<Folding>(at)) LowerCyrillicCapital(at++);
        else if (MayBeCyrillicWordsChanger<Folding>(at, look.end) && CyrillicWordsChangerAt<Folding>(at, look))
            return true;
    }
    return false;
}

#ifdef CORV_VECTOR_X86
// Classes of a byte for Cyrillic words, a bit each, told by its nibbles as
// NibbleClasses tells them: leads of C, E and F; leads of D but D0 and D1;
// D0; D1.
enum : uint8_t { LeadsCEF = 0x01, LeadsD = 0x02, LeadD0 = 0x04, LeadD1 = 0x08 };
constexpr NibbleClasses CyrillicLeads = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, LeadsCEF, LeadsD | LeadD0 | LeadD1, LeadsCEF, LeadsCEF},
    {LeadsCEF | LeadD0, LeadsCEF | LeadD1, LeadsCEF | LeadsD, LeadsCEF | LeadsD, LeadsCEF | LeadsD, LeadsCEF | LeadsD,
     LeadsCEF | LeadsD, LeadsCEF | LeadsD, LeadsCEF | LeadsD, LeadsCEF | LeadsD, LeadsCEF | LeadsD, LeadsCEF | LeadsD,
     LeadsCEF | LeadsD, LeadsCEF | LeadsD, LeadsCEF | LeadsD, LeadsCEF | LeadsD}};
// By the high nibble of the byte after a lead, the classes looked at, under
// unicode and under accents: the leads of other letters always; D0 before
// 80 to AF (capitals, and Ѐ to Џ); D1 before A0 to BF (Ѡ and after), and
// under accents before 90 to 9F (ѐ to џ) too. (Before other bytes, D0 and
// D1 are no UTF-8, compared as they stand.)
constexpr uint8_t AnyAfter = LeadsCEF | LeadsD;
alignas(16) constexpr uint8_t CyrillicNexts[2][16] = {
    {AnyAfter, AnyAfter, AnyAfter, AnyAfter, AnyAfter, AnyAfter, AnyAfter, AnyAfter, AnyAfter | LeadD0,
     AnyAfter | LeadD0, AnyAfter | LeadD0 | LeadD1, AnyAfter | LeadD1, AnyAfter, AnyAfter, AnyAfter, AnyAfter},
    {AnyAfter, AnyAfter, AnyAfter, AnyAfter, AnyAfter, AnyAfter, AnyAfter, AnyAfter, AnyAfter | LeadD0,
     AnyAfter | LeadD0 | LeadD1, AnyAfter | LeadD0 | LeadD1, AnyAfter | LeadD1, AnyAfter, AnyAfter, AnyAfter, AnyAfter}};

// The nibble tables in vectors, loaded once.
struct CyrillicVectors {
    __m256i high;
    __m256i low;
    __m256i nexts;
};

template <CaseFolding Folding>
__attribute__((target("avx2"))) inline CyrillicVectors CyrillicVectorsFor()
{
    return CyrillicVectors{Broadcast(CyrillicLeads.high), Broadcast(CyrillicLeads.low),
                           Broadcast(CyrillicNexts[Folding == CaseFoldAccents])};
}

// Where among the 32 bytes at `at` (`bytes`; the byte after them is read
// too) a capital or a character that MayBeCyrillicWordsChanger holds may
// begin (a lead of C0 or C1 too, which begins no UTF-8).
__attribute__((target("avx2"))) inline uint32_t CyrillicWordsCandidates(const unsigned char* at, __m256i bytes,
                                                                        const CyrillicVectors& vectors)
{
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
    const __m256i classes =
        _mm256_and_si256(_mm256_shuffle_epi8(vectors.high, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble)),
                         _mm256_shuffle_epi8(vectors.low, _mm256_and_si256(bytes, nibble)));
    const __m256i asked = _mm256_shuffle_epi8(vectors.nexts, _mm256_and_si256(_mm256_srli_epi16(next, 4), nibble));
    // A class left sets the top bit.
    const __m256i left = _mm256_adds_epu8(_mm256_and_si256(classes, asked), _mm256_set1_epi8(0x7F));
    return static_cast<uint32_t>(_mm256_movemask_epi8(left));
}

// Lowers the capitals among the candidates (a bit for each byte from `at`)
// and looks at the others: whether one may change what the words find. A
// capital lowered writes its second byte, never a lead: the candidates stay
// what they were.
template <CaseFolding Folding>
inline bool LowerOrFindChanger(unsigned char* at, uint64_t candidates, ChangerLook& look)
{
    for (; candidates; candidates &= candidates - 1) {
        unsigned char* const candidate = at + __builtin_ctzll(candidates);
        if (IsLoweredCapital<Folding>(candidate)) LowerCyrillicCapital(candidate);
        else if (CyrillicWordsChangerAt<Folding>(candidate, look)) return true;
    }
    return false;
}

// 64 bytes at a time, passed over when all are ASCII, then 32; the last
// ones, whose next byte is not there, one by one.
template <CaseFolding Folding>
__attribute__((target("avx2"))) bool MayChangeCyrillicWordsAvx2(unsigned char* at, ChangerLook& look)
{
    const CyrillicVectors vectors = CyrillicVectorsFor<Folding>();
    for (; look.end - at > 64; at += 64) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
        if (HighBits64(first, second) &&
            LowerOrFindChanger<Folding>(at,
                                        CyrillicWordsCandidates(at, first, vectors) |
                                            uint64_t{CyrillicWordsCandidates(at + 32, second, vectors)} << 32,
                                        look))
            return true;
    }
    if (look.end - at > 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        if (LowerOrFindChanger<Folding>(at, CyrillicWordsCandidates(at, bytes, vectors), look)) return true;
        at += 32;
    }
    return MayChangeCyrillicWordsPortable<Folding>(at, look);
}
#endif

template <CaseFolding Folding>
bool MayChangeWordsAsStoredAt(int32_t level, const unsigned char* start, unsigned char* at, const unsigned char* end,
                              const StoredWords& words)
{
    ChangerLook look{words, start, at, end, 0, 0};
#ifdef CORV_VECTOR_X86
    if (level == VectorAvx2)
        return words.cyrillic ? MayChangeCyrillicWordsAvx2<Folding>(at, look) : MayChangeWordsAsStoredAvx2<Folding>(at, look);
#endif
    (void)level;
    return words.cyrillic ? MayChangeCyrillicWordsPortable<Folding>(at, look)
                          : MayChangeWordsAsStoredPortable<Folding>(at, look);
}

}  // namespace

void ReadyStoredWords(CaseFolding folding, StoredWords* words)
{
    memset(words->cyrillicFolds, 0, sizeof words->cyrillicFolds);
    for (uint32_t codePoint = 0x400; words->cyrillic && codePoint < 0x480; ++codePoint) {
        unsigned char bytes[2];
        Encode(codePoint, bytes);
        char folded[FoldOutputCapacity(4)];
        uint32_t small = 0;
        if (FoldCharacter(folding, reinterpret_cast<const char*>(bytes), 2, folded) == 2 &&
            CodePointAt(folded, folded + 2, &small) == 2 &&
            CyrillicLetterBit(small))
            words->cyrillicFolds[codePoint - 0x400] = static_cast<uint16_t>(small);
    }
}

namespace {

// The small Cyrillic letter (two bytes) whose folding is the letter and the
// mark at `pair` (four bytes), into `letter`: whether there is one.
bool ComposedSmallLetter(CaseFolding folding, const char* pair, char* letter)
{
    for (uint32_t codePoint = 0x430; codePoint < 0x460; ++codePoint) {
        Encode(codePoint, reinterpret_cast<unsigned char*>(letter));
        char folded[FoldOutputCapacity(4)];
        if (FoldCharacter(folding, letter, 2, folded) == 4 && memcmp(folded, pair, 4) == 0) return true;
    }
    return false;
}

}  // namespace

int StoredFormOf(CaseFolding folding, const char* word, int count, char* target)
{
    int written = 0;
    for (int at = 0; at < count;) {
        uint32_t codePoint = 0, next = 0;
        const int length = std::max(1, CodePointAt(word + at, word + count, &codePoint));
        const int markLength = CodePointAt(word + at + length, word + count, &next);
        if (length > 1 && ContinuesCharacter(codePoint)) return -1;
        if (markLength > 0 && ContinuesCharacter(next)) {
            if (length != 2 || markLength != 2 || !ComposedSmallLetter(folding, word + at, target + written)) return -1;
            written += 2;
            at += 4;
            continue;
        }
        memcpy(target + written, word + at, static_cast<size_t>(length));
        written += length;
        at += length;
    }
    return written;
}

bool MayChangeWordsAsStored(int32_t level, CaseFolding folding, const char* start, char* bytes, int count,
                            const StoredWords& words)
{
    const unsigned char* from = reinterpret_cast<const unsigned char*>(start);
    unsigned char* at = reinterpret_cast<unsigned char*>(bytes);
    return folding == CaseFoldAccents ? MayChangeWordsAsStoredAt<CaseFoldAccents>(level, from, at, at + count, words)
                                      : MayChangeWordsAsStoredAt<CaseFoldUnicode>(level, from, at, at + count, words);
}
