// filesrch: the visible-text reader. Takes a document's bytes in pieces of any
// size and writes the text a visitor sees: tags, comments, scripts, styles and
// the head left out, blanks folded, character references kept or decoded.
// Whatever cannot be decided at the end of a piece is held in the reader, so
// every split of a document gives the same text.
#include <cstring>

#include "corv-core.h"
#include "filesrch.h"

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
const int RawEndLengths[] = {8, 7, 6, 5};
const char* const BodyStart = "<body";
constexpr int BodyStartLength = 5;

// Tags that join the text on either side instead of standing as a blank.
const char* const InlineNames[] = {"a", "abbr", "b", "bdi", "bdo", "cite", "code", "data", "dfn", "em", "font", "i",
                                   "kbd", "mark", "q", "s", "samp", "small", "span", "strong", "sub", "sup", "time",
                                   "u", "var", "wbr"};

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

constexpr ByteClasses keepClasses = MakeByteClasses(false);
constexpr ByteClasses decodeClasses = MakeByteClasses(true);

bool IsBlank(int32_t byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f'; }
bool IsDigit(unsigned char byte) { return byte >= '0' && byte <= '9'; }
bool IsLetter(unsigned char byte) { return (byte | 0x20) >= 'a' && (byte | 0x20) <= 'z'; }
bool IsHexDigit(unsigned char byte) { return IsDigit(byte) || ((byte | 0x20) >= 'a' && (byte | 0x20) <= 'f'); }

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

void WriteText(Pass* pass, const void* bytes, size_t length)
{
    VisibleTextReader* reader = pass->reader;
    if (reader->blankPending) {
        *pass->out++ = ' ';
        reader->blankPending = false;
    }
    memcpy(pass->out, bytes, length);
    pass->out += length;
    reader->wroteText = true;
}

// A blank is written only once more text follows, and never first.
void MarkBlank(VisibleTextReader* reader)
{
    if (reader->wroteText) reader->blankPending = true;
}

// ---- Text and character references

void ReadText(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
    const unsigned char* classes =
        reader->mode == VisibleTextDecodeReferences ? decodeClasses.of : keepClasses.of;
    const unsigned char* at = pass->at;
    const unsigned char* end = pass->end;
    while (at < end) {
        const unsigned char* run = at;
        while (at < end && classes[*at] == Plain) ++at;
        if (at > run) WriteText(pass, run, static_cast<size_t>(at - run));
        if (at == end) break;
        const unsigned char kind = classes[*at++];
        if (kind == Blank) {
            MarkBlank(reader);
        } else if (kind == Less) {
            reader->state = AfterLess;
            break;
        } else {
            reader->state = InReference;
            reader->reference[0] = '&';
            reader->referenceLength = 1;
            break;
        }
    }
    pass->at = at;
}

bool ContinuesReference(const VisibleTextReader* reader, unsigned char byte)
{
    const char* reference = reader->reference;
    const int length = reader->referenceLength;
    const bool alphanumeric = IsLetter(byte) || IsDigit(byte);
    if (length == 1) return byte == '#' || alphanumeric;
    if (reference[1] != '#') return alphanumeric;
    if (length == 2) return IsDigit(byte) || byte == 'x' || byte == 'X';
    if (reference[2] == 'x' || reference[2] == 'X') return IsHexDigit(byte);
    return IsDigit(byte);
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
        const int32_t digitValue = IsDigit(digit) ? digit - '0' : (digit | 0x20) - 'a' + 10;
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
    const char* reference = reader->reference;
    const int length = reader->referenceLength;
    const bool named = reference[1] != '#';
    const int32_t codePoint =
        named ? CodePointOfName(reference + 1, length - 1) : CodePointOfNumber(reference, length);
    if (codePoint < 0) {
        reader->reference[reader->referenceLength++] = ';';
        WriteText(pass, reader->reference, static_cast<size_t>(reader->referenceLength));
    } else if (named ? codePoint == NoBreakSpace : IsBlank(codePoint)) {
        MarkBlank(reader);
    } else {
        char bytes[4];
        WriteText(pass, bytes, static_cast<size_t>(EncodeUtf8(codePoint, bytes)));
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
        if (!ContinuesReference(reader, byte) || reader->referenceLength == VisibleTextReferenceLimit - 1) {
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
    if (IsLetter(byte)) {
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

bool NameIs(const VisibleTextReader* reader, const char* name)
{
    return static_cast<size_t>(reader->nameLength) == strlen(name) &&
           memcmp(reader->name, name, static_cast<size_t>(reader->nameLength)) == 0;
}

bool NameIsInline(const VisibleTextReader* reader)
{
    for (const char* name : InlineNames)
        if (NameIs(reader, name)) return true;
    return false;
}

void EndTag(VisibleTextReader* reader)
{
    reader->state = InText;
    if (NameIsInline(reader)) return;
    MarkBlank(reader);
    if (reader->closing) return;
    if (NameIs(reader, "script")) StartRawText(reader, EndScript);
    else if (NameIs(reader, "style")) StartRawText(reader, EndStyle);
    else if (NameIs(reader, "head")) StartRawText(reader, reader->headUnclosed ? EndHeadAtBody : EndHead);
}

void TakeNameByte(VisibleTextReader* reader, unsigned char byte)
{
    if (IsBlank(byte) || byte == '/' || byte == '>') {
        reader->nameEnded = true;
    } else if (reader->nameLength < VisibleTextNameCapacity) {
        // A longer name is cut, which leaves it longer than any name looked for.
        reader->name[reader->nameLength++] = static_cast<char>(LowerAscii(byte));
    }
}

// A tag ends at the first ">" outside a quoted value; a quote opens a value
// only right after "=" and blanks.
void ReadTag(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
    while (pass->at < pass->end) {
        if (reader->quote) {
            const void* close = memchr(pass->at, reader->quote, static_cast<size_t>(pass->end - pass->at));
            if (!close) {
                pass->at = pass->end;
                return;
            }
            pass->at = static_cast<const unsigned char*>(close) + 1;
            reader->quote = 0;
            continue;
        }
        const unsigned char byte = *pass->at++;
        if (!reader->nameEnded) TakeNameByte(reader, byte);
        if (byte == '>') {
            EndTag(reader);
            return;
        }
        if (byte == '=') {
            reader->afterEquals = true;
        } else if (reader->afterEquals && (byte == '"' || byte == '\'')) {
            reader->quote = byte;
            reader->afterEquals = false;
        } else if (!IsBlank(byte)) {
            reader->afterEquals = false;
        }
    }
}

// Runs to the first "-->" after the "<!--"; it joins the text on either side.
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
        const unsigned char byte = *pass->at++;
        if (byte == '-') {
            if (reader->endMatched < 2) ++reader->endMatched;
        } else if (byte == '>' && reader->endMatched == 2) {
            reader->state = InText;
            return;
        } else {
            reader->endMatched = 0;
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
    const int rawEndLength = RawEndLengths[reader->rawEnd];
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

}  // namespace

void StartVisibleText(VisibleTextReader* reader, VisibleTextMode mode)
{
    CORV_CHECK_POINTER(TextModule, reader);
    memset(reader, 0, sizeof *reader);
    reader->mode = mode;
    reader->state = InText;
    reader->restartAt = -1;
    reader->bodyOffset = -1;
}

int ReadVisibleText(VisibleTextReader* reader, const char* source, int count, char* target)
{
    CORV_CHECK_POINTER(TextModule, reader);
    CORV_CHECK_POINTER(TextModule, source);
    CORV_CHECK_POINTER(TextModule, target);
    const unsigned char* start = reinterpret_cast<const unsigned char*>(source);
    Pass pass{reader, start, start, start + count, target};
    while (pass.at < pass.end) ReadInState(&pass);
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
