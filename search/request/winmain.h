// winmain: the request driver (one CGI request from start to end, or the
// version text) and the site configuration file.
#pragma once

#include <cstdint>

#include "corv-str.h"
#include "search-run.h"
#include "platform.h"

#ifndef TRAWLEX_HOME_PAGE
#define TRAWLEX_HOME_PAGE "https://trawlex.example/"
#endif

struct ProductInfo {
    const char* productName;
    const char* version;
    const char* buildKind;
};
extern const ProductInfo Product;
extern const char* const MakerHomePage;

struct SiteConfig {
    char searchPath[PathCapacity];
    char baseUrl[PathCapacity];
    char skipListPath[PathCapacity];
    char* fileSpecs;     // entries each followed by ","; in tracked memory
    char* excludePaths;  // the same
    int32_t listCapacity;
    SearchSettings settings;
};

constexpr int ConfigLineCapacity = 320;
constexpr int64_t ConfigSizeLimit = 51200;

// The lists point at an empty text until a configuration file allocates them.
void ResetSiteConfig(SiteConfig* config);
int LoadSiteConfig(const char* path, SiteConfig* config);
// The driver's release of the two lists.
void ReleaseSiteConfig(SiteConfig* config);
int ReadConfigLine(PlatFile* file, char* line, int capacity);

// Runs the program for main's arguments; the process's exit status.
int RunProgram(int argc, char** argv);
