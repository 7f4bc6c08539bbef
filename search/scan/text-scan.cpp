// filesrch: the scans that count each hit once. Text only, a document whose
// bytes could give a term's text (see the filter) is read as it is stored,
// turned into its visible text piece by piece, and the text is scored in
// blocks that overlap by the few bytes a hit across their boundary needs:
// each hit is counted once, with the bytes on both sides of it, exactly as if
// the whole text were scored at once. Read for main content, a page that asks
// not to be found is not read, and where the page's marks void the text so
// far, its scores are taken back to those of its title and META texts and
// the text is read again. The relevance ranking scores the stored text of a
// document the same way when markup is searched. Under folding the text is
// folded as it comes, piece by piece, and the filter looks at the stored
// bytes folded.
#include <algorithm>
#include <cstring>

#include "document-scan.h"
#include "text-stream.h"

namespace {

// Pieces of the document fed to the reader at a time: where each piece's
// text begins in the block tells about where a hit lies in the stored file.
constexpr int32_t PieceBytes = 4096;
constexpr int PieceLimit = 256;

struct PieceMap {
    int count;
    int32_t text[PieceLimit];  // where the piece's text begins in the block
    int64_t stored[PieceLimit];  // where the piece begins in the stored file
};

int64_t StoredOffset(const void* pieces, int32_t at)
{
    const PieceMap& map = *static_cast<const PieceMap*>(pieces);
    int piece = map.count - 1;
    while (piece > 0 && map.text[piece] > at) --piece;
    if (piece < 0) return -1;
    // Text is never longer than what it was read from.
    return map.stored[piece] + (at - map.text[piece]);
}

struct TextBlock {
    ScanContext* context;
    VisibleTextStream stream;
    int32_t length;  // bytes of text in context->block
    int32_t from[PatternSetLimit];
    PieceMap pieces;
    bool folding;
    FoldState fold;                // the text folded so far
    FoldedFilterWindow filtered;   // the stored bytes, folded for the filter
    bool firstScored;  // the title and META texts are scored: their scores are in firstCounts
    TermCounts firstCounts[PatternSetLimit];
    FieldStrengths firstStrengths[PatternSetLimit];  // and for the relevance ranking, here
};

// The text read so far is void: none is held, counted or scored.
void DropText(TextBlock* block)
{
    ScanContext* context = block->context;
    block->stream.startedOver = false;
    block->length = 0;
    block->pieces.count = 0;
    context->textLength = context->blockText = 0;
    const int32_t terms = context->plan->expression->termCount;
    for (int32_t term = 0; term < terms; ++term) {
        block->from[term] = 0;
        if (!block->firstScored) continue;
        context->counts[term] = block->firstCounts[term];
        context->strengths[term] = block->firstStrengths[term];
    }
    // Characters held back for the marks that may follow them are void too.
    if (block->folding) StartFolding(&block->fold, context->plan->folding, context->plan->keepsPunctuation);
}

// Scores the title and META texts, and keeps their scores.
void ScoreFirst(TextBlock* block, char* raw, int32_t got, ScannedDocument* texts)
{
    ScanContext* context = block->context;
    raw[got] = '\0';
    ScoreFirstBlock(context, raw, raw + got, texts);  // which blanks META tags in raw
    block->firstScored = true;
    const int32_t terms = context->plan->expression->termCount;
    std::copy(context->counts, context->counts + terms, block->firstCounts);
    std::copy(context->strengths, context->strengths + terms, block->firstStrengths);
}

void NotePiece(TextBlock* block, int32_t text, int64_t stored)
{
    PieceMap& map = block->pieces;
    if (map.count == PieceLimit) {  // keep every other one
        for (int i = 0; i < PieceLimit / 2; ++i) {
            map.text[i] = map.text[2 * i];
            map.stored[i] = map.stored[2 * i];
        }
        map.count = PieceLimit / 2;
    }
    map.text[map.count] = text;
    map.stored[map.count++] = stored;
}

// Scores the text in the block; unless it is the last, keeps what a hit
// not yet counted may start in, and one byte before it for the hit's left
// (each term's search goes on where it left off, so nothing counts twice).
void ScoreBlock(TextBlock* block, bool final)
{
    ScanContext* context = block->context;
    ScanTextStretch(context, context->block, context->block + block->length, final, block->from, StoredOffset,
                    &block->pieces);
    if (final) return;
    // A hit not yet counted ends at or after the block's end.
    const SearchExpression& expression = *context->plan->expression;
    // (Punctuation read as what it folds to needs the whole character before.)
    const int32_t before = context->plan->keepsPunctuation ? 4 : 1;
    const int32_t keep = std::max(0, block->length - expression.longestTerm - before);
    if (!context->plan->textOnly) context->inTag = EndsInsideTag(context->block, context->block + keep, context->inTag);
    memmove(context->block, context->block + keep, static_cast<size_t>(block->length - keep));
    block->length -= keep;
    context->blockText += keep;
    for (int32_t term = 0; term < expression.termCount; ++term) block->from[term] = std::max(0, block->from[term] - keep);
    PieceMap& map = block->pieces;
    int first = 0;
    while (first + 1 < map.count && map.text[first + 1] <= keep) ++first;
    for (int i = first; i < map.count; ++i) {
        map.text[i - first] = std::max(0, map.text[i] - keep);
        map.stored[i - first] = map.stored[i];
    }
    map.count -= first;
}

// The text just written at `at` folded where it stands; at the text's end,
// what the folder held back follows.
int32_t FoldPieceText(TextBlock* block, char* at, int32_t count)
{
    int32_t written = FoldInPlace(&block->fold, at, count, block->context->folded, nullptr);
    if (block->stream.ended) written += FinishFolding(&block->fold, at + written, nullptr);
    return written;
}

// The text of the next piece of what the stream holds (at the document's
// end, the text held back), noting where the piece lies in the stored file.
void NextPiece(TextBlock* block, int32_t piece)
{
    const int32_t text = block->length;
    char* at = block->context->block + text;
    const int32_t written = NextVisibleText(&block->stream, at, piece);
    if (block->stream.startedOver) {
        DropText(block);
        return;
    }
    const int32_t length = block->folding ? FoldPieceText(block, at, written) : written;
    block->length += length;
    block->context->textLength += length;
    if (block->stream.fed > 0) NotePiece(block, text, block->stream.fedStored);
}

// Whether the block has room for the text of `piece` more bytes as read
// (folded, they may take three times as many).
bool HasRoomFor(const TextBlock& block, int32_t piece)
{
    const ScanContext& context = *block.context;
    if (!block.folding) return block.length + piece <= context.blockSize;
    return block.length + FoldOutputCapacity(piece + VisibleTextSlack) + FoldOutputCapacity(0) <=
           ScanBlockBytes(*context.plan, context.blockSize);
}

// The bytes the stream holds, a piece at a time: its first block as read,
// whose text fits the block whole (no text is longer than what it is read
// from; folded, the block has room for what folding writes).
void FeedFirstBlock(TextBlock* block)
{
    const VisibleTextStream& stream = block->stream;
    while (stream.rawAt < stream.rawEnd) NextPiece(block, std::min(PieceBytes, stream.rawEnd - stream.rawAt));
}

// Reads on to the text's end, scoring the block whenever it could not take
// another piece's text (the block holds VisibleTextSlack bytes beyond
// blockSize for the reader's room).
void FeedTheRest(TextBlock* block)
{
    ScanContext* context = block->context;
    VisibleTextStream* stream = &block->stream;
    while (!stream->ended) {
        int32_t piece = std::min(PieceBytes, FillTextStream(stream));
        if (!HasRoomFor(*block, piece)) {
            ScoreBlock(block, false);
            // Folded, a block has room for a whole piece's text once it is scored.
            if (!block->folding) piece = std::min(piece, context->blockSize - block->length);
        }
        NextPiece(block, piece);
    }
}

// Under folding: reads on through the filter alone, the stored bytes folded.
bool RestMayShowFoldedTerm(TextBlock* block)
{
    const TextFilter& filter = block->context->plan->filter;
    for (;;) {
        const int got = ReadStoredBytes(&block->stream, FoldedFilterSpace(&block->filtered), block->context->blockSize - 1);
        if (got <= 0) return FoldedNextMayShowTerm(filter, &block->filtered, 0, true, block->stream.raw);
        if (FoldedNextMayShowTerm(filter, &block->filtered, got, false, block->stream.raw)) return true;
    }
}

// Reads on through the filter alone, after the first block's last bytes:
// true once the bytes could give a term's text.
bool RestMayShowTerm(TextBlock* block, const char* last, int32_t lastCount)
{
    if (block->folding) return RestMayShowFoldedTerm(block);
    const TextFilter& filter = block->context->plan->filter;
    char window[TextFilterCarry + ScanBufferSize];
    int32_t kept = std::min(lastCount, TextFilterCarry);
    memcpy(window, last + lastCount - kept, static_cast<size_t>(kept));
    for (;;) {
        const int got = ReadStoredBytes(&block->stream, window + kept, block->context->blockSize - 1);
        if (got <= 0) return MayShowTerm(filter, window, kept, kept, true);
        const int32_t count = kept + got;
        if (MayShowTerm(filter, window, count, kept, false)) return true;
        kept = std::min(count, TextFilterCarry);
        memmove(window, window + count - kept, static_cast<size_t>(kept));
    }
}

// Read for main content, the first block's META tags may ask that the page
// not be found (the search for them that takes their texts tells, which is
// why that is known only once they are scored): then it is not a result at
// all, and nothing it scored counts.
bool AskedNotToBeFound(ScanContext* context, ScannedDocument* texts)
{
    if (!texts->noIndex) return false;
    ResetWordStats(context);
    texts->title[0] = texts->description[0] = texts->keywords[0] = '\0';
    return true;
}

// The first block as read gives the title and META texts, which are scored
// before the text, as they are when the whole text is scored. The text is
// read only when the document's bytes could give a term's text: false when
// they cannot, or the document cannot be read.
bool ScoreFirstBlockAndStartText(TextBlock* block, ScannedDocument* texts)
{
    ScanContext* context = block->context;
    VisibleTextStream* stream = &block->stream;
    char* raw = stream->raw;
    const int64_t stored = stream->rawStored;
    const int32_t got = FillTextStream(stream);
    if (got <= 0) return false;
    const TextFilter& filter = context->plan->filter;
    if (block->folding ? FoldedFirstMayShowTerm(filter, &block->filtered, raw, got) : MayShowTerm(filter, raw, got, 0, false)) {
        FeedFirstBlock(block);
        ScoreFirst(block, raw, got, texts);
        return !AskedNotToBeFound(context, texts);
    }
    char last[TextFilterCarry];
    const int32_t lastCount = std::min(got, TextFilterCarry);
    memcpy(last, raw + got - lastCount, static_cast<size_t>(lastCount));
    ScoreFirst(block, raw, got, texts);
    if (AskedNotToBeFound(context, texts)) return false;
    if (!RestMayShowTerm(block, last, lastCount) || !MoveTextStream(stream, stored)) return false;
    if (FillTextStream(stream) <= 0) return false;
    FeedFirstBlock(block);
    return true;
}

void StartBlock(TextBlock* block, ScanContext* context)
{
    block->context = context;
    block->length = 0;
    block->pieces.count = 0;
    block->folding = context->plan->folding != CaseFoldAscii;
    if (block->folding) StartFolding(&block->fold, context->plan->folding, context->plan->keepsPunctuation);
    block->firstScored = false;
    for (int32_t term = 0; term < context->plan->expression->termCount; ++term) block->from[term] = 0;
}

}  // namespace

