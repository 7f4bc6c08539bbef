// corv-str: checked string operations and program-folder paths.
#include "corv-str.h"

#include <cstring>
#include <vector>

#include "corv-core.h"
#include "platform.h"

namespace {

const char* const StrModule = "corv-str";

bool SameFolded(unsigned char a, unsigned char b) { return FoldAsciiUpper(a) == FoldAsciiUpper(b); }

}  // namespace

int StrLength(const char* text)
{
    CORV_CHECK_POINTER(StrModule, text);
    return static_cast<int>(strlen(text));
}

int StrCopy(char* target, const char* source)
{
    CORV_CHECK_POINTER(StrModule, target);
    CORV_CHECK_POINTER(StrModule, source);
    while ((*target++ = *source++) != '\0') {
    }
    return 1;
}

int StrAppend(char* target, const char* source)
{
    CORV_CHECK_POINTER(StrModule, target);
    CORV_CHECK_POINTER(StrModule, source);
    return StrCopy(target + strlen(target), source);
}

int StrEqual(const char* a, const char* b)
{
    CORV_CHECK_POINTER(StrModule, a);
    CORV_CHECK_POINTER(StrModule, b);
    return strcmp(a, b) == 0 ? 1 : 0;
}

int StrEqualNoCase(const char* a, const char* b)
{
    CORV_CHECK_POINTER(StrModule, a);
    CORV_CHECK_POINTER(StrModule, b);
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        if (!SameFolded(*x, *y)) return 0;
        if (*x == '\0') return 1;
    }
}

int StrEqualN(const char* a, const char* b, int n)
{
    CORV_CHECK_POINTER(StrModule, a);
    CORV_CHECK_POINTER(StrModule, b);
    for (int i = 0; i < n; ++i) {
        if (a[i] != b[i]) return 0;
    }
    return 1;
}

int StrEqualNoCaseN(const char* a, const char* b, int n)
{
    CORV_CHECK_POINTER(StrModule, a);
    CORV_CHECK_POINTER(StrModule, b);
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (int i = 0; i < n; ++i) {
        if (!SameFolded(x[i], y[i])) return 0;
    }
    return 1;
}

int StrFindNoCase(const char* text, const char* word, const char** position)
{
    CORV_CHECK_POINTER(StrModule, text);
    CORV_CHECK_POINTER(StrModule, word);
    CORV_CHECK_POINTER(StrModule, position);
    int n = static_cast<int>(strlen(word));
    for (const char* at = text; *at; ++at) {
        if (StrEqualNoCaseN(at, word, n)) {
            *position = at;
            return 1;
        }
    }
    *position = nullptr;
    return 0;
}

int StrCopyBounded(char* target, int targetCapacity, const char* source)
{
    CORV_CHECK_POINTER(StrModule, target);
    CORV_CHECK_POINTER(StrModule, source);
    size_t length = strlen(source);
    if (targetCapacity <= 0 || length >= static_cast<size_t>(targetCapacity)) return 0;
    memcpy(target, source, length + 1);
    return 1;
}

int StrAppendBounded(char* target, int targetCapacity, const char* source)
{
    CORV_CHECK_POINTER(StrModule, target);
    size_t used = strlen(target);
    if (targetCapacity <= 0 || used >= static_cast<size_t>(targetCapacity)) return 0;
    return StrCopyBounded(target + used, targetCapacity - static_cast<int>(used), source);
}

int GetProgramDirectory(char* target, int capacity)
{
    if (capacity <= 0) return 1;
    target[0] = '\0';
    // Room for the whole command line, so the program's path is never cut
    // (a cut path would name another folder), and for a backslash after "D:".
    const char* commandLine = PlatCommandLine();
    std::vector<char> buffer(strlen(commandLine) + 2);
    char* program = buffer.data();
    if (!GetCommandArg(commandLine, 0, program, static_cast<int>(buffer.size() - 1))) return 1;
    SlashesToBackslashes(program);
    int length = static_cast<int>(strlen(program));
    int cut = length - 1;
    while (cut > 0 && program[cut] != '\\' && program[cut] != ':') --cut;
    if (cut > 0 && program[cut] == '\\') {
        program[cut + 1] = '\0';
    } else if (cut > 0) {
        program[cut + 1] = '\\';
        program[cut + 2] = '\0';
    } else if (program[0] == '\\') {
        program[1] = '\0';  // the program lies in the root folder
    } else {
        program[0] = '\0';  // a bare name: no folder can be told
    }
    // A cut folder would be another folder: give none rather than a wrong one.
    if (!StrCopyBounded(target, capacity, program)) target[0] = '\0';
    return 1;
}

int SlashesToBackslashes(char* path)
{
    for (; *path; ++path)
        if (*path == '/') *path = '\\';
    return 1;
}
