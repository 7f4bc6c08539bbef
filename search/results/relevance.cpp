// filesrch: the relevance ranking. Each match is kept as a record of fixed
// size (its strengths per term and field, its field lengths, its percent,
// date, size and walk number) and its path, written as it differs from the
// path before it. After the walk each record gets its BM25F score from the
// exact counts of the site: a term's weighted frequency adds its strengths
// in each field, each field's normalised by that field's length against its
// average over the site; it saturates (k1) and is weighted by the term's
// inverse document frequency over the documents scanned.
#include "relevance.h"

#include <algorithm>
#include <cstring>

#include "corv-core.h"
#include "corv-str.h"
#include "platform.h"
#include "run-settings.h"

const RelevanceModel DefaultRelevanceModel = {
    // title, description, keywords, text, address
    {64.0, 32.0, 16.0, 1.0, 32.0},
    {0.8, 0.5, 0.5, 0.3, 1.0},
    1.6,
};

namespace {

const char* const RelevanceModule = "filesrch";
constexpr int32_t FixedFractionBits = 32;
constexpr uint16_t ShortStrengthLimit = UINT16_MAX;

// ---- Records ----------------------------------------------------------------

// The fixed part of a record. The rest, for T terms: the text strengths
// (T x 32 bits), where the best and the first shown hit lie (32 bits each
// for the first HitOffsetLimit terms, for the excerpts) and the title,
// description, keywords and address strengths (T x 16 bits each, which
// their few hundred bytes cannot fill).
struct MatchHead {
    uint32_t walkNumber;
    uint32_t modified;
    int32_t size;
    uint32_t textLength;
    uint16_t descriptionLength;
    uint16_t keywordsLength;
    uint8_t titleLength;
    uint8_t percent;
    uint16_t addressLength;
};

constexpr int ShortFieldCount = 4;

constexpr uint32_t NoOffset = UINT32_MAX;

struct MatchRecord {
    MatchHead* head;
    uint32_t* text;
    uint32_t* hitOffsets;
    uint32_t* shownOffsets;
    uint16_t* shortFields[ShortFieldCount];  // title, description, keywords, address
};

int ShortField(int field) { return field == FieldAddress ? ShortFieldCount - 1 : field; }

int32_t OffsetCount(int32_t termCount) { return std::min(termCount, HitOffsetLimit); }

MatchRecord View(char* bytes, int32_t termCount)
{
    MatchRecord record;
    record.head = reinterpret_cast<MatchHead*>(bytes);
    record.text = reinterpret_cast<uint32_t*>(bytes + sizeof(MatchHead));
    record.hitOffsets = record.text + termCount;
    record.shownOffsets = record.hitOffsets + OffsetCount(termCount);
    uint16_t* shortFields = reinterpret_cast<uint16_t*>(record.shownOffsets + OffsetCount(termCount));
    for (int field = 0; field < ShortFieldCount; ++field) record.shortFields[field] = shortFields + field * termCount;
    return record;
}

uint32_t Strength(const MatchRecord& record, int term, int field)
{
    return field == FieldText ? record.text[term] : record.shortFields[ShortField(field)][term];
}

uint16_t Short(uint32_t strength) { return static_cast<uint16_t>(std::min<uint32_t>(strength, ShortStrengthLimit)); }

// A place in a file, in 32 bits: one past 4 GB is as good as none (the
// excerpt then reads the file's start).
uint32_t ShortOffset(int64_t offset) { return offset < 0 || offset >= NoOffset ? NoOffset : static_cast<uint32_t>(offset); }

int64_t LongOffset(uint32_t offset) { return offset == NoOffset ? -1 : static_cast<int64_t>(offset); }

// A document's address: its path below the search path, with "/".
struct Address {
    char text[PathCapacity];
    int32_t length;
};

void AddressOf(const char* path, int32_t addressFrom, Address* address)
{
    const int32_t pathLength = static_cast<int32_t>(strlen(path));
    StrCopy(address->text, path + std::min(addressFrom, pathLength));
    address->length = pathLength - std::min(addressFrom, pathLength);
    for (char* at = address->text; *at; ++at)
        if (*at == '\\') *at = '/';
}

void FillRecord(const MatchRecord& record, uint32_t walkNumber, int32_t size, uint32_t modified,
                const ScannedDocument& document, const Address& address, const uint32_t* addressStrengths,
                int32_t termCount)
{
    MatchHead& head = *record.head;
    head.walkNumber = walkNumber;
    head.modified = modified;
    head.size = size;
    head.textLength = static_cast<uint32_t>(std::min<int64_t>(document.textLength, UINT32_MAX));
    head.descriptionLength = static_cast<uint16_t>(strlen(document.description));
    head.keywordsLength = static_cast<uint16_t>(strlen(document.keywords));
    head.titleLength = static_cast<uint8_t>(strlen(document.title));
    head.percent = static_cast<uint8_t>(document.percent);
    head.addressLength = static_cast<uint16_t>(address.length);
    for (int term = 0; term < termCount; ++term) {
        record.text[term] = document.strengths[term][FieldText];
        for (int field = 0; field < FieldText; ++field)
            record.shortFields[field][term] = Short(document.strengths[term][field]);
        record.shortFields[ShortField(FieldAddress)][term] = Short(addressStrengths[term]);
    }
    for (int term = 0; term < OffsetCount(termCount); ++term) {
        record.hitOffsets[term] = ShortOffset(document.hitOffsets[term]);
        record.shownOffsets[term] = ShortOffset(document.shownOffsets[term]);
    }
}

// ---- Chunks -----------------------------------------------------------------

// Room for `bytes` more at the end of the chunks, or nullptr when a new
// chunk would pass the budget.
char* Append(RelevanceRun* run, MatchChunks* chunks, int32_t bytes)
{
    if (chunks->count == 0 || chunks->used[chunks->count - 1] + bytes > MatchChunkBytes) {
        if (run->records.count + run->paths.count >= run->chunkBudget) return nullptr;
        chunks->chunk[chunks->count] = static_cast<char*>(MemAlloc(MatchChunkBytes, RelevanceModule, __LINE__));
        chunks->used[chunks->count++] = 0;
    }
    int32_t& used = chunks->used[chunks->count - 1];
    char* room = chunks->chunk[chunks->count - 1] + used;
    used += bytes;
    return room;
}

void FreeChunks(MatchChunks* chunks)
{
    for (int i = 0; i < chunks->count; ++i) MemFree(&chunks->chunk[i], MatchChunkBytes, RelevanceModule, __LINE__);
    chunks->count = 0;
}

int32_t RecordsPerChunk(const RelevanceRun& run) { return MatchChunkBytes / run.recordBytes; }

char* RecordAt(const RelevanceRun& run, uint32_t index)
{
    const uint32_t perChunk = static_cast<uint32_t>(RecordsPerChunk(run));
    return run.records.chunk[index / perChunk] + (index % perChunk) * static_cast<uint32_t>(run.recordBytes);
}

// A path is kept as the count of bytes it shares with the path before it
// (16 bits), the bytes that follow and a terminator.
int32_t SharedBytes(const char* a, const char* b)
{
    int32_t shared = 0;
    while (a[shared] && a[shared] == b[shared]) ++shared;
    return shared;
}

bool AppendPath(RelevanceRun* run, const char* path)
{
    const int32_t shared = SharedBytes(run->lastPath, path);
    const int32_t rest = static_cast<int32_t>(strlen(path + shared));
    char* room = Append(run, &run->paths, 2 + rest + 1);
    if (!room) return false;
    const uint16_t count = static_cast<uint16_t>(shared);
    memcpy(room, &count, 2);
    memcpy(room + 2, path + shared, static_cast<size_t>(rest) + 1);
    StrCopy(run->lastPath, path);
    return true;
}

// Reads the paths back in record order: each call gives the next.
struct PathReader {
    const MatchChunks* chunks;
    int32_t chunk = 0;
    int32_t at = 0;
    char path[PathCapacity] = "";

