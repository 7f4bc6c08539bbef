// filesrch: the visible-text reader. Takes a document's bytes in pieces of any
// size and writes the text a visitor sees: tags, comments, scripts, styles and
// the head left out, blanks folded, character references kept or decoded.
// Whatever cannot be decided at the end of a piece is held in the reader, so
// every split of a document gives the same text.
//
// This file is the state machine, which reads every byte on the portable
// level; on the vector levels the vector engine reads text and tags and this
// reads only what its masks cannot tell (visible-text-windows.cpp).
#include <cstddef>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "corv-core.h"
#include "corv-str.h"
#include "corv-vector-kernels.h"
#include "visible-text-internal.h"

// The vector scans and the tag names count a word's first byte as its lowest.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the masks need the first byte lowest");

using namespace visible_text_internal;

namespace {

const char* const TextModule = "filesrch";

enum : unsigned char { Plain, Blank, Less, Ampersand };

struct ByteClasses {
    unsigned char of[256];
};

constexpr ByteClasses MakeByteClasses(bool decode)
{
    ByteClasses classes{};
    classes.of[static_cast<unsigned char>(' ')] = Blank;
    classes.of[static_cast<unsigned char>('\t')] = Blank;
    classes.of[static_cast<unsigned char>('\n')] = Blank;
    classes.of[static_cast<unsigned char>('\r')] = Blank;
    classes.of[static_cast<unsigned char>('\f')] = Blank;
    classes.of[static_cast<unsigned char>('<')] = Less;
    if (decode) classes.of[static_cast<unsigned char>('&')] = Ampersand;
    return classes;
}

constexpr ByteClasses KeepClasses = MakeByteClasses(false);
constexpr ByteClasses DecodeClasses = MakeByteClasses(true);

// ---- Sixteen bytes at a time

// The compiler's portable vectors (SSE2 on x86-64, NEON on ARM). A compare
// gives a byte of all ones where it holds and zero where it does not.
typedef unsigned char Bytes __attribute__((vector_size(16)));
typedef signed char Matches __attribute__((vector_size(16)));
typedef uint64_t Halves __attribute__((vector_size(16)));
constexpr int BytesWidth = 16;

Bytes LoadBytes(const unsigned char* at)
{
    Bytes bytes;
    memcpy(&bytes, at, sizeof bytes);
    return bytes;
}

// The offset of the first byte that matches, or BytesWidth. SSE2 gathers
// the matches into a mask at once; elsewhere each half is looked at.
int FirstMatch(Matches matches)
{
#ifdef __SSE2__
    const int mask = _mm_movemask_epi8(reinterpret_cast<__m128i>(matches));
    return mask ? __builtin_ctz(static_cast<unsigned>(mask)) : BytesWidth;
#else
    const Halves halves = reinterpret_cast<Halves>(matches);
    if (halves[0]) return __builtin_ctzll(halves[0]) >> 3;
    if (halves[1]) return 8 + (__builtin_ctzll(halves[1]) >> 3);
    return BytesWidth;
#endif
}

// What may end a run of plain text: a byte up to the blank, "<", and "&"
// when references are decoded.
Matches TextMarks(Bytes bytes, bool decode)
{
    const Matches marks = (bytes <= ' ') | (bytes == '<');
    return decode ? marks | (bytes == '&') : marks;
}

// What may end a tag or open a quoted value in it.
Matches TagMarks(Bytes bytes) { return (bytes == '>') | (bytes == '=') | (bytes == '"') | (bytes == '\''); }

// The first byte from at that marks tells, or end; the last few bytes, fewer
// than a vector, are tested one by one.
template <typename Marks, typename IsMark>
const unsigned char* FindMark(const unsigned char* at, const unsigned char* end, Marks marks, IsMark isMark)
{
    for (; end - at >= BytesWidth; at += BytesWidth) {
        const int first = FirstMatch(marks(LoadBytes(at)));
        if (first < BytesWidth) return at + first;
    }
    while (at < end && !isMark(*at)) ++at;
    return at;
}

const unsigned char* FindTagMark(const unsigned char* at, const unsigned char* end)
{
    return FindMark(at, end, [](Bytes bytes) { return TagMarks(bytes); },
                    [](unsigned char byte) { return byte == '>' || byte == '=' || byte == '"' || byte == '\''; });
}

const unsigned char* FindByte(const unsigned char* at, const unsigned char* end, unsigned char byte)
{
    return FindMark(at, end, [byte](Bytes bytes) { return bytes == byte; },
                    [byte](unsigned char other) { return other == byte; });
}

// Indentation comes in runs of spaces.
const unsigned char* SkipSpaces(const unsigned char* at, const unsigned char* end)
{
    return FindMark(at, end, [](Bytes bytes) { return bytes != ' '; }, [](unsigned char byte) { return byte != ' '; });
}

bool IsBlank(int32_t byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f'; }

unsigned char LowerAscii(unsigned char byte)
{
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte + 32) : byte;
}


}  // namespace

