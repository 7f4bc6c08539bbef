// filesrch: the text of one META tag and its attribute tokens.
#include "corv-core.h"
#include "document-scan.h"

namespace {

const char* const TagModule = "filesrch";

// The walk over a tag's bytes while one token is looked for.
struct TokenSplit {
    int wanted;
    char* token;
    int tokenSize;
    char* separator;
    int length = 0;
    int result = 0;
    bool inQuote = false;
    int depth = 0;
    int counter = 0;
    bool previousWasSeparator = false;
    unsigned char previous = 0;
};

void TakeSeparator(TokenSplit* split, unsigned char byte)
{
    if (*split->separator == 0 || byte == '=') *split->separator = static_cast<char>(byte);
    if (!split->previousWasSeparator) ++split->counter;
    split->previousWasSeparator = true;
}

// Stores a byte of the wanted token; true when the token is full.
bool StoreTokenByte(TokenSplit* split, unsigned char raw)
{
    split->result = 1;
    *split->separator = 0;
    split->token[split->length] = static_cast<char>(raw);
    bool heldBack = raw == '\\' && split->previous != '\\';
    if (!heldBack) ++split->length;
    if (split->length < split->tokenSize - 3) return false;
    split->token[split->length++] = '.';
    split->token[split->length++] = '.';
    split->token[split->length++] = '.';
    split->token[split->length] = '\0';
    return true;
}

enum class Step { Next, Stop, Full };

Step TakeTokenByte(TokenSplit* split, unsigned char byte, unsigned char raw)
{
    if (split->counter > split->wanted) return Step::Stop;
    if (!split->inQuote) {
        if (byte == '<') ++split->depth;
        if (byte == '>' && --split->depth < 0) return Step::Stop;
    }
    bool wanted = split->counter == split->wanted;
    if (byte == '"' && split->previous != '\\') {
        split->inQuote = !split->inQuote;
        if (wanted) split->result = 1;
    } else if (!wanted) {
        *split->separator = 0;
    } else if (StoreTokenByte(split, raw)) {
        return Step::Full;
    }
    split->previousWasSeparator = false;
    split->previous = byte;
    return Step::Next;
}

}  // namespace

int GetAttributeToken(const char* tagText, int index, char* token, int tokenSize, char* separator)
{
    CORV_CHECK_POINTER(TagModule, tagText);
    CORV_CHECK_POINTER(TagModule, token);
    CORV_CHECK_POINTER(TagModule, separator);
    *separator = 0;
    if (tokenSize < 4) {
        token[0] = '\0';
        return 0;
    }
    TokenSplit split{index, token, tokenSize, separator};
    if (index == 0 && tagText[0] && tagText[1]) split.result = 1;
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(tagText); *at; ++at) {
        unsigned char byte = *at;
        if (split.depth == 0) {
            if (byte == '\n') byte = ' ';
            else if (byte < 0x20) continue;
        }
        if (split.depth == 0 && !split.inQuote && (byte == ' ' || byte == '=')) {
            TakeSeparator(&split, byte);
            split.previous = byte;
            continue;
        }
        Step step = TakeTokenByte(&split, byte, *at);
        if (step == Step::Full) return 1;
        if (step == Step::Stop) break;
    }
    token[split.length] = '\0';
    return split.result;
}

int CopyTagText(char* source, const char* sourceEnd, char* destination, const char* destinationEnd, int blank)
{
    while (destination < destinationEnd - 1) {
        if (source >= sourceEnd) {
            *destination = '\0';
            return 0;
        }
        if (*source == '>') break;
        *destination++ = *source;
        if (blank) *source = ' ';
        ++source;
    }
    *destination = '\0';
    return 1;
}
