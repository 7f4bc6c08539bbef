// A decoded request, re-encoded as a paging query string and decoded again,
// gives the same record. Two differences are by design: Submit is never
// carried, and the leading blanks of a text value are lost (an encoded blank
// is "+", which the decoder skips right after "="). The property holds only
// while the paging query fits the request limits: every pair shorter than 320
// characters and the whole text shorter than 1024.
#include <cstdint>
#include <cstring>
#include <string>

#include "corv-core.h"
#include "fuzz-support.h"
#include "srchparm.h"

using namespace fuzz_support;

namespace {

constexpr size_t RequestTextLimit = 1023;
constexpr size_t PairLimit = 320;
constexpr size_t QueryLimit = 1024;

bool SameIgnoringAsciiCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
        if (!x) return true;
    }
}

void DropLeadingBlanks(char* text)
{
    size_t blanks = strspn(text, " ");
    memmove(text, text + blanks, strlen(text + blanks) + 1);
}

// What the second decoding should give.
SearchRequest Expected(const SearchRequest& first)
{
    SearchRequest expected = first;
    expected.submit[0] = '\0';
    DropLeadingBlanks(expected.look);
    DropLeadingBlanks(expected.sortBy);
    DropLeadingBlanks(expected.search);
    // Once its blanks are gone a value may read as the default spelling.
    if (SameIgnoringAsciiCase(expected.look, "Default")) expected.look[0] = '\0';
    if (SameIgnoringAsciiCase(expected.sortBy, "Percent")) expected.sortBy[0] = '\0';
    return expected;
}

bool FitsRequestLimits(const char* query)
{
    if (strlen(query) >= QueryLimit) return false;
    for (const char* pair = query; *pair;) {
        size_t length = strcspn(pair, "&");
        if (length >= PairLimit) return false;
        pair += length;
        if (*pair) ++pair;
    }
    return true;
}

void RequireSame(const SearchRequest& got, const SearchRequest& want)
{
    Require(got.count == want.count, "Count survives the round trip");
    Require(got.startAt == want.startAt, "StartAt survives the round trip");
    Require(strcmp(got.look, want.look) == 0, "Look survives the round trip");
    Require(strcmp(got.sortBy, want.sortBy) == 0, "SortBy survives the round trip");
    Require(strcmp(got.search, want.search) == 0, "Search survives the round trip");
    Require(got.submit[0] == '\0', "Submit is never carried");
}

void RequireWithinLimits(const SearchRequest& request)
{
    Require(request.count >= 1 && request.count <= 200, "Count within 1 to 200");
    Require(request.startAt >= 0 && request.startAt <= MaximumStartAt, "StartAt within 0 to 999,999,999");
    Require(strlen(request.look) < ShortTextCapacity && strlen(request.submit) < ShortTextCapacity &&
                strlen(request.sortBy) < ShortTextCapacity && strlen(request.search) < SearchTextCapacity,
            "text fields terminated within their size");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    StartCore("/srv/site/cgi-bin/trawlex.exe");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The driver hands over at most 1023 bytes, cut at a zero byte.
    std::string text(reinterpret_cast<const char*>(data), size < RequestTextLimit ? size : RequestTextLimit);
    text = text.c_str();
    ExactBlock request(text);

    SearchRequest first;
    ResetSearchRequest(&first);
    DecodeSearchRequest(&first, request.data());
    RequireWithinLimits(first);

    char query[PagingQueryCapacity];
    memset(query, 'Q', sizeof query);
    BuildPagingQuery(&first, query);
    Require(memchr(query, '\0', sizeof query) != nullptr, "the paging query is terminated within its buffer");
    const size_t length = strlen(query);
    Require(length == 0 || (query[0] != '&' && query[length - 1] != '&'), "no \"&\" at either end");
    Require(strstr(query, "Submit=") == nullptr, "Submit is never written");
    if (!FitsRequestLimits(query)) return 0;

    ExactBlock again(std::string(query, length));
    SearchRequest second;
    ResetSearchRequest(&second);
    DecodeSearchRequest(&second, again.data());
    RequireSame(second, Expected(first));
    return 0;
}