// A blank is written only once more text follows, and never first.
void visible_text_internal::MarkBlank(VisibleTextReader* reader)
{
    if (reader->wroteText) reader->blankPending = true;
}

namespace {

void WritePendingBlank(Pass* pass)
{
    if (!pass->reader->blankPending) return;
    *pass->out++ = ' ';
    pass->reader->blankPending = false;
}

void WriteText(Pass* pass, const void* bytes, size_t length)
{
    WritePendingBlank(pass);
    memcpy(pass->out, bytes, length);
    pass->out += length;
    pass->reader->wroteText = true;
}

// ---- Text and character references

// Copies plain bytes, and single blanks between them, up to the next other
// blank, "<" or (decoding) "&". Whole vectors are stored, as the target has
// room for them; only the plain bytes among them count.
void CopyPlainText(Pass* pass, const unsigned char* classes, bool decode)
{
    const unsigned char* at = pass->at;
    const unsigned char* end = pass->end;
    char* out = pass->out;
    while (at < end) {
        if (end - at >= BytesWidth) {
            const Bytes bytes = LoadBytes(at);
            memcpy(out, &bytes, sizeof bytes);
            const int plain = FirstMatch(TextMarks(bytes, decode));
            at += plain;
            out += plain;
            if (plain == BytesWidth) continue;
        }
        const unsigned char kind = classes[*at];
        if (kind == Plain) {
            *out++ = static_cast<char>(*at++);  // a control byte, which is text
        } else if (kind == Blank && end - at >= 2 && classes[at[1]] == Plain) {
            *out++ = ' ';  // the blank that more text would write anyway
            ++at;
        } else {
            break;
        }
    }
    pass->at = at;
    pass->out = out;
}

void ReadAfterLess(Pass* pass);
void ReadTag(Pass* pass);

// A reference that the piece holds whole, its "&" just read: its text, or
// the "&" as text (what follows is read as text). False when the piece ends
// first: then it is read byte by byte.
bool ReadReferenceAtOnce(Pass* pass)
{
    const unsigned char* ampersand = pass->at - 1;
    char decoded[4];
    int32_t decodedLength = 0;
    const int32_t length = ReadWholeReference(ampersand, static_cast<int32_t>(pass->end - ampersand), decoded, &decodedLength);
    if (length == ReferenceNeedsMore) return false;
    if (length == ReferenceIsText) {
        WriteText(pass, "&", 1);
        return true;
    }
    pass->at = ampersand + length;
    if (decodedLength == 0) MarkBlank(pass->reader);
    else WriteText(pass, decoded, static_cast<size_t>(decodedLength));
    return true;
}

void ReadAnyTag(Pass* pass)
{
    if (pass->reader->scope == VisibleTextMain) ReadMainTag(pass);
    else ReadTag(pass);
}

// Text that main content leaves out: only its tags count.
void SkipText(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
    while (pass->at < pass->end) {
        const void* less = memchr(pass->at, '<', static_cast<size_t>(pass->end - pass->at));
        if (!less) {
            pass->at = pass->end;
            return;
        }
        pass->at = static_cast<const unsigned char*>(less) + 1;
        reader->state = AfterLess;
        if (pass->at == pass->end) return;
        ReadAfterLess(pass);
        if (reader->state == InTag) ReadMainTag(pass);
        if (reader->state != InText || MainTextShown(reader) || reader->startOver) return;
    }
}

void ReadText(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
    if (!ShowsText(reader)) {
        SkipText(pass);
        return;
    }
    const bool decode = reader->mode == VisibleTextDecodeReferences;
    const unsigned char* classes = decode ? DecodeClasses.of : KeepClasses.of;
    while (pass->at < pass->end) {
        const unsigned char kind = classes[*pass->at];
        if (kind == Plain) {
            WritePendingBlank(pass);
            CopyPlainText(pass, classes, decode);
            reader->wroteText = true;
            continue;
        }
        ++pass->at;
        if (kind == Blank) {
            MarkBlank(reader);
            pass->at = SkipSpaces(pass->at, pass->end);
        } else if (kind == Less) {
            // The usual way out of text and back, without the dispatch.
            reader->state = AfterLess;
            if (pass->at == pass->end) return;
            ReadAfterLess(pass);
            if (reader->state == InTag) ReadAnyTag(pass);
            if (reader->state != InText || !ShowsText(reader) || reader->startOver) return;
        } else if (!ReadReferenceAtOnce(pass)) {
            reader->state = InReference;
            reader->reference[0] = '&';
            reader->referenceLength = 1;
            return;
        }
    }
}

// At the ";" of a candidate: its character, a blank, or its bytes as text.
void EndReference(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
    reader->state = InText;
    char bytes[4];
    const int decoded = DecodeReference(reader->reference, reader->referenceLength, bytes);
    if (decoded == ReferenceIsText) {
        reader->reference[reader->referenceLength++] = ';';
        WriteText(pass, reader->reference, static_cast<size_t>(reader->referenceLength));
    } else if (decoded == ReferenceIsBlank) {
        MarkBlank(reader);
    } else {
        WriteText(pass, bytes, static_cast<size_t>(decoded));
    }
}

void ReadReference(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
    while (pass->at < pass->end) {
        const unsigned char byte = *pass->at;
        if (byte == ';') {
            ++pass->at;
            EndReference(pass);
            return;
        }
        // Not a reference: its bytes are text, and this byte is read as text.
        if (!ContinuesReference(reader->reference, reader->referenceLength, byte) ||
            reader->referenceLength == VisibleTextReferenceLimit - 1) {
            reader->state = InText;
            WriteText(pass, reader->reference, static_cast<size_t>(reader->referenceLength));
            return;
        }
        reader->reference[reader->referenceLength++] = static_cast<char>(byte);
        ++pass->at;
    }
}

// ---- Tags and comments

void StartTag(VisibleTextReader* reader, bool closing)
{
    reader->state = InTag;
    reader->closing = closing;
    reader->name = 0;
    reader->nameLength = 0;
    reader->nameEnded = false;
    reader->quote = 0;
    reader->afterEquals = false;
    if (reader->scope == VisibleTextMain) reader->tag = TagAttributes{0, HashStart, 0, 0, 0, 0, {}};
}

}  // namespace

