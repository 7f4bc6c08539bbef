// A document read as its visible text: the one place that feeds a document to
// the visible-text reader. It reads the stored bytes through a buffer of the
// caller's, hands them to the reader, tells where they lie in the stored
// file, writes the text held back at the document's end, and, where a head
// was never closed, reads the document again from its "<body" (which the text
// so far does not depend on), so that its callers see one text. Read for main
// content, a document whose marks void the text so far is read again from
// its start, and its callers are told to drop that text (startedOver).
#pragma once

#include <cstdint>

#include "platform.h"
#include "visible-text.h"

struct VisibleTextStream {
    PlatFile* file;
    VisibleTextReader reader;
    char* raw;           // the caller's buffer: raw[rawAt, rawEnd) read and not yet fed
    int32_t rawSize;
    int32_t readSize;    // bytes read at a time, up to rawSize (a read that comes up short is the end)
    int32_t rawAt;
    int32_t rawEnd;
    int64_t rawStored;   // about where raw[0] lies in the stored file
    bool fromStart;      // the reader began at the document's start
    bool fileEnded;      // nothing more to read: the end, or a read or move failed
    bool ended;          // the text is whole: nothing more will come
    int32_t fed;         // bytes the last call fed to the reader
    int64_t fedStored;   // about where they lie in the stored file
    bool startedOver;    // the text so far is void (set by NextVisibleText; the caller clears it)
};

// Starts reading the open file from its current place. Text read from inside
// a document (not from its start) is a piece: it is never read again from a
// "<body", whose offset the reader counts from where it began.
void StartTextStream(VisibleTextStream* stream, PlatFile* file, VisibleTextMode mode, VectorLevel level, char* raw,
                     int32_t rawSize);
// Reads the next stored bytes into the buffer when it holds none, so that a
// caller can look at them before they are fed: how many the buffer holds.
int32_t FillTextStream(VisibleTextStream* stream);
// Feeds up to `count` stored bytes to the reader (reading readSize more when
// none are buffered) and writes the text they complete into target, which
// holds count + VisibleTextSlack bytes. Called at the document's end (nothing
// buffered, nothing more to read), it writes the text held back instead, and
// ended is set, or, where the head was never closed, goes on from its
// "<body". Returns the bytes written.
int32_t NextVisibleText(VisibleTextStream* stream, char* target, int32_t count);
// Ends the text where it is (a piece of a document): writes the text held
// back into target (VisibleTextSlack bytes).
int32_t EndVisibleText(VisibleTextStream* stream, char* target);
// Reads stored bytes past those buffered without feeding them (a look ahead,
// which a move back undoes): the bytes read.
int32_t ReadStoredBytes(VisibleTextStream* stream, char* target, int32_t count);
// Reads again from a place in the stored file with a fresh reader, as the
// document's text would begin there (read for main content as far as the
// reader was, with the marks it knows); false when the file cannot be moved
// (then the stream has ended).
bool MoveTextStream(VisibleTextStream* stream, int64_t stored);
// About where the next byte to be fed lies in the stored file (exactly, where
// none is buffered).
int64_t TextStreamStored(const VisibleTextStream* stream);
