// filesrch: the search plan, built once per search.
#include "search-plan.h"

#include <cstring>

#include "corv-core.h"
#include "corv-str.h"

namespace {

const char* const PlanModule = "filesrch";

void CompileTags(TagPatterns* tags)
{
    CompilePattern(&tags->title, "<TITLE>", PatternIgnoreCase);
    CompilePattern(&tags->meta, "<META", PatternIgnoreCase);
}

void FillFactors(ContextFactors* factors)
{
    for (int byte = 0; byte < 256; ++byte) {
        LeftContextFactor(static_cast<unsigned char>(byte), &factors->of[FactorsLeft][byte]);
        RightContextFactor(static_cast<unsigned char>(byte), 'a', &factors->of[FactorsRight][byte]);
        RightContextFactor(static_cast<unsigned char>(byte), 's', &factors->of[FactorsRightAfterS][byte]);
        factors->of[FactorsNone][byte] = 1.0;
        for (int table = 0; table < FactorsTableCount; ++table)
            factors->twentieths[table][byte] = static_cast<uint8_t>(factors->of[table][byte] * 20.0 + 0.5);
    }
}

// Under folding, whether a term's first (or last) character is of a script
// written without spaces between words: a word's end on that side, whatever
// stands beside it.
bool StartsUnspaced(const TextPattern& pattern)
{
    const char* text = reinterpret_cast<const char*>(pattern.text);
    uint32_t first = 0;
    return CodePointAt(text, text + pattern.length, &first) > 0 && IsUnspacedScript(first);
}

bool EndsUnspaced(const TextPattern& pattern)
{
    const char* text = reinterpret_cast<const char*>(pattern.text);
    uint32_t last = 0;
    return CodePointBefore(text, text + pattern.length, &last) > 0 && IsUnspacedScript(last);
}

void SettleScoring(SearchPlan* plan)
{
    const SearchExpression& expression = *plan->expression;
    for (int32_t term = 0; term < expression.termCount; ++term) {
        const SearchTerm& searched = expression.terms[term];
        const int32_t length = searched.pattern->length;
        const bool endsInS = (searched.pattern->text[length - 1] | 0x20) == 's';
        TermScoring& scoring = plan->scoring[term];
        scoring.length = length;
        const bool folded = plan->folding != CaseFoldAscii;
        const bool anyBefore = (searched.flags & WordAnyPrefix) || (folded && StartsUnspaced(*searched.pattern));
        const bool anyAfter = (searched.flags & WordAnySuffix) || (folded && EndsUnspaced(*searched.pattern));
        const int32_t left = anyBefore ? FactorsNone : FactorsLeft;
        const int32_t right = anyAfter ? FactorsNone : endsInS ? FactorsRightAfterS : FactorsRight;
        scoring.left = plan->factors.of[left];
        scoring.right = plan->factors.of[right];
        scoring.leftTwentieths = plan->factors.twentieths[left];
        scoring.rightTwentieths = plan->factors.twentieths[right];
    }
}

bool IsByteTerm(const SearchTerm& term) { return term.pattern->length == 1; }

void GatherByteTerms(SearchPlan* plan)
{
    const SearchExpression& expression = *plan->expression;
    ByteTerms& bytes = plan->byteTerms;
    for (int16_t& term : bytes.termOf) term = -1;
    for (int32_t term = 0; term < expression.termCount; ++term) bytes.count += IsByteTerm(expression.terms[term]);
    if (bytes.count < 2) return;
    const TextPattern* others[PatternSetLimit];
    int32_t otherCount = 0;
    for (int32_t term = 0; term < expression.termCount; ++term) {
        const TextPattern& pattern = *expression.terms[term].pattern;
        if (!IsByteTerm(expression.terms[term])) {
            bytes.otherTerm[otherCount] = static_cast<int16_t>(term);
            others[otherCount++] = &pattern;
            continue;
        }
        // Terms ignore ASCII case (and no two are the same byte so).
        const unsigned char byte = pattern.text[0];
        bytes.termOf[byte] = bytes.termOf[FoldAsciiUpper(byte)] = static_cast<int16_t>(term);
        if (byte >= 'A' && byte <= 'Z') bytes.termOf[byte + 32] = static_cast<int16_t>(term);
    }
    if (otherCount == 0) return;
    bytes.others = static_cast<PatternSet*>(MemAlloc(sizeof(PatternSet), PlanModule, __LINE__));
    CompilePatternSet(bytes.others, others, otherCount);
}

// Whether every term is ASCII letters and digits, Han and kana, and small
// Cyrillic letters alone (in its StoredFormOf); the terms and their letters
// then, and their stored forms, `stored[term]`, each ended by a zero byte,
// of `storedLength[term]` bytes.
bool TermsAreStoredWords(const SearchExpression& expression, StoredWords* words,
                         char (*stored)[PatternTextCapacity + 1], int32_t* storedLength)
{
    static_assert(StoredWordLimit >= PatternSetLimit, "every term is a stored word");
    words->letters = words->cyrillic = 0;
    words->count = expression.termCount;
    for (int32_t term = 0; term < expression.termCount; ++term) {
        const TextPattern& pattern = *expression.terms[term].pattern;
        words->text[term] = pattern.text;
        words->length[term] = pattern.length;
        char* const text = stored[term];
        const int32_t length = StoredFormOf(expression.folding, reinterpret_cast<const char*>(pattern.text), pattern.length, text);
        if (length < 0) return false;
        text[length] = '\0';
        storedLength[term] = length;
        for (int32_t i = 0; i < length;) {
            const unsigned char byte = static_cast<unsigned char>(text[i]);
            uint32_t codePoint = 0;
            const int size = byte < 0x80 ? 1 : CodePointAt(text + i, text + length, &codePoint);
            if (size == 1 && !IsAsciiLetter(byte) && !IsAsciiDigit(byte)) return false;
            if (size == 2 && CyrillicLetterBit(codePoint)) words->cyrillic |= CyrillicLetterBit(codePoint);
            else if (size > 1 && IsHanOrKana(codePoint)) words->letters |= HanOrKanaBit;
            else if (size != 1) return false;
            else words->letters |= AsciiLetterBit(byte);
            i += size;
        }
    }
    ReadyStoredWords(expression.folding, words);
    return true;
}

// Whether the terms are searched in stored bytes as they stand (markup
// searched, the classic order): their StoredWords, and where a term's
// stored form is not its folding (й), the terms' stored forms compiled and
// scored by their own length. Terms of one byte found by their table, with
// such a term among the others, are folded instead: rare, and their set
// would need its own stored forms.
bool SettleStoredTerms(SearchPlan* plan)
{
    const SearchExpression& expression = *plan->expression;
    char stored[PatternSetLimit][PatternTextCapacity + 1];
    int32_t storedLength[PatternSetLimit];
    if (!TermsAreStoredWords(expression, &plan->storedWords, stored, storedLength)) return false;
    memcpy(plan->storedScoring, plan->scoring, sizeof plan->scoring);
    plan->storedPatterns = expression.termPatterns;
    bool differs = false;
    for (int32_t term = 0; term < expression.termCount; ++term) differs |= storedLength[term] != expression.terms[term].pattern->length;
    if (!differs) return true;
    if (plan->byteTerms.count >= 2) return false;
    plan->storedTerms = static_cast<StoredTerms*>(MemAlloc(sizeof(StoredTerms), PlanModule, __LINE__));
    const TextPattern* patterns[PatternSetLimit];
    for (int32_t term = 0; term < expression.termCount; ++term) {
        TextPattern& pattern = plan->storedTerms->patterns[term];
        CompilePattern(&pattern, stored[term], expression.terms[term].pattern->mode);
        plan->storedScoring[term].length = storedLength[term];
        patterns[term] = &pattern;
    }
    CompilePatternSet(&plan->storedTerms->set, patterns, expression.termCount);
    plan->storedPatterns = &plan->storedTerms->set;
    return true;
}

// Whether no term holds an ASCII byte but letters and digits.
bool TermsHoldNoPunctuation(const SearchExpression& expression)
{
    for (int32_t term = 0; term < expression.termCount; ++term) {
        const TextPattern& pattern = *expression.terms[term].pattern;
        for (int32_t i = 0; i < pattern.length; ++i)
            if (pattern.text[i] < 0x80 && !IsAsciiLetter(pattern.text[i]) && !IsAsciiDigit(pattern.text[i])) return false;
    }
    return true;
}

}  // namespace

