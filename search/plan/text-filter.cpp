// filesrch: the text-only scan's filter. Most documents of a search hold none
// of its terms, and reading a document's bytes costs far less than turning
// them into visible text, so the bytes are looked at first: only where they
// could give a term's text is the document read as text.
//
// The visible text is the stored bytes with markup left out, references
// decoded and blanks folded. So where a term's text shows, either the stored
// bytes hold it as they stand, or it runs across a boundary: its first bytes
// stand just before a markup boundary, a "<" or a "&" (a tag, comment or
// reference that is cut out or decoded in between), or it begins with a
// decoded reference. The filter is a necessary condition, never a sufficient
// one: what it lets through is read as text and searched. A term
// with blanks shows its longest blank-free piece, which is looked for
// instead; so is a long term's prefix, to keep the bytes carried small.
#include <algorithm>
#include <cstring>

#include "corv-core.h"
#include "corv-str.h"
#include "corv-vector-kernels.h"
#include "text-filter.h"
#include "visible-text.h"

namespace {

const char* const FilterModule = "filesrch";

// The bytes of a term looked for; a boundary is looked back from by one byte fewer.
constexpr int32_t KeyLimit = TextFilterCarry / 2;
// A boundary whose text is not known within this many bytes of the end of what
// was read is looked at again in the next read's carry.
constexpr int32_t BoundaryReach = TextFilterCarry - KeyLimit;

bool IsBlankByte(unsigned char byte)
{
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f';
}

// What ends a key: a blank; under folding, any ASCII byte but a letter or a digit.
bool EndsKey(unsigned char byte, bool folding)
{
    return IsBlankByte(byte) || (folding && byte < 0x80 && !IsAsciiLetter(byte) && !IsAsciiDigit(byte));
}

// The longest piece of a term that no byte ends, cut to KeyLimit bytes; its
// length, 0 when there is none.
int32_t KeyOf(const TextPattern& term, bool folding, int32_t* start)
{
    int32_t best = 0;
    *start = 0;
    for (int32_t at = 0; at < term.length;) {
        int32_t end = at;
        while (end < term.length && !EndsKey(term.text[end], folding)) ++end;
        if (end - at > best) {
            best = end - at;
            *start = at;
        }
        at = end + 1;
    }
    return std::min(best, KeyLimit);
}

bool PrepareKeys(TextFilter& filter, const SearchExpression& expression)
{
    const int32_t count = expression.termCount;
    int32_t starts[PatternSetLimit], lengths[PatternSetLimit];
    bool termsAreKeys = true;
    for (int32_t term = 0; term < count; ++term) {
        const TextPattern& pattern = *expression.terms[term].pattern;
        lengths[term] = KeyOf(pattern, filter.folding != CaseFoldAscii, &starts[term]);
        if (lengths[term] == 0) return false;
        termsAreKeys = termsAreKeys && lengths[term] == pattern.length;
    }
    if (termsAreKeys) {
        filter.keys = expression.termPatterns;
        return true;
    }
    filter.ownKeys = MemAllocArray<TextPattern>(count, FilterModule, __LINE__);
    filter.ownCount = count;
    const TextPattern* keys[PatternSetLimit];
    for (int32_t term = 0; term < count; ++term) {
        char text[KeyLimit + 1];
        memcpy(text, expression.terms[term].pattern->text + starts[term], static_cast<size_t>(lengths[term]));
        text[lengths[term]] = '\0';
        if (!CompilePattern(&filter.ownKeys[term], text, PatternIgnoreCase)) return false;
        keys[term] = &filter.ownKeys[term];
    }
    filter.ownSet = static_cast<PatternSet*>(MemAlloc(sizeof(PatternSet), FilterModule, __LINE__));
    filter.keys = filter.ownSet;
    return CompilePatternSet(filter.ownSet, keys, count) == 1;
}

void NoteKeyStart(TextFilter& filter, unsigned char first)
{
    filter.startsKey[FoldAsciiUpper(first)] = true;
    filter.namedMayBeginKey |= first >= 0x80 || first == '"' || first == '&' || first == '<' || first == '>';
}

void NoteEndsPrefix(TextFilter& filter, int32_t byte)
{
    filter.endsPrefix[byte] = true;
    if (byte < 0x80) filter.lowHalves[byte & 15] |= static_cast<unsigned char>(1 << (byte >> 4));
    else filter.nonAsciiEndsPrefix = true;
}

bool HasBit(const uint64_t* bits, unsigned char byte) { return bits[byte >> 6] >> (byte & 63) & 1; }

// The prefix among `found` that is the first `length` bytes of the
// pattern, or -1.
int32_t SameKeyPrefix(const TextFilter& filter, const KeyPrefix* found, int32_t count, const TextPattern& pattern, int32_t length)
{
    for (int32_t i = 0; i < count; ++i) {
        const TextPattern& key = *filter.keys->patterns[found[i].key];
        if (found[i].length == length && StrEqualNoCaseN(reinterpret_cast<const char*>(key.text),
                                                         reinterpret_cast<const char*>(pattern.text), length))
            return i;
    }
    return -1;
}

// Sorts the proper prefixes of the keys, each once, by their last byte;
// false when there are more than the filter holds.
bool PrepareBoundaries(TextFilter& filter)
{
    KeyPrefix found[PatternSetTextLimit];
    int32_t count = 0, perByte[256] = {};
    const PatternSet& keys = *filter.keys;
    for (int32_t key = 0; key < keys.count; ++key) {
        const TextPattern& pattern = *keys.patterns[key];
        NoteKeyStart(filter, pattern.text[0]);
        for (int32_t length = 1; length < pattern.length; ++length) {
            int32_t same = SameKeyPrefix(filter, found, count, pattern, length);
            if (same < 0) {
                if (count == PatternSetTextLimit) return false;
                found[count] = KeyPrefix{static_cast<int16_t>(key), static_cast<int16_t>(length), {}};
                ++perByte[FoldAsciiUpper(pattern.text[length - 1])];
                same = count++;
            }
            const unsigned char next = FoldAsciiUpper(pattern.text[length]);
            found[same].next[next >> 6] |= uint64_t{1} << (next & 63);
        }
    }
    for (int byte = 0; byte < 256; ++byte) {
        filter.endsOf[byte + 1] = static_cast<int16_t>(filter.endsOf[byte] + perByte[byte]);
        if (perByte[FoldAsciiUpper(static_cast<unsigned char>(byte))]) NoteEndsPrefix(filter, byte);
    }
    int32_t filled[256] = {};
    for (int32_t i = 0; i < count; ++i) {
        const TextPattern& key = *keys.patterns[found[i].key];
        const unsigned char last = FoldAsciiUpper(key.text[found[i].length - 1]);
        filter.prefixes[filter.endsOf[last] + filled[last]++] = found[i];
    }
    return true;
}

unsigned PairIndex(unsigned char first, unsigned char second)
{
    return static_cast<unsigned>(FoldAsciiUpper(first)) << 8 | FoldAsciiUpper(second);
}

void NotePair(TextFilter& filter, unsigned char first, unsigned char second)
{
    const unsigned pair = PairIndex(first, second);
    filter.pairEnds[pair >> 6] |= uint64_t{1} << (pair & 63);
}

// Notes the last two bytes of every key's proper prefix, any byte before
// one of a single byte.
void PreparePairs(TextFilter& filter)
{
    const PatternSet& keys = *filter.keys;
    for (int32_t key = 0; key < keys.count; ++key) {
        const TextPattern& pattern = *keys.patterns[key];
        if (pattern.length < 2) continue;
        for (int first = 0; first < 256; ++first) NotePair(filter, static_cast<unsigned char>(first), pattern.text[0]);
        for (int32_t length = 2; length < pattern.length; ++length)
            NotePair(filter, pattern.text[length - 2], pattern.text[length - 1]);
    }
}

void NoteFound(void* found, const PatternHit*, int) { *static_cast<bool*>(found) = true; }

// What follows a boundary: the first byte of the text after it, or one of these.
enum : int32_t {
    NoTextFollows = -1,  // the document ends in the markup
    TextUnknown = -2     // the bytes end before the markup does
};

// The reference whose "&" is at bytes[at], read as the reader reads it: its
// character's bytes in decoded and their count (ReferenceIsBlank for a blank),
// and its length up to its ";" in *length; ReferenceIsText where it is none,
// TextUnknown where the bytes end before that is told.
int32_t DecodeReferenceAt(const unsigned char* bytes, int32_t at, int32_t count, bool documentEnds, char* decoded,
                          int32_t* length)
{
    int32_t decodedLength = 0;
    const int32_t read = ReadWholeReference(bytes + at, count - at, decoded, &decodedLength);
    if (read == ReferenceNeedsMore) return documentEnds ? int32_t{ReferenceIsText} : int32_t{TextUnknown};
    if (read == ReferenceIsText) return ReferenceIsText;
    *length = read;
    return decodedLength;
}

// The first byte that a reference (its "&" at bytes[at]) gives the text.
int32_t ReferenceText(const unsigned char* bytes, int32_t at, int32_t count, bool documentEnds)
{
    char decoded[4];
    int32_t length = 0;
    const int32_t bytesOfIt = DecodeReferenceAt(bytes, at, count, documentEnds, decoded, &length);
    if (bytesOfIt == TextUnknown) return TextUnknown;
    if (bytesOfIt == ReferenceIsText) return '&';
    return bytesOfIt == ReferenceIsBlank ? ' ' : static_cast<unsigned char>(decoded[0]);
}

// Under folding, what follows a reference goes on the character before it.
constexpr int32_t TextJoins = -3;
constexpr int FoldedReferenceCapacity = FoldOutputCapacity(4);

// Under folding, the text that the reference at bytes[at] gives, folded into
// `folded`: its bytes (none for a character that folding leaves out), or
// ReferenceIsText, TextUnknown, or TextJoins for a combining mark.
int32_t FoldedReferenceText(const TextFilter& filter, const unsigned char* bytes, int32_t at, int32_t count,
                            bool documentEnds, char* folded, int32_t* length)
{
    char decoded[4];
    const int32_t bytesOfIt = DecodeReferenceAt(bytes, at, count, documentEnds, decoded, length);
    if (bytesOfIt == TextUnknown || bytesOfIt == ReferenceIsText) return bytesOfIt;
    if (bytesOfIt == ReferenceIsBlank) {
        folded[0] = ' ';
        return 1;
    }
    uint32_t codePoint = 0;
    CodePointAt(decoded, decoded + bytesOfIt, &codePoint);
    if (ContinuesCharacter(codePoint)) return TextJoins;
    return FoldCharacter(filter.folding, decoded, bytesOfIt, folded);
}

bool StartsMarkup(const unsigned char* bytes, int32_t at)
{
    const unsigned char next = bytes[at + 1];
    return IsAsciiLetter(next) || next == '/' || next == '!' || next == '?';
}

// The first byte of the text from a boundary on: markup is passed over as if
// every tag joined the text on either side (and under folding, so is a
// reference to a character that folding leaves out).
int32_t TextAfterBoundary(const TextFilter& filter, const unsigned char* bytes, int32_t at, int32_t count,
                          bool documentEnds)
{
    const int32_t unknown = documentEnds ? NoTextFollows : TextUnknown;
    for (int passed = 0; passed < 16; ++passed) {
        if (at >= count) return unknown;
        if (bytes[at] == '&' && filter.folding != CaseFoldAscii) {
            char folded[FoldedReferenceCapacity];
            int32_t length = 0;
            const int32_t text = FoldedReferenceText(filter, bytes, at, count, documentEnds, folded, &length);
            if (text == 0) {
                at += length;
                continue;
            }
            return text > 0 ? static_cast<unsigned char>(folded[0]) : text == ReferenceIsText ? '&' : text;
        }
        if (bytes[at] == '&') return ReferenceText(bytes, at, count, documentEnds);
        if (bytes[at] != '<') return bytes[at];
        if (at + 1 >= count) return documentEnds ? int32_t{'<'} : TextUnknown;
        if (!StartsMarkup(bytes, at)) return '<';
        at = MarkupEnd(bytes, at, count);
        if (at < 0) return unknown;
    }
    return TextUnknown;
}

// Whether the two bytes before bytes[at] (at > 0) could end a key's prefix.
bool PairMayEndPrefix(const TextFilter& filter, const unsigned char* bytes, int32_t at)
{
    const unsigned pair = PairIndex(at >= 2 ? bytes[at - 2] : 0, bytes[at - 1]);
    return filter.pairEnds[pair >> 6] >> (pair & 63) & 1;
}

bool PrefixMayJoin(const TextFilter& filter, const unsigned char* bytes, int32_t at, int32_t count, bool documentEnds,
                   int32_t text, bool textRead);

// Under folding, whether a key's text could run across the reference at
// bytes[at]: its character folded (dž for Ǆ) holds the start of a key, a
// prefix of a key stands before it, or it is a combining mark, which goes on
// the character before it.
bool FoldedReferenceMayJoin(const TextFilter& filter, const unsigned char* bytes, int32_t at, int32_t count,
                            bool documentEnds)
{
    const bool lookedAtAgain = !documentEnds && at >= count - BoundaryReach;
    char folded[FoldedReferenceCapacity];
    int32_t length = 0;
    const int32_t text = FoldedReferenceText(filter, bytes, at, count, documentEnds, folded, &length);
    if (text == TextUnknown) return !lookedAtAgain;
    if (text == TextJoins) return true;
    for (int32_t i = 0; i < text; ++i) {
        const unsigned char byte = static_cast<unsigned char>(folded[i]);
        if ((byte & 0xC0) != 0x80 && filter.startsKey[FoldAsciiUpper(byte)]) return true;
    }
    return PrefixMayJoin(filter, bytes, at, count, documentEnds, TextUnknown, false);
}

// Whether a key's text could run across the boundary ("<" or "&") at bytes[at]:
// a decoded reference begins it, or a prefix of it stands just before
// the boundary and the text after the boundary goes on with the key's next byte.
// A boundary whose text is not yet known is looked at again with the bytes
// after it, if the next read's carry holds it; otherwise it may join.
bool BoundaryMayJoin(const TextFilter& filter, const unsigned char* bytes, int32_t at, int32_t count, bool documentEnds)
{
    const bool lookedAtAgain = !documentEnds && at >= count - BoundaryReach;
    int32_t text = TextUnknown;
    bool textRead = false;
    // Only a number or one of a few names gives a character that may begin a key.
    if (bytes[at] == '&' && (filter.namedMayBeginKey || at + 1 >= count || bytes[at + 1] == '#')) {
        if (filter.folding != CaseFoldAscii) return FoldedReferenceMayJoin(filter, bytes, at, count, documentEnds);
        text = TextAfterBoundary(filter, bytes, at, count, documentEnds);
        textRead = true;
        if (text == TextUnknown) return !lookedAtAgain;
        if (text >= 0 && filter.startsKey[FoldAsciiUpper(static_cast<unsigned char>(text))]) return true;
    }
    return PrefixMayJoin(filter, bytes, at, count, documentEnds, text, textRead);
}

// Whether a prefix of a key stands just before the boundary at bytes[at] and
// the text after it goes on with the key's next byte (that text, when
// textRead, already read).
bool PrefixMayJoin(const TextFilter& filter, const unsigned char* bytes, int32_t at, int32_t count, bool documentEnds,
                   int32_t text, bool textRead)
{
    const bool lookedAtAgain = !documentEnds && at >= count - BoundaryReach;
    if (at == 0 || !PairMayEndPrefix(filter, bytes, at)) return false;
    const unsigned char last = FoldAsciiUpper(bytes[at - 1]);
    for (int32_t i = filter.endsOf[last]; i < filter.endsOf[last + 1]; ++i) {
        const KeyPrefix& prefix = filter.prefixes[i];
        const TextPattern& key = *filter.keys->patterns[prefix.key];
        if (prefix.length > at ||
            !StrEqualNoCaseN(reinterpret_cast<const char*>(bytes + at - prefix.length),
                             reinterpret_cast<const char*>(key.text), prefix.length))
            continue;
        if (!textRead) text = TextAfterBoundary(filter, bytes, at, count, documentEnds);
        textRead = true;
        if (text == TextUnknown) return !lookedAtAgain;
        if (text >= 0 && HasBit(prefix.next, FoldAsciiUpper(static_cast<unsigned char>(text)))) return true;
    }
    return false;
}

// An "&" before a byte that cannot go on a reference is text as it stands.
bool IsBoundary(const TextFilter& filter, const unsigned char* bytes, int32_t at, int32_t count)
{
    if (bytes[at] == '&')
        return at + 1 == count || bytes[at + 1] == '#' || IsAsciiLetter(bytes[at + 1]) || IsAsciiDigit(bytes[at + 1]);
    return bytes[at] == '<' && at > 0 && filter.endsPrefix[bytes[at - 1]];
}

// Where boundaries are so many that looking at each costs more than reading
// the text, the filter gives way: the document may show a term, and is read.
struct BoundaryBudget {
    int32_t left;  // boundaries still to be looked at closely
};
constexpr int32_t BytesPerBoundary = 8;

bool BoundariesMayJoin(const TextFilter& filter, const unsigned char* bytes, int32_t from, int32_t to, int32_t count,
                       bool documentEnds, BoundaryBudget* budget)
{
    for (int32_t at = from; at < to; ++at) {
        if (!IsBoundary(filter, bytes, at, count)) continue;
        if (--budget->left < 0 || BoundaryMayJoin(filter, bytes, at, count, documentEnds)) return true;
    }
    return false;
}

#ifdef CORV_VECTOR_X86
// The boundaries of the bytes at bytes + at (at > 0), a bit each: every "&"
// before a byte that goes on a reference ("#", a letter or a digit: another
// "&" is text as it stands), and every "<" after a byte of endsPrefix, found
// by nibble lookup (a byte's low half gives a row of bits, its high half the
// bit); 16 at a time with SSSE3, 32 with AVX2. The byte after them is read.
struct Ssse3Boundaries {
    static constexpr int32_t Width = 16;
    __attribute__((target("ssse3"))) static __m128i Below(__m128i bytes, char low, char count)
    {
        const __m128i moved = _mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(-128 - low)));
        return _mm_cmplt_epi8(moved, _mm_set1_epi8(static_cast<char>(-128 + count)));
    }
    __attribute__((target("ssse3"))) static unsigned At(const TextFilter& filter, const unsigned char* bytes, int32_t at)
    {
        const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at - 1));
        const __m128i rows = _mm_loadu_si128(reinterpret_cast<const __m128i*>(filter.lowHalves));
        const __m128i bits = _mm_loadu_si128(reinterpret_cast<const __m128i*>(filter.highBits));
        unsigned ends = ~corv_vector::ZeroBytes(corv_vector::ClassifyNibbles(before, rows, bits));
        if (filter.nonAsciiEndsPrefix) ends |= corv_vector::MaskOf(before);
        const unsigned less = corv_vector::MaskOf(_mm_cmpeq_epi8(sixteen, _mm_set1_epi8('<')));
        const unsigned ampersands = corv_vector::MaskOf(_mm_cmpeq_epi8(sixteen, _mm_set1_epi8('&')));
        if (!ampersands) return less & ends & 0xFFFF;
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at + 1));
        const __m128i goesOn = _mm_or_si128(_mm_or_si128(Below(_mm_or_si128(next, _mm_set1_epi8(0x20)), 'a', 26),
                                                         Below(next, '0', 10)),
                                            _mm_cmpeq_epi8(next, _mm_set1_epi8('#')));
        return (less & ends & 0xFFFF) | (ampersands & corv_vector::MaskOf(goesOn));
    }
};