    const char* Next()
    {
        while (at == chunks->used[chunk]) {
            ++chunk;
            at = 0;
        }
        const char* bytes = chunks->chunk[chunk] + at;
        uint16_t shared = 0;
        memcpy(&shared, bytes, 2);
        const size_t rest = strlen(bytes + 2);
        memcpy(path + shared, bytes + 2, rest + 1);
        at += static_cast<int32_t>(2 + rest + 1);
        return path;
    }
};

}  // namespace

// ---- Fixed-point logarithm -----------------------------------------------------

// The integer part is the highest bit set; each bit of the fraction comes
// from squaring the mantissa (in [1, 2), 31 bits of fraction) once more.
int64_t FixedLog2(uint64_t value)
{
    int highest = 0;
    while (highest < 63 && (value >> (highest + 1)) != 0) ++highest;
    uint64_t mantissa = highest >= 31 ? value >> (highest - 31) : value << (31 - highest);
    int64_t result = static_cast<int64_t>(highest) << FixedFractionBits;
    for (int bit = FixedFractionBits - 1; bit >= 0; --bit) {
        mantissa = (mantissa * mantissa) >> 31;
        if (mantissa >= (uint64_t{1} << 32)) {
            mantissa >>= 1;
            result |= int64_t{1} << bit;
        }
    }
    return result;
}

