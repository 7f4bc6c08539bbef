// Sites that hold what no site owner meant to put there: the walk and the
// scanner must pass it over or read it safely, and the page stays whole.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <map>
#include <thread>

#include "test-support.h"

using namespace testing_support;

namespace {

const std::string CatDocument = "<P>cat</P>\n";  // 100%, 1.00, 11 bytes

ShownResult Cat(const std::string& url, const std::string& size = "11 bytes")
{
    return {url, "Untitled", "100%", "1.00", size};
}

// Bytes without ASCII letters, "<" or 0x1A, with one whole "cat" at offset 1000.
std::string BinaryDocument(size_t size)
{
    std::string content(size, '\0');
    uint32_t state = 12345;
    for (char& c : content) {
        state = state * 1103515245u + 12345u;
        unsigned value = (state >> 16) & 0xFF;
        c = static_cast<char>(value < 0x80 ? value % 0x1A : value);
    }
    content.replace(1000, 5, std::string("\0cat\0", 5));
    return content;
}

TEST(HostileSite, OddFilesAndNamesArePassedOverOrReadSafely)
{
    TestSite site;
    FurnishSite(site);
    PutDocument(site, "binary.htm", BinaryDocument(100000));
    std::string everyByte;
    for (int i = 0; i < 256; ++i) everyByte += static_cast<char>(i);
    PutDocument(site, "binary2.htm", everyByte + " cat ");  // the text ends at 0x1A
    PutDocument(site, "empty.htm", "");

    const std::string big = site.root() + "/big.htm";
    const off_t bigSize = 50 * 1048576;
    int descriptor = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(descriptor, 0);
    ASSERT_EQ(ftruncate(descriptor, bigSize - 5), 0);
    ASSERT_EQ(pwrite(descriptor, " cat ", 5, bigSize - 5), 5);
    close(descriptor);
    SetModified(big, 2001, 3, 5, 10, 30, 0);

    ASSERT_EQ(symlink("nowhere.htm", (site.root() + "/broken.htm").c_str()), 0);
    PutDocument(site, "docs/a.htm", CatDocument);
    ASSERT_EQ(symlink("..", (site.root() + "/docs/up").c_str()), 0);
    ASSERT_EQ(symlink(".", (site.root() + "/docs/self").c_str()), 0);
    // A Windows name holds no double quote, and Wine shows the Latin-1 bytes
    // of a Linux name as other characters: those two are Linux-only.
    const bool linuxNames = !UnderLauncher();
    std::vector<std::string> names = {"a b.htm", "50%off.htm", "back\\slash.htm"};
    if (linuxNames) names.insert(names.end(), {"it's \"q\".htm", "\xE9t\xE9.htm"});
    for (const std::string& name : names) PutDocument(site, name, CatDocument);

    const std::string fifo = site.root() + "/x.htm";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    // A fifo is passed over. Should the program open it anyway, this writer
    // hands it " cat " and an end, so it shows in the page instead of hanging.
    auto previousPipeHandler = signal(SIGPIPE, SIG_IGN);
    std::thread writer([fifo] {
        int end = open(fifo.c_str(), O_WRONLY);
        if (end >= 0) {
            if (write(end, " cat ", 5) != 5) perror("fifo");
            close(end);
        }
    });
    // Ties, so the later-scanned document comes first.
    RunResult result = Get(site, "Search=cat");
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // releases the writer
    writer.join();
    close(reader);
    signal(SIGPIPE, previousPipeHandler);
    // Blanks and quotes in a name are percent-encoded in the link.
    std::vector<ShownResult> expected = {Cat("docs/a.htm"), Cat("binary.htm", "97K"), Cat("big.htm", "50 megs"),
                                         Cat("a%20b.htm"), Cat("50%off.htm")};
    if (linuxNames) expected.insert(expected.begin(), {Cat("\xE9t\xE9.htm"), Cat("it%27s%20%22q%22.htm")});
    EXPECT_EQ(MaskSearchTime(result.out), ResultsPage(expected, linuxNames ? 9 : 7));
    EXPECT_EQ(result.err, "");
}

// Whether a control other than a tab or a line end, as a byte or in UTF-8,
// stands at `at`: a NUL in an excerpt once ended the request.
bool IsControlAt(const std::string& text, size_t at)
{
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    if (byte == '\t' || byte == '\n' || byte == '\r') return false;
    if (byte < 0x20 || byte == 0x7F) return true;
    return byte == 0xC2 && at + 1 < text.size() && (text[at + 1] & 0xE0) == 0x80;
}

// What one result of ControlBytesNeverReachAnExcerpt shows.
struct ControlResult {
    std::string title, description;
    bool marked;  // the excerpt shows the hit
};

// A document with the control in its title, description and text, raw and
// as a reference, and what its result shows: titles and descriptions as
// they always did. Text mode drops a carriage return, a META value the C0
// bytes but a line feed; a NUL ends either, and 0x1A the document.
ControlResult PutControlDocument(const TestSite& site, const std::string& url, const std::string& c)
{
    const unsigned codePoint = static_cast<unsigned char>(c.back());
    PutDocument(site, url, "<html><head><title>cat t" + c + "t</title><meta name=\"description\" content=\"d" + c +
                               "d\"></head><body><p>" + c + "cat x" + c + "x &#" + std::to_string(codePoint) + "; y" +
                               c + "</p></body></html>" + c);
    if (c[0] == '\0') return {"cat t", "d", true};
    if (c[0] == '\x1A') return {"cat t", "...No description given...", false};
    const bool droppedInMeta = c[0] != '\n' && static_cast<unsigned char>(c[0]) < 0x20;
    return {"cat t" + (c[0] == '\r' ? "" : c) + "t", "d" + (droppedInMeta ? "" : c) + "d", true};
}

// The text between `open` and `close` after `from` in the page.
std::string Between(const std::string& page, size_t from, const std::string& open, const std::string& close)
{
    const size_t start = page.find(open, from) + open.size();
    return page.substr(start, page.find(close, start) - start);
}

// Every C0 byte, DEL and C1 controls in both modes: each page is whole,
// every result shows, no excerpt holds a control.
TEST(HostileSite, ControlBytesNeverReachAnExcerpt)
{
    std::vector<std::string> controls;
    for (int byte = 0; byte < 0x20; ++byte) controls.push_back(std::string(1, static_cast<char>(byte)));
    controls.insert(controls.end(), {"\x7F", "\xC2\x80", "\xC2\x85", "\xC2\x9F"});
    for (const char* mode : {"", "TEXTONLY yes\n"}) {
        SCOPED_TRACE(mode);
        TestSite site;
        FurnishSite(site, std::string(DefaultConfig) + mode);
        site.Data("body.htm", "<U>&Search.URL;</U><T>&Search.Title;</T><D>&Search.Description;</D>"
                              "<X>&Search.Excerpt;</X>\n");
        std::map<std::string, ControlResult> expected;
        for (size_t i = 0; i < controls.size(); ++i) {
            const std::string url = "c" + std::to_string(i) + ".htm";
            expected[url] = PutControlDocument(site, url, controls[i]);
        }
        RunResult result = Get(site, "Search=cat&Count=100");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "");
        const std::string page = MaskSearchTime(result.out);
        const std::string end = CreditLine(static_cast<int>(controls.size())) + FooterFragment;
        ASSERT_GE(page.size(), end.size());
        EXPECT_EQ(page.substr(page.size() - end.size()), end) << "the page is whole";
        size_t shown = 0;
        for (size_t at = page.find("<U>"); at != std::string::npos; at = page.find("<U>", at + 1), ++shown) {
            const std::string url = Between(page, at, "<U>", "</U>"), excerpt = Between(page, at, "<X>", "</X>");
            SCOPED_TRACE(url);
            EXPECT_EQ(Between(page, at, "<T>", "</T>"), expected[url].title);
            EXPECT_EQ(Between(page, at, "<D>", "</D>"), expected[url].description);
            EXPECT_EQ(excerpt.find("<MARK>cat</MARK>") != std::string::npos, expected[url].marked) << excerpt;
            for (size_t i = 0; i < excerpt.size(); ++i) EXPECT_FALSE(IsControlAt(excerpt, i)) << i << ": " << excerpt;
        }
        EXPECT_EQ(shown, controls.size());
    }
}

