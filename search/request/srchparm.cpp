// srchparm: search parameters and paging query strings.
#include "srchparm.h"

#include <cstdio>
#include <cstring>

#include "cgi.h"
#include "corv-core.h"
#include "corv-str.h"

namespace {

constexpr int PairCapacity = 320;

// Cut to the field, never past it.
void CopyCut(char* field, int capacity, const char* value)
{
    size_t length = strnlen(value, static_cast<size_t>(capacity - 1));
    memcpy(field, value, length);
    field[length] = '\0';
}

void ApplyParameter(SearchRequest* request, const char* name, const char* value)
{
    if (StrEqualNoCase(name, "Look"))
        CopyCut(request->look, ShortTextCapacity, value);
    else if (StrEqualNoCase(name, "Submit"))
        CopyCut(request->submit, ShortTextCapacity, value);
    else if (StrEqualNoCase(name, "SortBy"))
        CopyCut(request->sortBy, ShortTextCapacity, value);
    else if (StrEqualNoCase(name, "Search"))
        CopyCut(request->search, SearchTextCapacity, value);
    else if (StrEqualNoCase(name, "Count"))
        request->count = CgiParseNumber(value);
    else if (StrEqualNoCase(name, "StartAt"))
        request->startAt = CgiParseNumber(value);
}

struct QueryWriter {
    char* text;
    int used;
};

void Append(QueryWriter* writer, const char* piece)
{
    int length = static_cast<int>(strlen(piece));
    if (writer->used + length >= PagingQueryCapacity) return;  // cannot happen: sized for the longest
    memcpy(writer->text + writer->used, piece, static_cast<size_t>(length) + 1);
    writer->used += length;
}

int AppendNumberParameter(QueryWriter* writer, const char* name, int32_t defaultValue, int32_t value)
{
    if (value == defaultValue) return 0;
    char pair[64];
    snprintf(pair, sizeof pair, "%s=%d&", name, value);
    Append(writer, pair);
    return 1;
}

int AppendTextParameter(QueryWriter* writer, const char* name, const char* defaultValue, const char* value)
{
    if (StrEqualNoCase(value, defaultValue)) return 0;
    char encoded[3 * SearchTextCapacity + 1];
    CgiUrlEncode(value, encoded);
    Append(writer, name);
    Append(writer, "=");
    Append(writer, encoded);
    Append(writer, "&");
    return 1;
}

}  // namespace

int ResetSearchRequest(SearchRequest* request)
{
    memset(request, 0, sizeof *request);
    request->count = DefaultResultCount;
    return 1;
}

int DecodeSearchRequest(SearchRequest* request, const char* text)
{
    char pair[PairCapacity], name[PairCapacity], value[PairCapacity];
    int consumed = 0;
    for (int number = 0; CgiNextField(pair, PairCapacity, '&', text, &consumed); ++number) {
        text += consumed;
        if (!CgiSplitPair(name, value, PairCapacity, '=', pair)) continue;
        CgiUrlDecode(name, name);
        CgiUrlDecode(value, value);
        DebugPrint("%3d [%s = %s]\n", number, name, value);
        ApplyParameter(request, name, value);
    }
    return NormalizeSearchRequest(request);
}

int NormalizeSearchRequest(SearchRequest* request)
{
    if (request->count <= 1) request->count = 1;
    if (request->count >= MaximumResultCount) request->count = MaximumResultCount;
    if (request->startAt <= 0) request->startAt = 0;
    if (request->startAt >= MaximumStartAt) request->startAt = MaximumStartAt;
    if (StrEqualNoCase(request->look, "Default")) request->look[0] = '\0';
    if (StrEqualNoCase(request->sortBy, "Percent")) request->sortBy[0] = '\0';
    return 1;
}

int BuildPagingQuery(const SearchRequest* request, char* target)
{
    SearchRequest defaults;
    ResetSearchRequest(&defaults);
    target[0] = '\0';
    QueryWriter writer{target, 0};
    AppendNumberParameter(&writer, "Count", defaults.count, request->count);
    AppendTextParameter(&writer, "Look", defaults.look, request->look);
    AppendTextParameter(&writer, "SortBy", defaults.sortBy, request->sortBy);
    AppendTextParameter(&writer, "Search", defaults.search, request->search);
    AppendNumberParameter(&writer, "StartAt", defaults.startAt, request->startAt);
    if (writer.used > 0) target[--writer.used] = '\0';
    return 1;
}
