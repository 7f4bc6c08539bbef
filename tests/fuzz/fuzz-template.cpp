// Filling the result template: arbitrary templates and entries, an output
// block of exactly capacity + 2 bytes, and a filled copy of at most
// capacity - 2 bytes.
//
// Input: position (2 bytes), capacity (2), size (4), modified (4), percent
// (1), weight (4), matched total (4), results held (1), then zero-ended
// texts: search path, base URL, path, title, description, and the template.
#include <cstdint>
#include <cstring>
#include <string>

#include "result-template.h"
#include "fuzz-support.h"

using namespace fuzz_support;

namespace {

// Copies a text into a field, cut to fit with its terminator.
void Fill(char* field, size_t capacity, const std::string& text)
{
    const size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
    memcpy(field, text.data(), length);
    field[length] = '\0';
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    StartCore("/srv/site/cgi-bin/trawlex.exe");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    InputReader input(data, size);
    // Values within what the search run can produce.
    const int position = static_cast<int>(input.Number(2) % 1000);
    const int capacity = 2 + static_cast<int>(input.Number(2) % 4096);
    ResultEntry entry{};
    entry.size = static_cast<int32_t>(input.Number(4));
    entry.modified = input.Number(4);
    entry.percent = input.Byte() % 101;
    entry.weight = input.Number(4) / 16.0;
    resultList.matchedTotal = static_cast<int32_t>(input.Number(4) & 0x7FFFFFFF);
    resultList.resultCount = input.Byte() % (ResultLimit + 1);
    const std::string searchPath = input.Until('\0', PathCapacity - 1);
    const std::string baseUrl = input.Until('\0', PathCapacity - 1);
    Fill(entry.path, sizeof entry.path, input.Until('\0', sizeof entry.path));
    Fill(entry.title, sizeof entry.title, input.Until('\0', sizeof entry.title));
    Fill(entry.description, sizeof entry.description, input.Until('\0', sizeof entry.description));
    const std::string templateText = input.Until('\0', 1 << 20);

    ExactBlock searchPathText(searchPath), baseUrlText(baseUrl), templateBlock(templateText);
    runSettings.searchPath = searchPathText.data();
    runSettings.baseUrl = baseUrlText.data();

    ExactBlock output(static_cast<size_t>(capacity) + 2);
    int length = -1;
    ExpandResultTemplate(&entry, position, templateBlock.data(), output.data(), capacity, &length);
    Require(length >= 0 && length <= capacity - 2, "the filled copy holds at most capacity - 2 bytes");
    Require(output.data()[length] == '\0' && strlen(output.data()) == static_cast<size_t>(length),
            "the filled copy is terminated at its length");
    if (templateText.find('&') == std::string::npos)
        Require(templateText.compare(0, static_cast<size_t>(length), output.data()) == 0 &&
                    static_cast<size_t>(length) == std::min(templateText.size(), static_cast<size_t>(capacity - 2)),
                "a template without placeholders is copied as it is");
    runSettings.searchPath = runSettings.baseUrl = nullptr;
    return 0;
}
