// platform-posix: what the POSIX files of the platform layer share.
#pragma once

#include <string>

// The system's form of an internal path: every backslash turned into "/".
std::string PlatSystemPath(const char* internalPath);