// A character that the region's start cuts (only its last bytes lie in it)
// or its end cuts is the region's edge, as a zero byte is.
bool CutByStart(const char* start, const char* at)
{
    if (at - start >= 4) return false;  // a character has three bytes after its first at most
    for (const char* back = at; back > start; --back)
        if ((static_cast<unsigned char>(back[-1]) & 0xC0) != 0x80) return false;
    return true;
}

// Whether the two bytes at `at` are a character from U+0400 to U+047F:
// Cyrillic letters, none of them a mark or punctuation, which most of the
// letters around a hit on a Russian page are.
inline bool IsPlainCyrillic(const char* at)
{
    return (static_cast<unsigned char>(at[0]) & 0xFE) == 0xD0 && (static_cast<unsigned char>(at[1]) & 0xC0) == 0x80;
}

unsigned char FoldedByteBefore(const char* start, const char* at)
{
    const unsigned char byte = static_cast<unsigned char>(at[-1]);
    uint32_t codePoint = 0;
    if (byte < 0x80 || (at - start >= 2 && IsPlainCyrillic(at - 2))) return byte;
    if (CodePointBefore(start, at, &codePoint) == 0) return CutByStart(start, at) ? 0 : byte;
    const unsigned char punctuation = PunctuationByte(codePoint);
    return punctuation ? punctuation : byte;
}