struct Avx2Boundaries {
    static constexpr int32_t Width = 32;
    __attribute__((target("avx2"))) static __m256i Below(__m256i bytes, char low, char count)
    {
        const __m256i moved = _mm256_add_epi8(bytes, _mm256_set1_epi8(static_cast<char>(-128 - low)));
        return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(-128 + count)), moved);
    }
    __attribute__((target("avx2"))) static unsigned At(const TextFilter& filter, const unsigned char* bytes, int32_t at)
    {
        const __m256i thirtyTwo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + at));
        const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + at - 1));
        const __m256i rows = corv_vector::TwiceOver(filter.lowHalves);
        const __m256i bits = corv_vector::TwiceOver(filter.highBits);
        unsigned ends = ~corv_vector::ZeroBytes(corv_vector::ClassifyNibbles(before, rows, bits));
        if (filter.nonAsciiEndsPrefix) ends |= corv_vector::MaskOf(before);
        const unsigned less = corv_vector::MaskOf(_mm256_cmpeq_epi8(thirtyTwo, _mm256_set1_epi8('<')));
        const unsigned ampersands = corv_vector::MaskOf(_mm256_cmpeq_epi8(thirtyTwo, _mm256_set1_epi8('&')));
        if (!ampersands) return less & ends;
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + at + 1));
        const __m256i goesOn =
            _mm256_or_si256(_mm256_or_si256(Below(_mm256_or_si256(next, _mm256_set1_epi8(0x20)), 'a', 26),
                                            Below(next, '0', 10)),
                            _mm256_cmpeq_epi8(next, _mm256_set1_epi8('#')));
        return (less & ends) | (ampersands & corv_vector::MaskOf(goesOn));
    }
};

