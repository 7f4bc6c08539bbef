// Search pages from end to end: scoring, ranking, paging and the template,
// compared as whole pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

#include "test-support.h"

using namespace testing_support;

namespace {

const std::string Refused =
    "A search could not be performed because one or more of the search words were either invalid or not "
    "specific enough...<BR><BR>";

std::string Format(const char* format, int value)
{
    char text[64];
    snprintf(text, sizeof text, format, value);
    return text;
}

struct Document {
    std::string name;
    std::string content;
};

struct ScoringRow {
    const char* name;
    std::vector<Document> documents;
    std::string query;
    std::vector<ShownResult> results;  // sizes filled in from the documents
    std::string config = DefaultConfig;
};

std::string SizeOf(const std::vector<Document>& documents, const std::string& url)
{
    for (const Document& document : documents)
        if (document.name == url) return SizeText(document.content.size());
    return "?";
}

TEST(SearchPage, ScoresRanksAndShowsEachDocument)
{
    const std::vector<Document> pets = {{"both.htm", "<P>cat dog</P>\n"},
                                        {"cat.htm", "<P>cat</P>\n"},
                                        {"dogs.htm", "<P>dog dog dog</P>\n"},
                                        {"link.htm", "<P><A HREF=\"dog.htm\">cat</A></P>\n"}};
    const std::vector<Document> words = {{"bobcat.htm", "<P>a bobcat is</P>\n"},
                                         {"category.htm", "<P>the category is</P>\n"}};
    const std::string title89 = "cat " + std::string(85, 'x');
    const std::string title90 = "cat " + std::string(86, 'x');
    const std::vector<ScoringRow> rows = {
        // Title hit at the region start 1.0 x 0.9 (8 x 0.81), body hit after ">" 0.81.
        {"title only", {{"a.htm", "<TITLE>Cats and Dogs</TITLE>\n"}}, "Search=cat",
         {{"a.htm", "Cats and Dogs", "90%", "7.29"}}},
        {"plural and part of a word",
         {{"catsup.htm", "<P>the catsup</P>\n"}, {"plural.htm", "<P>the cats.</P>\n"}}, "Search=cats",
         {{"plural.htm", "Untitled", "100%", "1.00"}, {"catsup.htm", "Untitled", "50%", "0.25"}}},
        {"any suffix", words, "Search=cat*",
         {{"category.htm", "Untitled", "100%", "1.00"}, {"bobcat.htm", "Untitled", "50%", "0.25"}}},
        {"any prefix", words, "Search=*cat",
         {{"bobcat.htm", "Untitled", "100%", "1.00"}, {"category.htm", "Untitled", "50%", "0.25"}}},
        // link.htm has "dog" in its markup only; it ties with both.htm and was scanned later.
        {"required word", pets, "Search=%2Bcat+dog",
         {{"link.htm", "Untitled", "100%", "2.00"},
          {"both.htm", "Untitled", "100%", "2.00"},
          {"cat.htm", "Untitled", "50%", "1.00"}}},
        {"excluded word, markup included", pets, "Search=cat+-dog", {{"cat.htm", "Untitled", "50%", "1.00"}}},
        {"only excluded words", pets, "Search=-dog", {}},
        {"no match", pets, "Search=bird", {}},
        // The first block holds 20,479 bytes; a word ending there is carried into the next block.
        {"block boundary",
         {{"across.htm", std::string(20477, ' ') + "cat\n"}, {"twice.htm", std::string(20476, ' ') + "cat\n"}},
         "Search=cat",
         {{"twice.htm", "Untitled", "100%", "2.00"}, {"across.htm", "Untitled", "100%", "1.00"}}},
        {"title of 89 and 90 characters",
         {{"t89.htm", "<TITLE>" + title89 + "</TITLE>\n"}, {"t90.htm", "<TITLE>" + title90 + "</TITLE>\n"}},
         "Search=cat",
         {{"t90.htm", title90 + "...", "100%", "9.00"}, {"t89.htm", title89, "100%", "9.00"}}},
        // A backslash in a tag is held back: "descr\iption" names the description.
        {"META name before content only",
         {{"content-first.htm", "<META content=\"about a cat\" name=\"description\">\n<P>cat</P>\n"},
          {"escaped.htm", "<META name=\"descr\\iption\" content=\"an escaped cat\">\n<P>cat</P>\n"},
          {"keywords.htm", "<META NAME=\"keywords\" CONTENT=\"cat, pet\">\n<P>cat</P>\n"},
          {"name-first.htm", "<META name=\"description\" content=\"about a cat\">\n<P>cat</P>\n"}},
         "Search=cat",
         {{"name-first.htm", "Untitled", "100%", "5.00", "", DocumentDate, "about a cat"},
          {"escaped.htm", "Untitled", "100%", "5.00", "", DocumentDate, "an escaped cat"},
          {"keywords.htm", "Untitled", "100%", "3.00"},
          {"content-first.htm", "Untitled", "100%", "1.00"}}},
        // Relevance: the description counts more than the keywords, and the
        // results take their titles and descriptions from their files again.
        {"META texts ranked by relevance",
         {{"content-first.htm", "<META content=\"about a cat\" name=\"description\">\n<P>cat</P>\n"},
          {"keywords.htm", "<TITLE>Pets</TITLE><META NAME=\"keywords\" CONTENT=\"cat, pet\">\n<P>cat</P>\n"},
          {"name-first.htm", "<META name=\"description\" content=\"about a cat\">\n<P>cat</P>\n"}},
         "Search=cat",
         {{"name-first.htm", "Untitled", "100%", "0.46", "", DocumentDate, "about a cat"},
          {"keywords.htm", "Pets", "100%", "0.42"},
          {"content-first.htm", "Untitled", "100%", "0.20"}},
         std::string(DefaultConfig) + "RANKING relevance\n"},
        // Text mode: carriage returns dropped ("x\rcat" is "xcat"), 0x1A ends the text.
        {"carriage returns and end of text",
         {{"crlf.htm", "<TITLE>Big\r\nCat</TITLE>\r\n<P>x\rcat</P>\r\n"},
          {"eof.htm", "<P>cat</P>\x1A<P>cat cat</P>\n"}},
         "Search=cat",
         {{"crlf.htm", "Big\nCat", "100%", "9.25"}, {"eof.htm", "Untitled", "100%", "1.00"}}},
        // Scanned in the order A, a, B, _c (names compared with ASCII letters
        // upper-cased, then as they are).
        {"ties, later scanned first",
         {{"a.htm", "<P>cat</P>\n"}, {"A.htm", "<P>cat</P>\n"}, {"B.htm", "<P>cat</P>\n"}, {"_c.htm", "<P>cat</P>\n"}},
         "Search=cat",
         {{"_c.htm", "Untitled", "100%", "1.00"},
          {"B.htm", "Untitled", "100%", "1.00"},
          {"a.htm", "Untitled", "100%", "1.00"},
          {"A.htm", "Untitled", "100%", "1.00"}}},
        // The first block ends in "xcat" (0.5, then 0.25 weight); only "cat",
        // the longest word's length, is carried into the next (1.0).
        {"a word at the end of the first block", {{"a.htm", std::string(20475, '.') + "xcat "}}, "Search=cat",
         {{"a.htm", "Untitled", "100%", "1.25"}}},
        {"skip-list word not considered", {{"a.htm", "<P>the cat</P>\n"}}, "Search=the+cat",
         {{"a.htm", "Untitled", "100%", "1.00"}},
         std::string(DefaultConfig) + "SKIPLIST skip.txt\n"},
    };
    for (const ScoringRow& row : rows) {
        SCOPED_TRACE(row.name);
        TestSite site;
        FurnishSite(site, row.config);
        site.Data("skip.txt", "the and of\n");
        for (const Document& document : row.documents) PutDocument(site, document.name, document.content);
        std::vector<ShownResult> expected = row.results;
        for (ShownResult& result : expected) result.size = SizeOf(row.documents, result.url);
        int files = static_cast<int>(row.documents.size());
        RunResult result = Get(site, row.query);
        EXPECT_EQ(MaskSearchTime(result.out), expected.empty() ? NoMatchPage(files) : ResultsPage(expected, files));
        EXPECT_EQ(result.err, "");
    }
}

struct Dated {
    std::string name, content;
    int year = 2020;
};

// Pages about walking gear, and an index that lists every subject of the
// site many times over: "boot care" 40 times, boots 160 times.
std::vector<Dated> IndexSite()
{
    const char* const subjects[] = {"socks", "maps", "compass", "tents", "stoves", "water", "blisters", "rain",
                                    "boots, fitting", "boots, walking", "boot care", "boots, winter"};
    std::string index = "<TITLE>Index</TITLE><UL>";
    for (int i = 0; i < 40; ++i)
        for (const char* subject : subjects)
            index += std::string("<LI><A HREF=\"p.htm\">") + subject + " " + std::to_string(i) + "</A>";
    std::vector<Dated> site = {
        {"index.htm", index + "</UL>"},
        {"care.htm", "<TITLE>Boot care</TITLE><P>Dry them slowly, away from the stove; wax the leather.</P>"},
        {"fitting.htm", "<TITLE>Fitting boots</TITLE><P>Try them on in the afternoon, with your own socks.</P>"}};
    for (int i = 0; i < 8; ++i)
        site.push_back({"s" + std::to_string(i) + ".htm",
                        std::string("<TITLE>") + subjects[i] + "</TITLE><P>All about " + subjects[i] + ".</P>"});
    return site;
}

// RANKING relevance: orders that anyone would expect on small sites. Each
// row lists the pages in the order shown (URL, percent, weight).
TEST(SearchPage, RelevanceRanksAsAVisitorExpects)
{
    const std::vector<Dated> sizes = {{"big.htm", "<P>cat cat cat</P><P>" + std::string(400, '.') + "</P>", 2010},
                                      {"new.htm", "<P>cat</P>", 2024},
                                      {"old.htm", "<P>cat cat</P>", 2010}};
    struct Row {
        const char* name;
        std::vector<Dated> documents;
        std::string query;
        std::string shown;
        std::string config = "";
    } rows[] = {
        // One document: idf log2((2 + 2) / (2 + 1)), one whole word, a text of
        // average length, so the weight is the idf, 0.415.
        {"one hit", {{"a.htm", "<P>cat</P>"}}, "Search=cat", "a.htm 100% 0.42\n"},
        {"a short page titled with the words above a long index listing them", IndexSite(), "Search=boot+care",
         "care.htm 100% 10.30\nindex.htm 100% 10.08\nfitting.htm 45% 2.23\n"},
        {"a rare word outweighs a common one",
         {{"a.htm", "<P>trail trail trail trail</P>"}, {"b.htm", "<P>lantern, trail</P>"}, {"c.htm", "<P>trail</P>"},
          {"d.htm", "<P>trail</P>"}, {"e.htm", "<P>trail</P>"}},
         "Search=trail+lantern", "b.htm 100% 2.05\na.htm 50% 0.11\ne.htm 50% 0.07\nd.htm 50% 0.07\nc.htm 50% 0.07\n"},
        {"a page with both words above pages with one",
         {{"both.htm", "<P>the red fox</P>"}, {"fox.htm", "<P>fox fox fox fox fox fox</P>"},
          {"red.htm", "<P>red red red red red red</P>"}, {"none.htm", "<P>grey wolf</P>"}},
         "Search=red+fox", "both.htm 100% 2.12\nred.htm 50% 1.25\nfox.htm 50% 1.25\n"},
        // Ties: the later modified first, then the later scanned.
        {"ties",
         {{"a.htm", "<P>cat</P>"}, {"b.htm", "<P>cat</P>"}, {"c.htm", "<P>cat</P>", 2010},
          {"d.htm", "<P>cat</P>", 2024}},
         "Search=cat", "d.htm 100% 0.15\nb.htm 100% 0.15\na.htm 100% 0.15\nc.htm 100% 0.15\n"},
        // Weight orders as the default does; date and size come first when asked.
        {"by weight", sizes, "Search=cat&SortBy=Weight", "old.htm 100% 0.32\nbig.htm 100% 0.27\nnew.htm 100% 0.23\n"},
        {"by date", sizes, "Search=cat&SortBy=Date", "new.htm 100% 0.23\nold.htm 100% 0.32\nbig.htm 100% 0.27\n"},
        {"by size", sizes, "Search=cat&SortBy=Size", "big.htm 100% 0.27\nold.htm 100% 0.32\nnew.htm 100% 0.23\n"},
        // Folded, the words are compared with the address folded too.
        {"a folded address", {{"\xC3\xA9" "cole.htm", "<P>ecole</P>", 2010}, {"b.htm", "<P>\xC3\x89" "cole</P>", 2024}},
         "Search=ECOLE", "\xC3\xA9" "cole.htm 100% 0.64\nb.htm 100% 0.26\n", "CASEFOLD accents\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestSite site;
        FurnishSite(site, std::string(DefaultConfig) + "RANKING relevance\n" + row.config);
        site.Data("body.htm", "&Search.URL; &Search.Percent; &Search.Weight;\n");
        for (const Dated& document : row.documents) {
            PutDocument(site, document.name, document.content);
            SetModified(site.root() + "/" + document.name, document.year, 1, 1, 12, 0, 0);
        }
        const std::string page = MaskSearchTime(Get(site, row.query).out);
        const size_t start = page.find("<BR><BR>") + 8, end = page.find("Result Pages:");
        ASSERT_NE(end, std::string::npos) << page;
        EXPECT_EQ(page.substr(start, end - start), row.shown);
    }
}

TEST(SearchPage, UnusableSearchesAreRefused)
{
    TestSite site;
    FurnishSite(site, std::string(DefaultConfig) + "SKIPLIST skip.txt\n");
    site.Data("skip.txt", "the\nand of\n");
    PutDocument(site, "a.htm", "<P>the cat and the dog</P>\n");
    const std::vector<std::string> queries = {"Search=%2B+cat", "Search=the",           "Search=the+and",
                                              "Search=",        "Search=%22%22+cat",    "Count=5",
                                              "Search=" + std::string(257, 'a')};
    for (const std::string& query : queries) {
        SCOPED_TRACE(query);
        EXPECT_EQ(Get(site, query).out, WholePage(Refused));
    }
}

TEST(SearchPage, HiddenExcludedAndCgiBinFilesAreNotSearched)
{
    TestSite site;
    FurnishSite(site, std::string(DefaultConfig) + "EXCLUDEPATH /private/\nEXCLUDEPATH /Old/\n");
    const std::string cat = "<P>cat</P>\n";
    for (const char* path : {"top.htm", ".hidden.htm", ".secret/a.htm", "private/a.htm", "private/sub/a.htm",
                             "old/a.htm", "cgi-bin/a.htm", "CGI-BIN/scripts/a.htm", "docs/cgi-bin/a.htm",
                             "docs/a.txt", "docs/a.HTM", "docs/a.htmx", "docs/htm"})
        PutDocument(site, path, cat);
    const std::string size = SizeText(cat.size());
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat").out),
              ResultsPage({{"top.htm", "Untitled", "100%", "1.00", size},
                           {"private/sub/a.htm", "Untitled", "100%", "1.00", size},
                           {"docs/cgi-bin/a.htm", "Untitled", "100%", "1.00", size},
                           {"docs/a.HTM", "Untitled", "100%", "1.00", size}},
                          4));
}

// Sizes, dates and every sort order. Document k holds "cat " k times.
TEST(SearchPage, SortOrdersSizesAndDates)
{
    TestSite site;
    FurnishSite(site);
    struct Sized {
        const char* name;
        size_t size;
        int cats;
        int year, month, day, hour, minute, second;
        const char* shownDate;
    };
    const std::vector<Sized> documents = {
        {"a.htm", 1023, 3, 2110, 6, 1, 12, 0, 0, "12/31/2107"},
        {"b.htm", 1024, 4, 1975, 6, 1, 12, 0, 0, "1/1/1980"},
        {"c.htm", 1048575, 1, 1999, 12, 31, 23, 59, 58, "12/31/1999"},
        {"d.htm", 1048576, 2, 2000, 2, 29, 12, 0, 0, "2/29/2000"},
    };
    std::map<std::string, ShownResult> shown;
    for (const Sized& document : documents) {
        std::string content;
        for (int i = 0; i < document.cats; ++i) content += "cat ";
        content += std::string(document.size - content.size(), ' ');
        site.Page(document.name, content);
        SetModified(site.root() + "/" + document.name, document.year, document.month, document.day, document.hour,
                    document.minute, document.second);
        shown[document.name] = {document.name, "Untitled", "100%", Format("%d.00", document.cats),
                                SizeText(document.size), document.shownDate};
    }
    EXPECT_EQ(shown["b.htm"].size, "1K");
    EXPECT_EQ(shown["c.htm"].size, "1023K");
    EXPECT_EQ(shown["d.htm"].size, "1 megs");
    const std::vector<std::pair<std::string, std::vector<std::string>>> orders = {
        {"", {"b.htm", "a.htm", "d.htm", "c.htm"}},
        {"&SortBy=Percent", {"b.htm", "a.htm", "d.htm", "c.htm"}},
        {"&SortBy=Bogus", {"b.htm", "a.htm", "d.htm", "c.htm"}},
        {"&SortBy=Weight", {"b.htm", "a.htm", "d.htm", "c.htm"}},
        {"&SortBy=size", {"d.htm", "c.htm", "b.htm", "a.htm"}},
        {"&SortBy=DATE", {"a.htm", "d.htm", "c.htm", "b.htm"}},
    };
    for (const auto& [sort, names] : orders) {
        SCOPED_TRACE(sort);
        std::vector<ShownResult> expected;
        for (const std::string& name : names) expected.push_back(shown[name]);
        EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat" + sort).out), ResultsPage(expected, 4));
    }
}

TEST(SearchPage, LookChoosesOnlyAPlainVariantName)
{
    TestSite site;
    FurnishSite(site);
    PutDocument(site, "a.htm", "<TITLE>Cats and Dogs</TITLE>\n");
    site.Data("bodyCompact.htm", "[&Search.Title;|&Search.MatchTotal;|&Search.MatchReturned;|&Search.Bogus;|&amp;"
                                 "|black & white|&Search.title;]\n");
    site.Data("body" + std::string(40, 'L') + ".htm", "[&Search.Title;|&Search.MatchTotal;|&Search.MatchReturned;|"
                                                    "&Search.Bogus;|&amp;|black & white|&Search.title;]\n");
    site.Data("body../x.htm", "ESCAPED ONE LEVEL\n");
    site.Data("etc/x.htm", "ESCAPED TWO LEVELS\n");
    const std::string standard = ResultsPage({{"a.htm", "Cats and Dogs", "90%", "7.29", "29 bytes"}}, 1);
    const std::string compact =
        WholePage(Summary(1, 1) + "[Cats and Dogs|1|1|&Search.Bogus;|&amp;|black & white|&Search.title;]\n" +
                  "Result Pages:&nbsp;<B>1</B>&nbsp;" + CreditLine(1));
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"Look=Compact", compact},     {"Look=Default", standard},   {"Look=Missing", standard},
        {"Look=..%2Fx", standard},     {"Look=../x", standard},      {"Look=../../etc/x", standard},
        {"Look=Compact%00x", compact}, {"Look=" + std::string(41, 'a'), standard},
        {"Look=" + std::string(40, 'L'), compact},
    };
    for (const auto& [look, page] : rows) {
        SCOPED_TRACE(look);
        EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat&" + look).out), page);
    }
    ASSERT_EQ(remove((site.srchdata() + "/body.htm").c_str()), 0);
    const std::string noTemplate =
        WholePage(Summary(1, 1) + "Result Pages:&nbsp;<B>1</B>&nbsp;" + CreditLine(1));
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat").out), noTemplate);
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat&Look=..%2Fx").out), noTemplate);
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat&Look=Compact").out), compact);

    // A template too large to fill is the site owner's to mend: the page
    // source tells them.
    const std::string huge = site.srchdata() + "/bodyHuge.htm";
    site.Data("bodyHuge.htm", "");
    ASSERT_EQ(truncate(huge.c_str(), (32 << 20) + 1), 0);
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat&Look=Huge").out),
              WholePage(Summary(1, 1) + "<!-- Result template too large -->\n\n" + "Result Pages:&nbsp;<B>1</B>&nbsp;" +
                        CreditLine(1)));
    // So is one whose excerpts alone would need more room than memory allows.
    std::string excerpts;
    for (int i = 0; i < 50000; ++i) excerpts += "&Search.Excerpt;";
    site.Data("bodyExcerpts.htm", excerpts);
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat&Look=Excerpts").out),
              WholePage(Summary(1, 1) + "<!-- Result template too large -->\n\n" + "Result Pages:&nbsp;<B>1</B>&nbsp;" +
                        CreditLine(1)));

    // A filled copy may hold four times its template: 1,200 bytes here fill
    // to 3,000.
    TestSite wideSite;
    FurnishSite(wideSite);
    const std::string description(200, 'd');
    PutDocument(wideSite, "a.htm", "<META name=\"description\" content=\"" + description + "\"><P>cat</P>\n");
    std::string wide = std::string(1000, '.'), filled = wide;
    for (int i = 0; i < 10; ++i) wide += "&Search.Description;", filled += description;
    wideSite.Data("bodyWide.htm", wide);
    EXPECT_EQ(MaskSearchTime(Get(wideSite, "Search=cat&Look=Wide").out),
              WholePage(Summary(1, 1) + filled + "Result Pages:&nbsp;<B>1</B>&nbsp;" + CreditLine(1)));
}

