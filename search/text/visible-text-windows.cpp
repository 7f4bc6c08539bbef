// filesrch: the visible-text reader's vector engine. Text and tags, most of a
// document, are read through masks of a window of the piece (a bit a byte for
// each kind of byte that matters), made 32 bytes at a time with AVX2 or 16 at
// a time with SSE2: the tags of 64 bytes are found at once with carries
// through the masks, and only their names are looked at one by one. To that
// reading a window's end is a piece's end. What the masks cannot tell, and
// what is rare (comments, references when decoding, raw contents), the state
// machine reads.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "corv-vector-kernels.h"
#include "visible-text-internal.h"

#ifdef CORV_VECTOR_X86

// The masks and the tag names count a word's first byte as its lowest.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the masks need the first byte lowest");

using namespace visible_text_internal;

namespace {

// A piece is read in windows of up to this many bytes, in blocks of 64.
constexpr size_t WindowBytes = 4096;
constexpr size_t BlockBytes = 64;
constexpr int BlockShift = 6;
// The blocks of a window, and one past them (a name's bits may be taken from it).
constexpr size_t WindowBlocks = WindowBytes / BlockBytes + 1;

// A block's bytes of each kind, a bit a byte, its first byte lowest.
struct BlockMasks {
    uint64_t tagStart;  // "<" before a letter, "/", "!" or "?"
    uint64_t markupStart;  // "<" before "!" or "?"
    uint64_t greater;
    uint64_t doubleQuote;
    uint64_t singleQuote;
    uint64_t equals;
    uint64_t blank;
    uint64_t respace;    // blanks but the space: written as a space
    uint64_t nameEnd;    // blanks, "/" and ">"
    uint64_t ampersand;  // when decoding, before "#", a letter or a digit: where a reference may begin
};

struct WindowMasks {
    const unsigned char* bytes;
    size_t length;
    bool misread;  // from some point on the masks cannot tell the tags
    BlockMasks blocks[WindowBlocks];
    // Read for main content: a blank, "/" or quote before "r" or "d", where
    // an attribute that main content reads may begin.
    uint64_t attributeStarts[WindowBlocks];
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

// Which of 16 bytes are ASCII letters or digits (what a reference's name or number is made of).
uint64_t NameByteMask(__m128i sixteen)
{
    const __m128i letter = InRange(_mm_or_si128(sixteen, _mm_set1_epi8(0x20)), 'a', 26);
    return MaskOf(_mm_or_si128(letter, InRange(sixteen, '0', 10)));
}

// Adds the masks of 16 bytes at `shift`, the byte after each in `next`.
void ClassifySixteen(__m128i bytes, __m128i next, __m128i decode, int shift, BlockMasks* masks)
{
    const __m128i bangOrQuestion = _mm_or_si128(Equal(next, '!'), Equal(next, '?'));
    const __m128i letter = InRange(_mm_or_si128(next, _mm_set1_epi8(0x20)), 'a', 26);
    const __m128i nameFirst = _mm_or_si128(_mm_or_si128(letter, bangOrQuestion), Equal(next, '/'));
    const __m128i referenceGoesOn = _mm_or_si128(_mm_or_si128(letter, InRange(next, '0', 10)), Equal(next, '#'));
    // tab, line feed, form feed and carriage return: 9 to 13 but 11
    const __m128i respace = _mm_andnot_si128(Equal(bytes, '\v'), InRange(bytes, 9, 5));
    const __m128i blank = _mm_or_si128(Equal(bytes, ' '), respace);
    const __m128i greater = Equal(bytes, '>');
    const __m128i less = Equal(bytes, '<');
    masks->tagStart |= MaskOf(_mm_and_si128(less, nameFirst)) << shift;
    masks->markupStart |= MaskOf(_mm_and_si128(less, bangOrQuestion)) << shift;
    masks->greater |= MaskOf(greater) << shift;
    masks->doubleQuote |= MaskOf(Equal(bytes, '"')) << shift;
    masks->singleQuote |= MaskOf(Equal(bytes, '\'')) << shift;
    masks->equals |= MaskOf(Equal(bytes, '=')) << shift;
    masks->blank |= MaskOf(blank) << shift;
    masks->respace |= MaskOf(respace) << shift;
    masks->nameEnd |= MaskOf(_mm_or_si128(_mm_or_si128(greater, blank), Equal(bytes, '/'))) << shift;
    masks->ampersand |= MaskOf(_mm_and_si128(_mm_and_si128(Equal(bytes, '&'), referenceGoesOn), decode)) << shift;
}

// Read for main content, of 16 bytes: a blank, "/" or quote before "ro" or
// "da" in any case, where role or a data-trawlex- attribute may begin.
uint64_t AttributeStartsOf(const unsigned char* at)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i first = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1)), _mm_set1_epi8(0x20));
    const __m128i second = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 2)), _mm_set1_epi8(0x20));
    const __m128i name = _mm_or_si128(_mm_and_si128(Equal(first, 'r'), Equal(second, 'o')),
                                      _mm_and_si128(Equal(first, 'd'), Equal(second, 'a')));
    const __m128i blank = _mm_or_si128(Equal(bytes, ' '), _mm_andnot_si128(Equal(bytes, '\v'), InRange(bytes, 9, 5)));
    const __m128i before = _mm_or_si128(_mm_or_si128(blank, Equal(bytes, '/')),
                                        _mm_or_si128(Equal(bytes, '"'), Equal(bytes, '\'')));
    return MaskOf(_mm_and_si128(name, before));
}

