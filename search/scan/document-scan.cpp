// filesrch: the document scanner. Reads one file through its thread's block,
// takes its title and META texts, and scores every hit of every search term in
// one pass per region, from the plan alone.
#include "document-scan.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "corv-core.h"
#include "corv-str.h"

namespace {

constexpr double TitleWeight = 8.0;
constexpr double DescriptionWeight = 4.0;
constexpr double KeywordsWeight = 2.0;
constexpr double BodyWeight = 1.0;

// Copies the title; returns where its bytes begin in the data, or nullptr.
const char* ExtractTitle(const TagPatterns& tags, const char* data, const char* end, char* title)
{
    title[0] = '\0';
    const char* hit = nullptr;
    if (!FindPattern(&tags.title, data, end, &hit)) return nullptr;
    const char* at = static_cast<const char*>(memchr(hit, '>', static_cast<size_t>(end - hit)));
    if (!at) return nullptr;
    const char* first = ++at;
    int copied = 0;
    while (at < end && *at != '<' && copied < TitleCharacterLimit) title[copied++] = *at++;
    title[copied] = '\0';
    if (copied == TitleCharacterLimit) StrAppend(title, "...");
    return first;
}

void ApplyMetaTag(const char* tagText, ScannedDocument* texts)
{
    char* target = nullptr;
    bool expectName = false, expectContent = false;
    char token[MetaTokenSize + 1];
    char separator = 0;
    for (int index = 0; GetAttributeToken(tagText, index, token, MetaTokenSize, &separator); ++index) {
        if (expectName) {
            target = StrEqualNoCase(token, "description") ? texts->description
                     : StrEqualNoCase(token, "keywords")  ? texts->keywords
                                                          : nullptr;
            expectName = false;
        } else if (expectContent) {
            if (target) StrCopy(target, token);
            expectContent = false;
        } else if (separator == '=') {
            expectName = StrEqualNoCase(token, "name");
            expectContent = !expectName && StrEqualNoCase(token, "content");
        }
    }
}

// Takes the META texts and blanks each tag, so it is not scored again.
void ExtractMetaTags(const TagPatterns& tags, char* data, const char* end, ScannedDocument* texts)
{
    const TextPattern& meta = tags.meta;
    char tagText[TagTextCapacity];
    const char* hit = nullptr;
    char* position = data;
    while (FindPattern(&meta, position, end, &hit)) {
        position = const_cast<char*>(hit) + meta.length;
        if (!CopyTagText(position, end, tagText, tagText + TagTextCapacity, 1)) continue;
        ApplyMetaTag(tagText, texts);
    }
}

// Reads the file block by block, carrying the longest term's length of
// bytes from one block into the next so that a hit across the boundary is
// found (and, when it ends in the carried bytes, counted again).
void ScoreFileText(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    char* buffer = context->block;
    int carry = 0;
    for (;;) {
        context->blockOffset = PlatReadOffset(file) - carry;
        int got = PlatRead(file, buffer + carry, context->blockSize - 1 - carry);
        if (got <= 0) break;
        int dataLength = carry + got;
        buffer[dataLength] = '\0';
        if (carry == 0) ScoreFirstBlock(context, buffer, buffer + dataLength, texts);
        int longest = 0;
        ScanRegion(context, BodyWeight, buffer, buffer + dataLength, &longest);
        carry = std::min(longest, dataLength);
        memmove(buffer, buffer + dataLength - carry, static_cast<size_t>(carry));
    }
}

// A region being scored: where it lies, its weight, whose counts grow, and
// where its block begins in the file (-1 outside the text). Relevance: the
// field its hits count in, where their strengths go, and the title's bytes,
// which the text leaves out.
struct RegionScan {
    const SearchPlan* plan;
    TermCounts* counts;
    const char* start;
    const char* end;
    double weight;
    int64_t offset;
    ScanField field;
    FieldStrengths* strengths;
    const char* titleFrom;
    const char* titleTo;
};

// The factors a hit's neighbours give it, and in twentieths when asked.
struct HitFactors {
    double left, right;
    int32_t leftTwentieths, rightTwentieths;
};

template <bool Twentieths>
HitFactors FactorsOf(const SearchPlan& plan, int term, const char* hit, const char* start, const char* end)
{
    const SearchTerm& searched = plan.expression->terms[term];
    const ContextFactors& factors = plan.factors;
    const int length = searched.pattern->length;
    HitFactors hitFactors{1.0, 1.0, 20, 20};
    if (!(searched.flags & WordAnyPrefix)) {
        const unsigned char before = hit > start ? static_cast<unsigned char>(hit[-1]) : 0;
        hitFactors.left = factors.left[before];
        if (Twentieths) hitFactors.leftTwentieths = factors.leftTwentieths[before];
    }
    if (!(searched.flags & WordAnySuffix)) {
        unsigned char after = hit + length < end ? static_cast<unsigned char>(hit[length]) : 0;
        bool endsInS = (hit[length - 1] | 0x20) == 's';
        hitFactors.right = endsInS ? factors.rightAfterS[after] : factors.right[after];
        if (Twentieths)
            hitFactors.rightTwentieths = endsInS ? factors.rightAfterSTwentieths[after] : factors.rightTwentieths[after];
    }
    return hitFactors;
}

// Classic: a hit's score, squared and weighted, adds to the term's total.
// Relevance: its strength adds to its field's, unless it lies within the
// title's bytes in the text.
template <bool Relevance>
void ScoreHitAs(void* region, int term, const char* hit)
{
    const RegionScan& scan = *static_cast<const RegionScan*>(region);
    const HitFactors factors = FactorsOf<Relevance>(*scan.plan, term, hit, scan.start, scan.end);
    const double score = factors.left * factors.right;
    TermCounts& counts = scan.counts[term];
    if (score > counts.best) counts.best = score;
    if (scan.offset >= 0 && score > counts.textBest) {
        counts.textBest = score;
        counts.textOffset = scan.offset + (hit - scan.start);
    }
    counts.found = 1;
    if (!Relevance) {
        counts.total += score * score * scan.weight;
    } else if (hit < scan.titleFrom || hit + scan.plan->expression->terms[term].pattern->length > scan.titleTo) {
        scan.strengths[term].field[scan.field] +=
            static_cast<uint64_t>(factors.leftTwentieths * factors.rightTwentieths);
    }
}

void ScoreHit(void* region, int term, const char* hit) { ScoreHitAs<false>(region, term, hit); }
void CountHit(void* region, int term, const char* hit) { ScoreHitAs<true>(region, term, hit); }

// A document's address: its hits' strengths, nothing else.
struct AddressScan {
    const SearchPlan* plan;
    const char* start;
    const char* end;
    uint32_t* strengths;
};

void CountAddressHit(void* address, int term, const char* hit)
{
    const AddressScan& scan = *static_cast<const AddressScan*>(address);
    const HitFactors factors = FactorsOf<true>(*scan.plan, term, hit, scan.start, scan.end);
    scan.strengths[term] += static_cast<uint32_t>(factors.leftTwentieths * factors.rightTwentieths);
}

// A region of the context's block or text; relevance: in the text, the
// title's bytes (which lie in the first block) are marked to be left out.
RegionScan RegionOf(ScanContext* context, const char* start, const char* end, double weight, int64_t offset,
                    ScanField field)
{
    RegionScan region{context->plan, context->counts, start, end, weight, offset, field, context->strengths,
                      start, start};
    if (context->plan->relevance && field == FieldText && context->titleTo > context->titleFrom) {
        const int64_t length = end - start;
        region.titleFrom = start + std::min(std::max<int64_t>(context->titleFrom - context->blockText, 0), length);
        region.titleTo = start + std::min(std::max<int64_t>(context->titleTo - context->blockText, 0), length);
    }
    return region;
}

// Relevance: what the document's record is made of, each strength as far
// as 32 bits hold it.
void KeepStrengths(const ScanContext& context, ScannedDocument* document)
{
    for (int term = 0; term < context.plan->expression->termCount; ++term)
        for (int field = 0; field < FieldCount; ++field)
            document->strengths[term][field] =
                static_cast<uint32_t>(std::min<uint64_t>(context.strengths[term].field[field], UINT32_MAX));
    document->textLength = context.textLength;
}

}  // namespace

