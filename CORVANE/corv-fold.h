// corv-fold: UTF-8 text folded so that a plain byte search finds a word
// whatever its letter case (and, in the accents mode, its accents).
//
// unicode: a canonical caseless match. Each character is decomposed
// canonically (Hangul syllables by arithmetic), case folded fully (ß is ss,
// ﬁ is fi, final sigma is sigma) and decomposed again, and the marks after a
// letter are put in canonical order: a precomposed é and e followed by U+0301
// give the same bytes, as do marks typed in either order. Kana alone are
// written composed: a kana that a voicing mark follows in that order is
// written as the voiced kana they make (か and U+3099 as が), so that
// Japanese text, which writes voiced kana, stays as it stands.
// accents: as unicode, then the marks after Latin, Greek and Cyrillic letters
// are left out (é is e, ά is α, ё is е) except the breve of Cyrillic й, and
// the letters ø, ł, đ, ħ, æ and œ are written o, l, d, h, ae and oe. Marks
// after letters of other scripts (kana voicing marks, Indic vowel signs) stay.
// Both: white space outside ASCII is written as " ", and punctuation with an
// obvious ASCII kind as that byte (quotes and guillemets '"', curly
// apostrophes "'", dashes "-", brackets "(" and ")", fullwidth forms as
// their ASCII selves; scripts/gen-unicode-tables has the lists), and the
// invisible soft hyphen, zero-width space, word joiner and byte order mark
// are left out, so that a word hyphenated for the eye is one. ASCII bytes
// are written as they stand (the search ignores their case itself), and so
// is every byte that is not part of well-formed UTF-8: text in Latin-1 is
// not folded. Other letters, marks and digits stay bytes above 0x7F.
//
// Text may come in pieces cut anywhere: the folder holds back an incomplete
// UTF-8 sequence and the marks that may still be reordered, so the pieces
// give exactly the bytes that the whole text gives. At most FoldMarkLimit
// marks after a letter count as its marks; a longer run begins anew with no
// letter, so that nothing is held back without bound.
#pragma once

#include <cstdint>

// What a search compares: ASCII letters without case (and nothing folded:
// the folder copies), or folded as above.
enum CaseFolding : int32_t {
    CaseFoldAscii = 0,
    CaseFoldUnicode = 1,
    CaseFoldAccents = 2
};

constexpr int FoldMarkLimit = 30;
// Output bytes per input byte at most (ΐ, two bytes, is three letters and marks).
constexpr int FoldExpansion = 3;
// Input bytes held back at most: a letter, its marks, an incomplete sequence.
constexpr int FoldHeldBytes = 4 + 4 * FoldMarkLimit + 3;
// What a call with `count` bytes may write: they and the bytes held back.
constexpr int FoldOutputCapacity(int count) { return FoldExpansion * (count + FoldHeldBytes); }

// The folder's whole state; it allocates nothing. Only offset is for
// callers: the input bytes taken so far, from which the offsets of the bytes
// written count (set it after StartFolding to count from elsewhere, such as
// where the text begins in its file).
struct FoldState {
    int64_t offset;
    int32_t mode;
    int32_t level;                // the vector level in use when folding started (corv-vector)
    bool keepsPunctuation;        // punctuation and blanks outside ASCII are written as they stand
    int64_t marksTaken;           // combining marks and bytes that are no UTF-8 taken so far
    int32_t pendingLength;        // an incomplete UTF-8 sequence held back
    unsigned char pending[4];
    uint8_t baseFlags;            // what the last letter says about marks after it
    bool heldBase;                // held[0] is a letter whose marks may still be reordered
    int32_t markCount;            // marks after the letter so far, its own included
    int32_t heldCount;
    uint32_t held[FoldMarkLimit + 1];
    int64_t heldOffset[FoldMarkLimit + 1];
};