TEST(HostileSite, UnreadableFilesAndFoldersArePassedOver)
{
    TestSite site;
    FurnishSite(site);
    if (UnderLauncher()) GTEST_SKIP() << "Wine runs only as the owner of its prefix";
    PutDocument(site, "open.htm", CatDocument);
    PutDocument(site, "locked.htm", CatDocument);
    PutDocument(site, "closed/a.htm", CatDocument);
    ASSERT_EQ(chmod((site.root() + "/locked.htm").c_str(), 0), 0);
    ASSERT_EQ(chmod((site.root() + "/closed").c_str(), 0), 0);
    RunOptions options = GetOptions("Search=cat");
    if (geteuid() == 0) {
        // Root reads every file: the program runs as an unprivileged user instead.
        options.userId = 65534;
        ASSERT_EQ(chmod(site.root().c_str(), 0755), 0);
        ASSERT_EQ(chmod((site.srchdata() + "/logs").c_str(), 0777), 0);
    }
    RunResult result = RunProgram(site.program(), options);
    EXPECT_EQ(MaskSearchTime(result.out), ResultsPage({Cat("open.htm")}, 1));
    EXPECT_EQ(result.err, "");
}

// With a handful of descriptors and many threads, no document goes missing:
// the page is the one that no limit gives, on a site four folders deep.
TEST(HostileSite, FewDescriptorsGiveTheSamePage)
{
    if (getenv("TRAWLEX_TEST_LAUNCHER") || UnderInstrumentation())
        GTEST_SKIP() << "a launcher, a sanitizer or Valgrind holds descriptors of its own";
    TestSite site;
    FurnishSite(site);
    site.Data("body.htm", "<LI>&Search.URL; &Search.Percent; [&Search.Excerpt;]\n");
    // Documents long enough for the threads to hold many open at once.
    const std::string document = CatDocument + std::string(200000, ' ') + "dog\n";
    std::string folder;
    for (const char* below : {"", "a/", "b/", "c/", "d/"}) {
        folder += below;
        for (int i = 0; i < 30; ++i) PutDocument(site, folder + "doc" + std::to_string(i) + ".htm", document);
    }
    for (const char* threads : {"1", "2", "16"}) {
        site.Config(std::string(DefaultConfig) + "THREADS " + threads + "\n");
        const RunResult unlimited = RunProgram(site.program(), GetOptions("Search=cat"));
        ASSERT_NE(unlimited.out.find("150 files searched"), std::string::npos);
        for (int limit : {8, 9, 12}) {
            SCOPED_TRACE(std::string(threads) + " threads, " + std::to_string(limit) + " descriptors");
            RunOptions options = GetOptions("Search=cat");
            options.descriptorLimit = limit;
            const RunResult limited = RunProgram(site.program(), options);
            EXPECT_EQ(MaskSearchTime(limited.out), MaskSearchTime(unlimited.out));
            EXPECT_EQ(limited.err, "");
        }
    }
}

