// Search words: boundaries, extraction, operators, wildcards and the skip list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corv-core.h"
#include "srchexpr.h"
#include "test-support.h"

namespace {

std::string Word(const char* text, int index, char* operatorCharacter, int* result)
{
    char word[SearchWordCapacity];
    *operatorCharacter = '?';
    *result = GetSearchWord(text, index, operatorCharacter, word);
    return word;
}

struct Compiled {
    int result;
    std::vector<std::string> words;  // text and flags, as "cat/1"
    std::string terms;               // each word's search term, as "0 1 0 -1"
};

Compiled Compile(const std::string& skipListPath, const std::string& text, CaseFolding folding = CaseFoldAscii)
{
    Compiled compiled{CompileSearchExpression(skipListPath.c_str(), text.c_str(), folding), {}, ""};
    for (int i = 0; compiled.result && i < searchExpression.wordCount; ++i) {
        const SearchWord& word = searchExpression.words[i];
        EXPECT_EQ(word.pattern.mode, PatternIgnoreCase);
        compiled.words.push_back(std::string(reinterpret_cast<const char*>(word.pattern.text),
                                             static_cast<size_t>(word.pattern.length)) +
                                 "/" + std::to_string(word.flags));
        compiled.terms += (i ? " " : "") + std::to_string(word.term);
    }
    if (compiled.result) {
        EXPECT_EQ(searchExpression.termPatterns->count, searchExpression.termCount);
        FreeSearchExpression();
    }
    EXPECT_EQ(searchExpression.wordCount, 0);
    EXPECT_EQ(MemGetStats().bytesInUse, 0);
    EXPECT_EQ(MemGetStats().liveCount, 0);
    return compiled;
}

std::string Repeated(const std::string& text, int times)
{
    std::string repeated;
    for (int i = 0; i < times; ++i) repeated += text;
    return repeated;
}

// 160 one-letter words: the most that a 319-character search can hold.
std::string ManyWords()
{
    std::string many = "w";
    for (int i = 1; i < 160; ++i) many += " w";
    return many;
}

class SearchWords : public ::testing::Test {
protected:
    void SetUp() override { MemInit(MemLimitMaximum, 0); }
    testing_support::TempFolder folder_;
};

}  // namespace

