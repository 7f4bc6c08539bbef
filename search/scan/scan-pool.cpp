// filesrch: the scanning threads of a search run: a bounded queue in walk
// order, guarded by one monitor (a lock with a condition variable), whose
// jobs threads claim in order and the walking thread files in order.
#include "scan-pool.h"

#include <cstring>

#include "corv-core.h"
#include "corv-str.h"
#include "platform.h"
#include "visible-text.h"

namespace {

const char* const PoolModule = "filesrch";
// Documents queued ahead of filing, per thread: enough to keep every thread
// busy while a slow document holds up the filing.
constexpr int QueuedPerThread = 32;

}  // namespace

struct ScanJob {
    char path[PathCapacity];
    int32_t size;
    uint32_t modified;
    bool scanned;  // written and read with the monitor held
    bool opened;
    ScannedDocument document;
};

namespace {

ScanJob& Job(ScanPool& pool, int64_t number) { return pool.jobs[number % pool.capacity]; }

// Scans one claimed job; the monitor is not held meanwhile.
void ScanJobAlone(ScanPool& pool, ScanContext* context, ScanJob& job)
{
    job.opened = ScanDocument(context, job.path, &job.document);
    PlatMonitorEnter(pool.monitor);
    job.scanned = true;
    PlatMonitorWakeAll(pool.monitor);
}

// With the monitor held: claims the next queued job and scans it.
void ClaimAndScan(ScanPool& pool, ScanContext* context)
{
    ScanJob& job = Job(pool, pool.claimed++);
    PlatMonitorLeave(pool.monitor);
    ScanJobAlone(pool, context, job);
}

void RunScanThread(void* workerArgument)
{
    const ScanWorker& worker = *static_cast<const ScanWorker*>(workerArgument);
    ScanPool& pool = *worker.pool;
    PlatMonitorEnter(pool.monitor);
    for (;;) {
        if (pool.claimed < pool.queued) {
            ClaimAndScan(pool, worker.context);
            continue;
        }
        if (pool.walkEnded) break;
        PlatMonitorWait(pool.monitor);
    }
    PlatMonitorLeave(pool.monitor);
}

void File(const ScanPool& pool, const char* path, int32_t size, uint32_t modified, bool opened,
          const ScannedDocument& document)
{
    if (opened) pool.sink.file(pool.sink.sink, path, size, modified, document);
    else if (document.unreadable) pool.sink.unreadable(pool.sink.sink);
}

void File(const ScanPool& pool, const ScanJob& job)
{
    File(pool, job.path, job.size, job.modified, job.opened, job.document);
}

// Each scanning context holds one document open at a time, and the walk
// one folder while it lists it (when it scans, it lists none).
int ThreadsWithinDescriptors(int threadCount)
{
    const int available = PlatDescriptorsAvailable();
    return threadCount < available - 1 ? threadCount : available - 1;
}

// With the monitor held: files every scanned job that is next in walk order.
void FileInWalkOrder(ScanPool& pool)
{
    while (pool.filed < pool.queued && Job(pool, pool.filed).scanned) File(pool, Job(pool, pool.filed++));
}

// With the monitor held: files what it can (and returns, for the caller to
// look again), else scans a queued job itself, else waits for another thread.
void HelpOrWait(ScanPool& pool)
{
    const int64_t filedBefore = pool.filed;
    FileInWalkOrder(pool);
    if (pool.filed != filedBefore) return;
    if (pool.claimed < pool.queued) {
        ClaimAndScan(pool, &pool.contexts[0]);
        return;
    }
    PlatMonitorWait(pool.monitor);
}

// Text-only, a context reads the document into a block of its own and turns
// it into text in the scan block, which holds the text of a whole block as
// read and the reader's room beyond it; under folding, the document is read
// into a block of its own too, and folded in a room of its own.
bool ReadsApart(const SearchPlan& plan) { return plan.textOnly || plan.folding != CaseFoldAscii; }

void AllocateContexts(ScanPool& pool, int count)
{
    const SearchPlan& plan = *pool.plan;
    pool.contexts = MemAllocArray<ScanContext>(count, PoolModule, __LINE__);
    for (int i = 0; i < count; ++i) {
        ScanContext& context = pool.contexts[i];
        context.plan = pool.plan;
        context.blockSize = ScanBufferSize;
        context.block = static_cast<char*>(MemAlloc(ScanBlockBytes(plan, ScanBufferSize), PoolModule, 871));
        if (ReadsApart(plan)) context.raw = static_cast<char*>(MemAlloc(ScanRawBytes(ScanBufferSize), PoolModule, __LINE__));
        if (plan.folding != CaseFoldAscii)
            context.folded = static_cast<char*>(MemAlloc(ScanFoldRoom(ScanBufferSize), PoolModule, __LINE__));
    }
}

void ReleaseContexts(ScanPool& pool, int count)
{
    for (int i = 0; i < count; ++i) {
        ScanContext& context = pool.contexts[i];
        if (context.raw) MemFree(&context.raw, ScanRawBytes(ScanBufferSize), PoolModule, __LINE__);
        if (context.folded) MemFree(&context.folded, ScanFoldRoom(ScanBufferSize), PoolModule, __LINE__);
        MemFree(&context.block, ScanBlockBytes(*pool.plan, ScanBufferSize), PoolModule, 939);
    }
    MemFree(&pool.contexts, count * static_cast<int32_t>(sizeof(ScanContext)), PoolModule, __LINE__);
}

}  // namespace

