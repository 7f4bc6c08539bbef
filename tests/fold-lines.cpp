// Folds each line of its input under both modes and writes the two results
// in hexadecimal, separated by a tab: scripts/gen-unicode-tables --against
// compares them with Unicode's definition of a caseless match.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "corv-fold.h"

int main()
{
    std::string line;
    while (std::getline(std::cin, line)) {
        std::vector<char> folded(static_cast<size_t>(FoldOutputCapacity(static_cast<int>(line.size()))));
        for (CaseFolding mode : {CaseFoldUnicode, CaseFoldAccents}) {
            const int length = FoldWord(mode, line.data(), static_cast<int>(line.size()), folded.data(),
                                        static_cast<int>(folded.size()));
            for (int i = 0; i < length; ++i) printf("%02x", static_cast<unsigned char>(folded[static_cast<size_t>(i)]));
            putchar(mode == CaseFoldUnicode ? '\t' : '\n');
        }
    }
    return 0;
}
