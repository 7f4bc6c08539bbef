// The configuration file: its line reader and the five keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cgi.h"
#include "corv-core.h"
#include "platform.h"
#include "test-support.h"
#include "winmain.h"

namespace {

using testing_support::TempFolder;
using testing_support::WriteFile;

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        site_ = folder_.path() + "/SITE";
        configPath_ = site_ + "/cgi-bin/srchdata/config.txt";
        PlatSetCommandLine((site_ + "/cgi-bin/trawlex.exe").c_str());
        programDirectory_ = site_ + "/cgi-bin/";
        std::replace(programDirectory_.begin(), programDirectory_.end(), '/', '\\');
        MemInit(MemLimitMaximum, 0);
    }

    struct Loaded {
        int result = 0;
        std::string page, searchPath, baseUrl, skipListPath, fileSpecs, excludePaths;
        int32_t listCapacity = 0;
        int32_t blocksWhileLoaded = 0;
        SearchSettings settings{};
    };

    // Loads the file (as written when content is given) into a fresh SiteConfig,
    // releases it again and checks that nothing stays allocated.
    Loaded Load(const std::string* content)
    {
        if (content) WriteFile(configPath_, *content);
        SiteConfig config;
        ResetSiteConfig(&config);
        StrCopy(config.searchPath, "\\initial\\");
        Loaded loaded;
        ::testing::internal::CaptureStdout();
        CgiSendHeader();
        loaded.result = LoadSiteConfig(configPath_.c_str(), &config);
        PlatOutputFlush();
        loaded.page = ::testing::internal::GetCapturedStdout();
        loaded.searchPath = config.searchPath;
        loaded.baseUrl = config.baseUrl;
        loaded.skipListPath = config.skipListPath;
        loaded.fileSpecs = config.fileSpecs;
        loaded.excludePaths = config.excludePaths;
        loaded.settings = config.settings;
        loaded.listCapacity = config.listCapacity;
        loaded.blocksWhileLoaded = MemGetStats().liveCount;
        ReleaseSiteConfig(&config);
        EXPECT_EQ(MemGetStats().bytesInUse, 0);
        EXPECT_EQ(MemGetStats().liveCount, 0);
        return loaded;
    }
    Loaded Load(const std::string& content) { return Load(&content); }

    TempFolder folder_;
    std::string site_, configPath_, programDirectory_;
};

const std::string Header = "Content-Type: text/html\n\n";

}  // namespace

TEST_F(ConfigFile, ReadsLines)
{
    const std::string line319(319, 'a'), line320(320, 'b');
    struct Row {
        std::string content;
        std::vector<std::string> lines;
    } rows[] = {
        {"", {}},
        {"a\rb\nc\r\nd\n\r\n\r\re", {"a", "b", "c", "d", "e"}},
        {" \t\x01x \x1f\t\r\n   \n\x7fy", {"x", "\x7fy"}},
        {"#only\n  # indented\nv # after\nw#x#y\n#", {"v", "w"}},
        {std::string("\0\0n\xFF\0\n", 6), {"n\xFF"}},
        {std::string(50000, '#') + "\nz", {"z"}},
        {"no line end", {"no line end"}},
        {line319 + "\nnext", {line319, "next"}},
        {line320 + "\nnext", {}},
        {"first\n" + line320, {"first"}},
        {"first\n" + line320 + "#", {"first"}},
        {"first\n" + line319 + " \nnext", {"first"}},  // the blank is stored before it is trimmed
        {"k " + std::string(400, '#') + "\nnext", {"k", "next"}},
    };
    for (const Row& row : rows) {
        WriteFile(configPath_, row.content);
        PlatFileGuard file(PlatOpen(configPath_.c_str(), PlatReadRaw));
        ASSERT_TRUE(file);
        std::vector<std::string> lines;
        char line[ConfigLineCapacity];
        while (ReadConfigLine(file.get(), line, ConfigLineCapacity)) lines.push_back(line);
        EXPECT_EQ(lines, row.lines) << row.content.substr(0, 40);
    }
}

