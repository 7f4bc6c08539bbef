// platform-win32: the Windows side of the operating-system boundary.
//
// Internal paths already use backslashes, so they go to the system as they
// are. Everything else is made to behave as on POSIX, so that a site gives
// the same pages on either system: the same entry order, the same text-mode
// translation, raw standard streams.
#include "platform.h"
#include "platform-common.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

// The C runtime must not expand wildcards in the arguments: "/?" is one.
extern "C" {
int _dowildcard = 0;
}

// ---- Process ---------------------------------------------------------------

namespace {

std::string commandLine;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsAbsolute(const std::string& path)
{
    bool drive = path.size() >= 3 && isalpha(static_cast<unsigned char>(path[0])) &&
                 path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    bool network = path.size() >= 2 && (path[0] == '\\' || path[0] == '/') &&
                   (path[1] == '\\' || path[1] == '/');
    return drive || network;
}

std::string FullPath(const std::string& path)
{
    std::vector<char> buffer(MAX_PATH + 1);
    for (;;) {
        DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) return "";
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

std::string ModulePath()
{
    std::vector<char> buffer(MAX_PATH + 1);
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return "";
        if (length < buffer.size() - 1) return std::string(buffer.data(), length);
        if (buffer.size() > (1u << 16)) return "";
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

// The system's own command line. Argument 0 is read as the system reads it
// (quoted up to the next quote, else up to a blank); when it is not an
// absolute path (a bare name found on the search path, or a path relative to
// the current folder) the loaded program's path takes its place, so that the
// program folder is never empty or relative.
void PlatInitCommandLine(int, char**)
{
    std::string given = GetCommandLineA();
    size_t at = 0;
    while (at < given.size() && IsBlank(given[at])) ++at;
    std::string argument0;
    if (at < given.size() && given[at] == '"') {
        size_t close = given.find('"', at + 1);
        if (close == std::string::npos) close = given.size();
        argument0 = given.substr(at + 1, close - at - 1);
        at = close < given.size() ? close + 1 : close;
    } else {
        size_t end = at;
        while (end < given.size() && !IsBlank(given[end])) ++end;
        argument0 = given.substr(at, end - at);
        at = end;
    }
    std::string program = IsAbsolute(argument0) ? FullPath(argument0) : "";
    if (program.empty()) program = ModulePath();
    std::string line = program.find(' ') != std::string::npos ? "\"" + program + "\"" : program;
    std::string rest = given.substr(at);
    if (!rest.empty() && !IsBlank(rest[0])) line += ' ';
    line += rest;
    PlatSetCommandLine(line.c_str());
}

void PlatSetCommandLine(const char* text) { commandLine = text ? text : ""; }

const char* PlatCommandLine() { return commandLine.c_str(); }

void PlatInitStandardStreams()
{
    // No line-end or end-of-file translation: the request body and the page
    // are bytes, and the page's "\n" line ends are what the server expects.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    platform_common::StartOutput();
}

namespace {

// Under a web server nobody can close a modal box: it would hold the request
// until the server kills the process. A box is only for a person at a console.
bool PersonAtConsole()
{
    if (getenv("GATEWAY_INTERFACE")) return false;
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

HANDLE consoleOutput = INVALID_HANDLE_VALUE;

}  // namespace

void PlatShowFatalReport(const char* text)
{
    if (PersonAtConsole()) {
        MessageBoxA(nullptr, text, "Internal error...", MB_OK | MB_ICONERROR);
        return;
    }
    fprintf(stderr, "Internal error...\n%s", text);
    fflush(stderr);
}

void PlatConsoleOpen(const char* title)
{
    AllocConsole();  // fails harmlessly when the process has a console already
    // The console itself, not the standard output handle: under a web server
    // that handle is the page.
    consoleOutput = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    SetConsoleTitleA(title);
}

void PlatConsoleWrite(const char* text, int length)
{
    if (length <= 0) return;
    HANDLE target = consoleOutput != INVALID_HANDLE_VALUE ? consoleOutput : GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    WriteFile(target, text, static_cast<DWORD>(length), &written, nullptr);
}

// ---- Lock, clock, pause ----------------------------------------------------

namespace {
HANDLE coreMutex = nullptr;  // a Windows mutex is recursive for its owner
}

void PlatLockCreate()
{
    if (!coreMutex) coreMutex = CreateMutexA(nullptr, FALSE, nullptr);
}

void PlatLockEnter()
{
    if (coreMutex) WaitForSingleObject(coreMutex, INFINITE);
}

void PlatLockLeave()
{
    if (coreMutex) ReleaseMutex(coreMutex);
}

void PlatLockClose()
{
    if (coreMutex) CloseHandle(coreMutex);
    coreMutex = nullptr;
}

uint32_t PlatTickCount() { return GetTickCount(); }

void PlatSleepMilliseconds(int milliseconds) { Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0); }

void PlatGetLocalTime(PlatLocalTime* now)
{
    SYSTEMTIME local;
    GetLocalTime(&local);
    now->year = local.wYear;
    now->month = local.wMonth;
    now->day = local.wDay;
    now->hour = local.wHour;
    now->minute = local.wMinute;
}

// ---- Threads ---------------------------------------------------------------

int PlatProcessorCount()
{
    DWORD_PTR process = 0, system = 0;
    int count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        for (; process; process &= process - 1) ++count;
    return count > 0 ? count : 1;
}

// Windows tells the load only over an interval: every processor counts.
int PlatIdleProcessorCount() { return PlatProcessorCount(); }

struct PlatThread {
    HANDLE handle;
    void (*run)(void*);
    void* argument;
};

namespace {

unsigned __stdcall RunThread(void* thread)
{
    PlatThread* self = static_cast<PlatThread*>(thread);
    self->run(self->argument);
    return 0;
}

}  // namespace

PlatThread* PlatThreadStart(void (*run)(void* argument), void* argument)
{
    PlatThread* thread = new PlatThread{nullptr, run, argument};
    thread->handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunThread, thread, 0, nullptr));
    if (thread->handle) return thread;
    delete thread;
    return nullptr;
}

void PlatThreadJoin(PlatThread* thread)
{
    if (!thread) return;
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    delete thread;
}

struct PlatMonitor {
    CRITICAL_SECTION lock;
    CONDITION_VARIABLE wakeUp;
};

PlatMonitor* PlatMonitorCreate()
{
    PlatMonitor* monitor = new PlatMonitor;
    InitializeCriticalSection(&monitor->lock);
    InitializeConditionVariable(&monitor->wakeUp);
    return monitor;
}

void PlatMonitorDestroy(PlatMonitor* monitor)
{
    if (!monitor) return;
    DeleteCriticalSection(&monitor->lock);
    delete monitor;
}

void PlatMonitorEnter(PlatMonitor* monitor) { EnterCriticalSection(&monitor->lock); }
void PlatMonitorLeave(PlatMonitor* monitor) { LeaveCriticalSection(&monitor->lock); }
void PlatMonitorWait(PlatMonitor* monitor) { SleepConditionVariableCS(&monitor->wakeUp, &monitor->lock, INFINITE); }
void PlatMonitorWakeAll(PlatMonitor* monitor) { WakeAllConditionVariable(&monitor->wakeUp); }

// ---- The system calls --------------------------------------------------------

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// What a file or folder that exists could not be opened for.
bool OutOfResources(DWORD error)
{
    return error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ||
           error == ERROR_NO_SYSTEM_RESOURCES;
}

// Only files on disk are opened: a pipe, a console or a device would block
// the request or never end, and is refused like a missing file.
intptr_t SystemOpen(const char* path, PlatOpenMode mode)
{
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if (mode == PlatWriteTruncate) {
        access = GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
    } else if (mode == PlatAppend) {
        // Every write goes to the end that PlatWrite finds under the append
        // lock, and a failed one is cut off again: that takes write access,
        // and read access for the lock.
        access = GENERIC_READ | GENERIC_WRITE;
        disposition = OPEN_ALWAYS;
    }
    // Others may go on reading, writing, renaming or deleting the file, as
    // on POSIX.
    HANDLE handle = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return OutOfResources(GetLastError()) ? PlatNoResources : PlatNoFile;
    BY_HANDLE_FILE_INFORMATION info;
    bool regular = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
                   !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!regular) {
        CloseHandle(handle);
        return PlatNoFile;
    }
    return reinterpret_cast<intptr_t>(handle);
}

