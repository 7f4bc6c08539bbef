// Document scanner: context factors, hit scores, the document score, META
// tag tokens and the ranked result list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "corv-core.h"
#include "document-scan.h"
#include "relevance.h"
#include "results.h"
#include "search-plan.h"
#include "srchexpr.h"
#include "test-support.h"
#include "text-filter.h"
#include "visible-text.h"

namespace {

class Scanner : public ::testing::Test {
protected:
    void SetUp() override { MemInit(MemLimitMaximum, 0); }
    void TearDown() override
    {
        ReleaseSearchPlan(&plan_);
        FreeSearchExpression();
        EXPECT_EQ(MemGetStats().liveCount, 0);
    }
    // Compiles the words and their plan, text only (with its filter) as
    // `textOnly` asks, counting for the relevance ranking when `relevance`.
    void Words(const char* text, int32_t textOnly = TextOnlyNo, bool relevance = false)
    {
        Words(text, textOnly, CaseFoldAscii, relevance);
    }
    void Words(const char* text, int32_t textOnly, CaseFolding folding, bool relevance = false)
    {
        ReleaseSearchPlan(&plan_);
        FreeSearchExpression();
        ASSERT_EQ(CompileSearchExpression("", text, folding), 1) << text;
        BuildSearchPlan(&plan_, &searchExpression, textOnly, relevance);
        context_.plan = &plan_;
    }
    // Whether the text-only filter lets a whole document through, folded as
    // the plan folds, the folded bytes read `readSize` at a time (0: at once).
    bool FilterMayShow(const std::string& document, size_t readSize = 0)
    {
        const int32_t count = static_cast<int32_t>(document.size());
        if (plan_.folding == CaseFoldAscii) return MayShowTerm(plan_.filter, document.data(), count, 0, true);
        const size_t first = readSize ? std::min(readSize, document.size()) : document.size();
        std::vector<char> room(static_cast<size_t>(ScanFoldRoom(count + 1))), scratch(document.size() + 1);
        FoldedFilterWindow window;
        StartFoldedFilterWindow(&window, plan_.folding, room.data());
        if (FoldedFirstMayShowTerm(plan_.filter, &window, document.data(), static_cast<int32_t>(first))) return true;
        for (size_t at = first; at < document.size(); at += readSize) {
            const size_t piece = std::min(readSize, document.size() - at);
            memcpy(FoldedFilterSpace(&window), document.data() + at, piece);
            if (FoldedNextMayShowTerm(plan_.filter, &window, static_cast<int32_t>(piece), false, scratch.data())) return true;
        }
        return FoldedNextMayShowTerm(plan_.filter, &window, 0, true, scratch.data());
    }
    // Scans the file through blocks of blockSize bytes, in memory as the pool gives it.
    void ScanThroughBlocks(const std::string& path, int32_t blockSize, ScannedDocument* document)
    {
        const size_t blockBytes = static_cast<size_t>(ScanBlockBytes(plan_, blockSize));
        if (block_.size() < blockBytes) block_.resize(blockBytes);
        if (raw_.size() < static_cast<size_t>(ScanRawBytes(blockSize))) raw_.resize(static_cast<size_t>(ScanRawBytes(blockSize)));
        if (folded_.size() < static_cast<size_t>(ScanFoldRoom(blockSize))) folded_.resize(static_cast<size_t>(ScanFoldRoom(blockSize)));
        context_.block = block_.data();
        context_.raw = raw_.data();
        context_.folded = folded_.data();
        context_.blockSize = blockSize;
        context_.storedBytesKept = context_.storedBytesWasted = 0;  // each scan tries the stored bytes first, whatever the scans before met
        EXPECT_TRUE(ScanDocument(&context_, path.c_str(), document));
    }
    // A word's counts in the document being scanned (a skipped word has none).
    TermCounts CountsOf(int word) const
    {
        int term = searchExpression.words[word].term;
        return term < 0 ? TermCounts{} : context_.counts[term];
    }
    SearchPlan plan_{};
    ScanContext context_{};
    std::vector<char> block_, raw_, folded_;
};

double Expected(const std::vector<std::pair<double, std::string>>& table, unsigned char byte)
{
    for (const auto& [factor, bytes] : table)
        if (bytes.find(static_cast<char>(byte)) != std::string::npos) return factor;
    return 0.5;
}

}  // namespace

TEST_F(Scanner, ContextFactorsForEveryByte)
{
    const std::vector<std::pair<double, std::string>> left = {
        {1.0, std::string("\0\t\n\r \"(>", 8)}, {0.95, "_"}, {0.9, "*-/;"}, {0.85, "<[{"}, {0.8, "!,.:?"},
        {0.75, ")]}"}};
    const std::vector<std::pair<double, std::string>> right = {
        {1.0, std::string("\0\t\n\r !\"),.;<?", 14)}, {0.95, "_"}, {0.85, ">]}"}, {0.8, "*-/:"},
        {0.75, "'([{"}, {0.9, "sS"}};
    for (int byte = 0; byte < 256; ++byte) {
        const unsigned char b = static_cast<unsigned char>(byte);
        double factor = -1;
        EXPECT_EQ(LeftContextFactor(b, &factor), 1);
        EXPECT_EQ(factor, Expected(left, b)) << "left of " << byte;
        EXPECT_EQ(RightContextFactor(b, 'a', &factor), 1);
        EXPECT_EQ(factor, Expected(right, b)) << "right of " << byte;
        RightContextFactor(b, 's', &factor);
        EXPECT_EQ(factor, b == 's' || b == 'S' ? 0.5 : Expected(right, b)) << "right of " << byte << " after s";
        RightContextFactor(b, 'S', &factor);
        EXPECT_EQ(factor, b == 's' || b == 'S' ? 0.5 : Expected(right, b)) << "right of " << byte << " after S";
    }
}

TEST_F(Scanner, ScoresHitsInARegion)
{
    struct Row {
        const char* words;
        std::string text;
        double weight;
        size_t from, to;  // the region within the text; to 0 means its end
        double best, total;
        int found;
    } rows[] = {
        {"cats", "the cats.", 1, 0, 0, 1.0, 1.0, 1},
        {"cats", "the catsup", 1, 0, 0, 0.5, 0.25, 1},
        {"cat*", "the category is", 1, 0, 0, 1.0, 1.0, 1},
        {"*cat", "a bobcat is", 1, 0, 0, 1.0, 1.0, 1},
        {"cat*", "a bobcat is", 1, 0, 0, 0.5, 0.25, 1},
        {"cat", "the cats are", 1, 0, 0, 0.9, 0.81, 1},
        {"cat", "Cats", 8, 0, 0, 0.9, 8 * 0.81, 1},
        {"bass", "basss", 1, 0, 0, 0.5, 0.25, 1},
        {"cat", "xcatx", 1, 0, 0, 0.25, 0.0625, 1},
        {"cat", "_cat_", 1, 0, 0, 0.95 * 0.95, 0.95 * 0.95 * 0.95 * 0.95, 1},
        {"cat", "xcatx", 1, 1, 4, 1.0, 1.0, 1},
        {"cat", "xcatx", 1, 1, 3, 0.0, 0.0, 0},
        {"cat", "dog", 1, 0, 0, 0.0, 0.0, 0},
        {"cat", "cat CAT", 2, 0, 0, 1.0, 4.0, 1},
        {"cat", "catx cat", 1, 0, 0, 1.0, 1.25, 1},
        {"aa", "aaaa", 1, 0, 0, 0.5, 0.5, 1},
        {"\xE9t\xE9", "\xC9T\xC9 \xE9t\xE9", 1, 0, 0, 1.0, 1.0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.words) + " in " + row.text);
        Words(row.words);
        ResetWordStats(&context_);
        const char* text = row.text.c_str();
        int longest = -1;
        EXPECT_EQ(ScanRegion(&context_, row.weight, text + row.from, text + (row.to ? row.to : row.text.size()),
                             &longest), 1);
        EXPECT_DOUBLE_EQ(CountsOf(0).best, row.best);
        EXPECT_DOUBLE_EQ(CountsOf(0).total, row.total);
        EXPECT_EQ(CountsOf(0).found, row.found);
        EXPECT_EQ(longest, searchExpression.words[0].pattern.length);
    }
}

TEST_F(Scanner, SkippedWordsAreIgnored)
{
    FreeSearchExpression();
    testing_support::TempFolder folder;
    const std::string skip = folder.path() + "/skip.txt";
    FILE* list = fopen(skip.c_str(), "w");
    ASSERT_NE(list, nullptr);
    fputs("elephant", list);
    fclose(list);
    ASSERT_EQ(CompileSearchExpression(skip.c_str(), "cat elephant"), 1);
    BuildSearchPlan(&plan_, &searchExpression, false);
    context_.plan = &plan_;
    const std::string text = "elephant cat";
    int longest = -1;
    ScanRegion(&context_, 1.0, text.c_str(), text.c_str() + text.size(), &longest);
    EXPECT_EQ(longest, 3);
    EXPECT_EQ(CountsOf(0).found, 1);
    EXPECT_EQ(CountsOf(1).found, 0);
    ResetWordStats(&context_);
    EXPECT_EQ(CountsOf(0).found, 0);
    EXPECT_EQ(CountsOf(0).best, 0.0);
    EXPECT_EQ(CountsOf(0).total, 0.0);
}