// A tag whose name cannot make it special: it stands as a blank.
void visible_text_internal::StartOrdinaryTag(VisibleTextReader* reader)
{
    StartTag(reader, false);
    reader->nameEnded = true;
}

namespace {

void StartRawText(VisibleTextReader* reader, int32_t rawEnd)
{
    reader->state = InRawText;
    reader->rawEnd = rawEnd;
    reader->endMatched = 0;
    reader->bodyMatched = 0;
    reader->bodyOffset = -1;
}

void ReadAfterLess(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
    const unsigned char byte = *pass->at;
    if (IsAsciiLetter(byte)) {
        StartTag(reader, false);  // the byte is the name's first
    } else if (byte == '/') {
        StartTag(reader, true);
        ++pass->at;
    } else if (byte == '!') {
        reader->state = AfterBang;
        ++pass->at;
    } else if (byte == '?') {
        StartOrdinaryTag(reader);
        ++pass->at;
    } else {
        reader->state = InText;
        if (ShowsText(reader)) WriteText(pass, "<", 1);
    }
}

// "<!--" opens a comment; any other "<!" tag is ordinary.
void ReadAfterBang(Pass* pass, int32_t next)
{
    VisibleTextReader* reader = pass->reader;
    if (*pass->at != '-') {
        StartOrdinaryTag(reader);
        return;
    }
    ++pass->at;
    reader->state = next;
    reader->endMatched = 0;
}

}  // namespace

void visible_text_internal::EndTag(VisibleTextReader* reader)
{
    reader->state = InText;
    const unsigned char kind = KindOfName(reader->nameLength > NameBytes ? LongNameKey : reader->name);
    if (kind == InlineName) return;
    MarkBlank(reader);
    if (!OpensRawContents(kind, reader->closing)) return;
    if (kind == ScriptName) StartRawText(reader, EndScript);
    else if (kind == StyleName) StartRawText(reader, EndStyle);
    else StartRawText(reader, reader->headUnclosed ? EndHeadAtBody : EndHead);
}

bool visible_text_internal::ReadToTagEnd(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
    const unsigned char* at = pass->at;
    const unsigned char* end = pass->end;
    unsigned char quote = reader->quote;
    bool afterEquals = reader->afterEquals;
    bool ended = false;
    while (at < end) {
        if (quote) {
            at = FindByte(at, end, quote);
            if (at == end) break;
            ++at;
            quote = 0;
            continue;
        }
        if (!afterEquals) {
            at = FindTagMark(at, end);
            if (at == end) break;
        }
        if ((ended = TagEndsAt(*at++, &quote, &afterEquals))) break;
    }
    reader->quote = quote;
    reader->afterEquals = afterEquals;
    pass->at = at;
    return ended;
}

