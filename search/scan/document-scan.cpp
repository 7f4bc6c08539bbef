// filesrch: the document scanner. Reads one file through its thread's block,
// takes its title and META texts, and scores every hit of every search term in
// one pass per region, from the plan alone.
#include "document-scan.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "corv-core.h"
#include "corv-str.h"
#include "visible-text.h"

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

// Whether a META tag's text can name the description or the keywords. Its
// tokens are its bytes but for the backslashes they hold back, so a tag with
// neither word and no backslash cannot, and needs no tokens: most of a
// page's META tags are of other kinds.
bool MayNameMetaText(const char* tagText)
{
    for (const char* at = tagText; *at; ++at) {
        const unsigned char byte = FoldAsciiUpper(static_cast<unsigned char>(*at));
        if (byte == '\\') return true;
        if (byte == 'D' && StrEqualNoCaseN(at, "description", 11)) return true;
        if (byte == 'K' && StrEqualNoCaseN(at, "keywords", 8)) return true;
    }
    return false;
}

void ApplyMetaTag(const char* tagText, ScannedDocument* texts)
{
    if (!MayNameMetaText(tagText)) return;
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

// Where taking the text of a META tag from `position` stops blanking it: its
// ">", the end, or where the copy is full.
const char* BlankedEnd(const char* position, const char* end)
{
    const char* const limit = end - position > TagTextCapacity - 1 ? position + (TagTextCapacity - 1) : end;
    const void* greater = memchr(position, '>', static_cast<size_t>(limit - position));
    return greater ? static_cast<const char*>(greater) : limit;
}

// Takes the META texts and blanks each tag, so it is not scored again. Read
// for main content, the same search of the block tells whether a robots
// META tag asks not to be found: each tag's robots are read before it is
// blanked, with those of any "<META" that the blanking takes, as a search of
// the block as read would meet them.
void ExtractMetaTags(const TagPatterns& tags, char* data, const char* end, bool lookForNoIndex, ScannedDocument* texts)
{
    const TextPattern& meta = tags.meta;
    char tagText[TagTextCapacity];
    const char* hit = nullptr;
    char* position = data;
    texts->noIndex = false;
    bool looking = lookForNoIndex;
    while (FindPattern(&meta, position, end, &hit)) {
        position = const_cast<char*>(hit) + meta.length;
        if (looking) {
            const int32_t verdict = RobotsVerdict(tags, data, hit, BlankedEnd(position, end), end);
            texts->noIndex = verdict == RobotsNoIndex;
            looking = verdict == RobotsSilent;
        }
        if (!CopyTagText(position, end, tagText, tagText + TagTextCapacity, 1)) continue;
        ApplyMetaTag(tagText, texts);
    }
}

bool OpensTag(unsigned char byte) { return IsAsciiLetter(byte) || byte == '/' || byte == '!' || byte == '?'; }

// Whether `at` lies inside a tag, as the last "<" that opens one or ">"
// before it tells (at[0] may be read); `before` when no such byte lies
// within `reach` bytes back from `at` or after `start`. A tag longer than
// the reach (a long inline image, say) is taken to have ended.
bool InTagAt(const char* start, const char* at, bool before, ptrdiff_t reach = PTRDIFF_MAX)
{
    const char* stop = at - start > reach ? at - reach : start;
    for (const char* back = at; back > stop;) {
        --back;
        if (*back == '>') return false;
        if (*back == '<' && OpensTag(static_cast<unsigned char>(back[1]))) return true;
    }
    return stop == start ? before : false;
}

// How far back the end of a block is looked at for a tag still open.
constexpr ptrdiff_t TagReach = 4096;

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
        carry = ScoreBlock(context, dataLength, carry);
    }
}

