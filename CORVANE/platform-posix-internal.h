// platform-posix: what the POSIX files of the platform layer share.
#pragma once

#include <string>

#include "platform.h"

// The system's form of an internal path: every backslash turned into "/".
std::string PlatSystemPath(const char* internalPath);

// Every name in a folder (the listing's own call, which tests may replace).
PlatFailure PlatSystemListFolder(const char* path, PlatFolderListing* listing);
