// filesrch: the visible-text reader. Takes a document's bytes in pieces of any
// size and writes the text a visitor sees: tags, comments, scripts, styles and
// the head left out, blanks folded, character references kept or decoded.
// Whatever cannot be decided at the end of a piece is held in the reader, so
// every split of a document gives the same text.
//
// On x86-64, text and tags, most of a document, are read through masks of a
// window of the piece (a bit a byte for each kind of byte that matters), made
// 32 bytes at a time with AVX2 where the processor has it, else 16 at a time
// with SSE2: the tags of 64 bytes are found at once with carries through the
// masks, and only their names are looked at one by one. To that reading a
// window's end is a piece's end. What the masks cannot tell, and what is rare
// (comments, references when decoding, raw contents), the state machine reads
// byte by byte; elsewhere it reads all.
#include <cstddef>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "corv-core.h"
#include "corv-str.h"
#include "corv-vector-kernels.h"
#include "corv-vector.h"
#include "filesrch.h"

// The masks, the vector scans and the tag names count a word's first byte as its lowest.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the masks need the first byte lowest");

namespace {

const char* const TextModule = "filesrch";

enum : int32_t {
    InText,
    AfterLess,      // a "<": the next byte tells a tag from a text byte
    AfterBang,      // "<!"
    AfterBangDash,  // "<!-"
    InTag,
    InComment,
    InRawText,      // the contents of a script, style or head
    InReference     // decode mode: a "&" and what may yet complete it
};

// What ends raw contents, as plain byte sequences in any case.
enum : int32_t { EndScript, EndStyle, EndHead, EndHeadAtBody };
const char* const RawEnds[] = {"</script", "</style", "</head", "<body"};
constexpr char BodyStart[] = "<body";
constexpr int BodyStartLength = sizeof BodyStart - 1;

// A tag name as a number: its first bytes (up to NameBytes, the first
// lowest), each with 0x20 added, so names compare at once and without regard
// to case. Known names are of letters only, and 0x20 makes a letter of no
// other byte, so no other name takes a known key; it leaves no byte zero, so
// a key has as many bytes as its name. A longer name takes a key of more
// bytes than any known name.
constexpr int NameBytes = 7;
constexpr uint64_t LongNameKey = ~uint64_t{0};

constexpr unsigned char NameKeyByte(unsigned char byte) { return byte | 0x20; }

constexpr uint64_t NameKey(const char* name)
{
    uint64_t key = 0;
    for (int at = 0; name[at]; ++at) key |= uint64_t{NameKeyByte(static_cast<unsigned char>(name[at]))} << (8 * at);
    return key;
}

enum : unsigned char { OtherName, InlineName, ScriptName, StyleName, HeadName };

struct KnownName {
    const char* name;
    unsigned char kind;
};

// Inline tags join the text on either side instead of standing as a blank.
constexpr KnownName KnownNames[] = {
    {"a", InlineName},     {"abbr", InlineName},   {"b", InlineName},    {"bdi", InlineName},  {"bdo", InlineName},
    {"cite", InlineName},  {"code", InlineName},   {"data", InlineName}, {"dfn", InlineName},  {"em", InlineName},
    {"font", InlineName},  {"i", InlineName},      {"kbd", InlineName},  {"mark", InlineName}, {"q", InlineName},
    {"s", InlineName},     {"samp", InlineName},   {"small", InlineName}, {"span", InlineName}, {"strong", InlineName},
    {"sub", InlineName},   {"sup", InlineName},    {"time", InlineName}, {"u", InlineName},    {"var", InlineName},
    {"wbr", InlineName},   {"script", ScriptName}, {"style", StyleName}, {"head", HeadName}};

// The known names by the top bits of their key times a multiplier (found by
// trying odd numbers): each has a slot of its own, so a lookup is a
// multiplication and a compare.
constexpr uint64_t NameMultiplier = 0x38ac5bb63b0a203d;
constexpr int NameSlotBits = 6;

constexpr int NameSlot(uint64_t key) { return static_cast<int>((key * NameMultiplier) >> (64 - NameSlotBits)); }

struct NameTable {
    uint64_t key[1 << NameSlotBits];
    unsigned char kind[1 << NameSlotBits];
    bool slotsOfTheirOwn;
};

constexpr NameTable MakeNameTable()
{
    NameTable table{};
    table.slotsOfTheirOwn = true;
    for (const KnownName& known : KnownNames) {
        const uint64_t key = NameKey(known.name);
        const int slot = NameSlot(key);
        if (table.kind[slot] != OtherName) table.slotsOfTheirOwn = false;
        table.key[slot] = key;
        table.kind[slot] = known.kind;
    }
    return table;
}

constexpr NameTable KnownNameSlots = MakeNameTable();
static_assert(KnownNameSlots.slotsOfTheirOwn, "two known tag names share a slot");

unsigned char KindOfName(uint64_t key)
{
    const int slot = NameSlot(key);
    return KnownNameSlots.kind[slot] & -static_cast<unsigned char>(KnownNameSlots.key[slot] == key);
}

constexpr int32_t NoBreakSpace = 0xA0;
constexpr int32_t LargestCodePoint = 0x10FFFF;

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

// One call's input and output.
struct Pass {
    VisibleTextReader* reader;
    const unsigned char* source;
    const unsigned char* at;
    const unsigned char* end;
    char* out;
};

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

// A blank is written only once more text follows, and never first.
void MarkBlank(VisibleTextReader* reader)
{
    if (reader->wroteText) reader->blankPending = true;
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

void ReadText(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
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
            if (reader->state == InTag) ReadTag(pass);
            if (reader->state != InText) return;
        } else {
            reader->state = InReference;
            reader->reference[0] = '&';
            reader->referenceLength = 1;
            return;
        }
    }
}

