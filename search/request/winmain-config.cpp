// winmain: the configuration file "srchdata\config.txt".
#include <cstring>

#include "cgi.h"
#include "corv-core.h"
#include "corv-str.h"
#include "winmain.h"

#include "corv-threads.h"
#include "excerpt.h"

namespace {

const char* const DriverModule = "winmain";
char emptyList[1] = "";

bool IsBlankByte(int byte) { return byte >= 0 && byte <= 32; }

// Appends the value and its comma at the list's end, within its capacity.
char* AppendListEntry(char* list, int32_t capacity, const char* value)
{
    size_t used = strlen(list);
    size_t length = strlen(value);
    if (used + length + 2 > static_cast<size_t>(capacity)) return nullptr;
    char* entry = list + used;
    memcpy(entry, value, length);
    entry[length] = ',';
    entry[length + 1] = '\0';
    return entry;
}

// An empty value ("SEARCHPATH   # to be set") would make the root of the
// disk the site: it is ignored, and the site root stays the search path.
void SetSearchPath(SiteConfig* config, const char* value)
{
    char path[PathCapacity];
    if (!value[0] || !StrCopyBounded(path, PathCapacity, value)) return;
    SlashesToBackslashes(path);
    size_t length = strlen(path);
    if (path[length - 1] != '\\') {
        if (!StrAppendBounded(path, PathCapacity, "\\")) return;
    }
    StrCopy(config->searchPath, path);
}

void SetSkipList(SiteConfig* config, const char* value)
{
    char path[PathCapacity];
    GetProgramDirectory(path, PathCapacity);
    if (StrAppendBounded(path, PathCapacity, "srchdata\\") && StrAppendBounded(path, PathCapacity, value))
        StrCopy(config->skipListPath, path);
}

// A whole number from low to high, or -1 for anything else.
int32_t NumberIn(const char* value, int32_t low, int32_t high)
{
    int32_t number = 0;
    for (const char* at = value; *at; ++at) {
        if (*at < '0' || *at > '9' || number > high) return -1;
        number = number * 10 + (*at - '0');
    }
    return value[0] && number >= low && number <= high ? number : -1;
}

// ascii, unicode or accents, in any case; anything else leaves the setting.
void SetCaseFolding(SiteConfig* config, const char* value)
{
    const char* const names[] = {"ascii", "unicode", "accents"};
    const CaseFolding modes[] = {CaseFoldAscii, CaseFoldUnicode, CaseFoldAccents};
    for (int i = 0; i < 3; ++i)
        if (StrEqualNoCase(value, names[i])) config->settings.caseFolding = modes[i];
}

const char* ValueAfter(const char* line, int keyLength)
{
    const char* value = line + keyLength;
    while (*value && IsBlankByte(static_cast<unsigned char>(*value))) ++value;
    return value;
}

void ApplyConfigLine(SiteConfig* config, const char* line)
{
    if (StrEqualNoCaseN(line, "BASEURL", 7)) {
        StrCopyBounded(config->baseUrl, PathCapacity, ValueAfter(line, 7));
    } else if (StrEqualNoCaseN(line, "SKIPLIST", 8)) {
        SetSkipList(config, ValueAfter(line, 8));
    } else if (StrEqualNoCaseN(line, "FILESPEC", 8)) {
        AppendListEntry(config->fileSpecs, config->listCapacity, ValueAfter(line, 8));
    } else if (StrEqualNoCaseN(line, "SEARCHPATH", 10)) {
        SetSearchPath(config, ValueAfter(line, 10));
    } else if (StrEqualNoCaseN(line, "EXCLUDEPATH", 11)) {
        char* entry = AppendListEntry(config->excludePaths, config->listCapacity, ValueAfter(line, 11));
        if (entry) SlashesToBackslashes(entry);
    } else if (StrEqualNoCaseN(line, "EXCERPTSIZE", 11)) {
        // Characters of an excerpt, 40 to 1,000; anything else leaves the default.
        int32_t size = NumberIn(ValueAfter(line, 11), ExcerptSizeMinimum, ExcerptSizeMaximum);
        if (size > 0) config->settings.excerptSize = size;
    } else if (StrEqualNoCaseN(line, "TEXTONLY", 8)) {
        // yes, on or 1 turns it on; main reads main content only; no, off or
        // 0 off; anything else leaves it.
        const char* value = ValueAfter(line, 8);
        if (StrEqualNoCase(value, "yes") || StrEqualNoCase(value, "on") || StrEqual(value, "1"))
            config->settings.textOnly = TextOnlyYes;
        else if (StrEqualNoCase(value, "main"))
            config->settings.textOnly = TextOnlyMain;
        else if (StrEqualNoCase(value, "no") || StrEqualNoCase(value, "off") || StrEqual(value, "0"))
            config->settings.textOnly = TextOnlyNo;
    } else if (StrEqualNoCaseN(line, "RANKING", 7)) {
        // classic or relevance; anything else leaves it.
        const char* value = ValueAfter(line, 7);
        if (StrEqualNoCase(value, "classic")) config->settings.ranking = RankingClassic;
        else if (StrEqualNoCase(value, "relevance")) config->settings.ranking = RankingRelevance;
    } else if (StrEqualNoCaseN(line, "CASEFOLD", 8)) {
        SetCaseFolding(config, ValueAfter(line, 8));
    } else if (StrEqualNoCaseN(line, "THREADS", 7)) {
        // A value that is not a number from 1 to 16 leaves the default.
        int32_t threads = NumberIn(ValueAfter(line, 7), 1, ThreadLimit);
        if (threads > 0) config->settings.threadCount = threads;
    }
}

}  // namespace