// The boundaries from `at` (above 0) on, a vector at a time, as far as those go:
// true once one may join; *at is where the rest begins.
template <typename Boundaries>
__attribute__((always_inline)) inline bool VectorBoundariesMayJoin(const TextFilter& filter, const unsigned char* bytes, int32_t* at, int32_t count,
                                                              bool documentEnds, BoundaryBudget* budget)
{
    for (; *at + Boundaries::Width < count; *at += Boundaries::Width) {
        unsigned boundaries = Boundaries::At(filter, bytes, *at);
        if (!boundaries) continue;
        if ((budget->left -= __builtin_popcount(boundaries)) < 0) return true;
        for (; boundaries; boundaries &= boundaries - 1)
            if (BoundaryMayJoin(filter, bytes, *at + __builtin_ctz(boundaries), count, documentEnds)) return true;
    }
    return false;
}

__attribute__((target("ssse3"))) bool Ssse3BoundariesMayJoin(const TextFilter& filter, const unsigned char* bytes, int32_t* at, int32_t count,
                                                        bool documentEnds, BoundaryBudget* budget)
{
    return VectorBoundariesMayJoin<Ssse3Boundaries>(filter, bytes, at, count, documentEnds, budget);
}

__attribute__((target("avx2,popcnt"))) bool Avx2BoundariesMayJoin(const TextFilter& filter, const unsigned char* bytes, int32_t* at, int32_t count,
                                                      bool documentEnds, BoundaryBudget* budget)
{
    return VectorBoundariesMayJoin<Avx2Boundaries>(filter, bytes, at, count, documentEnds, budget);
}
#endif

