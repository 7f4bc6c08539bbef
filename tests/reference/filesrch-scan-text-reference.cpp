// Reference scans for the differential test, each document read whole at
// once. Text only: its whole visible text taken at once and scored as one
// region, with the title and META texts from its first block as read; of
// main content, the main text of the whole document is taken first: its
// tags listed, each element's extent found by counting its name's tags from
// its start tag on, and what is left out cut away, a blank standing at each
// cut; the rest is read as visible text. Relevance with markup searched: the
// whole stored text scored as one region, its first block's META tags
// blanked as the scanner blanks them. When the search folds, the whole text
// is folded at once.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "document-scan.h"
#include "visible-text.h"

namespace {

bool IsBlank(char byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f'; }

std::string Lower(std::string text)
{
    for (char& byte : text)
        if (byte >= 'A' && byte <= 'Z') byte = static_cast<char>(byte + 32);
    return text;
}

struct Tag {
    size_t start, end;  // its "<" and past its ">"
    std::string name;   // in lower case; empty: no element's
    bool closing = false;
    bool holds = true;  // neither void nor self-closed
    std::vector<std::string> roles;
    bool body = false, ignore = false;
};

bool Has(const std::vector<std::string>& roles, const char* role)
{
    return std::find(roles.begin(), roles.end(), role) != roles.end();
}

void ReadAttributes(const std::string& document, size_t at, size_t end, Tag* tag)
{
    bool slashLast = false;
    while (at < end) {
        const char byte = document[at];
        if (IsBlank(byte) || byte == '/') {
            slashLast = byte == '/';
            ++at;
            continue;
        }
        slashLast = false;
        const size_t nameStart = at;
        while (at < end && !IsBlank(document[at]) && document[at] != '/' && document[at] != '=') ++at;
        const std::string name = Lower(document.substr(nameStart, at - nameStart));
        size_t next = at;
        while (next < end && IsBlank(document[next])) ++next;
        std::string value;
        if (next < end && document[next] == '=') {
            for (at = next + 1; at < end && IsBlank(document[at]);) ++at;
            const char quote = at < end && (document[at] == '"' || document[at] == '\'') ? document[at++] : 0;
            const size_t valueStart = at;
            while (at < end && (quote ? document[at] != quote : !IsBlank(document[at]))) ++at;
            value = document.substr(valueStart, at - valueStart);
            if (quote && at < end) ++at;
        }
        if (name == "data-trawlex-body") tag->body = true;
        if (name == "data-trawlex-ignore") tag->ignore = true;
        if (name != "role") continue;
        for (size_t token = 0; token < value.size();) {
            size_t stop = token;
            while (stop < value.size() && !IsBlank(value[stop])) ++stop;
            if (stop > token) tag->roles.push_back(Lower(value.substr(token, stop - token)));
            token = stop + 1;
        }
    }
    const char* const voids[] = {"area", "base", "br", "col", "embed", "hr", "img", "input", "keygen", "link",
                                 "meta", "param", "source", "track", "wbr"};
    tag->holds = !slashLast && std::none_of(std::begin(voids), std::end(voids),
                                            [&](const char* name) { return tag->name == name; });
}

Tag ReadTag(const std::string& document, size_t start, size_t end)
{
    Tag tag;
    tag.start = start;
    tag.end = end;
    tag.closing = document[start + 1] == '/';
    size_t at = start + 1 + tag.closing;
    const size_t nameStart = at;
    auto endsName = [](char byte) { return IsBlank(byte) || byte == '/' || byte == '>' || byte == '=' || byte == '"' || byte == '\''; };
    while (at < end - 1 && !endsName(document[at])) ++at;
    if (document[at] != '=' && document[at] != '"' && document[at] != '\'')
        tag.name = Lower(document.substr(nameStart, at - nameStart));
    ReadAttributes(document, at, end - 1, &tag);
    return tag;
}

// Where raw contents that the tag opens end: the "<" of their end tag, or
// the document's end (lower: the document in lower case).
size_t RawEnd(const std::string& lower, const Tag& tag, bool* atBody)
{
    *atBody = false;
    if (tag.name == "script" || tag.name == "style") {
        const size_t end = lower.find("</" + tag.name, tag.end);
        return end == std::string::npos ? lower.size() : end;
    }
    size_t end = lower.find("</head", tag.end);
    if (end != std::string::npos) return end;
    end = lower.find("<body", tag.end);
    *atBody = end != std::string::npos;
    return *atBody ? end : lower.size();
}

// The document's tags as the reader reads them: none inside comments,
// scripts, styles and heads, nor "<!" and "<?" tags; a tag never closed
// runs to the end and counts for nothing.
std::vector<Tag> TagsOf(const std::string& document)
{
    std::vector<Tag> tags;
    const std::string lower = Lower(document);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(document.data());
    const int32_t count = static_cast<int32_t>(document.size());
    bool headLeftOpen = false, bodyIsNoElement = false;
    for (size_t at = document.find('<'); at != std::string::npos && at + 1 < document.size();
         at = document.find('<', at)) {
        const char next = document[at + 1];
        if (!isalpha(static_cast<unsigned char>(next)) && next != '/' && next != '!' && next != '?') {
            ++at;
            continue;
        }
        const int32_t end = MarkupEnd(bytes, static_cast<int32_t>(at), count);
        if (end < 0) break;
        Tag tag = ReadTag(document, at, static_cast<size_t>(end));
        if (bodyIsNoElement) tag.name.clear();
        bodyIsNoElement = false;
        at = static_cast<size_t>(end);
        if (next == '!' || next == '?') continue;
        tags.push_back(tag);
        if (tag.closing || (tag.name != "script" && tag.name != "style" && tag.name != "head")) continue;
        bool atBody = false;
        at = RawEnd(lower, tag, &atBody);
        // The first head left open is read again from its "<body"; a later
        // one ends at its "<body", which is no element's tag then.
        bodyIsNoElement = atBody && headLeftOpen;
        headLeftOpen = headLeftOpen || atBody;
    }
    return tags;
}

// Past the end tag that closes the element whose start tag is tags[i], by
// counting its name's tags; the document's end when none does.
size_t ExtentEnd(const std::vector<Tag>& tags, size_t i, size_t documentEnd)
{
    int64_t depth = 1;
    for (size_t k = i + 1; k < tags.size(); ++k) {
        if (tags[k].name != tags[i].name) continue;
        if (!tags[k].closing && tags[k].holds) ++depth;
        if (tags[k].closing && --depth == 0) return tags[k].end;
    }
    return documentEnd;
}

struct Range {
    size_t start, end;
};

// The outermost elements of those chosen: each from its start tag to where
// its counting ends; one inside another ends with it at the latest.
template <typename Chosen>
std::vector<Range> Outermost(const std::vector<Tag>& tags, size_t documentEnd, Chosen chosen)
{
    std::vector<Range> ranges;
    for (size_t i = 0; i < tags.size(); ++i) {
        if (tags[i].closing || tags[i].name.empty() || !tags[i].holds || !chosen(tags[i])) continue;
        if (!ranges.empty() && tags[i].start < ranges.back().end) continue;
        ranges.push_back(Range{tags[i].start, ExtentEnd(tags, i, documentEnd)});
    }
    return ranges;
}

bool Inside(const std::vector<Range>& ranges, size_t at)
{
    return std::any_of(ranges.begin(), ranges.end(), [at](const Range& range) { return at >= range.start && at < range.end; });
}

// Whether a header or footer at tags[i] is inside a sectioning element (by
// each name's count of open elements) or main content.
bool InSection(const std::vector<Tag>& tags, size_t i, const std::vector<Range>& within)
{
    for (const char* name : {"article", "aside", "main", "nav", "section"}) {
        int64_t open = 0;
        for (size_t k = 0; k < i; ++k) {
            if (tags[k].name != name || (!tags[k].closing && !tags[k].holds)) continue;
            open = tags[k].closing ? std::max<int64_t>(0, open - 1) : open + 1;
        }
        if (open > 0) return true;
    }
    return Inside(within, tags[i].start);
}

std::string MainText(const std::string& document)
{
    const std::vector<Tag> tags = TagsOf(document);
    const size_t end = document.size();
    auto mainMark = [](const Tag& tag) { return tag.name == "main" || Has(tag.roles, "main"); };
    bool bodyMarks = false, mainMarks = false;
    for (const Tag& tag : tags) {
        if (tag.closing || tag.name.empty()) continue;
        bodyMarks = bodyMarks || tag.body;
        mainMarks = mainMarks || mainMark(tag);
    }
    const std::vector<Range> within = Outermost(tags, end, [&](const Tag& tag) { return tag.body || Has(tag.roles, "main"); });
    const std::vector<Range> hidden = Outermost(tags, end, [&](const Tag& tag) {
        const size_t i = static_cast<size_t>(&tag - tags.data());
        return tag.name == "nav" || tag.ignore || Has(tag.roles, "navigation") || Has(tag.roles, "search") ||
               Has(tag.roles, "banner") || Has(tag.roles, "contentinfo") ||
               ((tag.name == "header" || tag.name == "footer") && !InSection(tags, i, within));
    });
    std::vector<Range> shown{Range{0, end}};
    if (bodyMarks) shown = Outermost(tags, end, [](const Tag& tag) { return tag.body; });
    else if (mainMarks) shown = Outermost(tags, end, mainMark);
    // A blank at every bound of what is shown or left out; only what is
    // shown and not left out is kept.
    std::vector<size_t> cuts{0, end};
    for (const Range& range : shown) cuts.insert(cuts.end(), {range.start, range.end});
    for (const Range& range : hidden) cuts.insert(cuts.end(), {range.start, range.end});
    std::sort(cuts.begin(), cuts.end());
    std::string text;
    for (size_t i = 0; i + 1 < cuts.size(); ++i) {
        text += "<hr>";
        if (Inside(shown, cuts[i]) && !Inside(hidden, cuts[i])) text += document.substr(cuts[i], cuts[i + 1] - cuts[i]);
    }
    return text;
}

// As the program reads robots META tags, written again.
bool NoIndex(const std::string& first)
{
    const std::string lower = Lower(first);
    for (size_t at = lower.find("<meta"); at != std::string::npos; at = lower.find("<meta", at + 1)) {
        if (at + 5 >= first.size() || !(IsBlank(first[at + 5]) || first[at + 5] == '/')) continue;
        const int32_t end = MarkupEnd(reinterpret_cast<const unsigned char*>(first.data()), static_cast<int32_t>(at),
                                      static_cast<int32_t>(first.size()));
        if (end < 0) return false;
        std::string name, content;
        bool robots = false, noIndex = false;
        // Attribute by attribute: the same grammar as the reader's.
        const std::string tag = first.substr(at + 5, static_cast<size_t>(end) - at - 6);
        for (size_t p = 0; p < tag.size();) {
            if (IsBlank(tag[p]) || tag[p] == '/') {
                ++p;
                continue;
            }
            const size_t nameStart = p;
            while (p < tag.size() && !IsBlank(tag[p]) && tag[p] != '/' && tag[p] != '=') ++p;
            const std::string attribute = Lower(tag.substr(nameStart, p - nameStart));
            size_t q = p;
            while (q < tag.size() && IsBlank(tag[q])) ++q;
            std::string value;
            if (q < tag.size() && tag[q] == '=') {
                for (p = q + 1; p < tag.size() && IsBlank(tag[p]);) ++p;
                const char quote = p < tag.size() && (tag[p] == '"' || tag[p] == '\'') ? tag[p++] : 0;
                const size_t valueStart = p;
                while (p < tag.size() && (quote ? tag[p] != quote : !IsBlank(tag[p]))) ++p;
                value = Lower(tag.substr(valueStart, p - valueStart));
                if (quote && p < tag.size()) ++p;
            }
            if (attribute == "name") robots = value == "robots";
            if (attribute != "content") continue;
            noIndex = false;
            for (size_t item = 0; item <= value.size();) {
                size_t comma = value.find(',', item);
                if (comma == std::string::npos) comma = value.size();
                std::string word = value.substr(item, comma - item);
                word.erase(0, word.find_first_not_of(" \t\n\r\f"));
                word.erase(word.find_last_not_of(" \t\n\r\f") + 1);
                noIndex = noIndex || word == "noindex" || word == "none";
                item = comma + 1;
            }
        }
        if (robots && noIndex) return true;
    }
    return false;
}

std::string WholeDocument(PlatFile* file)
{
    std::string document;
    char chunk[4096];
    for (int got; (got = PlatRead(file, chunk, sizeof chunk)) > 0;) document.append(chunk, static_cast<size_t>(got));
    return document;
}

// The text folded at once, when the search folds: its new length.
int FoldWhole(const ScanContext& context, std::vector<char>* text, int length)
{
    if (context.plan->folding == CaseFoldAscii) return length;
    std::vector<char> folded(static_cast<size_t>(FoldOutputCapacity(length)));
    FoldState state;
    StartFolding(&state, context.plan->folding, context.plan->keepsPunctuation);
    const int foldedLength = FoldText(&state, text->data(), length, folded.data(), nullptr);
    text->swap(folded);
    return foldedLength + FinishFolding(&state, text->data() + foldedLength, nullptr);
}

}  // namespace

void ScoreVisibleText(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    std::string document = WholeDocument(file);
    if (document.empty()) return;
    std::string first = document.substr(0, static_cast<size_t>(context->blockSize - 1));
    if (context->plan->mainContent) {
        if (NoIndex(first)) return;
        document = MainText(document);
    }
    std::vector<char> text(document.size() * 2 + 4 * VisibleTextSlack);
    VisibleTextReader reader;
    StartVisibleText(&reader, VisibleTextDecodeReferences, context->plan->level);
    int length = ReadVisibleText(&reader, document.data(), static_cast<int>(document.size()), text.data());
    length += FinishVisibleText(&reader, text.data() + length);
    if (reader.restartAt >= 0) {
        const size_t from = static_cast<size_t>(reader.restartAt);
        length += ReadVisibleText(&reader, document.data() + from, static_cast<int>(document.size() - from),
                                  text.data() + length);
        length += FinishVisibleText(&reader, text.data() + length);
    }
    ScoreFirstBlock(context, first.data(), first.data() + first.size(), texts);
    length = FoldWhole(*context, &text, length);
    context->textLength = length;
    int longest = 0;
    ScanRegion(context, 1.0, text.data(), text.data() + length, &longest);
}

void ScoreStoredText(ScanContext* context, PlatFile* file, ScannedDocument* texts)
{
    std::string document = WholeDocument(file);
    if (document.empty()) return;
    std::string first = document.substr(0, static_cast<size_t>(context->blockSize - 1));
    ScoreFirstBlock(context, first.data(), first.data() + first.size(), texts);
    document.replace(0, first.size(), first);
    std::vector<char> text(document.begin(), document.end());
    const int length = FoldWhole(*context, &text, static_cast<int>(text.size()));
    context->textLength = length;
    int longest = 0;
    ScanRegion(context, 1.0, text.data(), text.data() + length, &longest);
}