// With keepsPunctuation, punctuation and blanks outside ASCII are written as
// they stand instead of as their ASCII bytes (PunctuationByte tells those):
// for a search whose words hold neither, that folds the same words alike and
// moves less text.
void StartFolding(FoldState* state, CaseFolding mode, bool keepsPunctuation = false);
// Folds the next count bytes of the text into target, which holds
// FoldOutputCapacity(count) bytes, and returns the bytes written. offsets,
// when not null, holds as many entries: each byte written gets the offset
// (from the text's start) of the character that it comes from. The offsets
// of one letter's marks follow their canonical order; every letter's bytes
// come after those of the letters before it. The bytes of target after those
// written may have been overwritten.
int FoldText(FoldState* state, const char* source, int count, char* target, int64_t* offsets);
// At the text's end: writes what is held back (FoldOutputCapacity(0) bytes
// at most) and returns the bytes written. The state starts a new text then.
int FinishFolding(FoldState* state, char* target, int64_t* offsets);
// When folding the bytes would copy them as they are (they are all ASCII and
// nothing is held back), takes them as FoldText would and returns true: the
// caller uses them where they stand. Otherwise takes nothing.
bool FoldTakeAscii(FoldState* state, const char* source, int count);
// As FoldText, telling foldedApart (when not null) of stretches written for
// characters outside ASCII or held back before an ASCII byte: of every one
// that holds ASCII punctuation (not a letter or digit) written for such a
// character, so that it can be told from ASCII punctuation as it stood.
// Letters written from the quick tables (which write no such byte) go untold.
int FoldApart(FoldState* state, const char* source, int count, char* target, void (*foldedApart)(char*, int));
// Folds count bytes where they stand: returns the bytes written there
// (foldedApart as for FoldApart). The text stays where it is as long as its
// folding does not grow (ASCII with nothing held back is not even moved);
// where a character's folding would overtake the bytes after it, the rest
// is copied to scratch (which holds count bytes) and folded back from
// there: bytes must hold FoldOutputCapacity(count).
int FoldInPlace(FoldState* state, char* bytes, int count, char* scratch, void (*foldedApart)(char*, int));
// One well-formed character (length bytes) folded alone, as FoldWord would
// fold it, into target (FoldOutputCapacity(4) bytes): the length written.
int FoldCharacter(CaseFolding mode, const char* bytes, int length, char* target);
// A whole text folded at once (search words, the skip list): the length
// written to target, or -1 when it would not fit in capacity bytes.
int FoldWord(CaseFolding mode, const char* source, int count, char* target, int capacity);

// The number of ASCII bytes that bytes begins with, found 16 at a time.
int AsciiPrefixLength(const char* bytes, int count);
// The number of bytes past ASCII that bytes begins with, found as fast.
int NonAsciiPrefixLength(const char* bytes, int count);
// Copies count bytes 16 at a time (the ranges do not overlap, or the
// target lies before the source): the C
// library's copy of some kilobytes between addresses of different
// alignment costs ten times as much on some processors, and folding moves
// text to wherever it stands.
void CopyBytes(char* target, const char* source, int count);

// ---- Characters ----------------------------------------------------------------

// The character at `at`: its length in bytes (1 for ASCII), or 0 when the
// bytes up to end are not well-formed UTF-8 there.
int CodePointAt(const char* at, const char* end, uint32_t* codePoint);
// Whether the bytes up to end begin a well-formed sequence that they cut short.
bool IsCutCodePoint(const char* at, const char* end);
// The well-formed character that ends just before `at` (no further back than
// start): its length, or 0.
int CodePointBefore(const char* start, const char* at, uint32_t* codePoint);
// A combining mark: a hit never ends between a letter and a mark after it.
bool IsCombiningMark(uint32_t codePoint);
// The ASCII byte that a character of punctuation or a blank outside ASCII
// folds to, or 0 for any other character.
unsigned char PunctuationByte(uint32_t codePoint);
// What goes on the character before it as a reader sees it: a combining
// mark, or the vowel or final consonant of a Hangul syllable (which folding
// writes as its letters).
bool ContinuesCharacter(uint32_t codePoint);
// Of Han, Hiragana, Katakana, Thai, Lao, Khmer or Myanmar, written without
// spaces between words.
bool IsUnspacedScript(uint32_t codePoint);