// Looks at every boundary from `from` on, a vector at a time where the
// processor can, within a budget of one for every BytesPerBoundary bytes.
bool AnyBoundaryMayJoin(const TextFilter& filter, const unsigned char* bytes, int32_t from, int32_t count, bool documentEnds)
{
    BoundaryBudget budget{(count - from) / BytesPerBoundary + BytesPerBoundary};
    int32_t at = from;
#ifdef CORV_VECTOR_X86
    if (filter.vectorWidth) {
        if (at == 0) {
            if (BoundariesMayJoin(filter, bytes, 0, std::min(count, 1), count, documentEnds, &budget)) return true;
            at = 1;
        }
        const bool avx2 = filter.vectorWidth == Avx2Boundaries::Width;
        if (avx2 ? Avx2BoundariesMayJoin(filter, bytes, &at, count, documentEnds, &budget)
                 : Ssse3BoundariesMayJoin(filter, bytes, &at, count, documentEnds, &budget))
            return true;
    }
#endif
    return BoundariesMayJoin(filter, bytes, at, count, count, documentEnds, &budget);
}

// The level in use: AVX2, SSSE3 on the SSE2 level (as a set's filter
// there), bytes one by one on the portable level.
int32_t VectorWidth(VectorLevel level)
{
#ifdef CORV_VECTOR_X86
    if (level == VectorAvx2) return Avx2Boundaries::Width;
    if (level == VectorSse2 && VectorHasSsse3()) return Ssse3Boundaries::Width;
#else
    (void)level;
#endif
    return 0;
}

}  // namespace