TEST_F(ConfigFile, AppliesKeys)
{
    struct Row {
        std::string content;
        std::string searchPath, baseUrl, fileSpecs, excludePaths;
        int32_t threads = 0;
        int32_t excerptSize = 0;
        int32_t textOnly = 0;
        int32_t ranking = RankingClassic;
        CaseFolding caseFolding = CaseFoldAscii;
    } rows[] = {
        {"BASEURL /a/\rFILESPEC .htm\nFILESPEC .html\r\nEXCLUDEPATH /x/", "\\initial\\", "/a/", ".htm,.html,",
         "\\x\\,"},
        {"baseurl /1/\nBaseUrl /2/\nfilespec .a\nFileSpec .b\nFILESPEC .c", "\\initial\\", "/2/", ".a,.b,.c,", ""},
        {"BASEURLhttp://h/\nFILESPEC=.e", "\\initial\\", "http://h/", "=.e,", ""},
        {"BASEURL /c/ # comment\n", "\\initial\\", "/c/", "", ""},
        {"FILESPEC\nFILESPEC .a\nEXCLUDEPATH\n", "\\initial\\", "", ",.a,", ","},
        {"BASEURL /a/b\nFILESPEC ./x\nEXCLUDEPATH /p/q/\nexcludepath \\r\\\n", "\\initial\\", "/a/b", "./x,",
         "\\p\\q\\,\\r\\,"},
        {"searchpath c:/web/docs", "c:\\web\\docs\\", "", "", ""},
        {"SEARCHPATH d:\\web\\", "d:\\web\\", "", "", ""},
        {"SEARCHPATH /web/", "\\web\\", "", "", ""},
        {"SEARCHPATH", "\\initial\\", "", "", ""},
        {"SEARCHPATH /web/\nSEARCHPATH   # to be set\n", "\\web\\", "", "", ""},
        {"SEARCHPATH=/s", "=\\s\\", "", "", ""},
        {"SEARCH /x\nBASE /y\n/FILESPEC .z\n", "\\initial\\", "", "", ""},
        {"\xFF" "BASEURL /y\nBASEURL /x\xFF\n", "\\initial\\", "/x\xFF", "", ""},
        {"FILESPEC .a" + std::string(1, '\0') + "b\n", "\\initial\\", "", ".a,", ""},
        {"BASEURL /z/\n" + std::string(50000, '#') + "\nFILESPEC .q", "\\initial\\", "/z/", ".q,", ""},
        {"BASEURL /f/\nBASEURL " + std::string(312, 'u') + "\nFILESPEC .no", "\\initial\\", "/f/", "", ""},
        {"BASEURL " + std::string(311, 'u') + "\nFILESPEC .yes", "\\initial\\", std::string(311, 'u'), ".yes,", ""},
        // A number from 1 to 16 sets the threads; anything else leaves the default.
        {"THREADS 3\nthreads   16 # the most", "\\initial\\", "", "", "", 16},
        {"Threads 1\nTHREADS 0\nTHREADS 17\nTHREADS x\nTHREADS 2x\nTHREADS\nTHREADS -3", "\\initial\\", "", "", "", 1},
        {"THREADS 0016\nTHREADS 99999999999", "\\initial\\", "", "", "", 16},
        {"THREADSX 5", "\\initial\\", "", "", "", 0},
        // Excerpts of 40 to 1,000 characters; EXCERPTSIZE is not EXCLUDEPATH.
        {"EXCERPTSIZE 100\nEXCLUDEPATH /x/\nexcerptsize 39\nEXCERPTSIZE 1001\nEXCERPTSIZE abc", "\\initial\\", "", "",
         "\\x\\,", 0, 100},
        {"ExcerptSize 40\nEXCERPTSIZE 1000 # the most", "\\initial\\", "", "", "", 0, 1000},
        // yes, on or 1 turn text-only searching on; no, off or 0 off; others leave it.
        {"TEXTONLY yes", "\\initial\\", "", "", "", 0, 0, 1},
        {"textonly On\nTEXTONLY maybe\nTEXTONLY", "\\initial\\", "", "", "", 0, 0, 1},
        {"TEXTONLY 1\nTextOnly OFF", "\\initial\\", "", "", "", 0, 0, 0},
        {"TEXTONLY yes\nTEXTONLY 0\nTEXTONLY 1 # on", "\\initial\\", "", "", "", 0, 0, 1},
        {"TEXTONLY no\nTEXTONLY 2\nTEXTONLY yess", "\\initial\\", "", "", "", 0, 0, 0},
        {"TEXTONLY YES", "\\initial\\", "", "", "", 0, 0, 1},
        {"TEXTONLY Yes\nTEXTONLY nO", "\\initial\\", "", "", "", 0, 0, 0},
        // main: the text of each page's main content.
        {"TEXTONLY Main\nTEXTONLY", "\\initial\\", "", "", "", 0, 0, TextOnlyMain},
        {"TEXTONLY yes\nTEXTONLY mains\nTEXTONLY main-content", "\\initial\\", "", "", "", 0, 0, TextOnlyYes},
        {"TEXTONLY MAIN\nTEXTONLY yes", "\\initial\\", "", "", "", 0, 0, TextOnlyYes},
        {"TEXTONLY no\nTEXTONLY main # content only", "\\initial\\", "", "", "", 0, 0, TextOnlyMain},
        {"TEXTONLY main\nTEXTONLY off", "\\initial\\", "", "", "", 0, 0, TextOnlyNo},
        // classic or relevance in any case; the last line wins, others leave it.
        {"RANKING relevance", "\\initial\\", "", "", "", 0, 0, 0, RankingRelevance},
        {"ranking RELEVANCE\nRANKING best\nRANKING\nRANKING relevant", "\\initial\\", "", "", "", 0, 0, 0,
         RankingRelevance},
        {"RANKING Relevance\nRanking Classic # today's order", "\\initial\\", "", "", "", 0, 0, 0, RankingClassic},
        {"RANKINGrelevance\nRANKINGS classic", "\\initial\\", "", "", "", 0, 0, 0, RankingRelevance},
        // ascii, unicode or accents in any case, the last line that names one winning.
        {"CASEFOLD unicode\nRANKING relevance", "\\initial\\", "", "", "", 0, 0, 0, RankingRelevance, CaseFoldUnicode},
        {"casefold ACCENTS\nCASEFOLD latin\nCASEFOLD\nCASEFOLD accent", "\\initial\\", "", "", "", 0, 0, 0, RankingClassic,
         CaseFoldAccents},
        {"CaseFold Accents\nCASEFOLD Ascii # today's", "\\initial\\", "", "", "", 0, 0, 0, RankingClassic, CaseFoldAscii},
        {"CASEFOLD unicode\nCASEFOLDS accents", "\\initial\\", "", "", "", 0, 0, 0, RankingClassic, CaseFoldUnicode},
    };
    for (const Row& row : rows) {
        Loaded loaded = Load(row.content);
        SCOPED_TRACE(row.content.substr(0, 40));
        EXPECT_EQ(loaded.result, 1);
        EXPECT_EQ(loaded.page, Header);
        EXPECT_EQ(loaded.searchPath, row.searchPath);
        EXPECT_EQ(loaded.baseUrl, row.baseUrl);
        EXPECT_EQ(loaded.skipListPath, "");
        EXPECT_EQ(loaded.fileSpecs, row.fileSpecs);
        EXPECT_EQ(loaded.excludePaths, row.excludePaths);
        EXPECT_EQ(loaded.settings.threadCount, row.threads);
        EXPECT_EQ(loaded.settings.excerptSize, row.excerptSize);
        EXPECT_EQ(loaded.settings.textOnly, row.textOnly);
        EXPECT_EQ(loaded.settings.ranking, row.ranking);
        EXPECT_EQ(loaded.settings.caseFolding, row.caseFolding);
        EXPECT_EQ(loaded.listCapacity, static_cast<int32_t>(row.content.size()));
        EXPECT_EQ(loaded.blocksWhileLoaded, 2);
    }
}