long SystemRead(intptr_t handle, void* target, long count)
{
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle), target, static_cast<DWORD>(count), &got, nullptr)) return -1;
    return static_cast<long>(got);
}

long SystemWrite(intptr_t handle, const void* source, long count)
{
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle), source, static_cast<DWORD>(count), &written, nullptr)) return -1;
    return static_cast<long>(written);
}

int64_t SystemSize(intptr_t handle)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(AsHandle(handle), &size)) return -1;
    return static_cast<int64_t>(size.QuadPart);
}

int SystemSeek(intptr_t handle, int64_t offset)
{
    LARGE_INTEGER position;
    position.QuadPart = offset;
    return SetFilePointerEx(AsHandle(handle), position, nullptr, FILE_BEGIN) != 0 ? 1 : 0;
}

void SystemClose(intptr_t handle) { CloseHandle(AsHandle(handle)); }

void SystemCutOff(intptr_t handle, int64_t length)
{
    if (SystemSeek(handle, length)) SetEndOfFile(AsHandle(handle));
}

// Not every system makes an append-only write atomic: the writers take turns
// on a lock of one byte far past any log's end.
OVERLAPPED AppendLockRegion()
{
    OVERLAPPED region{};
    region.Offset = MAXDWORD;
    region.OffsetHigh = 0x7FFFFFFF;
    return region;
}

