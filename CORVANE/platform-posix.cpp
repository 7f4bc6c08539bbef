// platform-posix: the POSIX side of the operating-system boundary.
#include "platform.h"
#include "platform-common.h"
#include "platform-posix-internal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// ---- Process ---------------------------------------------------------------

namespace {

std::string commandLine;

std::string CurrentFolder()
{
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) return "/";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string ExecutablePath()
{
    std::vector<char> buffer(4096);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return "";
    return std::string(buffer.data(), static_cast<size_t>(length));
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Removes "." and empty components and folds "name/.." without touching the
// file system, so that the program's folder is always its real parent.
std::string NormalizeAbsolute(const std::string& path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& part : parts) result += "/" + part;
    return result.empty() ? "/" : result;
}

std::string AbsoluteProgramPath(const char* argument0)
{
    std::string given = argument0 ? argument0 : "";
    if (given.find('/') != std::string::npos) {
        if (given[0] != '/') given = CurrentFolder() + "/" + given;
        return NormalizeAbsolute(given);
    }
    std::string executable = ExecutablePath();
    if (!given.empty()) {
        std::string candidate = NormalizeAbsolute(CurrentFolder() + "/" + given);
        if (executable.empty() || SameFile(candidate, executable)) return candidate;
    }
    return executable;
}

void AppendArgument(std::string& line, const std::string& argument)
{
    if (!line.empty()) line += ' ';
    bool quote = argument.find(' ') != std::string::npos;
    if (quote) line += '"';
    line += argument;
    if (quote) line += '"';
}

}  // namespace

void PlatInitCommandLine(int argc, char** argv)
{
    std::string line;
    AppendArgument(line, AbsoluteProgramPath(argc > 0 ? argv[0] : nullptr));
    for (int i = 1; i < argc; ++i) AppendArgument(line, argv[i]);
    PlatSetCommandLine(line.c_str());
}

void PlatSetCommandLine(const char* text) { commandLine = text ? text : ""; }

const char* PlatCommandLine() { return commandLine.c_str(); }

void PlatInitStandardStreams()
{
    // A visitor who leaves closes the pipe: the write then fails and the run
    // ends as usual, instead of the process being killed half-way.
    signal(SIGPIPE, SIG_IGN);
    platform_common::StartOutput();
}

void PlatShowFatalReport(const char* text)
{
    fprintf(stderr, "Internal error...\n%s", text);
    fflush(stderr);
}

void PlatConsoleOpen(const char*) {}

void PlatConsoleWrite(const char* text, int length)
{
    if (length > 0) fwrite(text, 1, static_cast<size_t>(length), stderr);
}

// ---- Lock, clock, pause ----------------------------------------------------

namespace {
std::recursive_mutex coreMutex;
}

void PlatLockCreate() {}
void PlatLockEnter() { coreMutex.lock(); }
void PlatLockLeave() { coreMutex.unlock(); }
void PlatLockClose() {}

uint32_t PlatTickCount()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t milliseconds = static_cast<uint64_t>(now.tv_sec) * 1000u +
                            static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(milliseconds);
}

