// The text folder: a text given in pieces of any size folds to the same bytes
// and offsets as the whole text given at once; no call writes beyond the
// room it promises; the offsets point into the text, and ASCII taken where
// it stands is what folding it would have written.
//
// Input: a byte choosing the mode, eight bytes of piece sizes (used in turn:
// the low four bits are the size, 0 to 15; the high bit asks the folder to
// take the piece as ASCII where it stands first), the text. The same pieces
// (at least one byte each) are folded where they stand too.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "corv-fold.h"
#include "fuzz-support.h"

using namespace fuzz_support;

namespace {

struct Folded {
    std::string text;
    std::vector<int64_t> offsets;
};

// One call's bytes, written into blocks of exactly the promised room.
void Append(Folded* folded, const ExactBlock& out, const std::vector<int64_t>& offsets, int written)
{
    Require(written >= 0 && static_cast<size_t>(written) <= out.size(), "a call writes within its room");
    folded->text.append(out.data(), static_cast<size_t>(written));
    folded->offsets.insert(folded->offsets.end(), offsets.begin(), offsets.begin() + written);
}

void FoldPiece(FoldState* state, const char* piece, int count, bool tryAscii, Folded* folded)
{
    const int64_t before = state->offset;
    if (tryAscii && FoldTakeAscii(state, piece, count)) {
        Require(state->offset == before + count, "ASCII taken counts its bytes");
        folded->text.append(piece, static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) folded->offsets.push_back(before + i);
        return;
    }
    ExactBlock source(piece, static_cast<size_t>(count));
    ExactBlock out(static_cast<size_t>(FoldOutputCapacity(count)));
    std::vector<int64_t> offsets(out.size());
    Append(folded, out, offsets, FoldText(state, source.data(), count, out.data(), offsets.data()));
}

Folded FoldInPieces(CaseFolding mode, const std::string& text, const uint8_t* sizes, size_t sizeCount)
{
    FoldState state;
    StartFolding(&state, mode);
    Folded folded;
    bool advances = false;  // calls with no bytes are fine, only not all of them
    for (size_t i = 0; i < sizeCount; ++i) advances = advances || (sizes[i] & 0x0F);
    size_t at = 0;
    for (size_t turn = 0; at < text.size() || turn == 0; ++turn) {
        const uint8_t size = sizeCount ? sizes[turn % sizeCount] : 0;
        const size_t wanted = !sizeCount ? text.size() : advances ? size & 0x0F : 1;
        const int count = static_cast<int>(std::min(wanted, text.size() - at));
        FoldPiece(&state, text.data() + at, count, size & 0x80, &folded);
        at += static_cast<size_t>(count);
    }
    ExactBlock out(static_cast<size_t>(FoldOutputCapacity(0)));
    std::vector<int64_t> offsets(out.size());
    Append(&folded, out, offsets, FinishFolding(&state, out.data(), offsets.data()));
    return folded;
}

// The same pieces folded where they stand, each in a block of exactly the
// room it promises.
std::string FoldInPlacePieces(CaseFolding mode, const std::string& text, const uint8_t* sizes, size_t sizeCount)
{
    FoldState state;
    StartFolding(&state, mode);
    std::string folded;
    for (size_t at = 0, turn = 0; at < text.size(); ++turn) {
        const int count = static_cast<int>(std::min<size_t>(std::max(sizes[turn % sizeCount] & 0x0F, 1), text.size() - at));
        ExactBlock room(static_cast<size_t>(FoldOutputCapacity(count)));
        memcpy(room.data(), text.data() + at, static_cast<size_t>(count));
        ExactBlock scratch(static_cast<size_t>(count));
        const int written = FoldInPlace(&state, room.data(), count, scratch.data(), nullptr);
        Require(written >= 0 && static_cast<size_t>(written) <= room.size(), "folding in place writes within its room");
        folded.append(room.data(), static_cast<size_t>(written));
        at += static_cast<size_t>(count);
    }
    ExactBlock out(static_cast<size_t>(FoldOutputCapacity(0)));
    return folded + std::string(out.data(), static_cast<size_t>(FinishFolding(&state, out.data(), nullptr)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    InputReader input(data, size);
    const CaseFolding mode = static_cast<CaseFolding>(input.Byte() % 3);
    uint8_t sizes[8];
    for (uint8_t& each : sizes) each = input.Byte();
    const std::string text = input.Rest();

    const Folded whole = FoldInPieces(mode, text, nullptr, 0);
    const Folded pieces = FoldInPieces(mode, text, sizes, sizeof sizes);
    Require(pieces.text == whole.text, "pieces fold to the bytes of the whole");
    Require(pieces.offsets == whole.offsets, "pieces give the offsets of the whole");
    Require(FoldInPlacePieces(mode, text, sizes, sizeof sizes) == whole.text, "pieces folded in place fold to the whole");
    Require(whole.text.size() <= static_cast<size_t>(FoldExpansion) * text.size(), "the text grows within its bound");
    for (int64_t offset : whole.offsets)
        Require(offset >= 0 && static_cast<size_t>(offset) < text.size(), "each byte comes from a character of the text");

    std::vector<char> word(whole.text.size() + 1);
    const int length = FoldWord(mode, text.data(), static_cast<int>(text.size()), word.data(), static_cast<int>(word.size()));
    Require(length >= 0 && std::string(word.data(), static_cast<size_t>(length)) == whole.text,
            "a word folds as a text does");
    return 0;
}
