#include "test-support.h"

#include "corv-vector.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/personality.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace testing_support {

#ifdef TRAWLEX_PROGRAM
const char* const ReleaseProgram = TRAWLEX_PROGRAM;
const char* const DebugProgram = TRAWLEX_DEBUG_PROGRAM;
#else
const char* const ReleaseProgram = "";
const char* const DebugProgram = "";
#endif
#ifdef TRAWLEX_PROGRAM_EMULATOR
const char* const ProgramEmulator = TRAWLEX_PROGRAM_EMULATOR;
#else
const char* const ProgramEmulator = "";
#endif

TempFolder::TempFolder()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/trawlex-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
}

TempFolder::~TempFolder()
{
    std::string command = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", path_.c_str());
}

void MakeFolders(const std::string& path)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '/') mkdir(path.substr(0, at).c_str(), 0755);
    }
}

void WriteFile(const std::string& path, const std::string& content)
{
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) MakeFolders(path.substr(0, slash));
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) throw std::runtime_error("cannot write " + path);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

namespace {

std::string Environment(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

bool IsWindowsProgram(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    char magic[2] = {};
    return file.read(magic, 2) && magic[0] == 'M' && magic[1] == 'Z';
}

std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    std::istringstream text(line);
    for (std::string word; text >> word;) words.push_back(word);
    return words;
}

// TRAWLEX_TEST_LAUNCHER split at blanks, its command found on the test's PATH
// (the child's own PATH is the request's).
std::vector<std::string> LauncherWords()
{
    std::vector<std::string> words = Words(Environment("TRAWLEX_TEST_LAUNCHER"));
    if (words.empty() || words[0].find('/') != std::string::npos) return words;
    std::istringstream folders(Environment("PATH"));
    for (std::string folder; std::getline(folders, folder, ':');) {
        std::string candidate = folder + "/" + words[0];
        if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) {
            words[0] = candidate;
            break;
        }
    }
    return words;
}

// A program built for another processor runs under the emulator that the build names
// (qemu-user): started by name, as the kernel may have no binfmt_misc entry for it.
// The emulator's -0 gives the program the argument 0 that the test chose.
void PrefixEmulator(const std::string& program, std::string& executable, std::vector<std::string>& arguments)
{
    std::vector<std::string> emulator = Words(ProgramEmulator);
    if (emulator.empty()) return;
    executable = emulator[0];
    emulator.insert(emulator.end(), {"-0", arguments[0], program});
    arguments.erase(arguments.begin());
    arguments.insert(arguments.begin(), emulator.begin(), emulator.end());
}

// Puts the launcher in front of a Windows program. The launcher keeps its own
// settings (for Wine: WINEPREFIX, WINEDEBUG, WINESERVER, ...) and needs HOME;
// the request's variables stay as they are. Wine carries Linux names and the
// environment into the program through the locale's character set: with
// UTF-8 (the program's own code page too) every valid byte sequence arrives
// as it is. Returns whether the launcher starts the program.
bool PrepareCommand(const std::string& program, std::string& executable, std::vector<std::string>& arguments,
                    std::map<std::string, std::string>& environment)
{
    executable = program;
    if (!IsWindowsProgram(program)) {
        PrefixEmulator(program, executable, arguments);
        return false;
    }
    std::vector<std::string> launcher = LauncherWords();
    if (launcher.empty()) return false;
    executable = launcher[0];
    arguments.insert(arguments.begin(), launcher.begin(), launcher.end());
    for (char** entry = environ; *entry; ++entry) {
        std::string setting = *entry;
        size_t equals = setting.find('=');
        std::string name = setting.substr(0, equals);
        if (equals != std::string::npos && (name.rfind("WINE", 0) == 0 || name == "HOME"))
            environment.emplace(name, setting.substr(equals + 1));
    }
    environment.emplace("LC_ALL", "C.UTF-8");
    return true;
}

