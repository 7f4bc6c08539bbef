// filesrch: the text of one META tag and its attribute tokens, and the
// robots META tag of a page that asks not to be found.
#include <algorithm>
#include <cstring>

#include "corv-core.h"
#include "corv-str.h"
#include "document-scan.h"
#include "visible-text.h"

namespace {

const char* const TagModule = "filesrch";

// The walk over a tag's bytes while one token is looked for.
struct TokenSplit {
    int wanted;
    char* token;
    int tokenSize;
    char* separator;
    int length = 0;
    int result = 0;
    bool inQuote = false;
    int depth = 0;
    int counter = 0;
    bool previousWasSeparator = false;
    unsigned char previous = 0;
};

void TakeSeparator(TokenSplit* split, unsigned char byte)
{
    if (*split->separator == 0 || byte == '=') *split->separator = static_cast<char>(byte);
    if (!split->previousWasSeparator) ++split->counter;
    split->previousWasSeparator = true;
}

// Stores a byte of the wanted token; true when the token is full.
bool StoreTokenByte(TokenSplit* split, unsigned char raw)
{
    split->result = 1;
    *split->separator = 0;
    split->token[split->length] = static_cast<char>(raw);
    bool heldBack = raw == '\\' && split->previous != '\\';
    if (!heldBack) ++split->length;
    if (split->length < split->tokenSize - 3) return false;
    split->token[split->length++] = '.';
    split->token[split->length++] = '.';
    split->token[split->length++] = '.';
    split->token[split->length] = '\0';
    return true;
}

enum class Step { Next, Stop, Full };

Step TakeTokenByte(TokenSplit* split, unsigned char byte, unsigned char raw)
{
    if (split->counter > split->wanted) return Step::Stop;
    if (!split->inQuote) {
        if (byte == '<') ++split->depth;
        if (byte == '>' && --split->depth < 0) return Step::Stop;
    }
    bool wanted = split->counter == split->wanted;
    if (byte == '"' && split->previous != '\\') {
        split->inQuote = !split->inQuote;
        if (wanted) split->result = 1;
    } else if (!wanted) {
        *split->separator = 0;
    } else if (StoreTokenByte(split, raw)) {
        return Step::Full;
    }
    split->previousWasSeparator = false;
    split->previous = byte;
    return Step::Next;
}

}  // namespace

int GetAttributeToken(const char* tagText, int index, char* token, int tokenSize, char* separator)
{
    CORV_CHECK_POINTER(TagModule, tagText);
    CORV_CHECK_POINTER(TagModule, token);
    CORV_CHECK_POINTER(TagModule, separator);
    *separator = 0;
    if (tokenSize < 4) {
        token[0] = '\0';
        return 0;
    }
    TokenSplit split{index, token, tokenSize, separator};
    if (index == 0 && tagText[0] && tagText[1]) split.result = 1;
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(tagText); *at; ++at) {
        unsigned char byte = *at;
        if (split.depth == 0) {
            if (byte == '\n') byte = ' ';
            else if (byte < 0x20) continue;
        }
        if (split.depth == 0 && !split.inQuote && (byte == ' ' || byte == '=')) {
            TakeSeparator(&split, byte);
            split.previous = byte;
            continue;
        }
        Step step = TakeTokenByte(&split, byte, *at);
        if (step == Step::Full) return 1;
        if (step == Step::Stop) break;
    }
    token[split.length] = '\0';
    return split.result;
}

int CopyTagText(char* source, const char* sourceEnd, char* destination, const char* destinationEnd, int blank)
{
    while (destination < destinationEnd - 1) {
        if (source >= sourceEnd) {
            *destination = '\0';
            return 0;
        }
        if (*source == '>') break;
        *destination++ = *source;
        if (blank) *source = ' ';
        ++source;
    }
    *destination = '\0';
    return 1;
}

