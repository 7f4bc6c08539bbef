// Result template: placeholders, value formats and the output limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "corv-core.h"
#include "excerpt.h"
#include "result-template.h"
#include "search-plan.h"
#include "srchexpr.h"
#include "test-support.h"

namespace {

constexpr char Canary = '\x5A';

uint32_t DosStamp(int year, int month, int day, int hour, int minute, int second)
{
    uint32_t date = static_cast<uint32_t>((year - 1980) * 512 + month * 32 + day);
    uint32_t time = static_cast<uint32_t>(hour * 2048 + minute * 32 + second / 2);
    return date << 16 | time;
}

class ResultTemplate : public ::testing::Test {
protected:
    void SetUp() override
    {
        runSettings = RunSettings{};
        runSettings.searchPath = "D:\\web\\";
        runSettings.baseUrl = "/site/";
        resultList = ResultList{};
        resultList.matchedTotal = 250;
        resultList.resultCount = 200;
        memset(&entry_, 0, sizeof entry_);
        StrCopy(entry_.path, "D:/web/docs/a.htm");
        StrCopy(entry_.title, "Cats & Dogs");
        StrCopy(entry_.description, "About cats");
        entry_.size = 2048;
        entry_.modified = DosStamp(2001, 3, 5, 12, 34, 56);
        entry_.percent = 87.9;
        entry_.weight = 12.5;
    }
    void TearDown() override
    {
        runSettings = RunSettings{};
        resultList = ResultList{};
    }

    // The filled copy; checks that nothing was written behind the limit.
    std::string Expand(const std::string& text, int position = 10, int capacity = 2048)
    {
        std::vector<char> output(static_cast<size_t>(capacity) + 64, Canary);
        int length = -1;
        EXPECT_EQ(ExpandResultTemplate(&entry_, position, text.c_str(), output.data(), capacity, &length), 1);
        EXPECT_GE(length, 0);
        EXPECT_LE(length, capacity - 2);
        if (length < 0 || length > capacity - 2) return "";
        EXPECT_EQ(output[static_cast<size_t>(length)], '\0');
        size_t touched = static_cast<size_t>(capacity) - 1;
        while (touched < output.size() && output[touched] == Canary) ++touched;
        EXPECT_EQ(touched, output.size()) << "written behind the limit at " << touched;
        return std::string(output.data(), static_cast<size_t>(length));
    }

    ResultEntry entry_;
};

}  // namespace

TEST_F(ResultTemplate, FillsPlaceholders)
{
    const std::string x66(66, 'x');
    struct Row {
        std::string text, expected;
    } rows[] = {
        {"&Search.BaseURL;&Search.URL;", "/site/docs/a.htm"},
        {"<A HREF=\"&Search.URL;\">&Search.Title;</A>\n", "<A HREF=\"docs/a.htm\">Cats & Dogs</A>\n"},
        {"&Search.Description;|&Search.Size;|&Search.Modified;", "About cats|2K|3/5/2001"},
        {"#&Search.Match; &Search.Weight; &Search.Percent;", "#11 12.50 87%"},
        {"&Search.MatchTotal;/&Search.MatchReturned;", "250/200"},
        {"&nbsp;&amp;&Search.X;&search.Title;&Search.title;&Search.;&;", "&nbsp;&amp;&Search.X;&search.Title;&Search.title;&Search.;&;"},
        {"black & white &Search.Match;", "black & white 11"},
        {"a &b c; &Search.Title", "a &b c; &Search.Title"},
        {"&&Search.Match; &x\t;", "&&Search.Match; &x\t;"},
        {"&" + x66 + "&Search.Title;", "&" + x66 + "&Search.Title;"},            // a key of 79 characters
        {"&" + x66 + "x&Search.Title;", "&" + x66 + "xCats & Dogs"},              // 80: no placeholder
    };
    for (const Row& row : rows) EXPECT_EQ(Expand(row.text), row.expected) << row.text;
    EXPECT_EQ(Expand("&Search.Match;", 0), "1");
}

