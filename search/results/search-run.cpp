// filesrch: one search from compiled words to the credit line. The request's
// thread compiles the words and builds the plan, walks the site (handing each
// file to the scanning threads, which read only the plan), files the scanned
// documents in walk order, and writes the page.
#include "search-run.h"

#include <cstring>

#include "cgi.h"
#include "corv-core.h"
#include "corv-str.h"
#include "platform.h"
#include "relevance.h"
#include "result-template.h"
#include "results.h"
#include "scan-pool.h"
#include "search-plan.h"
#include "srchexpr.h"
#include "walk.h"
#include "winmain.h"

RunSettings runSettings;

namespace {

const char* const RunModule = "filesrch";
constexpr int PageLinkLimit = 20;
constexpr int WalkWholeSite = WalkTopFiles | WalkSubfolders;

void PrintPageLink(const SearchRequest* request, int32_t startAt, const char* format, int label)
{
    SearchRequest page = *request;
    page.startAt = startAt;
    char query[PagingQueryCapacity];
    BuildPagingQuery(&page, query);
    CgiPrint(format, query, label);
}

void PrintPagingRow(const SearchRequest* request)
{
    const int32_t pageSize = runSettings.pageSize;
    const int32_t currentPage = runSettings.pageStart / pageSize;
    int32_t pageLinkCount = resultList.resultCount / pageSize + (resultList.resultCount % pageSize ? 1 : 0);
    if (pageLinkCount > PageLinkLimit) pageLinkCount = PageLinkLimit;
    CgiPrint("Result Pages:&nbsp;");
    if (currentPage > 0)
        PrintPageLink(request, (currentPage - 1) * pageSize,
                      "<A HREF=\"/cgi-bin/trawlex.exe?%s\"><B>&lt;&lt; Prev</B></A>&nbsp;", 0);
    for (int32_t page = 0; page < pageLinkCount; ++page) {
        if (page == currentPage)
            CgiPrint("<B>%d</B>&nbsp;", page + 1);
        else
            PrintPageLink(request, page * pageSize, "<A HREF=\"/cgi-bin/trawlex.exe?%s\">%d</A>&nbsp;", page + 1);
    }
    if (currentPage + 1 < pageLinkCount)
        PrintPageLink(request, (currentPage + 1) * pageSize,
                      "<A HREF=\"/cgi-bin/trawlex.exe?%s\"><B>Next &gt;&gt;</B></A>", 0);
}

void PrintCreditLine(double searchSeconds)
{
    CgiPrint("<BR><BR><FONT size=-1><DIV align=right><A HREF=\"");
    CgiPrint("%s", MakerHomePage);
    CgiPrint("\">Tarvine %s v%s</A></FONT><BR><FONT size=-2>%d files searched in %.2f secs</DIV></FONT><BR>",
             Product.productName, Product.version, resultList.filesScanned, searchSeconds);
}

void ResetResultList(ResultEntry* slots, int32_t sortMode)
{
    resultList = ResultList{};
    resultList.slots = slots;
    resultList.sortMode = sortMode;
}

// By default as many threads as processors, at most four; but on a machine
// already busy (other requests, say) more threads only cost switching, so
// the processors that are idle right now set the number.
int ThreadCountFor(const SearchSettings& settings)
{
    if (settings.threadCount > 0) return settings.threadCount;
    int processors = PlatProcessorCount();
    if (processors > DefaultThreadLimit) processors = DefaultThreadLimit;
    int idle = PlatIdleProcessorCount();
    return idle < processors ? (idle > 1 ? idle : 1) : processors;
}

// The walk's call for each file that passed its filter: the file is queued
// for the scanning threads under its whole path.
void ScanFile(void* pool, const char* folderPath, const char* fileName, int32_t size, uint32_t modified)
{
    char path[PathCapacity];
    if (!StrCopyBounded(path, PathCapacity, folderPath) || !StrAppendBounded(path, PathCapacity, fileName)) return;
    ScanInWalkOrder(static_cast<ScanPool*>(pool), path, size, modified);
}

// Classic ranking files a match at its place at once; the relevance
// ranking keeps a record of it until the walk has ended.
void FileDocument(void* relevance, const char* path, int32_t size, uint32_t modified, const ScannedDocument& document)
{
    if (relevance) FileForRelevance(static_cast<RelevanceRun*>(relevance), path, size, modified, document);
    else FileScannedDocument(path, size, modified, document);
}

// A file or folder that exists but could not be read is no file without a
// match: the page says how many there were.
void CountUnreadable(void*) { ++resultList.unableToSearch; }

void PrintUnreadable()
{
    if (resultList.unableToSearch > 0) CgiPrint("<!-- Unable to search %d files -->\n", resultList.unableToSearch);
}

// Walks the whole site with `threads` threads scanning what it finds, and
// ranks the matches by relevance when a run for that is given.
void SearchSite(const SearchPlan* plan, int threads, const char* searchPath, RelevanceRun* relevance)
{
    walkDepth = 0;
    ScanPool pool;
    StartScanning(&pool, threads, plan, DocumentSink{FileDocument, CountUnreadable, relevance});
    WalkFolder(searchPath, WalkWholeSite, WalkVisitor{ScanFile, CountUnreadable, &pool});
    FinishScanning(&pool);
    if (relevance) RankByRelevance(relevance);
}

void PrintPassedOver(const RelevanceRun& relevance)
{
    if (relevance.passedOver > 0)
        CgiComment("Too many matches to rank all by the site's final counts: %u passed over by the counts "
                   "seen before them\n", relevance.passedOver);
}

}  // namespace

