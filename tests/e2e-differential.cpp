// The real program against the same program built around the plain
// reference search and reader: every page must be identical, byte for byte.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "test-support.h"

using namespace testing_support;

namespace {

#ifdef TRAWLEX_REFERENCE_PROGRAM
const char* const ReferenceProgram = TRAWLEX_REFERENCE_PROGRAM;
#else
const char* const ReferenceProgram = "";
#endif

const std::vector<std::string> Vocabulary = {
    "cat",   "cats",  "Cat",      "CATS",     "category", "bobcat", "catsup", "dog",  "Dogs",  "the",
    "The",   "theme", "garden",   "gardens",  "seed",     "seeds",  "class",  "glass", "bus",  "buses",
    "river", "x",     "event",    "loop",     "loops",    "déjà",   "naïve",  "Ärger", "code", "codes",
    // What folding makes equal or keeps apart: case, canonical equivalents,
    // accents, blanks and punctuation outside ASCII, a script without spaces.
    "École", "ÉCOLE", "e\u0301cole", "écoles", "l’école", "«\u00A0cat\u00A0»", "“cat”", "Straße", "STRASSE",
    "Москва", "МОСКВА", "ёж", "еж", "йод", "東京都", "café", "cafe\u0301", "Œuvre", "\u212Aelvin", "Donau\u00ADdampf",
    "İstanbul", "ıi", "\xE9t\xE9"};
const std::string Punctuation = " \t\n.,;:!?\"'()[]{}<>*-/_";

class SiteWriter {
public:
    // With mainContent, the pages hold landmarks, marks and opt-outs too.
    explicit SiteWriter(const TestSite& site, bool mainContent = false)
        : site_(site), mainContent_(mainContent), random_(20261208u)
    {
    }

    void WriteAll()
    {
        // A slow document and its quick twin, next in walk order: they tie
        // near the top, so their order on the page tells whether a document
        // that a thread finished early was filed in walk order.
        std::string twin = "<title>";
        for (const std::string& word : Vocabulary) twin += word + " ";
        twin += "</title><p>" + twin.substr(7) + "the cat, the cats.</p>";
        PutDocument(site_, "aaa-slow.htm", twin + std::string(3000000, ' '));
        PutDocument(site_, "aab-quick.htm", twin);
        for (int i = 0; i < 320; ++i) site_.Page(FolderFor(i) + "doc" + std::to_string(i) + Extension(i), Document(i));
        site_.Page("cgi-bin/inside.htm", "<title>cat</title> cat dog");
        site_.Page(".hidden/cat.htm", "cat cat cat");
        site_.Page("notes.txt", "cat dog");
        if (!mainContent_) return;
        // Marks met after more text than a block holds was read and scored.
        std::string plain;
        while (plain.size() < 50000) plain += "the cat and the seed, a river loop; ";
        site_.Page("late-marks.html", "<title>late</title><p>" + plain + "<main>garden " + plain.substr(0, 30000) +
                                          "</main>x<div data-trawlex-body>loop cat</div>");
    }

private:
    int Pick(int count) { return static_cast<int>(random_() % static_cast<unsigned>(count)); }
    std::string Word() { return Vocabulary[Pick(static_cast<int>(Vocabulary.size()))]; }
    char Mark() { return Punctuation[Pick(static_cast<int>(Punctuation.size()))]; }

    std::string FolderFor(int i)
    {
        static const char* const Folders[] = {"", "docs/", "docs/deep/", "private/", "private/sub/", "News/", "docs/cgi-bin/"};
        return Folders[i % 7];
    }

    std::string Extension(int i) { return i % 11 == 3 ? ".HTML" : (i % 5 == 0 ? ".html" : ".htm"); }

    std::string Text(int words)
    {
        std::string text;
        for (int i = 0; i < words; ++i) {
            text += Word();
            text += Mark();
            if (Pick(9) == 0) text += Mark();
            if (Pick(12) == 0) text += Markup();
        }
        return text;
    }