TEST_F(SearchWords, FindsWordBoundaries)
{
    struct Row {
        std::string text;
        int count;
        int wanted;
        int offset;  // -1: no such word
        int lastIndex;
    } rows[] = {
        {"", 0, 0, -1, -1},
        {" \r\n\t ", 0, 0, -1, -1},
        {"cat", 1, 0, 0, 0},
        {"  cat dog", 2, 1, 6, 1},
        {"cat dog  ", 2, 5, -1, 1},
        {"cat\r\n\r\ndog\n", 2, 1, 7, 1},
        {"a\tb c", 2, 1, 4, 1},  // a tab is no boundary
        {"\ta \t", 1, 0, 1, 0},
        {"a \t b", 2, 1, 4, 1},
        {"\"big cat\" dog", 2, 1, 10, 1},
        {"ab\"c d\"e f", 2, 1, 9, 1},
        {"\"open a b", 1, 1, -1, 0},
        {"\xE9t\xE9 \x80", 2, 1, 4, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(CountSearchWords(row.text.c_str()), row.count);
        int lastIndex = -99;
        const char* at = FindSearchWord(row.text.c_str(), row.wanted, &lastIndex);
        EXPECT_EQ(at ? at - row.text.c_str() : -1, row.offset);
        EXPECT_EQ(lastIndex, row.lastIndex);
    }
    EXPECT_EQ(CountSearchWords(ManyWords().c_str()), 160);
}

TEST_F(SearchWords, ExtractsWords)
{
    struct Row {
        const char* text;
        int index;
        int result;
        char operatorCharacter;
        const char* word;
    } rows[] = {
        {"cat", 1, 0, '?', ""},
        {"", 0, 0, '?', ""},
        {"+cat -dog", 1, 1, '-', "dog"},
        {"a\tb", 0, 1, ' ', "a"},
        {"\"a\tb\"", 0, 1, ' ', "a"},
        {"-\"big cat\" x", 0, 1, '-', "big cat"},
        {"-\"big cat\" x", 1, 1, ' ', "x"},
        {"ab\"c d\"e", 0, 1, ' ', "abc d"},
        {"\"open a b", 0, 1, ' ', "open a b"},
        {"+ cat", 0, 1, '+', ""},
        {"\"\"", 0, 1, ' ', ""},
        {"--x", 0, 1, '-', "-x"},
    };
    for (const Row& row : rows) {
        char operatorCharacter;
        int result;
        EXPECT_EQ(Word(row.text, row.index, &operatorCharacter, &result), row.word) << row.text;
        EXPECT_EQ(result, row.result) << row.text;
        if (row.result) {
            EXPECT_EQ(operatorCharacter, row.operatorCharacter) << row.text;
        }
    }
}

TEST_F(SearchWords, CompilesOperatorsAndWildcards)
{
    const std::string longest(256, 'x');
    struct Row {
        std::string text;
        int result;
        std::vector<std::string> words;
        std::string terms = "";  // checked when given
        CaseFolding folding = CaseFoldAscii;
    } rows[] = {
        {"cat dog", 1, {"cat/0", "dog/0"}, "0 1"},
        // Words of the same text (any ASCII case) and wildcards share a term,
        // whatever their operators.
        {"cat +Cat -CAT cat* *cat* dog cat", 1, {"cat/0", "Cat/1", "CAT/2", "cat/32", "cat/48", "dog/0", "cat/0"},
         "0 0 0 1 2 3 0"},
        {"\xE9t\xE9 \xC9T\xC9 cats", 1, {"\xE9t\xE9/0", "\xC9T\xC9/0", "cats/0"}, "0 1 2"},
        {" \r\n cat \n", 1, {"cat/0"}},
        {"+cat -dog", 1, {"cat/1", "dog/2"}},
        {"cat*", 1, {"cat/32"}},
        {"*cat", 1, {"cat/16"}},
        {"*cat*", 1, {"cat/48"}},
        {"-*cat", 1, {"cat/18"}},
        {"+cat*", 1, {"cat/33"}},
        {"**c*t**", 1, {"*c*t*/48"}},
        {"-\"big cat\"", 1, {"big cat/2"}},
        {"Cat", 1, {"Cat/0"}},
        {longest, 1, {longest + "/0"}},
        {longest + "y", 0, {}},
        {"+ cat", 0, {}},
        {"cat -", 0, {}},
        {"\"\"", 0, {}},
        {"*", 0, {}},
        {"**", 0, {}},
        {"cat **", 0, {}},
        {"", 0, {}},
        {" \r\n ", 0, {}},
        {std::string(319, '"'), 0, {}},
        {std::string(319, '*'), 0, {}},
        // Folded: words that fold alike share a term; operators and wildcards
        // are read before folding (a fullwidth "*" is a letter); the folded
        // word must fit a pattern, and something must be left of it.
        {"\xC3\x89" "cole +\xC3\x89" "COLE -e\xCC\x81" "cole \xC3\xA9" "col* STRA\xC3\x9F" "E \xEF\xBC\x8A" "cat", 1,
         {"e\xCC\x81" "cole/0", "e\xCC\x81" "COLE/1", "e\xCC\x81" "cole/2", "e\xCC\x81" "col/32", "STRAssE/0", "*cat/0"},
         "0 0 0 1 2 3", CaseFoldUnicode},
        {"\xC5\x92uvre oeuvre \xC5\x92UVRE*", 1, {"oeuvre/0", "oeuvre/0", "oeUVRE/32"}, "0 0 1", CaseFoldAccents},
        {Repeated("\xE2\x84\xAA", 106), 1, {std::string(106, 'k') + "/0"}, "", CaseFoldUnicode},
        {Repeated("\xCE\x90", 50), 0, {}, "", CaseFoldUnicode},
        {"cat \xC2\xAD", 0, {}, "", CaseFoldAccents},
    };
    for (const Row& row : rows) {
        Compiled compiled = Compile("", row.text, row.folding);
        EXPECT_EQ(compiled.result, row.result) << row.text.substr(0, 40);
        EXPECT_EQ(compiled.words, row.words) << row.text.substr(0, 40);
        if (!row.terms.empty()) {
            EXPECT_EQ(compiled.terms, row.terms) << row.text.substr(0, 40);
        }
    }
    Compiled wide = Compile("", ManyWords());
    EXPECT_EQ(wide.result, 1);
    EXPECT_EQ(wide.words, std::vector<std::string>(160, "w/0"));
    std::string sameTerm = "0";
    for (int i = 1; i < 160; ++i) sameTerm += " 0";
    EXPECT_EQ(wide.terms, sameTerm);
}

TEST_F(SearchWords, SkipsWholeSkipListWords)
{
    const std::string common = folder_.path() + "/common.txt";
    const std::string theme = folder_.path() + "/theme.txt";
    const std::string empty = folder_.path() + "/empty.txt";
    testing_support::WriteFile(common, "the\tand\r\nof  w\n");
    testing_support::WriteFile(theme, "theme xthe thex \xE9the");
    testing_support::WriteFile(empty, "");
    const std::string zeros = folder_.path() + "/zeros.txt";
    testing_support::WriteFile(zeros, std::string("\0the\0apple", 11));
    const std::string french = folder_.path() + "/french.txt";
    testing_support::WriteFile(french, "\xC3\x89t\xC3\xA9 \xC3\x89" "COLE le\xC2\xA0la stra\xC3\x9F" "e");
    struct Row {
        std::string skipList;
        std::string text;
        int result;
        std::vector<std::string> words;
        std::string terms = "";  // checked when given
        CaseFolding folding = CaseFoldAscii;
    } rows[] = {
        {common, "the", 0, {}},
        {common, "The cat", 1, {"The/4", "cat/0"}, "-1 0"},
        {common, "+the -cat", 1, {"the/5", "cat/2"}},
        {common, "the* Of and", 0, {}},
        {common, "th he", 1, {"th/0", "he/0"}},
        {common, "\"the and\" x", 1, {"the and/0", "x/0"}},
        {common, ManyWords(), 0, {}},
        {theme, "the", 1, {"the/0"}},
        {theme, "theme", 0, {}},
        {empty, "the", 1, {"the/0"}},
        {zeros, "apple the", 0, {}},
        {zeros, "app", 1, {"app/0"}},
        {folder_.path() + "/missing.txt", "the", 1, {"the/0"}},
        {folder_.path(), "the", 1, {"the/0"}},
        // Folded as the words are; a blank outside ASCII separates words too.
        {french, "\xC3\xA9t\xC3\xA9 STRASSE", 0, {}, "", CaseFoldUnicode},
        {french, "ete ecole Eco la x", 1, {"ete/4", "ecole/4", "Eco/0", "la/4", "x/0"}, "-1 -1 0 -1 1", CaseFoldAccents},
        {french, "\xC3\xA9t\xC3\xA9 la", 1, {"\xC3\xA9t\xC3\xA9/0", "la/0"}, "0 1"},
    };
    for (const Row& row : rows) {
        Compiled compiled = Compile(row.skipList, row.text, row.folding);
        SCOPED_TRACE(row.skipList + " / " + row.text.substr(0, 20));
        EXPECT_EQ(compiled.result, row.result);
        EXPECT_EQ(compiled.words, row.words);
        if (!row.terms.empty()) {
            EXPECT_EQ(compiled.terms, row.terms);
        }
    }
}
