// filesrch: character references, the one grammar that the reader, the
// text filter and the excerpts share: the 252 named references of HTML 4 and
// their code points, in a hash table by name, and the numeric ones.
#include <algorithm>
#include <cstring>

#include "corv-str.h"
#include "visible-text.h"

namespace {

struct CharacterName {
    const char* name;
    int32_t codePoint;
};

// Made with Debian's Python: sorted(html.entities.name2codepoint.items()).
constexpr CharacterName characterNames[] = {
    {"AElig", 0x00C6}, {"Aacute", 0x00C1}, {"Acirc", 0x00C2}, {"Agrave", 0x00C0}, {"Alpha", 0x0391},
    {"Aring", 0x00C5}, {"Atilde", 0x00C3}, {"Auml", 0x00C4}, {"Beta", 0x0392}, {"Ccedil", 0x00C7}, {"Chi", 0x03A7},
    {"Dagger", 0x2021}, {"Delta", 0x0394}, {"ETH", 0x00D0}, {"Eacute", 0x00C9}, {"Ecirc", 0x00CA},
    {"Egrave", 0x00C8}, {"Epsilon", 0x0395}, {"Eta", 0x0397}, {"Euml", 0x00CB}, {"Gamma", 0x0393},
    {"Iacute", 0x00CD}, {"Icirc", 0x00CE}, {"Igrave", 0x00CC}, {"Iota", 0x0399}, {"Iuml", 0x00CF},
    {"Kappa", 0x039A}, {"Lambda", 0x039B}, {"Mu", 0x039C}, {"Ntilde", 0x00D1}, {"Nu", 0x039D}, {"OElig", 0x0152},
    {"Oacute", 0x00D3}, {"Ocirc", 0x00D4}, {"Ograve", 0x00D2}, {"Omega", 0x03A9}, {"Omicron", 0x039F},
    {"Oslash", 0x00D8}, {"Otilde", 0x00D5}, {"Ouml", 0x00D6}, {"Phi", 0x03A6}, {"Pi", 0x03A0}, {"Prime", 0x2033},
    {"Psi", 0x03A8}, {"Rho", 0x03A1}, {"Scaron", 0x0160}, {"Sigma", 0x03A3}, {"THORN", 0x00DE}, {"Tau", 0x03A4},
    {"Theta", 0x0398}, {"Uacute", 0x00DA}, {"Ucirc", 0x00DB}, {"Ugrave", 0x00D9}, {"Upsilon", 0x03A5},
    {"Uuml", 0x00DC}, {"Xi", 0x039E}, {"Yacute", 0x00DD}, {"Yuml", 0x0178}, {"Zeta", 0x0396}, {"aacute", 0x00E1},
    {"acirc", 0x00E2}, {"acute", 0x00B4}, {"aelig", 0x00E6}, {"agrave", 0x00E0}, {"alefsym", 0x2135},
    {"alpha", 0x03B1}, {"amp", 0x0026}, {"and", 0x2227}, {"ang", 0x2220}, {"aring", 0x00E5}, {"asymp", 0x2248},
    {"atilde", 0x00E3}, {"auml", 0x00E4}, {"bdquo", 0x201E}, {"beta", 0x03B2}, {"brvbar", 0x00A6}, {"bull", 0x2022},
    {"cap", 0x2229}, {"ccedil", 0x00E7}, {"cedil", 0x00B8}, {"cent", 0x00A2}, {"chi", 0x03C7}, {"circ", 0x02C6},
    {"clubs", 0x2663}, {"cong", 0x2245}, {"copy", 0x00A9}, {"crarr", 0x21B5}, {"cup", 0x222A}, {"curren", 0x00A4},
    {"dArr", 0x21D3}, {"dagger", 0x2020}, {"darr", 0x2193}, {"deg", 0x00B0}, {"delta", 0x03B4}, {"diams", 0x2666},
    {"divide", 0x00F7}, {"eacute", 0x00E9}, {"ecirc", 0x00EA}, {"egrave", 0x00E8}, {"empty", 0x2205},
    {"emsp", 0x2003}, {"ensp", 0x2002}, {"epsilon", 0x03B5}, {"equiv", 0x2261}, {"eta", 0x03B7}, {"eth", 0x00F0},
    {"euml", 0x00EB}, {"euro", 0x20AC}, {"exist", 0x2203}, {"fnof", 0x0192}, {"forall", 0x2200}, {"frac12", 0x00BD},
    {"frac14", 0x00BC}, {"frac34", 0x00BE}, {"frasl", 0x2044}, {"gamma", 0x03B3}, {"ge", 0x2265}, {"gt", 0x003E},
    {"hArr", 0x21D4}, {"harr", 0x2194}, {"hearts", 0x2665}, {"hellip", 0x2026}, {"iacute", 0x00ED},
    {"icirc", 0x00EE}, {"iexcl", 0x00A1}, {"igrave", 0x00EC}, {"image", 0x2111}, {"infin", 0x221E}, {"int", 0x222B},
    {"iota", 0x03B9}, {"iquest", 0x00BF}, {"isin", 0x2208}, {"iuml", 0x00EF}, {"kappa", 0x03BA}, {"lArr", 0x21D0},
    {"lambda", 0x03BB}, {"lang", 0x2329}, {"laquo", 0x00AB}, {"larr", 0x2190}, {"lceil", 0x2308}, {"ldquo", 0x201C},
    {"le", 0x2264}, {"lfloor", 0x230A}, {"lowast", 0x2217}, {"loz", 0x25CA}, {"lrm", 0x200E}, {"lsaquo", 0x2039},
    {"lsquo", 0x2018}, {"lt", 0x003C}, {"macr", 0x00AF}, {"mdash", 0x2014}, {"micro", 0x00B5}, {"middot", 0x00B7},
    {"minus", 0x2212}, {"mu", 0x03BC}, {"nabla", 0x2207}, {"nbsp", 0x00A0}, {"ndash", 0x2013}, {"ne", 0x2260},
    {"ni", 0x220B}, {"not", 0x00AC}, {"notin", 0x2209}, {"nsub", 0x2284}, {"ntilde", 0x00F1}, {"nu", 0x03BD},
    {"oacute", 0x00F3}, {"ocirc", 0x00F4}, {"oelig", 0x0153}, {"ograve", 0x00F2}, {"oline", 0x203E},
    {"omega", 0x03C9}, {"omicron", 0x03BF}, {"oplus", 0x2295}, {"or", 0x2228}, {"ordf", 0x00AA}, {"ordm", 0x00BA},
    {"oslash", 0x00F8}, {"otilde", 0x00F5}, {"otimes", 0x2297}, {"ouml", 0x00F6}, {"para", 0x00B6},
    {"part", 0x2202}, {"permil", 0x2030}, {"perp", 0x22A5}, {"phi", 0x03C6}, {"pi", 0x03C0}, {"piv", 0x03D6},
    {"plusmn", 0x00B1}, {"pound", 0x00A3}, {"prime", 0x2032}, {"prod", 0x220F}, {"prop", 0x221D}, {"psi", 0x03C8},
    {"quot", 0x0022}, {"rArr", 0x21D2}, {"radic", 0x221A}, {"rang", 0x232A}, {"raquo", 0x00BB}, {"rarr", 0x2192},
    {"rceil", 0x2309}, {"rdquo", 0x201D}, {"real", 0x211C}, {"reg", 0x00AE}, {"rfloor", 0x230B}, {"rho", 0x03C1},
    {"rlm", 0x200F}, {"rsaquo", 0x203A}, {"rsquo", 0x2019}, {"sbquo", 0x201A}, {"scaron", 0x0161}, {"sdot", 0x22C5},
    {"sect", 0x00A7}, {"shy", 0x00AD}, {"sigma", 0x03C3}, {"sigmaf", 0x03C2}, {"sim", 0x223C}, {"spades", 0x2660},
    {"sub", 0x2282}, {"sube", 0x2286}, {"sum", 0x2211}, {"sup", 0x2283}, {"sup1", 0x00B9}, {"sup2", 0x00B2},
    {"sup3", 0x00B3}, {"supe", 0x2287}, {"szlig", 0x00DF}, {"tau", 0x03C4}, {"there4", 0x2234}, {"theta", 0x03B8},
    {"thetasym", 0x03D1}, {"thinsp", 0x2009}, {"thorn", 0x00FE}, {"tilde", 0x02DC}, {"times", 0x00D7},
    {"trade", 0x2122}, {"uArr", 0x21D1}, {"uacute", 0x00FA}, {"uarr", 0x2191}, {"ucirc", 0x00FB},
    {"ugrave", 0x00F9}, {"uml", 0x00A8}, {"upsih", 0x03D2}, {"upsilon", 0x03C5}, {"uuml", 0x00FC},
    {"weierp", 0x2118}, {"xi", 0x03BE}, {"yacute", 0x00FD}, {"yen", 0x00A5}, {"yuml", 0x00FF}, {"zeta", 0x03B6},
    {"zwj", 0x200D}, {"zwnj", 0x200C},
};

// The names are at most eight bytes: each is a number, its first byte lowest,
// in a table whose slots are chosen by a multiplication: a perfect hash (the
// multiplier found by trying random odd numbers), so that a lookup is one
// compare, without a probe loop whose length a branch would mispredict where
// references of several names alternate.
constexpr int NameLimit = 8;
constexpr int NameSlotBits = 12;
constexpr uint64_t NameMultiplier = 0x65f456aad6cff719;

constexpr uint64_t NameNumber(const char* name, int length)
{
    uint64_t number = 0;
    for (int at = 0; at < length; ++at) number |= uint64_t{static_cast<unsigned char>(name[at])} << (8 * at);
    return number;
}

constexpr int NameLength(const char* name)
{
    int length = 0;
    while (name[length]) ++length;
    return length;
}

constexpr int FirstSlot(uint64_t number) { return static_cast<int>((number * NameMultiplier) >> (64 - NameSlotBits)); }

constexpr int32_t NoBreakSpace = 0xA0;
constexpr int32_t LargestCodePoint = 0x10FFFF;

// A code point's UTF-8 bytes and their count.
struct Utf8 {
    char bytes[4];
    int length;
};

constexpr int EncodeUtf8(int32_t codePoint, char* bytes)
{
    if (codePoint < 0x80) {
        bytes[0] = static_cast<char>(codePoint);
        return 1;
    }
    int length = codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
    const int leads[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (int i = length - 1; i > 0; --i) {
        bytes[i] = static_cast<char>(0x80 | (codePoint & 0x3F));
        codePoint >>= 6;
    }
    bytes[0] = static_cast<char>(leads[length] | codePoint);
    return length;
}

constexpr Utf8 Utf8Of(int32_t codePoint)
{
    Utf8 encoded{};
    encoded.length = EncodeUtf8(codePoint, encoded.bytes);
    return encoded;
}

// Each name's character is kept decoded, as DecodeNameNumber gives it, for
// a reference costs a lookup alone however often it comes.
struct NameSlot {
    uint64_t number;  // 0 for none
    int32_t codePoint : 24;
    int32_t decodedLength : 8;  // ReferenceIsBlank, or the bytes in `decoded`
    char decoded[4];
};
static_assert(sizeof(NameSlot) == 16, "a slot in a quarter of a cache line");

struct NameTable {
    NameSlot slots[1 << NameSlotBits];
    bool slotsOfTheirOwn;
};

constexpr NameTable MakeNameTable()
{
    NameTable table{};
    table.slotsOfTheirOwn = true;
    for (const CharacterName& entry : characterNames) {
        const uint64_t number = NameNumber(entry.name, NameLength(entry.name));
        NameSlot& slot = table.slots[FirstSlot(number)];
        if (slot.number != 0) table.slotsOfTheirOwn = false;
        slot.number = number;
        slot.codePoint = entry.codePoint;
        const Utf8 encoded = Utf8Of(entry.codePoint);
        slot.decodedLength = entry.codePoint == NoBreakSpace ? int{ReferenceIsBlank} : encoded.length;
        for (int at = 0; at < slot.decodedLength; ++at) slot.decoded[at] = encoded.bytes[at];
    }
    return table;
}

constexpr NameTable Names = MakeNameTable();
static_assert(Names.slotsOfTheirOwn, "two names share a slot");

bool IsBlank(int32_t byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f'; }

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

}  // namespace

namespace {

// The slot of a name as a number, or null.
const NameSlot* NameSlotOf(uint64_t number)
{
    const NameSlot& slot = Names.slots[FirstSlot(number)];
    return slot.number == number && number != 0 ? &slot : nullptr;
}

// The code point of a name as a number, or -1.
int32_t CodePointOfNameNumber(uint64_t number)
{
    const NameSlot* slot = NameSlotOf(number);
    return slot ? slot->codePoint : -1;
}

}  // namespace

int32_t CodePointOfName(const char* name, int length)
{
    if (length < 1 || length > NameLimit) return -1;
    return CodePointOfNameNumber(NameNumber(name, length));
}

int DecodeNumber(int32_t value, char* bytes)
{
    if (value > LargestCodePoint || (value >= 0xD800 && value <= 0xDFFF)) return ReferenceIsText;
    if (IsBlank(value)) return ReferenceIsBlank;
    return EncodeUtf8(value, bytes);
}

int DecodeNameNumber(uint64_t name, char* bytes)
{
    const NameSlot* slot = NameSlotOf(name);
    if (!slot) return ReferenceIsText;
    memcpy(bytes, slot->decoded, sizeof slot->decoded);
    return slot->decodedLength;
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

int32_t WholeReferenceLength(const unsigned char* bytes, int32_t count)
{
    const int32_t limit = std::min(count, VisibleTextReferenceLimit);
    if (limit < 1 || bytes[0] != '&') return 0;
    const char* reference = reinterpret_cast<const char*>(bytes);
    int32_t length = 1;
    while (length < limit && ContinuesReference(reference, length, bytes[length])) ++length;
    if (length == limit || bytes[length] != ';' || length < 2) return 0;
    // A name, or at least one digit after "&#" or "&#x".
    const bool hex = length >= 3 && reference[1] == '#' && (reference[2] | 0x20) == 'x';
    const int32_t digitsFrom = reference[1] == '#' ? (hex ? 3 : 2) : 1;
    return length > digitsFrom ? length + 1 : 0;
}

namespace {

// Past the run of digits from `at` (before `limit`) and their value, or a
// value above LargestCodePoint where the number is larger.
template <bool Hex>
int32_t DigitsFrom(const unsigned char* bytes, int32_t at, int32_t limit, int32_t* value)
{
    int32_t number = 0;
    for (; at < limit; ++at) {
        const unsigned char byte = bytes[at];
        const unsigned digit = Hex ? (IsAsciiDigit(byte) ? byte - '0' : (byte | 0x20) - 'a' + 10u) : byte - '0';
        if (digit >= (Hex ? 16u : 10u) || (Hex && !IsAsciiHexDigit(byte))) break;
        if (number <= LargestCodePoint) number = number * (Hex ? 16 : 10) + static_cast<int32_t>(digit);
    }
    *value = number;
    return at;
}

int32_t LettersAndDigitsFrom(const unsigned char* bytes, int32_t at, int32_t limit)
{
    while (at < limit && (IsAsciiLetter(bytes[at]) || IsAsciiDigit(bytes[at]))) ++at;
    return at;
}

}  // namespace

int32_t ReadWholeReference(const unsigned char* bytes, int32_t count, char* decoded, int32_t* decodedLength)
{
    // As ReadReference reads byte by byte: a byte that does not go on ends
    // the candidate as text, and so does the limit, unless the byte there is
    // its ";".
    if (count < 2) return ReferenceNeedsMore;
    const bool numeric = bytes[1] == '#';
    const bool hex = numeric && count > 2 && (bytes[2] | 0x20) == 'x';
    const int32_t from = numeric ? (hex ? 3 : 2) : 1;
    const int32_t limit = std::min(count, VisibleTextReferenceLimit);
    int32_t value = -1;
    const int32_t end = !numeric ? LettersAndDigitsFrom(bytes, from, limit)
                        : hex    ? DigitsFrom<true>(bytes, from, limit, &value)
                                 : DigitsFrom<false>(bytes, from, limit, &value);
    if (end == VisibleTextReferenceLimit) return ReferenceIsText;
    if (end == count) return ReferenceNeedsMore;
    if (bytes[end] != ';' || end == from) return ReferenceIsText;
    int32_t codePoint = value;
    if (!numeric) codePoint = CodePointOfName(reinterpret_cast<const char*>(bytes) + 1, end - 1);
    else if (value > LargestCodePoint || (value >= 0xD800 && value <= 0xDFFF)) codePoint = -1;
    if (codePoint < 0) return ReferenceIsText;
    const bool blank = numeric ? IsBlank(codePoint) : codePoint == NoBreakSpace;
    *decodedLength = blank ? 0 : EncodeUtf8(codePoint, decoded);
    return end + 1;
}
