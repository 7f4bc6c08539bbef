// Sites at the edges of size, and sites that change while they are walked:
// every request still answers with a whole page.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "test-support.h"

using namespace testing_support;

namespace {

const std::string CatDocument = "<P>cat</P>\n";  // 100%, 1.00, 11 bytes

ShownResult Cat(const std::string& url, const std::string& size = "11 bytes")
{
    return {url, "Untitled", "100%", "1.00", size};
}

bool IsWholePage(const std::string& page)
{
    const std::string tail = std::string(FooterFragment);
    return page.rfind(ContentHeader, 0) == 0 && page.find("files searched in") != std::string::npos &&
           page.size() >= tail.size() && page.compare(page.size() - tail.size(), tail.size(), tail) == 0;
}

void CreateEmptyFile(const std::string& path)
{
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(descriptor, 0) << path;
    close(descriptor);
}

// The walk works in one 320-byte path: levels whose documents' paths fit are
// searched, the rest of a 1,000-level tree is passed over.
TEST(HostileScale, AThousandLevelsDeep)
{
    TestSite site;
    FurnishSite(site);
    const size_t root = InternalPath(site.root()).size();
    std::string folder = site.root();
    std::string relative;
    int expected = 0;
    for (int level = 1; level <= 1000; ++level) {
        folder += "/d";
        relative += "d/";
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0) << level;
        if (level % 37 != 0) continue;
        PutDocument(site, relative + "a.htm", CatDocument);
        // "\d" per level, the final backslash, the name and the terminator.
        if (root + 2 * level + 1 + 5 < 320) ++expected;
    }
    ASSERT_GT(expected, 2);
    RunResult result = Get(site, "Search=cat&Count=200");
    EXPECT_TRUE(IsWholePage(result.out));
    EXPECT_NE(result.out.find(Summary(expected, expected)), std::string::npos);
    EXPECT_EQ(result.err, "");
}

TEST(HostileScale, AHundredThousandEmptyFilesInOneFolder)
{
    TestSite site;
    FurnishSite(site);
    MakeFolders(site.root() + "/many");
    char name[32];
    for (int i = 0; i < 100000; ++i) {
        snprintf(name, sizeof name, "/many/e%06d.htm", i);
        CreateEmptyFile(site.root() + name);
    }
    PutDocument(site, "many/zz.htm", CatDocument);
    RunResult result = Get(site, "Search=cat");
    EXPECT_EQ(MaskSearchTime(result.out), ResultsPage({Cat("many/zz.htm")}, 100001));
    EXPECT_EQ(result.err, "");
}

TEST(HostileScale, TwoHundredMegabytesInOneFile)
{
    TestSite site;
    FurnishSite(site);
    const std::string big = site.root() + "/big.htm";
    const off_t size = 200 * 1048576;
    int descriptor = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(descriptor, 0);
    ASSERT_EQ(ftruncate(descriptor, size - 5), 0);  // sparse: zero bytes, then one word
    ASSERT_EQ(pwrite(descriptor, " cat ", 5, size - 5), 5);
    close(descriptor);
    SetModified(big, 2001, 3, 5, 10, 30, 0);
    RunResult result = Get(site, "Search=cat");
    EXPECT_EQ(MaskSearchTime(result.out), ResultsPage({Cat("big.htm", "200 megs")}, 1));
    EXPECT_EQ(result.err, "");
}

// Relevance: 100,000 matches of a four-word search take 11 MB of the 32 MB
// the records may take (see the unit tests); a test build may give them
// less, here as little as they can do with (room for the best 201 and one
// more: five chunks of 64 KB for a search of 89 terms, 1,220 bytes a
// match), which 1,000 matches pass. The matches kept give way to the best by
// the counts so far, the page tells so, and the best page stays first.
TEST(HostileScale, MoreMatchesThanTheRelevanceRankingKeeps)
{
    TestSite site(DebugProgram);
    FurnishSite(site, std::string(DefaultConfig) + "RANKING relevance\n");
    site.Data("body.htm", "&Search.URL; &Search.Percent;\n");
    MakeFolders(site.root() + "/0");
    PutDocument(site, "0/a.htm", "<TITLE>x</TITLE> x");
    char name[32];
    for (int i = 0; i < 1000; ++i) {
        snprintf(name, sizeof name, "/0/%03d.htm", i);
        WriteFile(site.root() + name, " x ");
    }
    // As many terms as the Search parameter's 320 bytes hold; none stands
    // in the documents' addresses.
    std::string query = "Search=";
    for (char letter : std::string("bcdefgijklnopqrsuvwxyz")) query += std::string(1, letter) + "+";
    for (int byte = 0x80; query.size() + 4 <= 320; ++byte) {
        snprintf(name, sizeof name, "%%%02X+", byte);
        query += name;
    }
    query.pop_back();
    RunOptions options = GetOptions(query + "&Count=2");
    options.environment["TRAWLEX_MATCH_CHUNKS"] = "1";
    RunResult result = RunProgram(site.program(), options);
    EXPECT_TRUE(IsWholePage(result.out));
    EXPECT_NE(result.out.find(Summary(1001, 200) + "<!-- Too many matches to rank all by the site's final counts: "),
              std::string::npos)
        << result.out.substr(0, 300);
    EXPECT_NE(result.out.find("passed over by the counts seen before them -->\n\n0/a.htm 2%\n0/999.htm 1%\n"),
              std::string::npos)
        << result.out.substr(0, 500);
    EXPECT_EQ(result.err, "");
}

