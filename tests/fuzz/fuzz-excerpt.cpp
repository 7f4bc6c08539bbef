// Excerpts of arbitrary documents for arbitrary search words: the excerpt
// never holds more characters than its size allows (its marks and ellipses
// aside), its <MARK> pairs balance, it holds no "<" but theirs and no
// control but a tab or a line end, and nothing outside the document or the
// excerpt's room is touched.
//
// Input: the search words up to the first line feed (at most 100 bytes), a
// byte choosing the size (40 + 4 per step, at most 1,000), and, when odd,
// references decoded as with TEXTONLY, and by its next bits the folding
// (ascii, unicode, accents), the document.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "corv-core.h"
#include "excerpt.h"
#include "search-plan.h"
#include "fuzz-support.h"
#include "srchexpr.h"

using namespace fuzz_support;

namespace {

const char* const FallbackWords = "cat \"red apple\" *ing -dog x*";

// The document's visible text.
std::string VisibleText(const ExactBlock& document, VisibleTextMode mode)
{
    std::vector<char> text(document.size() * 2 + 4 * VisibleTextSlack);
    VisibleTextReader reader;
    StartVisibleText(&reader, mode, VectorLevelInUse());
    int written = ReadVisibleText(&reader, document.data(), static_cast<int>(document.size()), text.data());
    written += FinishVisibleText(&reader, text.data() + written);
    if (reader.restartAt >= 0) {
        const size_t from = static_cast<size_t>(reader.restartAt);
        written += ReadVisibleText(&reader, document.data() + from, static_cast<int>(document.size() - from),
                                   text.data() + written);
        written += FinishVisibleText(&reader, text.data() + written);
    }
    return std::string(text.data(), static_cast<size_t>(written));
}

bool IsReferenceByte(char byte)
{
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || byte == '#';
}

// Characters as an excerpt counts them: a whole reference or a UTF-8
// sequence is one. Marks are left out; checks that they pair and that no
// other "<" is written.
size_t CharactersShown(const std::string& excerpt)
{
    size_t characters = 0;
    bool open = false;
    for (size_t at = 0; at < excerpt.size();) {
        if (excerpt.compare(at, 6, "<MARK>") == 0) {
            Require(!open, "a mark opens only after the last one closed");
            open = true;
            at += 6;
            continue;
        }
        if (excerpt.compare(at, 7, "</MARK>") == 0) {
            Require(open, "a mark closes only what opened");
            open = false;
            at += 7;
            continue;
        }
        Require(excerpt[at] != '<' && excerpt[at] != '>' && excerpt[at] != '"', "no markup but the marks");
        const unsigned char byte = static_cast<unsigned char>(excerpt[at]);
        Require((byte >= 0x20 || byte == '\t' || byte == '\n' || byte == '\r') && byte != 0x7F &&
                    !(byte == 0xC2 && at + 1 < excerpt.size() && (excerpt[at + 1] & 0xE0) == 0x80),
                "no control character");
        size_t length = 1;
        if (excerpt[at] == '&') {
            size_t end = excerpt.find(';', at);
            Require(end != std::string::npos && end - at < VisibleTextReferenceLimit, "every & begins a reference");
            for (size_t i = at + 1; i < end; ++i)
                Require(IsReferenceByte(excerpt[i]), "a reference holds letters, digits and #");
            length = end + 1 - at;
        } else {
            const unsigned char lead = static_cast<unsigned char>(excerpt[at]);
            while (at + length < excerpt.size() && lead >= 0xC2 && length < 4 &&
                   (static_cast<unsigned char>(excerpt[at + length]) & 0xC0) == 0x80)
                ++length;
        }
        at += length;
        ++characters;
    }
    Require(!open, "every mark is closed");
    return characters;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    StartCore("/srv/site/cgi-bin/trawlex.exe");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::unique_ptr<ExcerptWorkspace> workspace(new ExcerptWorkspace{});
    InputReader input(data, size);
    const std::string words = input.Until('\n', 100);
    const int sizeByte = input.Byte();
    const int excerptSize = std::min(ExcerptSizeMaximum, ExcerptSizeMinimum + 4 * sizeByte);
    const bool decoded = sizeByte & 1;
    const std::string bytes = input.Rest();
    const ExactBlock document(bytes.data(), bytes.size());

    const CaseFolding folding = static_cast<CaseFolding>((sizeByte >> 1) % 3);
    ExactBlock wordText(words);
    if (!CompileSearchExpression("", wordText.data(), folding))
        Require(CompileSearchExpression("", FallbackWords, folding) == 1, "the fallback words compile");
    SearchPlan plan;
    BuildSearchPlan(&plan, &searchExpression, decoded);
    workspace->plan = &plan;
    const std::string text = VisibleText(document, decoded ? VisibleTextDecodeReferences : VisibleTextKeepReferences);
    const ExactBlock visible(text.data(), text.size());
    const int capacity = ExcerptCapacity(excerptSize);
    ExactBlock out(static_cast<size_t>(capacity));
    const int length = MakeExcerpt(ExcerptPiece{visible.data(), static_cast<int32_t>(text.size()), true, true, decoded},
                                   excerptSize, workspace.get(), out.data(), capacity, nullptr, nullptr);
    Require(length >= 0 && length < capacity && out.data()[length] == '\0', "the excerpt ends within its room");
    Require(strlen(out.data()) == static_cast<size_t>(length), "no NUL inside the excerpt");
    const std::string excerpt(out.data(), static_cast<size_t>(length));
    Require(CharactersShown(excerpt) <= static_cast<size_t>(excerptSize) + 6,
            "an excerpt holds its size in characters, its ellipses aside");
    Require(!text.empty() || excerpt.empty(), "no text, no excerpt");
    ReleaseExcerptRoom(workspace.get());
    ReleaseSearchPlan(&plan);
    FreeSearchExpression();
    RequireNoTrackedMemory("making an excerpt");
    return 0;
}
