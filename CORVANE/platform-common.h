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

// Copies up to `wanted` text bytes from buffer[position, length) to target:
// carriage returns dropped, a 0x1A byte ends the text for good (textEnded is
// set and the rest of the buffer is consumed). Returns the bytes delivered.
size_t TakeText(const unsigned char* buffer, size_t& position, size_t length,
                unsigned char* target, size_t wanted, bool& textEnded);

}  // namespace platform_common