int SystemLockAppends(intptr_t handle)
{
    OVERLAPPED region = AppendLockRegion();
    return LockFileEx(AsHandle(handle), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &region) != 0 ? 1 : 0;
}

void SystemUnlockAppends(intptr_t handle)
{
    OVERLAPPED region = AppendLockRegion();
    UnlockFileEx(AsHandle(handle), 0, 1, 0, &region);
}

PlatFailure SystemListFolder(const char* path, PlatFolderListing* listing);

}  // namespace

const PlatFileCalls& platform_common::SystemFileCalls()
{
    static const PlatFileCalls calls = {SystemOpen,   SystemRead,        SystemWrite,         SystemSize,
                                        SystemSeek,   SystemClose,       SystemCutOff,        SystemLockAppends,
                                        SystemUnlockAppends, SystemListFolder};
    return calls;
}

// Windows sets no small limit on the handles a process may hold.
int PlatDescriptorsAvailable() { return 1 << 16; }

intptr_t PlatStandardOutputHandle() { return reinterpret_cast<intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE)); }

// ---- Folder enumeration ------------------------------------------------------

namespace {

// What a folder is, whichever name or link reached it.
struct FolderIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    bool known;
};

// Follows links: the information is that of the final target.
bool Inspect(const std::string& path, BY_HANDLE_FILE_INFORMATION& info)
{
    HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool done = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    return done;
}

FolderIdentity Identify(const BY_HANDLE_FILE_INFORMATION& info)
{
    return FolderIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, true};
}

}  // namespace

struct PlatFolderListing {
    FolderIdentity identity;
    std::vector<WIN32_FIND_DATAA> entries;
};

struct PlatFolder {
    std::string path;  // ends in a backslash
    PlatFolderListing listing;
    size_t next;
};