TEST_F(Scanner, ScoresDocuments)
{
    struct Stats {
        double best, total;
        int found, extraFlags;
    };
    struct Row {
        const char* words;
        std::vector<Stats> stats;
        int result, found;
        double percent, weight;
    } rows[] = {
        {"cat dog", {{1.0, 2.0, 1, 0}, {0, 0, 0, 0}}, 1, 1, 50, 2.0},
        // (2/3) x (1.95/2) x 100 is just below 65 in double precision.
        {"cat dog dot", {{1.0, 1.0, 1, 0}, {0.95, 0.5, 1, 0}, {0, 0, 0, 0}}, 1, 2, 64, 1.5},
        {"a b c", {{0.85, 1, 1, 0}, {0.85, 1, 1, 0}, {0.85, 1, 1, 0}}, 1, 3, 85, 3.0},
        {"cat -dog", {{0.9, 1, 1, 0}, {0, 0, 0, 0}}, 1, 1, 45, 1.0},
        {"the cat", {{1.0, 5, 1, WordSkipped}, {0.9, 1, 1, 0}}, 1, 1, 90, 1.0},
        {"+cat dog", {{0, 0, 0, 0}, {1, 1, 1, 0}}, 0, 0, 0, 0},
        {"cat -dog", {{1, 1, 1, 0}, {0.25, 0.1, 1, 0}}, 0, 0, 0, 0},
        {"-dog", {{0, 0, 0, 0}}, 0, 0, 0, 0},
        {"cat", {{0, 0, 0, 0}}, 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.words);
        Words(row.words);
        for (size_t i = 0; i < row.stats.size(); ++i) {
            SearchWord& word = searchExpression.words[i];
            context_.counts[word.term] = TermCounts{row.stats[i].best, row.stats[i].total, row.stats[i].found, 0.0, -1, -1};
            word.flags |= row.stats[i].extraFlags;
            if (word.flags & WordSkipped) word.term = -1;
        }
        int found = -1;
        double percent = -1, weight = -1;
        EXPECT_EQ(ScoreDocument(&context_, &found, &percent, &weight), row.result);
        if (!row.result) continue;
        EXPECT_EQ(found, row.found);
        EXPECT_EQ(percent, row.percent);
        EXPECT_DOUBLE_EQ(weight, row.weight);
    }
}

// Whole documents through blocks of a chosen size (20,480 bytes unless a row
// says otherwise), then through every size from the longest word's length
// plus 2 up: whether a document matches never changes with the size; hits at
// a block's edges only score higher (a block starts and ends as the text
// does), and a hit in the bytes carried into the next block counts again.
// Text only, every size gives the score of the whole visible text at once.
TEST_F(Scanner, ScansDocumentsThroughEveryBlockSize)
{
    struct Row {
        const char* words;
        std::string document;
        int32_t blockSize;
        int matched;
        double percent, weight;
        size_t sweepFrom = 0;  // smaller blocks would cut the title or META tags
        int32_t textOnly = TextOnlyNo;
        CaseFolding folding = CaseFoldAscii;
    } rows[] = {
        {"cat dog", "cat dog", 0, 1, 100, 2.0},
        // "xcat" ends the first block (0.5); only the longest word's length
        // is carried, and "cat" starts the next (1.0).
        {"cat", "....xcat ", 9, 1, 100, 1.25},
        {"cat", "....xcat ", 10, 1, 50, 0.25},
        {"cat", "....xcat ", 0, 1, 50, 0.25},
        {"cat cat* +Cat", "a category cat", 0, 1, 100, 4.5},  // "cat" and "+Cat" share a term
        {"+cat dog", "dog dog", 0, 0, 0, 0},
        {"cat -dog", "cat " + std::string(100, '.') + " dog", 0, 0, 0, 0},
        {"e a b c d f g h i j k", "the quick brown fox", 0, 1, 25, 1.1875},
        {"aa", "aaaaaaa", 5, 1, 50, 1.25},
        {"cat", "<TITLE>cat</TITLE><META name=description content=cat>", 0, 1, 100, 13.0, 54},
        // Text only: markup is not text, inline tags join, references are
        // decoded, and a hit is scored by the text on either side of it.
        {"cat", "<p>a <b>c</b>at</p><!-- cat --><script>cat</script>", 0, 1, 100, 1.0, 0, true},
        {"cat", "<p class=\"cat\">dog</p>", 0, 0, 0, 0, 0, true},
        {"cat", "x<br>cat<br>x", 0, 1, 100, 1.0, 0, true},
        // An excluded word counts among the words; in markup it does not exclude.
        {"caf\xC3\xA9 -dog", "<p>caf&eacute; &amp; cr&#232;me</p><p title=\"dog\"></p>", 0, 1, 50, 1.0, 0, true},
        {"\"context manager\"", "a context\n   <i>manager</i>&nbsp;here", 0, 1, 100, 1.0, 0, true},
        {"aa", "<p>aaaaaaa</p> <b>aa</b>a", 0, 1, 50, 0.625, 0, true},
        {"cat dog", "<head><title>t</title><script>cat</script><body>cat</body> dog", 0, 1, 100, 2.0, 0, true},
        // A head never closed ends at its "<body", to the byte.
        {"x cat", "<head><title>t</title>x<body>cat", 0, 1, 50, 1.0, 0, true},
        {"cat", "<head><title>cat</title></head><body>" + std::string(100, '.') + " xcat " + std::string(60, '-') +
                    " cat</body>",
         0, 1, 100, 8.0 + 0.25 + 1.0, 40, true},
        // Words that only markup or a reference puts together, far enough in
        // for the filter's reads to cut them anywhere.
        {"water", std::string(150, '.') + " wa<b class=\"a>b\">ter</b> " + std::string(150, '.'), 0, 1, 100, 1.0, 0,
         true},
        {"zone", std::string(140, '-') + " &#122;one z<!-- -->o<i></i>&#x6E;e. zo&#xa0;ne zo<br>ne", 0, 1, 100, 2.0, 0,
         true},
        // More tags after a seam than the filter passes over, at the end.
        {"zone", "zo<b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b>ne", 0, 1, 100, 1.0, 0, true},
        // Folded: the title and META texts, phrases and operators; in the
        // visible text, references are decoded first.
        {"\xC3\xA9t\xC3\xA9", "<TITLE>\xC3\x89T\xC3\x89</TITLE><META name=keywords content=\"\xC3\x89t\xC3\xA9\">", 0, 1,
         100, 8.0 + 2.0 + 1.0, 80, false, CaseFoldUnicode},
        {"\"caf\xC3\xA9 cr\xC3\xA8me\" -Cr\xC3\xA8me", "CAFE\xCC\x81 CRE\xCC\x80ME", 0, 0, 0, 0, 0, false, CaseFoldUnicode},
        {"\"caf\xC3\xA9 cr\xC3\xA8me\" +Cr\xC3\xA8me cafe*", "CAFE\xCC\x81 CRE\xCC\x80ME", 0, 1, 100, 3.0, 0, false,
         CaseFoldAccents},
        {"\xC3\xA9" "cole", "<p>&Eacute;cole &eacute;<b>cole</b>s e&#x301;cole</p>", 0, 1, 100, 1.0 + 0.81 + 1.0, 0, true,
         CaseFoldUnicode},
        {"ecole -donaudampf", "<p>&Eacute;cole</p>", 0, 1, 50, 1.0, 0, true, CaseFoldAccents},
        {"donaudampf", "<p>Donau&shy;dampf</p>", 0, 1, 100, 1.0, 0, true, CaseFoldAccents},
        // A letter that marks may yet follow waits to the text's end.
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", 0, 1, 100, 1.0, 0, false, CaseFoldUnicode},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", 0, 1, 100, 1.0, 0, true, CaseFoldUnicode},
        // Main content: a page whose first block asks not to be found is no
        // result, in any spelling; read as text, it is one.
        {"cat", "<meta name=robots content=noindex>cat", 0, 0, 0, 0, 36, TextOnlyMain},
        {"cat", "<meta name=robots content=noindex>cat", 0, 1, 100, 1.0, 36, TextOnlyYes},
        {"cat", "<META CONTENT=\"index, NONE\" NAME='ROBOTS'>cat", 0, 0, 0, 0, 45, TextOnlyMain},
        {"cat", "<meta\nname = robots\ncontent=' nofollow ,\tNoIndex'/>cat", 0, 0, 0, 0, 57, TextOnlyMain},
        {"cat", "<meta name=\"robots\" content=\"noindexed, nonel\">cat", 0, 1, 100, 1.0, 49, TextOnlyMain},
        {"cat", "<meta name=\"robotsx\" content=\"noindex\">cat", 0, 1, 100, 1.0, 44, TextOnlyMain},
        {"cat", "<meta named=robots content=noindex>cat", 0, 1, 100, 1.0, 38, TextOnlyMain},
        {"cat", "<meta content=\"noindex\">cat<meta name=robots>", 0, 1, 100, 1.0, 46, TextOnlyMain},
        {"cat", "<metadata name=robots content=noindex>cat", 0, 1, 100, 1.0, 40, TextOnlyMain},
        {"cat", std::string(20480, ' ') + "<meta name=robots content=noindex>cat", 0, 1, 100, 1.0, 30000, TextOnlyMain},
        // Its title and META texts do not count either, and a robots tag that
        // another META tag's value holds (which taking that tag's text blanks)
        // is read all the same.
        {"cat", "<title>cat</title><meta name=keywords content=cat><meta name=robots content=noindex>", 0, 0, 0, 0, 200,
         TextOnlyMain},
        {"cat", "<meta name=x content=\"<meta name=robots content=noindex>\">cat", 0, 0, 0, 0, 200, TextOnlyMain},
        // Marks met after blocks of text were scored: only the title's scores stay.
        {"cat dog", "<title>cat</title>cat " + std::string(300, '.') + " cat <main>dog</main> cat", 0, 1, 100, 9.0, 20,
         TextOnlyMain},
    };
    testing_support::TempFolder folder;
    const std::string path = folder.path() + "/document.htm";
    auto scan = [&](int32_t blockSize, ScannedDocument* document) { ScanThroughBlocks(path, blockSize, document); };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.words) + " in " + row.document.substr(0, 30));
        Words(row.words, row.textOnly, row.folding);
        FILE* file = fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        fwrite(row.document.data(), 1, row.document.size(), file);
        fclose(file);
        ScannedDocument chosen;
        scan(row.blockSize ? row.blockSize : ScanBufferSize, &chosen);
        EXPECT_EQ(chosen.matched, row.matched);
        if (row.matched) {
            EXPECT_EQ(chosen.percent, row.percent);
            EXPECT_DOUBLE_EQ(chosen.weight, row.weight);
        }
        ScannedDocument whole;
        scan(ScanBufferSize, &whole);
        const size_t from = std::max(row.sweepFrom, static_cast<size_t>(searchExpression.longestTerm) + 2);
        for (size_t size = from; size <= row.document.size() + 1; ++size) {
            ScannedDocument blocks;
            scan(static_cast<int32_t>(size), &blocks);
            ASSERT_EQ(blocks.matched, whole.matched) << "blocks of " << size;
            if (!whole.matched) continue;
            if (row.textOnly) {
                ASSERT_EQ(blocks.percent, whole.percent) << "blocks of " << size;
                ASSERT_EQ(blocks.weight, whole.weight) << "blocks of " << size;
                continue;
            }
            EXPECT_GE(blocks.percent, whole.percent) << "blocks of " << size;
            EXPECT_GE(blocks.weight, whole.weight) << "blocks of " << size;
        }
    }
}