void StartScanning(ScanPool* pool, int threadCount, const SearchPlan* plan, const DocumentSink& sink)
{
    CORV_CHECK_POINTER(PoolModule, pool);
    CORV_CHECK_POINTER(PoolModule, plan);
    *pool = ScanPool{};
    pool->plan = plan;
    pool->sink = sink;
    pool->threadCount = threadCount <= 1 ? 0 : ThreadsWithinDescriptors(threadCount > ThreadLimit ? ThreadLimit : threadCount);
    if (pool->threadCount < 1) pool->threadCount = 0;
    AllocateContexts(*pool, pool->threadCount + 1);
    if (pool->threadCount == 0) return;
    pool->capacity = QueuedPerThread * pool->threadCount;
    pool->jobs = MemAllocArray<ScanJob>(pool->capacity, PoolModule, __LINE__);
    pool->monitor = PlatMonitorCreate();
    // A thread that cannot be started leaves its share to the others.
    for (int i = 0; i < pool->threadCount; ++i) {
        pool->workers[i] = ScanWorker{pool, &pool->contexts[i + 1]};
        pool->threads[i] = PlatThreadStart(RunScanThread, &pool->workers[i]);
    }
}

void ScanInWalkOrder(ScanPool* pool, const char* path, int32_t size, uint32_t modified)
{
    if (pool->threadCount == 0) {
        ScannedDocument document;
        const bool opened = ScanDocument(&pool->contexts[0], path, &document);
        File(*pool, path, size, modified, opened, document);
        return;
    }
    PlatMonitorEnter(pool->monitor);
    while (pool->queued - pool->filed == pool->capacity) HelpOrWait(*pool);
    ScanJob& job = Job(*pool, pool->queued);
    StrCopy(job.path, path);
    job.size = size;
    job.modified = modified;
    job.scanned = false;
    ++pool->queued;
    PlatMonitorWakeAll(pool->monitor);
    FileInWalkOrder(*pool);
    PlatMonitorLeave(pool->monitor);
}

void FinishScanning(ScanPool* pool)
{
    if (pool->threadCount > 0) {
        PlatMonitorEnter(pool->monitor);
        pool->walkEnded = true;
        PlatMonitorWakeAll(pool->monitor);
        while (pool->filed < pool->queued) HelpOrWait(*pool);
        PlatMonitorLeave(pool->monitor);
        for (int i = 0; i < pool->threadCount; ++i) PlatThreadJoin(pool->threads[i]);
        PlatMonitorDestroy(pool->monitor);
        MemFree(&pool->jobs, pool->capacity * static_cast<int32_t>(sizeof(ScanJob)), PoolModule, __LINE__);
    }
    ReleaseContexts(*pool, pool->threadCount + 1);
    *pool = ScanPool{};
}