// The scalar value of "&#digits" or "&#xdigits", or -1.
int32_t CodePointOfNumber(const char* reference, int length)
{
    const bool hex = length > 2 && (reference[2] == 'x' || reference[2] == 'X');
    const int first = hex ? 3 : 2;
    if (length == first) return -1;
    int32_t value = 0;
    for (int i = first; i < length; ++i) {
        const unsigned char digit = static_cast<unsigned char>(reference[i]);
        const int32_t digitValue = IsAsciiDigit(digit) ? digit - '0' : (digit | 0x20) - 'a' + 10;
        value = value * (hex ? 16 : 10) + digitValue;
        if (value > LargestCodePoint) return -1;
    }
    if (value >= 0xD800 && value <= 0xDFFF) return -1;
    return value;
}

int EncodeUtf8(int32_t codePoint, char* bytes)
{
    if (codePoint < 0x80) {
        bytes[0] = static_cast<char>(codePoint);
        return 1;
    }
    int length = codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
    const unsigned char leads[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (int i = length - 1; i > 0; --i) {
        bytes[i] = static_cast<char>(0x80 | (codePoint & 0x3F));
        codePoint >>= 6;
    }
    bytes[0] = static_cast<char>(leads[length] | codePoint);
    return length;
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
}

// A tag whose name cannot make it special: it stands as a blank.
void StartOrdinaryTag(VisibleTextReader* reader)
{
    StartTag(reader, false);
    reader->nameEnded = true;
}

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
        WriteText(pass, "<", 1);
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

bool OpensRawContents(unsigned char kind, bool closing)
{
    return !closing && (kind == ScriptName || kind == StyleName || kind == HeadName);
}

void EndTag(VisibleTextReader* reader)
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

// A tag ends at the first ">" outside a quoted value; a quote opens a value
// only right after "=" and blanks. Reads one byte outside a value: true at
// the tag's end.
bool TagEndsAt(unsigned char byte, unsigned char* quote, bool* afterEquals)
{
    if (byte == '>') return true;
    if (byte == '=') {
        *afterEquals = true;
    } else if (*afterEquals && (byte == '"' || byte == '\'')) {
        *quote = byte;
        *afterEquals = false;
    } else if (!IsBlank(byte)) {
        *afterEquals = false;
    }
    return false;
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
    const unsigned char* at = pass->at;
    const unsigned char* end = pass->end;
    if (!reader->nameEnded) at = TakeName(reader, at, end);
    unsigned char quote = reader->quote;
    bool afterEquals = reader->afterEquals;
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
        if (TagEndsAt(*at++, &quote, &afterEquals)) {
            EndTag(reader);
            break;
        }
    }
    reader->quote = quote;
    reader->afterEquals = afterEquals;
    pass->at = at;
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
            StartOrdinaryTag(reader);  // from its "<" to its ">", a blank
            return;
        }
        if (notesBody) NoteBody(pass, byte);
    }
}

void ReadInState(Pass* pass)
{
    switch (pass->reader->state) {
    case InText: ReadText(pass); break;
    case AfterLess: ReadAfterLess(pass); break;
    case AfterBang: ReadAfterBang(pass, AfterBangDash); break;
    case AfterBangDash: ReadAfterBang(pass, InComment); break;
    case InTag: ReadTag(pass); break;
    case InComment: ReadComment(pass); break;
    case InRawText: ReadRawText(pass); break;
    default: ReadReference(pass); break;
    }
}

// ---- Text and tags through the masks of a window

#ifdef CORV_VECTOR_X86

// A piece is read in windows of up to this many bytes, in blocks of 64.
constexpr size_t WindowBytes = 4096;
constexpr size_t BlockBytes = 64;
constexpr int BlockShift = 6;
// The blocks of a window, and one past them (a name's bits may be taken from it).
constexpr size_t WindowBlocks = WindowBytes / BlockBytes + 1;