namespace {

// ---- Scoring ----------------------------------------------------------------

// What every record's score shares: each term's inverse document frequency
// and each field's average length, from the counts so far (the final ones
// after the walk).
struct Scorer {
    const RelevanceModel* model;
    int32_t termCount;
    bool counted[PatternSetLimit];  // the term of a word that is not excluded
    double inverseFrequency[PatternSetLimit];
    double averageLength[RankedFieldCount];
};

// ln(1 + (N - n + 0.5) / (n + 0.5)) in base 2: log2(2N + 2) - log2(2n + 1),
// which is above 0 whenever the term is held at all.
double InverseFrequency(int64_t documents, int32_t holding)
{
    const int64_t difference = FixedLog2(static_cast<uint64_t>(2 * documents + 2)) -
                               FixedLog2(static_cast<uint64_t>(2 * static_cast<int64_t>(holding) + 1));
    return static_cast<double>(difference) / static_cast<double>(int64_t{1} << FixedFractionBits);
}

Scorer MakeScorer(const RelevanceRun& run)
{
    Scorer scorer{};
    const SearchExpression& expression = *run.plan->expression;
    scorer.model = run.model;
    scorer.termCount = expression.termCount;
    for (int i = 0; i < expression.wordCount; ++i) {
        const SearchWord& word = expression.words[i];
        if (word.term >= 0 && !(word.flags & WordExcluded)) scorer.counted[word.term] = true;
    }
    const SiteCounts& counts = run.counts;
    for (int term = 0; term < scorer.termCount; ++term)
        scorer.inverseFrequency[term] = InverseFrequency(counts.documents, counts.holding[term]);
    for (int field = 0; field < RankedFieldCount; ++field)
        scorer.averageLength[field] = counts.holdingAny > 0 ? static_cast<double>(counts.fieldBytes[field]) /
                                                                  static_cast<double>(counts.holdingAny)
                                                            : 0.0;
    return scorer;
}

uint32_t FieldLength(const MatchRecord& record, int field)
{
    switch (field) {
    case FieldTitle: return record.head->titleLength;
    case FieldDescription: return record.head->descriptionLength;
    case FieldKeywords: return record.head->keywordsLength;
    case FieldAddress: return record.head->addressLength;
    default: return record.head->textLength;
    }
}

// Every operation in a fixed order, none from a C library: the same bits
// on every platform. The sum over the terms is scaled by the share of the
// terms the document holds (coordination).
double Score(const Scorer& scorer, const MatchRecord& record)
{
    const RelevanceModel& model = *scorer.model;
    double norms[RankedFieldCount];
    for (int field = 0; field < RankedFieldCount; ++field) {
        const double b = model.lengthNormalisation[field];
        const double average = scorer.averageLength[field];
        norms[field] = average > 0.0 ? (1.0 - b) + b * static_cast<double>(FieldLength(record, field)) / average : 1.0;
    }
    double score = 0.0;
    int32_t counted = 0, held = 0;
    for (int term = 0; term < scorer.termCount; ++term) {
        if (!scorer.counted[term]) continue;
        ++counted;
        double frequency = 0.0;
        for (int field = 0; field < RankedFieldCount; ++field) {
            const uint32_t strength = Strength(record, term, field);
            if (strength == 0) continue;
            frequency += model.fieldWeight[field] * (static_cast<double>(strength) / WholeWordStrength) / norms[field];
        }
        if (frequency == 0.0) continue;
        ++held;
        score += scorer.inverseFrequency[term] * frequency * (model.saturation + 1.0) / (model.saturation + frequency);
    }
    return counted > 0 ? score * held / counted : 0.0;
}

// ---- Order ------------------------------------------------------------------

struct Ranked {
    double score;
    uint32_t modified;
    int32_t size;
    uint32_t walkNumber;
    uint32_t index;  // the record's
};

// Score first (Percent and Weight alike), or date or size first with the
// score second; then the later modified, then the later scanned.
bool RanksAbove(const Ranked& a, const Ranked& b, int32_t sortMode)
{
    if (sortMode == SortByDate && a.modified != b.modified) return a.modified > b.modified;
    if (sortMode == SortBySize && a.size != b.size) return a.size > b.size;
    if (a.score != b.score) return a.score > b.score;
    if (a.modified != b.modified) return a.modified > b.modified;
    return a.walkNumber > b.walkNumber;
}

// The best ResultSlotCount records (at most), best first.
int32_t SelectBest(const RelevanceRun& run, Ranked* best)
{
    const Scorer scorer = MakeScorer(run);
    const int32_t sortMode = run.sortMode;
    auto worseFirst = [sortMode](const Ranked& a, const Ranked& b) { return RanksAbove(a, b, sortMode); };
    int32_t kept = 0;
    for (uint32_t index = 0; index < run.recordCount; ++index) {
        const MatchRecord record = View(RecordAt(run, index), scorer.termCount);
        const MatchHead& head = *record.head;
        const Ranked ranked{Score(scorer, record), head.modified, head.size, head.walkNumber, index};
        if (kept == ResultSlotCount) {
            if (!RanksAbove(ranked, best[0], sortMode)) continue;
            std::pop_heap(best, best + kept, worseFirst);
            --kept;
        }
        best[kept++] = ranked;
        std::push_heap(best, best + kept, worseFirst);
    }
    std::sort(best, best + kept, worseFirst);
    return kept;
}

// ---- Compaction -------------------------------------------------------------

// The budget is spent: only the best ResultSlotCount by the counts so far
// stay, with their paths, in new chunks; the rest are passed over.
void KeepOnlyTheBest(RelevanceRun* run)
{
    Ranked best[ResultSlotCount];
    const int32_t kept = SelectBest(*run, best);
    std::sort(best, best + kept, [](const Ranked& a, const Ranked& b) { return a.index < b.index; });
    MatchChunks oldRecords = run->records, oldPaths = run->paths;
    const uint32_t oldCount = run->recordCount;
    run->records = MatchChunks{};
    run->paths = MatchChunks{};
    run->recordCount = 0;
    run->lastPath[0] = '\0';
    RelevanceRun old = *run;
    old.records = oldRecords;
    PathReader paths{&oldPaths};
    int32_t next = 0;
    for (uint32_t index = 0; index < oldCount && next < kept; ++index) {
        const char* path = paths.Next();
        if (best[next].index != index) continue;
        ++next;
        char* room = Append(run, &run->records, run->recordBytes);
        memcpy(room, RecordAt(old, index), static_cast<size_t>(run->recordBytes));
        AppendPath(run, path);
        ++run->recordCount;
    }
    run->passedOver += oldCount - static_cast<uint32_t>(kept);
    FreeChunks(&oldRecords);
    FreeChunks(&oldPaths);
}

void CountDocument(SiteCounts* counts, int32_t termCount, const ScannedDocument& document, int32_t addressLength)
{
    ++counts->documents;
    bool holdsAny = false;
    for (int term = 0; term < termCount; ++term) {
        const uint32_t* strengths = document.strengths[term];
        if (!(strengths[FieldTitle] | strengths[FieldDescription] | strengths[FieldKeywords] | strengths[FieldText]))
            continue;
        ++counts->holding[term];
        holdsAny = true;
    }
    if (!holdsAny) return;
    ++counts->holdingAny;
    counts->fieldBytes[FieldTitle] += static_cast<int64_t>(strlen(document.title));
    counts->fieldBytes[FieldDescription] += static_cast<int64_t>(strlen(document.description));
    counts->fieldBytes[FieldKeywords] += static_cast<int64_t>(strlen(document.keywords));
    counts->fieldBytes[FieldText] += document.textLength;
    counts->fieldBytes[FieldAddress] += addressLength;
}

bool KeepRecord(RelevanceRun* run, const char* path, int32_t size, uint32_t modified, const ScannedDocument& document,
                const Address& address)
{
    char* room = Append(run, &run->records, run->recordBytes);
    if (!room) return false;
    if (!AppendPath(run, path)) {
        run->records.used[run->records.count - 1] -= run->recordBytes;  // the record goes with it
        return false;
    }
    uint32_t addressStrengths[PatternSetLimit];
    CountAddressStrengths(*run->plan, address.text, address.text + address.length, addressStrengths);
    FillRecord(View(room, run->plan->expression->termCount), run->filed, size, modified, document, address,
               addressStrengths, run->plan->expression->termCount);
    ++run->recordCount;
    return true;
}

void FillEntry(ResultEntry* entry, const MatchRecord& record, const char* path, double score, int32_t termCount)
{
    *entry = ResultEntry{};
    StrCopy(entry->path, path);
    for (char* at = entry->path; *at; ++at)
        if (*at == '\\') *at = '/';
    entry->size = record.head->size;
    entry->modified = record.head->modified;
    entry->percent = record.head->percent;
    // Shown with two decimals: the nearest hundredth, so no printf rounds a tie.
    entry->weight = static_cast<double>(static_cast<int64_t>(score * 100.0 + 0.5)) / 100.0;
    for (int term = 0; term < HitOffsetLimit; ++term) {
        const bool kept = term < OffsetCount(termCount);
        entry->hitOffsets[term] = kept ? LongOffset(record.hitOffsets[term]) : -1;
        entry->shownOffsets[term] = kept ? LongOffset(record.shownOffsets[term]) : -1;
    }
}

}  // namespace

