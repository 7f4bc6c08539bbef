// The visible-text reader's own pieces that its state machine and its vector
// engine share. Included by the reader's files only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "visible-text.h"

namespace visible_text_internal {

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
inline const char* const RawEnds[] = {"</script", "</style", "</head", "<body"};
inline constexpr char BodyStart[] = "<body";
inline constexpr int BodyStartLength = sizeof BodyStart - 1;

// A tag name as a number: its first bytes (up to NameBytes, the first
// lowest), each with 0x20 added, so names compare at once and without regard
// to case. Known names are of letters only, and 0x20 makes a letter of no
// other byte, so no other name takes a known key; it leaves no byte zero, so
// a key has as many bytes as its name. A longer name takes a key of more
// bytes than any known name.
inline constexpr int NameBytes = 7;
inline constexpr uint64_t LongNameKey = ~uint64_t{0};

constexpr unsigned char NameKeyByte(unsigned char byte) { return byte | 0x20; }

constexpr uint64_t NameKey(const char* name)
{
    uint64_t key = 0;
    for (int at = 0; name[at]; ++at) key |= uint64_t{NameKeyByte(static_cast<unsigned char>(name[at]))} << (8 * at);
    return key;
}

enum : unsigned char { OtherName, InlineName, ScriptName, StyleName, HeadName, LandmarkName };

struct KnownName {
    const char* name;
    unsigned char kind;
};

// Inline tags join the text on either side instead of standing as a blank.
inline constexpr KnownName KnownNames[] = {
    {"a", InlineName},     {"abbr", InlineName},   {"b", InlineName},    {"bdi", InlineName},  {"bdo", InlineName},
    {"cite", InlineName},  {"code", InlineName},   {"data", InlineName}, {"dfn", InlineName},  {"em", InlineName},
    {"font", InlineName},  {"i", InlineName},      {"kbd", InlineName},  {"mark", InlineName}, {"q", InlineName},
    {"s", InlineName},     {"samp", InlineName},   {"small", InlineName}, {"span", InlineName}, {"strong", InlineName},
    {"sub", InlineName},   {"sup", InlineName},    {"time", InlineName}, {"u", InlineName},    {"var", InlineName},
    {"wbr", InlineName},   {"script", ScriptName}, {"style", StyleName}, {"head", HeadName},
    // Read for main content, these tags are taken by the state machine; else
    // they are as any other name.
    {"nav", LandmarkName}, {"main", LandmarkName}, {"header", LandmarkName}, {"footer", LandmarkName},
    {"article", LandmarkName}, {"aside", LandmarkName}, {"section", LandmarkName}};

// The known names by the top bits of their key times a multiplier (found by
// trying odd numbers): each has a slot of its own, so a lookup is a
// multiplication and a compare.
inline constexpr uint64_t NameMultiplier = 0x31481f6319ae75fd;
inline constexpr int NameSlotBits = 6;

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

inline constexpr NameTable KnownNameSlots = MakeNameTable();
static_assert(KnownNameSlots.slotsOfTheirOwn, "two known tag names share a slot");

inline unsigned char KindOfName(uint64_t key)
{
    const int slot = NameSlot(key);
    return KnownNameSlots.kind[slot] & -static_cast<unsigned char>(KnownNameSlots.key[slot] == key);
}


// An element's name for counting its tags: up to ElementNameBytes bytes,
// ASCII letters in lower case, the first lowest, and the length in the top
// byte; a longer name is LongElementName and a hash of its bytes. A name
// that the reader ends at "=" or a quote is no element's (0).
inline constexpr int ElementNameBytes = 7;
inline constexpr uint64_t LongElementName = uint64_t{0xFF} << 56;

constexpr unsigned char LowerByte(unsigned char byte)
{
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte + 32) : byte;
}

constexpr uint64_t ElementNameOf(const char* name)
{
    uint64_t element = 0;
    int length = 0;
    for (; name[length]; ++length) element |= uint64_t{LowerByte(static_cast<unsigned char>(name[length]))} << (8 * length);
    return element | uint64_t(length) << 56;
}

// The key of the vector engine's reading of a name (NameKey on its first
// bytes, LongNameKey for a longer one), which the same bytes always give.
constexpr uint64_t KeyOfElementName(uint64_t element)
{
    if (element >= LongElementName) return LongNameKey;
    const int length = static_cast<int>(element >> 56);
    uint64_t key = 0;
    for (int at = 0; at < length; ++at) key |= uint64_t{NameKeyByte(static_cast<unsigned char>(element >> (8 * at)))} << (8 * at);
    return key;
}

// Whether a tag of this kind opens contents read as raw bytes to its end tag.
inline bool OpensRawContents(unsigned char kind, bool closing)
{
    return !closing && (kind == ScriptName || kind == StyleName || kind == HeadName);
}

