// Reference scans for the differential test, each document read whole at
// once. Text only: its whole visible text taken at once and scored as one
// region, with the title and META texts from its first block as read.
// Relevance with markup searched: the whole stored text scored as one
// region, its first block's META tags blanked as the scanner blanks them.
// When the search folds, the whole text is folded at once.
#include <string>
#include <vector>

#include "document-scan.h"
#include "visible-text.h"

namespace {

std::string WholeDocument(PlatFile* file)
{
    std::string document;
    char chunk[4096];
    for (int got; (got = PlatRead(file, chunk, sizeof chunk)) > 0;) document.append(chunk, static_cast<size_t>(got));
    return document;
}

// The text folded at once, when the search folds: its new length.
int FoldWhole(const ScanContext& context, std::vector<char>* text, int length)
{
    if (context.plan->folding == CaseFoldAscii) return length;
    std::vector<char> folded(static_cast<size_t>(FoldOutputCapacity(length)));
    FoldState state;
    StartFolding(&state, context.plan->folding, context.plan->keepsPunctuation);
    const int foldedLength = FoldText(&state, text->data(), length, folded.data(), nullptr);
    text->swap(folded);
    return foldedLength + FinishFolding(&state, text->data() + foldedLength, nullptr);
}

}  // namespace

void ScoreVisibleText(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    std::string document = WholeDocument(file);
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
    length = FoldWhole(*context, &text, length);
    context->textLength = length;
    int longest = 0;
    ScanRegion(context, 1.0, text.data(), text.data() + length, &longest);
}

void ScoreStoredText(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    std::string document = WholeDocument(file);
    if (document.empty()) return;
    std::string first = document.substr(0, static_cast<size_t>(context->blockSize - 1));
    ScoreFirstBlock(context, first.data(), first.data() + first.size(), texts);
    document.replace(0, first.size(), first);
    std::vector<char> text(document.begin(), document.end());
    const int length = FoldWhole(*context, &text, static_cast<int>(text.size()));
    context->textLength = length;
    int longest = 0;
    ScanRegion(context, 1.0, text.data(), text.data() + length, &longest);
}
