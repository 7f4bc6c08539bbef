// The scanning threads of a search run. The walk queues each document that
// passed the filter; threads scan the queue in any order, and the walking
// thread files the scanned documents strictly in walk order, so that every
// page, counter and tie is the same with any number of threads. The walking
// thread scans too whenever the queue is full or the walk done.
#pragma once

#include <cstdint>

#include "corv-threads.h"
#include "document-scan.h"
#include "search-plan.h"

constexpr int DefaultThreadLimit = 4;

// Where every document that could be read goes once scanned, matched or
// not, and where those go that could not be read for lack of descriptors or
// memory or because a read failed: in walk order, on the walking thread.
struct DocumentSink {
    void (*file)(void* sink, const char* path, int32_t size, uint32_t modified, const ScannedDocument& document);
    void (*unreadable)(void* sink);
    void* sink;
};

struct ScanJob;
struct ScanPool;
struct PlatThread;
struct PlatMonitor;

// What a scanning thread is started with.
struct ScanWorker {
    ScanPool* pool;
    ScanContext* context;
};

// The run's scanning threads and their queue: a ring of jobs, job n at
// n % capacity, whose counters only grow. Everything but the plan and the
// contexts is read and written with the monitor (a mutex and its condition
// variable) held.
struct ScanPool {
    const SearchPlan* plan;
    DocumentSink sink;
    int threadCount;        // threads that scan besides the walking thread, or 0
    ScanContext* contexts;  // the walking thread's first, then one per thread
    PlatThread* threads[ThreadLimit];
    ScanWorker workers[ThreadLimit];
    PlatMonitor* monitor;
    ScanJob* jobs;
    int capacity;
    int64_t queued, claimed, filed;
    bool walkEnded;
};

// threadCount threads scan besides the walking thread (1 or less: the
// walking thread scans each document as the walk hands it over), fewer where
// the process may not hold a document open for each of them and one more
// descriptor, which the walk takes to list a folder.
void StartScanning(ScanPool* pool, int threadCount, const SearchPlan* plan, const DocumentSink& sink);
// Scans a document that passed the filter, or queues it for a thread.
void ScanInWalkOrder(ScanPool* pool, const char* path, int32_t size, uint32_t modified);
// Waits for every queued document, files it, and ends the threads and the pool.
void FinishScanning(ScanPool* pool);