namespace {

bool IsBlankByte(unsigned char byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f'; }

struct Attribute {
    const char* name;
    size_t nameLength;
    const char* value;
    size_t valueLength;
};

// The next attribute of a tag from *at to its ">" (at end), as the visible
// text reader reads attributes: a quote opens a value only after "=".
bool NextAttribute(const char** at, const char* end, Attribute* attribute)
{
    const char* byte = *at;
    while (byte < end && (IsBlankByte(*byte) || *byte == '/')) ++byte;
    if (byte == end) return false;
    attribute->name = byte;
    while (byte < end && !IsBlankByte(*byte) && *byte != '/' && *byte != '=') ++byte;
    attribute->nameLength = static_cast<size_t>(byte - attribute->name);
    while (byte < end && IsBlankByte(*byte)) ++byte;
    attribute->value = byte;
    attribute->valueLength = 0;
    if (byte < end && *byte == '=') {
        for (++byte; byte < end && IsBlankByte(*byte);) ++byte;
        const char quote = byte < end && (*byte == '"' || *byte == '\'') ? *byte++ : 0;
        attribute->value = byte;
        while (byte < end && (quote ? *byte != quote : !IsBlankByte(*byte))) ++byte;
        attribute->valueLength = static_cast<size_t>(byte - attribute->value);
        if (quote && byte < end) ++byte;
    }
    *at = byte;
    return true;
}

bool SameWord(const char* text, size_t length, const char* word)
{
    return length == strlen(word) && StrEqualNoCaseN(text, word, static_cast<int>(length));
}

// Whether a robots content lists noindex or none among its comma-separated values.
bool ListsNoIndex(const char* value, size_t length)
{
    for (const char* end = value + length; value < end;) {
        const char* comma = static_cast<const char*>(memchr(value, ',', static_cast<size_t>(end - value)));
        const char* last = comma ? comma : end;
        const char* first = value;
        while (first < last && IsBlankByte(*first)) ++first;
        const char* stop = last;
        while (stop > first && IsBlankByte(stop[-1])) --stop;
        const size_t word = static_cast<size_t>(stop - first);
        if (SameWord(first, word, "noindex") || SameWord(first, word, "none")) return true;
        value = comma ? comma + 1 : end;
    }
    return false;
}

// The attributes of a META tag from after "<META" to its ">".
bool RobotsSayNoIndex(const char* at, const char* end)
{
    bool robots = false, noIndex = false;
    Attribute attribute;
    while (NextAttribute(&at, end, &attribute)) {
        if (SameWord(attribute.name, attribute.nameLength, "name"))
            robots = SameWord(attribute.value, attribute.valueLength, "robots");
        else if (SameWord(attribute.name, attribute.nameLength, "content"))
            noIndex = ListsNoIndex(attribute.value, attribute.valueLength);
    }
    return robots && noIndex;
}

}  // namespace

namespace {

int32_t RobotsVerdictAt(const unsigned char* bytes, int32_t at, int32_t metaLength, int32_t count)
{
    const int32_t after = at + metaLength;
    if (after >= count || !(IsBlankByte(bytes[after]) || bytes[after] == '/')) return RobotsSilent;
    const int32_t tagEnd = MarkupEnd(bytes, at, count);
    if (tagEnd < 0) return RobotsTagRunsPast;
    const char* text = reinterpret_cast<const char*>(bytes);
    return RobotsSayNoIndex(text + after, text + tagEnd - 1) ? RobotsNoIndex : RobotsSilent;
}

}  // namespace

int32_t RobotsVerdict(const TagPatterns& tags, const char* data, const char* from, const char* to, const char* end)
{
    CORV_CHECK_POINTER(TagModule, data);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    const int32_t count = static_cast<int32_t>(end - data);
    // Those that start before `to`, whole or not.
    const char* const searchEnd = std::min(end, to + tags.meta.length - 1);
    for (const char* hit = from;;) {
        const int32_t verdict = RobotsVerdictAt(bytes, static_cast<int32_t>(hit - data), tags.meta.length, count);
        if (verdict != RobotsSilent) return verdict;
        if (!FindPattern(&tags.meta, hit + tags.meta.length, searchEnd, &hit)) return RobotsSilent;
    }
}