// Words and texts that must and must not be equal under each folding: the
// percent of a document that holds the text among dots (0: no match), with
// ASCII case alone, then folded, then without accents too; in the stored
// bytes and in the visible text, through blocks of every size, so that a
// block's end falls at every byte of the text. The visible text scores the
// same through any blocks; stored bytes at most score higher at a block's
// edge.
TEST_F(Scanner, FoldsCaseAndAccentsAcrossEveryCut)
{
    std::string kanaRun;  // of の, long enough for the stored bytes' vector check
    for (int i = 0; i < 30; ++i) kanaRun += "\xE3\x81\xAE";
    const std::string latinRun(90, 'x');  // as long
    std::string cyrillicRun;  // of ж, as long
    for (int i = 0; i < 8; ++i) cyrillicRun += " \xD0\xB6\xD0\xB6\xD0\xB6\xD0\xB6\xD0\xB6";
    struct Row {
        const char* words;
        std::string text;
        int percent[3];  // ascii, unicode, accents
    } rows[] = {
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89t\xC3\xA9", {0, 100, 100}},                        // É é
        {"\xCF\x83\xCE\xBF\xCF\x86\xCE\xBF\xCF\x82", "\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x9F\xCE\xA3", {0, 100, 100}},  // σοφος ΣΟΦΟΣ
        {"\xCF\x83", "\xCF\x82", {0, 100, 100}},                                         // σ ς
        {"\xD1\x91\xD0\xB6", "\xD0\x81\xD0\x96", {0, 100, 100}},                        // ёж ЁЖ
        {"\xD0\xB5\xD0\xB6", "\xD1\x91\xD0\xB6", {0, 0, 100}},                          // еж ёж
        {"\xD0\xB8", "\xD0\xB9", {0, 0, 0}},                                             // и й
        {"\xD0\xBA\xD1\x82\xD0\xBE", "\xD0\xBA\xD1\x82\xD0\xBE\xD2\x83", {50, 0, 100}},  // кто and a titlo
        {"\xD0\xBA\xD1\x82\xD0\xBE", "\xD1\x82\xD0\xBE\xD0\x9A\xD0\xA2\xD0\x9E\xD1\x82\xD0\xBE", {0, 25, 25}},  // тоКТОто
        {"\xD0\xB9", "\xD0\xB8", {0, 0, 0}},                                             // й и
        {"\xC7\x86", "\xC7\x84 \xC7\x85", {0, 100, 100}},                                // ǆ Ǆ ǅ
        {"kelvin", "\xE2\x84\xAA" "elvin", {0, 100, 100}},                              // K (Kelvin sign)
        {"strasse", "Stra\xC3\x9F" "e", {0, 100, 100}},                                  // ß
        {"Stra\xC3\x9F" "e", "STRASSE", {0, 100, 100}},
        {"caf\xC3\xA9", "cafe\xCC\x81", {0, 100, 100}},                                  // é e+U+0301
        {"cafe", "caf\xC3\xA9", {0, 0, 100}},                                            // no hit before a mark
        {"oresund", "\xC3\x98resund", {0, 0, 100}},                                      // ø
        {"oeuvre", "\xC5\x92uvre", {0, 0, 100}},                                         // œ
        {"i", "\xC4\xB0", {0, 0, 100}},                                                  // İ is i and a dot above
        {"i", "\xC4\xB1", {0, 0, 0}},                                                    // ı
        {"\xCE\xB1\xCE\xB8\xCE\xB7\xCE\xBD\xCE\xB1", "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1", {0, 0, 100}},  // αθηνα Αθήνα
        {"\xE6\x9D\xB1\xE4\xBA\xAC", "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD", {50, 100, 100}},  // 東京 in 東京都
        {"\xE3\x82\xAB", "\xE3\x82\xAC", {0, 0, 0}},                                     // カ ガ: kana keep their marks
        {"\xED\x95\x98", "\xED\x95\x9C", {0, 0, 0}},                                     // 하 한: no hit inside a syllable
        {"\xE9t\xE9", "\xC9T\xC9 \xE9t\xE9", {100, 100, 100}},                             // Latin-1 compared as it stands
        {"\xE9t\xE9", "\xC9T\xC9", {0, 0, 0}},
        {"\xC3\xA9" "cole", "\xC2\xAB\xC2\xA0\xC3\xA9" "cole\xC2\xA0\xC2\xBB", {25, 100, 100}},  // « école » with no-break spaces
        {"\xC3\xA9" "cole", "\xE2\x80\x9C\xC3\xA9" "cole\xE2\x80\x9D", {25, 100, 100}},           // curly quotes
        {"donaudampf", "Donau\xC2\xAD" "dampf", {0, 100, 100}},                          // a soft hyphen
        {"\"cat dog\"", "cat\xC2\xA0" "dog", {0, 100, 100}},                              // a phrase, a no-break space
        {"l'ecole", "l\xE2\x80\x99\xC3\xA9" "cole", {0, 0, 100}},                         // a curly apostrophe
        {"cole", "\xC3\xA9" "cole", {50, 50, 50}},                                          // a letter before, whole or cut
        // Words of ASCII letters are found in the stored bytes: what stands
        // beside them reads as what it folds to, ś and ß as a plural's s,
        // U+0345 as the letter ι; ẚ, which folds to a and ʾ, sends the scan
        // back to fold the text, and so does a mark, which folding without
        // accents drops to join the letters on either side.
        {"cat", "cat\xC5\x9B", {50, 90, 90}},
        {"paket", "Paket\xC3\x9F", {50, 90, 90}},
        {"cat", "cat\xCD\x85", {50, 50, 50}},
        {"ca", "c\xE1\xBA\x9A", {0, 50, 50}},
        {"cat", "cat\xCC\x81s", {50, 0, 90}},
        {"viet", "Vi\xE1\xBB\x87t", {0, 0, 100}},
        // A letter that folds to more letters is looked around as one that
        // folds to one: where a word holds its folding, or begins inside it.
        {"strasse", latinRun + " Stra\xC3\x9F" "e " + latinRun, {0, 100, 100}},  // ß
        {"euvre", latinRun + " \xC5\x92uvre " + latinRun, {0, 0, 50}},         // œ
        // Han and kana too: a compatibility ideograph and a voicing mark
        // send the scan back to fold.
        {"\xE8\xB1\x88", "\xEF\xA4\x80", {0, 100, 100}},                              // 豈 U+F900
        {"\xE3\x81\xB0", "\xE3\x81\xAF\xE3\x82\x99", {0, 100, 100}},                  // ば は+U+3099
        {"\xE3\x81\xB0", kanaRun + "\xE3\x81\xAF\xE3\x82\x99", {0, 100, 100}},        // after enough for the vector check
        // Cyrillic words too, their capitals lowered where they stand; a
        // letter that folds to one of theirs (ё under accents, Ђ) sends the
        // scan back to fold where the letters around it fold to the rest.
        {"\xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0",  // москва МОСКВА, Москва
         cyrillicRun + " \xD0\x9C\xD0\x9E\xD0\xA1\xD0\x9A\xD0\x92\xD0\x90 \xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0" + cyrillicRun,
         {0, 100, 100}},
        {"\xD0\xB5\xD0\xB6", cyrillicRun + " \xD1\x91\xD0\xB5 \xD1\x91\xD0\xB6" + cyrillicRun, {0, 0, 100}},  // еж: ёе, ёж
        {"\xD1\x82\xD0\xB5\xD1\x81\xD1\x82",  // тест: тёст, тёсТ
         cyrillicRun + " \xD1\x82\xD1\x91\xD1\x81 \xD1\x82\xD1\x91\xD1\x81\xD0\xA2" + cyrillicRun, {0, 0, 100}},
        {"\xD1\x92\xD0\xB0\xD0\xBA", cyrillicRun + " \xD0\x82\xD0\xB0\xD0\xBA" + cyrillicRun, {0, 100, 100}},  // ђак Ђак
        // A word with й, which folding writes as и and a breve, as the stored
        // bytes hold it: precomposed, or not.
        {"\xD0\xB9\xD0\xBE\xD0\xB4", cyrillicRun + " \xD0\x99\xD0\x9E\xD0\x94" + cyrillicRun, {0, 100, 100}},  // йод ЙОД
        {"\xD0\xB9\xD0\xBE\xD0\xB4", cyrillicRun + " \xD0\xB8\xCC\x86\xD0\xBE\xD0\xB4" + cyrillicRun, {0, 100, 100}},
        {"\xD1\x91\xD0\xB6", cyrillicRun + " \xD0\x81\xD0\xB6" + cyrillicRun, {0, 100, 100}},  // ёж Ёж
    };
    testing_support::TempFolder folder;
    const std::string path = folder.path() + "/document.htm";
    const CaseFolding foldings[] = {CaseFoldAscii, CaseFoldUnicode, CaseFoldAccents};
    for (const Row& row : rows) {
        const std::string document = "........ " + row.text + " ........";
        testing_support::WriteFile(path, document);
        for (int mode = 0; mode < 3; ++mode) {
            for (bool textOnly : {false, true}) {
                SCOPED_TRACE(std::string(row.words) + " in " + row.text + " folded " + std::to_string(mode) +
                             (textOnly ? " as text" : ""));
                Words(row.words, textOnly, foldings[mode]);
                ScannedDocument whole;
                ScanThroughBlocks(path, ScanBufferSize, &whole);
                EXPECT_EQ(whole.matched ? whole.percent : 0, row.percent[mode]);
                for (size_t size = static_cast<size_t>(searchExpression.longestTerm) + 2; size <= document.size() + 1; ++size) {
                    ScannedDocument blocks;
                    ScanThroughBlocks(path, static_cast<int32_t>(size), &blocks);
                    ASSERT_EQ(blocks.matched, whole.matched) << "blocks of " << size;
                    if (!whole.matched) continue;
                    ASSERT_GE(blocks.percent, whole.percent) << "blocks of " << size;
                    if (!textOnly) continue;
                    ASSERT_EQ(blocks.percent, whole.percent) << "blocks of " << size;
                    ASSERT_EQ(blocks.weight, whole.weight) << "blocks of " << size;
                }
            }
        }
    }
}