void PrepareTextFilter(TextFilter* filter, const SearchExpression& expression, VectorLevel level)
{
    CORV_CHECK_POINTER(FilterModule, filter);
    ReleaseTextFilter(filter);
    filter->folding = expression.folding;
    if (expression.termCount == 0 || !expression.termPatterns || !PrepareKeys(*filter, expression) ||
        !PrepareBoundaries(*filter)) {
        ReleaseTextFilter(filter);
        return;
    }
    // Folded, a named reference may give any letter (&eacute; is e without accents).
    if (filter->folding != CaseFoldAscii) filter->namedMayBeginKey = true;
    PreparePairs(*filter);
    for (int high = 0; high < 8; ++high) filter->highBits[high] = static_cast<unsigned char>(1u << high);
    filter->vectorWidth = VectorWidth(level);
    filter->ready = true;
}

void ReleaseTextFilter(TextFilter* filter)
{
    CORV_CHECK_POINTER(FilterModule, filter);
    if (filter->ownSet) MemFree(&filter->ownSet, static_cast<int32_t>(sizeof(PatternSet)), FilterModule, __LINE__);
    if (filter->ownKeys)
        MemFree(&filter->ownKeys, filter->ownCount * static_cast<int32_t>(sizeof(TextPattern)), FilterModule, __LINE__);
    *filter = TextFilter{};
}