// A block's bytes of each kind, a bit a byte, its first byte lowest.
struct BlockMasks {
    uint64_t tagStart;  // "<" before a letter, "/", "!" or "?"
    uint64_t greater;
    uint64_t doubleQuote;
    uint64_t singleQuote;
    uint64_t equals;
    uint64_t blank;
    uint64_t respace;    // blanks but the space: written as a space
    uint64_t nameEnd;    // blanks, "/" and ">"
    uint64_t ampersand;  // when decoding
};

struct WindowMasks {
    const unsigned char* bytes;
    size_t length;
    bool misread;  // from some point on the masks cannot tell the tags
    BlockMasks blocks[WindowBlocks];
    // Each "<" in the window's last bytes, whose tag may not end in it, as a
    // mask of two blocks from lastBlock on.
    size_t lastBlock;
    uint64_t lastLess[2];
    // The window's bytes from a block on which fewer than two blocks of the
    // window follow, then zeros (plain text): what is read past the end of
    // a block is read there.
    size_t tailBlock;
    unsigned char tail[4 * BlockBytes];
};

// Where 128 bytes of a block and what follows it can be read.
const unsigned char* BlockBytesAt(const WindowMasks& masks, size_t block)
{
    if (block < masks.tailBlock) return masks.bytes + (block << BlockShift);
    return masks.tail + ((block - masks.tailBlock) << BlockShift);
}

uint64_t LowestBit(uint64_t bits) { return bits & (~bits + 1); }

uint64_t BitsBelow(size_t at) { return at >= BlockBytes ? ~uint64_t{0} : (uint64_t{1} << at) - 1; }

// Writes the kept bytes of a block in order, those in `spaces` as spaces.
// Runs of them are copied in chunks of 32 bytes, for which bytes has 128
// bytes and the target room (see ReadVisibleText).
char* CopyRuns(const unsigned char* bytes, uint64_t kept, uint64_t spaces, char* out)
{
    constexpr int Chunk = 32;
    for (; kept; kept &= kept + LowestBit(kept)) {
        const int start = __builtin_ctzll(kept);
        const uint64_t after = ~(kept >> start);
        const int length = after ? __builtin_ctzll(after) : static_cast<int>(BlockBytes);
        memcpy(out, bytes + start, Chunk);
        if (length > Chunk) memcpy(out + Chunk, bytes + start + Chunk, Chunk);
        for (uint64_t space = (spaces >> start) & BitsBelow(static_cast<size_t>(length)); space; space &= space - 1)
            out[__builtin_ctzll(space)] = ' ';
        out += length;
    }
    return out;
}

// Each bit the parity of the bits up to it.
uint64_t ShiftedParity(uint64_t bits)
{
    for (int shift = 1; shift < static_cast<int>(BlockBytes); shift *= 2) bits ^= bits << shift;
    return bits;
}

// The processors' ways of making a window's masks, of taking the parity of
// bits and of writing the kept bytes of a block: the reading of a window is
// compiled for each.

uint64_t MaskOf(__m128i matches) { return static_cast<uint32_t>(_mm_movemask_epi8(matches)); }
__m128i Equal(__m128i bytes, char byte) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(byte)); }

// Whether each byte lies in [low, low + count): moved to the bottom of the
// signed bytes, the range is what is below -128 + count.
__m128i InRange(__m128i bytes, char low, char count)
{
    const __m128i moved = _mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(-128 - low)));
    return _mm_cmplt_epi8(moved, _mm_set1_epi8(static_cast<char>(-128 + count)));
}

// Adds the masks of 16 bytes at `shift`, the byte after each in `next`.
void ClassifySixteen(__m128i bytes, __m128i next, __m128i decode, int shift, BlockMasks* masks)
{
    const __m128i markup = _mm_or_si128(_mm_or_si128(Equal(next, '/'), Equal(next, '!')), Equal(next, '?'));
    const __m128i nameFirst = _mm_or_si128(InRange(_mm_or_si128(next, _mm_set1_epi8(0x20)), 'a', 26), markup);
    // tab, line feed, form feed and carriage return: 9 to 13 but 11
    const __m128i respace = _mm_andnot_si128(Equal(bytes, '\v'), InRange(bytes, 9, 5));
    const __m128i blank = _mm_or_si128(Equal(bytes, ' '), respace);
    const __m128i greater = Equal(bytes, '>');
    masks->tagStart |= MaskOf(_mm_and_si128(Equal(bytes, '<'), nameFirst)) << shift;
    masks->greater |= MaskOf(greater) << shift;
    masks->doubleQuote |= MaskOf(Equal(bytes, '"')) << shift;
    masks->singleQuote |= MaskOf(Equal(bytes, '\'')) << shift;
    masks->equals |= MaskOf(Equal(bytes, '=')) << shift;
    masks->blank |= MaskOf(blank) << shift;
    masks->respace |= MaskOf(respace) << shift;
    masks->nameEnd |= MaskOf(_mm_or_si128(_mm_or_si128(greater, blank), Equal(bytes, '/'))) << shift;
    masks->ampersand |= MaskOf(_mm_and_si128(Equal(bytes, '&'), decode)) << shift;
}

