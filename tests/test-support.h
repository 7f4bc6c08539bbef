// Test support: temporary sites laid out as a web server holds them, and the
// real program run as a CGI child process.
#pragma once

#include <ctime>
#include <map>
#include <vector>
#include <string>

namespace testing_support {

// A folder under the system's temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& content);  // creates parent folders
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void MakeFolders(const std::string& path);

// SITE/cgi-bin/trawlex.exe with SITE/cgi-bin/srchdata/{header,footer,body}.htm,
// config.txt and logs/.
class TestSite {
public:
    // program: path of the binary to install (defaults to the Release program).
    explicit TestSite(const std::string& program = "");
    const std::string& root() const { return folder_.path(); }     // SITE, no final slash
    std::string cgiBin() const { return root() + "/cgi-bin"; }
    std::string srchdata() const { return cgiBin() + "/srchdata"; }
    std::string program() const { return cgiBin() + "/trawlex.exe"; }
    void Page(const std::string& relativePath, const std::string& content) const;  // under SITE
    // config.txt, ending with "THREADS N" when the test run sets TRAWLEX_TEST_THREADS.
    void Config(const std::string& content) const;
    void Data(const std::string& name, const std::string& content) const;  // under srchdata
    // The day's query log, or "" when none was written.
    std::string TodaysLog() const;
    std::string TodaysLogPath() const;
private:
    TempFolder folder_;
};

struct RunResult {
    std::string out;
    std::string err;
    int exitCode = -1;
};

struct RunOptions {
    std::map<std::string, std::string> environment;  // the whole environment of the child
    std::string input;                               // standard input
    std::string workingFolder;                       // "" keeps the test's own
    std::string argument0;                           // "" gives the program path
    std::vector<std::string> arguments;              // after argument 0
    int userId = -1;                                 // >= 0: the child runs as this user and group
    int secondsLimit = 0;                            // > 0: killed when still running after this long,
                                                     // and no file it writes grows past OutputSizeLimit
    int descriptorLimit = 0;                         // > 0: the files it may hold open at once, its
                                                     // standard streams among them
};
constexpr long OutputSizeLimit = 64L << 20;

RunResult RunProgram(const std::string& program, const RunOptions& options);

// A child started without waiting for it, so several can run at once.
struct StartedProgram {
    int processId = -1;
    int secondsLimit = 0;
    std::string scratchFolder;  // its standard streams; removed by FinishProgram
    bool underWine = false;     // a Windows program, started by the launcher
};
StartedProgram StartProgram(const std::string& program, const RunOptions& options);
RunResult FinishProgram(StartedProgram& started);

// The options of Get, for tests that change the environment or the start.
RunOptions GetOptions(const std::string& query);
// A GET request: QUERY_STRING and REMOTE_ADDR 127.0.0.1, started by absolute path.
RunResult Get(const TestSite& site, const std::string& query);
// A POST request with the body as standard input and CONTENT_LENGTH.
RunResult Post(const TestSite& site, const std::string& body);

// The page with the walk's time replaced by "T", so pages compare byte for byte.
std::string MaskSearchTime(const std::string& page);

// ---- Whole pages ------------------------------------------------------------

extern const char* const ContentHeader;     // "Content-Type: text/html\n\n"
extern const char* const HeaderFragment;    // srchdata/header.htm of a furnished site
extern const char* const FooterFragment;    // srchdata/footer.htm
extern const char* const ResultTemplate;    // srchdata/body.htm, one line per result
extern const char* const DefaultConfig;     // FILESPEC .htm and .html, BASEURL /

// Writes the fragments, the result template and the configuration.
void FurnishSite(const TestSite& site, const std::string& config = DefaultConfig);
// A document under SITE whose modified time is DocumentTime.
void PutDocument(const TestSite& site, const std::string& relativePath, const std::string& content);
// A POSIX extended pattern (as death tests take) that matches exactly `text`.
std::string Exactly(const std::string& text);
// A local date and time as the system's time.
time_t LocalTime(int year, int month, int day, int hour, int minute, int second);
// Sets a file's modified time to a local date and time.
void SetModified(const std::string& path, int year, int month, int day, int hour, int minute, int second);
extern const char* const DocumentDate;      // DocumentTime as the template shows it: "3/5/2001"

// One result as ResultTemplate shows it.
struct ShownResult {
    std::string url;          // below the search path
    std::string title;
    std::string percent;      // "90%"
    std::string weight;       // "7.29"
    std::string size = "";    // "12 bytes"; tables may fill it in later
    std::string modified = DocumentDate;
    std::string description = "...No description given...";
};
std::string ResultLine(int match, const ShownResult& result);
std::string Summary(int matched, int returned);
std::string CreditLine(int filesSearched);  // with the time masked
// Response header, header fragment, middle, footer fragment.
std::string WholePage(const std::string& middle);
// A furnished site's page of one page of results, all of them shown.
std::string ResultsPage(const std::vector<ShownResult>& results, int filesSearched);
std::string NoMatchPage(int filesSearched);
std::string SizeText(size_t bytes);  // "%d bytes", "%dK", "%d megs"

// The query log's minute stamp for a local time, as eight hexadecimal digits.
std::string MinuteStamp(time_t when);

extern const char* const ReleaseProgram;
extern const char* const DebugProgram;

// ---- Another build of the program ---------------------------------------------
//
// TRAWLEX_TEST_PROGRAM names the program that test sites get instead of the
// Release program (for example the Windows build), TRAWLEX_TEST_LAUNCHER a
// command that starts a Windows program here (for example "wine"). A
// Windows program is started through the launcher, with its Linux path as
// the launcher's argument. A cross build's program is started through the
// emulator that the build names (qemu-aarch64 for the ARM build); everything
// else is started directly.

// The program a TestSite installs by default.
std::string TestProgram();
// True when the default program runs under the launcher.
bool UnderLauncher();
// Whether the tests or the program run under a sanitizer or Valgrind, whose
// runtimes hold file descriptors of their own.
bool UnderInstrumentation();
// A path under the test's folders as the default program writes it in a
// page: "\tmp\x\a.htm", or "Z:\tmp\x\a.htm" for a Windows program,
// which sees the Linux file system as drive Z:.
std::string InternalPath(const std::string& linuxPath);

// ---- The test run's threads ----------------------------------------------------
//
// TRAWLEX_TEST_THREADS: the number of scanning threads that every site's
// configuration sets (TestSite::Config), so that a whole test run scans with
// that many (ThreadSanitizer's stage runs the tests with several).

// Its value, or "" when unset.
std::string TestThreads();
// The thread counts a test sweeps: its own, or only the test run's.
std::vector<int> ThreadCounts(const std::vector<int>& counts);

// ---- The test run's share of the comparisons ------------------------------------
//
// TRAWLEX_TEST_SHARE=N: the differential tests make one comparison in N, so
// that the stages whose builds run many times slower (sanitizers, Wine, an
// emulated processor) still cover every way of searching in bounded time;
// the Release stage makes them all.

// Whether the test makes its next comparison: always, unless the run sets a share.
bool ComparesTheNextOne();

}  // namespace testing_support
