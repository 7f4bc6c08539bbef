// filesrch: the document scanner. Reads one file through the scan buffer,
// takes its title and META texts, scores every hit of every word, and files a
// matching document into the ranked result list.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "corv-core.h"
#include "corv-str.h"
#include "filesrch.h"
#include "platform.h"
#include "srchexpr.h"

ScannerState scanner;

namespace {

const char* const UntitledText = "Untitled";
const char* const NoDescriptionText = "...No description given...";
constexpr double TitleWeight = 8.0;
constexpr double DescriptionWeight = 4.0;
constexpr double KeywordsWeight = 2.0;
constexpr double BodyWeight = 1.0;

// What the first block tells of a document; copied into a result slot only
// when the document matches, so no slot ever mixes two documents.
struct DocumentTexts {
    char title[TitleCapacity];
    char description[DescriptionCapacity];
    char keywords[KeywordsCapacity];
};

void ExtractTitle(const char* data, const char* end, char* title)
{
    title[0] = '\0';
    const char* hit = nullptr;
    if (!FindPattern(&scanner.titlePattern, data, end, &hit)) return;
    const char* at = static_cast<const char*>(memchr(hit, '>', static_cast<size_t>(end - hit)));
    if (!at) return;
    ++at;
    int copied = 0;
    while (at < end && *at != '<' && copied < TitleCharacterLimit) title[copied++] = *at++;
    title[copied] = '\0';
    if (copied == TitleCharacterLimit) StrAppend(title, "...");
}

void ApplyMetaTag(const char* tagText, DocumentTexts* texts)
{
    char* target = nullptr;
    bool expectName = false, expectContent = false;
    char token[MetaTokenSize + 1];
    char separator = 0;
    for (int index = 0; GetAttributeToken(tagText, index, token, MetaTokenSize, &separator); ++index) {
        if (expectName) {
            target = StrEqualNoCase(token, "description") ? texts->description
                     : StrEqualNoCase(token, "keywords")  ? texts->keywords
                                                          : nullptr;
            expectName = false;
        } else if (expectContent) {
            if (target) StrCopy(target, token);
            expectContent = false;
        } else if (separator == '=') {
            expectName = StrEqualNoCase(token, "name");
            expectContent = !expectName && StrEqualNoCase(token, "content");
        }
    }
}

// Takes the META texts and blanks each tag, so it is not scored again.
void ExtractMetaTags(char* data, const char* end, DocumentTexts* texts)
{
    char tagText[TagTextCapacity];
    const char* hit = nullptr;
    char* position = data;
    while (FindPattern(&scanner.metaPattern, position, end, &hit)) {
        position = const_cast<char*>(hit) + scanner.metaPattern.length;
        if (!CopyTagText(position, end, tagText, tagText + TagTextCapacity, 1)) continue;
        ApplyMetaTag(tagText, texts);
    }
}

void ScoreFirstBlock(char* data, const char* end, DocumentTexts* texts)
{
    ExtractTitle(data, end, texts->title);
    ExtractMetaTags(data, end, texts);
    int unused = 0;
    const char* regions[3] = {texts->title, texts->description, texts->keywords};
    const double weights[3] = {TitleWeight, DescriptionWeight, KeywordsWeight};
    for (int i = 0; i < 3; ++i)
        if (regions[i][0]) ScanRegion(weights[i], regions[i], regions[i] + strlen(regions[i]), &unused);
}

// Reads the file block by block; false when it cannot be opened.
bool ScoreFileText(const char* path, DocumentTexts* texts)
{
    PlatFileGuard file(PlatOpen(path, PlatReadText));
    if (!file) return false;
    ResetWordStats();
    char* buffer = scanner.scanBuffer;
    int carry = 0;
    for (;;) {
        int got = PlatRead(file.get(), buffer + carry, scanner.scanBufferSize - 1 - carry);
        if (got <= 0) break;
        int dataLength = carry + got;
        buffer[dataLength] = '\0';
        if (carry == 0) ScoreFirstBlock(buffer, buffer + dataLength, texts);
        int longest = 0;
        ScanRegion(BodyWeight, buffer, buffer + dataLength, &longest);
        carry = std::min(longest, dataLength);
        memmove(buffer, buffer + dataLength - carry, static_cast<size_t>(carry));
    }
    return true;
}

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

void FileMatch(const char* path, int32_t size, uint32_t modified, const DocumentTexts& texts,
               double percent, double weight)
{
    ResultEntry* slot = ChooseWorkSlot();
    bool linked = resultList.linkedCount == ResultSlotCount;
    if (linked) Unlink(slot);
    StrCopy(slot->path, path);
    for (char* at = slot->path; *at; ++at)
        if (*at == '\\') *at = '/';
    slot->size = size;
    slot->modified = modified;
    StrCopy(slot->title, texts.title[0] ? texts.title : UntitledText);
    StrCopy(slot->description, texts.description[0] ? texts.description : NoDescriptionText);
    slot->percent = percent;
    slot->weight = weight;
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

int ScanFile(const char* folderPath, const char* fileName, int32_t size, uint32_t modified)
{
    if (!IsSearchableFile(folderPath, fileName)) return 1;
    char path[PathCapacity];
    if (!StrCopyBounded(path, PathCapacity, folderPath) || !StrAppendBounded(path, PathCapacity, fileName))
        return 1;
    DocumentTexts texts;
    texts.title[0] = texts.description[0] = texts.keywords[0] = '\0';
    if (!ScoreFileText(path, &texts)) return 1;
    int found = 0;
    double percent = 0.0, weight = 0.0;
    if (ScoreDocument(&found, &percent, &weight))
        FileMatch(path, size, modified, texts, percent, weight);
    ++resultList.filesScanned;
    return 1;
}

int ResetWordStats()
{
    for (int i = 0; i < searchExpression.wordCount; ++i) {
        SearchWord& word = searchExpression.words[i];
        word.best = 0.0;
        word.total = 0.0;
        word.found = 0;
    }
    return 1;
}

int LeftContextFactor(unsigned char before, double* factor)
{
    switch (before) {
    case 0: case '\t': case '\n': case '\r': case ' ': case '"': case '(': case '>': *factor = 1.0; break;
    case '_': *factor = 0.95; break;
    case '*': case '-': case '/': case ';': *factor = 0.9; break;
    case '<': case '[': case '{': *factor = 0.85; break;
    case '!': case ',': case '.': case ':': case '?': *factor = 0.8; break;
    case ')': case ']': case '}': *factor = 0.75; break;
    default: *factor = 0.5; break;
    }
    return 1;
}

int RightContextFactor(unsigned char after, unsigned char lastOfHit, double* factor)
{
    bool pluralMark = (after == 's' || after == 'S') && lastOfHit != 's' && lastOfHit != 'S';
    switch (after) {
    case 0: case '\t': case '\n': case '\r': case ' ': case '!': case '"': case ')': case ',': case '.':
    case ';': case '<': case '?': *factor = 1.0; break;
    case '_': *factor = 0.95; break;
    case '>': case ']': case '}': *factor = 0.85; break;
    case '*': case '-': case '/': case ':': *factor = 0.8; break;
    case '\'': case '(': case '[': case '{': *factor = 0.75; break;
    default: *factor = pluralMark ? 0.9 : 0.5; break;
    }
    return 1;
}

int ScanRegion(double weight, const char* start, const char* end, int* longestWord)
{
    *longestWord = 0;
    for (int i = 0; i < searchExpression.wordCount; ++i) {
        SearchWord& word = searchExpression.words[i];
        if (word.flags & WordSkipped) continue;
        const int length = word.pattern.length;
        const char* hit = nullptr;
        for (const char* from = start; FindPattern(&word.pattern, from, end, &hit); from = hit + length) {
            double left = 1.0, right = 1.0;
            if (!(word.flags & WordAnyPrefix)) LeftContextFactor(hit > start ? static_cast<unsigned char>(hit[-1]) : 0, &left);
            if (!(word.flags & WordAnySuffix)) {
                unsigned char after = hit + length < end ? static_cast<unsigned char>(hit[length]) : 0;
                RightContextFactor(after, static_cast<unsigned char>(hit[length - 1]), &right);
            }
            double score = left * right;
            if (score > word.best) word.best = score;
            word.total += score * score * weight;
            word.found = 1;
        }
        if (length > *longestWord) *longestWord = length;
    }
    return 1;
}

int ScoreDocument(int* foundCount, double* percent, double* weight)
{
    *foundCount = 0;
    *percent = 0.0;
    *weight = 0.0;
    int considered = 0;
    double sumOfBests = 0.0;
    for (int i = 0; i < searchExpression.wordCount; ++i) {
        const SearchWord& word = searchExpression.words[i];
        if (word.flags & WordSkipped) continue;
        ++considered;
        sumOfBests += word.best;
        *weight += word.total;
        if (word.found == 1) ++*foundCount;
        if ((word.flags & WordRequired) && !word.found) return 0;
        if ((word.flags & WordExcluded) && word.found) return 0;
    }
    if (*foundCount == 0) return 0;
    double found = *foundCount;
    *percent = std::floor((found / considered) * (sumOfBests / found) * 100.0);
    return 1;
}