void PlatSleepMilliseconds(int milliseconds)
{
    timespec pause{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

void PlatGetLocalTime(PlatLocalTime* now)
{
    time_t seconds = time(nullptr);
    tm local{};
    localtime_r(&seconds, &local);
    now->year = local.tm_year + 1900;
    now->month = local.tm_mon + 1;
    now->day = local.tm_mday;
    now->hour = local.tm_hour;
    now->minute = local.tm_min;
}

// ---- Threads ---------------------------------------------------------------

int PlatProcessorCount()
{
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) return CPU_COUNT(&allowed);
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

// The fourth field of /proc/loadavg counts the threads runnable right now,
// the caller among them.
int PlatIdleProcessorCount()
{
    const int processors = PlatProcessorCount();
    int descriptor = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return processors;
    char text[128] = {};
    ssize_t got = read(descriptor, text, sizeof text - 1);
    close(descriptor);
    double averages[3];
    int runnable = 0, total = 0;
    if (got <= 0 || sscanf(text, "%lf %lf %lf %d/%d", &averages[0], &averages[1], &averages[2], &runnable, &total) != 5)
        return processors;
    const int busy = runnable > 1 ? runnable - 1 : 0;
    return busy >= processors ? 0 : processors - busy;
}

struct PlatThread {
    std::thread thread;
};

PlatThread* PlatThreadStart(void (*run)(void* argument), void* argument)
{
    try {
        return new PlatThread{std::thread(run, argument)};
    } catch (const std::exception&) {
        return nullptr;  // the system has no thread to give
    }
}

void PlatThreadJoin(PlatThread* thread)
{
    if (!thread) return;
    thread->thread.join();
    delete thread;
}

struct PlatMonitor {
    std::mutex mutex;
    std::condition_variable wakeUp;
};

PlatMonitor* PlatMonitorCreate() { return new PlatMonitor; }
void PlatMonitorDestroy(PlatMonitor* monitor) { delete monitor; }
void PlatMonitorEnter(PlatMonitor* monitor) { monitor->mutex.lock(); }
void PlatMonitorLeave(PlatMonitor* monitor) { monitor->mutex.unlock(); }

void PlatMonitorWait(PlatMonitor* monitor)
{
    std::unique_lock<std::mutex> lock(monitor->mutex, std::adopt_lock);
    monitor->wakeUp.wait(lock);
    lock.release();  // still held by the caller
}

void PlatMonitorWakeAll(PlatMonitor* monitor) { monitor->wakeUp.notify_all(); }

// ---- Paths -----------------------------------------------------------------

std::string PlatSystemPath(const char* internalPath)
{
    std::string path = internalPath;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// ---- Descriptors ---------------------------------------------------------------

namespace {

// Descriptors open now: the entries of /proc/self/fd (one of them the
// listing's own), or, without /proc, those below the limit that answer.
int OpenDescriptors(int limit)
{
    if (DIR* stream = opendir("/proc/self/fd")) {
        int count = 0;
        while (dirent* item = readdir(stream)) count += item->d_name[0] != '.';
        closedir(stream);
        return count - 1;
    }
    int count = 0;
    for (int descriptor = 0; descriptor < limit; ++descriptor) count += fcntl(descriptor, F_GETFD) != -1;
    return count;
}

}  // namespace

int PlatDescriptorsAvailable()
{
    constexpr rlim_t Plenty = 1 << 16;
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= Plenty)
        return static_cast<int>(Plenty);
    const int cap = static_cast<int>(limit.rlim_cur);
    const int free = cap - OpenDescriptors(cap);
    return free > 0 ? free : 0;
}

// ---- Folder enumeration ------------------------------------------------------

struct PlatFolderName {
    std::string name;
    unsigned char type;  // the listing's own file type, DT_UNKNOWN where it gives none
};

struct PlatFolderListing {
    dev_t device;
    ino_t inode;
    std::vector<PlatFolderName> names;
};

struct PlatFolder {
    std::string systemPath;  // ending in "/"
    PlatFolderListing listing;
    size_t next;
};

// The folder's descriptor is held only while its names are read: a walk
// many folders deep holds none, and the descriptors a process may hold are
// left to the documents.
PlatFailure PlatSystemListFolder(const char* path, PlatFolderListing* listing)
{
    DIR* stream = opendir(path);
    if (!stream) return errno == EMFILE || errno == ENFILE || errno == ENOMEM ? PlatFailureResources : PlatFailureMissing;
    struct stat info;
    if (fstat(dirfd(stream), &info) != 0) {
        closedir(stream);
        return PlatFailureMissing;
    }
    listing->device = info.st_dev;
    listing->inode = info.st_ino;
    while (dirent* item = readdir(stream)) listing->names.push_back(PlatFolderName{item->d_name, item->d_type});
    closedir(stream);
    return PlatFailureNone;
}

namespace {

// Folders open right now, outermost first: the walk's current path.
std::vector<PlatFolder*> openFolders;

bool OnCurrentPath(const struct stat& info)
{
    for (const PlatFolder* open : openFolders)
        if (open->listing.device == info.st_dev && open->listing.inode == info.st_ino) return true;
    return false;
}

void SetDetails(const struct stat& info, PlatFolderEntry* entry)
{
    entry->size = static_cast<int32_t>(static_cast<uint32_t>(info.st_size));
    tm local{};
    localtime_r(&info.st_mtime, &local);
    entry->modified = PlatDosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                      local.tm_hour, local.tm_min, local.tm_sec);
    entry->detailed = true;
}

// Following links.
bool StatEntry(const PlatFolder* folder, const char* name, struct stat* info)
{
    return stat((folder->systemPath + name).c_str(), info) == 0;
}

// A regular file that the listing tells of is taken as one until its
// details are asked for; anything else is looked at (following links) now.
bool FillEntry(PlatFolder* folder, const PlatFolderName& listed, PlatFolderEntry* entry)
{
    const std::string& name = listed.name;
    bool isFolder = false;
    entry->detailed = false;
    if (listed.type != DT_REG) {
        struct stat info;
        if (!StatEntry(folder, name.c_str(), &info)) return false;
        isFolder = S_ISDIR(info.st_mode);
        if (!isFolder && !S_ISREG(info.st_mode)) return false;
        if (isFolder && OnCurrentPath(info)) return false;
        SetDetails(info, entry);
    }
    memcpy(entry->name, name.c_str(), name.size() + 1);
    entry->attributes = (isFolder ? PlatAttributeFolder : 0u) |
                        (name[0] == '.' ? PlatAttributeHidden : 0u);
    return true;
}

bool NameOrder(const PlatFolderName& a, const PlatFolderName& b) { return platform_common::NameBefore(a.name, b.name); }

// Names too long for an entry, or holding a backslash, cannot be written in an internal path.
bool Listable(const PlatFolderName& listed)
{
    return listed.name.size() < sizeof(PlatFolderEntry{}.name) && listed.name.find('\\') == std::string::npos;
}

}  // namespace

PlatFolder* PlatFolderOpen(const char* path, PlatFailure* failure)
{
    PlatFolder* folder = new PlatFolder{PlatSystemPath(path), {}, 0};
    const PlatFailure listed = PlatFileCallsInUse()->listFolder(folder->systemPath.c_str(), &folder->listing);
    if (failure) *failure = listed;
    if (listed != PlatFailureNone) {
        delete folder;
        return nullptr;
    }
    if (folder->systemPath.empty() || folder->systemPath.back() != '/') folder->systemPath += '/';
    std::vector<PlatFolderName>& names = folder->listing.names;
    names.erase(std::remove_if(names.begin(), names.end(), [](const PlatFolderName& name) { return !Listable(name); }),
                names.end());
    std::sort(names.begin(), names.end(), NameOrder);
    openFolders.push_back(folder);
    return folder;
}

int PlatFolderNext(PlatFolder* folder, PlatFolderEntry* entry)
{
    while (folder->next < folder->listing.names.size()) {
        if (FillEntry(folder, folder->listing.names[folder->next++], entry)) return 1;
    }
    return 0;
}

int PlatFolderEntryDetails(PlatFolder* folder, PlatFolderEntry* entry)
{
    if (entry->detailed) return 1;
    struct stat info;
    if (!StatEntry(folder, entry->name, &info) || !S_ISREG(info.st_mode)) return 0;
    SetDetails(info, entry);
    return 1;
}

void PlatFolderClose(PlatFolder* folder)
{
    if (!folder) return;
    openFolders.erase(std::remove(openFolders.begin(), openFolders.end(), folder),
                      openFolders.end());
    delete folder;
}
