// The result template, filled once per result of the page.
#pragma once

#include "results.h"
#include "search-plan.h"
#include "search-run.h"

// Writes the results of the requested page; excerpts, when the template asks
// for them, are made on `threads` threads from the plan's words.
int WriteResults(const char* look, const SearchSettings& settings, int threads, const SearchPlan* plan);
int ExpandResultTemplate(const ResultEntry* entry, int position, const char* templateText, char* output,
                         int capacity, int* outputLength);
