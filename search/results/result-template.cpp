// filesrch: the result template, filled once per result of the page.
#include "result-template.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cgi.h"
#include "corv-core.h"
#include "corv-str.h"
#include "corv-threads.h"
#include "excerpt.h"
#include "platform.h"

namespace {

const char* const TemplateModule = "filesrch";
constexpr int KeyLengthLimit = 80;
constexpr int LookLengthLimit = 40;
constexpr int MinimumOutputCapacity = 2048;
// The filled copy, four times the template and the room of its excerpts,
// stays within half of tracked memory's limit.
constexpr int64_t TemplateSizeLimit = MemLimitMaximum / 8;
constexpr int64_t OutputCapacityLimit = MemLimitMaximum / 2;

// Only plain names choose a variant: a look can never leave "srchdata\".
bool IsSafeLook(const char* look)
{
    int length = 0;
    for (const char* at = look; *at; ++at, ++length) {
        char c = *at;
        bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_';
        if (!allowed) return false;
    }
    return length >= 1 && length <= LookLengthLimit;
}

PlatFile* OpenTemplate(const char* look)
{
    char folder[PathCapacity], path[PathCapacity];
    GetProgramDirectory(folder, PathCapacity);
    if (look[0] && IsSafeLook(look)) {
        int length = snprintf(path, sizeof path, "%ssrchdata\\body%s.htm", folder, look);
        if (length > 0 && length < PathCapacity) {
            if (PlatFile* file = PlatOpen(path, PlatReadText)) return file;
        }
    }
    int length = snprintf(path, sizeof path, "%ssrchdata\\body.htm", folder);
    if (length <= 0 || length >= PathCapacity) return nullptr;
    return PlatOpen(path, PlatReadText);
}

struct OutputWriter {
    char* text;
    int used;
    int limit;  // the filled copy never holds more
};

bool Full(const OutputWriter& out) { return out.used >= out.limit; }

void WriteBytes(OutputWriter* out, const char* bytes, size_t count)
{
    size_t room = static_cast<size_t>(out->limit - out->used);
    if (count > room) count = room;
    memcpy(out->text + out->used, bytes, count);
    out->used += static_cast<int>(count);
}

void WriteFormatted(OutputWriter* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void WriteFormatted(OutputWriter* out, const char* format, ...)
{
    char value[64];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(value, sizeof value, format, arguments);
    va_end(arguments);
    WriteBytes(out, value, strlen(value));
}

void WriteText(OutputWriter* out, const char* text) { WriteBytes(out, text, strlen(text)); }

void WriteSize(OutputWriter* out, int32_t size)
{
    if (size < 1024)
        WriteFormatted(out, "%d bytes", size);
    else if (size < 1048576)
        WriteFormatted(out, "%dK", size / 1024);
    else
        WriteFormatted(out, "%d megs", size / 1048576);
}

void WriteModified(OutputWriter* out, uint32_t modified)
{
    unsigned month = (modified >> 21) & 0x0F;
    unsigned day = (modified >> 16) & 0x1F;
    unsigned year = (modified >> 25) + 1980;
    WriteFormatted(out, "%u/%u/%u", month, day, year);
}

// Result values come from the site's files, which others may have written:
// a byte that could end the link's attribute or open an element is encoded.
// Paths are percent-encoded (browsers and servers decode that in a path),
// titles and descriptions get character references; references already in
// the document stay as they are.
void WriteUrlPath(OutputWriter* out, const char* path)
{
    static const char HexDigits[] = "0123456789ABCDEF";
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(path); *at; ++at) {
        unsigned char byte = *at;
        bool encoded = byte < 0x21 || byte == '"' || byte == '\'' || byte == '<' || byte == '>';
        char escape[3] = {'%', HexDigits[byte >> 4], HexDigits[byte & 15]};
        if (encoded) WriteBytes(out, escape, sizeof escape); else WriteBytes(out, reinterpret_cast<const char*>(at), 1);
    }
}

void WriteHtmlText(OutputWriter* out, const char* text)
{
    for (const char* at = text; *at; ++at) {
        if (*at == '<') WriteText(out, "&lt;");
        else if (*at == '>') WriteText(out, "&gt;");
        else if (*at == '"') WriteText(out, "&quot;");
        else WriteBytes(out, at, 1);
    }
}

const char* PathBelowSearchPath(const char* path)
{
    size_t skip = strlen(runSettings.searchPath);
    return strlen(path) >= skip ? path + skip : "";
}

// An excerpt is written by its length: no byte it holds can end it.
void WriteExcerpt(OutputWriter* out, const ResultEntry* entry)
{
    if (entry->excerpt) WriteBytes(out, entry->excerpt, static_cast<size_t>(entry->excerptLength));
}

// Writes the value of a "Search." key; false for a name not in the table.
bool WriteKeyValue(OutputWriter* out, const char* name, const ResultEntry* entry, int position)
{
    if (StrEqual(name, "URL")) WriteUrlPath(out, PathBelowSearchPath(entry->path));
    else if (StrEqual(name, "BaseURL")) WriteText(out, runSettings.baseUrl);
    else if (StrEqual(name, "Title")) WriteHtmlText(out, entry->title);
    else if (StrEqual(name, "Description")) WriteHtmlText(out, entry->description);
    else if (StrEqual(name, "Size")) WriteSize(out, entry->size);
    else if (StrEqual(name, "Modified")) WriteModified(out, entry->modified);
    else if (StrEqual(name, "Match")) WriteFormatted(out, "%d", position + 1);
    else if (StrEqual(name, "Weight")) WriteFormatted(out, "%.2f", entry->weight);
    else if (StrEqual(name, "Percent")) WriteFormatted(out, "%d%%", static_cast<int>(entry->percent));
    else if (StrEqual(name, "MatchTotal")) WriteFormatted(out, "%d", resultList.matchedTotal);
    else if (StrEqual(name, "MatchReturned")) WriteFormatted(out, "%d", resultList.resultCount);
    else if (StrEqual(name, "Excerpt")) WriteExcerpt(out, entry);
    else return false;
    return true;
}

void WritePlaceholder(OutputWriter* out, const char* key, const ResultEntry* entry, int position)
{
    static const char Prefix[] = "Search.";
    const size_t prefixLength = sizeof Prefix - 1;
    if (StrEqualN(key, Prefix, static_cast<int>(prefixLength)) &&
        WriteKeyValue(out, key + prefixLength, entry, position))
        return;
    if (StrEqualN(key, Prefix, static_cast<int>(prefixLength)))
        DebugPrint("Unknown key = '%s'\n", key + prefixLength);
    WriteText(out, "&");
    WriteText(out, key);
    WriteText(out, ";");
}

// Length of the key after an "&" when it is a placeholder, else -1.
int PlaceholderKeyLength(const char* afterAmpersand)
{
    const char* end = afterAmpersand;
    while (static_cast<unsigned char>(*end) > 32 && *end != ';') ++end;
    int length = static_cast<int>(end - afterAmpersand);
    return (*end == ';' && length < KeyLengthLimit) ? length : -1;
}

}  // namespace