unsigned char FoldedByteAt(const char* at, const char* end)
{
    const unsigned char byte = static_cast<unsigned char>(*at);
    uint32_t codePoint = 0;
    if (byte < 0x80 || (end - at >= 2 && IsPlainCyrillic(at))) return byte;
    if (CodePointAt(at, end, &codePoint) == 0) return IsCutCodePoint(at, end) ? 0 : byte;
    const unsigned char punctuation = PunctuationByte(codePoint);
    return punctuation ? punctuation : byte;
}

FoldedHitEnd FoldedEndOfHit(const char* after, const char* end)
{
    if (after >= end) return FoldedHitEnd::Unknown;
    // Combining marks and the Hangul letters that go on a syllable are U+0300 and above.
    if (static_cast<unsigned char>(*after) < 0xCC || (end - after >= 2 && IsPlainCyrillic(after))) return FoldedHitEnd::Ends;
    uint32_t codePoint = 0;
    if (CodePointAt(after, end, &codePoint) > 0)
        return ContinuesCharacter(codePoint) ? FoldedHitEnd::Continues : FoldedHitEnd::Ends;
    return IsCutCodePoint(after, end) ? FoldedHitEnd::Unknown : FoldedHitEnd::Ends;
}

namespace {

// The well-formed character of two bytes or more at `at` (up to end)
// folded alone into `folded` (FoldOutputCapacity(4) bytes): the length
// written, or -1 for one byte (read as it stands).
int FoldedAlone(CaseFolding folding, const char* at, const char* end, char* folded)
{
    uint32_t codePoint = 0;
    const int length = CodePointAt(at, end, &codePoint);
    return length >= 2 ? FoldCharacter(folding, at, length, folded) : -1;
}

}  // namespace

FoldedHitEnd StoredEndOfHit(CaseFolding folding, const char* after, const char* end)
{
    const FoldedHitEnd asItStands = FoldedEndOfHit(after, end);
    if (asItStands == FoldedHitEnd::Unknown || static_cast<unsigned char>(*after) < 0x80 ||
        (end - after >= 2 && IsPlainCyrillic(after)) || (end - after >= 3 && IsPlainKanaOrHan(after)))
        return asItStands;
    char folded[FoldOutputCapacity(4)];
    const int length = FoldedAlone(folding, after, end, folded);
    return length > 0 ? FoldedEndOfHit(folded, folded + length) : asItStands;
}