struct Sse2 {
    template <bool Main>
    static void Classify(WindowMasks* masks, size_t count, bool decode)
    {
        const __m128i decoding = _mm_set1_epi8(decode ? -1 : 0);
        for (size_t block = 0; block < count; ++block) {
            const unsigned char* bytes = BlockBytesAt(*masks, block);
            BlockMasks bits{};
            uint64_t attributeStart = 0;
            for (int part = 0; part < static_cast<int>(BlockBytes); part += 16) {
                const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + part));
                const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + part + 1));
                ClassifySixteen(sixteen, next, decoding, part, &bits);
                if (Main) attributeStart |= AttributeStartsOf(bytes + part) << part;
            }
            masks->blocks[block] = bits;
            if (Main) masks->attributeStarts[block] = attributeStart;
        }
    }

    static uint64_t PrefixParity(uint64_t bits) { return ShiftedParity(bits); }

    // A block's ASCII letters and digits, the bytes a reference's name or
    // number is made of, and its ";" bytes.
    static uint64_t NameBytesOf(const unsigned char* bytes, uint64_t* semicolons)
    {
        uint64_t names = 0;
        *semicolons = 0;
        for (int part = 0; part < static_cast<int>(BlockBytes); part += 16) {
            const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + part));
            names |= NameByteMask(sixteen) << part;
            *semicolons |= MaskOf(Equal(sixteen, ';')) << part;
        }
        return names;
    }

    // Which of the candidates at `to` have their end at a bit of `bits`,
    // their ends at `from` in the same order: told one by one.
    static uint64_t EndingIn(uint64_t bits, uint64_t from, uint64_t to)
    {
        uint64_t ending = 0;
        for (; from; from &= from - 1, to &= to - 1) ending |= (bits & LowestBit(from)) ? LowestBit(to) : 0;
        return ending;
    }

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

    // As ClassifySixteen, for 32 bytes; for main content, also AttributeStartsOf
    // them, the bytes two on in `second`.
    template <bool Main>
    __attribute__((target("avx2"))) static void ClassifyThirtyTwo(__m256i bytes, __m256i next, __m256i second,
                                                                  __m256i decode, int shift, BlockMasks* masks,
                                                                  uint64_t* attributeStart)
    {
        const __m256i kinds = KindsOf(bytes);
        const uint64_t bangOrQuestion = MaskOf(_mm256_or_si256(Equal(next, '!'), Equal(next, '?')));
        const __m256i letter = InRange(_mm256_or_si256(next, _mm256_set1_epi8(0x20)), 'a', 26);
        const uint64_t nameFirst = MaskOf(_mm256_or_si256(letter, Equal(next, '/'))) | bangOrQuestion;
        const __m256i referenceGoesOn =
            _mm256_or_si256(_mm256_or_si256(letter, InRange(next, '0', 10)), Equal(next, '#'));
        const uint64_t greater = BytesOf<GreaterKind>(kinds), respace = BytesOf<RespaceKind>(kinds);
        const uint64_t blank = BytesOf<SpaceKind>(kinds) | respace;
        const uint64_t less = BytesOf<LessKind>(kinds);
        masks->tagStart |= (less & nameFirst) << shift;
        masks->markupStart |= (less & bangOrQuestion) << shift;
        masks->greater |= greater << shift;
        masks->doubleQuote |= BytesOf<QuoteKind>(kinds) << shift;
        masks->singleQuote |= BytesOf<ApostropheKind>(kinds) << shift;
        masks->equals |= BytesOf<EqualsKind>(kinds) << shift;
        masks->blank |= blank << shift;
        masks->respace |= respace << shift;
        masks->nameEnd |= (blank | greater | BytesOf<SlashKind>(kinds)) << shift;
        masks->ampersand |= MaskOf(_mm256_and_si256(_mm256_and_si256(Equal(bytes, '&'), referenceGoesOn), decode)) << shift;
        if (!Main) return;
        const __m256i low = _mm256_set1_epi8(0x20);
        const __m256i first = _mm256_or_si256(next, low), then = _mm256_or_si256(second, low);
        const uint64_t name = MaskOf(_mm256_or_si256(_mm256_and_si256(Equal(first, 'r'), Equal(then, 'o')),
                                                     _mm256_and_si256(Equal(first, 'd'), Equal(then, 'a'))));
        const uint64_t before =
            blank | BytesOf<SlashKind>(kinds) | BytesOf<QuoteKind>(kinds) | BytesOf<ApostropheKind>(kinds);
        *attributeStart |= (name & before) << shift;
    }

    template <bool Main>
    __attribute__((target("avx2"))) static void Classify(WindowMasks* masks, size_t count, bool decode)
    {
        const __m256i decoding = _mm256_set1_epi8(decode ? -1 : 0);
        for (size_t block = 0; block < count; ++block) {
            const unsigned char* bytes = BlockBytesAt(*masks, block);
            BlockMasks bits{};
            uint64_t attributeStart = 0;
            for (int part = 0; part < static_cast<int>(BlockBytes); part += 32) {
                const __m256i thirtyTwo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + part));
                const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + part + 1));
                const __m256i second =
                    Main ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + part + 2)) : next;
                ClassifyThirtyTwo<Main>(thirtyTwo, next, second, decoding, part, &bits, &attributeStart);
            }
            masks->blocks[block] = bits;
            if (Main) masks->attributeStarts[block] = attributeStart;
        }
    }

    // As the SSE2 NameBytesOf, 32 bytes at a time.
    __attribute__((target("avx2"))) static uint64_t NameBytesOf(const unsigned char* bytes, uint64_t* semicolons)
    {
        uint64_t names = 0;
        *semicolons = 0;
        for (int part = 0; part < static_cast<int>(BlockBytes); part += 32) {
            const __m256i thirtyTwo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + part));
            const __m256i letter = InRange(_mm256_or_si256(thirtyTwo, _mm256_set1_epi8(0x20)), 'a', 26);
            names |= MaskOf(_mm256_or_si256(letter, InRange(thirtyTwo, '0', 10))) << part;
            *semicolons |= MaskOf(Equal(thirtyTwo, ';')) << part;
        }
        return names;
    }

    // A carry-less product with all ones.
    __attribute__((target("pclmul"))) static uint64_t PrefixParity(uint64_t bits)
    {
        const __m128i product =
            _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_set1_epi8(-1), 0);
        return static_cast<uint64_t>(_mm_cvtsi128_si64(product));
    }

    // As the SSE2 EndingIn, at once: the bits at the ends gathered in order
    // and spread to the candidates.
    __attribute__((target("bmi2"))) static uint64_t EndingIn(uint64_t bits, uint64_t from, uint64_t to)
    {
        return _pdep_u64(_pext_u64(bits, from), to);
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

template <typename Simd, bool Main>
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
    Simd::template Classify<Main>(masks, count, decode);
    masks->blocks[count] = BlockMasks{};
    // A tag's name is read in eight bytes after its "<" or "</".
    const size_t lastBytes = length - (length < 2 + NameBytes ? length : 2 + NameBytes);
    masks->lastBlock = lastBytes >> BlockShift;
    masks->lastLess[0] = masks->lastLess[1] = 0;
    for (size_t at = lastBytes; at < length; ++at) {
        if (bytes[at] != '<') continue;
        masks->lastLess[(at >> BlockShift) - masks->lastBlock] |= uint64_t{1} << (at & (BlockBytes - 1));
    }
    // What follows the window's last byte is not known: an "&" there may begin a reference.
    if (decode && bytes[length - 1] == '&')
        masks->blocks[(length - 1) >> BlockShift].ampersand |= uint64_t{1} << ((length - 1) & (BlockBytes - 1));
}