// A data file that is a FIFO or a device is a missing file: the request
// neither waits for a writer nor copies an endless stream into the page.
TEST(HostileSite, SpecialDataFilesAreMissingFiles)
{
    TestSite site;
    PutDocument(site, "a.htm", "<P>the cat</P>\n");
    RunOptions options = GetOptions("Search=the+cat");
    options.secondsLimit = 20;
    const std::string headerToZero = "header.htm to /dev/zero";
    for (const std::string name : {"config.txt", "header.htm", "footer.htm", "body.htm", "skip.txt", "log",
                                   headerToZero.c_str()}) {
        SCOPED_TRACE(name);
        FurnishSite(site, std::string(DefaultConfig) + "SKIPLIST skip.txt\n");
        site.Data("skip.txt", "the\n");
        const bool isLog = name == "log";
        const std::string path = isLog ? site.TodaysLogPath()
                                       : site.srchdata() + "/" + (name == headerToZero ? "header.htm" : name);
        remove(path.c_str());
        RunResult missing = RunProgram(site.program(), options);
        remove(path.c_str());
        ASSERT_EQ(name == headerToZero ? symlink("/dev/zero", path.c_str()) : mkfifo(path.c_str(), 0644), 0);
        RunResult special = RunProgram(site.program(), options);
        remove(path.c_str());
        EXPECT_EQ(special.exitCode, 0);
        ASSERT_LT(special.out.size(), missing.out.size() + 100);
        // A log that cannot be written costs a comment; a missing one is made.
        const std::string comment = "<!-- Unable to update log\n -->\n\n";
        const size_t afterHeader = std::string(ContentHeader).size();
        EXPECT_EQ(MaskSearchTime(special.out),
                  isLog ? MaskSearchTime(missing.out).insert(afterHeader, comment) : MaskSearchTime(missing.out));
    }
}