// Relevance: each hit counts once, in its field, with its context score in
// four-hundredths, whatever the size of the blocks a document is read in;
// with markup searched the title's own bytes count in the title only and
// META tags not in the text.
TEST_F(Scanner, RelevanceCountsEachHitOnceInItsField)
{
    struct Row {
        const char* words;
        std::string document;
        bool textOnly;
        std::vector<std::vector<uint32_t>> strengths;  // per term: title, description, keywords, text
        int64_t textLength;                            // -1: the document's size
        size_t sweepFrom = 0;                          // smaller blocks would cut the title or META tags
        CaseFolding folding = CaseFoldAscii;
    } rows[] = {
        {"cat", "<HEAD><TITLE>Cats</TITLE></HEAD><P>cat</P>", false, {{360, 0, 0, 400}}, -1, 26},
        {"cat", "<HEAD><TITLE>Cats</TITLE></HEAD><P>cat</P>", true, {{360, 0, 0, 400}}, 3, 26},
        // A title cut at 90 characters: a word across the cut counts in the text.
        {"cat", "<TITLE>" + std::string(88, 'x') + " cat</TITLE>", false, {{0, 0, 0, 400}}, -1, 100},
        {"cat dog", "<META name=description content=\"cat, dog\"><META name=keywords content=dog>cat.dog", false,
         {{0, 400, 0, 320}, {0, 400, 400, 320}}, -1, 84},
        {"aa", "aaaaaaa <b>aa</b>", false, {{0, 0, 0, 200 + 100 + 100 + 400}}, -1},
        {"aa", "aaaaaaa <b>aa</b>", true, {{0, 0, 0, 200 + 100 + 100 + 400}}, 10},
        {"cat* *at", "concat category", false, {{0, 0, 0, 200 + 400}, {0, 0, 0, 400 + 200}}, -1},
        {"\"a cat\"", "a cat, a  cat, a\ncat", false, {{0, 0, 0, 400}}, -1},
        {"\"a cat\"", "a cat, a  cat, a\ncat", true, {{0, 0, 0, 1200}}, 19},
        // Folded, the text is what its bytes fold to: the title lies 8 bytes
        // earlier in it than in the stored bytes.
        {"cat", "<!-- \xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89 --><TITLE>Cats</TITLE><P>CAT</P>", false,
         {{360, 0, 0, 400}}, 54 - 8, 45, CaseFoldAccents},
        {"ecole", "<P>\xC3\x89" "cole, \xC3\x89" "COLE; \xC3\xA9" "coles</P>", true, {{0, 0, 0, 400 + 400 + 360}}, 20, 0,
         CaseFoldAccents},
        {"cafe", "<P>caf\xC3\xA9 cafe\xCC\x81 CAFE</P>", false, {{0, 0, 0, 400}}, 25, 0, CaseFoldUnicode},
        {"cafe", "<P>caf\xC3\xA9 cafe\xCC\x81 CAFE</P>", false, {{0, 0, 0, 1200}}, 21, 0, CaseFoldAccents},
        {"caf\xC3\xA9", "<P>CAFE\xCC\x81", false, {{0, 0, 0, 400}}, 9, 0, CaseFoldUnicode},  // held to the end
    };
    testing_support::TempFolder folder;
    const std::string path = folder.path() + "/document.htm";
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.words) + " in " + row.document.substr(0, 40));
        Words(row.words, row.textOnly, row.folding, true);
        testing_support::WriteFile(path, row.document);
        const size_t from = std::max(row.sweepFrom, static_cast<size_t>(searchExpression.longestTerm) + 2);
        for (size_t size = from; size <= row.document.size() + 1; ++size) {
            ScannedDocument document;
            ScanThroughBlocks(path, static_cast<int32_t>(size), &document);
            ASSERT_EQ(document.matched, 1) << "blocks of " << size;
            for (size_t term = 0; term < row.strengths.size(); ++term)
                for (int field = 0; field < FieldCount; ++field)
                    ASSERT_EQ(document.strengths[term][field], row.strengths[term][static_cast<size_t>(field)])
                        << "term " << term << ", field " << field << ", blocks of " << size;
            ASSERT_EQ(document.textLength,
                      row.textLength < 0 ? static_cast<int64_t>(row.document.size()) : row.textLength);
        }
    }
}