// The nameEnd bits of the block at `first` and of the next, the first lowest:
// a name's end bits are taken from them by one double-width shift (shrd),
// held in registers for all the block's tags.
using TwoBlocks = unsigned __int128;

__attribute__((always_inline)) inline TwoBlocks NameEndsOfBlocks(const WindowMasks& masks, size_t first)
{
    const BlockMasks* const blocks = masks.blocks + (first >> BlockShift);
    return TwoBlocks{blocks[1].nameEnd} << BlockBytes | blocks[0].nameEnd;
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

// The key of the tag name at `start`, of which eight bytes can be read, its
// nameEnd bits from it on in `ends`. The name runs to a blank, "/" or ">", so
// it may take in "=" or a quote that the byte-by-byte reading ends it at:
// either way, such a name is no known name, as known names are of letters
// only (see NameKey), and no element's name (see ElementNameOf).
__attribute__((always_inline)) inline uint64_t NameKeyAt(const unsigned char* start, uint64_t ends)
{
    constexpr uint64_t KeyBits = 0x2020202020202020;  // NameKeyByte on every byte
    const int length = __builtin_ctzll(ends | 0x100);
    uint64_t name;
    memcpy(&name, start, sizeof name);
    return length > NameBytes ? LongNameKey : (name | KeyBits) & LeadingBytes[length];
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

// Past the ">" in the next block of a tag at `at` that runs on past the
// block at `first`, where the masks read that block's part of it as they
// read this one's, with nothing to go back to its "<" for: no apostrophe,
// tag start or attribute start before the ">", and the tag's double quotes
// paired, each value's first right after "="; else 0.
__attribute__((always_inline)) inline size_t StraddlingTagEnd(const WindowMasks& masks, size_t first, size_t at)
{
    const size_t block = first >> BlockShift;
    const BlockMasks& next = masks.blocks[block + 1];
    if (!next.greater) return 0;
    const uint64_t before = LowestBit(next.greater) - 1;
    if ((next.singleQuote | next.tagStart | masks.attributeStarts[block + 1]) & before) return 0;
    const size_t greater = first + BlockBytes + static_cast<size_t>(__builtin_ctzll(next.greater));
    bool inValue = false;
    for (size_t byte = at + 1; byte < greater; ++byte) {
        if (masks.bytes[byte] != '"') continue;
        if (!inValue && masks.bytes[byte - 1] != '=') return 0;
        inValue = !inValue;
    }
    return inValue ? 0 : greater + 1;
}

// Read for main content, past the ">" of a tag at `at` in the block at
// `first`, where the masks tell it: in the block, or in the next as
// StraddlingTagEnd tells; else 0.
__attribute__((always_inline)) inline size_t CountableTagEnd(const WindowMasks& masks, size_t first, size_t at,
                                                             uint64_t greater)
{
    const uint64_t ends = greater & ~BitsBelow(at - first + 1);
    return ends ? first + static_cast<size_t>(__builtin_ctzll(ends)) + 1 : StraddlingTagEnd(masks, first, at);
}

// A tag counted where it stands that runs on past its block: the reading
// goes on past its ">" if the next block is read byte by byte.
__attribute__((always_inline)) inline void NoteStraddle(size_t first, size_t end, size_t* straddleEnd)
{
    if (end > first + BlockBytes) *straddleEnd = end;
}

// Read for main content, a tag at `at` in the block at `first` of a followed
// element's name: counted where it stands, or taken by the state machine (a
// tag that runs on past the block among them, unless the next block shows
// its end: see NoteStraddle).
__attribute__((always_inline)) inline bool TakesFollowedTag(const WindowMasks& masks, size_t first, size_t at,
                                                            uint64_t greater, uint64_t key, bool closing,
                                                            VisibleTextReader* reader, size_t* straddleEnd)
{
    const size_t end = CountableTagEnd(masks, first, at, greater);
    if (end == 0) return true;
    const bool mayCloseItself = masks.bytes[end - 2] == '/';
    const int counted = CountFollowedTag(reader, key, closing, mayCloseItself);
    if (counted == CountedHere) NoteStraddle(first, end, straddleEnd);
    return counted == TakenByStateMachine;
}

// The sectioning elements whose tags only count how many are open (what a
// header or footer inside them is): <nav> and <main> do more.
constexpr uint64_t CountedSectionKeys[] = {NameKey("article"), NameKey("aside"), NameKey("section")};
constexpr int CountedSections[] = {SectionArticle, SectionAside, SectionSection};
constexpr int CountedSectionNames = sizeof CountedSections / sizeof CountedSections[0];

// Read for main content, a landmark's tag at `at` in the block at `first`,
// which holds no attribute that main content reads (its attributes were
// looked for first): an article, aside or section tag of a name no followed
// element has is counted where it stands, as the state machine would count
// it, unless it may close itself (then it counts nothing) or the masks do
// not tell its end; the state machine takes the others.
__attribute__((always_inline)) inline bool TakesLandmarkTag(const WindowMasks& masks, size_t first, size_t at,
                                                            uint64_t greater, uint64_t key, bool closing,
                                                            VisibleTextReader* reader, size_t* straddleEnd)
{
    int section = 0;
    while (section < CountedSectionNames && CountedSectionKeys[section] != key) ++section;
    if (section == CountedSectionNames) return true;
    const size_t end = CountableTagEnd(masks, first, at, greater);
    if (end == 0 || (!closing && masks.bytes[end - 2] == '/')) return true;
    int64_t& open = reader->sections[CountedSections[section]];
    if (!closing) ++open;
    else if (open > 0) --open;
    NoteStraddle(first, end, straddleEnd);
    return false;
}

// Whether the "<!" at `at`, in the block at `first`, opens a comment whose
// "-->" is the first ">" after it in the block: the masks read it as a tag
// then (or tell that they cannot, as for any tag), one that joins the text
// on either side, as the byte-by-byte reading reads a comment. (A comment's
// "-->" begins after its "<!--".)
__attribute__((always_inline)) inline bool CommentInBlock(const WindowMasks& masks, uint64_t greater, size_t first,
                                                          size_t at)
{
    const size_t start = at - first;
    const uint64_t after = greater & ~BitsBelow(start + 1);
    if (!after) return false;
    const size_t end = static_cast<size_t>(__builtin_ctzll(after));
    const unsigned char* const bytes = masks.bytes + first;
    return end >= start + 6 && bytes[start + 2] == '-' && bytes[start + 3] == '-' && bytes[end - 2] == '-' &&
           bytes[end - 1] == '-';
}

// The "<!" and "<?" tags among `starts` in the block at `first`: a comment
// that the block holds joins the text on either side; the first other one is
// a stop, added to *stops. Returns the tags before that stop that are not
// these, whose names are read.
__attribute__((always_inline)) inline uint64_t NamedTags(const WindowMasks& masks, size_t first, uint64_t starts,
                                                         uint64_t greater, uint64_t* stops)
{
    const uint64_t markup = starts & masks.blocks[first >> BlockShift].markupStart;
    for (uint64_t left = markup; left; left &= left - 1) {
        const size_t at = first + static_cast<size_t>(__builtin_ctzll(left));
        if (masks.bytes[at + 1] == '!' && CommentInBlock(masks, greater, first, at)) continue;
        *stops |= LowestBit(left);
        return starts & ~markup & (LowestBit(left) - 1);
    }
    return starts & ~markup;
}

// The name of a tag read through the masks, and the last one's: most often
// the same (its end tag, a list's items). (No name's key is 1: its one byte
// would be below 0x20.)
struct TagName {
    uint64_t key;
    bool followed;
};

// Whether the byte-by-byte reading takes the tag at `at` in the block at
// `first`, of this name and kind: one that opens raw contents, and for main
// content, one whose name may count (counted here where it can be).
template <bool Main>
__attribute__((always_inline)) inline bool TakesTag(const WindowMasks& masks, size_t first, size_t at, uint64_t greater,
                                                    uint64_t key, unsigned char kind, bool closing,
                                                    VisibleTextReader* reader, bool followsSome, TagName* last,
                                                    size_t* straddleEnd)
{
    // Which elements are followed changes only where the state machine
    // reads (no tag counted here starts or ends following one): most pages
    // follow none, or one a few tags apart.
    const bool followedName = Main && followsSome && (key == last->key ? last->followed : FollowsName(reader, key));
    *last = TagName{key, followedName};
    const bool counts =
        Main && (kind == LandmarkName
                     ? followedName || TakesLandmarkTag(masks, first, at, greater, key, closing, reader, straddleEnd)
                     : followedName && TakesFollowedTag(masks, first, at, greater, key, closing, reader, straddleEnd));
    return OpensRawContents(kind, closing) || counts;
}

// As BlankTags, read for main content where an element is followed (most
// often the main content itself): there each tag's name is compared with
// the followed ones, and most often the same as the last one's (its end tag,
// a list's items), so the last name's kind and whether it is followed are
// taken again, each tag's first byte telling what it is. Kept out of the
// window's reader: inlined there, its loop kept its state on the stack, and
// how fast that ran changed with where the program was loaded (one request
// in two read real documentation's main content about a fifth slower).
__attribute__((noinline)) uint64_t FollowedBlankTags(const WindowMasks& masks, size_t first, uint64_t starts,
                                                     uint64_t greater, VisibleTextReader* reader, uint64_t* stops,
                                                     size_t* straddleEnd)
{
    const TwoBlocks nameEnds = NameEndsOfBlocks(masks, first);
    uint64_t blankTags = 0;
    TagName last{1, false};
    unsigned char lastKind = OtherName;
    for (; starts; starts &= starts - 1) {
        const uint64_t bit = LowestBit(starts);
        const size_t at = first + static_cast<size_t>(__builtin_ctzll(starts));
        const unsigned char next = masks.bytes[at + 1];
        if (next == '!' && CommentInBlock(masks, greater, first, at)) continue;
        if (next == '!' || next == '?') {
            *stops |= bit;
            break;
        }
        const bool closing = next == '/';
        const size_t name = at - first + 1 + closing;
        const uint64_t key = NameKeyAt(masks.bytes + first + name, static_cast<uint64_t>(nameEnds >> name));
        const unsigned char kind = key == last.key ? lastKind : KindOfName(key);
        lastKind = kind;
        if (TakesTag<true>(masks, first, at, greater, key, kind, closing, reader, true, &last, straddleEnd)) {
            *stops |= bit;
            break;
        }
        blankTags |= kind != InlineName ? bit : 0;
    }
    return blankTags;
}

// The names of the tags that start at `starts` in the block at `first`:
// returns those that stand as a blank, up to the first that the byte-by-byte
// reading takes, which is added to *stops: "<!" and "<?" tags (but comments
// that the block holds), and those TakesTag tells. On markup that changes
// from tag to tag (comments among inline and block tags), a branch on each
// tag's kind is mispredicted half the time: the "<!" tags are told first
// (NamedTags), an end tag by the masks, each name's kind looked up whatever
// the last, and one compare of it passes over the tags that neither open raw
// contents nor may count (no element being followed).
template <bool Main>
__attribute__((always_inline)) inline uint64_t BlankTags(const WindowMasks& masks, size_t first, uint64_t starts,
                                                         uint64_t greater, VisibleTextReader* reader, bool followsSome,
                                                         uint64_t* stops, size_t* straddleEnd)
{
    static_assert(ScriptName < StyleName && StyleName < HeadName && HeadName < LandmarkName &&
                      OtherName < ScriptName && InlineName < ScriptName,
                  "the kinds that may be taken come last");
    if (!starts) return 0;
    if (Main && followsSome) return FollowedBlankTags(masks, first, starts, greater, reader, stops, straddleEnd);
    uint64_t blankTags = 0;
    starts = NamedTags(masks, first, starts, greater, stops);
    const TwoBlocks nameEnds = NameEndsOfBlocks(masks, first);
    // After "<", a name ends at once only at the "/" of an end tag.
    const uint64_t closings = starts & static_cast<uint64_t>(nameEnds >> 1);
    TagName last{1, false};
    for (; starts; starts &= starts - 1) {
        const uint64_t bit = LowestBit(starts);
        const size_t at = first + static_cast<size_t>(__builtin_ctzll(starts));
        const bool closing = (closings & bit) != 0;
        const size_t name = at - first + 1 + closing;
        const uint64_t key = NameKeyAt(masks.bytes + first + name, static_cast<uint64_t>(nameEnds >> name));
        const unsigned char kind = KindOfName(key);
        if (kind >= ScriptName &&
            TakesTag<Main>(masks, first, at, greater, key, kind, closing, reader, false, &last, straddleEnd)) {
            *stops |= bit;
            break;
        }
        blankTags |= kind != InlineName ? bit : 0;
    }
    return blankTags;
}

// Inside an element left out, a role attribute changes what its tag does
// only where a token marks main content: where no "m" follows it in its tag
// (up to the first ">", as the masks read tags), the tag counts as one
// without it.
__attribute__((always_inline)) inline bool RoleLeftOutAt(const WindowMasks& masks, size_t name,
                                                         const VisibleTextReader* reader)
{
    if (reader->hidden.depth == 0 || (masks.bytes[name] | 0x20) != 'r') return false;
    for (size_t at = name; at < masks.length; ++at) {
        if ((masks.bytes[at] | 0x20) == 'm') return false;
        if (masks.bytes[at] == '>') return true;
    }
    return false;
}

// Read for main content: the "<" of the first tag of the block at `first`
// that holds an attribute that main content reads (attributes: the bytes
// before where one may begin), as a bit of the block, 0 for none, or all
// ones where that tag began in an earlier block.
__attribute__((always_inline)) inline uint64_t AttributeTag(const WindowMasks& masks, size_t first,
                                                            uint64_t attributes, uint64_t starts,
                                                            const VisibleTextReader* reader)
{
    for (; attributes; attributes &= attributes - 1) {
        const int before = __builtin_ctzll(attributes);
        const size_t name = first + static_cast<size_t>(before) + 1;
        if (!MayBeMainAttribute(masks.bytes + name, static_cast<int64_t>(masks.length - name)) ||
            RoleLeftOutAt(masks, name, reader))
            continue;
        const uint64_t earlier = starts & BitsBelow(static_cast<size_t>(before) + 1);
        return earlier ? uint64_t{1} << (BlockBytes - 1 - __builtin_clzll(earlier)) : ~uint64_t{0};
    }
    return 0;
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

// A block's references read at once, as WriteBlockText writes them: the
// block's bytes with each reference's character at its "&", and the rest of
// its bytes taken as none.
struct BlockReferences {
    bool used;
    unsigned char bytes[2 * BlockBytes];
    uint64_t skipped;  // the rest of each reference's bytes
    uint64_t blanks;   // the "&" of each reference that decodes to a blank
    size_t skipNext;   // bytes of the next block that the last reference takes
};

// The ends of a block's candidates, found at once, which costs less than
// finding even one's end byte by byte: a candidate's name (or its number's
// digits, after "&#") is a run of ASCII letters and digits, and adding the
// run's first bit to the block's mask of such bytes carries past its last, to
// the byte that tells whether it may be a reference (";").
struct CandidateEnds {
    uint64_t known;     // the candidates whose end is in the block and the window
    uint64_t ends;      // the byte after each known candidate's run
    uint64_t text;      // the known candidates whose end is no ";": text for sure
    uint64_t numbered;  // "&" before "#" (or a name byte in the next block)
};

template <typename Simd>
__attribute__((always_inline)) inline CandidateEnds EndsOfCandidates(const unsigned char* bytes, uint64_t ampersands,
                                                                     uint64_t inWindow)
{
    uint64_t semicolons;
    const uint64_t names = Simd::NameBytesOf(bytes, &semicolons);
    // A candidate is "&" before a name byte or "#"; a run past the block is not known.
    const uint64_t named = ampersands & (names >> 1) & BitsBelow(BlockBytes - 1);
    const uint64_t numbered = ampersands & ~(names >> 1) & BitsBelow(BlockBytes - 2);
    uint64_t sum;
    const bool carried = __builtin_add_overflow(names, named << 1 | numbered << 2, &sum);
    const uint64_t ends = sum & ~names;
    uint64_t known = named | numbered;
    // Only the last candidate's run can reach the block's end or the window's.
    if (known && (carried || (ends & ~inWindow))) known &= ~(uint64_t{1} << (BlockBytes - 1 - __builtin_clzll(known)));
    const uint64_t knownEnds = ends & inWindow;
    // A run of one byte or none after "&" or "&#" (no name is of one byte) is
    // text whatever ends it.
    const uint64_t shortRun = ~(names >> 2);
    return CandidateEnds{known, knownEnds, known & (shortRun | ~Simd::EndingIn(semicolons, knownEnds, known)),
                         ampersands & ~(names >> 1)};
}

// The value of the decimal digits of bytes [from, to), at most one above the
// largest code point; -1 where one is no digit.
__attribute__((always_inline)) inline int32_t DecimalValue(const unsigned char* bytes, int from, int to)
{
    constexpr int32_t Beyond = 0x10FFFF + 1;
    int32_t value = 0;
    for (int at = from; at < to; ++at) {
        const unsigned digit = bytes[at] - unsigned{'0'};
        if (digit > 9) return -1;
        value = value < Beyond ? value * 10 + static_cast<int32_t>(digit) : Beyond;
    }
    return value;
}

// The end of the run of ASCII letters and digits from bytes[at + from] (after
// "&" or "&#" at bytes[at]), found in the 32 bytes from the "&" at once: at
// most at + 32, where the limit makes the candidate text.
__attribute__((always_inline)) inline int RunEndFrom(const unsigned char* bytes, int at, int from)
{
    static_assert(VisibleTextReferenceLimit == 32, "the run is looked for in the limit's bytes");
    uint64_t names = 0;
    for (int part = 0; part < VisibleTextReferenceLimit; part += 16)
        names |= NameByteMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at + part))) << part;
    return at + from + __builtin_ctzll(~(names >> from));
}