// A region being scored: where it lies, its weight, whose counts grow, and
// where its block begins in the file (-1 outside the text); whether it is
// stored bytes, in which a hit may lie inside a tag, and whether the bytes
// before it end inside one. Relevance: the field its hits count in, where
// their strengths go, and the title's bytes, which the text leaves out.
struct RegionScan {
    const SearchPlan* plan;
    TermCounts* counts;
    const char* start;
    const char* end;
    double weight;
    int64_t offset;
    const int16_t* termOf;  // the term of each pattern found, or nullptr: the pattern is the term
    // The terms' patterns and scoring: the plan's, or as the stored bytes hold them (asStored).
    const PatternSet* patterns;
    const TermScoring* scoring;
    FoldedTail* tail;       // under folding, where more text follows: hits wait there for the character after them
    // Under folding, where in the stored file a byte of the region lies, when set.
    int64_t (*offsetOf)(const void* map, int32_t at);
    const void* offsetMap;
    bool asStored;  // under folding: the bytes are stored ones, read as what they fold to
    bool markup;
    ScanField field;
    FieldStrengths* strengths;
    const char* titleFrom;
    const char* titleTo;
    // For each term that has no hit outside a tag yet: whether the bytes at
    // tagKnownAt[term] are inside one, which moves on with its hits.
    bool inTag[PatternSetLimit];
    const char* tagKnownAt[PatternSetLimit];
};

// A hit inside a tag (an attribute's value, say) is not one a visitor sees:
// the last "<" or ">" before it tells. A term's hits in a region come in
// order, so the bytes looked back over since its last hit are enough, and
// each byte is looked at once for each term.
bool ShownAt(RegionScan& scan, int term, const char* hit)
{
    if (!scan.markup) return true;
    scan.inTag[term] = InTagAt(scan.tagKnownAt[term], hit, scan.inTag[term]);
    scan.tagKnownAt[term] = hit;
    return !scan.inTag[term];
}

// Relevance: a hit's strength (its score in four-hundredths) adds to its
// field's, unless it lies within the title's bytes in the text.
inline void AddStrength(RegionScan& scan, int term, const char* hit, unsigned char before, unsigned char after)
{
    const TermScoring& scoring = scan.scoring[term];
    if (hit >= scan.titleFrom && hit + scoring.length <= scan.titleTo) return;
    scan.strengths[term].field[scan.field] +=
        static_cast<uint64_t>(scoring.leftTwentieths[before] * scoring.rightTwentieths[after]);
}

// Classic: a hit's score, squared and weighted, adds to the term's total;
// relevance: its strength adds to its field's.
template <bool Relevance>
inline void ScoreHit(RegionScan& scan, int term, const char* hit)
{
    const TermScoring& scoring = scan.scoring[term];
    const unsigned char before = hit > scan.start ? static_cast<unsigned char>(hit[-1]) : 0;
    const unsigned char after = hit + scoring.length < scan.end ? static_cast<unsigned char>(hit[scoring.length]) : 0;
    const double score = scoring.left[before] * scoring.right[after];
    TermCounts& counts = scan.counts[term];
    if (score > counts.best) counts.best = score;
    if (scan.offset >= 0 && score > counts.textBest) {
        counts.textBest = score;
        counts.textOffset = scan.offset + (hit - scan.start);
    }
    // Only the first terms' places are kept for the excerpts.
    if (scan.offset >= 0 && counts.shownOffset < 0 && term < HitOffsetLimit && ShownAt(scan, term, hit))
        counts.shownOffset = scan.offset + (hit - scan.start);
    counts.found = 1;
    if (!Relevance) counts.total += score * score * scan.weight;
    else AddStrength(scan, term, hit, before, after);
}

// A document's address: its hits' strengths, nothing else.
struct AddressScan {
    const SearchPlan* plan;
    const char* start;
    const char* end;
    uint32_t* strengths;
};

void CountAddressHits(void* address, const PatternHit* hits, int count)
{
    const AddressScan& scan = *static_cast<const AddressScan*>(address);
    const bool folded = scan.plan->folding != CaseFoldAscii;
    for (int i = 0; i < count; ++i) {
        const int term = hits[i].pattern;
        const TermScoring& scoring = scan.plan->scoring[term];
        const char* hit = hits[i].at;
        if (folded && FoldedEndOfHit(hit + scoring.length, scan.end) == FoldedHitEnd::Continues) continue;
        const unsigned char before = hit > scan.start ? static_cast<unsigned char>(hit[-1]) : 0;
        const unsigned char after = hit + scoring.length < scan.end ? static_cast<unsigned char>(hit[scoring.length]) : 0;
        scan.strengths[term] += static_cast<uint32_t>(scoring.leftTwentieths[before] * scoring.rightTwentieths[after]);
    }
}