// Every byte but "/" (which no name holds) in a name: the backslash cannot be
// written in an internal path and is passed over, every other name is found.
TEST(HostileScale, NamesOfEveryByte)
{
    if (UnderLauncher()) GTEST_SKIP() << "Windows names hold no control bytes and none of <>:\"|?*";
    TestSite site;
    FurnishSite(site);
    for (int byte = 1; byte <= 0xFF; ++byte) {
        if (byte == '/') continue;
        // Control bytes, blanks and quotes sort first, so their documents would
        // fall beyond the first 200 results: a second word lets a search show
        // just them.
        std::string name = std::string("n") + static_cast<char>(byte) + ".htm";
        PutDocument(site, name, byte < 0x28 ? "<P>cat dog</P>\n" : CatDocument);
    }
    RunResult all = Get(site, "Search=cat&Count=200");
    EXPECT_TRUE(IsWholePage(all.out));
    EXPECT_NE(all.out.find(Summary(253, 200)), std::string::npos);
    EXPECT_NE(all.out.find("n\xFF.htm"), std::string::npos);
    EXPECT_NE(all.out.find("n\x7F.htm"), std::string::npos);
    EXPECT_EQ(all.out.find("n\\.htm"), std::string::npos);
    // Nothing in a name can end the link's attribute or open an element.
    EXPECT_NE(all.out.find("n%3C.htm"), std::string::npos);
    EXPECT_NE(all.out.find("n%3E.htm"), std::string::npos);
    EXPECT_EQ(all.out.find("n<.htm"), std::string::npos);
    EXPECT_EQ(all.out.find("n>.htm"), std::string::npos);
    EXPECT_EQ(all.err, "");
    RunResult controls = Get(site, "Search=dog&Count=200");
    EXPECT_NE(controls.out.find(Summary(39, 39)), std::string::npos);
    for (const char* encoded : {"n%01.htm", "n%0A.htm", "n%20.htm", "n%22.htm", "n%27.htm"})
        EXPECT_NE(controls.out.find(encoded), std::string::npos) << encoded;
    for (const char* raw : {"n\x01.htm", "n\n.htm", "n .htm", "n\".htm", "n'.htm"})
        EXPECT_EQ(controls.out.find(raw), std::string::npos) << raw;
}

// Another process deletes and restores files and renames folders to and fro
// while the program walks them: whatever it finds, it answers in full.
TEST(HostileScale, FilesDeletedAndFoldersRenamedDuringTheWalk)
{
    TestSite site;
    FurnishSite(site);
    const int folders = 30, files = 40;
    for (int f = 0; f < folders; ++f)
        for (int i = 0; i < files; ++i)
            PutDocument(site, "f" + std::to_string(f) + "/p" + std::to_string(i) + ".htm", CatDocument);
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (unsigned round = 0; !done; ++round) {
            int f = static_cast<int>(round % folders);
            std::string folder = site.root() + "/f" + std::to_string(f);
            std::string file = folder + "/p" + std::to_string(round % files) + ".htm";
            std::remove(file.c_str());
            std::rename(folder.c_str(), (folder + "x").c_str());
            std::rename((folder + "x").c_str(), folder.c_str());
            WriteFile(file, CatDocument);
        }
    });
    for (int request = 0; request < 5; ++request) {
        RunResult result = Get(site, "Search=cat&Count=200");
        EXPECT_TRUE(IsWholePage(result.out)) << result.out.substr(0, 300);
        EXPECT_EQ(result.err, "");
    }
    done = true;
    changer.join();
}

}  // namespace