// The candidate at `at` of a block (its bytes, of which 128 can be read)
// whose run ends at `end`, read as ReadWholeReference reads it (`whole`, of
// `left` bytes, is where the window has it): a name or decimal number is
// decoded from its end.
__attribute__((always_inline)) inline int32_t DecodeRun(const unsigned char* bytes, int at, int end,
                                                        const unsigned char* whole, int32_t left, char* decoded,
                                                        int32_t* decodedLength)
{
    const int length = end - at - 1;
    if (end - at >= VisibleTextReferenceLimit) return ReferenceIsText;  // as the byte-by-byte reading gives up
    if (bytes[at + 1] != '#') {
        if (length > static_cast<int>(sizeof(uint64_t))) return ReferenceIsText;  // longer than any name
        uint64_t name;
        memcpy(&name, bytes + at + 1, sizeof name);
        const int found = DecodeNameNumber(name & LeadingBytes[length], decoded);
        *decodedLength = found > 0 ? found : 0;
        return found == ReferenceIsText ? int32_t{ReferenceIsText} : length + 2;
    }
    const int32_t value = end > at + 2 ? DecimalValue(bytes, at + 2, end) : -1;
    if (value >= 0) {
        const int found = DecodeNumber(value, decoded);
        *decodedLength = found > 0 ? found : 0;
        return found == ReferenceIsText ? int32_t{ReferenceIsText} : length + 2;
    }
    return ReadWholeReference(whole, left, decoded, decodedLength);
}