namespace {

void EndName(VisibleTextReader* reader, unsigned char byte)
{
    reader->nameEnded = true;
    if (byte == '=' || byte == '"' || byte == '\'') reader->nameLength = NameBytes + 1;
}

// The name from a vector of the document; false when a control byte is in
// its way, which the byte-by-byte reading then handles.
bool TakeNameAtOnce(VisibleTextReader* reader, const unsigned char* at)
{
    const Bytes bytes = LoadBytes(at);
    const int length = FirstMatch((bytes <= ' ') | (bytes == '/') | TagMarks(bytes));
    if (length > NameBytes) {
        reader->nameEnded = true;
        reader->nameLength = NameBytes + 1;
        return true;
    }
    if (at[length] <= ' ' && !IsBlank(at[length])) return false;
    const Bytes keyBytes = bytes | 0x20;  // NameKeyByte on each
    reader->name = reinterpret_cast<Halves>(keyBytes)[0] & ((uint64_t{1} << (8 * length)) - 1);
    reader->nameLength = length;
    EndName(reader, at[length]);
    return true;
}

// Takes the name's bytes up to the first that ends it, which is left for the
// rest of the tag to read.
const unsigned char* TakeName(VisibleTextReader* reader, const unsigned char* at, const unsigned char* end)
{
    if (reader->nameLength == 0 && end - at >= BytesWidth && TakeNameAtOnce(reader, at)) return at;
    for (; at < end; ++at) {
        const unsigned char byte = *at;
        if (IsBlank(byte) || byte == '/' || byte == '>' || byte == '=' || byte == '"' || byte == '\'') {
            EndName(reader, byte);
            break;
        }
        if (reader->nameLength < NameBytes) reader->name |= uint64_t{NameKeyByte(byte)} << (8 * reader->nameLength++);
        else reader->nameLength = NameBytes + 1;
    }
    return at;
}


// A comment runs to the first "-->" after its "<!--": dashes counts those
// just read, up to two. True at its end.
bool CommentEndsAt(unsigned char byte, int32_t* dashes)
{
    if (byte == '>' && *dashes == 2) return true;
    *dashes = byte == '-' ? (*dashes < 2 ? *dashes + 1 : 2) : 0;
    return false;
}

void ReadTag(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
    if (!reader->nameEnded) pass->at = TakeName(reader, pass->at, pass->end);
    if (ReadToTagEnd(pass)) EndTag(reader);
}

// A comment joins the text on either side.
void ReadComment(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
    while (pass->at < pass->end) {
        if (reader->endMatched == 0) {
            const void* dash = memchr(pass->at, '-', static_cast<size_t>(pass->end - pass->at));
            if (!dash) {
                pass->at = pass->end;
                return;
            }
            pass->at = static_cast<const unsigned char*>(dash);
        }
        if (CommentEndsAt(*pass->at++, &reader->endMatched)) {
            reader->state = InText;
            return;
        }
    }
}

// ---- Raw contents: scripts, styles and the head

// Bytes of sequence matched after byte; its "<" occurs nowhere else in it.
int32_t MatchNext(const char* sequence, int32_t matched, unsigned char byte)
{
    if (LowerAscii(byte) == static_cast<unsigned char>(sequence[matched])) return matched + 1;
    return byte == '<' ? 1 : 0;
}

// A head with no "</head" after it ends at the first "<body" in it; that is
// known only at the document's end, so its offset is kept until then.
void NoteBody(Pass* pass, unsigned char byte)
{
    VisibleTextReader* reader = pass->reader;
    reader->bodyMatched = MatchNext(BodyStart, reader->bodyMatched, byte);
    if (reader->bodyMatched < BodyStartLength) return;
    reader->bodyMatched = 0;
    if (reader->bodyOffset < 0) reader->bodyOffset = reader->offset + (pass->at - pass->source) - BodyStartLength;
}

void ReadRawText(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
    const char* rawEnd = RawEnds[reader->rawEnd];
    const int rawEndLength = static_cast<int>(strlen(rawEnd));
    const bool notesBody = reader->rawEnd == EndHead;
    while (pass->at < pass->end) {
        if (reader->endMatched == 0 && reader->bodyMatched == 0) {
            const void* less = memchr(pass->at, '<', static_cast<size_t>(pass->end - pass->at));
            if (!less) {
                pass->at = pass->end;
                return;
            }
            pass->at = static_cast<const unsigned char*>(less);
        }
        const unsigned char byte = *pass->at++;
        reader->endMatched = MatchNext(rawEnd, reader->endMatched, byte);
        if (reader->endMatched == rawEndLength) {
            StartRawEndTag(reader, reader->rawEnd);  // from its "<" to its ">", a blank
            return;
        }
        if (notesBody) NoteBody(pass, byte);
    }
}

}  // namespace

