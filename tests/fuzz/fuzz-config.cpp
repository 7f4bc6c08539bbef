// The configuration loader on arbitrary file contents: no fault, both lists
// released again, and a search path that always ends in a backslash once a
// SEARCHPATH line has set it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cgi.h"
#include "fuzz-support.h"
#include "winmain.h"

using namespace fuzz_support;

namespace {

// Ends in no backslash, so no applied SEARCHPATH line can leave it as it is.
const char* const UnsetSearchPath = "(unset)";

struct Setup {
    std::string configPath;  // as the program spells it
    std::string configFile;  // as the system spells it
};

Setup MakeSetup()
{
    Setup setup;
    const std::string root = ScratchFolder("fuzz-config");
    const std::string program = root + "/cgi-bin/trawlex.exe";
    setup.configFile = root + "/cgi-bin/srchdata/config.txt";
    setup.configPath = InternalPath(setup.configFile);
    StartCore(program);
    // The loader's comments go into the page, after the header.
    if (!freopen("/dev/null", "w", stdout)) Fail("cannot send standard output to /dev/null");
    unsetenv("CONTENT_LENGTH");  // no body to wait for on standard input
    CgiInit();
    CgiSendHeader();
    return setup;
}

void RequireList(const char* list, int32_t capacity, const char* what)
{
    const size_t length = strlen(list);
    Require(capacity == 0 ? length == 0 : length < static_cast<size_t>(capacity), what);
    Require(length == 0 || list[length - 1] == ',', "a list is empty or ends with a comma");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Setup setup = MakeSetup();
    WriteBytes(setup.configFile, data, size);

    SiteConfig config;
    ResetSiteConfig(&config);
    strcpy(config.searchPath, UnsetSearchPath);
    const int loaded = LoadSiteConfig(setup.configPath.c_str(), &config);
    if (size > static_cast<size_t>(ConfigSizeLimit)) {
        Require(loaded == 0 && config.listCapacity == 0, "a file over 51,200 bytes is refused");
    } else {
        Require(loaded == 1, "a file of at most 51,200 bytes is loaded");
        Require(config.listCapacity == static_cast<int32_t>(size), "each list holds as many bytes as the file");
    }

    Require(memchr(config.searchPath, '\0', PathCapacity) && memchr(config.baseUrl, '\0', PathCapacity) &&
                memchr(config.skipListPath, '\0', PathCapacity),
            "text settings terminated within their buffers");
    if (strcmp(config.searchPath, UnsetSearchPath) != 0) {
        const size_t length = strlen(config.searchPath);
        Require(length > 0 && config.searchPath[length - 1] == '\\', "a set search path ends in a backslash");
        Require(strchr(config.searchPath, '/') == nullptr, "a set search path holds no forward slash");
    }
    RequireList(config.fileSpecs, config.listCapacity, "file specs fit their list");
    RequireList(config.excludePaths, config.listCapacity, "exclude paths fit their list");
    Require(strchr(config.excludePaths, '/') == nullptr, "exclude paths hold no forward slash");

    ReleaseSiteConfig(&config);
    RequireNoTrackedMemory("loading and releasing a configuration");
    return 0;
}