int ExpandResultTemplate(const ResultEntry* entry, int position, const char* templateText, char* output,
                         int capacity, int* outputLength)
{
    OutputWriter out{output, 0, capacity - 2 > 0 ? capacity - 2 : 0};
    for (const char* at = templateText; *at && !Full(out);) {
        int keyLength = *at == '&' ? PlaceholderKeyLength(at + 1) : -1;
        if (keyLength < 0) {
            WriteBytes(&out, at, 1);
            ++at;
            continue;
        }
        char key[KeyLengthLimit];
        memcpy(key, at + 1, static_cast<size_t>(keyLength));
        key[keyLength] = '\0';
        WritePlaceholder(&out, key, entry, position);
        at += keyLength + 2;
    }
    output[out.used] = '\0';
    *outputLength = out.used;
    return 1;
}

namespace {

const char* const ExcerptPlaceholder = "&Search.Excerpt;";

int CountExcerptPlaceholders(const char* templateText)
{
    int count = 0;
    for (const char* at = strstr(templateText, ExcerptPlaceholder); at; at = strstr(at + 1, ExcerptPlaceholder))
        ++count;
    return count;
}

// Excerpts are made only for the results that the page shows, and only when
// the template asks for them: a batch of results at a time, on several
// threads, each with a workspace of its own. Each excerpt is kept in a block
// of its own length until its result is written.
constexpr int ExcerptBatch = 32;

struct PageExcerpts {
    int size = 0;
    int capacity = 0;  // 0 while the template asks for none
    int threads = 0;
    ExcerptWorkspace* workspaces = nullptr;
    char* made = nullptr;  // one excerpt of capacity bytes per thread
    ResultEntry* batch[ExcerptBatch];

