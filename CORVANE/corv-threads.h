// corv-threads: work shared out to a few threads.
#pragma once

// The most threads a run uses for one kind of work.
constexpr int ThreadLimit = 16;

// Calls work(index, worker, argument) for every index from 0 to count - 1 on
// up to `threads` threads, the calling one among them; worker tells which
// (0 to threads - 1), so that each can have its own memory.
void ForEachOnThreads(int count, int threads, void (*work)(int index, int worker, void* argument), void* argument);