// A site of n documents that tie in every key: listed in reverse name order.
void TiedSite(const TestSite& site, int n)
{
    FurnishSite(site);
    for (int i = 0; i < n; ++i) PutDocument(site, Format("p%03d.htm", i), "<P>cat</P>\n");
}

std::string TiedLine(int n, int position)
{
    return ResultLine(position + 1, {Format("p%03d.htm", n - 1 - position), "Untitled", "100%", "1.00", "11 bytes"});
}

std::string Link(const std::string& query, const std::string& label)
{
    return "<A HREF=\"/cgi-bin/trawlex.exe?" + query + "\">" + label + "</A>";
}

TEST(SearchPage, PagingRowOfAMiddlePage)
{
    TestSite site;
    TiedSite(site, 47);
    std::string middle = Summary(47, 47);
    for (int position = 25; position < 35; ++position) middle += TiedLine(47, position);
    middle += "Result Pages:&nbsp;" + Link("Count=10&Search=cat&StartAt=10", "<B>&lt;&lt; Prev</B>") + "&nbsp;" +
              Link("Count=10&Search=cat", "1") + "&nbsp;" + Link("Count=10&Search=cat&StartAt=10", "2") +
              "&nbsp;<B>3</B>&nbsp;" + Link("Count=10&Search=cat&StartAt=30", "4") + "&nbsp;" +
              Link("Count=10&Search=cat&StartAt=40", "5") + "&nbsp;" +
              Link("Count=10&Search=cat&StartAt=30", "<B>Next &gt;&gt;</B>");
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat&Count=10&StartAt=25&Submit=Go").out),
              WholePage(middle + CreditLine(47)));
}