struct Sse2 {
    static void Classify(WindowMasks* masks, size_t count, bool decode)
    {
        const __m128i decoding = _mm_set1_epi8(decode ? -1 : 0);
        for (size_t block = 0; block < count; ++block) {
            const unsigned char* bytes = BlockBytesAt(*masks, block);
            BlockMasks bits{};
            for (int part = 0; part < static_cast<int>(BlockBytes); part += 16) {
                const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + part));
                const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + part + 1));
                ClassifySixteen(sixteen, next, decoding, part, &bits);
            }
            masks->blocks[block] = bits;
        }
    }

    static uint64_t PrefixParity(uint64_t bits) { return ShiftedParity(bits); }

    static char* WriteKept(const unsigned char* bytes, uint64_t kept, uint64_t spaces, char* out)
    {
        return CopyRuns(bytes, kept, spaces, out);
    }
};

// The kinds of byte that a shuffle tells, a bit each, by looking a byte's
// low half up in one table and its high half in another: only the bytes of
// a kind have its bit in both.
enum : unsigned char {
    LessKind = 1,
    GreaterKind = 2,
    QuoteKind = 4,
    ApostropheKind = 8,
    EqualsKind = 16,
    SlashKind = 32,
    RespaceKind = 64,
    SpaceKind = 128
};

struct ByteKind {
    unsigned char byte, kind;
};

constexpr ByteKind ShuffledKinds[] = {{'<', LessKind},     {'>', GreaterKind},   {'"', QuoteKind},
                                      {'\'', ApostropheKind}, {'=', EqualsKind}, {'/', SlashKind},
                                      {' ', SpaceKind},    {'\t', RespaceKind},  {'\n', RespaceKind},
                                      {'\f', RespaceKind}, {'\r', RespaceKind}};

// The two tables, each twice over (for both halves of a 32-byte shuffle).
struct KindTables {
    unsigned char low[32], high[32];
    bool exact;  // no byte has a kind it should not
};

constexpr KindTables MakeKindTables()
{
    KindTables tables{};
    for (const ByteKind& entry : ShuffledKinds) {
        tables.low[entry.byte & 15] |= entry.kind;
        tables.low[16 + (entry.byte & 15)] |= entry.kind;
        tables.high[entry.byte >> 4] |= entry.kind;
        tables.high[16 + (entry.byte >> 4)] |= entry.kind;
    }
    tables.exact = true;
    for (int byte = 0; byte < 256; ++byte) {
        unsigned char expected = 0;
        for (const ByteKind& entry : ShuffledKinds)
            if (entry.byte == byte) expected = entry.kind;
        const unsigned char found = byte < 128 ? tables.low[byte & 15] & tables.high[byte >> 4] : 0;
        if (found != expected) tables.exact = false;
    }
    return tables;
}

constexpr KindTables ByteKinds = MakeKindTables();
static_assert(ByteKinds.exact, "the kinds of byte overlap in the shuffle tables");

// For each byte of bits, the places of its set bits, in order, a byte each.
struct BitPlaces {
    uint64_t of[256];
};

constexpr BitPlaces MakeBitPlaces()
{
    BitPlaces places{};
    for (int bits = 0; bits < 256; ++bits) {
        int count = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (bits >> bit & 1) places.of[bits] |= static_cast<uint64_t>(bit) << (8 * count++);
    }
    return places;
}

constexpr BitPlaces KeptPlaces = MakeBitPlaces();

