// Reference text-only scan for the differential test: the whole document
// read at once, its whole visible text taken at once (and folded at once,
// when the search folds), and scored as one region, with the title and
// META texts from its first block as read.
#include <string>
#include <vector>

#include "document-scan.h"
#include "visible-text.h"

void ScoreVisibleText(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    std::string document;
    char chunk[4096];
    for (int got; (got = PlatRead(file, chunk, sizeof chunk)) > 0;) document.append(chunk, static_cast<size_t>(got));
    if (document.empty()) return;
    std::vector<char> text(document.size() * 2 + 4 * VisibleTextSlack);
    VisibleTextReader reader;
    StartVisibleText(&reader, VisibleTextDecodeReferences, context->plan->level);
    int length = ReadVisibleText(&reader, document.data(), static_cast<int>(document.size()), text.data());
    length += FinishVisibleText(&reader, text.data() + length);
    if (reader.restartAt >= 0) {
        const size_t from = static_cast<size_t>(reader.restartAt);
        length += ReadVisibleText(&reader, document.data() + from, static_cast<int>(document.size() - from),
                                  text.data() + length);
        length += FinishVisibleText(&reader, text.data() + length);
    }
    std::string first = document.substr(0, static_cast<size_t>(context->blockSize - 1));
    ScoreFirstBlock(context, first.data(), first.data() + first.size(), texts);
    if (context->plan->folding != CaseFoldAscii) {
        std::vector<char> folded(static_cast<size_t>(FoldOutputCapacity(length)));
        FoldState state;
        StartFolding(&state, context->plan->folding, context->plan->keepsPunctuation);
        const int foldedLength = FoldText(&state, text.data(), length, folded.data(), nullptr);
        length = foldedLength + FinishFolding(&state, folded.data() + foldedLength, nullptr);
        text.swap(folded);
    }
    int longest = 0;
    ScanRegion(context, 1.0, text.data(), text.data() + length, &longest);
}
