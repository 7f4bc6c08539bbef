// filesrch: the folded scan of stored bytes (outside text only). The bytes are
// folded as they are read, and the folded bytes are scored in blocks exactly
// as stored bytes are without folding: each block takes as many of them as a
// block of stored bytes would take. Bytes are read straight into the block
// and folded there: plain ASCII, with nothing held back, is its own folding
// and is scored where it stands, so that an ASCII page costs what it costs
// without folding; what follows a character held back, or whose folding
// outgrows its bytes, is folded back into the block from a copy, and once
// folding changed a piece's length the next is read aside and folded into
// the block.
//
// Words of ASCII letters and digits, Han and kana, and small Cyrillic letters
// alone are searched in the stored bytes as they stand, as without folding
// (Cyrillic capitals lowered where they stand): a character whose folding
// could change what such words find (ß for a word with an s, é for one with
// an e without accents, ё for пакет between пак and т, a voicing mark for
// one with kana, a soft hyphen for any) sends the scan back to the
// document's start to fold it, and the characters beside a hit are read as
// what they fold to.
#include <algorithm>
#include <cstring>

#include "document-scan.h"

namespace {

// Each read notes where its folded bytes begin, which places a hit in the
// stored file.
constexpr int AnchorLimit = 64;

struct Anchors {
    int count;
    int64_t folded[AnchorLimit];  // where a piece's folded bytes begin among all folded so far
    int64_t stored[AnchorLimit];  // where the piece begins in the stored file
    int32_t length[AnchorLimit];  // its stored bytes
};

struct FoldedStream {
    ScanContext* context;
    PlatFile* file;
    FoldState fold;
    int32_t ahead;       // folded bytes after the block's, made before the block needed them
    int64_t made;        // folded bytes made so far
    int64_t blockStart;  // where the block's first byte lies among them
    bool ended;          // every stored byte is read and folded
    bool moves;          // folding changed the last piece's length: text that folds so is folded from a copy
    Anchors anchors;
};

// Forgets the pieces that lie wholly before the block; when still full,
// every other one.
void MakeRoomForAnchor(FoldedStream* stream)
{
    Anchors& anchors = stream->anchors;
    int first = 0;
    while (first + 1 < anchors.count && anchors.folded[first + 1] <= stream->blockStart) ++first;
    const int step = first == 0 ? 2 : 1;
    int kept = 0;
    for (int i = first; i < anchors.count; i += step, ++kept) {
        anchors.folded[kept] = anchors.folded[i];
        anchors.stored[kept] = anchors.stored[i];
        anchors.length[kept] = anchors.length[i];
    }
    anchors.count = kept;
}

void NoteAnchor(FoldedStream* stream, int64_t stored, int32_t length)
{
    if (stream->anchors.count == AnchorLimit) MakeRoomForAnchor(stream);
    Anchors& anchors = stream->anchors;
    anchors.folded[anchors.count] = stream->made;
    anchors.stored[anchors.count] = stored;
    anchors.length[anchors.count++] = length;
}

// About where the block's byte `at` lies in the stored file: in the piece it
// was folded from, as far in as it is in the piece's folded bytes.
int64_t StoredOffset(const void* map, int32_t at)
{
    const FoldedStream& stream = *static_cast<const FoldedStream*>(map);
    const Anchors& anchors = stream.anchors;
    const int64_t folded = stream.blockStart + at;
    int piece = anchors.count - 1;
    while (piece > 0 && anchors.folded[piece] > folded) --piece;
    if (piece < 0) return -1;
    return anchors.stored[piece] + std::min<int64_t>(folded - anchors.folded[piece], anchors.length[piece]);
}

// A read that comes up short is the text's end: what the folder holds back
// is written at target.
int32_t NoteRead(FoldedStream* stream, int got, int wanted, char* target)
{
    if (got >= wanted) return 0;
    stream->ended = true;
    const int32_t written = FinishFolding(&stream->fold, target, nullptr);
    stream->made += written;
    return written;
}

// The first block's title and META texts, from its first `count` bytes as read.
void ScoreFirstBytes(FoldedStream* stream, char* bytes, int32_t count, ScannedDocument* texts)
{
    const char kept = bytes[count];
    bytes[count] = '\0';
    ScoreFirstBlock(stream->context, bytes, bytes + count, texts);
    bytes[count] = kept;
}

// Folds the `got` bytes read at `bytes` into target: where they stand while
// folding keeps their length (ASCII, most letters of Russian or Greek),
// else from where they were read aside, as the last piece tells. Folding
// where the text stands would copy it aside all the same once a letter grows.
int32_t FoldPiece(FoldedStream* stream, char* bytes, int got, char* target)
{
    const int32_t written = bytes != target ? FoldText(&stream->fold, bytes, got, target, nullptr)
                                            : FoldInPlace(&stream->fold, target, got, stream->context->raw, nullptr);
    stream->moves = written != got;
    return written;
}

// The next `need` folded bytes (fewer at the text's end) at target: their
// count. Stored bytes are read straight after those made so far (or aside),
// a little more than the block needs (folding mostly shrinks text a little),
// and folded; what is folded beyond the block stays after it, made ahead.
int32_t FillBlock(FoldedStream* stream, char* target, int32_t need, bool first, ScannedDocument* texts)
{
    int32_t have = stream->ahead;
    while (have < need && !stream->ended) {
        const int32_t wanted = need - have + ScanReadAhead(stream->context->blockSize);
        const int64_t stored = PlatReadOffset(stream->file);
        char* read = stream->moves ? stream->context->raw : target + have;
        const int got = std::max(0, PlatRead(stream->file, read, wanted));
        if (first && have == 0 && got > 0) ScoreFirstBytes(stream, read, std::min(got, need), texts);
        NoteAnchor(stream, stored, got);
        const int32_t written = FoldPiece(stream, read, got, target + have);
        stream->made += written;
        have += written;
        have += NoteRead(stream, got, wanted, target + have);
    }
    const int32_t taken = std::min(need, have);
    stream->ahead = have - taken;
    return taken;
}

void FoldAndScoreFileText(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    FoldedStream stream;
    stream.context = context;
    stream.file = file;
    StartFolding(&stream.fold, context->plan->folding, context->plan->keepsPunctuation);
    stream.ahead = 0;
    stream.made = 0;
    stream.ended = false;
    stream.moves = false;
    stream.anchors.count = 0;
    context->offsetOf = StoredOffset;
    context->offsetMap = &stream;
    int carry = 0;
    int64_t taken = 0;  // folded bytes taken into blocks so far
    for (bool first = true;; first = false) {
        stream.blockStart = taken - carry;
        const int32_t got = FillBlock(&stream, context->block + carry, context->blockSize - 1 - carry, first, texts);
        if (got <= 0) break;
        taken += got;
        context->blockOffset = StoredOffset(&stream, 0);
        carry = ScoreBlock(context, carry + got, carry, stream.ahead);
    }
    EndBlocks(context);
    context->offsetOf = nullptr;
    context->offsetMap = nullptr;
}

// The bytes at the end of `count` that begin a character they cut short.
int CutCharacterLength(const char* bytes, int count)
{
    for (int back = 1; back <= 3 && back <= count; ++back)
        if (IsCutCodePoint(bytes + count - back, bytes + count)) return back;
    return 0;
}

// How far the stored bytes took a document: scored whole, or stopped by a
// character that would fold otherwise; the bytes read either way.
struct StoredScan {
    bool scored;
    int64_t bytesRead;
};

// The plan's words of ASCII letters and digits, Han and kana, and small
// Cyrillic in the stored bytes as they stand (Cyrillic capitals lowered),
// scored with the folded rules for a hit's ends, as
// long as no character that would fold otherwise comes. A character that a
// block's read cuts waits after the carried bytes for the rest, so that
// each is looked at whole.
StoredScan ScoreWordsAsStored(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    const SearchPlan& plan = *context->plan;
    char* buffer = context->block;
    int carry = 0;
    int held = 0;  // the first bytes of a character that the last read cut
    int64_t bytesRead = 0;
    for (bool first = true;; first = false) {
        const int64_t readAt = PlatReadOffset(file);
        const int wanted = context->blockSize - 1 - carry - held;
        const int got = std::max(0, PlatRead(file, buffer + carry + held, wanted));
        bytesRead += got;
        if (got == 0 && held == 0) break;
        const int end = carry + held + got;
        // A short read ends the text; a block too small to hold the rest
        // of a cut character next time looks at it as it is.
        const bool more = got > 0 && got == wanted && context->blockSize >= plan.expression->longestTerm + 8;
        const int cut = more ? CutCharacterLength(buffer + carry, end - carry) : 0;
        context->blockOffset = readAt - held - carry;
        buffer[end] = '\0';
        // The title as written, before the check lowers Cyrillic capitals;
        // else only once the check lets the stored bytes be searched.
        const bool titleFirst = first && plan.storedWords.cyrillic;
        if (titleFirst) ScoreFirstBlock(context, buffer, buffer + end, texts);
        if (MayChangeWordsAsStored(plan.level, plan.folding, buffer, buffer + carry, end - cut - carry, plan.storedWords))
            return StoredScan{false, bytesRead};
        if (first && !titleFirst) ScoreFirstBlock(context, buffer, buffer + end, texts);
        carry = ScoreBlock(context, end - cut, carry, cut);
        held = cut;
    }
    EndBlocks(context);
    return StoredScan{true, bytesRead};
}

// Bytes read as stored and then folded cost about what as many bytes kept
// as stored save: a thread tries each document as stored while those read
// in vain stay under half those kept, past a first allowance of two blocks.
// A site whose pages each hold such a character, at their top (ä on a
// German site) or in a footer, is then folded from the start after a few;
// one where some pages hold one, or the characters are few, is not.
bool TriesStoredBytes(const ScanContext& context)
{
    return context.storedBytesWasted <= context.storedBytesKept / 2 + 2 * int64_t{context.blockSize};
}

}  // namespace

bool ScoreFoldedFileText(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    if (context->plan->wordsAsStored && TriesStoredBytes(*context)) {
        context->asStored = true;
        const StoredScan scan = ScoreWordsAsStored(context, file, texts);
        context->asStored = false;
        (scan.scored ? context->storedBytesKept : context->storedBytesWasted) += scan.bytesRead;
        if (scan.scored) return true;
        ResetWordStats(context);  // what the stored bytes scored goes
        if (!PlatSeek(file, 0)) return false;
    }
    FoldAndScoreFileText(context, file, texts);
    return true;
}