int32_t MatchRecordBytes(int32_t termCount)
{
    const int32_t bytes = static_cast<int32_t>(sizeof(MatchHead)) + 4 * termCount + 8 * OffsetCount(termCount) +
                          2 * ShortFieldCount * termCount;
    return (bytes + 3) / 4 * 4;
}

void StartRelevance(RelevanceRun* run, const SearchPlan* plan, int32_t sortMode, const char* searchPath,
                    int32_t chunkBudget, const RelevanceModel* model)
{
    CORV_CHECK_POINTER(RelevanceModule, run);
    CORV_CHECK_POINTER(RelevanceModule, plan);
    memset(run, 0, sizeof *run);
    run->plan = plan;
    run->model = model;
    run->sortMode = sortMode;
    run->addressFrom = static_cast<int32_t>(strlen(searchPath));
    run->recordBytes = MatchRecordBytes(plan->expression->termCount);
    // Room at least for the best ResultSlotCount records, their paths (at
    // most 322 bytes each: one chunk) and one more record, so that keeping
    // only the best always makes room.
    const int32_t perChunk = MatchChunkBytes / run->recordBytes;
    const int32_t least = (ResultSlotCount + 1 + perChunk - 1) / perChunk + 1;
    run->chunkBudget = std::min(std::max(chunkBudget, least), MatchChunkLimit);
}

