// Search parameters: decoding, limits and the paging query strings.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "corv-str.h"
#include "srchparm.h"

namespace {

SearchRequest Decode(const std::string& text)
{
    SearchRequest request;
    ResetSearchRequest(&request);
    DecodeSearchRequest(&request, text.c_str());
    return request;
}

std::string Query(const SearchRequest& request)
{
    char query[PagingQueryCapacity];
    BuildPagingQuery(&request, query);
    return query;
}

std::string Fields(const SearchRequest& r)
{
    return std::to_string(r.count) + "|" + r.look + "|" + r.submit + "|" + r.sortBy + "|" + r.search + "|" +
           std::to_string(r.startAt);
}

}  // namespace

TEST(SearchParameters, DecodesRequestTexts)
{
    const std::string longPair = "Look=" + std::string(315, 'L');  // 320 characters
    struct Row {
        std::string text;
        std::string fields;  // count|look|submit|sortBy|search|startAt
    } rows[] = {
        {"", "20|||||0"},
        {"Count=0", "1|||||0"},
        {"Count=1", "1|||||0"},
        {"Count=2", "2|||||0"},
        {"Count=199", "199|||||0"},
        {"Count=200", "200|||||0"},
        {"Count=5000", "200|||||0"},
        {"Count=many", "1|||||0"},
        {"StartAt=1000000000", "20|||||999999999"},
        {"StartAt=99999999999", "20|||||999999999"},
        {"StartAt=abc", "20|||||0"},
        {"StartAt=12", "20|||||12"},
        {"sEaRcH=cat&LOOK=blue&sortby=Date&SUBMIT=Go&count=5&startAT=7", "5|blue|Go|Date|cat|7"},
        {"Searchx=a&Searc=b&Look =c&S=d", "20|||||0"},
        {"Look=dEFAULT&SortBy=PERCENT", "20|||||0"},
        {"Look=Defaults&SortBy=Percent2", "20|Defaults||Percent2||0"},
        {"Search=%41b+c%2B", "20||||Ab c+|0"},
        {"Se%61rch=cat&C%6Funt=7", "7||||cat|0"},  // names are decoded too
        {"Search=++ red", "20||||red|0"},
        {"Count=5&junk&Search=cat", "5||||cat|0"},
        {"Count=5&" + longPair + "&Search=cat", "5|||||0"},
        {"Count=5&" + longPair.substr(1) + "&Search=cat", "5||||cat|0"},  // 319: read, "ook" ignored
        {"Search=a&Count=3&Search=b&Count=4", "4||||b|0"},
        {"Look=" + std::string(100, 'L') + "&SortBy=" + std::string(90, 'S') + "&Submit=" + std::string(80, 'U'),
         "20|" + std::string(79, 'L') + "|" + std::string(79, 'U') + "|" + std::string(79, 'S') + "||0"},
        {"Search=" + std::string(312, 'w'), "20||||" + std::string(312, 'w') + "|0"},
        {"&&Count=3&&&Search=\"a&b\"", "3||||a&b|0"},
    };
    for (const Row& row : rows) EXPECT_EQ(Fields(Decode(row.text)), row.fields) << row.text;
}

TEST(SearchParameters, BuildsPagingQueries)
{
    SearchRequest request;
    ResetSearchRequest(&request);
    EXPECT_EQ(Query(request), "");

    StrCopy(request.submit, "Search");
    EXPECT_EQ(Query(request), "");

    request.count = 10;
    StrCopy(request.search, "red apple");
    request.startAt = 20;
    EXPECT_EQ(Query(request), "Count=10&Search=red+apple&StartAt=20");

    StrCopy(request.look, "x y");
    StrCopy(request.sortBy, "Date");
    StrCopy(request.search, "a&b=c\"%");
    request.startAt = 0;
    EXPECT_EQ(Query(request), "Count=10&Look=x+y&SortBy=Date&Search=a%26b%3Dc%22%25");
}

TEST(SearchParameters, LongestRequestIsNeverCut)
{
    SearchRequest request;
    ResetSearchRequest(&request);
    request.count = 200;
    request.startAt = 999999999;
    memset(request.look, '!', 79);
    memset(request.sortBy, '~', 79);
    memset(request.search, 0xFF, 319);
    std::string expected = "Count=200&Look=";
    for (int i = 0; i < 79; ++i) expected += "%21";
    expected += "&SortBy=";
    for (int i = 0; i < 79; ++i) expected += "%7E";
    expected += "&Search=";
    for (int i = 0; i < 319; ++i) expected += "%FF";
    expected += "&StartAt=999999999";
    EXPECT_EQ(Query(request), expected);
}

TEST(SearchParameters, PagingQueryDecodesToTheSameRequest)
{
    std::mt19937 random(20010305);
    auto text = [&](char* field, int longest) {
        int length = static_cast<int>(random() % static_cast<unsigned>(longest + 1));
        for (int i = 0; i < length; ++i) field[i] = static_cast<char>(1 + random() % 255);
        // A blank right after "=" is dropped by the pair splitter, so no value begins with one.
        if (length > 0 && field[0] == ' ') field[0] = 'b';
        field[length] = '\0';
    };
    for (int round = 0; round < 2000; ++round) {
        SearchRequest request;
        ResetSearchRequest(&request);
        request.count = static_cast<int32_t>(1 + random() % 200);
        request.startAt = static_cast<int32_t>(random() % 1000000000);
        text(request.look, 79);
        text(request.sortBy, 79);
        text(request.search, 100);  // keeps the encoded pair within 319 characters
        NormalizeSearchRequest(&request);
        std::string query = Query(request);
        ASSERT_TRUE(query.empty() || query.back() != '&');
        ASSERT_EQ(Fields(Decode(query)), Fields(request)) << query;
    }
}
