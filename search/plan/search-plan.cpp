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

uint8_t Twentieths(double factor) { return static_cast<uint8_t>(factor * 20.0 + 0.5); }

void FillFactors(ContextFactors* factors)
{
    for (int byte = 0; byte < 256; ++byte) {
        LeftContextFactor(static_cast<unsigned char>(byte), &factors->left[byte]);
        RightContextFactor(static_cast<unsigned char>(byte), 'a', &factors->right[byte]);
        RightContextFactor(static_cast<unsigned char>(byte), 's', &factors->rightAfterS[byte]);
        factors->leftTwentieths[byte] = Twentieths(factors->left[byte]);
        factors->rightTwentieths[byte] = Twentieths(factors->right[byte]);
        factors->rightAfterSTwentieths[byte] = Twentieths(factors->rightAfterS[byte]);
    }
}

}  // namespace

void BuildSearchPlan(SearchPlan* plan, const SearchExpression* expression, bool textOnly, bool relevance)
{
    CORV_CHECK_POINTER(PlanModule, plan);
    CORV_CHECK_POINTER(PlanModule, expression);
    memset(plan, 0, sizeof *plan);
    plan->expression = expression;
    plan->level = VectorLevelInUse();
    plan->textOnly = textOnly;
    plan->relevance = relevance;
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
