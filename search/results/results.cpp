// filesrch: the ranked result list. Matches are filed in walk order on the
// walking thread: each goes in at its place for the sort mode (an insertion
// into a sorted doubly linked list), and past ResultLimit the last drops out.
#include "results.h"

#include <cstring>

#include "corv-str.h"

ResultList resultList;

namespace {

const char* const UntitledText = "Untitled";
const char* const NoDescriptionText = "...No description given...";

ResultEntry* ChooseWorkSlot()
{
    if (resultList.linkedCount < ResultSlotCount) return &resultList.slots[resultList.linkedCount];
    return resultList.tail;
}

void Unlink(ResultEntry* entry)
{
    if (entry->prev) entry->prev->next = entry->next; else resultList.head = entry->next;
    if (entry->next) entry->next->prev = entry->prev; else resultList.tail = entry->prev;
    entry->next = entry->prev = nullptr;
    --resultList.linkedCount;
}

void FileMatch(const char* path, int32_t size, uint32_t modified, const ScannedDocument& document)
{
    ResultEntry* slot = ChooseWorkSlot();
    bool linked = resultList.linkedCount == ResultSlotCount;
    if (linked) Unlink(slot);
    StrCopy(slot->path, path);
    for (char* at = slot->path; *at; ++at)
        if (*at == '\\') *at = '/';
    slot->size = size;
    slot->modified = modified;
    StrCopy(slot->title, document.title[0] ? document.title : UntitledText);
    StrCopy(slot->description, document.description[0] ? document.description : NoDescriptionText);
    slot->percent = document.percent;
    slot->weight = document.weight;
    memcpy(slot->hitOffsets, document.hitOffsets, sizeof slot->hitOffsets);
    memcpy(slot->shownOffsets, document.shownOffsets, sizeof slot->shownOffsets);
    slot->marks = document.marks;
    InsertRanked(slot);
    if (resultList.resultCount < ResultLimit) ++resultList.resultCount;
    ++resultList.matchedTotal;
}

// Each key compared "higher first"; the first difference decides.
int CompareKeys(const double (&a)[3], const double (&b)[3])
{
    for (int i = 0; i < 3; ++i) {
        if (a[i] > b[i]) return 1;
        if (a[i] < b[i]) return -1;
    }
    return 0;
}

void SortKeys(const ResultEntry* entry, double (&keys)[3])
{
    double modified = static_cast<double>(entry->modified);
    double size = static_cast<double>(entry->size);
    switch (resultList.sortMode) {
    case SortByWeight: keys[0] = entry->weight; keys[1] = entry->percent; keys[2] = modified; break;
    case SortByDate: keys[0] = modified; keys[1] = entry->percent; keys[2] = entry->weight; break;
    case SortBySize: keys[0] = size; keys[1] = entry->percent; keys[2] = entry->weight; break;
    default: keys[0] = entry->percent; keys[1] = entry->weight; keys[2] = modified; break;
    }
}

bool ComesBefore(const ResultEntry* listed, const ResultEntry* added)
{
    double listedKeys[3], addedKeys[3];
    SortKeys(listed, listedKeys);
    SortKeys(added, addedKeys);
    return CompareKeys(listedKeys, addedKeys) > 0;
}

}  // namespace

int32_t SortModeFor(const char* sortBy)
{
    if (StrEqualNoCase(sortBy, "Weight")) return SortByWeight;
    if (StrEqualNoCase(sortBy, "Date")) return SortByDate;
    if (StrEqualNoCase(sortBy, "Size")) return SortBySize;
    return SortByPercent;
}

void InsertRanked(ResultEntry* entry)
{
    ResultEntry* before = nullptr;
    ResultEntry* after = resultList.head;
    while (after && ComesBefore(after, entry)) {
        before = after;
        after = after->next;
    }
    entry->prev = before;
    entry->next = after;
    if (before) before->next = entry; else resultList.head = entry;
    if (after) after->prev = entry; else resultList.tail = entry;
    ++resultList.linkedCount;
}

void FileScannedDocument(const char* path, int32_t size, uint32_t modified, const ScannedDocument& document)
{
    if (document.matched) FileMatch(path, size, modified, document);
    ++resultList.filesScanned;
}