    // Each thread holds one document open at a time: no more threads than
    // the process may hold documents open.
    void Start(int excerptSize, int threadCount, const SearchPlan* plan)
    {
        size = excerptSize >= ExcerptSizeMinimum && excerptSize <= ExcerptSizeMaximum ? excerptSize
                                                                                       : ExcerptSizeDefault;
        capacity = ExcerptCapacity(size);
        const int available = PlatDescriptorsAvailable();
        if (threadCount > available) threadCount = available;
        threads = threadCount < 1 ? 1 : threadCount > ThreadLimit ? ThreadLimit : threadCount;
        workspaces = MemAllocArray<ExcerptWorkspace>(threads, TemplateModule, __LINE__);
        for (int i = 0; i < threads; ++i) {
            workspaces[i].plan = plan;
            workspaces[i].mode = plan->textOnly ? VisibleTextDecodeReferences : VisibleTextKeepReferences;
            workspaces[i].mainContent = plan->mainContent;
        }
        made = static_cast<char*>(MemAlloc(threads * capacity, TemplateModule, __LINE__));
    }
    ~PageExcerpts()
    {
        if (capacity == 0) return;
        for (int i = 0; i < threads; ++i) ReleaseExcerptRoom(&workspaces[i]);
        MemFree(&made, threads * capacity, TemplateModule, __LINE__);
        MemFree(&workspaces, threads * static_cast<int32_t>(sizeof(ExcerptWorkspace)), TemplateModule, __LINE__);
    }
};

void BuildOne(int index, int worker, void* argument)
{
    PageExcerpts* excerpts = static_cast<PageExcerpts*>(argument);
    char* made = excerpts->made + worker * excerpts->capacity;
    const int length = BuildExcerpt(excerpts->batch[index], excerpts->size, &excerpts->workspaces[worker], made,
                                    excerpts->capacity);
    char* kept = static_cast<char*>(MemAlloc(length + 1, TemplateModule, __LINE__));
    memcpy(kept, made, static_cast<size_t>(length) + 1);
    excerpts->batch[index]->excerpt = kept;
    excerpts->batch[index]->excerptLength = length;
}

// Freed by the length it was made with: its bytes cannot tell it.
void ReleaseExcerpt(ResultEntry* entry)
{
    char* kept = const_cast<char*>(entry->excerpt);
    if (kept) MemFree(&kept, entry->excerptLength + 1, TemplateModule, __LINE__);
    entry->excerpt = nullptr;
}

void WritePage(const char* templateText, char* output, int32_t capacity, PageExcerpts* excerpts)
{
    int position = 0;
    const int32_t stop = runSettings.pageStart + runSettings.pageSize;
    ResultEntry* entry = resultList.head;
    for (; entry && position < runSettings.pageStart; entry = entry->next) ++position;
    while (entry && position < stop) {
        const int first = position;
        int count = 0;
        for (; entry && position < stop && count < ExcerptBatch; entry = entry->next, ++position)
            excerpts->batch[count++] = entry;
        if (excerpts->capacity > 0) ForEachOnThreads(count, excerpts->threads, BuildOne, excerpts);
        for (int i = 0; i < count; ++i) {
            int length = 0;
            ExpandResultTemplate(excerpts->batch[i], first + i, templateText, output, capacity, &length);
            ReleaseExcerpt(excerpts->batch[i]);
            if (length > 0) CgiWriteBytes(output, length);
        }
    }
}

}  // namespace

int WriteResults(const char* look, const SearchSettings& settings, int threads, const SearchPlan* plan)
{
    PlatFileGuard file(OpenTemplate(look));
    if (!file) return 1;
    int64_t fileSize = PlatFileSize(file.get());
    if (fileSize < 0) return 1;
    if (fileSize > TemplateSizeLimit) {
        CgiComment("Result template too large\n");
        return 1;
    }
    int32_t size = static_cast<int32_t>(fileSize);
    int32_t capacity = size * 4 > MinimumOutputCapacity ? size * 4 : MinimumOutputCapacity;
    char* templateText = static_cast<char*>(MemAlloc(size + 2, TemplateModule, 805));
    int got = PlatRead(file.get(), templateText, size);
    templateText[got > 0 ? got : 0] = '\0';
    const int excerptCount = CountExcerptPlaceholders(templateText);
    PageExcerpts excerpts;
    if (excerptCount > 0) excerpts.Start(settings.excerptSize, threads, plan);
    // Each excerpt in the template may fill its whole room.
    const int64_t filled = capacity + static_cast<int64_t>(excerptCount) * excerpts.capacity;
    if (filled > OutputCapacityLimit) {
        CgiComment("Result template too large\n");
        MemFree(&templateText, size + 2, TemplateModule, 830);
        return 1;
    }
    capacity = static_cast<int32_t>(filled);
    char* output = static_cast<char*>(MemAlloc(capacity + 2, TemplateModule, 806));
    WritePage(templateText, output, capacity, &excerpts);
    MemFree(&output, capacity + 2, TemplateModule, 829);
    MemFree(&templateText, size + 2, TemplateModule, 830);
    return 1;
}
