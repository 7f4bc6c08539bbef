// platform-common: the pieces of the operating-system boundary that every
// system shares, so that each side orders names and translates text alike.
// Included by the platform files only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "platform.h"

// The system's handle of standard output (defined by each system's file).
intptr_t PlatStandardOutputHandle();

namespace platform_common {

// What each system's own file gives the shared file code: its calls (open,
// read, write, size, moving to a position in the stored file, closing,
// cutting a file back to a length, the lock that appends take turns on,
// listing a folder).
const PlatFileCalls& SystemFileCalls();

// Entry order: bytes compared with ASCII letters upper-cased; names equal
// after that compare by their raw bytes.
bool NameBefore(const std::string& a, const std::string& b);

// Windows text translation in place, for bytes just read into the caller's
// block: a 0x1A byte ends the text for good (textEnded is set), carriage
// returns are dropped. Returns the bytes kept at the start of the block.
size_t TranslateText(unsigned char* bytes, size_t count, bool& textEnded);

// Standard output starts empty and writable (a run in a test may follow
// another whose visitor had gone).
void StartOutput();

// Writes every byte through write(handle, bytes, count), going on after a
// short write; 0 when a write fails or makes no progress.
int WriteAll(long (*write)(intptr_t, const void*, long), intptr_t handle, const char* bytes, int count);

// How a file is read, whatever the system: text straight into the caller's
// block and translated there; raw bytes through a buffer (the configuration is
// read a byte at a time). readSome(target, count) is the system's read call:
// the bytes it delivered, 0 at the end, negative on failure. A file whose read
// failed ends there: what came before it is all that is read of it.
struct FileReader {
    bool textEnded = false;  // a 0x1A byte was met in text mode
    bool ended = false;      // the end, or a failed read
    bool failed = false;     // a read failed
    int64_t rawRead = 0;     // bytes the system delivered, from the file's start
    size_t position = 0;
    size_t length = 0;
    unsigned char buffer[1 << 16];

    template <typename ReadSome>
    long ReadSomeOnce(ReadSome readSome, unsigned char* target, size_t wanted)
    {
        long got = ended ? 0 : readSome(target, wanted);
        if (got < 0) failed = true;
        if (got <= 0) ended = true;
        else rawRead += got;
        return got;
    }

    // Where in the stored file the next byte read comes from.
    int64_t Offset() const { return rawRead - static_cast<int64_t>(length - position); }

    // Reading goes on from another place, the system's file position already moved there.
    void MovedTo(int64_t offset)
    {
        textEnded = ended = failed = false;
        rawRead = offset;
        position = length = 0;
    }

    template <typename ReadSome>
    size_t ReadText(unsigned char* target, size_t wanted, ReadSome readSome)
    {
        size_t delivered = 0;
        while (delivered < wanted && !textEnded) {
            long got = ReadSomeOnce(readSome, target + delivered, wanted - delivered);
            if (got <= 0) break;
            delivered += TranslateText(target + delivered, static_cast<size_t>(got), textEnded);
        }
        return delivered;
    }

    template <typename ReadSome>
    size_t ReadRaw(unsigned char* target, size_t wanted, ReadSome readSome)
    {
        size_t delivered = 0;
        while (delivered < wanted) {
            if (position >= length) {
                long got = ReadSomeOnce(readSome, buffer, sizeof buffer);
                if (got <= 0) break;
                position = 0;
                length = static_cast<size_t>(got);
            }
            size_t chunk = std::min(wanted - delivered, length - position);
            memcpy(target + delivered, buffer + position, chunk);
            position += chunk;
            delivered += chunk;
        }
        return delivered;
    }
};

}  // namespace platform_common
