// corv-str: checked operations on zero-terminated byte strings (ASCII-only
// case folding, independent of any locale) and the program-folder paths.
#pragma once

// Every path buffer of the program holds this many bytes.
constexpr int PathCapacity = 320;

int StrLength(const char* text);
int StrCopy(char* target, const char* source);
int StrAppend(char* target, const char* source);
int StrEqual(const char* a, const char* b);
int StrEqualNoCase(const char* a, const char* b);
int StrEqualN(const char* a, const char* b, int n);
int StrEqualNoCaseN(const char* a, const char* b, int n);
int StrFindNoCase(const char* text, const char* word, const char** position);

// Copies source into target when it fits targetCapacity with its terminator;
// 0 and the target untouched otherwise.
int StrCopyBounded(char* target, int targetCapacity, const char* source);
// Appends the same way; 0 and the target untouched when it would not fit.
int StrAppendBounded(char* target, int targetCapacity, const char* source);

// The program's folder, ending in a backslash; empty when it is unknown or
// does not fit the capacity.
int GetProgramDirectory(char* target, int capacity);
int SlashesToBackslashes(char* path);

inline unsigned char FoldAsciiUpper(unsigned char byte)
{
    return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - 32) : byte;
}

inline bool IsAsciiDigit(unsigned char byte) { return byte >= '0' && byte <= '9'; }
inline bool IsAsciiLetter(unsigned char byte) { return (byte | 0x20) >= 'a' && (byte | 0x20) <= 'z'; }
inline bool IsAsciiHexDigit(unsigned char byte)
{
    return IsAsciiDigit(byte) || ((byte | 0x20) >= 'a' && (byte | 0x20) <= 'f');
}

// The length of the well-formed UTF-8 sequence of two or more bytes at `at`
// (bytes up to `end`), or 0: overlong forms, surrogates and code points past
// U+10FFFF are not well formed. Inline: the text folder asks it of every
// character.
inline int Utf8SequenceLength(const unsigned char* at, const unsigned char* end)
{
    const unsigned char lead = at[0];
    const int length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                     : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || end - at < length) return 0;
    for (int i = 1; i < length; ++i)
        if ((at[i] & 0xC0) != 0x80) return 0;
    const unsigned char second = at[1];
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F)) return 0;  // overlong, surrogate
    if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) return 0;  // overlong, too large
    return length;
}
