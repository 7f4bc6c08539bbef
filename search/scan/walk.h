// The depth-first walk of the search path and its file filter. The walk runs
// on the request's own thread; walkPath and walkDepth are that thread's.
#pragma once

#include <cstdint>

#include "corv-str.h"

enum : int {
    WalkHidden = 1,
    WalkTopFiles = 2,
    WalkSubfolders = 4
};

extern char walkPath[PathCapacity];
extern int32_t walkDepth;

// What the walk hands every searchable file to, and tells of every folder
// that exists but cannot be listed for lack of descriptors or memory.
struct WalkVisitor {
    void (*onFile)(void* visitor, const char* folderPath, const char* fileName, int32_t size, uint32_t modified);
    void (*onUnlistable)(void* visitor);
    void* visitor;
};

int WalkFolder(const char* folderPath, int options, const WalkVisitor& visitor);
// Whether the file filter lets a file through: its extension is configured
// and its folder is neither excluded nor the cgi-bin folder below the search
// path (read from the run settings).
bool IsSearchableFile(const char* folderPath, const char* fileName);
