// cgi: the web server's side of a run. Request intake (environment, query
// string or body, site root, field and pair splitting, URL decoding, numbers),
// output (header, printf-style text, in-page comments, fragment copies, URL
// encoding) and the daily query log.
#pragma once

#include <cstdint>

constexpr int CgiBodyBufferSize = 512;

struct CgiState {
    int headerSent;
    const char* remoteAddress;   // nullptr when REMOTE_ADDR is not set
    const char* requestData;     // nullptr for a streamed body or no request
    int32_t requestLength;
    int32_t readPosition;
    char bodyBuffer[CgiBodyBufferSize + 1];
    char siteRoot[320];
};

// 1, or 0 when the program's own folder cannot be told (the site root would
// then be the root of the disk).
int CgiInit();
int CgiDone();

int CgiGetRequest(const char** text, int32_t* length);
int CgiReadRequest(char* target, int32_t count);
int CgiGetSiteRoot(char* target, int capacity);

int CgiNextField(char* target, int capacity, char separator, const char* text, int* consumed);
int CgiSplitPair(char* name, char* value, int capacity, char separator, const char* text);
int CgiUrlDecode(const char* source, char* target);
int32_t CgiParseNumber(const char* text);

int CgiSendHeader();
int CgiPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
int CgiComment(const char* format, ...) __attribute__((format(printf, 1, 2)));
int CgiWriteBytes(const char* bytes, int count);
int CgiIncludeFile(const char* path);
// target must hold 3 * length of source + 1 bytes.
int CgiUrlEncode(const char* source, char* target);

int CgiLogQuery(const char* folder, const char* format, ...) __attribute__((format(printf, 2, 3)));
