// filesrch: the folded scan of stored bytes (outside text only). The bytes are
// folded as they are read, and the folded bytes are scored in blocks exactly
// as stored bytes are without folding: each block takes as many of them as a
// block of stored bytes would take. A block of plain ASCII, with nothing held
// back, is its own folding: it is read straight into the block and scored
// where it stands, so that an ASCII page costs what it costs without folding.
#include <algorithm>
#include <cstring>

#include "document-scan.h"

namespace {

// Stored bytes folded at a time: each piece notes where its folded bytes
// begin, which places a hit in the stored file.
constexpr int32_t PieceBytes = 4096;
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
    char* staged;        // folded bytes not yet in a block: staged[stagedFrom, stagedEnd)
    int32_t stagedFrom;
    int32_t stagedEnd;
    int64_t made;        // folded bytes made so far
    int64_t blockStart;  // where the block's first byte lies among them
    bool ended;          // every stored byte is read and folded
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

void Stage(FoldedStream* stream, int32_t written)
{
    stream->stagedEnd += written;
    stream->made += written;
}

// Folds stored bytes (read at `stored`) onto the staged ones, a piece at a time.
void FoldStored(FoldedStream* stream, const char* bytes, int32_t count, int64_t stored)
{
    if (stream->stagedFrom > 0) {
        const int32_t kept = stream->stagedEnd - stream->stagedFrom;
        memmove(stream->staged, stream->staged + stream->stagedFrom, static_cast<size_t>(kept));
        stream->stagedFrom = 0;
        stream->stagedEnd = kept;
    }
    for (int32_t at = 0; at < count; at += PieceBytes) {
        const int32_t piece = std::min(PieceBytes, count - at);
        NoteAnchor(stream, stored + at, piece);
        Stage(stream, FoldText(&stream->fold, bytes + at, piece, stream->staged + stream->stagedEnd, nullptr));
    }
}

// A read that comes up short is the text's end: what the folder holds back is written.
void NoteRead(FoldedStream* stream, int got, int wanted)
{
    if (got >= wanted) return;
    stream->ended = true;
    Stage(stream, FinishFolding(&stream->fold, stream->staged + stream->stagedEnd, nullptr));
}

// The first bytes of a block, when nothing is staged: read into the block
// itself (the first block's title and META texts taken from them as read),
// and taken where they stand when they are their own folding. Returns the
// bytes taken, or -1 when they went to the staged bytes instead.
int32_t ReadIntoBlock(FoldedStream* stream, char* target, int32_t need, bool first, ScannedDocument* texts)
{
    const int64_t stored = PlatReadOffset(stream->file);
    const int got = std::max(0, PlatRead(stream->file, target, need));
    if (first && got > 0) {
        target[got] = '\0';
        ScoreFirstBlock(stream->context, target, target + got, texts);
    }
    if (FoldTakeAscii(&stream->fold, target, got)) {  // which leaves nothing held back
        NoteAnchor(stream, stored, got);
        stream->made += got;
        stream->ended = got < need;
        return got;
    }
    FoldStored(stream, target, got, stored);
    NoteRead(stream, got, need);
    return -1;
}

// The next `need` folded bytes (fewer at the text's end) into target: their count.
int32_t FillBlock(FoldedStream* stream, char* target, int32_t need, bool first, ScannedDocument* texts)
{
    if (stream->stagedFrom == stream->stagedEnd && !stream->ended) {
        stream->stagedFrom = stream->stagedEnd = 0;
        const int32_t taken = ReadIntoBlock(stream, target, need, first, texts);
        if (taken >= 0) return taken;
    }
    const int32_t wanted = stream->context->blockSize - 1;
    while (stream->stagedEnd - stream->stagedFrom < need && !stream->ended) {
        const int64_t stored = PlatReadOffset(stream->file);
        const int got = std::max(0, PlatRead(stream->file, stream->context->raw, wanted));
        FoldStored(stream, stream->context->raw, got, stored);
        NoteRead(stream, got, wanted);
    }
    const int32_t take = std::min(need, stream->stagedEnd - stream->stagedFrom);
    memcpy(target, stream->staged + stream->stagedFrom, static_cast<size_t>(take));
    stream->stagedFrom += take;
    return take;
}

}  // namespace

void ScoreFoldedFileText(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    FoldedStream stream;
    stream.context = context;
    stream.file = file;
    StartFolding(&stream.fold, context->plan->folding);
    stream.staged = context->folded;
    stream.stagedFrom = stream.stagedEnd = 0;
    stream.made = 0;
    stream.ended = false;
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
        const int dataLength = carry + got;
        context->block[dataLength] = '\0';
        context->blockOffset = StoredOffset(&stream, 0);
        carry = ScoreBlock(context, dataLength, carry);
    }
    EndBlocks(context);
    context->offsetOf = nullptr;
    context->offsetMap = nullptr;
}