// Which documents the text-only filter passes over, read whole: those whose
// bytes cannot give a term's text, where the text after each seam goes on
// otherwise than the term does.
TEST_F(Scanner, TextFilterPassesOverWhatCannotShowATerm)
{
    struct Row {
        const char* words;
        std::string document;
        bool mayShow;
        CaseFolding folding = CaseFoldAscii;
        size_t readSize = 0;  // the bytes read at a time, or 0 for all at once
    } rows[] = {
        {"zone", "zo ne z one zo\nne", false},
        {"zone", "<p title=\"zone\">x</p>", true},
        {"zone", "zo<br>x ne zo<!-- > -->x zon&eacute;", false},
        {"zone", "zo<br>ne", true},  // every tag is taken to join
        {"zone", "zo<!-- > -->ne", true},
        {"zone", "z<a title='>'>one", true},
        {"zone", "&#121;one z&#x70;one", false},
        {"zone", "&#122;one", true},
        {"caf\xC3\xA9", "caf&eacute;", true},
        {"caf\xC3\xA9", "caf&alpha; caf&#xE9", false},
        {"a&b", "a&amp;b", true},
        {"\"ne z\"", "n<b>e</b>\nz", true},
        // Folded: the bytes are looked at folded, references decoded and
        // folded (one that folds to nothing passed over, a mark joining the
        // character before it); a mark or a cut character after markup
        // joins anything; keys hold no punctuation, and punctuation that
        // folding made stands for no markup.
        {"\xC3\xA9" "cole", "\xC3\x89" "COLE", true, CaseFoldUnicode},
        {"\xC3\xA9" "cole", "ECOLE E<b>COLE</b>", false, CaseFoldUnicode},
        {"\xC3\xA9" "cole", "ECOLE", true, CaseFoldAccents},
        {"ecole", "&Eacute;cole", true, CaseFoldAccents},
        {"ecole", "&Agrave;cole", false, CaseFoldAccents},
        {"ix", "&#xFB01;x", true, CaseFoldUnicode},
        {"donaudampf", "Donau&shy;dampf", true, CaseFoldAccents},
        {"\xC3\xA9" "cole", "e&#x301;cole", true, CaseFoldUnicode},
        {"ecole", "e&#x301;cole", true, CaseFoldAccents},
        {"\xC3\xA9" "cole", "e<b>\xCC\x81</b>cole", true, CaseFoldUnicode},
        {"ecole", "e<b>\xCC\x81" "cole", true, CaseFoldAccents, 6},  // the mark held back to the next read
        {"ecole", std::string(40, ' ') + "e<b>\xCC\x81" "cole", true, CaseFoldAccents},  // tag ends found 16 bytes at a time
        {"ecole", std::string(40, ' ') + "e&amp;\xCC\x81" "cole e&amp;cole", true, CaseFoldAccents},
        {"\xC3\xA9" "cole", "\xC3<b>\xA9</b>cole", true, CaseFoldUnicode},
        {"l'\xC3\xA9" "cole", "l\xE2\x80\x99\xC3\xA9" "cole", true, CaseFoldAccents},
        {"zone", "zo<a title=\xE2\x80\x9Cx>ne", true, CaseFoldUnicode},
        {"zone", "zo\xEF\xBC\x9C" "b>ne", false, CaseFoldUnicode},
        // An "&" that no reference can follow is text; where looking at each
        // boundary would cost more than reading the text, the filter gives way.
        {"zone", "zo& ne zo&&ne zo&;ne", false},
        {"zone", std::string(200, ' ') + [] {
             std::string many;
             for (int i = 0; i < 100; ++i) many += "&#121;one ";
             return many;
         }(), false},
        {"zone", [] {
             std::string many;
             for (int i = 0; i < 200; ++i) many += "&#121;";
             return many;
         }(), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.words) + " in " + row.document.substr(0, 60));
        Words(row.words, true, row.folding);
        EXPECT_EQ(FilterMayShow(row.document, row.readSize), row.mayShow);
    }
}

namespace {

// A word written as the visible-text reader would still read it, more or
// less: markup between its characters, some of them as references.
std::string WordWithSeams(const std::string& word, const std::vector<std::string>& markup, std::mt19937& random)
{
    std::string written;
    for (unsigned char byte : word) {
        if (random() % 2 == 0) written += markup[random() % markup.size()];
        if (byte < 0x80 && random() % 5 == 0) {
            char reference[16];
            snprintf(reference, sizeof reference, random() % 2 ? "&#%d;" : "&#X%x;", byte);
            written += reference;
        } else {
            written += static_cast<char>(byte);
        }
    }
    return written;
}

}  // namespace

// Several terms of one byte are found through a table, the rest through a
// set of their own: random documents score the same, and record the same
// places, as when the terms' whole set finds every hit, in both modes and at
// several block sizes.
TEST_F(Scanner, TermsOfOneByteScoreAsTheWholeSetScoresThem)
{
    const char* const searches[] = {"a b", "e T s +x", "a b c d e f g h i j k l m n o p q r s t u v w x y z to",
                                    "*e* s* -q ab", "\"a b\" a b"};
    const std::string alphabet = "abeEsStTxq <>\"=/ .,";
    testing_support::TempFolder folder;
    const std::string path = folder.path() + "/document.htm";
    std::vector<char> block(ScanBufferSize + VisibleTextSlack), raw(ScanBufferSize);
    context_.block = block.data();
    context_.raw = raw.data();
    std::mt19937 random(20261210);
    for (const char* search : searches) {
        for (int n = 0; n < 40; ++n) {
            std::string document;
            for (size_t i = random() % 400; i > 0; --i) document += alphabet[random() % alphabet.size()];
            testing_support::WriteFile(path, document);
            for (const bool textOnly : {false, true}) {
                Words(search, textOnly);
                ASSERT_GE(plan_.byteTerms.count, 2) << search;
                for (int32_t blockSize : {searchExpression.longestTerm + 2, 37, ScanBufferSize}) {
                    SCOPED_TRACE(std::string(search) + " in " + document + " by " + std::to_string(blockSize));
                    context_.blockSize = blockSize;
                    ScannedDocument byBytes, bySet;
                    ASSERT_TRUE(ScanDocument(&context_, path.c_str(), &byBytes));
                    plan_.byteTerms.count = 0;
                    ASSERT_TRUE(ScanDocument(&context_, path.c_str(), &bySet));
                    plan_.byteTerms.count = 2;
                    ASSERT_EQ(byBytes.matched, bySet.matched);
                    ASSERT_EQ(byBytes.percent, bySet.percent);
                    ASSERT_EQ(byBytes.weight, bySet.weight);
                    for (int i = 0; i < HitOffsetLimit; ++i) {
                        ASSERT_EQ(byBytes.hitOffsets[i], bySet.hitOffsets[i]) << i;
                        ASSERT_EQ(byBytes.shownOffsets[i], bySet.shownOffsets[i]) << i;
                    }
                }
            }
        }
    }
}

// Text only, the filter passes over a document only when its visible text
// holds none of the terms: random documents that put the terms together
// across tags, comments and references score the same with the filter and
// without it, at several block sizes, on every way of finding seams; folded
// too, with marks, punctuation and blanks outside ASCII among the seams.
TEST_F(Scanner, TextFilterPassesOverNoDocumentThatShowsATerm)
{
    const std::vector<std::string> markup = {
        "<b>", "</span>", "<br>", "<!--c-->", "<!-->-->", "<!-x>", "<?p?>", "<b\x01>", "</\0b>", "<b title='>'>",
        "<i class=don't>", "<a = \">\">", "<p \"c>d\">", "<script>zone</script>", "<head>x</head>", "<body>", "&nbsp;",
        "&amp;", "&", "<", ">", "&#;", " ", "\n", "<b title=\"" + std::string(80, '>') + "\">",
        "\xCC\x81", "&#x301;", "&shy;", "\xC2\xAD", "&Eacute;", "\xE2\x80\x9C", "<a title=\xE2\x80\x9C>", "\xC2\xA0",
        "<i title='\xE2\x80\x99'>", "\xEF\xBC\x9C", "&#xFB01;"};
    const std::vector<std::string> words = {"zone", "ne z", "a&b", "caf\xC3\xA9", "\xC3\xA9", "onez", "zonezonezone", "x",
                                            "\xC3\x89" "cole", "ZO\xE2\x84\xAA" "E", "l\xE2\x80\x99" "ecole", "fix"};
    const struct {
        CaseFolding folding;
        int documents;  // for each search
        std::vector<const char*> searches;
    } runs[] = {
        {CaseFoldAscii, 100, {"zone", "\"ne z\" a&b", "caf\xC3\xA9 -x", "\xC3\xA9", "*one* Z", "zonezonezone"}},
        {CaseFoldUnicode, 50, {"zoke \xC3\xA9" "cole", "caf\xC3\xA9 ix", "l'\xC3\xA9" "cole"}},
        {CaseFoldAccents, 50, {"zone ecole", "\"ne z\" cafe", "l'ecole fi"}},
    };
    testing_support::TempFolder folder;
    const std::string path = folder.path() + "/document.htm";
    std::mt19937 random(20261209);
    int passedOver = 0, shown = 0;
    for (const auto& run : runs) for (const char* search : run.searches) {
        for (int n = 0; n < run.documents; ++n) {
            std::string document;
            for (size_t i = 1 + random() % 4; i > 0; --i) {
                document += std::string(random() % 60, random() % 2 ? '.' : ' ');
                document += WordWithSeams(words[random() % words.size()], markup, random);
            }
            testing_support::WriteFile(path, document);
            const VectorLevel levelBefore = VectorLevelInUse();
            for (VectorLevel level : {VectorAvx2, VectorSse2, VectorPortable}) {
                UseVectorLevel(level);
                Words(search, true, run.folding);
                for (int32_t blockSize : {searchExpression.longestTerm + 2, 37, 160, ScanBufferSize}) {
                    SCOPED_TRACE(std::string(search) + " in " + document + " by " + std::to_string(blockSize));
                    ScannedDocument filtered, whole;
                    ScanThroughBlocks(path, blockSize, &filtered);
                    ReleaseTextFilter(&plan_.filter);
                    ScanThroughBlocks(path, blockSize, &whole);
                    PrepareTextFilter(&plan_.filter, searchExpression, plan_.level);
                    ASSERT_EQ(filtered.matched, whole.matched);
                    ASSERT_EQ(filtered.percent, whole.percent);
                    ASSERT_EQ(filtered.weight, whole.weight);
                    shown += blockSize == ScanBufferSize && level == VectorAvx2 && whole.matched;
                }
            }
            UseVectorLevel(levelBefore);
            passedOver += !FilterMayShow(document);
        }
    }
    // Neither every document read nor none.
    EXPECT_GT(passedOver, 20);
    EXPECT_GT(shown, 50);
}