struct Avx2 {
    __attribute__((target("avx2"))) static __m256i KindsOf(__m256i bytes)
    {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ByteKinds.low));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ByteKinds.high));
        return corv_vector::ClassifyNibbles(bytes, low, high);
    }

    // The bytes of a kind: its bit is moved to the top of each byte.
    template <int Kind>
    __attribute__((target("avx2"))) static uint64_t BytesOf(__m256i kinds)
    {
        return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(kinds, 7 - __builtin_ctz(Kind))));
    }

    __attribute__((target("avx2"))) static uint64_t MaskOf(__m256i matches)
    {
        return static_cast<uint32_t>(_mm256_movemask_epi8(matches));
    }

    __attribute__((target("avx2"))) static __m256i Equal(__m256i bytes, char byte)
    {
        return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(byte));
    }

    // As the SSE2 InRange.
    __attribute__((target("avx2"))) static __m256i InRange(__m256i bytes, char low, char count)
    {
        const __m256i moved = _mm256_add_epi8(bytes, _mm256_set1_epi8(static_cast<char>(-128 - low)));
        return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(-128 + count)), moved);
    }

    // As ClassifySixteen, for 32 bytes.
    __attribute__((target("avx2"))) static void ClassifyThirtyTwo(__m256i bytes, __m256i next, __m256i decode,
                                                                  int shift, BlockMasks* masks)
    {
        const __m256i kinds = KindsOf(bytes);
        const __m256i markup = _mm256_or_si256(_mm256_or_si256(Equal(next, '/'), Equal(next, '!')), Equal(next, '?'));
        const __m256i letter = InRange(_mm256_or_si256(next, _mm256_set1_epi8(0x20)), 'a', 26);
        const uint64_t nameFirst = MaskOf(_mm256_or_si256(letter, markup));
        const uint64_t greater = BytesOf<GreaterKind>(kinds), respace = BytesOf<RespaceKind>(kinds);
        const uint64_t blank = BytesOf<SpaceKind>(kinds) | respace;
        masks->tagStart |= (BytesOf<LessKind>(kinds) & nameFirst) << shift;
        masks->greater |= greater << shift;
        masks->doubleQuote |= BytesOf<QuoteKind>(kinds) << shift;
        masks->singleQuote |= BytesOf<ApostropheKind>(kinds) << shift;
        masks->equals |= BytesOf<EqualsKind>(kinds) << shift;
        masks->blank |= blank << shift;
        masks->respace |= respace << shift;
        masks->nameEnd |= (blank | greater | BytesOf<SlashKind>(kinds)) << shift;
        masks->ampersand |= MaskOf(_mm256_and_si256(Equal(bytes, '&'), decode)) << shift;
    }

    __attribute__((target("avx2"))) static void Classify(WindowMasks* masks, size_t count, bool decode)
    {
        const __m256i decoding = _mm256_set1_epi8(decode ? -1 : 0);
        for (size_t block = 0; block < count; ++block) {
            const unsigned char* bytes = BlockBytesAt(*masks, block);
            BlockMasks bits{};
            for (int part = 0; part < static_cast<int>(BlockBytes); part += 32) {
                const __m256i thirtyTwo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + part));
                const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + part + 1));
                ClassifyThirtyTwo(thirtyTwo, next, decoding, part, &bits);
            }
            masks->blocks[block] = bits;
        }
    }

    // A carry-less product with all ones.
    __attribute__((target("pclmul"))) static uint64_t PrefixParity(uint64_t bits)
    {
        const __m128i product =
            _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_set1_epi8(-1), 0);
        return static_cast<uint64_t>(_mm_cvtsi128_si64(product));
    }

    // Eight bytes at a time, shuffled so that those kept come first; each
    // store of eight bytes is within the target's room (see ReadVisibleText).
    __attribute__((target("avx2,popcnt"))) static char* WriteKept(const unsigned char* bytes, uint64_t kept,
                                                                   uint64_t spaces, char* out)
    {
        char* const start = out;
        const __m128i secondEight = _mm_unpacklo_epi64(_mm_setzero_si128(), _mm_set1_epi8(8));
        for (int part = 0; part < static_cast<int>(BlockBytes); part += 16) {
            const unsigned first = (kept >> part) & 0xFF, second = (kept >> (part + 8)) & 0xFF;
            const __m128i places = _mm_set_epi64x(static_cast<long long>(KeptPlaces.of[second]),
                                                  static_cast<long long>(KeptPlaces.of[first]));
            const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + part));
            const __m128i moved = _mm_shuffle_epi8(sixteen, _mm_add_epi8(places, secondEight));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), moved);
            out += _mm_popcnt_u32(first);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(moved, moved));
            out += _mm_popcnt_u32(second);
        }
        for (; spaces; spaces &= spaces - 1) start[_mm_popcnt_u64(kept & (LowestBit(spaces) - 1))] = ' ';
        return out;
    }
};

// The code below is inlined into one function for each processor, compiled
// for it: always_inline makes sure of that.

