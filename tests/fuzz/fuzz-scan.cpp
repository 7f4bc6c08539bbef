// The document scanner on arbitrary file contents, set up as the search run
// sets it up: scanning threads, 201 result slots, compiled words.
//
// Input: a flag byte, a padding byte, the search words up to the first line
// feed (at most 100 bytes), then the file's contents.
//   flags bits 0-1  sort mode
//   flags bit 2     the contents start just before the end of the first block
//                   (20,479 bytes less the padding byte, filled with blanks)
//   flags bits 3-4  the contents are repeated 1 to 4 times
//   flags bits 5-6  both set: the file (its first 1,024 bytes, bits 2-4 unused)
//                   is scanned 205 times with different sizes and dates, which
//                   fills the list and then replaces its last entry
//   flags bit 7     scanned on two threads instead of one
//   padding bit 0   the text is the document's visible text (TEXTONLY), and
//                   with bit 2, its main content (TEXTONLY main)
//   padding bit 1   ranked by relevance (RANKING relevance)
//   padding bits 2+ their value modulo 3 chooses the folding (ascii, unicode, accents)
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "corv-core.h"
#include "relevance.h"
#include "results.h"
#include "run-settings.h"
#include "scan-pool.h"
#include "search-plan.h"
#include "walk.h"
#include "fuzz-support.h"
#include "srchexpr.h"

using namespace fuzz_support;