TEST(SearchPage, PagingRowListsTwentyPagesAtMost)
{
    TestSite site;
    TiedSite(site, 200);
    std::string middle = Summary(200, 200) + TiedLine(200, 19) + "Result Pages:&nbsp;" +
                         Link("Count=1&Search=cat&StartAt=18", "<B>&lt;&lt; Prev</B>") + "&nbsp;" +
                         Link("Count=1&Search=cat", "1") + "&nbsp;";
    for (int page = 1; page < 19; ++page)
        middle += Link("Count=1&Search=cat&StartAt=" + std::to_string(page), std::to_string(page + 1)) + "&nbsp;";
    middle += "<B>20</B>&nbsp;";
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat&Count=1&StartAt=19").out), WholePage(middle + CreditLine(200)));
}

TEST(SearchPage, StartBeyondTheLastPage)
{
    TestSite site;
    TiedSite(site, 40);
    const std::string middle = Summary(40, 40) + "Result Pages:&nbsp;" +
                               Link("Search=cat&StartAt=480", "<B>&lt;&lt; Prev</B>") + "&nbsp;" +
                               Link("Search=cat", "1") + "&nbsp;" + Link("Search=cat&StartAt=20", "2") + "&nbsp;";
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat&StartAt=500").out), WholePage(middle + CreditLine(40)));
}

