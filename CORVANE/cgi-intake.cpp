// cgi: request intake from the CGI environment and the decoding helpers.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cgi.h"
#include "corv-core.h"
#include "corv-str.h"

CgiState cgiState;

namespace {

int32_t AnnouncedBodyLength()
{
    const char* value = getenv("CONTENT_LENGTH");
    if (!value) return 0;
    errno = 0;
    long length = strtol(value, nullptr, 10);
    if (length > INT32_MAX) return INT32_MAX;
    if (length < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(length);
}

void BufferBody(int32_t announced)
{
    size_t got = fread(cgiState.bodyBuffer, 1, static_cast<size_t>(announced), stdin);
    cgiState.bodyBuffer[got] = '\0';
    cgiState.requestData = cgiState.bodyBuffer;
    cgiState.requestLength = static_cast<int32_t>(got);
}

void FindSiteRoot()
{
    char* root = cgiState.siteRoot;
    GetProgramDirectory(root, sizeof cgiState.siteRoot);
    int length = static_cast<int>(strlen(root));
    if (length <= 3) return;
    for (int at = length - 2; at > 0 && root[at] != '\\'; --at) root[at] = '\0';
}

int IsHexDigit(unsigned char byte)
{
    return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'f') || (byte >= 'A' && byte <= 'F');
}

int HexValue(unsigned char byte)
{
    if (byte <= '9') return byte - '0';
    return (byte | 0x20) - 'a' + 10;
}

}  // namespace


int CgiInit()
{
    cgiState.headerSent = 0;
    cgiState.readPosition = 0;
    cgiState.remoteAddress = getenv("REMOTE_ADDR");
    cgiState.requestData = nullptr;
    cgiState.requestLength = 0;
    int32_t announced = AnnouncedBodyLength();
    if (announced > CgiBodyBufferSize)
        DebugPrint("Query too large, will no be qued (%d > %d)\n", announced, CgiBodyBufferSize);
    if (announced <= 0) {
        cgiState.requestData = getenv("QUERY_STRING");
        size_t length = cgiState.requestData ? strlen(cgiState.requestData) : 0;
        cgiState.requestLength = length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
    } else if (announced <= CgiBodyBufferSize) {
        BufferBody(announced);
    } else {
        cgiState.requestLength = announced;
    }
    FindSiteRoot();
    return cgiState.siteRoot[0] != '\0' ? 1 : 0;
}

int CgiDone() { return 1; }

int CgiGetRequest(const char** text, int32_t* length)
{
    *text = cgiState.requestData;
    *length = cgiState.requestLength;
    return cgiState.requestLength > 0 ? 1 : 0;
}

int CgiReadRequest(char* target, int32_t count)
{
    if (count <= 0) return 1;
    if (cgiState.requestLength - cgiState.readPosition < count) {
        DebugPrint("Request too large (%d / %d / %d)\n", count, cgiState.requestLength, cgiState.readPosition);
        return 0;
    }
    size_t delivered = static_cast<size_t>(count);
    if (cgiState.requestData)
        memcpy(target, cgiState.requestData + cgiState.readPosition, delivered);
    else
        delivered = fread(target, 1, delivered, stdin);
    cgiState.readPosition += static_cast<int32_t>(delivered);
    return delivered == static_cast<size_t>(count) ? 1 : 0;
}

int CgiGetSiteRoot(char* target, int capacity)
{
    StrCopyBounded(target, capacity, cgiState.siteRoot);
    return 1;
}

int CgiNextField(char* target, int capacity, char separator, const char* text, int* consumed)
{
    *consumed = 0;
    if (!target || !text || !*text || capacity <= 0) return 0;
    int copied = 0;
    bool quoting = false;
    const char* at = text;
    for (; *at; ++at) {
        if (*at == '"') {
            quoting = !quoting;
            continue;
        }
        if (*at == separator && !quoting) break;
        target[copied++] = *at;
        if (copied >= capacity) return 0;  // the field does not fit
    }
    while (*at && *at == separator) ++at;
    target[copied] = '\0';
    *consumed = static_cast<int>(at - text);
    return 1;
}

int CgiSplitPair(char* name, char* value, int capacity, char separator, const char* text)
{
    if (!name || !value || !text || !*text) return 0;
    const char* split = strchr(text, separator);
    if (!split || separator == '\0') return 0;
    size_t nameLength = static_cast<size_t>(split - text);
    size_t limit = capacity > 0 ? static_cast<size_t>(capacity - 1) : 0;
    if (nameLength > limit) nameLength = limit;
    memcpy(name, text, nameLength);
    name[nameLength] = '\0';
    const char* rest = split + 1;
    while (*rest == ' ' || *rest == '+') ++rest;
    size_t valueLength = strlen(rest);
    if (valueLength > limit) valueLength = limit;
    memcpy(value, rest, valueLength);
    value[valueLength] = '\0';
    return 1;
}

int CgiUrlDecode(const char* source, char* target)
{
    const unsigned char* in = reinterpret_cast<const unsigned char*>(source);
    char* out = target;
    while (*in) {
        if (in[0] == '%' && IsHexDigit(in[1]) && IsHexDigit(in[2])) {
            *out++ = static_cast<char>(HexValue(in[1]) * 16 + HexValue(in[2]));
            in += 3;
        } else {
            *out++ = *in == '+' ? ' ' : static_cast<char>(*in);
            ++in;
        }
    }
    *out = '\0';
    return 1;
}

int32_t CgiParseNumber(const char* text)
{
    if (!text) return 0;
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > INT32_MAX) value = INT32_MAX;
    }
    return static_cast<int32_t>(value);
}
