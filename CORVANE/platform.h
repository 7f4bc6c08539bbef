// platform: the whole operating-system boundary of Trawlex.
//
// Everything above this header speaks in internal paths with backslashes
// ("\srv\site\cgi-bin\"); the implementation turns them into the system's
// own form at the moment it calls the operating system. No other file of the
// program includes an operating-system header.
#pragma once

#include <cstdint>

// ---- Process ---------------------------------------------------------------

// Builds the process command line from main's arguments: argument 0 is the
// program's absolute path (quoted when it holds a blank), then the others.
void PlatInitCommandLine(int argc, char** argv);
// Replaces the command line text (used by start-up and by tests).
void PlatSetCommandLine(const char* text);
const char* PlatCommandLine();

// Standard input and output carry raw bytes.
void PlatInitStandardStreams();

// The fatal report for an operator: "Internal error..." and the text.
void PlatShowFatalReport(const char* text);

// Console debug output (a window on some systems, standard error here).
void PlatConsoleOpen(const char* title);
void PlatConsoleWrite(const char* text, int length);

// ---- Lock, clock, pause ----------------------------------------------------

// One recursive lock local to the process.
void PlatLockCreate();
void PlatLockEnter();
void PlatLockLeave();
void PlatLockClose();

// Milliseconds of a monotonic clock, wrapping at 2^32.
uint32_t PlatTickCount();
void PlatSleepMilliseconds(int milliseconds);

struct PlatLocalTime {
    int year;    // four digits
    int month;   // 1 to 12
    int day;     // 1 to 31
    int hour;    // 0 to 23
    int minute;  // 0 to 59
};
void PlatGetLocalTime(PlatLocalTime* now);

// ---- Threads ---------------------------------------------------------------

// How many processors this process may run on (at least 1).
int PlatProcessorCount();
// How many of them nothing else is running on right now, as far as the
// system tells (all of them where it does not).
int PlatIdleProcessorCount();

struct PlatThread;
// Runs run(argument) on a thread of its own; nullptr when none can be started.
PlatThread* PlatThreadStart(void (*run)(void* argument), void* argument);
// Waits for the thread's end and releases it.
void PlatThreadJoin(PlatThread* thread);

// A lock that threads can wait on until another one wakes them.
struct PlatMonitor;
PlatMonitor* PlatMonitorCreate();
void PlatMonitorDestroy(PlatMonitor* monitor);
void PlatMonitorEnter(PlatMonitor* monitor);
void PlatMonitorLeave(PlatMonitor* monitor);
// Leaves the lock, waits to be woken, and enters it again; may also return
// without a wake-up, so callers wait in a loop on their condition.
void PlatMonitorWait(PlatMonitor* monitor);
void PlatMonitorWakeAll(PlatMonitor* monitor);

// ---- Files -----------------------------------------------------------------

struct PlatFile;

enum PlatOpenMode {
    PlatReadRaw,       // bytes as stored
    PlatReadText,      // carriage returns dropped, a byte 0x1A ends the text
    PlatWriteTruncate, // created or emptied
    PlatAppend         // created when missing; every write goes to the end
};

// Why a file or a folder could not be opened or listed.
enum PlatFailure : int32_t {
    PlatFailureNone = 0,
    PlatFailureMissing = 1,   // gone, refused by permission, or not a regular file or a folder
    PlatFailureResources = 2  // no descriptor or memory left: it exists, but cannot be read now
};

// Opens regular files only: a folder, FIFO, socket or device is refused like
// a missing file, so that nothing a site holds can block or flood a request.
// On failure, *failure (when given) tells why.
PlatFile* PlatOpen(const char* path, PlatOpenMode mode, PlatFailure* failure = nullptr);
void PlatClose(PlatFile* file);
// Size in bytes as stored, or -1 when it cannot be told.
int64_t PlatFileSize(PlatFile* file);
// Reads up to count bytes; fewer only at the end of the (translated) text, or
// where a read failed: the file then ends there, and PlatReadFailed tells.
int PlatRead(PlatFile* file, void* target, int count);
int PlatReadFailed(PlatFile* file);
// Next byte (0 to 255), or -1 at the end.
int PlatReadByte(PlatFile* file);
// Where in the stored file the next read begins (before any text-mode
// translation), and a move there; 0 when the system refuses the move.
int64_t PlatReadOffset(PlatFile* file);
int PlatSeek(PlatFile* file, int64_t offset);
// Writes all bytes; 1 on success. An append is whole or not at all: a write
// that fails or comes up short is cut off again, so a full disk never leaves
// half a line for the next one to be glued onto.
int PlatWrite(PlatFile* file, const void* source, int count);