    // What a visible-text reading must get right: inline tags that join
    // words, block tags, comments, scripts, styles and references.
    std::string Markup()
    {
        static const char* const Pieces[] = {
            "<b>", "</b>", "<br>", "</p><p class=\"x\">", "<!-- cat -->", "<script>var cat = \"</div>\";</script>",
            "<style>.cat{}</style>", "&amp;", "&eacute;", "&#233;", "&#x43;at", "&nbsp;", "&bogus;", "&lt;cat&gt;",
            "ca<i>t</i>", "<a href=\"cat.htm\" title='dog'>", "</a>", "<?xml cat?>", "<!DOCTYPE cat>", "&#0;",
            "<span>d</span>og", "\n\t \n", "&Eacute;cole", "e&#x301;cole", "e<b>\u0301</b>cole", "Donau&shy;dampf",
            "<a title=“x>", "＜b>", "\xC3<i>\xA9</i>", "&#x41C;&#x43E;&#x441;&#x43A;&#x432;&#x430;"};
        // Elements counted by their tags, so that some close and some run on.
        static const char* const MainPieces[] = {
            "<nav>", "</nav>", "<div role=\"navigation\">", "<DIV>", "</div>", "</Div>", "<main>", "</main>",
            "<header>", "</header>", "<footer class=x>", "</footer>", "<article>", "</article>", "<aside>",
            "<section role=\"main\">", "</section>", "<span data-trawlex-ignore>", "</span>",
            "<p data-trawlex-body>", "</p>", "<ul role='search banner'>", "</ul>", "<br role=navigation>",
            "<div role=contentinfo/>", "<i title=\"role=navigation\">", "</i>", "<!-- <nav> -->"};
        if (mainContent_ && Pick(2) == 0) return MainPieces[Pick(static_cast<int>(sizeof MainPieces / sizeof MainPieces[0]))];
        return Pieces[Pick(static_cast<int>(sizeof Pieces / sizeof Pieces[0]))];
    }

    // Robots META tags, most of which ask not to be found.
    std::string Robots(int i)
    {
        static const char* const Tags[] = {
            "<meta name=\"robots\" content=\"NOINDEX, nofollow\">", "<META CONTENT='none' NAME=Robots>",
            "<meta name=robots content=\"nofollow,noindex \">", "<meta name=\"robots\" content=\"index, follow\">",
            "<meta name=\"googlebot\" content=\"noindex\">", "<meta name=\"robots\" content=\"noindexes\">"};
        return Tags[(i / 5) % 6];
    }

    // A page as a site's theme lays it out, for main content.
    std::string Layout(int i, const std::string& text)
    {
        const size_t third = text.size() / 3;
        switch (i % 5) {
        case 0: return "<header>cat dog</header><nav>the garden</nav><main>" + text + "</main><footer>seed</footer>";
        case 1:
            return "<div role=\"navigation\"><div>river <div>loop</div></div> cat</div><div class=\"body\" role=\"main\">" +
                   text + "</div><div role=navigation>event</div>";
        case 2: return text.substr(0, third) + "<div data-trawlex-body>" + text.substr(third) + "</div>";
        case 3: return Robots(i) + text;
        default: return text;
        }
    }

    std::string Title(int i)
    {
        switch (i % 6) {
        case 0: return "";
        case 1: return "<TITLE>" + std::string(90 - 4, 'T') + " cat</TITLE>";  // exactly 90
        case 2: return "<title>" + Text(3) + "</title>";
        case 3: return "<Title>" + std::string(89, 'x') + "</Title>";
        case 4: return "<TITLE>" + Text(30) + "</TITLE>";
        default: return "<TITLE>Cats and Dogs";  // never closed
        }
    }

    std::string Meta(int i)
    {
        std::string content = Text(2 + Pick(5));
        switch (i % 8) {
        case 0: return "<META name=\"description\" content=\"" + content + "\">";
        case 1: return "<meta content=\"" + content + "\" name=\"description\">";
        case 2: return "<META NAME=keywords CONTENT=\"" + content + "\">";
        case 3: return "<META name = \"Description\"\ncontent = \"" + Text(120) + "\">";
        case 4: return "<META name=\"description\" content=\"" + content + "\"";  // never closed
        case 5: return "<meta name=\"keywords\" content=\"a \\\"quoted\\\" " + content + "\">";
        case 6: return "<META name=\"description\" content=\"<b>" + content + "</b>\">";
        default: return "";
        }
    }

