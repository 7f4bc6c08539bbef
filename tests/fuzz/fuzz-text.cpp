// The visible-text reader on arbitrary documents, in both modes and read for
// main content: read in one piece, in small pieces and in large pieces, each
// piece in a block of its own and each target of exactly the promised size,
// the text is the same; it holds no two blanks in a row, none at either end
// and no other blank byte, and it is never longer than the document.
//
// Input: the small piece size (a byte, 1 to 16), the large piece size (a
// byte, 64 to 16,384 in steps of 64), then the document.
#include <cstdint>
#include <cstring>
#include <string>

#include "visible-text.h"
#include "fuzz-support.h"

using namespace fuzz_support;

namespace {

constexpr size_t WholeDocument = static_cast<size_t>(-1);

// Feeds the document from where the reader is to its end: false where the
// reader voided the text so far (main content).
bool FeedToEnd(const std::string& document, size_t pieceSize, VisibleTextReader* reader, std::string* text)
{
    for (size_t from = static_cast<size_t>(reader->offset); from < document.size();) {
        const size_t count = std::min(pieceSize, document.size() - from);
        ExactBlock piece(document.data() + from, count);
        ExactBlock target(count + VisibleTextSlack);
        const int written = ReadVisibleText(reader, piece.data(), static_cast<int>(count), target.data());
        Require(written >= 0 && static_cast<size_t>(written) <= target.size(), "a call writes what it promised");
        text->append(target.data(), static_cast<size_t>(written));
        if (reader->startOver) {
            Require(written == 0 && reader->restartAt == 0 && reader->offset == 0, "a start over begins again");
            return false;
        }
        from += count;
    }
    return true;
}

// The whole protocol, the restarts included, in pieces of pieceSize bytes:
// at most one from a head's "<body" in each reading, and at most one reading
// for each kind of marks.
std::string ReadInPieces(const std::string& document, VisibleTextMode mode, bool main, size_t pieceSize)
{
    std::string text;
    VisibleTextReader reader;
    StartVisibleText(&reader, mode, VectorLevelInUse());
    if (main) StartMainContent(&reader, NoMarks);
    for (int readings = 1, restarts = 0;; ++restarts) {
        if (!FeedToEnd(document, pieceSize, &reader, &text)) {
            Require(++readings <= 3, "each kind of marks voids the text at most once");
            text.clear();
            restarts = -1;
            continue;
        }
        Require(reader.offset == static_cast<int64_t>(document.size()), "the offset counts the document's bytes");
        ExactBlock target(VisibleTextSlack);
        const int written = FinishVisibleText(&reader, target.data());
        Require(written >= 0 && written <= VisibleTextSlack, "the finish writes what it promised");
        text.append(target.data(), static_cast<size_t>(written));
        if (reader.restartAt < 0) return text;
        Require(restarts == 0, "a reading restarts at most once");
        Require(written == 0, "nothing is written before a restart");
        Require(reader.restartAt < static_cast<int64_t>(document.size()) && reader.offset == reader.restartAt,
                "a restart lies inside the document");
    }
}

void CheckMode(const std::string& document, VisibleTextMode mode, bool main, size_t small, size_t large)
{
    const std::string text = ReadInPieces(document, mode, main, WholeDocument);
    Require(ReadInPieces(document, mode, main, small) == text, "small pieces give the same text");
    Require(ReadInPieces(document, mode, main, large) == text, "large pieces give the same text");
    Require(text.size() <= document.size(), "the text is never longer than the document");
    Require(text.find("  ") == std::string::npos, "no two blanks in a row");
    Require(text.empty() || (text.front() != ' ' && text.back() != ' '), "no blank at either end");
    Require(text.find_first_of("\t\n\r\f") == std::string::npos, "every blank is written as a space");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    InputReader input(data, size);
    const size_t small = 1 + input.Byte() % 16;
    const size_t large = 64 * (1 + static_cast<size_t>(input.Byte()));
    const std::string document = input.Rest();
    CheckMode(document, VisibleTextKeepReferences, false, small, large);
    CheckMode(document, VisibleTextDecodeReferences, false, small, large);
    CheckMode(document, VisibleTextDecodeReferences, true, small, large);
    return 0;
}