void FileForRelevance(RelevanceRun* run, const char* path, int32_t size, uint32_t modified,
                      const ScannedDocument& document)
{
    Address address;
    AddressOf(path, run->addressFrom, &address);
    CountDocument(&run->counts, run->plan->expression->termCount, document, address.length);
    ++resultList.filesScanned;
    if (!document.matched) return;
    ++resultList.matchedTotal;
    if (!KeepRecord(run, path, size, modified, document, address)) {
        KeepOnlyTheBest(run);
        KeepRecord(run, path, size, modified, document, address);
    }
    ++run->filed;
}

void RankByRelevance(RelevanceRun* run)
{
    Ranked best[ResultSlotCount];
    const int32_t kept = SelectBest(*run, best);
    int32_t order[ResultSlotCount];  // places in `best`, by record
    for (int32_t i = 0; i < kept; ++i) order[i] = i;
    std::sort(order, order + kept, [&best](int32_t a, int32_t b) { return best[a].index < best[b].index; });
    PathReader paths{&run->paths};
    const int32_t termCount = run->plan->expression->termCount;
    int32_t next = 0;
    for (uint32_t index = 0; index < run->recordCount && next < kept; ++index) {
        const char* path = paths.Next();
        const Ranked& ranked = best[order[next]];
        if (ranked.index != index) continue;
        FillEntry(&resultList.slots[order[next]], View(RecordAt(*run, index), termCount), path, ranked.score,
                  termCount);
        ++next;
    }
    for (int32_t i = 0; i < kept; ++i) {
        ResultEntry* entry = &resultList.slots[i];
        entry->prev = i > 0 ? entry - 1 : nullptr;
        entry->next = i + 1 < kept ? entry + 1 : nullptr;
    }
    resultList.head = kept > 0 ? &resultList.slots[0] : nullptr;
    resultList.tail = kept > 0 ? &resultList.slots[kept - 1] : nullptr;
    resultList.linkedCount = kept;
    resultList.resultCount = std::min(kept, ResultLimit);
    FreeChunks(&run->records);
    FreeChunks(&run->paths);
    run->recordCount = 0;
}

void TakeShownTexts(const SearchPlan* plan, int32_t first, int32_t count)
{
    char* block = static_cast<char*>(MemAlloc(ScanBufferSize, RelevanceModule, __LINE__));
    int32_t position = 0;
    for (ResultEntry* entry = resultList.head; entry && position < first + count; entry = entry->next, ++position) {
        if (position < first) continue;
        ScannedDocument texts;
        texts.title[0] = texts.description[0] = texts.keywords[0] = '\0';
        char path[PathCapacity];
        StrCopy(path, entry->path);
        SlashesToBackslashes(path);
        PlatFileGuard file(PlatOpen(path, PlatReadText));
        const int got = file ? PlatRead(file.get(), block, ScanBufferSize - 1) : 0;
        if (got > 0) {
            block[got] = '\0';
            TakeFirstBlockTexts(plan->tags, block, block + got, &texts);
        }
        StrCopy(entry->title, texts.title[0] ? texts.title : "Untitled");
        StrCopy(entry->description, texts.description[0] ? texts.description : "...No description given...");
    }
    MemFree(&block, ScanBufferSize, RelevanceModule, __LINE__);
}