unsigned char StoredByteBefore(CaseFolding folding, const char* start, const char* at)
{
    if (static_cast<unsigned char>(at[-1]) < 0x80 || (at - start >= 2 && IsPlainCyrillic(at - 2))) return at[-1];
    if (at - start >= 3 && IsPlainKanaOrHan(at - 3)) return FoldedByteBefore(start, at);
    uint32_t codePoint = 0;
    const int back = CodePointBefore(start, at, &codePoint);
    char folded[FoldOutputCapacity(4)];
    const int length = back >= 2 ? FoldCharacter(folding, at - back, back, folded) : -1;
    return length > 0 ? FoldedByteBefore(folded, folded + length) : FoldedByteBefore(start, at);
}

unsigned char StoredByteAt(CaseFolding folding, const char* at, const char* end)
{
    if (static_cast<unsigned char>(*at) < 0x80 || (end - at >= 2 && IsPlainCyrillic(at))) return *at;
    if (end - at >= 3 && IsPlainKanaOrHan(at)) return FoldedByteAt(at, end);
    char folded[FoldOutputCapacity(4)];
    const int length = FoldedAlone(folding, at, end, folded);
    return length > 0 ? FoldedByteAt(folded, folded + length) : FoldedByteAt(at, end);
}

void BuildSearchPlan(SearchPlan* plan, const SearchExpression* expression, int32_t textOnly, bool relevance)
{
    CORV_CHECK_POINTER(PlanModule, plan);
    CORV_CHECK_POINTER(PlanModule, expression);
    memset(plan, 0, sizeof *plan);
    plan->expression = expression;
    plan->level = VectorLevelInUse();
    plan->textOnly = textOnly != TextOnlyNo;
    plan->mainContent = textOnly == TextOnlyMain;
    plan->folding = expression->folding;
    plan->keepsPunctuation = plan->folding != CaseFoldAscii && TermsHoldNoPunctuation(*expression);
    plan->relevance = relevance;
    CompileTags(&plan->tags);
    FillFactors(&plan->factors);
    SettleScoring(plan);
    GatherByteTerms(plan);
    plan->wordsAsStored = plan->folding != CaseFoldAscii && !plan->textOnly && !relevance && SettleStoredTerms(plan);
    if (textOnly) PrepareTextFilter(&plan->filter, *expression, plan->level);
}

void ReleaseSearchPlan(SearchPlan* plan)
{
    CORV_CHECK_POINTER(PlanModule, plan);
    ReleaseTextFilter(&plan->filter);
    if (plan->storedTerms) MemFree(&plan->storedTerms, static_cast<int32_t>(sizeof(StoredTerms)), PlanModule, __LINE__);
    if (plan->byteTerms.others)
        MemFree(&plan->byteTerms.others, static_cast<int32_t>(sizeof(PatternSet)), PlanModule, __LINE__);
}

int LeftContextFactor(unsigned char before, double* factor)
{
    switch (before) {
    case 0: case '\t': case '\n': case '\r': case ' ': case '"': case '(': case '>': *factor = 1.0; break;
    case '_': *factor = 0.95; break;
    case '*': case '-': case '/': case ';': *factor = 0.9; break;
    case '<': case '[': case '{': *factor = 0.85; break;
    case '!': case ',': case '.': case ':': case '?': *factor = 0.8; break;
    case ')': case ']': case '}': *factor = 0.75; break;
    default: *factor = 0.5; break;
    }
    return 1;
}

int RightContextFactor(unsigned char after, unsigned char lastOfHit, double* factor)
{
    bool pluralMark = (after == 's' || after == 'S') && lastOfHit != 's' && lastOfHit != 'S';
    switch (after) {
    case 0: case '\t': case '\n': case '\r': case ' ': case '!': case '"': case ')': case ',': case '.':
    case ';': case '<': case '?': *factor = 1.0; break;
    case '_': *factor = 0.95; break;
    case '>': case ']': case '}': *factor = 0.85; break;
    case '*': case '-': case '/': case ':': *factor = 0.8; break;
    case '\'': case '(': case '[': case '{': *factor = 0.75; break;
    default: *factor = pluralMark ? 0.9 : 0.5; break;
    }
    return 1;
}
