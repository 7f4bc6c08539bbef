// Reference folded scan for the differential test: the whole document read
// at once, its title and META texts taken from its first block as read, the
// whole document (META tags blanked) folded at once, and the folded bytes
// scored in blocks as the program scores them.
#include <algorithm>
#include <string>
#include <vector>

#include "document-scan.h"

bool ScoreFoldedFileText(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    std::string document;
    char chunk[4096];
    for (int got; (got = PlatRead(file, chunk, sizeof chunk)) > 0;) document.append(chunk, static_cast<size_t>(got));
    if (document.empty()) return true;
    std::string first = document.substr(0, static_cast<size_t>(context->blockSize - 1));
    ScoreFirstBlock(context, &first[0], first.data() + first.size(), texts);
    document.replace(0, first.size(), first);
    std::vector<char> folded(static_cast<size_t>(FoldOutputCapacity(static_cast<int>(document.size()))));
    FoldState state;
    StartFolding(&state, context->plan->folding, context->plan->keepsPunctuation);
    int length = FoldText(&state, document.data(), static_cast<int>(document.size()), folded.data(), nullptr);
    length += FinishFolding(&state, folded.data() + length, nullptr);
    int carry = 0;
    for (int at = 0; at < length;) {
        const int take = std::min(context->blockSize - 1 - carry, length - at);
        std::copy(folded.data() + at, folded.data() + at + take, context->block + carry);
        at += take;
        context->blockOffset = at - take - carry;
        context->block[carry + take] = '\0';
        carry = ScoreBlock(context, carry + take, carry);
    }
    EndBlocks(context);
    return true;
}