int RunSearch(const SearchRequest* request, const char* baseUrl, const char* searchPath,
              const char* fileSpecs, const char* excludePaths, const char* skipListPath,
              const SearchSettings& settings)
{
    int32_t pageSize = request->count;
    if (pageSize <= 1) pageSize = 1;
    if (pageSize >= MaximumResultCount) pageSize = MaximumResultCount;
    runSettings = RunSettings{searchPath, baseUrl, fileSpecs, excludePaths, request->startAt, pageSize};
    int32_t sortMode = SortModeFor(request->sortBy);
    if (!CompileSearchExpression(skipListPath, request->search, settings.caseFolding)) {
        CgiPrint("A search could not be performed because one or more of the search words were either "
                 "invalid or not specific enough...<BR><BR>");
        return 1;
    }
    ResultEntry* slots = MemAllocArray<ResultEntry>(ResultSlotCount, RunModule, 872);
    ResetResultList(slots, sortMode);
    const int threads = ThreadCountFor(settings);
    double started = TickSeconds();
    SearchPlan plan;
    const bool byRelevance = settings.ranking == RankingRelevance;
    BuildSearchPlan(&plan, &searchExpression, settings.textOnly, byRelevance);
    RelevanceRun relevance;
    if (byRelevance)
        StartRelevance(&relevance, &plan, sortMode, searchPath,
                       settings.matchChunks > 0 ? settings.matchChunks : MatchChunkLimit);
    SearchSite(&plan, threads, searchPath, byRelevance ? &relevance : nullptr);
    double searchSeconds = TickSeconds() - started;
    if (resultList.resultCount <= 0) {
        CgiPrint("Unable to find any Web pages matching your query...<BR>");
        PrintUnreadable();
    } else {
        CgiPrint("Found %d Web page%s matching your query (returning top %d)...<BR><BR>", resultList.matchedTotal,
                 resultList.matchedTotal == 1 ? "" : "s", resultList.resultCount);
        PrintUnreadable();
        if (byRelevance) {
            PrintPassedOver(relevance);
            TakeShownTexts(&plan, runSettings.pageStart, runSettings.pageSize);
        }
        WriteResults(request->look, settings, threads, &plan);
        PrintPagingRow(request);
    }
    PrintCreditLine(searchSeconds);
    MemFree(&slots, ResultSlotCount * static_cast<int32_t>(sizeof(ResultEntry)), RunModule, 938);
    resultList.slots = resultList.head = resultList.tail = nullptr;
    ReleaseSearchPlan(&plan);
    FreeSearchExpression();
    return 1;
}