TEST_F(ConfigFile, SkipListLiesInTheDataFolder)
{
    EXPECT_EQ(Load("SKIPLIST skip.txt").skipListPath, programDirectory_ + "srchdata\\skip.txt");
    EXPECT_EQ(Load("skiplist a/b.txt\nSkipList  c/d.txt").skipListPath, programDirectory_ + "srchdata\\c/d.txt");
    EXPECT_EQ(Load("SKIPLIST").skipListPath, programDirectory_ + "srchdata\\");
}

TEST_F(ConfigFile, SizeLimitAndMissingFile)
{
    const std::string key = "BASEURL /big/\n";
    Loaded fits = Load(key + std::string(51200 - key.size(), '#'));
    EXPECT_EQ(fits.result, 1);
    EXPECT_EQ(fits.baseUrl, "/big/");
    EXPECT_EQ(fits.listCapacity, 51200);

    Loaded tooLarge = Load(key + std::string(51201 - key.size(), '#'));
    EXPECT_EQ(tooLarge.result, 0);
    EXPECT_EQ(tooLarge.page, Header + "<!-- Config too large (51201) -->\n\n");
    EXPECT_EQ(tooLarge.baseUrl, "");
    EXPECT_EQ(tooLarge.searchPath, "\\initial\\");
    EXPECT_EQ(tooLarge.listCapacity, 0);
    EXPECT_EQ(tooLarge.blocksWhileLoaded, 0);

    Loaded empty = Load("");
    EXPECT_EQ(empty.result, 1);
    EXPECT_EQ(empty.page, Header);
    EXPECT_EQ(empty.searchPath, "\\initial\\");
    EXPECT_EQ(empty.listCapacity, 0);
    EXPECT_EQ(empty.blocksWhileLoaded, 0);

    configPath_ = site_ + "/cgi-bin/srchdata/missing.txt";
    Loaded missing = Load(nullptr);
    EXPECT_EQ(missing.result, 0);
    EXPECT_EQ(missing.page, Header + "<!-- Unable to load config file '" + configPath_ + "' -->\n\n");
    EXPECT_EQ(missing.searchPath, "\\initial\\");
    EXPECT_EQ(missing.blocksWhileLoaded, 0);
}