TEST_F(ResultTemplate, FormatsValues)
{
    const struct {
        int32_t size;
        const char* text;
    } sizes[] = {{0, "0 bytes"},          {1023, "1023 bytes"}, {1024, "1K"},           {1048575, "1023K"},
                 {1048576, "1 megs"},     {5242879, "4 megs"},  {2147483647, "2047 megs"}, {-5, "-5 bytes"}};
    for (const auto& row : sizes) {
        entry_.size = row.size;
        EXPECT_EQ(Expand("&Search.Size;"), row.text) << row.size;
    }
    const struct {
        uint32_t modified;
        const char* text;
    } dates[] = {{DosStamp(2001, 3, 5, 0, 0, 0), "3/5/2001"},
                 {DosStamp(1980, 1, 1, 0, 0, 0), "1/1/1980"},
                 {DosStamp(2107, 12, 31, 23, 59, 58), "12/31/2107"}};
    for (const auto& row : dates) {
        entry_.modified = row.modified;
        EXPECT_EQ(Expand("&Search.Modified;"), row.text) << row.text;
    }
    const struct {
        double percent, weight;
        const char* text;
    } numbers[] = {{87, 12.5, "87% 12.50"}, {100, 0, "100% 0.00"}, {99.99, 1234.567, "99% 1234.57"}};
    for (const auto& row : numbers) {
        entry_.percent = row.percent;
        entry_.weight = row.weight;
        EXPECT_EQ(Expand("&Search.Percent; &Search.Weight;"), row.text) << row.text;
    }
}

// Values come from files that others may have written: none can end the
// link's attribute or open an element. References stay as they are.
TEST_F(ResultTemplate, EscapesValuesFromTheSite)
{
    StrCopy(entry_.path, "D:/web/a\"b'c<d>e f\tg%h&i.htm");
    StrCopy(entry_.title, "<img src=x onerror=alert(1)> \"q\" &amp; 'a'");
    StrCopy(entry_.description, "x<y>\"z\"\x01\xE9");
    EXPECT_EQ(Expand("<A HREF=\"&Search.URL;\">&Search.Title;</A>&Search.Description;"),
              "<A HREF=\"a%22b%27c%3Cd%3Ee%20f%09g%h&i.htm\">&lt;img src=x onerror=alert(1)&gt; &quot;q&quot; "
              "&amp; 'a'</A>x&lt;y&gt;&quot;z&quot;\x01\xE9");
    // An excerpt is written by its length, whatever it holds.
    entry_.excerpt = "x\0y";
    entry_.excerptLength = 3;
    EXPECT_EQ(Expand("[&Search.Excerpt;]"), std::string("[x\0y]", 5));
}

TEST_F(ResultTemplate, NeverPassesTheOutputLimit)
{
    memset(entry_.description, 'd', DescriptionCapacity - 1);
    entry_.description[DescriptionCapacity - 1] = '\0';
    std::string tenDescriptions;
    for (int i = 0; i < 10; ++i) tenDescriptions += "&Search.Description;";
    const struct {
        std::string text;
        int capacity;
    } rows[] = {
        {std::string(100, 'a'), 20},
        {"0123456789abcdef&Search.Size;tail", 20},
        {"0123456789abcdefg&Search.Size;tail", 20},
        {"0123456789abcdefg&nbsp;tail", 20},
        {"&Search.Description;", 20},
        {"&Search.Description;", 300},
        {tenDescriptions, 2048},
        {tenDescriptions + "&Search.Title;", 2048},
        {"x", 2},
        {"x", 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 40) + " / " + std::to_string(row.capacity));
        const std::string whole = Expand(row.text, 10, 100000);
        const std::string cut = Expand(row.text, 10, row.capacity);
        EXPECT_EQ(whole.compare(0, cut.size(), cut), 0) << "not a prefix of the whole filled copy";
        // Nothing is dropped before the limit is reached, save a value that would cross it.
        EXPECT_GE(cut.size() + 10, std::min(whole.size(), static_cast<size_t>(row.capacity - 2)));
    }
    EXPECT_EQ(Expand(std::string(100, 'a'), 10, 20), std::string(18, 'a'));
    EXPECT_EQ(Expand("0123456789abcdef&Search.Size;tail", 10, 20), "0123456789abcdef2K");
}

// ---- Excerpts ------------------------------------------------------------------------

namespace {

class Excerpts : public ::testing::Test {
protected:
    void SetUp() override
    {
        MemInit(MemLimitMaximum, 0);
        workspace_.reset(new ExcerptWorkspace{});
        workspace_->plan = &plan_;
        workspace_->mode = VisibleTextKeepReferences;
    }
    void TearDown() override
    {
        ReleaseExcerptRoom(workspace_.get());
        ReleaseSearchPlan(&plan_);
        FreeSearchExpression();
        EXPECT_EQ(MemGetStats().liveCount, 0);
    }

