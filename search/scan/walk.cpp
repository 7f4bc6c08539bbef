// filesrch: the depth-first walk of the search path and the file filter.
#include "walk.h"

#include <cstring>

#include "corv-core.h"
#include "corv-str.h"
#include "platform.h"
#include "run-settings.h"

char walkPath[PathCapacity];
int32_t walkDepth;

namespace {

bool IsDotName(const char* name)
{
    return StrEqual(name, ".") || StrEqualN(name, "..", 2);
}

// True when text equals one of the comma-ended entries of list, ignoring case.
bool ListHas(const char* list, const char* text)
{
    size_t length = strlen(text);
    for (const char* entry = list; *entry;) {
        const char* comma = strchr(entry, ',');
        size_t entryLength = comma ? static_cast<size_t>(comma - entry) : strlen(entry);
        if (entryLength == length && StrEqualNoCaseN(entry, text, static_cast<int>(length))) return true;
        if (!comma) break;
        entry = comma + 1;
    }
    return false;
}

void EnterSubfolder(const char* name, int options, const WalkVisitor& visitor)
{
    size_t folderLength = strlen(walkPath);
    // A folder whose path would not fit is passed over, with all below it.
    if (folderLength + strlen(name) + 2 > sizeof walkPath) return;
    memcpy(walkPath + folderLength, name, strlen(name));
    walkPath[folderLength + strlen(name)] = '\\';
    walkPath[folderLength + strlen(name) + 1] = '\0';
    ++walkDepth;
    WalkFolder(walkPath, options, visitor);
    --walkDepth;
    walkPath[folderLength] = '\0';
}

}  // namespace

int WalkFolder(const char* folderPath, int options, const WalkVisitor& visitor)
{
    if (walkDepth == 0) {
        if (!StrCopyBounded(walkPath, PathCapacity, folderPath)) return 1;
        size_t length = strlen(walkPath);
        if ((length == 0 || walkPath[length - 1] != '\\') && !StrAppendBounded(walkPath, PathCapacity, "\\"))
            return 1;
        folderPath = walkPath;
    }
    PlatFailure failure = PlatFailureNone;
    PlatFolderGuard folder(PlatFolderOpen(folderPath, &failure));
    if (!folder) {
        DebugPrint("Error opening (%s)\n", folderPath);
        // A folder that permission refuses, or that went, is passed over.
        if (failure == PlatFailureResources) visitor.onUnlistable(visitor.visitor);
        return 1;
    }
    PlatFolderEntry entry;
    while (PlatFolderNext(folder.get(), &entry)) {
        if (IsDotName(entry.name)) continue;
        if ((entry.attributes & PlatAttributeHidden) && !(options & WalkHidden)) continue;
        if (entry.attributes & PlatAttributeFolder) {
            if (options & WalkSubfolders) EnterSubfolder(entry.name, options, visitor);
            continue;
        }
        if (walkDepth == 0 && !(options & WalkTopFiles)) continue;
        // Files the filter refuses are passed over before their details are read.
        if (!IsSearchableFile(folderPath, entry.name) || !PlatFolderEntryDetails(folder.get(), &entry)) continue;
        visitor.onFile(visitor.visitor, folderPath, entry.name, entry.size, entry.modified);
    }
    return 1;
}

bool IsSearchableFile(const char* folderPath, const char* fileName)
{
    const char* extension = strrchr(fileName, '.');
    if (!ListHas(runSettings.fileSpecs, extension ? extension : fileName)) return false;
    size_t rootLength = strlen(runSettings.searchPath);
    const char* relative = folderPath;
    if (rootLength > 0 && strlen(folderPath) >= rootLength) relative = folderPath + rootLength - 1;
    if (ListHas(runSettings.excludePaths, relative)) return false;
    return !StrEqualNoCaseN(relative, "\\cgi-bin\\", 9);
}
