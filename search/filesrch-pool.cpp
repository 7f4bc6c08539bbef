// filesrch: the scanning threads of a search run. The walk queues each
// document that passed the filter; threads scan the queue in any order, and
// the walking thread files the scanned documents strictly in walk order, so
// that every page, counter and tie is the same with any number of threads.
// The walking thread scans too whenever the queue is full or the walk done.
#include <atomic>
#include <cstring>

#include "corv-core.h"
#include "corv-str.h"
#include "filesrch.h"
#include "platform.h"

namespace {

const char* const PoolModule = "filesrch";
// Documents queued ahead of filing, per thread: enough to keep every thread
// busy while a slow document holds up the filing.
constexpr int QueuedPerThread = 32;

struct ScanJob {
    char path[PathCapacity];
    int32_t size;
    uint32_t modified;
    bool scanned;  // written and read with the monitor held
    bool opened;
    ScannedDocument document;
};

// Jobs form a ring: job n sits at n % capacity, and the counters only grow.
struct ScanPool {
    int threadCount;        // threads that scan besides the walking thread, or 0
    ScanContext* contexts;  // the walking thread's first, then one per thread
    PlatThread* threads[ThreadLimit];
    PlatMonitor* monitor;
    ScanJob* jobs;
    int capacity;
    int64_t queued, claimed, filed;
    bool walkEnded;
};
ScanPool pool;

ScanJob& Job(int64_t number) { return pool.jobs[number % pool.capacity]; }

// Scans one claimed job; the monitor is not held meanwhile.
void ScanJobAlone(ScanContext* context, ScanJob& job)
{
    job.opened = ScanDocument(context, job.path, &job.document);
    PlatMonitorEnter(pool.monitor);
    job.scanned = true;
    PlatMonitorWakeAll(pool.monitor);
}

// With the monitor held: claims the next queued job and scans it.
void ClaimAndScan(ScanContext* context)
{
    ScanJob& job = Job(pool.claimed++);
    PlatMonitorLeave(pool.monitor);
    ScanJobAlone(context, job);
}

void RunScanThread(void* contextArgument)
{
    ScanContext* context = static_cast<ScanContext*>(contextArgument);
    PlatMonitorEnter(pool.monitor);
    for (;;) {
        if (pool.claimed < pool.queued) {
            ClaimAndScan(context);
            continue;
        }
        if (pool.walkEnded) break;
        PlatMonitorWait(pool.monitor);
    }
    PlatMonitorLeave(pool.monitor);
}

// With the monitor held: files every scanned job that is next in walk order.
void FileInWalkOrder()
{
    while (pool.filed < pool.queued && Job(pool.filed).scanned) {
        ScanJob& job = Job(pool.filed++);
        if (job.opened) FileScannedDocument(job.path, job.size, job.modified, job.document);
    }
}

// With the monitor held: files what it can (and returns, for the caller to
// look again), else scans a queued job itself, else waits for another thread.
void HelpOrWait()
{
    const int64_t filedBefore = pool.filed;
    FileInWalkOrder();
    if (pool.filed != filedBefore) return;
    if (pool.claimed < pool.queued) {
        ClaimAndScan(&pool.contexts[0]);
        return;
    }
    PlatMonitorWait(pool.monitor);
}

// Text-only, a context reads the document into a block of its own and turns
// it into text in the scan block, which holds the text of a whole block as
// read and the reader's room beyond it.
int32_t BlockBytes(bool textOnly) { return ScanBufferSize + (textOnly ? VisibleTextSlack : 0); }

void AllocateContexts(int count, bool textOnly)
{
    pool.contexts = MemAllocArray<ScanContext>(count, PoolModule, __LINE__);
    for (int i = 0; i < count; ++i) {
        ScanContext& context = pool.contexts[i];
        context.blockSize = ScanBufferSize;
        context.block = static_cast<char*>(MemAlloc(BlockBytes(textOnly), PoolModule, 871));
        context.textOnly = textOnly;
        if (textOnly) context.raw = static_cast<char*>(MemAlloc(ScanBufferSize, PoolModule, __LINE__));
    }
}

void ReleaseContexts(int count)
{
    for (int i = 0; i < count; ++i) {
        ScanContext& context = pool.contexts[i];
        if (context.raw) MemFree(&context.raw, ScanBufferSize, PoolModule, __LINE__);
        MemFree(&context.block, BlockBytes(context.textOnly), PoolModule, 939);
    }
    MemFree(&pool.contexts, count * static_cast<int32_t>(sizeof(ScanContext)), PoolModule, __LINE__);
}

}  // namespace