void TakeFirstBlockTexts(const TagPatterns& tags, char* data, const char* end, ScannedDocument* texts)
{
    ExtractTitle(tags, data, end, texts->title);
    ExtractMetaTags(tags, data, end, texts);
}

void ScoreFirstBlock(ScanContext* context, char* data, const char* end, ScannedDocument* texts)
{
    const char* title = ExtractTitle(context->plan->tags, data, end, texts->title);
    ExtractMetaTags(context->plan->tags, data, end, texts);
    // Markup searched, the text holds the title's bytes once more.
    if (context->plan->relevance && !context->plan->textOnly && title) {
        context->titleFrom = context->blockText + (title - data);
        const int64_t copied = std::min<int64_t>(strlen(texts->title), TitleCharacterLimit);  // "..." aside
        context->titleTo = context->titleFrom + copied;
    }
    int unused = 0;
    const char* regions[3] = {texts->title, texts->description, texts->keywords};
    const double weights[3] = {TitleWeight, DescriptionWeight, KeywordsWeight};
    const ScanField fields[3] = {FieldTitle, FieldDescription, FieldKeywords};
    const int64_t blockOffset = context->blockOffset;
    context->blockOffset = -1;  // hits here are not in the text
    for (int i = 0; i < 3; ++i)
        if (regions[i][0])
            ScanRegion(context, weights[i], regions[i], regions[i] + strlen(regions[i]), &unused, fields[i]);
    context->blockOffset = blockOffset;
}