template <typename Simd>
__attribute__((always_inline)) inline void ClassifyWindow(WindowMasks* masks, const unsigned char* bytes,
                                                          size_t length, bool decode)
{
    masks->bytes = bytes;
    masks->length = length;
    masks->misread = false;
    masks->tailBlock = length >= 2 * BlockBytes ? (length - 2 * BlockBytes) / BlockBytes + 1 : 0;
    const size_t tailStart = masks->tailBlock << BlockShift;
    memset(masks->tail, 0, sizeof masks->tail);
    memcpy(masks->tail, bytes + tailStart, length - tailStart);
    const size_t count = (length + BlockBytes - 1) >> BlockShift;
    Simd::Classify(masks, count, decode);
    masks->blocks[count] = BlockMasks{};
    // A tag's name is read in eight bytes after its "<" or "</".
    const size_t lastBytes = length - (length < 2 + NameBytes ? length : 2 + NameBytes);
    masks->lastBlock = lastBytes >> BlockShift;
    masks->lastLess[0] = masks->lastLess[1] = 0;
    for (size_t at = lastBytes; at < length; ++at) {
        if (bytes[at] != '<') continue;
        masks->lastLess[(at >> BlockShift) - masks->lastBlock] |= uint64_t{1} << (at & (BlockBytes - 1));
    }
}

// The 64 nameEnd bits from `at` on, the first lowest.
__attribute__((always_inline)) inline uint64_t NameEndsFrom(const WindowMasks& masks, size_t at)
{
    const int shift = at & (BlockBytes - 1);
    const uint64_t next = masks.blocks[(at >> BlockShift) + 1].nameEnd;
    return masks.blocks[at >> BlockShift].nameEnd >> shift | (next << 1) << (BlockBytes - 1 - shift);
}

// The first bytes of a word, none to all eight.
constexpr uint64_t LeadingBytes[] = {0,
                                     0xFF,
                                     0xFFFF,
                                     0xFFFFFF,
                                     0xFFFFFFFF,
                                     0xFFFFFFFFFF,
                                     0xFFFFFFFFFFFF,
                                     0xFFFFFFFFFFFFFF,
                                     ~uint64_t{0}};

// The kind of the tag name at `start`, which the window has eight bytes
// from. The name runs to a blank, "/" or ">", so it may take in "=" or a
// quote that the byte-by-byte reading ends it at: either way, such a name is
// no known name, as known names are of letters only (see NameKey).
__attribute__((always_inline)) inline unsigned char KindOfNameAt(const WindowMasks& masks, size_t start)
{
    constexpr uint64_t KeyBits = 0x2020202020202020;  // NameKeyByte on every byte
    const int length = __builtin_ctzll(NameEndsFrom(masks, start) | 0x100);
    uint64_t name;
    memcpy(&name, masks.bytes + start, sizeof name);
    return KindOfName((name | KeyBits) & LeadingBytes[length]);
}

// Adds with the carry in, returning the carry out.
__attribute__((always_inline)) inline uint64_t AddCarrying(uint64_t a, uint64_t b, uint64_t carry, uint64_t* sum)
{
    uint64_t partial;
    const bool first = __builtin_add_overflow(a, b, &partial);
    const bool second = __builtin_add_overflow(partial, carry, sum);
    return first | second;
}

// What one block passes to the next.
struct Carries {
    uint64_t inTag;      // a tag goes on into the block
    uint64_t inValue;    // and a quoted value in it
    uint64_t equals;     // the last byte was "="
    uint64_t text;       // the last byte was text
    uint64_t afterText;  // what is neither text nor a blank goes on after text
    size_t tagStart;     // the "<" of the last tag
};

// The block's bytes in tags: a tag runs from its "<" to the next ">". That
// is its end unless a quoted value holds the ">" or another tag starts
// inside it: `wrong` has the bytes where the masks cannot tell that neither
// happens, as a value opens at a double quote right after "=", closes at the
// next and holds no ">", and no single quote is in a tag. (What they cannot
// tell, the byte-by-byte reading reads.)
template <typename Simd>
__attribute__((always_inline)) inline uint64_t TagsOfBlock(const BlockMasks& block, uint64_t starts,
                                                           Carries* carries, uint64_t* wrong)
{
    const uint64_t others = ~block.greater;
    uint64_t sum;
    carries->inTag = AddCarrying(others, starts, carries->inTag, &sum);
    const uint64_t inTags = sum ^ others;
    const uint64_t quotes = block.doubleQuote & inTags;
    const uint64_t inValue = Simd::PrefixParity(quotes) ^ (0 - carries->inValue);
    carries->inValue = inValue >> (BlockBytes - 1);
    const uint64_t afterEquals = block.equals << 1 | carries->equals;
    carries->equals = block.equals >> (BlockBytes - 1);
    *wrong = (starts & ~inTags) | (block.singleQuote & inTags) | (quotes & inValue & ~afterEquals) |
             (block.greater & inTags & inValue);
    return inTags;
}

