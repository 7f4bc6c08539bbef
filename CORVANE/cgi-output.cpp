// cgi: the response. Header, formatted text, in-page comments, fragment
// copies and URL encoding.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cgi.h"
#include "corv-str.h"
#include "platform.h"

extern CgiState cgiState;

int CgiSendHeader()
{
    cgiState.headerSent = 1;
    return CgiPrint("Content-Type: text/html\n\n");
}

namespace {

// Longer than anything the program prints at once (a paging link holds at
// most 2,048 bytes of query); a longer text would be cut.
constexpr int PrintCapacity = 8192;

}  // namespace

int CgiPrint(const char* format, ...)
{
    char text[PrintCapacity];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length > 0) PlatOutputWrite(text, length < PrintCapacity ? length : PrintCapacity - 1);
    return 1;
}

int CgiWriteBytes(const char* bytes, int count)
{
    PlatOutputWrite(bytes, count);
    return 1;
}

int CgiComment(const char* format, ...)
{
    if (!cgiState.headerSent) return 1;
    char message[1024];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    if (length < 0) return 1;
    size_t kept = strlen(message);
    size_t formatLength = strlen(format);
    if (formatLength > 0 && format[formatLength - 1] == '\n' && kept > 0 && message[kept - 1] == '\n')
        message[--kept] = '\0';
    CgiPrint("<!-- %s -->\n\n", message);
    return 1;
}

int CgiIncludeFile(const char* path)
{
    const char* extension = strrchr(path + (path[0] ? 1 : 0), '.');
    if (!extension) extension = path;
    if (!StrEqualNoCaseN(extension, ".htm", 4)) return 1;
    PlatFileGuard file(PlatOpen(path, PlatReadRaw));
    if (!file) return 1;
    char chunk[512];
    for (int got; (got = PlatRead(file.get(), chunk, sizeof chunk)) > 0;) CgiWriteBytes(chunk, got);
    return 1;
}

int CgiUrlEncode(const char* source, char* target)
{
    static const char HexDigits[] = "0123456789ABCDEF";
    for (const unsigned char* in = reinterpret_cast<const unsigned char*>(source); *in; ++in) {
        unsigned char byte = *in;
        bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                     (byte >= '0' && byte <= '9') || byte == '@' || byte == '*' || byte == '-' ||
                     byte == '_' || byte == '.';
        if (plain) {
            *target++ = static_cast<char>(byte);
        } else if (byte == ' ') {
            *target++ = '+';
        } else {
            *target++ = '%';
            *target++ = HexDigits[byte >> 4];
            *target++ = HexDigits[byte & 15];
        }
    }
    *target = '\0';
    return 1;
}
