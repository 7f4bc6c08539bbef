// platform-common: the pieces of the operating-system boundary that every
// system shares, so that each side orders names and translates text alike.
// Included by the platform files only.
#pragma once

#include <cstddef>
#include <string>

namespace platform_common {

// Entry order: bytes compared with ASCII letters upper-cased; names equal
// after that compare by their raw bytes.
bool NameBefore(const std::string& a, const std::string& b);

// Windows text translation in place, for bytes just read into the caller's
// block: a 0x1A byte ends the text for good (textEnded is set), carriage
// returns are dropped. Returns the bytes kept at the start of the block.
size_t TranslateText(unsigned char* bytes, size_t count, bool& textEnded);

}  // namespace platform_common