// The names of the tags that start at `starts` in the block at `first`:
// returns those that stand as a blank, and adds to *stops those that the
// byte-by-byte reading takes: "<!" and "<?" tags, and those opening raw
// contents.
__attribute__((always_inline)) inline uint64_t BlankTags(const WindowMasks& masks, size_t first, uint64_t starts,
                                                         uint64_t* stops)
{
    uint64_t blankTags = 0, taken = 0;
    for (; starts; starts &= starts - 1) {
        const size_t at = first + static_cast<size_t>(__builtin_ctzll(starts));
        const unsigned char next = masks.bytes[at + 1];
        const bool closing = next == '/';
        const unsigned char kind = KindOfNameAt(masks, at + 1 + closing);
        const uint64_t bit = LowestBit(starts);
        blankTags |= kind != InlineName ? bit : 0;
        taken |= (next == '!' || next == '?' || OpensRawContents(kind, closing)) ? bit : 0;
    }
    *stops |= taken;
    return blankTags;
}

// The text and blanks of a window, and the reader's blank state, as they are written.
struct TextOut {
    char* out;
    bool blankPending;
    bool wroteText;
};

// Writes the text of the block's bytes in `range`: each is text, a blank or in
// a tag, and a tag that stands as a blank counts as one at its "<". As the
// byte-by-byte reading does, a blank is written for the first blank after
// text once text follows it, in order, skipping the bytes in tags. afterText
// has the bytes after text that were in earlier blocks.
template <typename Simd>
__attribute__((always_inline)) inline void WriteBlockText(const unsigned char* bytes, const BlockMasks& block,
                                                          uint64_t range, uint64_t inTags, uint64_t blankTags,
                                                          uint64_t afterText, Carries* carries, TextOut* text)
{
    const uint64_t visible = ~inTags & range;
    const uint64_t letters = visible & ~block.blank;
    const uint64_t blanks = (visible & block.blank) | (blankTags & range);
    const uint64_t others = ~(letters | blanks);
    afterText |= letters << 1 | carries->text;
    carries->text = letters >> (BlockBytes - 1);
    // The first text or blank after text: a carry runs through the others.
    uint64_t sum;
    carries->afterText = AddCarrying(others, afterText & others, carries->afterText, &sum);
    const uint64_t firstBlanks = blanks & (afterText | (sum ^ others));
    const uint64_t upToLastLetter = letters ? ~uint64_t{0} >> __builtin_clzll(letters) : 0;
    if (letters) {
        *text->out = ' ';
        text->out += text->blankPending;
        text->blankPending = false;
        text->wroteText = true;
    }
    text->blankPending |= (firstBlanks & ~upToLastLetter) != 0;
    const uint64_t keptBlanks = firstBlanks & upToLastLetter;
    text->out = Simd::WriteKept(bytes, letters | keptBlanks, keptBlanks & (block.respace | blankTags), text->out);
}

// Sets the reader's state for the byte-by-byte reading to go on at a stop
// ("<" or "&"), returning where it goes on.
size_t StopAt(const WindowMasks& masks, size_t stop, VisibleTextReader* reader)
{
    if (masks.bytes[stop] == '<') {
        reader->state = AfterLess;
    } else {
        reader->state = InReference;
        reader->reference[0] = '&';
        reader->referenceLength = 1;
    }
    return stop + 1;
}

// Reads text and tags from pass->at through the window's masks, to the
// window's end or to what the byte-by-byte reading goes on with: a "<!" or
// "<?" tag, a reference when decoding, a tag opening raw contents, a tag the
// window may cut, or what the masks cannot tell.
template <typename Simd>
__attribute__((always_inline)) inline void ReadThroughMasks(Pass* pass, WindowMasks* masks)
{
    VisibleTextReader* reader = pass->reader;
    const size_t from = static_cast<size_t>(pass->at - masks->bytes);
    Carries carries{0, 0, 0, 0, 0, from};
    TextOut text{pass->out, reader->blankPending, reader->wroteText};
    size_t end = masks->length;
    bool stopped = false;
    uint64_t afterText = static_cast<uint64_t>(text.wroteText && !text.blankPending) << (from & (BlockBytes - 1));
    for (size_t block = from >> BlockShift; block << BlockShift < masks->length; ++block) {
        const BlockMasks& bits = masks->blocks[block];
        const size_t first = block << BlockShift;
        const uint64_t range =
            (first < from ? ~uint64_t{0} << (from - first) : ~uint64_t{0}) & BitsBelow(masks->length - first);
        const uint64_t starts = bits.tagStart & range;
        const uint64_t inTagBefore = carries.inTag;
        uint64_t wrong;
        const uint64_t inTags = TagsOfBlock<Simd>(bits, starts, &carries, &wrong);
        // A "<" inside a tag is no stop: the tag is read whole or not at all.
        const uint64_t lastLess = block < masks->lastBlock ? 0 : masks->lastLess[block - masks->lastBlock];
        uint64_t stops = ((bits.ampersand & ~inTags) | (lastLess & ~(inTags & ~starts))) & range;
        // The masks must tell the tags up to the first stop, that included;
        // a tag that the byte-by-byte reading takes is a stop too.
        const bool misread = wrong & (LowestBit(stops) * 2 - 1);
        const uint64_t named = starts & (LowestBit(stops) - 1);
        const uint64_t blankTags = misread ? 0 : BlankTags(*masks, first, named, &stops);
        if (misread || (wrong & (LowestBit(stops) * 2 - 1))) {
            end = inTagBefore ? carries.tagStart : first > from ? first : from;
            masks->misread = true;
            break;
        }
        if (named) carries.tagStart = first + static_cast<size_t>(BlockBytes - 1 - __builtin_clzll(named));
        WriteBlockText<Simd>(BlockBytesAt(*masks, block), bits, range & (LowestBit(stops) - 1), inTags, blankTags,
                             afterText, &carries, &text);
        afterText = 0;
        if (stops) {
            end = first + static_cast<size_t>(__builtin_ctzll(stops));
            stopped = true;
            break;
        }
    }
    if (!stopped && !masks->misread && carries.inTag) {
        end = carries.tagStart;  // a tag the window cuts
        masks->misread = true;
    }
    pass->at = masks->bytes + (stopped ? StopAt(*masks, end, reader) : end);
    pass->out = text.out;
    reader->blankPending = text.blankPending;
    reader->wroteText = text.wroteText;
}