    // The excerpt of a document, read from a file as a result's is, with no
    // hit recorded past its start unless given.
    std::string Excerpt(const char* words, const std::string& document, int size, int64_t recordedHit = -1,
                        int32_t textOnly = TextOnlyNo, int64_t secondTermsHit = -1, CaseFolding folding = CaseFoldAscii)
    {
        workspace_->mode = textOnly ? VisibleTextDecodeReferences : VisibleTextKeepReferences;
        workspace_->mainContent = textOnly == TextOnlyMain;
        ReleaseSearchPlan(&plan_);
        FreeSearchExpression();
        EXPECT_EQ(CompileSearchExpression("", words, folding), 1) << words;
        BuildSearchPlan(&plan_, &searchExpression, textOnly);
        testing_support::WriteFile(path_, document);
        ResultEntry entry{};
        StrCopy(entry.path, path_.c_str());
        for (int64_t& offset : entry.hitOffsets) offset = -1;
        for (int64_t& offset : entry.shownOffsets) offset = -1;
        entry.marks = -1;  // as after a scan that did not read the text
        entry.hitOffsets[0] = recordedHit;
        entry.hitOffsets[1] = secondTermsHit;
        std::vector<char> out(static_cast<size_t>(ExcerptCapacity(size)) + 16, '\x5A');
        const int length = BuildExcerpt(&entry, size, workspace_.get(), out.data(), ExcerptCapacity(size));
        EXPECT_EQ(out[static_cast<size_t>(ExcerptCapacity(size))], '\x5A') << "written past the room";
        return std::string(out.data(), static_cast<size_t>(length));
    }

    SearchPlan plan_{};
    std::unique_ptr<ExcerptWorkspace> workspace_;
    testing_support::TempFolder folder_;  // its own: tests run side by side
    std::string path_ = folder_.path() + "/document.htm";
};

std::string Words(const char* word, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) text += std::string(i ? " " : "") + word;
    return text;
}

}  // namespace

