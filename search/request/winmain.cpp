// winmain: the request driver. One run answers one CGI request in a fixed
// order, or prints the version text.
#include "winmain.h"

#include <cstdio>
#include <cstdlib>

#include "cgi.h"
#include "corv-core.h"
#include "search-run.h"
#include "srchparm.h"

namespace {

constexpr int RequestTextCapacity = 1024;

#ifdef TRAWLEX_DEBUG_FLAGS_FROM_ENVIRONMENT
// Test builds only: lets a test read the debug log (leak report included).
uint32_t DriverDebugFlags()
{
    const char* value = getenv("TRAWLEX_DEBUG_FLAGS");
    return value ? static_cast<uint32_t>(strtoul(value, nullptr, 10)) : 0;
}
// Test builds only: the memory the relevance ranking may keep its records
// in, in chunks, so that a test needs no more matches than a few thousand.
int32_t MatchChunkBudget()
{
    const char* value = getenv("TRAWLEX_MATCH_CHUNKS");
    return value ? static_cast<int32_t>(strtol(value, nullptr, 10)) : 0;
}
#else
uint32_t DriverDebugFlags() { return 0; }
int32_t MatchChunkBudget() { return 0; }
#endif

bool IsVersionRequest(int argc, char** argv)
{
    return argc == 2 && (StrEqual(argv[1], "/?") || StrEqual(argv[1], "-?"));
}

void PrintVersion()
{
    printf("\nTarvine %s version %s (%s)\n", Product.productName, Product.version, Product.buildKind);
    printf("The latest version can always be found at %s\n", MakerHomePage);
}

void DataFilePath(char* path, const char* name)
{
    GetProgramDirectory(path, PathCapacity);
    if (!StrAppendBounded(path, PathCapacity, name)) path[0] = '\0';
}

// Everything between the response header and the end of the page.
void AnswerSearch(const char* requestText, SiteConfig* config)
{
    SearchRequest request;
    ResetSearchRequest(&request);
    DecodeSearchRequest(&request, requestText);
    char path[PathCapacity];
    DataFilePath(path, "srchdata\\config.txt");
    LoadSiteConfig(path, config);
    config->settings.matchChunks = MatchChunkBudget();
    CgiLogQuery("srchdata\\logs\\", "(%d, %d) %s\n", request.startAt, request.count, request.search);
    DataFilePath(path, "srchdata\\header.htm");
    CgiIncludeFile(path);
    RunSearch(&request, config->baseUrl, config->searchPath, config->fileSpecs, config->excludePaths,
              config->skipListPath, config->settings);
    DataFilePath(path, "srchdata\\footer.htm");
    CgiIncludeFile(path);
    ReleaseSiteConfig(config);
}

void AnswerRequest()
{
    const char* text = nullptr;
    int32_t length = 0;
    if (!CgiGetRequest(&text, &length)) {
        CgiSendHeader();
        CgiPrint("Unable to locate any paramters!<BR>\n");
        return;
    }
    if (length >= RequestTextCapacity) {
        CgiSendHeader();
        CgiPrint("CGI response too long!<BR>\n");
        return;
    }
    // Zero-filled, so a short body ends where the delivered bytes end.
    char requestText[RequestTextCapacity] = {};
    CgiReadRequest(requestText, length);
    requestText[length] = '\0';
    SiteConfig config;
    ResetSiteConfig(&config);
    CgiGetSiteRoot(config.searchPath, PathCapacity);
    DebugPrint("Path = '%s'\n", config.searchPath);
    CgiSendHeader();
    AnswerSearch(requestText, &config);
}

}  // namespace

int RunProgram(int argc, char** argv)
{
    PlatInitStandardStreams();
    PlatInitCommandLine(argc, argv);
    if (IsVersionRequest(argc, argv)) {
        PrintVersion();
        return 0;
    }
    DebugInit("debug.log", DriverDebugFlags());
    MemInit(MemLimitMaximum, 0);
    if (!CgiInit()) {
        CgiSendHeader();
        CgiPrint("Unable to init CGI routines.<BR>");
    } else {
        AnswerRequest();
        CgiDone();
    }
    PlatOutputFlush();
    MemRemove();
    DebugRemove();
    return 0;
}