// Closes a file when it leaves scope.
class PlatFileGuard {
public:
    explicit PlatFileGuard(PlatFile* file) : file_(file) {}
    ~PlatFileGuard() { if (file_) PlatClose(file_); }
    PlatFileGuard(const PlatFileGuard&) = delete;
    PlatFileGuard& operator=(const PlatFileGuard&) = delete;
    PlatFile* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }
private:
    PlatFile* file_;
};

// ---- Standard output ---------------------------------------------------------

// The page goes out through one buffer. Once a write has failed (the visitor
// has gone), the rest of the page is dropped and the run ends as usual.
void PlatOutputWrite(const void* bytes, int count);
void PlatOutputFlush();

// ---- Folder enumeration ------------------------------------------------------

enum : uint32_t {
    PlatAttributeHidden = 0x02,
    PlatAttributeFolder = 0x10
};

struct PlatFolderEntry {
    char name[256];
    uint32_t attributes;
    int32_t size;       // low 32 bits of the size
    uint32_t modified;  // DOS date (high 16 bits) and time (low 16 bits), local
    bool detailed;      // size and modified are known
};

struct PlatFolder;

// Entries come in a fixed order (names compared byte by byte with ASCII
// letters upper-cased), so that results do not depend on the file system.
// Folders already open on the current walk (link cycles), entries that are
// neither files nor folders, and names that cannot be written in an internal
// path are passed over. A folder's names are read when it is opened, so that
// an open folder holds no descriptor. On failure, *failure (when given)
// tells why.
PlatFolder* PlatFolderOpen(const char* path, PlatFailure* failure = nullptr);
int PlatFolderNext(PlatFolder* folder, PlatFolderEntry* entry);
// A file's size and modified time may come only when asked for, so that the
// files a walk passes over cost no more than their names. 0 when the file is
// gone or is no longer a regular file.
int PlatFolderEntryDetails(PlatFolder* folder, PlatFolderEntry* entry);
void PlatFolderClose(PlatFolder* folder);

class PlatFolderGuard {
public:
    explicit PlatFolderGuard(PlatFolder* folder) : folder_(folder) {}
    ~PlatFolderGuard() { if (folder_) PlatFolderClose(folder_); }
    PlatFolderGuard(const PlatFolderGuard&) = delete;
    PlatFolderGuard& operator=(const PlatFolderGuard&) = delete;
    PlatFolder* get() const { return folder_; }
    explicit operator bool() const { return folder_ != nullptr; }
private:
    PlatFolder* folder_;
};

// DOS date and time of a calendar time, clamped to 1980-01-01 00:00:00 and
// 2107-12-31 23:59:58.
uint32_t PlatDosDateTime(int year, int month, int day, int hour, int minute, int second);

// How many more files this process may hold open at once, as far as the
// system tells (a large number where it sets no small limit).
int PlatDescriptorsAvailable();

// ---- Test seam ---------------------------------------------------------------

// What a folder's listing holds: each system's own record.
struct PlatFolderListing;

// The system calls behind the files, the folders and standard output,
// replaceable by tests, so that any of them can fail or come up short (the
// n-th read or write, a move, the append lock, a listing). Handles are the
// system's own, as integers.
enum : intptr_t {
    PlatNoFile = -1,        // open: missing, refused, or not a regular file
    PlatNoResources = -2    // open: no descriptor or memory left
};
struct PlatFileCalls {
    intptr_t (*open)(const char* path, PlatOpenMode mode);           // a handle, PlatNoFile or PlatNoResources
    long (*read)(intptr_t handle, void* target, long count);         // 0 at the end, -1 on failure
    long (*write)(intptr_t handle, const void* source, long count);  // may be short, -1 on failure
    int64_t (*size)(intptr_t handle);                                // -1 when it cannot be told
    int (*seek)(intptr_t handle, int64_t offset);                    // 0 when refused
    void (*close)(intptr_t handle);
    void (*cutOff)(intptr_t handle, int64_t length);                 // back to that length
    int (*lockAppends)(intptr_t handle);                             // 0 when the lock cannot be taken
    void (*unlockAppends)(intptr_t handle);
    PlatFailure (*listFolder)(const char* path, PlatFolderListing* listing);  // every name in it
};
const PlatFileCalls* PlatFileCallsInUse();
// nullptr gives the system's own calls back.
void PlatUseFileCalls(const PlatFileCalls* calls);