bool MayShowTerm(const TextFilter& filter, const char* bytes, int32_t count, int32_t carried, bool documentEnds)
{
    CORV_CHECK_POINTER(FilterModule, bytes);
    if (!filter.ready) return true;
    bool found = false;
    FindPatternSet(filter.keys, bytes, bytes + count, NoteFound, &found);
    // The boundaries carried were looked at before, but for those cut then.
    const int32_t from = std::max(0, carried - BoundaryReach);
    return found || AnyBoundaryMayJoin(filter, reinterpret_cast<const unsigned char*>(bytes), from, count, documentEnds);
}

namespace {

// Fake punctuation: ASCII that folding wrote for other characters, which
// the filter must not read as markup (no key holds it).
void HidePunctuation(char* bytes, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        i += NonAsciiPrefixLength(bytes + i, count - i);  // most stretches hold nothing else
        if (i == count) break;
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80 && !IsAsciiLetter(byte) && !IsAsciiDigit(byte)) bytes[i] = static_cast<char>(FoldedPunctuation);
    }
}

// Whether the byte past ASCII at `at` was cut from its character by
// markup, or begins a character that goes on the one before it.
bool ContinuesAfterMarkup(const char* at, const char* end)
{
    uint32_t codePoint = 0;
    return static_cast<unsigned char>(*at) < 0xC0 || (CodePointAt(at, end, &codePoint) > 0 && ContinuesCharacter(codePoint));
}

