// filesrch: a document read as its visible text, block after block.
#include "text-stream.h"

#include <algorithm>

#include "corv-core.h"

namespace {

const char* const StreamModule = "filesrch";

void Restart(VisibleTextStream* stream, int64_t stored)
{
    stream->fromStart = stored == 0;
    stream->rawAt = stream->rawEnd = 0;
    stream->rawStored = stored;
    stream->fileEnded = stream->ended = false;
}

// A head never closed ends at its first "<body": the reader asks for the
// document again from there (and marks met later, from its start). The file
// is read again from its start to that offset, which counts bytes as read
// (text mode), not as stored.
bool ReadAgain(VisibleTextStream* stream)
{
    if (!stream->fromStart || stream->reader.restartAt < 0 || !PlatSeek(stream->file, 0)) return false;
    Restart(stream, 0);
    for (int64_t skip = stream->reader.restartAt; skip > 0;) {
        const int got = PlatRead(stream->file, stream->raw, static_cast<int>(std::min<int64_t>(skip, stream->rawSize)));
        if (got <= 0) return false;
        skip -= got;
    }
    stream->rawStored = PlatReadOffset(stream->file);
    return true;
}

int32_t Finish(VisibleTextStream* stream, char* target)
{
    const int32_t written = FinishVisibleText(&stream->reader, target);
    if (ReadAgain(stream)) return written;
    stream->fileEnded = stream->ended = true;
    return written;
}

}  // namespace

void StartTextStream(VisibleTextStream* stream, PlatFile* file, VisibleTextMode mode, VectorLevel level, char* raw,
                     int32_t rawSize)
{
    CORV_CHECK_POINTER(StreamModule, stream);
    CORV_CHECK_POINTER(StreamModule, file);
    CORV_CHECK_POINTER(StreamModule, raw);
    stream->file = file;
    StartVisibleText(&stream->reader, mode, level);
    stream->raw = raw;
    stream->rawSize = rawSize;
    stream->readSize = rawSize;
    stream->fed = 0;
    stream->fedStored = 0;
    stream->startedOver = false;
    Restart(stream, PlatReadOffset(file));
}

int32_t FillTextStream(VisibleTextStream* stream)
{
    if (stream->rawAt < stream->rawEnd || stream->fileEnded) return stream->rawEnd - stream->rawAt;
    stream->rawStored = PlatReadOffset(stream->file);
    const int32_t wanted = std::min(stream->readSize, stream->rawSize);
    const int got = PlatRead(stream->file, stream->raw, wanted);
    stream->rawAt = 0;
    stream->rawEnd = got > 0 ? got : 0;
    // A read gives fewer bytes than asked only at the end (or a failure).
    if (got < wanted) stream->fileEnded = true;
    return stream->rawEnd;
}

int32_t NextVisibleText(VisibleTextStream* stream, char* target, int32_t count)
{
    CORV_CHECK_POINTER(StreamModule, target);
    stream->fed = 0;
    if (stream->ended) return 0;
    const int32_t buffered = FillTextStream(stream);
    if (buffered == 0) return Finish(stream, target);
    stream->fed = std::min(count, buffered);
    stream->fedStored = stream->rawStored + stream->rawAt;
    const int32_t written = ReadVisibleText(&stream->reader, stream->raw + stream->rawAt, stream->fed, target);
    stream->rawAt += stream->fed;
    if (!stream->reader.startOver) return written;
    stream->startedOver = true;
    if (!ReadAgain(stream)) stream->fileEnded = stream->ended = true;
    return 0;
}

int32_t EndVisibleText(VisibleTextStream* stream, char* target)
{
    CORV_CHECK_POINTER(StreamModule, target);
    stream->fileEnded = stream->ended = true;
    return FinishVisibleText(&stream->reader, target);
}

int32_t ReadStoredBytes(VisibleTextStream* stream, char* target, int32_t count)
{
    CORV_CHECK_POINTER(StreamModule, target);
    if (stream->fileEnded) return 0;
    const int got = PlatRead(stream->file, target, count);
    return got > 0 ? got : 0;
}

bool MoveTextStream(VisibleTextStream* stream, int64_t stored)
{
    const VisibleTextReader was = stream->reader;
    if (!PlatSeek(stream->file, stored)) {
        stream->fileEnded = stream->ended = true;
        return false;
    }
    StartVisibleText(&stream->reader, static_cast<VisibleTextMode>(was.mode), static_cast<VectorLevel>(was.level));
    if (was.scope == VisibleTextMain) StartMainContent(&stream->reader, static_cast<PageMarks>(was.marks));
    Restart(stream, stored);
    return true;
}

int64_t TextStreamStored(const VisibleTextStream* stream)
{
    return stream->rawAt < stream->rawEnd ? stream->rawStored + stream->rawAt : PlatReadOffset(stream->file);
}
