// corv-threads: work shared out to a few threads, each taking the next index
// from one atomic counter.
#include "corv-threads.h"

#include <atomic>

#include "platform.h"

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