TEST_F(Excerpts, ShowTheBestPieceOfTheVisibleText)
{
    using namespace std::string_literals;
    const std::string filler = Words("filler", 30);  // 209 characters
    struct Row {
        const char* words;
        std::string document;
        int size;
        std::string excerpt;
        int32_t textOnly = TextOnlyNo;  // the text read as the text-only search reads it
        CaseFolding folding = CaseFoldAscii;
    } rows[] = {
        {"cat", "<p>The cat sat.</p>", 40, "The <MARK>cat</MARK> sat."},
        // Markup, comments, scripts, styles and the head are not text.
        {"cat", "<head><title>cat</title><style>cat{}</style></head><body><!-- cat --><script>cat()</script>"
                "<p>a <span class=\"cat\">cat</span></p>",
         40, "a <MARK>cat</MARK>"},
        {"x cat", "<head><title>t</title>x<body>cat", 40, "<MARK>cat</MARK>"},  // a head never closed
        {"water", "<p>wa<b>ter</b>fall and <i>water</i></p>", 40, "<MARK>water</MARK>fall and <MARK>water</MARK>"},
        // References stay whole and unmarked inside; what is left is escaped.
        {"amp", "x &amp; y &ampx", 40, "x &amp; y &amp;<MARK>amp</MARK>x"},
        {"b", "a < b > c \"d\" &#233;", 40, "a &lt; <MARK>b</MARK> &gt; c &quot;d&quot; &#233;"},
        {"lt", "a &lt;b&gt; lt", 40, "a &lt;b&gt; <MARK>lt</MARK>"},
        // Phrases as a whole; a wildcard's side runs to the word's end.
        {"\"big cat\" *cat run*", "a big cat, a bobcat running", 40,
         "a <MARK>big cat</MARK>, a <MARK>bobcat</MARK> <MARK>running</MARK>"},
        {"cat*", "the category cat", 40, "the <MARK>category</MARK> <MARK>cat</MARK>"},
        // A word runs on through letters outside ASCII, in either letter case.
        {"cat*", "la Cat\xC3\xA9gorie", 40, "la <MARK>Cat\xC3\xA9gorie</MARK>"},
        {"*gorie", "la CAT\xC3\x89GORIE", 40, "la <MARK>CAT\xC3\x89GORIE</MARK>"},
        // Hits that touch or overlap are one mark.
        {"cat dog", "a catdog b", 40, "a <MARK>catdog</MARK> b"},
        {"catdog at", "a catdog b", 40, "a <MARK>catdog</MARK> b"},
        // Excluded and skipped words are never marked.
        {"cat -dog", "cat dog", 40, "<MARK>cat</MARK> dog"},
        // The window with the most different words, whole words preferred,
        // the earliest on a tie; its ends on word boundaries.
        {"cat dog", "cat " + filler + " dog cat " + filler, 40,
         "...filler filler <MARK>dog</MARK> <MARK>cat</MARK> filler filler..."},
        {"cat", "bobcat " + filler + " cat " + filler, 40, "...filler filler <MARK>cat</MARK> filler filler..."},
        {"cat", filler + " xcat one " + filler + " xcat two " + filler, 40,
         "...filler filler x<MARK>cat</MARK> one filler filler..."},
        // No hit in the text: its start. No text: nothing.
        {"zebra", "<head><title>zebra</title></head>" + filler, 40, "filler filler filler filler filler..."},
        {"cat", "<script>cat</script><!-- cat -->", 40, ""},
        {"cat", "", 40, ""},
        // Characters: a UTF-8 sequence or a reference is one, never cut.
        {"cat", Words("\xC3\xA9t\xC3\xA9", 20) + " cat " + Words("\xC3\xA9t\xC3\xA9", 20), 40,
         "...\xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9 <MARK>cat</MARK> "
         "\xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9..."},
        {"cat", Words("&eacute;&eacute;", 20) + " cat " + Words("&eacute;&eacute;", 20), 40,
         "..." + Words("&eacute;&eacute;", 6) + " <MARK>cat</MARK> " + Words("&eacute;&eacute;", 6) + "..."},
        // A word longer than the room is cut at a character.
        {"x", "x " + std::string(60, 'y'), 40, "<MARK>x</MARK>..."},
        // Text only, the references were decoded for the search, and so for
        // the excerpt: what is left of "&" and "<" is escaped again.
        {"caf\xC3\xA9 lt", "caf&eacute; &amp;eacute; &lt;b&gt; lt", 40,
         "<MARK>caf\xC3\xA9</MARK> &amp;eacute; &lt;b&gt; <MARK>lt</MARK>", true},
        // A control but a tab or a line end, as a byte, a reference decoded
        // or UTF-8, shows as a blank; a reference kept stays one.
        {"cat", "\0cat\x01x\x1F\x7F&#0;\xC2\x85\xC2\xA0"s, 40, " <MARK>cat</MARK> x  &#0; \xC2\xA0"},
        {"cat", "\0cat\x01x\x1F\x7F&#0;&#x85;\xC2\x9F\xC2\xA0"s, 40, " <MARK>cat</MARK> x     \xC2\xA0", true},
        // Folded, hits are found in the folded text and mark the text as
        // written; none ends before a mark; a wildcard's side runs on folded.
        {"\xC3\xA9" "cole", "Une \xC3\x89" "COLE, l\xE2\x80\x99\xC3\xA9" "cole, E\xCC\x81" "cole, ecole.", 60,
         "Une <MARK>\xC3\x89" "COLE</MARK>, l\xE2\x80\x99<MARK>\xC3\xA9" "cole</MARK>, <MARK>E\xCC\x81" "cole</MARK>, ecole.",
         false, CaseFoldUnicode},
        {"cafe stras", "caf\xC3\xA9 Stra\xC3\x9F" "e cafe", 40, "caf\xC3\xA9 <MARK>Stra\xC3\x9F</MARK>e <MARK>cafe</MARK>", false,
         CaseFoldUnicode},
        {"ecol* strasse", "\xC3\x89" "coles Stra\xC3\x9F" "e", 40, "<MARK>\xC3\x89" "coles</MARK> <MARK>Stra\xC3\x9F" "e</MARK>",
         false, CaseFoldAccents},
        {"\xE6\x9D\xB1\xE4\xBA\xAC", "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD", 40, "<MARK>\xE6\x9D\xB1\xE4\xBA\xAC</MARK>\xE9\x83\xBD",
         false, CaseFoldUnicode},
        {"donaudampf", "Donau\xC2\xAD" "dampf", 40, "<MARK>Donau\xC2\xAD" "dampf</MARK>", false, CaseFoldAccents},
        {"\xC3\xA9t\xC3\xA9", "un \xC3\x89T\xC3\x89", 40, "un <MARK>\xC3\x89T\xC3\x89</MARK>", false, CaseFoldUnicode},
        // Punctuation outside ASCII is read as the ASCII it folds to: a whole word beats a part.
        {"cat", "catx " + filler + " cat\xE2\x80\x9D " + filler, 40,
         "...filler filler <MARK>cat</MARK>\xE2\x80\x9D filler filler...", false, CaseFoldUnicode},
        // A term of a script written without spaces is a whole word: the earliest wins.
        {"\xE6\x9D\xB1\xE4\xBA\xAC", "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD " + filler + " \xE6\x9D\xB1\xE4\xBA\xAC " + filler, 40,
         "<MARK>\xE6\x9D\xB1\xE4\xBA\xAC</MARK>\xE9\x83\xBD filler filler filler filler filler...", false, CaseFoldUnicode},
        // References are folded where the search decoded them.
        {"\xC3\xA9" "cole", "&Eacute;cole \xC3\xA9" "cole", 40, "&Eacute;cole <MARK>\xC3\xA9" "cole</MARK>", false,
         CaseFoldUnicode},
        {"\xC3\xA9" "cole", "&Eacute;cole", 40, "<MARK>\xC3\x89" "cole</MARK>", true, CaseFoldUnicode},
        // Main content: no menus, and its start where its text begins, however
        // far in (the scan did not tell the page's marks: they are read first).
        {"cat", "<header>cat <nav>cat menu</nav></header><main><nav>Home &rsaquo; cat</nav><p>The cat sat.</p></main>"
                "<footer>cat</footer>",
         40, "The <MARK>cat</MARK> sat.", TextOnlyMain},
        {"zebra", "<title>zebra</title><nav>" + Words("menu", 9000) + "</nav><div role=main>" + filler + "</div>", 40,
         "filler filler filler filler filler...", TextOnlyMain},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.words) + " in " + row.document.substr(0, 60));
        EXPECT_EQ(Excerpt(row.words, row.document, row.size, -1, row.textOnly, -1, row.folding), row.excerpt);
    }
}

