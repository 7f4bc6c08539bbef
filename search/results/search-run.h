// One search from compiled words to the credit line: the plan, the walk and
// its scanning threads, the ranked list, and the results page.
#pragma once

#include <cstdint>

#include "run-settings.h"
#include "srchparm.h"

int RunSearch(const SearchRequest* request, const char* baseUrl, const char* searchPath,
              const char* fileSpecs, const char* excludePaths, const char* skipListPath,
              const SearchSettings& settings);