namespace {

// Folders open right now, outermost first: the walk's current path.
std::vector<PlatFolder*> openFolders;

bool OnCurrentPath(const FolderIdentity& identity)
{
    for (const PlatFolder* open : openFolders) {
        const FolderIdentity& other = open->listing.identity;
        if (other.known && other.volume == identity.volume && other.indexHigh == identity.indexHigh &&
            other.indexLow == identity.indexLow)
            return true;
    }
    return false;
}

// Local DOS date and time, clamped to 1980 to 2107 as on every system (the
// range is checked here: not every FileTimeToDosDateTime refuses a later year).
uint32_t LocalDosTime(const FILETIME& written)
{
    FILETIME local;
    if (!FileTimeToLocalFileTime(&written, &local)) local = written;
    SYSTEMTIME calendar;
    if (!FileTimeToSystemTime(&local, &calendar)) return PlatDosDateTime(9999, 12, 31, 23, 59, 58);
    WORD date = 0, time = 0;
    if (calendar.wYear >= 1980 && calendar.wYear <= 2107 && FileTimeToDosDateTime(&local, &date, &time))
        return static_cast<uint32_t>(date) << 16 | time;
    return PlatDosDateTime(calendar.wYear, calendar.wMonth, calendar.wDay, calendar.wHour, calendar.wMinute,
                           calendar.wSecond);
}

bool FillEntry(PlatFolder* folder, const WIN32_FIND_DATAA& found, PlatFolderEntry* entry)
{
    DWORD attributes = found.dwFileAttributes;
    uint64_t size = static_cast<uint64_t>(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
    FILETIME written = found.ftLastWriteTime;
    bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // A link counts as what it leads to; one that leads nowhere, and a
        // folder already open on the walk's path (a link cycle), are passed over.
        BY_HANDLE_FILE_INFORMATION target;
        if (!Inspect(folder->path + found.cFileName, target)) return false;
        isFolder = (target.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isFolder && OnCurrentPath(Identify(target))) return false;
        size = static_cast<uint64_t>(target.nFileSizeHigh) << 32 | target.nFileSizeLow;
        written = target.ftLastWriteTime;
        attributes = target.dwFileAttributes;
    }
    if (attributes & FILE_ATTRIBUTE_DEVICE) return false;  // neither a file nor a folder
    strcpy(entry->name, found.cFileName);
    // The system's own hidden mark, and a leading dot as on POSIX, so that a
    // site moved between systems hides the same entries.
    bool hidden = (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) || found.cFileName[0] == '.';
    entry->attributes = (isFolder ? PlatAttributeFolder : 0u) | (hidden ? PlatAttributeHidden : 0u);
    entry->size = static_cast<int32_t>(static_cast<uint32_t>(size));
    entry->modified = LocalDosTime(written);
    entry->detailed = true;
    return true;
}

bool Listed(const WIN32_FIND_DATAA& found)
{
    const char* name = found.cFileName;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
    // A '?' stands for a character the code page cannot write: such a name
    // cannot be opened again.
    return strlen(name) < sizeof(PlatFolderEntry{}.name) && !strchr(name, '?');
}

bool NameOrder(const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b)
{
    return platform_common::NameBefore(a.cFileName, b.cFileName);
}

}  // namespace

namespace {

// The names are read at once, so no search handle stays open during a walk.
PlatFailure SystemListFolder(const char* path, PlatFolderListing* listing)
{
    const std::string folderPath = path;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folderPath + "*.*").c_str(), &found);
    // An empty root folder has not even "." to list.
    if (search == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND)
        return OutOfResources(GetLastError()) ? PlatFailureResources : PlatFailureMissing;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (Listed(found)) listing->entries.push_back(found);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    // The folder itself, without the final backslash unless it is a root.
    std::string itself = folderPath;
    if (itself.size() > 1 && itself[itself.size() - 2] != ':' && itself[itself.size() - 2] != '\\') itself.pop_back();
    BY_HANDLE_FILE_INFORMATION info;
    if (Inspect(itself, info)) listing->identity = Identify(info);
    return PlatFailureNone;
}

}  // namespace

PlatFolder* PlatFolderOpen(const char* path, PlatFailure* failure)
{
    std::string folderPath = path;
    if (!folderPath.empty() && folderPath.back() != '\\' && folderPath.back() != '/') folderPath += '\\';
    PlatFolder* folder = new PlatFolder{folderPath, PlatFolderListing{FolderIdentity{0, 0, 0, false}, {}}, 0};
    const PlatFailure listed = PlatFileCallsInUse()->listFolder(folderPath.c_str(), &folder->listing);
    if (failure) *failure = listed;
    if (listed != PlatFailureNone) {
        delete folder;
        return nullptr;
    }
    std::sort(folder->listing.entries.begin(), folder->listing.entries.end(), NameOrder);
    openFolders.push_back(folder);
    return folder;
}

int PlatFolderNext(PlatFolder* folder, PlatFolderEntry* entry)
{
    while (folder->next < folder->listing.entries.size()) {
        const WIN32_FIND_DATAA& found = folder->listing.entries[folder->next++];
        if (FillEntry(folder, found, entry)) return 1;
    }
    return 0;
}

// The listing told every detail already.
int PlatFolderEntryDetails(PlatFolder*, PlatFolderEntry* entry) { return entry->detailed ? 1 : 0; }

void PlatFolderClose(PlatFolder* folder)
{
    if (!folder) return;
    openFolders.erase(std::remove(openFolders.begin(), openFolders.end(), folder), openFolders.end());
    delete folder;
}
