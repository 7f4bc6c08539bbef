// The text folder's speed: folds the named files, read into memory, in pieces
// of a scan block as the scanner would (a piece that is plain ASCII is taken
// where it stands), and prints megabytes of input per second for each mode,
// beside a plain copy of the same bytes; then the same for their visible text
// (references decoded), as a text-only search would fold it. scripts/bench
// runs it ("fold").
//
//   fold-bench LABEL FILE... [-- LABEL FILE...]...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "corv-fold.h"
#include "visible-text.h"

namespace {

constexpr int PieceBytes = 20480;
constexpr double MinimumSeconds = 0.5;

struct Sample {
    std::string label;
    std::string bytes;
    std::string text;  // each file's visible text
};

// Folds the bytes, as many times as fit in the time, and returns the best
// megabytes per second of five such runs.
template <typename Work>
double MegabytesPerSecond(const std::string& bytes, Work work)
{
    double best = 0;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        double seconds = 0;
        long rounds = 0;
        do {
            work();
            ++rounds;
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        } while (seconds < MinimumSeconds / 5);
        best = std::max(best, static_cast<double>(bytes.size()) * rounds / seconds / 1e6);
    }
    return best;
}

size_t FoldAll(CaseFolding mode, const std::string& bytes, std::vector<char>* out)
{
    FoldState state;
    StartFolding(&state, mode);
    size_t written = 0;
    for (size_t at = 0; at < bytes.size(); at += PieceBytes) {
        const int count = static_cast<int>(std::min<size_t>(PieceBytes, bytes.size() - at));
        if (FoldTakeAscii(&state, bytes.data() + at, count)) continue;
        written += static_cast<size_t>(FoldText(&state, bytes.data() + at, count, out->data(), nullptr));
    }
    return written + static_cast<size_t>(FinishFolding(&state, out->data(), nullptr));
}

std::string VisibleText(const std::string& document)
{
    VisibleTextReader reader;
    StartVisibleText(&reader, VisibleTextDecodeReferences, VectorLevelInUse());
    std::string text;
    std::vector<char> piece(PieceBytes + VisibleTextSlack);
    for (size_t at = 0; at < document.size(); at += PieceBytes) {
        const int count = static_cast<int>(std::min<size_t>(PieceBytes, document.size() - at));
        text.append(piece.data(), static_cast<size_t>(ReadVisibleText(&reader, document.data() + at, count, piece.data())));
    }
    return text.append(piece.data(), static_cast<size_t>(FinishVisibleText(&reader, piece.data())));
}

void Measure(const std::string& label, const std::string& bytes)
{
    std::vector<char> out(static_cast<size_t>(FoldOutputCapacity(PieceBytes)));
    size_t nonAscii = 0;
    for (char byte : bytes) nonAscii += static_cast<unsigned char>(byte) >= 0x80;
    volatile size_t sink = 0;
    const double copy = MegabytesPerSecond(bytes, [&] {
        for (size_t at = 0; at < bytes.size(); at += PieceBytes)
            memcpy(out.data(), bytes.data() + at, std::min<size_t>(PieceBytes, bytes.size() - at));
        sink = sink + static_cast<size_t>(out[0]);
    });
    double folded[2];
    for (CaseFolding mode : {CaseFoldUnicode, CaseFoldAccents})
        folded[mode - 1] = MegabytesPerSecond(bytes, [&] { sink = sink + FoldAll(mode, bytes, &out); });
    printf("%-28s%8.1f%9.1f%%%10.0f%10.0f%10.0f\n", label.c_str(), bytes.size() / 1e6,
           100.0 * nonAscii / std::max<size_t>(1, bytes.size()), copy, folded[0], folded[1]);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<Sample> samples;
    for (int i = 1; i < argc; ++i) {
        if (samples.empty() || strcmp(argv[i], "--") == 0) {
            if (strcmp(argv[i], "--") == 0 && ++i == argc) break;
            samples.push_back(Sample{argv[i], "", ""});
            continue;
        }
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) {
            fprintf(stderr, "fold-bench: cannot read %s\n", argv[i]);
            return 2;
        }
        const std::string document{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        samples.back().bytes += document;
        samples.back().text += VisibleText(document);
    }
    printf("%-28s%8s%10s%10s%10s%10s\n", "text", "MB", "non-ASCII", "copy", "unicode", "accents");
    printf("%-28s%8s%10s%10s%10s%10s\n", "", "", "", "MB/s", "MB/s", "MB/s");
    for (const Sample& sample : samples) Measure(sample.label + ", as stored", sample.bytes);
    for (const Sample& sample : samples) Measure(sample.label + ", text", sample.text);
    return 0;
}