// One call's input and output.
struct Pass {
    VisibleTextReader* reader;
    const unsigned char* source;
    const unsigned char* at;
    const unsigned char* end;
    char* out;
};

// The state machine: reads on from pass->at in the reader's state, at least one byte.
void ReadInState(Pass* pass);

// Pieces of the state machine that main content shares.
void MarkBlank(VisibleTextReader* reader);
void StartOrdinaryTag(VisibleTextReader* reader);

// A tag ends at the first ">" outside a quoted value; a quote opens a value
// only right after "=" and blanks. Reads one byte outside a value: true at
// the tag's end.
inline bool TagEndsAt(unsigned char byte, unsigned char* quote, bool* afterEquals)
{
    if (byte == '>') return true;
    if (byte == '=') {
        *afterEquals = true;
    } else if (*afterEquals && (byte == '"' || byte == '\'')) {
        *quote = byte;
        *afterEquals = false;
    } else if (byte != ' ' && byte != '\t' && byte != '\n' && byte != '\r' && byte != '\f') {
        *afterEquals = false;
    }
    return false;
}
// At a tag's ">": whether it stands as a blank, and the raw contents it opens.
void EndTag(VisibleTextReader* reader);
// Reads a tag's attributes from pass->at without looking at them, to its
// ">" (true, pass->at past it) or the piece's end (false).
bool ReadToTagEnd(Pass* pass);

// ---- Main content (visible-text-main.cpp)

// FNV-1a, for element names longer than ElementNameBytes.
inline constexpr uint64_t HashStart = 0xcbf29ce484222325;
inline constexpr uint64_t HashPrime = 0x100000001b3;

// Whether the text read now is written: read for main content, it is
// neither left out nor, where the page has marks, outside them.
inline bool MainTextShown(const VisibleTextReader* reader)
{
    return reader->hidden.depth == 0 && (reader->marks == NoMarks || reader->shown.depth > 0);
}

inline bool ShowsText(const VisibleTextReader* reader)
{
    return reader->scope == VisibleTextWhole || MainTextShown(reader);
}

// Reads a tag for main content, its name and attributes, to its end, where
// the elements it starts or ends are counted (the state InTag).
void ReadMainTag(Pass* pass);
// Where raw contents end at an end tag (or a head at "<body"): the tag is
// read on as that element's.
void StartRawEndTag(VisibleTextReader* reader, int32_t rawEnd);
// Whether the vector engine must hand a tag of this name key to the state
// machine: a followed element's name may be counted.
inline bool FollowsName(const VisibleTextReader* reader, uint64_t key)
{
    return (reader->shown.key == key && reader->shown.depth > 0) ||
           (reader->hidden.key == key && reader->hidden.depth > 0) ||
           (reader->within.key == key && reader->within.depth > 0);
}

constexpr bool NameOfLetters(uint64_t element)
{
    if (element >= LongElementName || element == 0) return false;
    const int length = static_cast<int>(element >> 56);
    for (int at = 0; at < length; ++at) {
        const unsigned char byte = static_cast<unsigned char>(element >> (8 * at));
        if (byte < 'a' || byte > 'z') return false;
    }
    return true;
}

// A tag of a followed element's name that the vector engine reads, which
// holds no attribute that main content reads: where the name is of letters
// (its key tells it exactly) and the tag neither ends a followed element nor
// may close itself, it is counted where it stands; otherwise the state
// machine takes it.
enum : int { NotFollowed, CountedHere, TakenByStateMachine };
inline int CountFollowedTag(VisibleTextReader* reader, uint64_t key, bool closing, bool mayCloseItself)
{
    ElementExtent* const extents[] = {&reader->shown, &reader->hidden, &reader->within};
    bool followed = false;
    for (const ElementExtent* extent : extents) {
        if (extent->depth == 0 || extent->key != key) continue;
        followed = true;
        if (!extent->letters || (closing ? extent->depth == 1 : mayCloseItself)) return TakenByStateMachine;
    }
    if (!followed) return NotFollowed;
    for (ElementExtent* extent : extents)
        if (extent->depth > 0 && extent->key == key) extent->depth += closing ? -1 : 1;
    return CountedHere;
}
// Whether an attribute that main content reads may begin at bytes[0]
// ("role" or "data-trawlex-"), of which count can be read: true when it
// cannot be told (the bytes end first).
bool MayBeMainAttribute(const unsigned char* bytes, int64_t count);

#ifdef CORV_VECTOR_X86
// The vector engine: reads the piece a window at a time through the masks
// of the reader's level (SSE2 or AVX2), the state machine reading what the
// masks cannot tell.
void ReadWindows(Pass* pass);
#endif

}  // namespace visible_text_internal