bool ScanDocument(ScanContext* context, const char* path, ScannedDocument* document)
{
    document->title[0] = document->description[0] = document->keywords[0] = '\0';
    document->matched = 0;
    PlatFailure failure = PlatFailureNone;
    PlatFileGuard file(PlatOpen(path, PlatReadText, &failure));
    document->unreadable = failure == PlatFailureResources;
    if (!file) return false;
    ResetWordStats(context);
    if (context->plan->textOnly) ScoreVisibleText(context, file.get(), document);
    else if (context->plan->relevance) ScoreStoredText(context, file.get(), document);
    else ScoreFileText(context, file.get(), document);
    // Part of it could not be read: its score would not be its own.
    document->unreadable = PlatReadFailed(file.get()) != 0;
    if (document->unreadable) return false;
    int found = 0;
    document->matched = ScoreDocument(context, &found, &document->percent, &document->weight);
    for (int i = 0; i < HitOffsetLimit; ++i)
        document->hitOffsets[i] = i < context->plan->expression->termCount ? context->counts[i].textOffset : -1;
    if (context->plan->relevance) KeepStrengths(*context, document);
    return true;
}

void CountAddressStrengths(const SearchPlan& plan, const char* address, const char* end, uint32_t* strengths)
{
    const SearchExpression& expression = *plan.expression;
    for (int term = 0; term < expression.termCount; ++term) strengths[term] = 0;
    if (expression.termCount == 0) return;
    AddressScan scan{&plan, address, end, strengths};
    FindPatternSet(expression.termPatterns, address, end, CountAddressHit, &scan);
}

int ResetWordStats(ScanContext* context)
{
    const int32_t termCount = context->plan->expression->termCount;
    for (int i = 0; i < termCount; ++i) context->counts[i] = TermCounts{0.0, 0.0, 0, 0.0, -1};
    if (!context->plan->relevance) return 1;
    for (int i = 0; i < termCount; ++i) context->strengths[i] = FieldStrengths{};
    context->textLength = 0;
    context->blockText = 0;
    context->titleFrom = context->titleTo = 0;
    return 1;
}

int ScanRegion(ScanContext* context, double weight, const char* start, const char* end, int* longestWord,
               ScanField field)
{
    const SearchExpression& expression = *context->plan->expression;
    *longestWord = expression.longestTerm;
    if (expression.termCount == 0) return 1;
    RegionScan region = RegionOf(context, start, end, weight, context->blockOffset, field);
    FindPatternSet(expression.termPatterns, start, end, context->plan->relevance ? CountHit : ScoreHit, &region);
    return 1;
}

namespace {

// A stretch of visible text: hits are counted once, with the byte after
// them known, and each term's search goes on where it left off.
struct StretchScan {
    RegionScan region;
    bool final;
    int32_t* from;
    int64_t (*offsetOf)(const void* map, int32_t at);
    const void* map;
};

template <bool Relevance>
void ScoreStretchHit(void* stretch, int term, const char* hit)
{
    StretchScan& scan = *static_cast<StretchScan*>(stretch);
    const int32_t length = scan.region.plan->expression->terms[term].pattern->length;
    if (!scan.final && hit + length >= scan.region.end) return;  // the next stretch counts it
    const int32_t at = static_cast<int32_t>(hit - scan.region.start);
    scan.from[term] = at + length;
    // ScoreHit places a hit at the region's offset plus the hit's place in it.
    const int64_t stored = scan.offsetOf(scan.map, at);
    scan.region.offset = stored < 0 ? -1 : stored - at;
    ScoreHitAs<Relevance>(&scan.region, term, hit);
}

}  // namespace

void ScanTextStretch(ScanContext* context, const char* start, const char* end, bool final, int32_t* from,
                     int64_t (*offsetOf)(const void* map, int32_t at), const void* map)
{
    StretchScan scan{RegionOf(context, start, end, BodyWeight, 0, FieldText), final, from, offsetOf, map};
    FindPatternSetFrom(context->plan->expression->termPatterns, start, end, from,
                       context->plan->relevance ? ScoreStretchHit<true> : ScoreStretchHit<false>, &scan);
}

int ScoreDocument(const ScanContext* context, int* foundCount, double* percent, double* weight)
{
    *foundCount = 0;
    *percent = 0.0;
    *weight = 0.0;
    int considered = 0;
    double sumOfBests = 0.0;
    const SearchExpression& expression = *context->plan->expression;
    for (int i = 0; i < expression.wordCount; ++i) {
        const SearchWord& word = expression.words[i];
        if (word.term < 0) continue;
        const TermCounts& counts = context->counts[word.term];
        ++considered;
        sumOfBests += counts.best;
        *weight += counts.total;
        if (counts.found == 1) ++*foundCount;
        if ((word.flags & WordRequired) && !counts.found) return 0;
        if ((word.flags & WordExcluded) && counts.found) return 0;
    }
    if (*foundCount == 0) return 0;
    double found = *foundCount;
    *percent = std::floor((found / considered) * (sumOfBests / found) * 100.0);
    return 1;
}