// 230 matching documents among 250, with weights that repeat: the pages show
// the best 200 in the order of a plain sort, and the list's extra entry is one
// whole document even though documents that do not match were scanned last.
TEST(SearchPage, MoreThanTwoHundredMatches)
{
    TestSite site;
    FurnishSite(site);
    struct Scored {
        int index;
        double percent;
        double weight;
        size_t size;
    };
    std::vector<Scored> matches;  // in scan order
    for (int i = 0; i < 230; ++i) {
        bool plural = i % 3 == 0;
        double score = plural ? 1.0 * 0.9 : 1.0;
        std::string content = Format("<TITLE>doc %03d</TITLE>\n<P>", i);
        double weight = 0.0;
        for (int hit = 0; hit <= (i * 37) % 23; ++hit) {
            content += plural ? "cats " : "cat ";
            weight += score * score * 1.0;
        }
        content += "</P>\n";
        PutDocument(site, Format("m%03d.htm", i), content);
        matches.push_back({i, plural ? 90.0 : 100.0, weight, content.size()});
    }
    for (int i = 0; i < 20; ++i)
        PutDocument(site, Format("n%03d.htm", i), Format("<TITLE>other %03d</TITLE>\n<P>dog</P>\n", i));
    // a ranks above b; a complete tie puts the later-scanned document first
    auto above = [](const Scored& a, const Scored& b) {
        if (a.percent != b.percent) return a.percent > b.percent;
        if (a.weight != b.weight) return a.weight > b.weight;
        return a.index > b.index;
    };
    auto line = [](int position, const Scored& s) {
        char weight[32];
        snprintf(weight, sizeof weight, "%.2f", s.weight);
        return ResultLine(position + 1, {Format("m%03d.htm", s.index), Format("doc %03d", s.index),
                                         Format("%d%%", static_cast<int>(s.percent)), weight, SizeText(s.size)});
    };
    std::vector<Scored> ranked = matches;
    std::sort(ranked.begin(), ranked.end(), above);

    std::string middle = Summary(230, 200);
    for (int position = 180; position < 200; ++position) middle += line(position, ranked[static_cast<size_t>(position)]);
    middle += "Result Pages:&nbsp;" + Link("Search=cat&StartAt=160", "<B>&lt;&lt; Prev</B>") + "&nbsp;" +
              Link("Search=cat", "1") + "&nbsp;";
    for (int page = 1; page < 9; ++page)
        middle += Link("Search=cat&StartAt=" + std::to_string(page * 20), std::to_string(page + 1)) + "&nbsp;";
    middle += "<B>10</B>&nbsp;";
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat&StartAt=180").out), WholePage(middle + CreditLine(250)));

    // The list as the scanner keeps it: once it holds 201 entries, its last
    // entry gives way to each further match. Position 200 shows that entry.
    std::vector<Scored> list;
    for (const Scored& match : matches) {
        if (list.size() == 201) list.pop_back();
        list.insert(std::find_if(list.begin(), list.end(), [&](const Scored& listed) { return !above(listed, match); }),
                    match);
    }
    middle = Summary(230, 200) + line(200, list[200]) + "Result Pages:&nbsp;" +
             Link("Count=1&Search=cat&StartAt=199", "<B>&lt;&lt; Prev</B>") + "&nbsp;" +
             Link("Count=1&Search=cat", "1") + "&nbsp;";
    for (int page = 1; page < 20; ++page)
        middle += Link("Count=1&Search=cat&StartAt=" + std::to_string(page), std::to_string(page + 1)) + "&nbsp;";
    EXPECT_EQ(MaskSearchTime(Get(site, "Search=cat&Count=1&StartAt=200").out), WholePage(middle + CreditLine(250)));
}

}  // namespace