// Where ThreadSanitizer writes its reports, and whether it stops at the first, hold for
// the program too, whose environment is otherwise the request's alone: a race in the
// program then fails the test run, whether or not a test looks at the program's exit.
void KeepThreadSanitizerSettings(std::map<std::string, std::string>& environment)
{
    const std::string settings = Environment("TSAN_OPTIONS");
    if (!settings.empty()) environment.emplace("TSAN_OPTIONS", settings);
}

}  // namespace

std::string TestProgram()
{
    std::string chosen = Environment("TRAWLEX_TEST_PROGRAM");
    return chosen.empty() ? ReleaseProgram : chosen;
}

bool UnderInstrumentation()
{
#ifdef TRAWLEX_SANITIZED
    return true;
#else
    const std::string preload = Environment("LD_PRELOAD");
    return preload.find("vgpreload") != std::string::npos;
#endif
}

std::string TestThreads() { return Environment("TRAWLEX_TEST_THREADS"); }

std::vector<int> ThreadCounts(const std::vector<int>& counts)
{
    const std::string threads = TestThreads();
    return threads.empty() ? counts : std::vector<int>{std::stoi(threads)};
}

bool ComparesTheNextOne()
{
    // Drawn at random with a fixed seed rather than every Nth, which would fall
    // in step with the tests' own strides and leave some ways out altogether.
    static const unsigned share = std::max(1, atoi(Environment("TRAWLEX_TEST_SHARE").c_str()));
    static std::mt19937 draws(20261211);
    return share == 1 || draws() % share == 0;
}

bool UnderLauncher() { return !LauncherWords().empty() && IsWindowsProgram(TestProgram()); }

std::string InternalPath(const std::string& linuxPath)
{
    std::string path = linuxPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return UnderLauncher() ? "Z:" + path : path;
}

TestSite::TestSite(const std::string& program)
{
    MakeFolders(srchdata() + "/logs");
    std::string source = program.empty() ? TestProgram() : program;
    WriteFile(this->program(), ReadFile(source));
    chmod(this->program().c_str(), 0755);
}

void TestSite::Page(const std::string& relativePath, const std::string& content) const
{
    WriteFile(root() + "/" + relativePath, content);
}

void TestSite::Config(const std::string& content) const
{
    const std::string threads = TestThreads();
    Data("config.txt", threads.empty() ? content : content + "\nTHREADS " + threads + "\n");
}

void TestSite::Data(const std::string& name, const std::string& content) const
{
    WriteFile(srchdata() + "/" + name, content);
}

std::string TestSite::TodaysLogPath() const
{
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char name[32];
    snprintf(name, sizeof name, "%.2d%.2d%.4d.log", local.tm_mon + 1, local.tm_mday, local.tm_year + 1900);
    return srchdata() + "/logs/" + name;
}

std::string TestSite::TodaysLog() const
{
    const std::string path = TodaysLogPath();
    return FileExists(path) ? ReadFile(path) : "";
}

namespace {

std::string MakeScratchFolder()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/trawlex-run-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    return buffer.data();
}

}  // namespace

