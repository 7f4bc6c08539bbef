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

void ExtractTitle(const TagPatterns& tags, const char* data, const char* end, char* title)
{
    title[0] = '\0';
    const char* hit = nullptr;
    if (!FindPattern(&tags.title, data, end, &hit)) return;
    const char* at = static_cast<const char*>(memchr(hit, '>', static_cast<size_t>(end - hit)));
    if (!at) return;
    ++at;
    int copied = 0;
    while (at < end && *at != '<' && copied < TitleCharacterLimit) title[copied++] = *at++;
    title[copied] = '\0';
    if (copied == TitleCharacterLimit) StrAppend(title, "...");
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
// before it end inside one.
struct RegionScan {
    const SearchPlan* plan;
    TermCounts* counts;
    const char* start;
    const char* end;
    double weight;
    int64_t offset;
    bool markup;
    bool inTag;
    FoldedTail* tail = nullptr;  // under folding, where more text follows: hits wait there for the character after them
    int64_t (*offsetOf)(const void* map, int32_t at) = nullptr;
    const void* offsetMap = nullptr;
};

// A hit inside a tag (an attribute's value, say) is not one a visitor sees:
// the last "<" or ">" before it tells, as far as the region goes.
bool ShownAt(const RegionScan& scan, const char* hit)
{
    return !scan.markup || !InTagAt(scan.start, hit, scan.inTag);
}

// How much a hit counts by the byte on each side of it.
void ContextOfHit(const RegionScan& scan, int term, const char* hit, double* left, double* right)
{
    const SearchTerm& searched = scan.plan->expression->terms[term];
    const ContextFactors& factors = scan.plan->factors;
    const int length = searched.pattern->length;
    *left = *right = 1.0;
    if (!(searched.flags & WordAnyPrefix)) *left = factors.left[hit > scan.start ? static_cast<unsigned char>(hit[-1]) : 0];
    if (!(searched.flags & WordAnySuffix)) {
        unsigned char after = hit + length < scan.end ? static_cast<unsigned char>(hit[length]) : 0;
        bool endsInS = (hit[length - 1] | 0x20) == 's';
        *right = endsInS ? factors.rightAfterS[after] : factors.right[after];
    }
}

// Counts a hit of `score` in a region of `weight` that lies at `offset` in
// the stored file (-1 outside the text); shown() tells, when asked, whether
// a visitor sees it.
template <typename Shown>
void CountHit(TermCounts& counts, double score, double weight, int64_t offset, Shown shown)
{
    if (score > counts.best) counts.best = score;
    if (offset >= 0 && score > counts.textBest) {
        counts.textBest = score;
        counts.textOffset = offset;
    }
    if (offset >= 0 && counts.shownOffset < 0 && shown()) counts.shownOffset = offset;
    counts.total += score * score * weight;
    counts.found = 1;
}

void ScoreHit(void* region, int term, const char* hit)
{
    const RegionScan& scan = *static_cast<const RegionScan*>(region);
    double left, right;
    ContextOfHit(scan, term, hit, &left, &right);
    const int64_t offset = scan.offset >= 0 ? scan.offset + (hit - scan.start) : -1;
    CountHit(scan.counts[term], left * right, scan.weight, offset, [&] { return ShownAt(scan, hit); });
}

// ---- Under folding -----------------------------------------------------------------

int64_t FoldedOffset(const RegionScan& scan, const char* hit)
{
    if (scan.offset < 0) return -1;
    const int32_t at = static_cast<int32_t>(hit - scan.start);
    return scan.offsetOf ? scan.offsetOf(scan.offsetMap, at) : scan.offset + at;
}

// A hit waits at the end of a block for the character after it, which the
// bytes it ends with have begun (all that wait there wait for the same).
void WaitForNextCharacter(const RegionScan& scan, int term, const char* hit, double score)
{
    FoldedTail& tail = *scan.tail;
    const char* after = hit + scan.plan->expression->terms[term].pattern->length;
    tail.byteCount = static_cast<int32_t>(scan.end - after);
    memcpy(tail.bytes, after, static_cast<size_t>(tail.byteCount));
    tail.hits[tail.hitCount++] = PendingHit{term, score, scan.weight, FoldedOffset(scan, hit), ShownAt(scan, hit)};
}

// Under folding: no hit ends before a character's marks; a side of a term of
// a script written without spaces counts as a word's end.
void ScoreFoldedHit(void* region, int term, const char* hit)
{
    const RegionScan& scan = *static_cast<const RegionScan*>(region);
    const FoldedHitEnd ending = FoldedEndOfHit(hit + scan.plan->expression->terms[term].pattern->length, scan.end);
    if (ending == FoldedHitEnd::Continues) return;
    double left, right;
    ContextOfHit(scan, term, hit, &left, &right);
    const uint8_t edges = scan.plan->termEdges[term];
    if (edges & TermStartsUnspaced) left = 1.0;
    if (edges & TermEndsUnspaced) right = 1.0;
    if (ending == FoldedHitEnd::Unknown && scan.tail) {
        WaitForNextCharacter(scan, term, hit, left * right);
        return;
    }
    CountHit(scan.counts[term], left * right, scan.weight, FoldedOffset(scan, hit), [&] { return ShownAt(scan, hit); });
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
    const FoldedHitEnd ending = FoldedEndOfHit(tail.bytes, tail.bytes + tail.byteCount);
    if (ending == FoldedHitEnd::Unknown && !ended) return;  // the character is not whole yet
    if (ending != FoldedHitEnd::Continues)
        for (int32_t i = 0; i < tail.hitCount; ++i) {
            const PendingHit& hit = tail.hits[i];
            CountHit(context->counts[hit.term], hit.score, hit.weight, hit.offset, [&] { return hit.shown; });
        }
    tail.hitCount = tail.byteCount = 0;
}

PatternHitHandler HitHandler(const SearchPlan& plan) { return plan.folding == CaseFoldAscii ? ScoreHit : ScoreFoldedHit; }

// A title or META text, folded as the plan folds.
void ScanFoldedRegion(ScanContext* context, double weight, const char* text)
{
    char folded[FoldOutputCapacity(DescriptionCapacity)];
    const int length = FoldWord(context->plan->folding, text, static_cast<int>(strlen(text)), folded, sizeof folded);
    int unused = 0;
    if (length > 0) ScanRegion(context, weight, folded, folded + length, &unused);
}

}  // namespace

