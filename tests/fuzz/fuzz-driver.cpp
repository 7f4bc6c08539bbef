// The whole request driver, run in-process against a small fixed site.
//
// Input: a flag byte, a parameter byte, the query string up to the first zero
// byte, then the request body.
//   flags bit 0     QUERY_STRING is set (to the query string)
//   flags bits 1-2  CONTENT_LENGTH: 0 unset, 1 the body's length, 2 the body's
//                   length plus 1 + 8 * parameter (a short or streamed body),
//                   3 an odd text chosen by the parameter
//   flags bit 3     REMOTE_ADDR is unset
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "corv-core.h"
#include "fuzz-support.h"
#include "winmain.h"

using namespace fuzz_support;

namespace {

const char* const OddContentLengths[] = {
    "0", "-1", "abc", " +7", "512", "513", "1023", "1024", "99999999999999", "", "2147483648",
    "-2147483649", " 12x", "0x20", "+0", "1e3",
};

struct Site {
    std::string root;
    std::string program;
    std::string logs;
};

std::string Repeat(const std::string& text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

Site MakeSite()
{
    Site site;
    site.root = ScratchFolder("fuzz-driver");
    const std::string data = site.root + "/cgi-bin/srchdata/";
    site.program = site.root + "/cgi-bin/trawlex.exe";
    site.logs = data + "logs";
    std::filesystem::create_directories(site.logs);
    WriteText(data + "config.txt",
              "# search the whole site\r\n"
              "BASEURL /site/\n"
              "FILESPEC .htm\n"
              "  filespec .html   # both spellings\n"
              "EXCLUDEPATH /private/\n"
              "SKIPLIST skip.txt\n");
    WriteText(data + "skip.txt", "the and of\na to\tin\r\n");
    WriteText(data + "header.htm", "<HTML><BODY>\n");
    WriteText(data + "footer.htm", "</BODY></HTML>\n");
    WriteText(data + "body.htm",
              "<P>&Search.Match;. <A HREF=\"&Search.BaseURL;&Search.URL;\">&Search.Title;</A> &amp; "
              "&Search.Description; &Search.Size; &Search.Modified; &Search.Weight; &Search.Percent; "
              "&Search.MatchTotal;/&Search.MatchReturned; &Search.Unknown; &nbsp; black & white</P>\n");
    WriteText(data + "bodyCompact.htm", "<LI>&Search.Title; (&Search.Percent;)\n");
    WriteText(site.root + "/index.htm",
              "<HTML><HEAD><TITLE>Cats and Dogs</TITLE>\n"
              "<META name=\"description\" content=\"All about cats, dogs and other pets\">\n"
              "<META NAME=keywords CONTENT=\"cat, dog, pet\"></HEAD>\n"
              "<BODY>The cat sat on the mat. Dogs bark.</BODY></HTML>\n");
    WriteText(site.root + "/docs/a.htm",
              "<title>Red apples</title><meta content=\"ignored\" name=\"description\">"
              "the red apple is a fruit; apples are red or green.\r\n");
    WriteText(site.root + "/docs/b.html", "<TITLE>" + Repeat("long title ", 12) + "</TITLE>" +
                                               Repeat("catalogue category bobcat scat cats. ", 40));
    WriteText(site.root + "/docs/sub/c.htm", "no title here, only black & white \"quoted words\" and (cat)\n");
    WriteText(site.root + "/docs/empty.htm", "");
    WriteText(site.root + "/docs/ends.htm", "apple dog cat\x1A after the end of the text: bobcat");
    WriteText(site.root + "/docs/notes.txt", "cat dog apple\n");
    WriteText(site.root + "/private/secret.htm", "<TITLE>Secret cat</TITLE>cat\n");
    WriteText(site.root + "/private/more/open.htm", "<TITLE>Below private</TITLE>dog\n");
    WriteText(site.root + "/.hidden/h.htm", "cat\n");
    WriteText(site.root + "/cgi-bin/page.htm", "cat\n");
    std::filesystem::create_directories(site.root + "/docs/emptyfolder");
    // stdout is the page; nobody reads it.
    if (!freopen("/dev/null", "w", stdout)) Fail("cannot send standard output to /dev/null");
    return site;
}

// The query log grows by a line per run; the program creates it again.
void RemoveLogs(const Site& site)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(site.logs, error))
        std::filesystem::remove(entry.path(), error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Site site = MakeSite();
    static unsigned runs = 0;
    if (++runs % 512 == 0) RemoveLogs(site);

    InputReader input(data, size);
    const uint8_t flags = input.Byte();
    const uint8_t parameter = input.Byte();
    const std::string query = input.Until('\0', 8192);
    const std::string body = input.Rest();

    if (flags & 1) setenv("QUERY_STRING", query.c_str(), 1); else unsetenv("QUERY_STRING");
    switch ((flags >> 1) & 3) {
    case 0: unsetenv("CONTENT_LENGTH"); break;
    case 1: setenv("CONTENT_LENGTH", std::to_string(body.size()).c_str(), 1); break;
    case 2: setenv("CONTENT_LENGTH", std::to_string(body.size() + 1 + 8 * parameter).c_str(), 1); break;
    default: {
        const size_t count = sizeof OddContentLengths / sizeof OddContentLengths[0];
        setenv("CONTENT_LENGTH", OddContentLengths[parameter % count], 1);
    }
    }
    if (flags & 8) unsetenv("REMOTE_ADDR"); else setenv("REMOTE_ADDR", "192.0.2.7", 1);

    // Standard input reads the body from memory.
    static std::string bodyBytes;
    bodyBytes = body;
    fclose(stdin);
    stdin = bodyBytes.empty() ? fopen("/dev/null", "rb") : fmemopen(bodyBytes.data(), bodyBytes.size(), "rb");
    if (!stdin) Fail("cannot give the request body as standard input");

    std::string program = site.program;
    char* argv[] = {program.data(), nullptr};
    Require(RunProgram(1, argv) == 0, "the driver's exit status is 0");
    RequireNoTrackedMemory("a request");
    return 0;
}