void StartScanning(int threadCount, bool textOnly)
{
    pool = ScanPool{};
    pool.threadCount = threadCount <= 1 ? 0 : threadCount > ThreadLimit ? ThreadLimit : threadCount;
    AllocateContexts(pool.threadCount + 1, textOnly);
    if (textOnly) PrepareTextFilter();
    if (pool.threadCount == 0) return;
    pool.capacity = QueuedPerThread * pool.threadCount;
    pool.jobs = MemAllocArray<ScanJob>(pool.capacity, PoolModule, __LINE__);
    pool.monitor = PlatMonitorCreate();
    // A thread that cannot be started leaves its share to the others.
    for (int i = 0; i < pool.threadCount; ++i) pool.threads[i] = PlatThreadStart(RunScanThread, &pool.contexts[i + 1]);
}

void ScanInWalkOrder(const char* path, int32_t size, uint32_t modified)
{
    if (pool.threadCount == 0) {
        ScannedDocument document;
        if (ScanDocument(&pool.contexts[0], path, &document)) FileScannedDocument(path, size, modified, document);
        return;
    }
    PlatMonitorEnter(pool.monitor);
    while (pool.queued - pool.filed == pool.capacity) HelpOrWait();
    ScanJob& job = Job(pool.queued);
    StrCopy(job.path, path);
    job.size = size;
    job.modified = modified;
    job.scanned = false;
    ++pool.queued;
    PlatMonitorWakeAll(pool.monitor);
    FileInWalkOrder();
    PlatMonitorLeave(pool.monitor);
}

void FinishScanning()
{
    if (pool.threadCount > 0) {
        PlatMonitorEnter(pool.monitor);
        pool.walkEnded = true;
        PlatMonitorWakeAll(pool.monitor);
        while (pool.filed < pool.queued) HelpOrWait();
        PlatMonitorLeave(pool.monitor);
        for (int i = 0; i < pool.threadCount; ++i) PlatThreadJoin(pool.threads[i]);
        PlatMonitorDestroy(pool.monitor);
        MemFree(&pool.jobs, pool.capacity * static_cast<int32_t>(sizeof(ScanJob)), PoolModule, __LINE__);
    }
    ReleaseContexts(pool.threadCount + 1);
    ReleaseTextFilter();
    pool = ScanPool{};
}

// ---- Any work on several threads -------------------------------------------------------

namespace {

struct SharedWork {
    int count;
    std::atomic<int> next;
    void (*work)(int index, int worker, void* argument);
    void* argument;
};

struct Worker {
    SharedWork* shared;
    int number;
};

void RunWorker(void* workerArgument)
{
    Worker* worker = static_cast<Worker*>(workerArgument);
    SharedWork* shared = worker->shared;
    for (int index; (index = shared->next++) < shared->count;) shared->work(index, worker->number, shared->argument);
}

}  // namespace

void ForEachOnThreads(int count, int threads, void (*work)(int index, int worker, void* argument), void* argument)
{
    SharedWork shared{count, {0}, work, argument};
    Worker workers[ThreadLimit];
    PlatThread* started[ThreadLimit] = {};
    if (threads > ThreadLimit) threads = ThreadLimit;
    if (threads > count) threads = count;
    for (int i = 0; i < threads; ++i) workers[i] = Worker{&shared, i};
    for (int i = 1; i < threads; ++i) started[i] = PlatThreadStart(RunWorker, &workers[i]);
    RunWorker(&workers[0]);
    for (int i = 1; i < threads; ++i) PlatThreadJoin(started[i]);
}