// Under folding: a byte that markup cut from its character, or a character
// that goes on the one before it, right after a tag's or a reference's end
// (at bytes[from] or later). Only ends followed by a byte past ASCII are
// looked at closer, found 16 at a time.
bool MarkFollowsMarkup(const char* bytes, int32_t from, int32_t count)
{
    int32_t end = from;
#ifdef CORV_VECTOR_X86
    for (; end + 17 <= count; end += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + end));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + end + 1));
        const __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(here, _mm_set1_epi8('>')), _mm_cmpeq_epi8(here, _mm_set1_epi8(';')));
        for (unsigned found = static_cast<unsigned>(_mm_movemask_epi8(ends) & _mm_movemask_epi8(next)); found; found &= found - 1)
            if (ContinuesAfterMarkup(bytes + end + __builtin_ctz(found) + 1, bytes + count)) return true;
    }
#endif
    for (; end + 1 < count; ++end)
        if ((bytes[end] == '>' || bytes[end] == ';') && static_cast<unsigned char>(bytes[end + 1]) >= 0x80 &&
            ContinuesAfterMarkup(bytes + end + 1, bytes + count))
            return true;
    return false;
}

void KeepCarry(FoldedFilterWindow* window, const char* bytes, int32_t count)
{
    const int32_t kept = std::min(count, TextFilterCarry);
    memmove(window->bytes, bytes + count - kept, static_cast<size_t>(kept));
    window->kept = kept;
}

}  // namespace