StartedProgram StartProgram(const std::string& program, const RunOptions& options)
{
    StartedProgram started;
    started.scratchFolder = MakeScratchFolder();
    std::string inputPath = started.scratchFolder + "/in";
    std::string outPath = started.scratchFolder + "/out";
    std::string errPath = started.scratchFolder + "/err";
    WriteFile(inputPath, options.input);
    // Everything the child needs is prepared before the fork.
    std::map<std::string, std::string> settings = options.environment;
    // A suite run at a lower vector level runs the program at that level too.
    const std::string level = Environment(VectorLevelVariable);
    if (!level.empty()) settings.emplace(VectorLevelVariable, level);
    std::vector<std::string> arguments{options.argument0.empty() ? program : options.argument0};
    arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
    std::string executable;
    const bool underWine = PrepareCommand(program, executable, arguments, settings);
    KeepThreadSanitizerSettings(settings);
    std::vector<std::string> environment;
    for (const auto& [name, value] : settings) environment.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        int in = open(inputPath.c_str(), O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // Nothing but the standard streams is handed on.
        close_range(3, ~0U, 0);
        if (options.userId >= 0) {
            uid_t user = static_cast<uid_t>(options.userId);
            if (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0) _exit(125);
        }
        if (!options.workingFolder.empty() && chdir(options.workingFolder.c_str()) != 0) _exit(126);
        if (options.secondsLimit > 0) {
            // A runaway child must not fill the disk before its time is up.
            rlimit size{OutputSizeLimit, OutputSizeLimit};
            setrlimit(RLIMIT_FSIZE, &size);
        }
        if (options.descriptorLimit > 0) {
            rlimit files{static_cast<rlim_t>(options.descriptorLimit), static_cast<rlim_t>(options.descriptorLimit)};
            setrlimit(RLIMIT_NOFILE, &files);
        }
        // Wine maps a page of its own at 0x7FFE0000 as it starts. Where the kernel lays
        // out the address space at random, its loader's heap lands on that page now and
        // then (about one start in 1,700) and Wine ends at once with exit code 1, silent
        // under WINEDEBUG=-all. A fixed layout puts the heap just after the loader. A
        // system that refuses the change leaves it to RunProgram's second start.
        if (underWine) personality(personality(0xFFFFFFFF) | ADDR_NO_RANDOMIZE);
        execve(executable.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    started.processId = child;
    started.secondsLimit = options.secondsLimit;
    started.underWine = underWine;
    return started;
}

namespace {

// Waits for the child; one that outlives its limit is killed (exit code 137).
int WaitForChild(const StartedProgram& started)
{
    const int options = started.secondsLimit > 0 ? WNOHANG : 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(started.secondsLimit);
    for (;;) {
        int status = 0;
        pid_t done = waitpid(started.processId, &status, options);
        if (done == started.processId || (done < 0 && errno != EINTR)) return status;
        if (done != 0) continue;
        if (std::chrono::steady_clock::now() > deadline) kill(started.processId, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

RunResult FinishProgram(StartedProgram& started)
{
    int status = WaitForChild(started);
    RunResult result;
    result.out = ReadFile(started.scratchFolder + "/out");
    result.err = ReadFile(started.scratchFolder + "/err");
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::string command = "rm -rf '" + started.scratchFolder + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", started.scratchFolder.c_str());
    started.processId = -1;
    return result;
}

namespace {

// The program always writes its page or its report: one that Wine started
// and that ended with exit code 1, having written nothing, never ran.
bool WineCouldNotStart(bool underWine, const RunResult& result)
{
    return underWine && result.exitCode == 1 && result.out.empty() && result.err.empty();
}

constexpr int WineStarts = 3;

}  // namespace

RunResult RunProgram(const std::string& program, const RunOptions& options)
{
    for (int start = 1;; ++start) {
        StartedProgram started = StartProgram(program, options);
        RunResult result = FinishProgram(started);
        if (start == WineStarts || !WineCouldNotStart(started.underWine, result)) return result;
    }
}

RunOptions GetOptions(const std::string& query)
{
    RunOptions options;
    options.environment = {{"QUERY_STRING", query}, {"REMOTE_ADDR", "127.0.0.1"}, {"PATH", "/usr/bin:/bin"}};
    return options;
}

RunResult Get(const TestSite& site, const std::string& query)
{
    return RunProgram(site.program(), GetOptions(query));
}

RunResult Post(const TestSite& site, const std::string& body)
{
    RunOptions options;
    options.environment = {{"CONTENT_LENGTH", std::to_string(body.size())},
                           {"REMOTE_ADDR", "127.0.0.1"},
                           {"REQUEST_METHOD", "POST"},
                           {"PATH", "/usr/bin:/bin"}};
    options.input = body;
    return RunProgram(site.program(), options);
}

std::string MaskSearchTime(const std::string& page)
{
    static const std::regex time(R"(files searched in [0-9]+\.[0-9]{2} secs)");
    return std::regex_replace(page, time, "files searched in T secs");
}

// ---- Whole pages ------------------------------------------------------------

const char* const ContentHeader = "Content-Type: text/html\n\n";
const char* const HeaderFragment = "<HTML><BODY><H1>Search</H1>\n";
const char* const FooterFragment = "<P>footer</P></BODY></HTML>\n";
const char* const ResultTemplate =
    "<LI>&Search.Match;. <A HREF=\"&Search.BaseURL;&Search.URL;\">&Search.Title;</A> &Search.Percent; "
    "&Search.Weight; &Search.Size; &Search.Modified; &Search.Description;&nbsp;\n";
const char* const DefaultConfig = "FILESPEC .htm\nFILESPEC .html\nBASEURL /\n";
const char* const DocumentDate = "3/5/2001";

void FurnishSite(const TestSite& site, const std::string& config)
{
    site.Data("header.htm", HeaderFragment);
    site.Data("footer.htm", FooterFragment);
    site.Data("body.htm", ResultTemplate);
    site.Config(config);
}

std::string Exactly(const std::string& text)
{
    std::string pattern = "^";
    for (char c : text) {
        if (c != '\0' && strchr("\\^$.|?*+()[]{}", c)) pattern += '\\';
        pattern += c;
    }
    return pattern + "$";
}

time_t LocalTime(int year, int month, int day, int hour, int minute, int second)
{
    tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return mktime(&local);
}

void SetModified(const std::string& path, int year, int month, int day, int hour, int minute, int second)
{
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = LocalTime(year, month, day, hour, minute, second);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("cannot set the time of " + path);
}

void PutDocument(const TestSite& site, const std::string& relativePath, const std::string& content)
{
    site.Page(relativePath, content);
    SetModified(site.root() + "/" + relativePath, 2001, 3, 5, 10, 30, 0);
}

std::string ResultLine(int match, const ShownResult& result)
{
    return "<LI>" + std::to_string(match) + ". <A HREF=\"/" + result.url + "\">" + result.title + "</A> " +
           result.percent + " " + result.weight + " " + result.size + " " + result.modified + " " +
           result.description + "&nbsp;\n";
}

std::string Summary(int matched, int returned)
{
    return "Found " + std::to_string(matched) + " Web page" + (matched == 1 ? "" : "s") +
           " matching your query (returning top " + std::to_string(returned) + ")...<BR><BR>";
}

std::string CreditLine(int filesSearched)
{
    return "<BR><BR><FONT size=-1><DIV align=right><A HREF=\"https://trawlex.example/\">Tarvine Trawlex "
           "v3.00</A></FONT><BR><FONT size=-2>" +
           std::to_string(filesSearched) + " files searched in T secs</DIV></FONT><BR>";
}

std::string WholePage(const std::string& middle)
{
    return std::string(ContentHeader) + HeaderFragment + middle + FooterFragment;
}

std::string ResultsPage(const std::vector<ShownResult>& results, int filesSearched)
{
    int count = static_cast<int>(results.size());
    std::string middle = Summary(count, count);
    for (int i = 0; i < count; ++i) middle += ResultLine(i + 1, results[static_cast<size_t>(i)]);
    return WholePage(middle + "Result Pages:&nbsp;<B>1</B>&nbsp;" + CreditLine(filesSearched));
}

std::string NoMatchPage(int filesSearched)
{
    return WholePage("Unable to find any Web pages matching your query...<BR>" + CreditLine(filesSearched));
}

std::string SizeText(size_t bytes)
{
    if (bytes < 1024) return std::to_string(bytes) + " bytes";
    if (bytes < 1048576) return std::to_string(bytes / 1024) + "K";
    return std::to_string(bytes / 1048576) + " megs";
}

std::string MinuteStamp(time_t when)
{
    static const int daysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    tm local{};
    localtime_r(&when, &local);
    int years = local.tm_year;
    long days = 365L * (years - 70) + (years - 68) / 4 + daysBeforeMonth[local.tm_mon] + local.tm_mday;
    if (years % 4 == 0 && local.tm_mon < 2) --days;
    long minutes = days * 1440 + local.tm_hour * 60 + local.tm_min;
    char text[16];
    snprintf(text, sizeof text, "%.8lX", static_cast<unsigned long>(minutes));
    return text;
}

}  // namespace testing_support
