// filesrch: the visible-text reader's main content. Read for its main
// content, every tag is read with its attributes (on the vector levels, the
// tags whose name or attributes may matter: see visible-text-windows.cpp),
// and at its end the elements it starts or ends are counted: the outermost
// element marked as main content, the outermost one left out, the outermost
// one that keeps a header or footer in the page's content, and how many of
// each sectioning element are open. The text is written only inside the
// marks (where the page has them) and outside what is left out.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "corv-str.h"
#include "visible-text-internal.h"

using namespace visible_text_internal;

namespace {

// Where in a tag's attributes the reading is.
enum : int32_t {
    BetweenAttributes,  // after the name, a blank, a "/" or a whole value
    InAttributeName,
    AfterAttributeName,  // blanks after a name: "=" may follow
    BeforeValue,         // after "=" and blanks
    InUnquotedValue
};

// Whose value is read: only role's tokens matter.
enum : int32_t { OtherValue, RoleValue };

// What a tag's attributes say, a bit each.
enum : int32_t {
    RoleMain = 1,
    RoleNavigation = 2,
    RoleSearch = 4,
    RoleBanner = 8,
    RoleContentInfo = 16,
    HasBody = 32,
    HasIgnore = 64,
    SlashLast = 128  // the last byte outside a value was "/": at ">", the tag closes itself
};
constexpr int32_t LeftOutRoles = RoleNavigation | RoleSearch | RoleBanner | RoleContentInfo;

struct Word {
    const char* text;
    int32_t length;
    int32_t flag;
};

constexpr Word RoleTokens[] = {{"main", 4, RoleMain},
                               {"navigation", 10, RoleNavigation},
                               {"search", 6, RoleSearch},
                               {"banner", 6, RoleBanner},
                               {"contentinfo", 11, RoleContentInfo}};
constexpr int32_t NotRole = -1;
constexpr Word AttributeNames[] = {
    {"data-trawlex-body", 17, HasBody}, {"data-trawlex-ignore", 19, HasIgnore}, {"role", 4, NotRole}};
constexpr int32_t TextLimit = static_cast<int32_t>(sizeof(TagAttributes{}.text));

constexpr uint64_t NavName = ElementNameOf("nav");
constexpr uint64_t MainName = ElementNameOf("main");
constexpr uint64_t HeaderName = ElementNameOf("header");
constexpr uint64_t FooterName = ElementNameOf("footer");
constexpr uint64_t SectionNamesOf[SectionNames] = {ElementNameOf("article"), ElementNameOf("aside"), MainName,
                                                   NavName, ElementNameOf("section")};
// Elements that hold nothing, whatever follows their start tag.
constexpr uint64_t VoidNames[] = {ElementNameOf("area"),  ElementNameOf("base"),   ElementNameOf("br"),
                                  ElementNameOf("col"),   ElementNameOf("embed"),  ElementNameOf("hr"),
                                  ElementNameOf("img"),   ElementNameOf("input"),  ElementNameOf("keygen"),
                                  ElementNameOf("link"),  ElementNameOf("meta"),   ElementNameOf("param"),
                                  ElementNameOf("source"), ElementNameOf("track"), ElementNameOf("wbr")};

bool IsBlank(unsigned char byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f'; }

bool IsVoid(uint64_t element)
{
    for (uint64_t name : VoidNames)
        if (name == element) return true;
    return false;
}

// The name ends: the name's bytes, or its hash where it is long (the length
// counted in `length`), or none where "=" or a quote ended it.
void EndElementName(VisibleTextReader* reader, unsigned char byte)
{
    TagAttributes& tag = reader->tag;
    reader->nameEnded = true;
    if (byte == '=' || byte == '"' || byte == '\'') {
        reader->nameLength = NameBytes + 1;
        tag.element = 0;
    } else if (tag.length > ElementNameBytes) {
        tag.element = LongElementName | tag.hash >> 8;
    } else {
        tag.element |= uint64_t(tag.length) << 56;
    }
    tag.length = 0;
}

// As TakeName takes a name (its key, for its kind), and in full for counting:
// its first bytes, and past them its hash (of all its bytes).
const unsigned char* TakeElementName(VisibleTextReader* reader, const unsigned char* at, const unsigned char* end)
{
    TagAttributes& tag = reader->tag;
    uint64_t name = reader->name, element = tag.element, hash = tag.hash;
    int32_t nameLength = reader->nameLength, length = tag.length;
    bool ended = false;
    for (; at < end; ++at) {
        const unsigned char byte = *at;
        if ((ended = IsBlank(byte) || byte == '/' || byte == '>' || byte == '=' || byte == '"' || byte == '\'')) break;
        if (nameLength < NameBytes) name |= uint64_t{NameKeyByte(byte)} << (8 * nameLength++);
        else nameLength = NameBytes + 1;
        const unsigned char lower = LowerByte(byte);
        if (length < ElementNameBytes) {
            element |= uint64_t{lower} << (8 * length++);
            continue;
        }
        for (; length == ElementNameBytes; ++length)
            for (int first = 0; first < ElementNameBytes; ++first) hash = (hash ^ ((element >> (8 * first)) & 0xFF)) * HashPrime;
        hash = (hash ^ lower) * HashPrime;
    }
    reader->name = name;
    reader->nameLength = nameLength;
    tag.element = element;
    tag.hash = hash;
    tag.length = length;
    if (ended) EndElementName(reader, *at);
    return at;
}

// The flag of the word that `length` bytes of text are, in any ASCII case, or 0.
int32_t FlagOf(const Word* words, size_t count, const unsigned char* text, int32_t length)
{
    for (size_t i = 0; i < count; ++i) {
        if (length != words[i].length) continue;
        int32_t at = 0;
        while (at < length && LowerByte(text[at]) == static_cast<unsigned char>(words[i].text[at])) ++at;
        if (at == length) return words[i].flag;
    }
    return 0;
}

int32_t FlagOf(const Word* words, size_t count, const TagAttributes& tag)
{
    return FlagOf(words, count, reinterpret_cast<const unsigned char*>(tag.text), std::min(tag.length, TextLimit + 1));
}

void TakeTextByte(TagAttributes& tag, unsigned char byte)
{
    if (tag.length < TextLimit) tag.text[tag.length] = static_cast<char>(LowerByte(byte));
    if (tag.length <= TextLimit) ++tag.length;
}

void EndRoleToken(TagAttributes& tag)
{
    tag.flags |= FlagOf(RoleTokens, sizeof RoleTokens / sizeof RoleTokens[0], tag);
    tag.length = 0;
}

void EndAttributeName(TagAttributes& tag, int32_t next)
{
    const int32_t flag = FlagOf(AttributeNames, sizeof AttributeNames / sizeof AttributeNames[0], tag);
    tag.value = flag == NotRole ? RoleValue : OtherValue;
    if (flag != NotRole) tag.flags |= flag;
    tag.length = 0;
    tag.state = next;
}

void EndValue(TagAttributes& tag)
{
    if (tag.value == RoleValue) EndRoleToken(tag);
    tag.value = OtherValue;
    tag.state = BetweenAttributes;
}

void TakeValueByte(TagAttributes& tag, unsigned char byte)
{
    if (tag.value != RoleValue) return;
    if (IsBlank(byte)) EndRoleToken(tag);
    else TakeTextByte(tag, byte);
}

// Between attributes or after a name: a blank, "=", "/" or a name's first byte.
void TakeOutsideName(TagAttributes& tag, unsigned char byte)
{
    if (IsBlank(byte)) return;
    if (byte == '=') {
        if (tag.state == BetweenAttributes) tag.value = OtherValue;  // a value without a name
        tag.state = BeforeValue;
    } else if (byte == '/') {
        tag.state = BetweenAttributes;
        tag.flags |= SlashLast;
    } else {
        tag.state = InAttributeName;
        tag.value = OtherValue;
        tag.length = 0;
        TakeTextByte(tag, byte);
    }
}

// A byte of the attributes outside a quoted value, neither the tag's ">" nor
// a quote that opens a value.
void TakeAttributeByte(TagAttributes& tag, unsigned char byte)
{
    tag.flags &= ~SlashLast;
    switch (tag.state) {
    case InAttributeName:
        if (IsBlank(byte)) EndAttributeName(tag, AfterAttributeName);
        else if (byte == '=') EndAttributeName(tag, BeforeValue);
        else if (byte == '/') {
            EndAttributeName(tag, BetweenAttributes);
            tag.value = OtherValue;
            tag.flags |= SlashLast;
        } else {
            TakeTextByte(tag, byte);
        }
        break;
    case BeforeValue:
        if (IsBlank(byte)) break;
        tag.state = InUnquotedValue;
        TakeValueByte(tag, byte);
        break;
    case InUnquotedValue:
        if (IsBlank(byte)) EndValue(tag);
        else TakeValueByte(tag, byte);
        break;
    default: TakeOutsideName(tag, byte); break;
    }
}

// Past the bytes from `at` that only lengthen an attribute name that main
// content does not read (those it reads begin with "r" or "d") or an unquoted
// value other than role's: they change nothing, up to the first that may.
const unsigned char* SkipUnreadBytes(const TagAttributes& tag, const unsigned char* at, const unsigned char* end)
{
    const bool unreadName = tag.state == InAttributeName && tag.length == 1 && tag.text[0] != 'r' && tag.text[0] != 'd';
    if (!unreadName && !(tag.state == InUnquotedValue && tag.value != RoleValue)) return at;
    while (at < end && !IsBlank(*at) && *at != '=' && *at != '/' && *at != '>') ++at;
    return at;
}

// A quoted value, from pass->at to its closing quote, past which it returns.
const unsigned char* ReadQuotedValue(TagAttributes& tag, unsigned char* quote, const unsigned char* at,
                                     const unsigned char* end)
{
    const void* close = memchr(at, *quote, static_cast<size_t>(end - at));
    if (tag.value != RoleValue || (close && tag.length == 0)) {
        if (!close) return end;
        // A role value that the piece holds whole: its tokens where they stand.
        for (const unsigned char* token = at; tag.value == RoleValue && token < close;) {
            while (token < close && IsBlank(*token)) ++token;
            const unsigned char* tokenEnd = token;
            while (tokenEnd < close && !IsBlank(*tokenEnd)) ++tokenEnd;
            tag.flags |= FlagOf(RoleTokens, sizeof RoleTokens / sizeof RoleTokens[0], token,
                                static_cast<int32_t>(tokenEnd - token));
            token = tokenEnd;
        }
        at = static_cast<const unsigned char*>(close);
    }
    for (; at < end; ++at) {
        if (*at != *quote) {
            TakeValueByte(tag, *at);
            continue;
        }
        *quote = 0;
        EndValue(tag);
        return at + 1;
    }
    return at;
}

// ---- The elements a tag starts and ends

bool InsideSection(const VisibleTextReader* reader)
{
    if (reader->within.depth > 0) return true;
    for (int64_t open : reader->sections)
        if (open > 0) return true;
    return false;
}

// Starts following the element unless an outer one is followed; true when
// it does.
bool Follow(ElementExtent* extent, uint64_t element)
{
    if (extent->depth > 0) return false;
    *extent = ElementExtent{element, KeyOfElementName(element), 1, NameOfLetters(element)};
    return true;
}

// A start tag of a followed element's name counts one more.
void CountStart(VisibleTextReader* reader, uint64_t element)
{
    for (ElementExtent* extent : {&reader->shown, &reader->hidden, &reader->within})
        if (extent->depth > 0 && extent->name == element) ++extent->depth;
    for (int i = 0; i < SectionNames; ++i)
        if (SectionNamesOf[i] == element) ++reader->sections[i];
}

// An end tag counts one less. (Where text shows again, the blank is already
// held: it was marked where the text stopped showing.)
void CountEnd(VisibleTextReader* reader, uint64_t element)
{
    for (ElementExtent* extent : {&reader->shown, &reader->hidden, &reader->within})
        if (extent->depth > 0 && extent->name == element && --extent->depth == 0) *extent = ElementExtent{};
    for (int i = 0; i < SectionNames; ++i)
        if (SectionNamesOf[i] == element && reader->sections[i] > 0) --reader->sections[i];
}

// The page holds marks stronger than those it is read by: where no text was
// written, it is read on by them; else from its start (startOver). False
// then.
bool MeetMarks(VisibleTextReader* reader, int32_t marks)
{
    if (reader->wroteText) {
        const auto mode = static_cast<VisibleTextMode>(reader->mode);
        const auto level = static_cast<VectorLevel>(reader->level);
        StartVisibleText(reader, mode, level);
        StartMainContent(reader, static_cast<PageMarks>(marks));
        reader->startOver = true;
        reader->restartAt = 0;
        return false;
    }
    reader->marks = marks;
    reader->shown = ElementExtent{};
    return true;
}

void StartElement(VisibleTextReader* reader, uint64_t element, int32_t flags)
{
    const bool mainMark = element == MainName || (flags & RoleMain);
    const int32_t marks = (flags & HasBody) ? BodyMarks : mainMark ? MainMarks : NoMarks;
    if (marks > reader->marks && !MeetMarks(reader, marks)) return;
    if ((flags & SlashLast) || IsVoid(element)) return;
    // Whether a header or footer is the page's is told before it counts.
    const bool pageBanner = (element == HeaderName || element == FooterName) && !InsideSection(reader);
    CountStart(reader, element);
    const bool leftOut = element == NavName || (flags & (LeftOutRoles | HasIgnore)) || pageBanner;
    if (leftOut && Follow(&reader->hidden, element)) MarkBlank(reader);
    const bool marked = reader->marks == BodyMarks ? (flags & HasBody) != 0 : reader->marks == MainMarks && mainMark;
    if (marked && Follow(&reader->shown, element)) MarkBlank(reader);
    if (flags & (HasBody | RoleMain)) Follow(&reader->within, element);
}

// At the tag's ">": the attribute read so far ends, and so does the tag.
void EndMainTag(VisibleTextReader* reader)
{
    TagAttributes& tag = reader->tag;
    if (tag.state == InAttributeName) EndAttributeName(tag, BetweenAttributes);
    else if (tag.state == InUnquotedValue) EndValue(tag);
    if (tag.element != 0) {
        if (reader->closing) CountEnd(reader, tag.element);
        else StartElement(reader, tag.element, tag.flags);
    }
    EndTag(reader);
}

}  // namespace

void visible_text_internal::ReadMainTag(Pass* pass)
{
    VisibleTextReader* reader = pass->reader;
    const unsigned char* at = pass->at;
    const unsigned char* end = pass->end;
    if (!reader->nameEnded) at = TakeElementName(reader, at, end);
    // An end tag, or a tag that starts no element (a "<!" or "<?" tag, a
    // name that "=" or a quote ended), counts by its name alone: its
    // attributes are passed over as the whole text's reader passes them.
    if (reader->nameEnded && (reader->closing || reader->tag.element == 0)) {
        pass->at = at;
        if (ReadToTagEnd(pass)) EndMainTag(reader);
        return;
    }
    // The attributes are read in copies, which no byte written aliases.
    TagAttributes tag = reader->tag;
    unsigned char quote = reader->quote;
    bool afterEquals = reader->afterEquals, ended = false;
    while (at < end) {
        if (quote) {
            at = ReadQuotedValue(tag, &quote, at, end);
            continue;
        }
        const unsigned char byte = *at++;
        const bool opensValue = afterEquals && (byte == '"' || byte == '\'');
        if ((ended = TagEndsAt(byte, &quote, &afterEquals))) break;
        if (opensValue) {
            tag.flags &= ~SlashLast;
        } else {
            TakeAttributeByte(tag, byte);
            // Right after an "=", a quote opens a value even inside an
            // unquoted one, as the whole text's reader reads it.
            if (!afterEquals) at = SkipUnreadBytes(tag, at, end);
        }
    }
    reader->tag = tag;
    reader->quote = quote;
    reader->afterEquals = afterEquals;
    if (ended) EndMainTag(reader);
    pass->at = at;
}

void visible_text_internal::StartRawEndTag(VisibleTextReader* reader, int32_t rawEnd)
{
    StartOrdinaryTag(reader);
    if (reader->scope != VisibleTextMain) return;
    // "</script", "</style" or "</head"; a head that ends at "<body" is left
    // to end at the document's end as far as counting goes.
    static constexpr uint64_t Names[] = {ElementNameOf("script"), ElementNameOf("style"), ElementNameOf("head"), 0};
    reader->closing = rawEnd != EndHeadAtBody;
    reader->tag.element = Names[rawEnd];
}

bool visible_text_internal::MayBeMainAttribute(const unsigned char* bytes, int64_t count)
{
    static constexpr char Role[] = "role", Data[] = "data-trawlex-";
    if (count <= 0) return true;
    const bool role = (bytes[0] | 0x20) == 'r';
    const char* word = role ? Role : Data;
    const int64_t length = role ? 4 : 13;
    for (int64_t at = 0; at < length; ++at) {
        if (at == count) return true;
        if (LowerByte(bytes[at]) != static_cast<unsigned char>(word[at])) return false;
    }
    if (!role) return true;
    if (count == length) return true;
    const unsigned char after = bytes[length];
    return IsBlank(after) || after == '=' || after == '/' || after == '>';
}

void StartMainContent(VisibleTextReader* reader, PageMarks marks)
{
    reader->scope = VisibleTextMain;
    reader->marks = marks;
}
