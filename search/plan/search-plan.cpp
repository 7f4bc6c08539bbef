// filesrch: the search plan, built once per search.
#include "search-plan.h"

#include <cstring>

#include "corv-core.h"
#include "corv-str.h"

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
        for (int table = 0; table < FactorsTableCount; ++table)
            factors->twentieths[table][byte] = static_cast<uint8_t>(factors->of[table][byte] * 20.0 + 0.5);
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
        const int32_t left = searched.flags & WordAnyPrefix ? FactorsNone : FactorsLeft;
        const int32_t right = searched.flags & WordAnySuffix ? FactorsNone : endsInS ? FactorsRightAfterS : FactorsRight;
        scoring.left = plan->factors.of[left];
        scoring.right = plan->factors.of[right];
        scoring.leftTwentieths = plan->factors.twentieths[left];
        scoring.rightTwentieths = plan->factors.twentieths[right];
    }
}

bool IsByteTerm(const SearchTerm& term) { return term.pattern->length == 1; }

void GatherByteTerms(SearchPlan* plan)
{
    const SearchExpression& expression = *plan->expression;
    ByteTerms& bytes = plan->byteTerms;
    for (int16_t& term : bytes.termOf) term = -1;
    for (int32_t term = 0; term < expression.termCount; ++term) bytes.count += IsByteTerm(expression.terms[term]);
    if (bytes.count < 2) return;
    const TextPattern* others[PatternSetLimit];
    int32_t otherCount = 0;
    for (int32_t term = 0; term < expression.termCount; ++term) {
        const TextPattern& pattern = *expression.terms[term].pattern;
        if (!IsByteTerm(expression.terms[term])) {
            bytes.otherTerm[otherCount] = static_cast<int16_t>(term);
            others[otherCount++] = &pattern;
            continue;
        }
        // Terms ignore ASCII case (and no two are the same byte so).
        const unsigned char byte = pattern.text[0];
        bytes.termOf[byte] = bytes.termOf[FoldAsciiUpper(byte)] = static_cast<int16_t>(term);
        if (byte >= 'A' && byte <= 'Z') bytes.termOf[byte + 32] = static_cast<int16_t>(term);
    }
    if (otherCount == 0) return;
    bytes.others = static_cast<PatternSet*>(MemAlloc(sizeof(PatternSet), PlanModule, __LINE__));
    CompilePatternSet(bytes.others, others, otherCount);
}

}  // namespace

void BuildSearchPlan(SearchPlan* plan, const SearchExpression* expression, int32_t textOnly, bool relevance)
{
    CORV_CHECK_POINTER(PlanModule, plan);
    CORV_CHECK_POINTER(PlanModule, expression);
    memset(plan, 0, sizeof *plan);
    plan->expression = expression;
    plan->level = VectorLevelInUse();
    plan->textOnly = textOnly != TextOnlyNo;
    plan->mainContent = textOnly == TextOnlyMain;
    plan->relevance = relevance;
    CompileTags(&plan->tags);
    FillFactors(&plan->factors);
    SettleScoring(plan);
    GatherByteTerms(plan);
    if (textOnly) PrepareTextFilter(&plan->filter, *expression, plan->level);
}

void ReleaseSearchPlan(SearchPlan* plan)
{
    CORV_CHECK_POINTER(PlanModule, plan);
    ReleaseTextFilter(&plan->filter);
    if (plan->byteTerms.others)
        MemFree(&plan->byteTerms.others, static_cast<int32_t>(sizeof(PatternSet)), PlanModule, __LINE__);
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