// Relevance: the region counts in `field`; in the text, the title's bytes
// (which lie in the first block) are marked to be left out.
void CountIn(const ScanContext& context, ScanField field, RegionScan* region)
{
    region->field = field;
    region->strengths = const_cast<FieldStrengths*>(context.strengths);
    region->titleFrom = region->titleTo = region->start;
    if (!context.plan->relevance || field != FieldText || context.titleTo <= context.titleFrom) return;
    const int64_t length = region->end - region->start;
    region->titleFrom = region->start + std::min(std::max<int64_t>(context.titleFrom - context.blockText, 0), length);
    region->titleTo = region->start + std::min(std::max<int64_t>(context.titleTo - context.blockText, 0), length);
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

// Calls onHit(term, hit) for each byte of [start, end) that is a term of one byte.
template <typename OnHit>
void FindByteTerms(const ByteTerms& bytes, const char* start, const char* end, OnHit onHit)
{
    for (const char* at = start; at < end; ++at) {
        const int term = bytes.termOf[static_cast<unsigned char>(*at)];
        if (term >= 0) onHit(term, at);
    }
}

// ---- Under folding -----------------------------------------------------------------

int64_t FoldedOffset(const RegionScan& scan, const char* hit)
{
    if (scan.offset < 0) return -1;
    const int32_t at = static_cast<int32_t>(hit - scan.start);
    return scan.offsetOf ? scan.offsetOf(scan.offsetMap, at) : scan.offset + at;
}

// Counts a hit of `score` in a region of `weight` that lies at `offset` in
// the stored file (-1 outside the text), and, when `shown`, is the first of
// its term that a visitor sees.
void CountHit(TermCounts& counts, double score, double weight, int64_t offset, bool shown)
{
    if (score > counts.best) counts.best = score;
    if (offset >= 0 && score > counts.textBest) {
        counts.textBest = score;
        counts.textOffset = offset;
    }
    if (shown && counts.shownOffset < 0) counts.shownOffset = offset;
    counts.total += score * score * weight;
    counts.found = 1;
}

// A hit waits at the end of a block for the character after it, which the
// bytes it ends with have begun (all that wait there wait for the same).
void WaitForNextCharacter(const RegionScan& scan, const PendingHit& pending, const char* after)
{
    FoldedTail& tail = *scan.tail;
    tail.byteCount = static_cast<int32_t>(scan.end - after);
    memcpy(tail.bytes, after, static_cast<size_t>(tail.byteCount));
    tail.hits[tail.hitCount++] = pending;
}

// Under folding no hit ends before a character's marks; a side of a term
// of a script written without spaces is a word's end (its factors say so).
// (The relevance ranking scores text whose blocks end at whole characters,
// with no tail.)
template <bool Relevance>
void ScoreFoldedHit(RegionScan& scan, int term, const char* hit)
{
    const TermScoring& scoring = scan.scoring[term];
    const char* after = hit + scoring.length;
    const CaseFolding folding = scan.plan->folding;
    const FoldedHitEnd ending = scan.asStored ? StoredEndOfHit(folding, after, scan.end) : FoldedEndOfHit(after, scan.end);
    if (ending == FoldedHitEnd::Continues) return;
    unsigned char before = hit > scan.start ? static_cast<unsigned char>(hit[-1]) : 0;
    unsigned char next = after < scan.end ? static_cast<unsigned char>(*after) : 0;
    if (scan.plan->keepsPunctuation) {  // punctuation outside ASCII counts as what it folds to
        if (before >= 0x80)
            before = scan.asStored ? StoredByteBefore(folding, scan.start, hit) : FoldedByteBefore(scan.start, hit);
        if (next >= 0x80) next = scan.asStored ? StoredByteAt(folding, after, scan.end) : FoldedByteAt(after, scan.end);
    }
    const double score = scoring.left[before] * scoring.right[next];
    const int64_t offset = FoldedOffset(scan, hit);
    const bool shown = offset >= 0 && scan.counts[term].shownOffset < 0 && term < HitOffsetLimit && ShownAt(scan, term, hit);
    if (!Relevance && ending == FoldedHitEnd::Unknown && scan.tail) {
        WaitForNextCharacter(scan, PendingHit{term, score, scan.weight, offset, shown}, after);
        return;
    }
    // The relevance ranking adds strengths, not scores.
    CountHit(scan.counts[term], score, Relevance ? 0.0 : scan.weight, offset, shown);
    if (Relevance) AddStrength(scan, term, hit, before, next);
}

// The bytes after the last block's end, as far as they come (all of them
// when the text ended): once they tell the character after the hits that
// wait, those count, unless it continues the character they end in.
void ResolveTail(ScanContext* context, const char* bytes, int count, bool ended)
{
    FoldedTail& tail = context->tail;
    if (tail.hitCount == 0) return;
    const int take = std::min(count, static_cast<int>(sizeof tail.bytes) - tail.byteCount);
    if (take > 0) memcpy(tail.bytes + tail.byteCount, bytes, static_cast<size_t>(take));
    tail.byteCount += std::max(take, 0);
    const char* const end = tail.bytes + tail.byteCount;
    const FoldedHitEnd ending =
        context->asStored ? StoredEndOfHit(context->plan->folding, tail.bytes, end) : FoldedEndOfHit(tail.bytes, end);
    if (ending == FoldedHitEnd::Unknown && !ended) return;  // the character is not whole yet
    if (ending != FoldedHitEnd::Continues)
        for (int32_t i = 0; i < tail.hitCount; ++i) {
            const PendingHit& hit = tail.hits[i];
            CountHit(context->counts[hit.term], hit.score, hit.weight, hit.offset, hit.shown);
        }
    tail.hitCount = tail.byteCount = 0;
}

template <bool Folded, bool Relevance>
inline void ScoreAnyHit(RegionScan& scan, int term, const char* hit)
{
    if (Folded) ScoreFoldedHit<Relevance>(scan, term, hit);
    else ScoreHit<Relevance>(scan, term, hit);
}

// A title or META text, folded as the plan folds.
void ScanFoldedRegion(ScanContext* context, double weight, const char* text, ScanField field)
{
    char folded[FoldOutputCapacity(DescriptionCapacity)];
    const int length = FoldWord(context->plan->folding, text, static_cast<int>(strlen(text)), folded, sizeof folded);
    int unused = 0;
    if (length > 0) ScanRegion(context, weight, folded, folded + length, &unused, field);
}

int TermOf(const RegionScan& scan, int pattern) { return scan.termOf ? scan.termOf[pattern] : pattern; }

template <bool Folded, bool Relevance>
void ScoreHits(void* region, const PatternHit* hits, int count)
{
    RegionScan& scan = *static_cast<RegionScan*>(region);
    for (int i = 0; i < count; ++i) ScoreAnyHit<Folded, Relevance>(scan, TermOf(scan, hits[i].pattern), hits[i].at);
}

// A region's hits: the terms of one byte through their table where there
// are several, the others through their set.
template <bool Folded, bool Relevance>
void ScoreRegionHits(RegionScan& region)
{
    const SearchPlan& plan = *region.plan;
    const ByteTerms& bytes = plan.byteTerms;
    if (bytes.count < 2) {
        FindPatternSet(region.patterns, region.start, region.end, ScoreHits<Folded, Relevance>, &region);
        return;
    }
    FindByteTerms(bytes, region.start, region.end,
                  [&region](int term, const char* hit) { ScoreAnyHit<Folded, Relevance>(region, term, hit); });
    region.termOf = bytes.otherTerm;
    if (bytes.others) FindPatternSet(bytes.others, region.start, region.end, ScoreHits<Folded, Relevance>, &region);
}

// A region's hits, scored as the plan folds and ranks.
void ScoreRegion(RegionScan& region)
{
    const SearchPlan& plan = *region.plan;
    if (plan.folding != CaseFoldAscii) plan.relevance ? ScoreRegionHits<true, true>(region) : ScoreRegionHits<true, false>(region);
    else plan.relevance ? ScoreRegionHits<false, true>(region) : ScoreRegionHits<false, false>(region);
}

// A region of the context's stored bytes or text, with the tag state the
// bytes before it end in (markup searched), counting in `field`; under
// folding, hits may wait for more text at its end in `tail`.
void StartRegion(ScanContext* context, const char* start, const char* end, double weight, ScanField field,
                 RegionScan* region, FoldedTail* tail = nullptr)
{
    region->plan = context->plan;
    region->counts = context->counts;
    region->start = start;
    region->end = end;
    region->weight = weight;
    region->offset = context->blockOffset;
    region->termOf = nullptr;
    region->tail = tail;
    region->offsetOf = tail ? context->offsetOf : nullptr;
    region->offsetMap = tail ? context->offsetMap : nullptr;
    region->asStored = tail && context->asStored;
    region->patterns = region->asStored ? context->plan->storedPatterns : context->plan->expression->termPatterns;
    region->scoring = region->asStored ? context->plan->storedScoring : context->plan->scoring;
    region->markup = !context->plan->textOnly;
    const int32_t termCount = context->plan->expression->termCount;
    for (int32_t term = 0; region->markup && term < termCount && term < HitOffsetLimit; ++term) {
        region->inTag[term] = context->inTag;
        region->tagKnownAt[term] = start;
    }
    CountIn(*context, field, region);
}

// How many bytes of text the first `count` bytes of a block give: as many,
// or under folding what they fold to (the text a relevance scan searches).
int64_t TextBytesOf(const ScanContext& context, const char* data, int64_t count)
{
    if (context.plan->folding == CaseFoldAscii) return count;
    FoldState fold;
    StartFolding(&fold, context.plan->folding, context.plan->keepsPunctuation);
    const int written = FoldText(&fold, data, static_cast<int>(count), context.folded, nullptr);
    return written + FinishFolding(&fold, context.folded + written, nullptr);
}

}  // namespace

