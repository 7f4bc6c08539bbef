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
        LeftContextFactor(static_cast<unsigned char>(byte), &factors->of[FactorsLeft][byte]);
        RightContextFactor(static_cast<unsigned char>(byte), 'a', &factors->of[FactorsRight][byte]);
        RightContextFactor(static_cast<unsigned char>(byte), 's', &factors->of[FactorsRightAfterS][byte]);
        factors->of[FactorsNone][byte] = 1.0;
    }
}

void SettleScoring(SearchPlan* plan)
{
    const SearchExpression& expression = *plan->expression;
    for (int32_t term = 0; term < expression.termCount; ++term) {
        const SearchTerm& searched = expression.terms[term];
        const int32_t length = searched.pattern->length;
        const bool endsInS = (searched.pattern->text[length - 1] | 0x20) == 's';
        TermScoring& scoring = plan->scoring[term];
        scoring.length = length;
        scoring.left = searched.flags & WordAnyPrefix ? FactorsNone : FactorsLeft;
        scoring.right = searched.flags & WordAnySuffix ? FactorsNone : endsInS ? FactorsRightAfterS : FactorsRight;
    }
}

}  // namespace

void BuildSearchPlan(SearchPlan* plan, const SearchExpression* expression, int32_t textOnly)
{
    CORV_CHECK_POINTER(PlanModule, plan);
    CORV_CHECK_POINTER(PlanModule, expression);
    memset(plan, 0, sizeof *plan);
    plan->expression = expression;
    plan->level = VectorLevelInUse();
    plan->textOnly = textOnly != TextOnlyNo;
    plan->mainContent = textOnly == TextOnlyMain;
    CompileTags(&plan->tags);
    FillFactors(&plan->factors);
    SettleScoring(plan);
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