// As DecodeRun, a candidate whose run the block's masks do not end (it goes
// on past the block): where the window holds the limit's bytes, its end is
// found in the 32 bytes from its "&" at once (a loop byte by byte would be
// mispredicted on each). Not inlined, so that the reading of the others
// keeps its registers.
__attribute__((noinline)) int32_t ReadRunningCandidate(const unsigned char* bytes, int at, const unsigned char* whole,
                                                       int32_t left, char* decoded, int32_t* decodedLength)
{
    if (left <= VisibleTextReferenceLimit) return ReadWholeReference(whole, left, decoded, decodedLength);
    const int end = RunEndFrom(bytes, at, bytes[at + 1] == '#' ? 2 : 1);
    if (end - at < VisibleTextReferenceLimit && bytes[end] != ';') return ReferenceIsText;
    return DecodeRun(bytes, at, end, whole, left, decoded, decodedLength);
}

// The candidate at `at` of a block, not known to be text, read as
// ReadWholeReference reads it.
__attribute__((always_inline)) inline int32_t ReadCandidate(const WindowMasks& masks, size_t block,
                                                            const unsigned char* bytes, int at,
                                                            const CandidateEnds& candidates, char* decoded,
                                                            int32_t* decodedLength)
{
    const size_t place = (block << BlockShift) + static_cast<size_t>(at);
    const int32_t left = static_cast<int32_t>(masks.length - place);
    if (!(candidates.known >> at & 1))
        return ReadRunningCandidate(bytes, at, masks.bytes + place, left, decoded, decodedLength);
    const int end = at + 1 + __builtin_ctzll(candidates.ends >> at >> 1);
    return DecodeRun(bytes, at, end, masks.bytes + place, left, decoded, decodedLength);
}