    // Puts a word so that it straddles the first block boundary.
    std::string Straddling(std::string text, int i)
    {
        const size_t boundary = 20479;
        if (text.size() < boundary + 40) return text;
        std::string word = Vocabulary[static_cast<size_t>(i) % Vocabulary.size()];
        size_t at = boundary - word.size() / 2 - static_cast<size_t>(i % 3);
        text.replace(at, word.size() + 2, " " + word + " ");
        return text;
    }

    std::string LineEnds(std::string text, int i)
    {
        if (i % 4 != 1) return text;
        std::string converted;
        for (char c : text) {
            if (c == '\n') converted += "\r\n";
            else if (c == 'a' && Pick(50) == 0) converted += "\ra";  // a dropped CR joins words
            else converted += c;
        }
        return converted;
    }

    std::string Document(int i)
    {
        if (i % 40 == 7) return "";
        // Every 13th has a head that is never closed: it ends at the first "<body".
        std::string head = "<html><head>" + Title(i) + Meta(i) + Meta(i + 3) + (i % 13 == 4 ? "" : "</head>") + "<body>";
        int words = (i % 9 == 0) ? 6000 + Pick(9000) : 5 + Pick(300);
        std::string text = Straddling(head + (mainContent_ ? Layout(i / 7, Text(words)) : Text(words)), i);
        if (i % 23 == 5) text.insert(text.size() / 2, "\x1A cat cat cat");
        if (i % 31 == 2) text.insert(text.size() / 3, std::string("\0cat\0", 5));
        return LineEnds(text, i) + "</body></html>\n";
    }