// A template that asks for excerpts gets the piece of each result's text
// with the search words, marked; with EXCERPTSIZE, of that many characters.
TEST(SearchPage, ExcerptsShowTheWordsWhereTheyStand)
{
    TestSite site;
    FurnishSite(site, std::string(DefaultConfig) + "EXCERPTSIZE 60\n");
    site.Data("body.htm", "<LI>&Search.URL; [&Search.Excerpt;]\n");
    std::string filler;
    for (int i = 0; i < 30; ++i) filler += " and so on";
    PutDocument(site, "a.htm",
                "<html><head><title>Cats</title><script>var cat;</script></head><body>"
                "<p>Our" + filler + ".</p><p>The <b>cat</b> &amp; the <i>dog</i> &lt;3 each other.</p>" + filler +
                "</body></html>\n");
    PutDocument(site, "b.htm", "<p>cat-like \"dogs\" <br>\xC3\xA9t\xC3\xA9</p>");
    PutDocument(site, "c.htm", "<p>Only in the title</p><title>cat</title>");
    const std::string page = MaskSearchTime(Get(site, "Search=cat+dog").out);
    EXPECT_EQ(page, WholePage(Summary(3, 3) +
                              "<LI>a.htm [...so on and so on. The <MARK>cat</MARK> &amp; the <MARK>dog</MARK> "
                              "&lt;3 each other. and so...]\n"
                              "<LI>b.htm [<MARK>cat</MARK>-like &quot;<MARK>dog</MARK>s&quot; \xC3\xA9t\xC3\xA9]\n"
                              "<LI>c.htm [Only in the title <MARK>cat</MARK>]\n"
                              "Result Pages:&nbsp;<B>1</B>&nbsp;" + CreditLine(3)));
}

// Far into a large document, the best hit may lie in an attribute, which no
// visitor sees, and the text-only scan places its hits in the stored file:
// the excerpt still marks the word where the text shows it, in both modes.
TEST(SearchPage, ExcerptsFarIntoADocumentShowAWordThatIsSeen)
{
    TestSite site;
    site.Data("body.htm", "<LI>&Search.URL; [&Search.Excerpt;]\n");
    std::string filler;
    for (int i = 0; i < 5000; ++i) filler += "so on ";
    PutDocument(site, "a.htm", "<p>" + filler + "<a title=\"cat\">x</a>" + filler + " a cat.</p>\n");
    for (const char* textOnly : {"no", "yes"}) {
        SCOPED_TRACE(textOnly);
        FurnishSite(site, std::string(DefaultConfig) + "EXCERPTSIZE 40\nTEXTONLY " + textOnly + "\n");
        site.Data("body.htm", "<LI>&Search.URL; [&Search.Excerpt;]\n");
        EXPECT_NE(Get(site, "Search=cat").out.find("so on so on a <MARK>cat</MARK>.]"), std::string::npos);
    }
}