void visible_text_internal::ReadInState(Pass* pass)
{
    switch (pass->reader->state) {
    case InText: ReadText(pass); break;
    case AfterLess: ReadAfterLess(pass); break;
    case AfterBang: ReadAfterBang(pass, AfterBangDash); break;
    case AfterBangDash: ReadAfterBang(pass, InComment); break;
    case InTag: ReadAnyTag(pass); break;
    case InComment: ReadComment(pass); break;
    case InRawText: ReadRawText(pass); break;
    default: ReadReference(pass); break;
    }
}

namespace {

// On the portable level (and every processor without the vector engine) the
// state machine reads the whole piece; its scans of text and tags use the
// compiler's portable vectors.
void ReadPiece(Pass* pass)
{
#ifdef CORV_VECTOR_X86
    if (pass->reader->level == VectorSse2 || pass->reader->level == VectorAvx2) {
        ReadWindows(pass);
        return;
    }
#endif
    while (pass->at < pass->end && !pass->reader->startOver) ReadInState(pass);
}

}  // namespace

int32_t MarkupEnd(const unsigned char* bytes, int32_t at, int32_t count)
{
    CORV_CHECK_POINTER(TextModule, bytes);
    const unsigned char next = bytes[at + 1];
    int32_t from = at + 1 + (next == '/' || next == '?' || next == '!');
    if (next == '!') {
        // "<!-" and a byte other than "-" is an ordinary tag from that byte.
        if (from < count && bytes[from] == '-') ++from;
        if (from < count && bytes[from] == '-') {
            int32_t dashes = 0;
            for (int32_t i = from + 1; i < count; ++i)
                if (CommentEndsAt(bytes[i], &dashes)) return i + 1;
            return -1;
        }
    }
    unsigned char quote = 0;
    bool afterEquals = false;
    for (int32_t i = from; i < count; ++i) {
        if (quote) quote = bytes[i] == quote ? 0 : quote;
        else if (TagEndsAt(bytes[i], &quote, &afterEquals)) return i + 1;
    }
    return -1;
}

void StartVisibleText(VisibleTextReader* reader, VisibleTextMode mode, VectorLevel level)
{
    CORV_CHECK_POINTER(TextModule, reader);
    memset(reader, 0, sizeof *reader);
    reader->mode = mode;
    reader->level = level;
    reader->state = InText;
    reader->restartAt = -1;
    reader->bodyOffset = -1;
}

// The text of a byte is written at most 32 bytes past where the byte is in
// the piece (the text held back from earlier pieces: a blank and a reference
// of fewer than VisibleTextReferenceLimit bytes), and no text is longer than
// what it is read from: so the target has room for 32 bytes past the text of
// any byte, which the copies of runs of text store whole.
int ReadVisibleText(VisibleTextReader* reader, const char* source, int count, char* target)
{
    CORV_CHECK_POINTER(TextModule, reader);
    CORV_CHECK_POINTER(TextModule, source);
    CORV_CHECK_POINTER(TextModule, target);
    const unsigned char* start = reinterpret_cast<const unsigned char*>(source);
    Pass pass{reader, start, start, start + count, target};
    reader->startOver = false;
    ReadPiece(&pass);
    // Main content: marks met after text was written void the text; the
    // reader was made ready to read the document again from its start.
    if (reader->startOver) return 0;
    reader->offset += count;
    return static_cast<int>(pass.out - target);
}

int FinishVisibleText(VisibleTextReader* reader, char* target)
{
    CORV_CHECK_POINTER(TextModule, reader);
    CORV_CHECK_POINTER(TextModule, target);
    reader->restartAt = -1;
    if (reader->state == InRawText && reader->rawEnd == EndHead && reader->bodyOffset >= 0) {
        // Nothing was written inside the head: read on from its "<body",
        // knowing that no "</head" follows.
        reader->restartAt = reader->offset = reader->bodyOffset;
        reader->headUnclosed = true;
        reader->state = InText;
        return 0;
    }
    Pass pass{reader, nullptr, nullptr, nullptr, target};
    if (reader->state == AfterLess && ShowsText(reader)) WriteText(&pass, "<", 1);
    if (reader->state == InReference) WriteText(&pass, reader->reference, static_cast<size_t>(reader->referenceLength));
    reader->state = InText;
    reader->blankPending = false;
    return static_cast<int>(pass.out - target);
}