namespace {

const char* const FallbackWords = "cat dog* \"red apple\"";
constexpr int ManyScans = ResultSlotCount + 4;
constexpr size_t ManyScansDocumentLimit = 1024;

struct Setup {
    std::string searchPath;  // as the program spells them
    std::string folderPath;
    std::string documentFile;
};

Setup MakeSetup()
{
    Setup setup;
    const std::string root = ScratchFolder("fuzz-scan");
    StartCore(root + "/cgi-bin/trawlex.exe");
    setup.searchPath = InternalPath(root) + "\\";
    setup.folderPath = InternalPath(root + "/docs/");
    setup.documentFile = root + "/docs/x.htm";
    return setup;
}

void SortKeys(const ResultEntry& entry, int32_t sortMode, double (&keys)[3])
{
    const double modified = entry.modified, size = entry.size;
    switch (sortMode) {
    case SortByWeight: keys[0] = entry.weight; keys[1] = entry.percent; keys[2] = modified; break;
    case SortByDate: keys[0] = modified; keys[1] = entry.percent; keys[2] = entry.weight; break;
    case SortBySize: keys[0] = size; keys[1] = entry.percent; keys[2] = entry.weight; break;
    default: keys[0] = entry.percent; keys[1] = entry.weight; keys[2] = modified; break;
    }
}

// Relevance ranks by its score, which the weight shows (rounded), first or
// after the date or the size.
bool RanksBelowByRelevance(const ResultEntry& higher, const ResultEntry& lower, int32_t sortMode)
{
    if (sortMode == SortByDate && higher.modified != lower.modified) return higher.modified > lower.modified;
    if (sortMode == SortBySize && higher.size != lower.size) return higher.size > lower.size;
    return higher.weight >= lower.weight;
}

bool RanksBelow(const ResultEntry& higher, const ResultEntry& lower, int32_t sortMode, bool relevance)
{
    if (relevance) return RanksBelowByRelevance(higher, lower, sortMode);
    double a[3], b[3];
    SortKeys(higher, sortMode, a);
    SortKeys(lower, sortMode, b);
    for (int i = 0; i < 3; ++i) {
        if (a[i] != b[i]) return a[i] > b[i];
    }
    return true;
}

void RequireSoundList(int scans, bool relevance)
{
    int linked = 0;
    const ResultEntry* previous = nullptr;
    for (const ResultEntry* entry = resultList.head; entry; entry = entry->next) {
        Require(++linked <= ResultSlotCount, "at most 201 entries are linked");
        Require(entry >= resultList.slots && entry < resultList.slots + ResultSlotCount, "entries are slots");
        Require(entry->prev == previous, "the list's links agree both ways");
        Require(memchr(entry->path, '\0', sizeof entry->path) && memchr(entry->title, '\0', sizeof entry->title) &&
                    memchr(entry->description, '\0', sizeof entry->description),
                "an entry's texts are terminated within their fields");
        Require(strlen(entry->title) <= TitleCharacterLimit + 3, "a title holds at most 90 characters and \"...\"");
        Require(entry->title[0] && entry->description[0], "a listed entry has a title and a description");
        Require(entry->percent >= 0.0 && entry->percent <= 100.0 && entry->percent == std::floor(entry->percent),
                "a percent is a whole number from 0 to 100");
        Require(std::isfinite(entry->weight) && entry->weight >= 0.0, "a weight is finite and not negative");
        if (previous)
            Require(RanksBelow(*previous, *entry, resultList.sortMode, relevance), "the list is in ranked order");
        previous = entry;
    }
    Require(resultList.tail == previous, "the tail is the last entry");
    Require(resultList.filesScanned == scans, "every scanned file is counted");
    Require(resultList.matchedTotal == 0 || resultList.matchedTotal == scans, "the same file always scores alike");
    Require(resultList.resultCount == std::min(resultList.matchedTotal, ResultLimit), "results held up to 200");
    Require(linked == std::min(resultList.matchedTotal, ResultSlotCount), "every match is linked, up to 201");
}

// As the search run files what its threads scanned.
void FileDocument(void* relevance, const char* path, int32_t size, uint32_t modified, const ScannedDocument& document)
{
    if (relevance) FileForRelevance(static_cast<RelevanceRun*>(relevance), path, size, modified, document);
    else FileScannedDocument(path, size, modified, document);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Setup setup = MakeSetup();
    InputReader input(data, size);
    const uint8_t flags = input.Byte();
    const uint8_t padding = input.Byte();
    const std::string words = input.Until('\n', 100);
    const std::string contents = input.Rest();

    const int scans = (flags & 0x60) == 0x60 ? ManyScans : 1;
    std::string document;
    if (scans > 1) {
        document = contents.substr(0, ManyScansDocumentLimit);  // keeps a run short
    } else {
        if (flags & 4) document.assign(static_cast<size_t>(ScanBufferSize - 1 - padding), ' ');
        for (int i = 0; i <= ((flags >> 3) & 3); ++i) document += contents;
    }
    WriteBytes(setup.documentFile, document.data(), document.size());

    // As the search run does before its walk.
    runSettings = RunSettings{setup.searchPath.c_str(), "/site/", ".htm,.html,", "\\private\\,", 0, 20};
    const CaseFolding folding = static_cast<CaseFolding>((padding >> 2) % 3);
    ExactBlock wordText(words);
    if (!CompileSearchExpression("", wordText.data(), folding))
        Require(CompileSearchExpression("", FallbackWords, folding) == 1, "the fallback words compile");
    ResultEntry* slots = MemAllocArray<ResultEntry>(ResultSlotCount, "fuzz-scan", __LINE__);
    resultList = ResultList{};
    resultList.slots = slots;
    resultList.sortMode = flags & 3;
    walkDepth = 0;

    SearchPlan plan;
    const bool relevance = padding & 2;
    const int32_t textOnly = (padding & 1) ? ((padding & 4) ? TextOnlyMain : TextOnlyYes) : TextOnlyNo;
    BuildSearchPlan(&plan, &searchExpression, textOnly, relevance);
    RelevanceRun ranking;
    if (relevance) StartRelevance(&ranking, &plan, resultList.sortMode, setup.searchPath.c_str());
    ScanPool pool;
    StartScanning(&pool, flags & 0x80 ? 2 : 1, &plan,
                  DocumentSink{FileDocument, nullptr, relevance ? &ranking : nullptr});
    const std::string path = setup.folderPath + "x.htm";
    for (int i = 0; i < scans; ++i) {
        const int32_t reportedSize = static_cast<int32_t>(document.size()) + (i * 7919) % 5000;
        const uint32_t modified = 0x52A10000u + static_cast<uint32_t>((i * 104729) % 65536);
        if (IsSearchableFile(setup.folderPath.c_str(), "x.htm")) ScanInWalkOrder(&pool, path.c_str(), reportedSize, modified);
    }
    FinishScanning(&pool);
    if (relevance) {
        RankByRelevance(&ranking);
        TakeShownTexts(&plan, 0, ResultSlotCount);
    }
    ReleaseSearchPlan(&plan);
    RequireSoundList(scans, relevance);

    MemFree(&slots, ResultSlotCount * static_cast<int32_t>(sizeof(ResultEntry)), "fuzz-scan", __LINE__);
    resultList = ResultList{};
    FreeSearchExpression();
    RequireNoTrackedMemory("scanning a file");
    return 0;
}
