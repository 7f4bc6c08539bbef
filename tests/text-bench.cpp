// The visible-text reader's and the text filter's speed on whole files read
// into memory: for each file, megabytes per second of the reader fed in
// pieces of 4,096 bytes as the text-only scan feeds it (references decoded),
// reading the whole text and the main content, and of the filter looking
// through the file's blocks for search words it does not pass (its cost when
// it reads a file to the end). scripts/bench runs it ("adversarial").
//
//   text-bench WORDS FILE...
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "corv-core.h"
#include "document-scan.h"
#include "search-plan.h"
#include "srchexpr.h"
#include "text-filter.h"
#include "visible-text.h"

namespace {

constexpr int PieceBytes = 4096;
constexpr double MinimumSeconds = 0.3;

// The best megabytes per second of three runs, each as many rounds as fit in
// the time; the time is the processor time the process took, which other
// work on the machine changes less than it changes the time that passes.
template <typename Work>
double MegabytesPerSecond(size_t bytes, Work work)
{
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        const std::clock_t start = std::clock();
        double seconds = 0;
        long rounds = 0;
        do {
            work();
            ++rounds;
            seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        } while (seconds < MinimumSeconds / 3);
        best = std::max(best, static_cast<double>(bytes) * rounds / seconds / 1e6);
    }
    return best;
}

// The whole protocol, restarts included; the bytes of text.
size_t ReadAll(const std::string& document, bool main, std::vector<char>* piece)
{
    VisibleTextReader reader;
    StartVisibleText(&reader, VisibleTextDecodeReferences, VectorLevelInUse());
    if (main) StartMainContent(&reader, NoMarks);
    size_t written = 0;
    for (;;) {
        for (size_t at = static_cast<size_t>(reader.offset); at < document.size();) {
            const int count = static_cast<int>(std::min<size_t>(PieceBytes, document.size() - at));
            written += static_cast<size_t>(ReadVisibleText(&reader, document.data() + at, count, piece->data()));
            at = reader.startOver ? 0 : at + static_cast<size_t>(count);
        }
        written += static_cast<size_t>(FinishVisibleText(&reader, piece->data()));
        if (reader.restartAt < 0) return written;
    }
}

// As the scan's filter reads a file to its end; whether it passed it.
bool Filter(const TextFilter& filter, const std::string& document, std::vector<char>* window)
{
    int32_t kept = 0;
    for (size_t at = 0; at < document.size();) {
        const int32_t got = static_cast<int32_t>(std::min<size_t>(ScanBufferSize - 1, document.size() - at));
        std::copy(document.begin() + static_cast<ptrdiff_t>(at), document.begin() + static_cast<ptrdiff_t>(at) + got,
                  window->begin() + kept);
        at += static_cast<size_t>(got);
        const int32_t count = kept + got;
        if (MayShowTerm(filter, window->data(), count, kept, at == document.size())) return true;
        kept = std::min(count, TextFilterCarry);
        std::copy(window->begin() + (count - kept), window->begin() + count, window->begin());
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: text-bench WORDS FILE...\n");
        return 2;
    }
    MemInit(MemLimitMaximum, 0);
    if (CompileSearchExpression("", argv[1]) != 1) {
        fprintf(stderr, "text-bench: the words do not compile\n");
        return 2;
    }
    SearchPlan plan{};
    BuildSearchPlan(&plan, &searchExpression, TextOnlyYes);
    std::vector<char> piece(PieceBytes + VisibleTextSlack), window(TextFilterCarry + ScanBufferSize);
    printf("%-22s%8s%10s%10s%10s\n", "file", "MB", "reader", "main", "filter");
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::string document((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string name = std::string(argv[i]).substr(std::string(argv[i]).find_last_of('/') + 1);
        // TEXT_BENCH_ONLY=reader, main or filter measures that alone (for a profile).
        const char* only = getenv("TEXT_BENCH_ONLY");
        auto wanted = [only](const char* what) { return !only || strcmp(only, what) == 0; };
        const double reader = !wanted("reader") ? 0 : MegabytesPerSecond(document.size(), [&] { ReadAll(document, false, &piece); });
        const double main = !wanted("main") ? 0 : MegabytesPerSecond(document.size(), [&] { ReadAll(document, true, &piece); });
        const bool passed = Filter(plan.filter, document, &window);
        const double filter = !wanted("filter") ? 0 : MegabytesPerSecond(document.size(), [&] { Filter(plan.filter, document, &window); });
        printf("%-22s%8.1f%10.0f%10.0f%10.0f%s\n", name.c_str(), static_cast<double>(document.size()) / 1e6, reader,
               main, filter, passed ? "  (passed)" : "");
    }
    ReleaseSearchPlan(&plan);
    FreeSearchExpression();
    return 0;
}