void TakeFirstBlockTexts(const TagPatterns& tags, char* data, const char* end, ScannedDocument* texts)
{
    ExtractTitle(tags, data, end, texts->title);
    ExtractMetaTags(tags, data, end, false, texts);
}

void ScoreFirstBlock(ScanContext* context, char* data, const char* end, ScannedDocument* texts)
{
    const char* title = ExtractTitle(context->plan->tags, data, end, texts->title);
    ExtractMetaTags(context->plan->tags, data, end, context->plan->mainContent, texts);
    // Markup searched, the text holds the title's bytes once more.
    if (context->plan->relevance && !context->plan->textOnly && title) {
        const int64_t copied = std::min<int64_t>(strlen(texts->title), TitleCharacterLimit);  // "..." aside
        context->titleFrom = context->blockText + TextBytesOf(*context, data, title - data);
        context->titleTo = context->blockText + TextBytesOf(*context, data, title - data + copied);
    }
    int unused = 0;
    const char* regions[3] = {texts->title, texts->description, texts->keywords};
    const double weights[3] = {TitleWeight, DescriptionWeight, KeywordsWeight};
    const ScanField fields[3] = {FieldTitle, FieldDescription, FieldKeywords};
    const int64_t blockOffset = context->blockOffset;
    context->blockOffset = -1;  // hits here are not in the text
    for (int i = 0; i < 3; ++i) {
        if (!regions[i][0]) continue;
        if (context->plan->folding != CaseFoldAscii) ScanFoldedRegion(context, weights[i], regions[i], fields[i]);
        else ScanRegion(context, weights[i], regions[i], regions[i] + strlen(regions[i]), &unused, fields[i]);
    }
    context->blockOffset = blockOffset;
}