void StartFoldedFilterWindow(FoldedFilterWindow* window, CaseFolding folding, char* room)
{
    CORV_CHECK_POINTER(FilterModule, window);
    CORV_CHECK_POINTER(FilterModule, room);
    // Punctuation and blanks outside ASCII may stand as written: no key holds
    // what they fold to, and as bytes past ASCII they stand for no markup.
    StartFolding(&window->fold, folding, true);
    window->bytes = room;
    window->kept = 0;
}

bool FoldedFirstMayShowTerm(const TextFilter& filter, FoldedFilterWindow* window, const char* bytes, int32_t count)
{
    CORV_CHECK_POINTER(FilterModule, bytes);
    if (!filter.ready) return true;
    const bool plain = FoldTakeAscii(&window->fold, bytes, count);
    const int32_t length = plain ? count : FoldApart(&window->fold, bytes, count, window->bytes, HidePunctuation);
    const char* looked = plain ? bytes : window->bytes;
    const bool may = MayShowTerm(filter, looked, length, 0, false) ||
                     (window->fold.marksTaken > 0 && MarkFollowsMarkup(looked, 0, length));
    KeepCarry(window, looked, length);
    return may;
}

char* FoldedFilterSpace(FoldedFilterWindow* window) { return window->bytes + window->kept; }

bool FoldedNextMayShowTerm(const TextFilter& filter, FoldedFilterWindow* window, int32_t count, bool documentEnds,
                           char* scratch)
{
    CORV_CHECK_POINTER(FilterModule, scratch);
    if (!filter.ready) return true;
    char* space = FoldedFilterSpace(window);
    // Only where the folder took a mark or a byte that is no UTF-8, or held
    // one back from before, could one follow markup.
    const bool heldBefore = window->fold.heldCount > 0 || window->fold.pendingLength > 0;
    const int64_t marksBefore = window->fold.marksTaken;
    int32_t length = FoldInPlace(&window->fold, space, count, scratch, HidePunctuation);
    if (documentEnds) {
        const int32_t held = FinishFolding(&window->fold, space + length, nullptr);
        HidePunctuation(space + length, held);
        length += held;
    }
    const int32_t total = window->kept + length;
    const bool may = MayShowTerm(filter, window->bytes, total, window->kept, documentEnds) ||
                     ((heldBefore || window->fold.marksTaken != marksBefore) &&
                      MarkFollowsMarkup(window->bytes, std::max(0, window->kept - 1), total));
    KeepCarry(window, window->bytes, total);
    return may;
}
