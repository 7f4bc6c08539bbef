// META tag handling on arbitrary tags: CopyTagText into an exact-size
// destination, with the blanking of the copied bytes on and off, and every
// token of the tag through GetAttributeToken into an exact-size token buffer.
//
// Input: the token size (a byte; 0 stands for the scanner's 300), the
// destination size (2 bytes, 1 to 1024), then the tag's bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include "document-scan.h"
#include "fuzz-support.h"

using namespace fuzz_support;

namespace {

void CheckCopy(const std::string& tag, size_t destinationSize, bool blank)
{
    ExactBlock source(tag.data(), tag.size());
    ExactBlock destination(destinationSize);
    const int result = CopyTagText(source.data(), source.end(), destination.data(), destination.end(), blank);

    const size_t close = std::min(tag.find('>'), tag.size());
    const size_t copied = std::min(close, destinationSize - 1);
    const int expected = (copied == destinationSize - 1 || close < tag.size()) ? 1 : 0;
    Require(result == expected, "1 at the closing \">\" or a full destination, 0 when the source ends first");
    Require(memcmp(destination.data(), tag.data(), copied) == 0 && destination.data()[copied] == '\0',
            "the bytes before \">\" are copied and terminated");
    for (size_t i = 0; i < tag.size(); ++i) {
        const char want = (blank && i < copied) ? ' ' : tag[i];
        Require(source.data()[i] == want, "exactly the copied bytes are blanked, and only when asked");
    }
}

void CheckTokens(const std::string& tag, int tokenSize)
{
    ExactBlock text(tag);
    ExactBlock token(static_cast<size_t>(tokenSize) + 1);
    const size_t length = strlen(text.data());
    for (int index = 0;; ++index) {
        char separator = 'x';
        const int result = GetAttributeToken(text.data(), index, token.data(), tokenSize, &separator);
        Require(separator == 0 || separator == ' ' || separator == '=', "the separator is none, blank or \"=\"");
        Require(memchr(token.data(), '\0', token.size()) != nullptr, "the token is terminated within its buffer");
        Require(strlen(token.data()) <= static_cast<size_t>(tokenSize), "the token fits its size");
        if (!result) break;
        // A tag of n bytes holds fewer than n + 1 tokens; more would never end
        // the scanner's loop over them.
        Require(static_cast<size_t>(index) <= length, "the tokens of a tag come to an end");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    StartCore("/srv/site/cgi-bin/trawlex.exe");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    InputReader input(data, size);
    const uint8_t sizeByte = input.Byte();
    const int tokenSize = sizeByte == 0 ? MetaTokenSize : sizeByte;
    const size_t destinationSize = 1 + input.Number(2) % 1024;
    const std::string tag = input.Rest();

    CheckCopy(tag, destinationSize, true);
    CheckCopy(tag, destinationSize, false);

    // As the scanner uses them: the tag's text as copied, then its tokens.
    ExactBlock source(tag.data(), tag.size());
    char tagText[TagTextCapacity];
    CopyTagText(source.data(), source.end(), tagText, tagText + TagTextCapacity, 1);
    CheckTokens(tagText, tokenSize);
    CheckTokens(tag.c_str(), tokenSize);
    return 0;
}
