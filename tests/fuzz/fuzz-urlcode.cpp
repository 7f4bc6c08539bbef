// URL encoding and decoding: decoding an encoded text gives the text back, and
// decoding never writes more than its input's length plus the terminator.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "cgi.h"
#include "fuzz-support.h"

using namespace fuzz_support;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    StartCore("/srv/site/cgi-bin/trawlex.exe");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::string text = raw.c_str();  // a text holds no zero byte
    ExactBlock source(text);

    // Encoding: 3 bytes per input byte at most, plus the terminator.
    ExactBlock encoded(3 * text.size() + 1);
    CgiUrlEncode(source.data(), encoded.data());
    Require(memchr(encoded.data(), '\0', encoded.size()) != nullptr, "encoded text terminated in its block");
    for (const char* at = encoded.data(); *at; ++at) {
        if (*at == '%') {
            Require(strchr("0123456789ABCDEF", at[1]) && at[1] && strchr("0123456789ABCDEF", at[2]) && at[2],
                    "\"%\" is followed by two upper-case hexadecimal digits");
            at += 2;
        } else {
            Require(isalnum(static_cast<unsigned char>(*at)) || strchr("@*-_.+", *at),
                    "an encoded text holds only letters, digits, \"@*-_.+\" and escapes");
        }
    }

    const std::string encodedText = encoded.data();
    ExactBlock decoded(encodedText.size() + 1);
    CgiUrlDecode(encoded.data(), decoded.data());
    Require(text == decoded.data(), "decoding an encoded text gives the text back");

    // Decoding arbitrary bytes: the target needs no more than the source.
    ExactBlock target(text.size() + 1);
    CgiUrlDecode(source.data(), target.data());
    Require(strlen(target.data()) <= text.size(), "decoding never lengthens a text");
    CgiUrlDecode(source.data(), source.data());
    Require(strcmp(source.data(), target.data()) == 0, "decoding in place gives the same text");
    return 0;
}