TEST(AttributeTokens, SplitsTagText)
{
    const std::string longValue(400, 'v');
    const std::string cut = std::string(297, 'v') + "...";
    struct Row {
        std::string tag;
        int index, result;
        std::string token;
        char separator;
    } rows[] = {
        {" name=\"description\" content=\"x y\"", 0, 1, "", ' '},
        {" name=\"description\" content=\"x y\"", 1, 1, "name", '='},
        {" name=\"description\" content=\"x y\"", 2, 1, "description", ' '},
        {" name=\"description\" content=\"x y\"", 3, 1, "content", '='},
        {" name=\"description\" content=\"x y\"", 4, 1, "x y", 0},
        {" name=\"description\" content=\"x y\"", 5, 0, "", 0},
        {"content=x name=keywords", 0, 1, "content", '='},
        {"a = b", 0, 1, "a", '='},
        {"a  =  b", 1, 1, "b", 0},
        {"a =b", 0, 1, "a", '='},
        {"a b", 0, 1, "a", ' '},
        {"a\"b c\"d e", 0, 1, "ab cd", ' '},
        {"\"\" x", 0, 1, "", ' '},
        {"\"\" x", 1, 1, "x", 0},
        {"a\\\"b c", 0, 1, "a\"b", ' '},
        {"a\\\\b", 0, 1, "a\\b", 0},
        {"a\\b", 0, 1, "ab", 0},
        {"a\nb", 1, 1, "b", 0},
        {"\"a\nb\"", 0, 1, "a\nb", 0},
        {"a\x01\tb\x7f", 0, 1, "ab\x7f", 0},
        {"a<b c=d>e f", 0, 1, "a<b c=d>e", ' '},
        {"a<b\x01\n>e", 0, 1, "a<b\x01\n>e", 0},
        {"a>b c", 0, 1, "a", 0},
        {"a>b c", 1, 0, "", 0},
        {"\"a>b\" c", 0, 1, "a>b", ' '},
        {"x=", 1, 0, "", 0},
        {"", 0, 0, "", 0},
        {"a", 0, 1, "a", 0},
        {longValue + " next", 0, 1, cut, 0},
        {"\"" + longValue + "\"", 0, 1, cut, 0},
        {std::string(296, 'v') + "\\\\w", 0, 1, std::string(296, 'v') + "\\...", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.tag.substr(0, 40) + " #" + std::to_string(row.index));
        char token[MetaTokenSize + 1];
        char separator = 'q';
        EXPECT_EQ(GetAttributeToken(row.tag.c_str(), row.index, token, MetaTokenSize, &separator), row.result);
        if (!row.result) continue;
        EXPECT_EQ(std::string(token), row.token);
        EXPECT_EQ(separator, row.separator);
    }
}

TEST(AttributeTokens, CopiesTagText)
{
    struct Row {
        std::string source;
        int capacity, blank, result;
        std::string copied, sourceAfter;
    } rows[] = {
        {"abc>rest", 100, 1, 1, "abc", "   >rest"},
        {"abc>rest", 100, 0, 1, "abc", "abc>rest"},
        {">rest", 100, 1, 1, "", ">rest"},
        {"abc", 100, 1, 0, "abc", "   "},
        {"abcdef>", 4, 1, 1, "abc", "   def>"},
    };
    for (const Row& row : rows) {
        std::vector<char> source(row.source.begin(), row.source.end());
        source.push_back('\0');
        std::vector<char> destination(static_cast<size_t>(row.capacity) + 8, '#');
        char* end = source.data() + row.source.size();
        EXPECT_EQ(CopyTagText(source.data(), end, destination.data(), destination.data() + row.capacity, row.blank),
                  row.result)
            << row.source;
        EXPECT_EQ(std::string(destination.data()), row.copied) << row.source;
        EXPECT_EQ(std::string(source.data()), row.sourceAfter) << row.source;
        EXPECT_EQ(destination[static_cast<size_t>(row.capacity)], '#') << row.source;
    }
}

TEST(RankedList, InsertsInSortOrder)
{
    struct Entry {
        char name;
        double percent, weight;
        uint32_t modified;
        int32_t size;
    };
    struct Row {
        int32_t sortMode;
        std::vector<Entry> entries;  // inserted in this order
        std::string order;
    } rows[] = {
        {SortByPercent,
         {{'A', 50, 1, 1, 9}, {'B', 90, 1, 1, 0}, {'C', 50, 2, 1, 0}, {'D', 50, 1, 2, 0}, {'E', 50, 1, 1, 0},
          {'F', 10, 9, 9, 99}},
         "BCDEAF"},
        {SortByWeight,
         {{'A', 50, 1, 1, 9}, {'B', 10, 3, 0, 0}, {'C', 60, 1, 0, 0}, {'D', 50, 1, 2, 0}, {'E', 50, 1, 1, 0},
          {'F', 100, 0.5, 9, 99}},
         "BCDEAF"},
        {SortByDate,
         {{'A', 50, 1, 10, 9}, {'B', 0, 0, 0x80000000u, 0}, {'C', 60, 0, 10, 0}, {'D', 50, 2, 10, 0},
          {'E', 50, 1, 10, 0}, {'F', 100, 100, 9, 99}},
         "BCDEAF"},
        {SortBySize,
         {{'A', 50, 1, 9, 10}, {'B', 0, 0, 0, 2000000000}, {'C', 60, 0, 0, 10}, {'D', 50, 2, 0, 10},
          {'E', 50, 1, 0, 10}, {'F', 100, 100, 99, -1}},
         "BCDEAF"},
        {7, {{'A', 1, 5, 0, 0}, {'B', 2, 0, 0, 0}}, "BA"},
    };
    for (const Row& row : rows) {
        std::vector<ResultEntry> slots(row.entries.size());
        resultList = ResultList{};
        resultList.sortMode = row.sortMode;
        for (size_t i = 0; i < row.entries.size(); ++i) {
            ResultEntry& slot = slots[i];
            memset(&slot, 0, sizeof slot);
            slot.title[0] = row.entries[i].name;
            slot.percent = row.entries[i].percent;
            slot.weight = row.entries[i].weight;
            slot.modified = row.entries[i].modified;
            slot.size = row.entries[i].size;
            InsertRanked(&slot);
        }
        std::string forward, backward;
        for (const ResultEntry* at = resultList.head; at; at = at->next) forward += at->title;
        for (const ResultEntry* at = resultList.tail; at; at = at->prev) backward.insert(0, at->title);
        EXPECT_EQ(forward, row.order) << "mode " << row.sortMode;
        EXPECT_EQ(backward, row.order) << "mode " << row.sortMode;
        EXPECT_EQ(resultList.head->prev, nullptr);
        EXPECT_EQ(resultList.tail->next, nullptr);
    }
    resultList = ResultList{};
}

// The relevance ranking's logarithm is its own, the same bits everywhere:
// exact at powers of two, within 2^-28 of the C library's elsewhere.
TEST(RelevanceRanking, FixedPointLogarithm)
{
    for (int bit = 0; bit < 64; ++bit) EXPECT_EQ(FixedLog2(uint64_t{1} << bit), int64_t{bit} << 32) << bit;
    std::mt19937_64 random(22);
    std::vector<uint64_t> values = {3, 5, 7, 10, 1000, 1001, 65535, 65537, UINT32_MAX, UINT64_MAX};
    for (int i = 0; i < 2000; ++i) values.push_back(random() >> (random() % 64));
    for (uint64_t value : values) {
        if (value == 0) continue;
        const double fixed = static_cast<double>(FixedLog2(value)) / 4294967296.0;
        EXPECT_NEAR(fixed, std::log2(static_cast<double>(value)), 1.0 / (1 << 28)) << value;
    }
}

namespace {

// A matched document whose four terms each stand `hits` times in a text of
// 1,000 bytes.
ScannedDocument MatchOf(uint32_t hits)
{
    ScannedDocument document{};
    document.matched = 1;
    document.percent = 100;
    document.textLength = 1000;
    for (int term = 0; term < 4; ++term) document.strengths[term][FieldText] = hits * WholeWordStrength;
    for (int64_t& offset : document.hitOffsets) offset = -1;
    return document;
}

std::string PageName(int i)
{
    char name[64];
    snprintf(name, sizeof name, "\\site\\docs\\page%06d.htm", i);
    return name;
}

}  // namespace