// Past its start, a document is read only around the hits that its scan
// recorded.
TEST_F(Excerpts, FurtherOnOnlyAroundRecordedHits)
{
    const std::string start = Words("start", 2000);  // 11,999 bytes
    const std::string far = "<p>" + Words("filler", 20000) + " the cat sat " + Words("filler", 200) + "</p>";
    const std::string document = start + far;
    const int64_t hit = static_cast<int64_t>(document.find("cat sat"));
    EXPECT_EQ(Excerpt("cat", document, 40, hit), "...filler filler the <MARK>cat</MARK> sat filler filler...");
    EXPECT_EQ(Excerpt("cat", document, 40), Words("start", 6) + "...");
    // Of two neighbourhoods that show as much, the earlier, whichever term's it is.
    const std::string two = start + "<p>" + Words("filler", 5000) + " the dog sat " + Words("filler", 5000) +
                            " the cat sat " + Words("filler", 200) + "</p>";
    EXPECT_EQ(Excerpt("cat dog", two, 40, static_cast<int64_t>(two.find("cat sat")), false,
                      static_cast<int64_t>(two.find("dog sat"))),
              "...filler filler the <MARK>dog</MARK> sat filler filler...");
    // A recorded offset is only near its hit, so a neighbourhood may begin
    // inside a character or a reference, or end inside one: its edges are
    // cut back to whole words.
    const int64_t recorded = 40000, pieceStart = recorded - 4096;
    const std::string before = start + std::string(static_cast<size_t>(pieceStart) - start.size() - 1, ' ');
    EXPECT_EQ(Excerpt("cat", before + "\xC3\xA9t\xC3\xA9 cat sat " + Words("filler", 2000), 40, recorded),
              "...<MARK>cat</MARK> sat filler filler filler filler...");
    EXPECT_EQ(Excerpt("cat", before + "&eacute; cat sat " + Words("filler", 2000), 40, recorded),
              "...<MARK>cat</MARK> sat filler filler filler...");
    const std::string cutAtEnd = std::string(8192 - 12, ' ') + "the end &eac" + "ute; more";
    EXPECT_EQ(Excerpt("end", before + "x" + cutAtEnd, 40, recorded), "...<MARK>end</MARK>...");
    // Of main content, a piece is read with the elements it begins inside:
    // a menu that runs into it shows nothing.
    const std::string menu = "<main>" + start + "</main><nav>" + Words("filler", 20000) + " the cat ran " +
                             Words("filler", 100) + "</nav><main>the cat sat " + Words("filler", 200) + "</main>";
    EXPECT_EQ(Excerpt("cat", menu, 40, static_cast<int64_t>(menu.find("cat sat")), TextOnlyMain),
              "...the <MARK>cat</MARK> sat filler filler filler filler...");
}