// Reads the candidates at `ampersands` in order, to the first that cannot be
// read here; returns those read (an "&" that is text among them).
__attribute__((always_inline)) inline uint64_t ReadCandidates(const WindowMasks& masks, size_t block,
                                                              const unsigned char* bytes, uint64_t ampersands,
                                                              const CandidateEnds& candidates,
                                                              BlockReferences* references)
{
    uint64_t read = 0;
    for (; ampersands; ampersands &= ampersands - 1) {
        const int at = __builtin_ctzll(ampersands);
        // A reference is at least four bytes ("&lt;", "&#9;"), so its character's
        // four bytes can be copied whole: those past it fall on the reference's own.
        char decoded[4] = {};
        int32_t decodedLength = 0;
        const int32_t length = ReadCandidate(masks, block, bytes, at, candidates, decoded, &decodedLength);
        if (length == ReferenceNeedsMore || at + decodedLength > static_cast<int>(BlockBytes)) break;
        const uint64_t bit = LowestBit(ampersands);
        read |= bit;
        if (length == ReferenceIsText) continue;  // its bytes are text as they stand
        memcpy(references->bytes + at, decoded, sizeof decoded);
        // A mask, not a branch: blanks (&nbsp;) and characters alternate.
        references->blanks |= bit & (0 - static_cast<uint64_t>(decodedLength == 0));
        const size_t shown = static_cast<size_t>(at + std::max(decodedLength, 1));
        const size_t past = static_cast<size_t>(at + length);
        references->skipped |= BitsBelow(past) & ~BitsBelow(shown);
        if (past > BlockBytes) references->skipNext = past - BlockBytes;
    }
    return read;
}