    const TestSite& site_;
    bool mainContent_;
    std::mt19937 random_;
};

std::vector<std::string> Searches()
{
    std::vector<std::string> words = {
        "cat",        "cats",          "the",         "x",           "cat+dog",        "%2Bcat+dog",
        "cat+-dog",   "-cat",          "cat*",        "*cat",        "*cat*",          "%22cat+dog%22",
        "CATS+Dogs",  "garden+seed+river", "d%C3%A9j%C3%A0", "%2Bgarden+%2Bseed", "bus", "buses+bus",
        "class*",     "*ss",           "loop+event",  "%22event+loop%22", "theme+the",  "catsup",
        "code+-codes", "Ärger",        "na%C3%AFve+cat", "%2B%22cats+and%22",
        // Terms shared by several words; single letters; more terms than the
        // vector filter tells apart.
        "cat+Cat+%2Bcat+-CAT+cat*", "e+e+e+e+e", "a+b+c+d+e+f+g+h+i+j+k+l+m+n+o+p", "*e*+*e*+%2Be",
        "-e+cat", "x+X+%2Ax", "seed+seeds+*eed+garden*+river+loop+event+code+bus", "%22the+cat%22+the+cat"};
    const char* const extras[] = {"", "&SortBy=Weight", "&SortBy=Date", "&SortBy=Size", "&Count=3&StartAt=6",
                                  "&Count=1&StartAt=19", "&Look=Compact", "&Count=200&SortBy=size"};
    std::vector<std::string> queries;
    for (size_t i = 0; i < words.size(); ++i) {
        queries.push_back("Search=" + words[i]);
        queries.push_back("Search=" + words[i] + extras[(i % 7) + 1]);
    }
    return queries;
}

void FurnishData(const TestSite& site, const std::string& searchPath, int threads, const char* textOnly = "no",
                 const std::string& folding = "", bool relevance = false)
{
    site.Config("SEARCHPATH " + searchPath + "\nFILESPEC .htm\nFILESPEC .html\nEXCLUDEPATH /private/\nBASEURL /\n"
                "SKIPLIST skip.txt\nTHREADS " + std::to_string(threads) + "\nTEXTONLY " + textOnly + "\n" +
                (folding.empty() ? "" : "CASEFOLD " + folding + "\n") + (relevance ? "RANKING relevance\n" : ""));
    site.Data("skip.txt", "and of\ntheme \xC3\x9C" "BER\n");
    site.Data("header.htm", "<html><body>\n");
    site.Data("footer.htm", "</body></html>\n");
    site.Data("body.htm",
              "<p>&Search.Match; <a href=\"&Search.BaseURL;&Search.URL;\">&Search.Title;</a> &Search.Percent; "
              "&Search.Weight; &Search.Size; &Search.Modified; &Search.MatchTotal;/&Search.MatchReturned;<br>"
              "&Search.Description;</p>\n");
    site.Data("bodyCompact.htm", "&Search.Match;. &Search.Title; (&Search.Percent;)\n");
}

// An empty or cut page says little by itself: how the program ended does.
std::string HowItEnded(const RunResult& run)
{
    return "\nexit code " + std::to_string(run.exitCode) + ", standard error: " + run.err;
}

// Every query on one thread, and a share of them on two to four threads
// (the reference scans on one); a test run that sets the threads
// (TRAWLEX_TEST_THREADS) sets them for both.
TEST(Differential, PagesMatchThePlainReferenceProgram)
{
    TestSite site;
    SiteWriter(site).WriteAll();
    // The reference program has a site of its own that searches the same pages.
    TestSite reference(ReferenceProgram);
    FurnishData(reference, site.root(), 1);
    std::vector<std::string> queries = Searches();
    ASSERT_GE(queries.size(), 50u);
    for (int threads : ThreadCounts({1, 2, 3, 4})) {
        FurnishData(site, site.root(), threads);
        for (size_t i = 0; i < queries.size(); i += threads == 1 ? 1 : 3) {
            if (!ComparesTheNextOne()) continue;
            const std::string& query = queries[(i + static_cast<size_t>(threads)) % queries.size()];
            RunResult fast = Get(site, query);
            RunResult plain = Get(reference, query);
            EXPECT_EQ(MaskSearchTime(fast.out), MaskSearchTime(plain.out))
                << threads << " threads, query: " << query << HowItEnded(fast);
            EXPECT_NE(fast.out.find("files searched"), std::string::npos) << "query: " << query;
        }
    }
}

void CompareQueries(const TestSite& site, const TestSite& reference, const std::vector<std::string>& queries,
                    int threads, size_t step)
{
    for (size_t i = 0; i < queries.size(); i += step) {
        if (!ComparesTheNextOne()) continue;
        RunResult fast = Get(site, queries[i]);
        RunResult plain = Get(reference, queries[i]);
        EXPECT_EQ(MaskSearchTime(fast.out), MaskSearchTime(plain.out))
            << threads << " threads, query: " << queries[i] << HowItEnded(fast);
        EXPECT_NE(fast.out.find("files searched"), std::string::npos) << "query: " << queries[i];
    }
}

// Text only: the program reads each document's visible text in blocks; the
// reference takes each document's whole visible text at once and scores it.
// Of main content, the reference takes each whole document's main text first,
// and the relevance ranking's counts and the folded search are compared too
// (every other query).
void CompareTextOnly(const char* textOnly)
{
    const bool mainContent = std::string(textOnly) == "main";
    TestSite site;
    SiteWriter(site, mainContent).WriteAll();
    TestSite reference(ReferenceProgram);
    std::vector<std::string> queries = Searches();
    for (const char* more : {"caf%C3%A9", "%C3%A9", "%3Ccat%3E", "%22cat+dog%22", "dog+-%26", "%26bogus%3B", "C"})
        queries.push_back(std::string("Search=") + more);
    struct Way {
        bool relevance;
        const char* folding;
    };
    for (const Way& way : {Way{false, ""}, Way{true, ""}, Way{false, "accents"}}) {
        if (!mainContent && (way.relevance || *way.folding)) break;
        SCOPED_TRACE(std::string(way.relevance ? "relevance " : "") + way.folding);
        FurnishData(reference, site.root(), 1, textOnly, way.folding, way.relevance);
        for (int threads : ThreadCounts({1, 2})) {
            FurnishData(site, site.root(), threads, textOnly, way.folding, way.relevance);
            CompareQueries(site, reference, queries, threads, threads == 1 && !way.relevance && !*way.folding ? 1 : 2);
        }
    }
}

TEST(Differential, TextOnlyPagesMatchTheWholeTextReference) { CompareTextOnly("yes"); }

TEST(Differential, MainContentPagesMatchTheWholeMainTextReference) { CompareTextOnly("main"); }

// Relevance: the program counts each hit once while it reads blocks on
// several threads and ranks after the walk; the reference counts each
// document's whole text (stored or visible) at once, on one thread. Pages
// with excerpts (which read around where the scan saw each term's best hit,
// and the reference sees it elsewhere) are the same with any number of threads.
TEST(Differential, RelevancePagesMatchTheWholeTextReference)
{
    TestSite site;
    SiteWriter(site).WriteAll();
    TestSite reference(ReferenceProgram);
    std::vector<std::string> queries = Searches();
    const std::string excerpts = "<p>&Search.Match; &Search.URL; &Search.Weight; [&Search.Excerpt;]</p>\n";
    for (bool textOnly : {false, true}) {
        FurnishData(reference, site.root(), 1, textOnly ? "yes" : "no", "", true);
        std::map<std::string, std::string> oneThread;
        for (int threads = 1; threads <= 3; ++threads) {
            FurnishData(site, site.root(), threads, textOnly ? "yes" : "no", "", true);
            site.Data("bodyExcerpts.htm", excerpts);
            for (size_t i = threads - 1; i < queries.size(); i += threads == 1 ? 1 : 4) {
                // More threads take the searches whose page with excerpts one thread gave.
                if (threads == 1 ? !ComparesTheNextOne() : !oneThread.count(queries[i])) continue;
                SCOPED_TRACE(std::to_string(threads) + " threads, text only " + std::to_string(textOnly) + ", query: " +
                             queries[i]);
                RunResult fast = Get(site, queries[i]);
                EXPECT_EQ(MaskSearchTime(fast.out), MaskSearchTime(Get(reference, queries[i]).out));
                EXPECT_NE(fast.out.find("files searched"), std::string::npos);
                const std::string withExcerpts = MaskSearchTime(Get(site, queries[i] + "&Look=Excerpts").out);
                if (threads == 1) oneThread[queries[i]] = withExcerpts;
                else EXPECT_EQ(withExcerpts, oneThread[queries[i]]);
            }
        }
    }
}

// Under folding, the program folds each document as it reads it (its stored
// bytes, or its visible text, block after block); the reference folds each
// document's whole text first, then searches it. Ranked by relevance too,
// every other search.
TEST(Differential, FoldedPagesMatchTheWholeFoldedReference)
{
    TestSite site;
    SiteWriter(site).WriteAll();
    TestSite reference(ReferenceProgram);
    const std::vector<std::string> searches = {
        "%C3%A9cole", "ECOLE", "ecole+-cat", "%2Becole+cat", "%C3%A9co*", "*COLE", "stra%C3%9Fe", "strasse",
        "%D0%BC%D0%BE%D1%81%D0%BA%D0%B2%D0%B0", "%D0%B5%D0%B6+%D0%B9%D0%BE%D0%B4", "%E6%9D%B1%E4%BA%AC", "cafe",
        "caf%C3%A9+oeuvre", "kelvin+donaudampf", "istanbul+i", "%22l%27%C3%A9cole%22", "cat+%C3%BCber", "%E9t%E9",
        "%22cat+dog%22", "e+%C3%A9+%C3%89", "%D0%B5%D0%B6"};
    for (const char* folding : {"unicode", "accents"}) {
        for (const char* textOnly : {"no", "yes"}) {
            for (bool relevance : {false, true}) {
                FurnishData(reference, site.root(), 1, textOnly, folding, relevance);
                for (int threads = 1; threads <= 2; ++threads) {
                    FurnishData(site, site.root(), threads, textOnly, folding, relevance);
                    for (size_t i = relevance; i < searches.size(); i += threads * (relevance ? 2 : 1)) {
                        if (!ComparesTheNextOne()) continue;
                        const std::string query = "Search=" + searches[i] + (i % 3 ? "&SortBy=Weight" : "");
                        SCOPED_TRACE(std::string(folding) + ", text only " + textOnly + ", " +
                                     (relevance ? "relevance, " : "") + std::to_string(threads) +
                                     " threads, query: " + query);
                        RunResult fast = Get(site, query);
                        EXPECT_EQ(MaskSearchTime(fast.out), MaskSearchTime(Get(reference, query).out));
                        EXPECT_NE(fast.out.find("files searched"), std::string::npos);
                    }
                }
            }
        }
    }
}

}  // namespace
