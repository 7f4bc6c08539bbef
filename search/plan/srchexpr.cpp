// srchexpr: search words and the skip list.
#include "srchexpr.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "corv-core.h"
#include "corv-str.h"
#include "platform.h"

SearchExpression searchExpression;

namespace {

const char* const ExpressionModule = "srchexpr";
constexpr int CountingLimit = 9999;

bool IsLineSeparator(unsigned char byte) { return byte == ' ' || byte == '\n' || byte == '\r'; }

struct SkipText {
    char* text = nullptr;
    int32_t size = 0;    // bytes allocated, the terminator included
    int32_t length = 0;  // bytes read
    ~SkipText()
    {
        if (text) MemFree(&text, size, ExpressionModule, __LINE__);
    }
};

// The skip text folded as the words are, in place of the text as read; a
// text too large to fold within the memory limit is no skip list.
void FoldSkipText(CaseFolding folding, SkipText* skip)
{
    const int64_t capacity = int64_t{FoldExpansion} * (int64_t{skip->length} + FoldHeldBytes) + 1;
    if (capacity >= MemLimitMaximum) {
        DebugPrint("Skiplist too large to fold (%d)\n", skip->length);
        skip->length = 0;
        return;
    }
    SkipText folded;
    folded.size = static_cast<int32_t>(capacity);
    folded.text = static_cast<char*>(MemAlloc(folded.size, ExpressionModule, __LINE__));
    folded.length = std::max(0, FoldWord(folding, skip->text, skip->length, folded.text, folded.size - 1));
    folded.text[folded.length] = '\0';
    std::swap(skip->text, folded.text);
    std::swap(skip->size, folded.size);
    std::swap(skip->length, folded.length);
}

void LoadSkipText(const char* path, SkipText* skip)
{
    if (!path[0]) return;
    PlatFileGuard file(PlatOpen(path, PlatReadRaw));
    if (!file) {
        DebugPrint("Unable to load skiplist file '%s'\n", path);
        return;
    }
    int64_t size = PlatFileSize(file.get());
    if (size < 0 || size >= MemLimitMaximum) return;
    skip->size = static_cast<int32_t>(size) + 1;
    skip->text = static_cast<char*>(MemAlloc(skip->size, ExpressionModule, __LINE__));
    int got = PlatRead(file.get(), skip->text, static_cast<int>(size));
    skip->length = got > 0 ? got : 0;
    skip->text[skip->length] = '\0';
}

bool StartsWord(const char* text, const char* at)
{
    return at == text || static_cast<unsigned char>(at[-1]) <= 0x20;
}

// True when the word's pattern stands as a whole word in the skip text. The
// text is read whole: any byte of 0x20 or less separates words, NUL included.
bool InSkipList(const TextPattern* pattern, const SkipText& skip)
{
    const char* end = skip.text + skip.length;
    const char* from = skip.text;
    const char* hit = nullptr;
    while (FindPattern(pattern, from, end, &hit)) {
        const char* after = hit + pattern->length;  // at most the terminator
        if (StartsWord(skip.text, hit) && static_cast<unsigned char>(*after) <= 0x20) return true;
        from = after;
    }
    return false;
}

void ReleaseWords()
{
    if (searchExpression.words)
        MemFree(&searchExpression.words, searchExpression.wordCount * static_cast<int32_t>(sizeof(SearchWord)),
                ExpressionModule, __LINE__);
    if (searchExpression.termPatterns)
        MemFree(&searchExpression.termPatterns, static_cast<int32_t>(sizeof(PatternSet)), ExpressionModule, __LINE__);
    searchExpression.wordCount = 0;
    searchExpression.termCount = 0;
    searchExpression.longestTerm = 0;
}

bool SameTerm(const SearchWord& word, const SearchTerm& term)
{
    const int32_t wildcards = WordAnyPrefix | WordAnySuffix;
    return (word.flags & wildcards) == term.flags && word.pattern.length == term.pattern->length &&
           StrEqualNoCaseN(reinterpret_cast<const char*>(word.pattern.text),
                           reinterpret_cast<const char*>(term.pattern->text), word.pattern.length);
}

// Gives every word that is not skipped its term, and compiles the terms'
// patterns into one set.
void GatherTerms()
{
    SearchExpression& expression = searchExpression;
    const TextPattern* patterns[PatternSetLimit];
    for (int i = 0; i < expression.wordCount; ++i) {
        SearchWord& word = expression.words[i];
        word.term = -1;
        if (word.flags & WordSkipped) continue;
        int term = 0;
        while (term < expression.termCount && !SameTerm(word, expression.terms[term])) ++term;
        if (term == expression.termCount && term < PatternSetLimit) {
            expression.terms[term] = SearchTerm{&word.pattern, word.flags & (WordAnyPrefix | WordAnySuffix)};
            patterns[term] = &word.pattern;
            ++expression.termCount;
            if (word.pattern.length > expression.longestTerm) expression.longestTerm = word.pattern.length;
        }
        if (term < expression.termCount) word.term = term;
    }
    expression.termPatterns = static_cast<PatternSet*>(MemAlloc(sizeof(PatternSet), ExpressionModule, __LINE__));
    CompilePatternSet(expression.termPatterns, patterns, expression.termCount);
}

// Strips the wildcards and compiles one word, folded; false when nothing is
// left or the folded word does not fit a pattern.
bool CompileWord(SearchWord* entry, char* word, char operatorCharacter, CaseFolding folding)
{
    entry->flags = 0;
    if (word[0] == '*') {
        entry->flags |= WordAnyPrefix;
        memmove(word, word + 1, strlen(word));
    }
    size_t length = strlen(word);
    if (length > 0 && word[length - 1] == '*') {
        entry->flags |= WordAnySuffix;
        word[length - 1] = '\0';
    }
    char folded[PatternTextCapacity + 1];
    if (folding != CaseFoldAscii) {
        const int foldedLength = FoldWord(folding, word, static_cast<int>(strlen(word)), folded, PatternTextCapacity);
        if (foldedLength < 0) return false;
        folded[foldedLength] = '\0';
        word = folded;
    }
    if (!CompilePattern(&entry->pattern, word, PatternIgnoreCase)) return false;
    if (operatorCharacter == '+') entry->flags |= WordRequired;
    if (operatorCharacter == '-') entry->flags |= WordExcluded;
    return true;
}

}  // namespace