// Reads the references at `ampersands` (before every other stop) where the
// window holds them whole and each one's character ends inside the block;
// returns those read (an "&" that is text among them): the others, from the
// first that is not, stay stops for the byte-by-byte reading. Numbers and
// names are read apart, each kind in order: a branch on the kind would be
// mispredicted as often as they alternate. (What is read past the first
// that is not is past the block's first stop, and never written.)
template <typename Simd>
__attribute__((always_inline)) inline uint64_t ReadReferences(const WindowMasks& masks, size_t block,
                                                              uint64_t ampersands, BlockReferences* references)
{
    const size_t first = block << BlockShift;
    const unsigned char* const bytes = BlockBytesAt(masks, block);
    const CandidateEnds candidates = EndsOfCandidates<Simd>(bytes, ampersands, BitsBelow(masks.length - first));
    // Those known to be text are read as they stand, wherever the others stop.
    ampersands &= ~candidates.text;
    // Copied whether or not one decodes: a branch on the first that does
    // would be mispredicted as often as references and text alternate.
    if (ampersands) {
        memcpy(references->bytes, bytes, sizeof references->bytes);
        references->used = true;
    }
    const uint64_t numbers = ampersands & candidates.numbered;
    return candidates.text | ReadCandidates(masks, block, bytes, numbers, candidates, references) |
           ReadCandidates(masks, block, bytes, ampersands & ~numbers, candidates, references);
}

// What one call of ReadThroughMasks carries from block to block.
struct MaskReading {
    Carries carries;
    TextOut text;
    uint64_t afterText;
    size_t from;
    size_t skip;  // bytes at the block's start that a reference before it takes
    size_t end;   // where the reading stopped
    size_t straddleEnd;  // past a counted tag that runs on into the next block (see TakesFollowedTag), or 0
    // Read for main content, whether an element is followed: no tag that
    // the masks read starts or ends following one, so most often none is
    // throughout and no tag's name need be compared with theirs.
    bool followsSome;
};

enum class BlockEnd { Read, Stopped, Misread, Resumed };

// Past the comment whose "<!--" is at `at`, where the window holds its "-->"; else 0.
__attribute__((always_inline)) inline size_t CommentEnd(const WindowMasks& masks, size_t at)
{
    const unsigned char* bytes = masks.bytes;
    if (at + 4 > masks.length || bytes[at + 1] != '!' || bytes[at + 2] != '-' || bytes[at + 3] != '-') return 0;
    for (size_t dash = at + 4; dash + 2 < masks.length; ++dash) {
        const void* found = memchr(bytes + dash, '-', masks.length - 2 - dash);
        if (!found) return 0;
        dash = static_cast<size_t>(static_cast<const unsigned char*>(found) - bytes);
        if (bytes[dash + 1] == '-' && bytes[dash + 2] == '>') return dash + 3;
    }
    return 0;
}

// Reads one block of the window through its masks: to its end, to a stop, or
// not at all where the masks cannot tell its tags (then read->end is where
// the byte-by-byte reading goes on); a comment that the window holds whole
// joins the text on either side, and the masks are read again after it.
template <typename Simd, bool Main>
__attribute__((always_inline)) inline BlockEnd ReadBlock(WindowMasks* masks, size_t block, VisibleTextReader* reader,
                                                         bool shown, MaskReading* read)
{
    const BlockMasks& bits = masks->blocks[block];
    const size_t first = block << BlockShift;
    const uint64_t range =
        (first < read->from ? ~uint64_t{0} << (read->from - first) : ~uint64_t{0}) & BitsBelow(masks->length - first);
    const uint64_t starts = bits.tagStart & range;
    const uint64_t inTagBefore = read->carries.inTag;
    const size_t carriedEnd = read->straddleEnd;
    read->straddleEnd = 0;
    uint64_t wrong;
    const uint64_t inTags = TagsOfBlock<Simd>(bits, starts, &read->carries, &wrong);
    // A "<" inside a tag is no stop: the tag is read whole or not at all.
    const uint64_t lastLess = block < masks->lastBlock ? 0 : masks->lastLess[block - masks->lastBlock];
    const uint64_t ampersands = (shown ? bits.ampersand : 0) & ~inTags & range;
    uint64_t stops = ampersands | (lastLess & ~(inTags & ~starts) & range);
    if (Main) {
        const uint64_t attributeTag = AttributeTag(*masks, first, masks->attributeStarts[block] & inTags & range, starts,
                                                     reader);
        if (attributeTag == ~uint64_t{0}) {  // the tag read on from an earlier block
            read->end = read->carries.tagStart;
            return BlockEnd::Stopped;
        }
        stops |= attributeTag;
    }
    BlockReferences references;
    references.used = false;
    references.skipped = references.blanks = 0;
    references.skipNext = 0;
    if (ampersands) stops &= ~ReadReferences<Simd>(*masks, block, ampersands & (LowestBit(stops & ~ampersands) - 1), &references);
    // The masks must tell the tags up to the first stop, that included;
    // a tag that the byte-by-byte reading takes is a stop too.
    const bool misread = wrong & (LowestBit(stops) * 2 - 1);
    const uint64_t named = starts & (LowestBit(stops) - 1);
    const uint64_t blankTags = misread ? 0 : BlankTags<Main>(*masks, first, named, bits.greater, reader,
                                                                      read->followsSome, &stops, &read->straddleEnd);
    if (misread || (wrong & (LowestBit(stops) * 2 - 1))) {
        // A tag counted in the block before is not read again.
        read->end = inTagBefore ? (carriedEnd ? carriedEnd : read->carries.tagStart)
                    : first > read->from ? first + read->skip : read->from;
        return BlockEnd::Misread;
    }
    if (named) read->carries.tagStart = first + static_cast<size_t>(BlockBytes - 1 - __builtin_clzll(named));
    if (shown) {
        BlockMasks written = bits;
        written.blank |= references.blanks;
        written.respace |= references.blanks;
        const uint64_t none = inTags | references.skipped | BitsBelow(read->skip);
        WriteBlockText<Simd>(references.used ? references.bytes : BlockBytesAt(*masks, block), written,
                             range & (LowestBit(stops) - 1), none, blankTags, read->afterText, &read->carries,
                             &read->text);
    }
    read->afterText = 0;
    read->skip = references.skipNext;
    if (!stops) return BlockEnd::Read;
    read->end = first + static_cast<size_t>(__builtin_ctzll(stops));
    const size_t commentEnd = CommentEnd(*masks, read->end);
    if (commentEnd == 0) return BlockEnd::Stopped;
    read->end = commentEnd;
    return BlockEnd::Resumed;
}