bool ScanDocument(ScanContext* context, const char* path, ScannedDocument* document)
{
    document->title[0] = document->description[0] = document->keywords[0] = '\0';
    document->matched = 0;
    document->marks = -1;
    PlatFailure failure = PlatFailureNone;
    PlatFileGuard file(PlatOpen(path, PlatReadText, &failure));
    document->unreadable = failure == PlatFailureResources;
    if (!file) return false;
    ResetWordStats(context);
    if (context->plan->textOnly) ScoreVisibleText(context, file.get(), document);
    else if (context->plan->relevance) ScoreStoredText(context, file.get(), document);
    else if (context->plan->folding != CaseFoldAscii) document->unreadable = !ScoreFoldedFileText(context, file.get(), document);
    else ScoreFileText(context, file.get(), document);
    // Part of it could not be read: its score would not be its own.
    document->unreadable = document->unreadable || PlatReadFailed(file.get()) != 0;
    if (document->unreadable) return false;
    int found = 0;
    document->matched = ScoreDocument(context, &found, &document->percent, &document->weight);
    for (int i = 0; i < HitOffsetLimit; ++i) {
        const bool counted = i < context->plan->expression->termCount;
        document->hitOffsets[i] = counted ? context->counts[i].textOffset : -1;
        document->shownOffsets[i] = counted ? context->counts[i].shownOffset : -1;
    }
    if (context->plan->relevance) KeepStrengths(*context, document);
    return true;
}