// Reads pass->at to pass->end, a window: text through its masks, made when
// text is first read in it, until they cannot tell its tags.
template <typename Simd>
__attribute__((always_inline)) inline void ReadWindowWith(Pass* pass, WindowMasks* masks)
{
    VisibleTextReader* reader = pass->reader;
    bool classified = false;
    while (pass->at < pass->end) {
        if (reader->state != InText || (classified && masks->misread)) {
            ReadInState(pass);
            continue;
        }
        if (!classified) {
            ClassifyWindow<Simd>(masks, pass->at, static_cast<size_t>(pass->end - pass->at),
                                 reader->mode == VisibleTextDecodeReferences);
            classified = true;
        }
        ReadThroughMasks<Simd>(pass, masks);
    }
}

void ReadWindowSse2(Pass* pass, WindowMasks* masks) { ReadWindowWith<Sse2>(pass, masks); }

__attribute__((target("avx2,bmi,bmi2,popcnt,pclmul"))) void ReadWindowAvx2(Pass* pass, WindowMasks* masks)
{
    ReadWindowWith<Avx2>(pass, masks);
}

#endif

// The state machine reads the whole piece; its scans of text and tags use the
// compiler's portable vectors. The portable level, and every processor
// without the vector engines.
void ReadPieceInStates(Pass* pass)
{
    while (pass->at < pass->end) ReadInState(pass);
}

// Reads a piece a window at a time through the masks of the reader's level.
void ReadPiece(Pass* pass)
{
#ifdef CORV_VECTOR_X86
    const int32_t level = pass->reader->level;
    if (level == VectorSse2 || level == VectorAvx2) {
        WindowMasks masks;
        const unsigned char* const end = pass->end;
        while (pass->at < end) {
            pass->end = end - pass->at > static_cast<ptrdiff_t>(WindowBytes) ? pass->at + WindowBytes : end;
            if (level == VectorAvx2) ReadWindowAvx2(pass, &masks);
            else ReadWindowSse2(pass, &masks);
        }
        return;
    }
#endif
    ReadPieceInStates(pass);
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

bool ContinuesReference(const char* reference, int length, unsigned char byte)
{
    const bool alphanumeric = IsAsciiLetter(byte) || IsAsciiDigit(byte);
    if (length == 1) return byte == '#' || alphanumeric;
    if (reference[1] != '#') return alphanumeric;
    if (length == 2) return IsAsciiDigit(byte) || byte == 'x' || byte == 'X';
    if (reference[2] == 'x' || reference[2] == 'X') return IsAsciiHexDigit(byte);
    return IsAsciiDigit(byte);
}

int DecodeReference(const char* reference, int length, char* bytes)
{
    const bool named = length < 2 || reference[1] != '#';
    const int32_t codePoint =
        named ? CodePointOfName(reference + 1, length - 1) : CodePointOfNumber(reference, length);
    if (codePoint < 0) return ReferenceIsText;
    if (named ? codePoint == NoBreakSpace : IsBlank(codePoint)) return ReferenceIsBlank;
    return EncodeUtf8(codePoint, bytes);
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
    ReadPiece(&pass);
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
    if (reader->state == AfterLess) WriteText(&pass, "<", 1);
    if (reader->state == InReference) WriteText(&pass, reader->reference, static_cast<size_t>(reader->referenceLength));
    reader->state = InText;
    reader->blankPending = false;
    return static_cast<int>(pass.out - target);
}