// Reads text and tags from pass->at through the window's masks, to the
// window's end or to what the byte-by-byte reading goes on with: a "<!" or
// "<?" tag, a reference that the window cuts, a tag opening raw contents, a
// tag the window may cut, or what the masks cannot tell; and read for main
// content, a tag whose name or attributes may count. What main content
// leaves out is read for its tags only.
template <typename Simd, bool Main>
__attribute__((always_inline)) inline void ReadThroughMasks(Pass* pass, WindowMasks* masks)
{
    VisibleTextReader* reader = pass->reader;
    const bool shown = !Main || MainTextShown(reader);
    const bool followsSome = Main && (reader->shown.depth > 0 || reader->hidden.depth > 0 || reader->within.depth > 0);
    MaskReading read{Carries{}, TextOut{pass->out, reader->blankPending, reader->wroteText}, 0, 0, 0, 0, 0, followsSome};
    BlockEnd ended = BlockEnd::Resumed;
    for (size_t from = static_cast<size_t>(pass->at - masks->bytes); ended == BlockEnd::Resumed; from = read.end) {
        read.carries = Carries{0, 0, 0, 0, 0, from};
        read.afterText = static_cast<uint64_t>(read.text.wroteText && !read.text.blankPending) << (from & (BlockBytes - 1));
        read.from = from;
        read.skip = 0;
        read.straddleEnd = 0;
        read.end = masks->length;
        ended = BlockEnd::Read;
        for (size_t block = from >> BlockShift; block << BlockShift < masks->length && ended == BlockEnd::Read; ++block)
            ended = ReadBlock<Simd, Main>(masks, block, reader, shown, &read);
    }
    if (ended == BlockEnd::Read && read.carries.inTag) {
        read.end = read.carries.tagStart;  // a tag the window cuts
        ended = BlockEnd::Misread;
    }
    masks->misread = ended == BlockEnd::Misread;
    pass->at = masks->bytes + (ended == BlockEnd::Stopped ? StopAt(*masks, read.end, reader) : read.end);
    pass->out = read.text.out;
    reader->blankPending = read.text.blankPending;
    reader->wroteText = read.text.wroteText;
}

// Where the masks stop again and again within a few bytes (tags or
// references one after the other), going back to them costs more than
// reading those bytes one by one: after DenseRuns such runs, the state
// machine reads DenseReach bytes on.
constexpr ptrdiff_t DenseStops = 32;
constexpr int DenseRuns = 8;
constexpr ptrdiff_t DenseReach = 512;

void ReadDensely(Pass* pass)
{
    const unsigned char* const end = pass->end;
    pass->end = end - pass->at > DenseReach ? pass->at + DenseReach : end;
    while (pass->at < pass->end && !pass->reader->startOver) ReadInState(pass);
    pass->end = end;
}

// Reads pass->at to pass->end, a window: text through its masks, made when
// text is first read in it, until they cannot tell its tags (and where they
// stop densely, by the state machine for a while).
template <typename Simd, bool Main>
__attribute__((always_inline)) inline void ReadWindowWith(Pass* pass, WindowMasks* masks)
{
    VisibleTextReader* reader = pass->reader;
    bool classified = false;
    int shortRuns = 0;
    while (pass->at < pass->end && !(Main && reader->startOver)) {
        if (reader->state != InText || (classified && masks->misread)) {
            ReadInState(pass);
            continue;
        }
        if (shortRuns == DenseRuns) {
            ReadDensely(pass);
            shortRuns = 0;
            continue;
        }
        if (!classified) {
            ClassifyWindow<Simd, Main>(masks, pass->at, static_cast<size_t>(pass->end - pass->at),
                                       reader->mode == VisibleTextDecodeReferences);
            classified = true;
        }
        const unsigned char* from = pass->at;
        ReadThroughMasks<Simd, Main>(pass, masks);
        shortRuns = pass->at - from < DenseStops ? shortRuns + 1 : 0;
    }
}

void ReadWindowSse2(Pass* pass, WindowMasks* masks) { ReadWindowWith<Sse2, false>(pass, masks); }
void ReadMainWindowSse2(Pass* pass, WindowMasks* masks) { ReadWindowWith<Sse2, true>(pass, masks); }

__attribute__((target("avx2,bmi,bmi2,popcnt,pclmul"))) void ReadWindowAvx2(Pass* pass, WindowMasks* masks)
{
    ReadWindowWith<Avx2, false>(pass, masks);
}

__attribute__((target("avx2,bmi,bmi2,popcnt,pclmul"))) void ReadMainWindowAvx2(Pass* pass, WindowMasks* masks)
{
    ReadWindowWith<Avx2, true>(pass, masks);
}

}  // namespace

namespace visible_text_internal {

void ReadWindows(Pass* pass)
{
    WindowMasks masks;
    const unsigned char* const end = pass->end;
    const bool main = pass->reader->scope == VisibleTextMain;
    while (pass->at < end && !pass->reader->startOver) {
        pass->end = end - pass->at > static_cast<ptrdiff_t>(WindowBytes) ? pass->at + WindowBytes : end;
        if (pass->reader->level == VectorAvx2) (main ? ReadMainWindowAvx2 : ReadWindowAvx2)(pass, &masks);
        else (main ? ReadMainWindowSse2 : ReadWindowSse2)(pass, &masks);
    }
    pass->end = end;
}

}  // namespace visible_text_internal

#endif