const char* FindSearchWord(const char* text, int wantedIndex, int* lastIndex)
{
    CORV_CHECK_POINTER(ExpressionModule, text);
    const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
    while (*at >= 1 && *at <= 0x20) ++at;
    bool inQuote = false, sawWordByte = false;
    int index = 0;
    for (; *at; ++at) {
        if (*at == '"') inQuote = !inQuote;
        if (!inQuote && IsLineSeparator(*at)) {
            if (sawWordByte) ++index;
            sawWordByte = false;
            continue;
        }
        if (!inQuote && *at < 0x20) continue;
        sawWordByte = true;
        if (index == wantedIndex) {
            if (lastIndex) *lastIndex = index;
            return reinterpret_cast<const char*>(at);
        }
    }
    if (!sawWordByte) --index;
    if (lastIndex) *lastIndex = index;
    return nullptr;
}

int CountSearchWords(const char* text)
{
    CORV_CHECK_POINTER(ExpressionModule, text);
    if (!text[0]) return 0;
    int lastIndex = 0;
    FindSearchWord(text, CountingLimit, &lastIndex);
    return lastIndex + 1;
}

int GetSearchWord(const char* text, int index, char* operatorCharacter, char* word)
{
    CORV_CHECK_POINTER(ExpressionModule, text);
    CORV_CHECK_POINTER(ExpressionModule, word);
    word[0] = '\0';
    const char* at = FindSearchWord(text, index, nullptr);
    if (!at || !*at) return 0;
    *operatorCharacter = ' ';
    if (*at == '-' || *at == '+') *operatorCharacter = *at++;
    int length = 0;
    bool quoting = false;
    for (; static_cast<unsigned char>(*at) >= 0x20; ++at) {
        if (*at == '"') {
            quoting = !quoting;
            if (!quoting) break;
            continue;
        }
        if (*at == ' ' && !quoting) break;
        if (length + 1 < SearchWordCapacity) word[length++] = *at;
    }
    word[length] = '\0';
    return 1;
}

int CompileSearchExpression(const char* skipListPath, const char* searchText, CaseFolding folding)
{
    int32_t count = CountSearchWords(searchText);
    searchExpression = SearchExpression{};
    searchExpression.folding = folding;
    if (count <= 0) return 0;
    SkipText skip;
    LoadSkipText(skipListPath, &skip);
    if (folding != CaseFoldAscii && skip.length > 0) FoldSkipText(folding, &skip);
    searchExpression.words = MemAllocArray<SearchWord>(count, ExpressionModule, __LINE__);
    searchExpression.wordCount = count;
    int skipped = 0;
    for (int i = 0; i < count; ++i) {
        SearchWord* entry = &searchExpression.words[i];
        char word[SearchWordCapacity];
        char operatorCharacter = ' ';
        bool usable = GetSearchWord(searchText, i, &operatorCharacter, word) && word[0] &&
                      CompileWord(entry, word, operatorCharacter, folding);
        if (!usable) {
            ReleaseWords();
            return 0;
        }
        if (skip.length > 0 && InSkipList(&entry->pattern, skip)) {
            entry->flags |= WordSkipped;
            ++skipped;
        }
    }
    if (skipped < count) {
        GatherTerms();
        return 1;
    }
    FreeSearchExpression();
    return 0;
}

int FreeSearchExpression()
{
    ReleaseWords();
    return 1;
}