// 100,000 matches of a four-word search: each record takes 104 bytes and its
// path the bytes it does not share with the one before; all are ranked. With
// a budget of four chunks the records give way to the best by the counts so
// far, which here are the best by the final counts too, and the memory stays
// within the budget.
TEST_F(Scanner, RelevanceRanksEveryMatchWithinItsMemory)
{
    Words("cat dog bird fish", false, true);
    EXPECT_EQ(MatchRecordBytes(4), 104);
    std::vector<ResultEntry> slots(ResultSlotCount);
    const int32_t matches = 100000;
    auto hitsOf = [](int i) { return static_cast<uint32_t>(1 + (static_cast<int64_t>(i) * 7919) % 100000); };
    for (int32_t budget : {MatchChunkLimit, 4}) {
        SCOPED_TRACE(budget);
        resultList = ResultList{};
        resultList.slots = slots.data();
        const int32_t before = MemGetStats().bytesInUse;
        RelevanceRun run;
        StartRelevance(&run, &plan_, SortByPercent, "\\site\\", budget);
        int32_t peak = 0;
        for (int i = 0; i < matches; ++i) {
            FileForRelevance(&run, PageName(i).c_str(), 1000, 0, MatchOf(hitsOf(i)));
            peak = std::max(peak, MemGetStats().bytesInUse - before);
        }
        if (budget == MatchChunkLimit) {
            EXPECT_EQ(run.passedOver, 0u);
            EXPECT_LT(peak, matches * (104 + 8) + 2 * MatchChunkBytes);
        } else {
            EXPECT_GT(run.passedOver, 0u);
            EXPECT_LE(peak, (budget + 2) * (MatchChunkBytes + 16));
        }
        RankByRelevance(&run);
        EXPECT_EQ(MemGetStats().bytesInUse, before);
        EXPECT_EQ(resultList.matchedTotal, matches);
        EXPECT_EQ(resultList.resultCount, ResultLimit);
        EXPECT_EQ(resultList.linkedCount, ResultSlotCount);
        // The most hits first: i * 7919 is 100,000 - k (mod 100,000) for these.
        int position = 0;
        for (const ResultEntry* entry = resultList.head; entry; entry = entry->next, ++position) {
            int page = 0;
            ASSERT_EQ(sscanf(entry->path, "/site/docs/page%d.htm", &page), 1) << entry->path;
            ASSERT_EQ(hitsOf(page), static_cast<uint32_t>(matches - position)) << position;
        }
        EXPECT_EQ(position, ResultSlotCount);
    }
    resultList = ResultList{};
}

namespace {

// MainMode: read for main content (references decoded) only; the rows of
// DecodeMode are read for main content as well, and give the same text.
enum : int { KeepMode = 1, DecodeMode = 2, BothModes = 3, MainMode = 4 };
constexpr size_t WholeDocument = static_cast<size_t>(-1);
constexpr char Guard = '#';
constexpr int GuardLength = 8;

// Calls the reader with a target of exactly the promised size plus guard bytes.
template <typename Call>
void CallIntoTarget(int capacity, std::string* text, Call call)
{
    std::vector<char> target(static_cast<size_t>(capacity + GuardLength), Guard);
    const int written = call(target.data());
    ASSERT_GE(written, 0);
    ASSERT_LE(written, capacity);
    EXPECT_EQ(std::string(target.end() - GuardLength, target.end()), std::string(GuardLength, Guard));
    text->append(target.data(), static_cast<size_t>(written));
}

// The whole protocol over a document fed in a first piece and then pieces of
// another size, the restarts included: from a head's "<body", and for main
// content, from the start where stronger marks void the text so far.
std::string VisibleTextInPieces(const std::string& document, VisibleTextMode mode, size_t first, size_t then,
                                bool main = false)
{
    std::string text;
    VisibleTextReader reader;
    StartVisibleText(&reader, mode, VectorLevelInUse());
    if (main) StartMainContent(&reader, NoMarks);
    // Each kind of marks once, each reading with a head restart.
    for (int pass = 0; pass < 6; ++pass) {
        bool startedOver = false;
        for (size_t from = static_cast<size_t>(reader.offset), piece = first; from < document.size(); piece = then) {
            const size_t count = piece < document.size() - from ? piece : document.size() - from;
            CallIntoTarget(static_cast<int>(count) + VisibleTextSlack, &text, [&](char* target) {
                return ReadVisibleText(&reader, document.data() + from, static_cast<int>(count), target);
            });
            if ((startedOver = reader.startOver)) break;
            from += count;
        }
        if (startedOver) {
            EXPECT_TRUE(main);
            EXPECT_EQ(reader.restartAt, 0);
            EXPECT_EQ(reader.offset, 0);
            text.clear();
            continue;
        }
        EXPECT_EQ(reader.offset, static_cast<int64_t>(document.size()));
        CallIntoTarget(VisibleTextSlack, &text, [&](char* target) { return FinishVisibleText(&reader, target); });
        if (reader.restartAt < 0) return text;
        EXPECT_LT(reader.restartAt, static_cast<int64_t>(document.size()));
        EXPECT_EQ(reader.offset, reader.restartAt);
    }
    ADD_FAILURE() << "too many restarts";
    return text;
}

}  // namespace