void ScoreFirstBlock(ScanContext* context, char* data, const char* end, ScannedDocument* texts)
{
    ExtractTitle(context->plan->tags, data, end, texts->title);
    ExtractMetaTags(context->plan->tags, data, end, texts);
    int unused = 0;
    const char* regions[3] = {texts->title, texts->description, texts->keywords};
    const double weights[3] = {TitleWeight, DescriptionWeight, KeywordsWeight};
    const int64_t blockOffset = context->blockOffset;
    context->blockOffset = -1;  // hits here are not in the text
    for (int i = 0; i < 3; ++i) {
        if (!regions[i][0]) continue;
        if (context->plan->folding != CaseFoldAscii) ScanFoldedRegion(context, weights[i], regions[i]);
        else ScanRegion(context, weights[i], regions[i], regions[i] + strlen(regions[i]), &unused);
    }
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
    else if (context->plan->folding != CaseFoldAscii) ScoreFoldedFileText(context, file.get(), document);
    else ScoreFileText(context, file.get(), document);
    // Part of it could not be read: its score would not be its own.
    document->unreadable = PlatReadFailed(file.get()) != 0;
    if (document->unreadable) return false;
    int found = 0;
    document->matched = ScoreDocument(context, &found, &document->percent, &document->weight);
    for (int i = 0; i < HitOffsetLimit; ++i) {
        const bool counted = i < context->plan->expression->termCount;
        document->hitOffsets[i] = counted ? context->counts[i].textOffset : -1;
        document->shownOffsets[i] = counted ? context->counts[i].shownOffset : -1;
    }
    return true;
}

int ResetWordStats(ScanContext* context)
{
    for (int i = 0; i < context->plan->expression->termCount; ++i)
        context->counts[i] = TermCounts{0.0, 0.0, 0, 0.0, -1, -1};
    context->inTag = false;
    context->tail.hitCount = context->tail.byteCount = 0;
    return 1;
}

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

int ScanRegion(ScanContext* context, double weight, const char* start, const char* end, int* longestWord)
{
    const SearchExpression& expression = *context->plan->expression;
    *longestWord = expression.longestTerm;
    if (expression.termCount == 0) return 1;
    RegionScan region{context->plan,       context->counts,         start, end, weight, context->blockOffset,
                      !context->plan->textOnly, context->inTag};
    FindPatternSet(expression.termPatterns, start, end, HitHandler(*context->plan), &region);
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
        RegionScan region{context->plan, context->counts, buffer, buffer + dataLength, BodyWeight, context->blockOffset,
                          true,          context->inTag,  &context->tail, context->offsetOf, context->offsetMap};
        FindPatternSet(context->plan->expression->termPatterns, buffer, buffer + dataLength, ScoreFoldedHit, &region);
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
    HitHandler(*scan.region.plan)(&scan.region, term, hit);
}

}  // namespace

void ScanTextStretch(ScanContext* context, const char* start, const char* end, bool final, int32_t* from,
                     int64_t (*offsetOf)(const void* map, int32_t at), const void* map)
{
    StretchScan scan{RegionScan{context->plan, context->counts, start, end, BodyWeight, 0, false, false}, final, from,
                     offsetOf, map};
    FindPatternSetFrom(context->plan->expression->termPatterns, start, end, from, ScoreStretchHit, &scan);
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