void ScoreVisibleText(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    TextBlock block;
    StartBlock(&block, context);
    if (block.folding) StartFoldedFilterWindow(&block.filtered, context->plan->folding, context->folded);
    // The raw block keeps a byte for the terminator that the first block's tags need.
    StartTextStream(&block.stream, file, VisibleTextDecodeReferences, context->plan->level, context->raw,
                    context->blockSize - 1);
    if (context->plan->mainContent) StartMainContent(&block.stream.reader, NoMarks);
    if (!ScoreFirstBlockAndStartText(&block, texts)) return;
    FeedTheRest(&block);
    ScoreBlock(&block, true);
    texts->marks = block.stream.reader.marks;
}

// Each read fills the block (the first leaves a byte for the terminator
// that its tags need), and what a hit not yet counted may need of it stays
// for the next. Under folding each read is folded where it stands, after the
// first block's META tags are blanked (as the text of the title and META
// tags is scored folded on its own).
void ScoreStoredText(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    TextBlock block;
    StartBlock(&block, context);
    char* data = context->block;
    for (bool first = true;; first = false) {
        const int64_t stored = PlatReadOffset(file);
        // (Folded, a block keeps a few bytes more than the longest term, which
        // may leave no room in the smallest blocks tests choose: it has more.)
        const int32_t room = context->blockSize - (first ? 1 : 0) - block.length;
        const int got = PlatRead(file, data + block.length, block.folding ? std::max(room, 1) : room);
        if (got <= 0) break;
        if (first) {
            data[got] = '\0';
            ScoreFirstBlock(context, data, data + got, texts);
        }
        NotePiece(&block, block.length, stored);
        const int32_t length = block.folding ? FoldInPlace(&block.fold, data + block.length, got, context->folded, nullptr) : got;
        block.length += length;
        context->textLength += length;
        ScoreBlock(&block, false);
    }
    if (block.folding) {  // what the folder held back
        const int32_t length = FinishFolding(&block.fold, data + block.length, nullptr);
        block.length += length;
        context->textLength += length;
    }
    ScoreBlock(&block, true);
}
