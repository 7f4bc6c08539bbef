// filesrch: the search plan, built once per search.
#include "search-plan.h"

#include <cstring>

#include "corv-core.h"

namespace {

const char* const PlanModule = "filesrch";

void CompileTags(TagPatterns* tags)
{
    CompilePattern(&tags->title, "<TITLE>", PatternIgnoreCase);
    CompilePattern(&tags->meta, "<META", PatternIgnoreCase);
}

void FillFactors(ContextFactors* factors)
{
    for (int byte = 0; byte < 256; ++byte) {
        LeftContextFactor(static_cast<unsigned char>(byte), &factors->left[byte]);
        RightContextFactor(static_cast<unsigned char>(byte), 'a', &factors->right[byte]);
        RightContextFactor(static_cast<unsigned char>(byte), 's', &factors->rightAfterS[byte]);
    }
}

// Which sides of each term are of a script written without spaces.
void NoteTermEdges(SearchPlan* plan)
{
    const SearchExpression& expression = *plan->expression;
    for (int32_t term = 0; term < expression.termCount; ++term) {
        const TextPattern& pattern = *expression.terms[term].pattern;
        const char* text = reinterpret_cast<const char*>(pattern.text);
        uint32_t first = 0, last = 0;
        uint8_t edges = 0;
        if (CodePointAt(text, text + pattern.length, &first) > 0 && IsUnspacedScript(first)) edges |= TermStartsUnspaced;
        if (CodePointBefore(text, text + pattern.length, &last) > 0 && IsUnspacedScript(last)) edges |= TermEndsUnspaced;
        plan->termEdges[term] = edges;
    }
}

}  // namespace

FoldedHitEnd FoldedEndOfHit(const char* after, const char* end)
{
    if (after >= end) return FoldedHitEnd::Unknown;
    // Combining marks and the Hangul letters that go on a syllable are U+0300 and above.
    if (static_cast<unsigned char>(*after) < 0xCC) return FoldedHitEnd::Ends;
    uint32_t codePoint = 0;
    if (CodePointAt(after, end, &codePoint) > 0)
        return ContinuesCharacter(codePoint) ? FoldedHitEnd::Continues : FoldedHitEnd::Ends;
    return IsCutCodePoint(after, end) ? FoldedHitEnd::Unknown : FoldedHitEnd::Ends;
}

void BuildSearchPlan(SearchPlan* plan, const SearchExpression* expression, bool textOnly)
{
    CORV_CHECK_POINTER(PlanModule, plan);
    CORV_CHECK_POINTER(PlanModule, expression);
    memset(plan, 0, sizeof *plan);
    plan->expression = expression;
    plan->level = VectorLevelInUse();
    plan->textOnly = textOnly;
    plan->folding = expression->folding;
    if (plan->folding != CaseFoldAscii) NoteTermEdges(plan);
    CompileTags(&plan->tags);
    FillFactors(&plan->factors);
    if (textOnly) PrepareTextFilter(&plan->filter, *expression, plan->level);
}

void ReleaseSearchPlan(SearchPlan* plan)
{
    CORV_CHECK_POINTER(PlanModule, plan);
    ReleaseTextFilter(&plan->filter);
}

int LeftContextFactor(unsigned char before, double* factor)
{
    switch (before) {
    case 0: case '\t': case '\n': case '\r': case ' ': case '"': case '(': case '>': *factor = 1.0; break;
    case '_': *factor = 0.95; break;
    case '*': case '-': case '/': case ';': *factor = 0.9; break;
    case '<': case '[': case '{': *factor = 0.85; break;
    case '!': case ',': case '.': case ':': case '?': *factor = 0.8; break;
    case ')': case ']': case '}': *factor = 0.75; break;
    default: *factor = 0.5; break;
    }
    return 1;
}

int RightContextFactor(unsigned char after, unsigned char lastOfHit, double* factor)
{
    bool pluralMark = (after == 's' || after == 'S') && lastOfHit != 's' && lastOfHit != 'S';
    switch (after) {
    case 0: case '\t': case '\n': case '\r': case ' ': case '!': case '"': case ')': case ',': case '.':
    case ';': case '<': case '?': *factor = 1.0; break;
    case '_': *factor = 0.95; break;
    case '>': case ']': case '}': *factor = 0.85; break;
    case '*': case '-': case '/': case ':': *factor = 0.8; break;
    case '\'': case '(': case '[': case '{': *factor = 0.75; break;
    default: *factor = pluralMark ? 0.9 : 0.5; break;
    }
    return 1;
}