void CountAddressStrengths(const SearchPlan& plan, const char* address, const char* end, uint32_t* strengths)
{
    const SearchExpression& expression = *plan.expression;
    for (int term = 0; term < expression.termCount; ++term) strengths[term] = 0;
    if (expression.termCount == 0) return;
    char folded[FoldOutputCapacity(PathCapacity)];
    if (plan.folding != CaseFoldAscii) {  // compared as the words are
        const int length = FoldWord(plan.folding, address, static_cast<int>(end - address), folded, sizeof folded);
        if (length < 0) return;
        address = folded;
        end = folded + length;
    }
    AddressScan scan{&plan, address, end, strengths};
    FindPatternSet(expression.termPatterns, address, end, CountAddressHits, &scan);
}

int ResetWordStats(ScanContext* context)
{
    const int32_t termCount = context->plan->expression->termCount;
    for (int i = 0; i < termCount; ++i) context->counts[i] = TermCounts{0.0, 0.0, 0, 0.0, -1, -1};
    context->inTag = false;
    context->tail.hitCount = context->tail.byteCount = 0;
    if (!context->plan->relevance) return 1;
    for (int i = 0; i < termCount; ++i) context->strengths[i] = FieldStrengths{};
    context->textLength = 0;
    context->blockText = 0;
    context->titleFrom = context->titleTo = 0;
    return 1;
}

bool EndsInsideTag(const char* start, const char* at, bool before) { return InTagAt(start, at, before, TagReach); }

int32_t ScanBlockBytes(const SearchPlan& plan, int32_t blockSize)
{
    if (plan.folding == CaseFoldAscii) return blockSize + (plan.textOnly ? VisibleTextSlack : 0);
    // Text only, the folded text of a whole block as read fits, with a block's more;
    // else what folding a block's stored bytes writes after the bytes carried.
    if (plan.textOnly) return blockSize + FoldOutputCapacity(blockSize + VisibleTextSlack) + FoldOutputCapacity(0);
    return blockSize + FoldOutputCapacity(blockSize + ScanReadAhead(blockSize)) + FoldOutputCapacity(0);
}

int32_t ScanRawBytes(int32_t blockSize) { return blockSize + ScanReadAhead(blockSize); }

int32_t ScanFoldRoom(int32_t blockSize) { return blockSize + TextFilterCarry + FoldOutputCapacity(blockSize) + FoldOutputCapacity(0); }

int ScanRegion(ScanContext* context, double weight, const char* start, const char* end, int* longestWord,
               ScanField field)
{
    const SearchExpression& expression = *context->plan->expression;
    *longestWord = expression.longestTerm;
    if (expression.termCount == 0) return 1;
    RegionScan region;
    StartRegion(context, start, end, weight, field, &region);
    ScoreRegion(region);
    return 1;
}