TEST(ScannerVisibleText, EverySplitGivesTheSameText)
{
    const std::string longZeros(28, '0');
    const std::string longValue(60, 'x');
    // Candidates dense enough to be told at once: text, names, numbers and
    // unknown names, against every block and window edge as the splits move them.
    const std::string storm = "&a&amp;&#;&q;&lt&#65;&#x42;&AElig;&thetasym;&unknownname;&#12a;x&&lt;&#&gt;&ZZ9;&#x;&quot&euro;&#4294967361;";
    const std::string stormText = "&a&&#;&q;&ltAB\xC3\x86\xCF\x91&unknownname;&#12a;x&<&#>&ZZ9;&#x;&quot\xE2\x82\xAC&#4294967361;";
    const std::string comments =
        "a<!---->b<!-- x -->c<!--->d-->e<!-- \"x>\" -->f<!-- '>' -->g<!--<p>-->h<!-- -- >i-->j<!DOCTYPE x>k<!-- a=\"-->\" -->l";
    struct Row {
        int modes;
        std::string document, text;
    } rows[] = {
        {BothModes, "", ""},
        {BothModes, " \t\r\n\f plain \f\t\r\n text \n", "plain text"},
        {BothModes, std::string("a\0b\x80\xff", 5), std::string("a\0b\x80\xff", 5)},
        // Inline tags and comments join the text; other tags stand as a blank.
        {BothModes, "<p>wa<b>ter</B> <SPAN class=x>fall</span><strongly>s", "water fall s"},
        {BothModes, "a<br>b<BR/>c</ >d<!DOCTYPE html>e<?xml v?>f<!-x>g<!->h</>i", "a b c d e f g h i"},
        {BothModes, std::string("x<b\x01>y</\0b>z as text", 20), "x y z as text"},
        {BothModes, "wa<!-- <p> -->ter<!-->x-->y<!---->z<!--->w--->v<!-- open", "wateryzv"},
        // "<!" and "<?" tags among names in a block: only "<!--" opens a comment.
        {BothModes, "a<?--x-->b<i>c</i><!x>d<i>e</i><!-- y -->f</!x>g<?x?>h<b>i<!-->j</b>", "a bc def g hi"},
        // Comments one after another, against every block edge as the splits move them.
        {BothModes, comments + comments + comments, "abcefghj k\" -->labcefghj k\" -->labcefghj k\" -->l"},
        // What follows a comment is no clue to the tags before it.
        {BothModes, "a<br><!-- > x-->c d<br><!-- x -->e<b></b><!-- -> y -->f", "a c d ef"},
        // A quote opens a value only right after "=".
        {BothModes, "<p class=don't>a<a title = \"1>2\" x='>'>b<p \"c>d\"><a=\">\">e", "ab d\"> e"},
        {BothModes, "x<a href=\"never closed>y", "x"},
        {BothModes, "<html><head><title>No end</title><BODY clas==\"<head>\">text<head>more<body>last", "text last"},
        {BothModes, "a<b title='x>y'>c", "ac"},
        {BothModes, "a<b x\"y=\"v>w\">z", "az"},
        {BothModes, "a<b title=\"<!x\">c<p>d", "ac d"},
        {BothModes, "1 < 2 <3 <<b>4 <=<", "1 < 2 <3 <4 <=<"},
        {BothModes, "a<script>if (a<b) s='</p><!--';<</SCRIPTS >b<scripts>c", "a b c"},
        {BothModes, "a<style media=\"x>\">p>b{}</style\nc", "a"},
        {BothModes, "a<STYLE>b</Style>c</script>d", "a c d"},
        // Tags, values and blanks across blocks of 64 bytes.
        {BothModes,
         "<p>one\ttwo<span class=\"x\">three</span> <b>four</b>\n<em>five</em>,<a href=\"#six\" title=\"a title "
         "long enough to cross a block\">six</a></p>seven<i>eight</i>",
         "one twothree four five,six seveneight"},
        {BothModes, "<a title=\"" + longValue + "x>y\">z</a> and <a title=\"" + longValue + "'\">w</a>", "z and w"},
        // A head runs to its "</head", else to its first "<body", else to the end.
        {BothModes, "a<head><title>T</title><script>x</head>b</header>c", "a b c"},
        {BothModes, "a<head>x<body>y</HEADER>z", "a z"},
        {BothModes, "a<head><title>T</title><BODY class=\"<head>\">b<head>c<body>d", "a b d"},
        {BothModes, "a<head>x</head><head>y<bodyx>z", "a z"},
        {BothModes, "a<head>x<body", "a"},
        {BothModes, "a<head>b", "a"},
        // References: kept as they stand, or decoded where they stand whole.
        {KeepMode, "caf&eacute; &amp;&lt;b&gt; &nbsp;&#32;x&#xE9", "caf&eacute; &amp;&lt;b&gt; &nbsp;&#32;x&#xE9"},
        {DecodeMode, "caf&eacute; &Eacute;&#233;&#xE9;&#Xe9; &lt;b&gt;&#x10FFFF;&#0;",
         std::string("caf\xC3\xA9 \xC3\x89\xC3\xA9\xC3\xA9\xC3\xA9 <b>\xF4\x8F\xBF\xBF\0", 23)},
        {DecodeMode, "&nbsp;a&nbsp;&nbsp;b&#32;c&#9;&#10;&#13;&#12;d &#160; &nbsp;", "a b c d \xC2\xA0"},
        {DecodeMode, "&#&; &&amp; &amp &am<b>p; &unknown; &AMP; &; &#; &#x; &#xG; &#12a; x&#xE9",
         "&#&; && &amp &amp; &unknown; &AMP; &; &#; &#x; &#xG; &#12a; x&#xE9"},
        {DecodeMode, "&#1114112; &#xD800; &#xDFFF; &#99999999999;", "&#1114112; &#xD800; &#xDFFF; &#99999999999;"},
        // Names of up to eight bytes are looked up; a longer one is text, though it begins with one.
        {DecodeMode, "&thetasymx;&thetasym;&alefsym;&zwnj;x&Thetasym;", "&thetasymx;\xCF\x91\xE2\x84\xB5\xE2\x80\x8Cx&Thetasym;"},
        // One to nine digits, few to a block: each is read at once or by the state machine.
        {DecodeMode, "&#65;&#066;&#0067;&#00068;&#000069;&#0000070;&#00000071;&#000000072; &#1114111;&#1114112;&#99999999;"
                     "&#9;x&#6Z;&#0;",
         std::string("ABCDEFGH \xF4\x8F\xBF\xBF&#1114112;&#99999999; x&#6Z;\0", 42)},
        {DecodeMode, "<a href=\"?x&amp;y\">z</a>&amp;", "z&"},
        {DecodeMode, "&#" + longZeros.substr(1) + "65; &#" + longZeros + "65;", "A &#" + longZeros + "65;"},
        {DecodeMode, storm + storm + storm, stormText + stormText + stormText},
        {DecodeMode, "&#" + longZeros + "65;" + storm + "&#" + longZeros.substr(1) + "65;&lt;&gt;",
         "&#" + longZeros + "65;" + stormText + "A<>"},
        // Main content: the marks, the owner's over the theme's, several and nested.
        {MainMode, "a<main>b<main>c</main>d</main>e<MAIN class=x>f</Main>", "b c d f"},
        {MainMode, "a<div ROLE=\"Main\">b<div>c</div>d</div>e<p role='note  MAIN'>f</p><i role=mainly>g</i>", "b c d f"},
        {MainMode, "<main>m</main>a<p data-trawlex-body>b<span data-trawlex-body>c</span>d</p>e<div DATA-TRAWLEX-BODY=no>f",
         "bcd f"},
        {MainMode, "x<nav><p data-trawlex-body>y</p></nav>z<main>w</main>", ""},
        // Landmarks, everywhere, with nested elements of their name counted.
        {MainMode, "a<nav>b</nav>c<div role=navigation>d</div>e<div role=search>f</div>g<div role=banner>h</div>i"
                   "<div role=contentinfo>j</div>k<NAV>l</Nav>m<DiV RoLe=NaViGaTiOn>n</dIv>o",
         "a c e g i k m o"},
        {MainMode, "a<div role=navigation><div>b</div>c<div><div>d</div></div>e</div>f<div role=search>g<div>h", "a f"},
        {MainMode, "<main>a<nav>b</nav>c<span data-trawlex-ignore>d</span>e</main>", "a c e"},
        {MainMode, "<div role=navigation><div class=x/>a</div>b</div>c<div role=navigation><DIV/>d</div>e<h1 role=search>"
                   "<H1>f</h1>g</h1>h<div role=banner><div class=\"" + longValue + "\">i</div>j</div>k",
         "c e h k"},
        // Names compared in full: a control byte is not the digit that 0x20 would make it.
        {MainMode, "<h1 role=search>a<h\x11>b</h1>c</h1>d", "c d"},
        {MainMode, "<my-custom-element role=navigation><my-custom-element>a</my-custom-element>b</my-custom-element>c"
                   "<my-custom-elements role=navigation>d</my-custom-element>e",
         "c"},
        // A header or footer is the page's outside sectioning elements and main content.
        {MainMode, "<header>a</header>b<article><header>c</header>d<footer>e</footer></article><footer>f</footer>g"
                   "<aside><header>h</header></aside><section><footer>i</footer></section><nav><header>j</header></nav>"
                   "<div role=main><header>k</header></div>",
         "k"},
        {MainMode, "<header>a</header>b<article><header>c</header>d<footer>e</footer></article><footer>f</footer>g"
                   "<aside><header>h</header></aside><section><footer>i</footer></section><div data-trawlex-ignore>"
                   "<header>j</header></div><p role=main><i><header>k</header></i></p>",
         "k"},
        {MainMode, "<header>a</header>b<article><header>c</header>d<footer>e</footer></article><footer>f</footer>g"
                   "<aside><header>h</header></aside><section><footer>i</footer></section><article></section>"
                   "<header>j</header>",
         "b c d e g h i j"},
        {MainMode, "<section/><header>a</header>b<ARTICLE class=\"" + longValue + "\"><header>c</header></article><aside/>"
                   "<footer>d</footer>e<section><section></section><footer>f</footer></section><footer>g</footer>"
                   "</article><article><header>i</header>",
         "b c e f i"},
        // Opt-outs with and without a value; void and self-closed tags hold nothing.
        {MainMode, "a<span data-trawlex-ignore>b</span>c<div data-trawlex-ignore=\"false\">d</div>e<p Data-Trawlex-Ignore=''>f"
                   "</p>g<div data-trawlex-ignore><div>h</div>i</div>j",
         "a c e g j"},
        {MainMode, "a<div role=navigation/>b<img role=navigation>c<br data-trawlex-ignore>d<div role=navigation / >e</div>f"
                   "<div role=navigation/>g</div>h",
         "a b c d f g h"},
        // Only attributes count: not values, comments, scripts or a head.
        {MainMode, "<p title=\"x role=navigation\">a</p><p title='data-trawlex-ignore' role = \"note\">b</p>"
                   "<div class=\"x\"role=\"navigation\">c</div>d<a rel=x dir=y data-x=z role>e</a><b role=&#110;av>f</b>",
         "a b def"},
        {MainMode, "a<!-- <nav> -->b<script>x='<nav>'</script>c<style>/* <main> */</style>d<nav>e<script>'</nav>'</script>f"
                   "</nav>g<script data-trawlex-ignore>h</script>i<style role=navigation>j</style>k<head><main>l</main>"
                   "</head>m",
         "ab c d g i k m"},
        {MainMode, "a<!-- <nav -->b<!--<div role=navigation data-trawlex-body -->c<!-- </main --><main>d</main>", "d"},
        {MainMode, "a<!-- <nav -->b<!--<div role=navigation -->c<!-- <main -->d", "abcd"},
        {MainMode, "<div class=\"" + longValue + "\" role=navigation>a</div>b<p class=\"" + longValue + "\"\nDATA-trawlex-body>c",
         "c"},
        // Inside what is left out, a role counts only where it may mark main content.
        {MainMode, "a<nav><div role=\"search\">b</div><div Role=\"note\"><div role=\"x MAIN\">c</div>d</div></nav>e", ""},
        // Tags of a followed name across blocks, a tag read byte by byte after them.
        {MainMode, "<div role=navigation>" + longValue + "<div class=\"" + longValue + "\" id=\"a\">b</div><p title='x'>c" +
                       longValue + "<div id=\"a\"\n>d</div><p title='x'>e</div>f",
         "f"},
        {MainMode, "<div role=navigation>" + longValue + "<div title=\"" + longValue + "></div>\">b</div>c</div>d", "d"},
        // Marks met after text was written: the document is read again.
        {MainMode, "a<main>b</main>c<div data-trawlex-body>d</div>e", "d"},
        {MainMode, "a<head>x<body><main>b</main>c", "b"},
        {MainMode, "<nav=x>a</nav>b<nav \"x\">c</nav>d", "a b d"},
    };
    for (const Row& row : rows) {
        for (VisibleTextMode mode : {VisibleTextKeepReferences, VisibleTextDecodeReferences}) {
            for (bool main : {false, true}) {
                if (row.modes & MainMode ? !main || mode != VisibleTextDecodeReferences
                                         : !(row.modes & (mode == VisibleTextKeepReferences ? KeepMode : DecodeMode)) ||
                                               (main && mode == VisibleTextKeepReferences))
                    continue;
                SCOPED_TRACE(row.document + (mode == VisibleTextKeepReferences ? " (keep)" : " (decode)") +
                             (main ? " (main)" : ""));
                EXPECT_EQ(VisibleTextInPieces(row.document, mode, WholeDocument, WholeDocument, main), row.text);
                for (size_t size : {1, 2, 3, 7, 64})
                    EXPECT_EQ(VisibleTextInPieces(row.document, mode, size, size, main), row.text) << "blocks of " << size;
                for (size_t split = 1; split < row.document.size(); ++split)
                    EXPECT_EQ(VisibleTextInPieces(row.document, mode, split, WholeDocument, main), row.text)
                        << "split at " << split;
            }
        }
    }
}
