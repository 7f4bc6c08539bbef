// srchparm: the search parameters of a request (decoding, limits) and the
// query strings of the paging links.
#pragma once

#include <cstdint>

constexpr int ShortTextCapacity = 80;
constexpr int SearchTextCapacity = 320;
constexpr int DefaultResultCount = 20;
constexpr int MaximumResultCount = 200;
constexpr int32_t MaximumStartAt = 999999999;
// Room for every parameter at its longest with every byte "%"-encoded.
constexpr int PagingQueryCapacity = 2048;

struct SearchRequest {
    int32_t count;
    char look[ShortTextCapacity];
    char submit[ShortTextCapacity];
    char sortBy[ShortTextCapacity];
    char search[SearchTextCapacity];
    int32_t startAt;
};

int ResetSearchRequest(SearchRequest* request);
int DecodeSearchRequest(SearchRequest* request, const char* text);
int NormalizeSearchRequest(SearchRequest* request);
// target holds PagingQueryCapacity bytes.
int BuildPagingQuery(const SearchRequest* request, char* target);