void ResetSiteConfig(SiteConfig* config)
{
    config->searchPath[0] = '\0';
    config->baseUrl[0] = '\0';
    config->skipListPath[0] = '\0';
    config->fileSpecs = emptyList;
    config->excludePaths = emptyList;
    config->listCapacity = 0;
    config->settings = SearchSettings{};
}

void ReleaseSiteConfig(SiteConfig* config)
{
    if (config->listCapacity <= 0) return;
    MemFree(&config->excludePaths, config->listCapacity, DriverModule, 295);
    MemFree(&config->fileSpecs, config->listCapacity, DriverModule, 296);
    config->fileSpecs = emptyList;
    config->excludePaths = emptyList;
    config->listCapacity = 0;
}

int ReadConfigLine(PlatFile* file, char* line, int capacity)
{
    for (;;) {
        int byte = PlatReadByte(file);
        while (byte >= 0 && IsBlankByte(byte)) byte = PlatReadByte(file);
        if (byte < 0) return 0;
        int stored = 0;
        while (byte >= 0 && byte != '\r' && byte != '\n' && byte != '#') {
            if (stored >= capacity) return 0;
            line[stored++] = static_cast<char>(byte);
            byte = PlatReadByte(file);
        }
        if (stored >= capacity) return 0;  // a full line followed by its end
        if (byte == '#') {
            while (byte >= 0 && byte != '\r' && byte != '\n') byte = PlatReadByte(file);
        }
        while (stored > 0 && IsBlankByte(static_cast<unsigned char>(line[stored - 1]))) --stored;
        line[stored] = '\0';
        if (stored > 0) return 1;
    }
}

int LoadSiteConfig(const char* path, SiteConfig* config)
{
    config->listCapacity = 0;
    PlatFileGuard file(PlatOpen(path, PlatReadRaw));
    if (!file) {
        CgiComment("Unable to load config file '%s'\n", path);
        return 0;
    }
    int64_t size = PlatFileSize(file.get());
    if (size > ConfigSizeLimit || size < 0) {
        CgiComment("Config too large (%d)\n", static_cast<int>(size > INT32_MAX ? INT32_MAX : size));
        return 0;
    }
    if (size > 0) {
        config->listCapacity = static_cast<int32_t>(size);
        config->fileSpecs = static_cast<char*>(MemAlloc(config->listCapacity, DriverModule, 134));
        config->excludePaths = static_cast<char*>(MemAlloc(config->listCapacity, DriverModule, 135));
    }
    char line[ConfigLineCapacity];
    while (ReadConfigLine(file.get(), line, ConfigLineCapacity)) ApplyConfigLine(config, line);
    return 1;
}