// Paths are held in 320-byte buffers: what fits in 319 characters is
// searched, anything longer is passed over.
TEST(HostileSite, PathsLongerThanTheBuffersArePassedOver)
{
    if (UnderLauncher()) GTEST_SKIP() << "the Windows program's file calls stop at 260 characters";
    TestSite site;
    FurnishSite(site);
    const size_t root = InternalPath(site.root()).size();
    ASSERT_LT(root, 200u) << "temporary folder too long for this test";
    // The folder's internal path, with its final backslash, is 313 characters.
    const std::string folder = "deep/" + std::string(100, 'd') + "/" + std::string(205 - root, 'e');
    ASSERT_EQ(root + 1 + folder.size() + 1, 313u);
    for (const char* name : {"a.htm", "ab.htm", "abc.htm", "fifth/a.htm", "sixth6/a.htm", "s/a.htm"})
        PutDocument(site, folder + "/" + name, CatDocument);
    RunResult result = Get(site, "Search=cat");
    EXPECT_EQ(MaskSearchTime(result.out), ResultsPage({Cat(folder + "/ab.htm"), Cat(folder + "/a.htm")}, 2));
    EXPECT_EQ(result.err, "");
}

TEST(HostileSite, OverlongUnclosedAndCountlessMetaTags)
{
    TestSite site;
    FurnishSite(site);
    const std::string longMeta =
        "<META name=\"description\" content=\"" + std::string(5000, 'x') + " cat\">\n<P>cat</P>\n";
    const std::string openMeta = "<P>cat</P>\n<META name=\"description\" content=\"dog";
    std::string manyMeta;
    for (int i = 0; i < 10000; ++i) manyMeta += "<META";
    manyMeta += "\n<P>cat</P>\n";
    PutDocument(site, "long-meta.htm", longMeta);
    PutDocument(site, "many-meta.htm", manyMeta);
    PutDocument(site, "open-meta.htm", openMeta);
    // The long tag: its first 999 bytes are the tag text (the description is
    // cut to 297 characters), the rest is body text holding " cat".
    RunResult result = Get(site, "Search=cat");
    EXPECT_EQ(MaskSearchTime(result.out),
              ResultsPage({{"long-meta.htm", "Untitled", "100%", "2.00", SizeText(longMeta.size()), DocumentDate,
                            std::string(297, 'x') + "..."},
                           {"open-meta.htm", "Untitled", "100%", "1.00", SizeText(openMeta.size())},
                           {"many-meta.htm", "Untitled", "100%", "1.00", SizeText(manyMeta.size())}},
                          3));
    EXPECT_EQ(result.err, "");
}

}  // namespace