int ScoreBlock(ScanContext* context, int dataLength, int carried, int following)
{
    char* buffer = context->block;
    int longest = context->plan->expression->longestTerm;
    if (context->plan->folding == CaseFoldAscii) {
        ScanRegion(context, BodyWeight, buffer, buffer + dataLength, &longest);
    } else if (context->plan->expression->termCount > 0) {
        ResolveTail(context, buffer + carried, dataLength - carried, false);
        RegionScan region;
        StartRegion(context, buffer, buffer + dataLength, BodyWeight, FieldText, &region, &context->tail);
        ScoreRegion(region);
    }
    const int carry = std::min(longest, dataLength);
    context->inTag = InTagAt(buffer, buffer + dataLength - carry, context->inTag, TagReach);
    memmove(buffer, buffer + dataLength - carry, static_cast<size_t>(carry + following));
    return carry;
}

void EndBlocks(ScanContext* context)
{
    const char nothing[1] = {0};
    ResolveTail(context, nothing, 0, true);
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

template <bool Folded, bool Relevance>
void ScoreStretchHit(StretchScan& scan, int term, const char* hit)
{
    const int32_t length = scan.region.scoring[term].length;
    if (!scan.final && hit + length >= scan.region.end) return;  // the next stretch counts it
    const int32_t at = static_cast<int32_t>(hit - scan.region.start);
    scan.from[term] = at + length;
    // ScoreHit places a hit at the region's offset plus the hit's place in it.
    const int64_t stored = scan.offsetOf(scan.map, at);
    scan.region.offset = stored < 0 ? -1 : stored - at;
    ScoreAnyHit<Folded, Relevance>(scan.region, term, hit);
}

template <bool Folded, bool Relevance>
void ScoreStretchHits(void* stretch, const PatternHit* hits, int count)
{
    StretchScan& scan = *static_cast<StretchScan*>(stretch);
    for (int i = 0; i < count; ++i)
        ScoreStretchHit<Folded, Relevance>(scan, TermOf(scan.region, hits[i].pattern), hits[i].at);
}

// The terms of one byte through their table, the others through their set,
// each term's search from where it left off.
template <bool Folded, bool Relevance>
void ScanStretchByBytes(StretchScan& scan, const ByteTerms& bytes)
{
    const char* start = scan.region.start;
    FindByteTerms(bytes, start, scan.region.end, [&scan, start](int term, const char* hit) {
        if (hit - start >= scan.from[term]) ScoreStretchHit<Folded, Relevance>(scan, term, hit);
    });
    if (!bytes.others) return;
    int32_t from[PatternSetLimit];
    for (int32_t pattern = 0; pattern < bytes.others->count; ++pattern) from[pattern] = scan.from[bytes.otherTerm[pattern]];
    scan.region.termOf = bytes.otherTerm;
    FindPatternSetFrom(bytes.others, start, scan.region.end, from, ScoreStretchHits<Folded, Relevance>, &scan);
}

template <bool Folded, bool Relevance>
void ScanStretch(StretchScan& scan)
{
    const SearchPlan& plan = *scan.region.plan;
    if (plan.byteTerms.count >= 2)
        ScanStretchByBytes<Folded, Relevance>(scan, plan.byteTerms);
    else
        FindPatternSetFrom(scan.region.patterns, scan.region.start, scan.region.end, scan.from,
                           ScoreStretchHits<Folded, Relevance>, &scan);
}

}  // namespace

void ScanTextStretch(ScanContext* context, const char* start, const char* end, bool final, int32_t* from,
                     int64_t (*offsetOf)(const void* map, int32_t at), const void* map)
{
    StretchScan scan;
    // Stored bytes only with the relevance ranking (markup searched), whose
    // tag state the context carries from block to block.
    StartRegion(context, start, end, BodyWeight, FieldText, &scan.region);
    scan.region.offset = 0;
    scan.final = final;
    scan.from = from;
    scan.offsetOf = offsetOf;
    scan.map = map;
    const bool folded = context->plan->folding != CaseFoldAscii;
    if (folded) context->plan->relevance ? ScanStretch<true, true>(scan) : ScanStretch<true, false>(scan);
    else context->plan->relevance ? ScanStretch<false, true>(scan) : ScanStretch<false, false>(scan);
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