// A bit for each ASCII letter (in either case) and digit: a to z, then 0 to 9.
constexpr uint64_t AsciiLetterBit(unsigned char byte)
{
    return byte >= 'a' && byte <= 'z'   ? uint64_t{1} << (byte - 'a')
           : byte >= 'A' && byte <= 'Z' ? uint64_t{1} << (byte - 'A')
           : byte >= '0' && byte <= '9' ? uint64_t{1} << (26 + byte - '0')
                                        : 0;
}
// Beside AsciiLetterBit's bits: words that hold Han or kana (IsHanOrKana).
constexpr uint64_t HanOrKanaBit = uint64_t{1} << 36;
// Han or kana that folding writes as it stands (not a compatibility
// ideograph, which stands for another, nor a voicing mark).
bool IsHanOrKana(uint32_t codePoint);
// Whether the three bytes at `at` are kana (U+3040 to U+30FF, but the
// voicing marks U+3099 and U+309A) or Han from U+4E00 to U+9FFF: most of
// the characters beside a hit on a Japanese page, which folding alone
// writes as they stand and no mark among.
inline bool IsPlainKanaOrHan(const char* at)
{
    const unsigned char lead = static_cast<unsigned char>(at[0]), second = static_cast<unsigned char>(at[1]),
                        third = static_cast<unsigned char>(at[2]);
    if ((second & 0xC0) != 0x80 || (third & 0xC0) != 0x80) return false;
    if (lead == 0xE3) return second >= 0x81 && second <= 0x83 && !(second == 0x82 && (third == 0x99 || third == 0x9A));
    return (lead == 0xE4 && second >= 0xB8) || (lead >= 0xE5 && lead <= 0xE9);
}
// A bit for each small Cyrillic letter from U+0430 to U+045F, given its code point.
constexpr uint64_t CyrillicLetterBit(uint32_t codePoint)
{
    return codePoint >= 0x430 && codePoint <= 0x45F ? uint64_t{1} << (codePoint - 0x430) : 0;
}

// Words searched in stored bytes as they stand (folded already): ASCII
// letters and digits, Han and kana, and small Cyrillic letters (in their
// StoredFormOf), whose capitals MayChangeWordsAsStored writes as small
// letters.
constexpr int StoredWordLimit = 160;
struct StoredWords {
    uint64_t letters;   // the AsciiLetterBit of each ASCII letter and digit, and HanOrKanaBit when they hold Han or kana
    uint64_t cyrillic;  // the CyrillicLetterBit of each Cyrillic letter
    int32_t count;
    const unsigned char* text[StoredWordLimit];
    int32_t length[StoredWordLimit];
    // What each character from U+0400 to U+047F folds to alone: a small
    // letter from U+0430 to U+045F (ё under accents is е, Ђ is ђ), or 0 (a
    // letter and a mark after it, as ё under unicode).
    uint16_t cyrillicFolds[0x80];
};
// Readies words once they are in, for `folding`: where they hold Cyrillic
// letters, what each character from U+0400 to U+047F folds to.
void ReadyStoredWords(CaseFolding folding, StoredWords* words);
// A folded word (`count` bytes) as stored bytes hold it once their Cyrillic
// capitals are lowered: a Cyrillic letter that folding writes with a mark
// after it (й as и and a breve; under unicode ё as е and a diaeresis, and
// ѐ, ѓ, ї, ќ, ѝ, ў) as the small letter it composes, into target (count
// bytes): the length written, or -1 when the word holds another mark.
int StoredFormOf(CaseFolding folding, const char* word, int count, char* target);

// Under CaseFoldUnicode or CaseFoldAccents (`folding`), for `words` in text
// that keeps its punctuation: whether `count` bytes at `bytes` hold a
// character that could make a search of their folding find otherwise than
// a search of the bytes as they stand: one whose folding writes some of the
// words' ASCII letters (ß, ﬁ, the Kelvin sign; under accents é and most
// Latin letters with marks), Han or kana other than itself (a compatibility
// ideograph; a voicing mark, which the kana before it takes), nothing (a
// soft hyphen), or ASCII punctuation, and under accents any mark; for
// Cyrillic words also any mark, and a letter that folds to one of theirs
// (ё under accents, Ђ). One whose folding is a single letter of the words
// (é, the Kelvin sign, ё) does only where the characters around it, read
// from `start` up to the end, fold to the rest of such a word, as long as
// the few looks a block allows last. Cyrillic capitals А to Я (under
// unicode Ѐ to Я) are written as small letters (both two bytes) on the way,
// so that bytes that hold none are searched as they stand. A character the
// end cuts may be one. (What the folding of a character beside a hit reads
// as, ś as an s, the reader of the hit tells.) Found at the vector level
// given, as fast as it allows.
bool MayChangeWordsAsStored(int32_t level, CaseFolding folding, const char* start, char* bytes, int count,
                            const StoredWords& words);
