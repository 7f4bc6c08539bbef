// Search-word compilation with an arbitrary search text and skip list.
//
// Input: a flag byte, the search text up to the first zero byte (cut to 319
// bytes, the size of the request's field), then the skip-list file's bytes.
//   flags bits 0-1  0 or 3: the skip list is that file, 1: no skip list,
//                   2: a skip list that does not exist
#include <cstdint>
#include <cstring>
#include <string>

#include "corv-str.h"
#include "fuzz-support.h"
#include "srchexpr.h"

using namespace fuzz_support;

namespace {

constexpr size_t SearchTextLimit = 319;
constexpr int32_t KnownFlags = WordRequired | WordExcluded | WordSkipped | WordAnyPrefix | WordAnySuffix;

struct Setup {
    std::string skipFile;     // as the system spells it
    std::string skipPath;     // as the program spells it
    std::string missingPath;  // a skip list that is not there
};

Setup MakeSetup()
{
    Setup setup;
    const std::string root = ScratchFolder("fuzz-expression");
    StartCore(root + "/cgi-bin/trawlex.exe");
    setup.skipFile = root + "/cgi-bin/srchdata/skip.txt";
    setup.skipPath = InternalPath(setup.skipFile);
    setup.missingPath = InternalPath(root + "/cgi-bin/srchdata/missing.txt");
    return setup;
}

void RequireCompiled(const std::string& search, bool skipListUsed)
{
    Require(searchExpression.wordCount == CountSearchWords(search.c_str()), "one record per word");
    Require(searchExpression.wordCount > 0 && searchExpression.words != nullptr, "a compiled search has words");
    int skipped = 0;
    for (int i = 0; i < searchExpression.wordCount; ++i) {
        const SearchWord& word = searchExpression.words[i];
        Require(word.pattern.length >= 1 && word.pattern.length <= PatternTextCapacity, "a word's pattern length");
        Require(word.pattern.mode == PatternIgnoreCase, "words are compiled ignoring case");
        Require((word.flags & ~KnownFlags) == 0, "only known word flags");
        Require((word.term < 0) == ((word.flags & WordSkipped) != 0), "a word has a term unless skipped");
        Require(word.term < searchExpression.termCount, "a word's term exists");
        if (word.term >= 0) {
            const SearchTerm& term = searchExpression.terms[word.term];
            Require(term.flags == (word.flags & (WordAnyPrefix | WordAnySuffix)), "a term has its words' wildcards");
            Require(term.pattern->length == word.pattern.length &&
                        StrEqualNoCaseN(reinterpret_cast<const char*>(term.pattern->text),
                                        reinterpret_cast<const char*>(word.pattern.text), word.pattern.length),
                    "a term has its words' text");
        }
        if (word.flags & WordSkipped) ++skipped;
    }
    for (int a = 0; a < searchExpression.termCount; ++a)
        for (int b = a + 1; b < searchExpression.termCount; ++b) {
            const SearchTerm& first = searchExpression.terms[a];
            const SearchTerm& second = searchExpression.terms[b];
            Require(first.flags != second.flags || first.pattern->length != second.pattern->length ||
                        !StrEqualNoCaseN(reinterpret_cast<const char*>(first.pattern->text),
                                         reinterpret_cast<const char*>(second.pattern->text), first.pattern->length),
                    "no two terms share text and wildcards");
        }
    Require(skipped < searchExpression.wordCount, "not every word is a skip word");
    Require(skipListUsed || skipped == 0, "without a skip list no word is skipped");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Setup setup = MakeSetup();
    InputReader input(data, size);
    const uint8_t flags = input.Byte();
    std::string search = input.Until('\0', 4096);
    if (search.size() > SearchTextLimit) search.resize(SearchTextLimit);
    const std::string skipList = input.Rest();

    const char* skipPath = setup.skipPath.c_str();
    bool skipListUsed = true;
    switch (flags & 3) {
    case 1: skipPath = ""; skipListUsed = false; break;
    case 2: skipPath = setup.missingPath.c_str(); skipListUsed = false; break;
    default: WriteBytes(setup.skipFile, skipList.data(), skipList.size()); break;
    }

    ExactBlock text(search);
    if (CompileSearchExpression(skipPath, text.data())) {
        RequireCompiled(search, skipListUsed);
        FreeSearchExpression();
    }
    Require(searchExpression.wordCount == 0, "no words once released or refused");
    RequireNoTrackedMemory("compiling a search");
    return 0;
}
