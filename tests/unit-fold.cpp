// The text folder: which texts fold alike under each mode, the same bytes
// and offsets whatever pieces the text comes in, and the character queries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "corv-fold.h"
#include "corv-str.h"
#include "corv-vector.h"

namespace {

struct Folded {
    std::string text;
    std::vector<int64_t> offsets;
};

// Folds text given in pieces that end at each of `cuts`, then finishes.
Folded FoldPieces(CaseFolding mode, const std::string& text, const std::vector<size_t>& cuts)
{
    FoldState state;
    StartFolding(&state, mode);
    Folded folded;
    size_t from = 0;
    for (size_t i = 0; i <= cuts.size(); ++i) {
        const size_t to = i < cuts.size() ? cuts[i] : text.size();
        const int count = static_cast<int>(to - from);
        std::string out(static_cast<size_t>(FoldOutputCapacity(count)), '\0');
        std::vector<int64_t> offsets(out.size());
        const int written = FoldText(&state, text.data() + from, count, &out[0], offsets.data());
        folded.text.append(out, 0, static_cast<size_t>(written));
        folded.offsets.insert(folded.offsets.end(), offsets.begin(), offsets.begin() + written);
        from = to;
    }
    std::string out(static_cast<size_t>(FoldOutputCapacity(0)), '\0');
    std::vector<int64_t> offsets(out.size());
    const int written = FinishFolding(&state, &out[0], offsets.data());
    folded.text.append(out, 0, static_cast<size_t>(written));
    folded.offsets.insert(folded.offsets.end(), offsets.begin(), offsets.begin() + written);
    return folded;
}

bool IsAsciiPunctuationByte(unsigned char byte) { return byte < 0x80 && !IsAsciiLetter(byte) && !IsAsciiDigit(byte); }

// The same text folded where it stands, in two pieces cut at `cut`, and
// folded apart (ASCII punctuation that the folder wrote for characters
// outside ASCII marked with "#" by the callback, ASCII as it stood kept).
void HashOut(char* bytes, int count)
{
    for (int i = 0; i < count; ++i)
        if (IsAsciiPunctuationByte(static_cast<unsigned char>(bytes[i]))) bytes[i] = '#';
}

std::string FoldInPlaceAt(CaseFolding mode, const std::string& text, size_t cut, bool apart)
{
    FoldState state;
    StartFolding(&state, mode);
    std::string folded;
    for (size_t from = 0; from < text.size() || from == 0; from = cut, cut = text.size()) {
        const int count = static_cast<int>(cut - from);
        std::string room(text, from, static_cast<size_t>(count));
        room.resize(static_cast<size_t>(FoldOutputCapacity(count)));
        std::string scratch(static_cast<size_t>(count) + 1, '\0');
        folded.append(room, 0, static_cast<size_t>(FoldInPlace(&state, &room[0], count, &scratch[0], apart ? HashOut : nullptr)));
        if (cut == text.size()) break;
    }
    std::string rest(static_cast<size_t>(FoldOutputCapacity(0)), '\0');
    const int held = FinishFolding(&state, &rest[0], nullptr);
    if (apart) HashOut(&rest[0], held);
    return folded + rest.substr(0, static_cast<size_t>(held));
}

// Folded whole, after checking that every cut in two, and bytes one at a
// time, give the same bytes and offsets; in place too.
Folded FoldEveryWay(CaseFolding mode, const std::string& text)
{
    const Folded whole = FoldPieces(mode, text, {});
    std::string marked = whole.text;  // ASCII punctuation written for a character past ASCII, as "#"
    for (size_t i = 0; i < marked.size(); ++i)
        if (IsAsciiPunctuationByte(static_cast<unsigned char>(marked[i])) &&
            static_cast<unsigned char>(text[static_cast<size_t>(whole.offsets[i])]) >= 0x80)
            marked[i] = '#';
    std::vector<size_t> eachByte;
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        const Folded cutOnce = FoldPieces(mode, text, {cut});
        EXPECT_EQ(cutOnce.text, whole.text) << "cut at " << cut;
        EXPECT_EQ(cutOnce.offsets, whole.offsets) << "cut at " << cut;
        if (mode != CaseFoldAscii) {
            EXPECT_EQ(FoldInPlaceAt(mode, text, cut, false), whole.text) << "in place, cut at " << cut;
            EXPECT_EQ(FoldInPlaceAt(mode, text, cut, true), marked) << "apart, cut at " << cut;
        }
        if (cut > 0) eachByte.push_back(cut);
    }
    const Folded bytes = FoldPieces(mode, text, eachByte);
    EXPECT_EQ(bytes.text, whole.text);
    EXPECT_EQ(bytes.offsets, whole.offsets);
    return whole;
}

// As the search compares: ASCII letters without case.
bool EqualAsSearched(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && StrEqualNoCaseN(a.c_str(), b.c_str(), static_cast<int>(a.size()));
}

TEST(Fold, PairsThatMatchUnderEachMode)
{
    struct Row {
        const char* a;
        const char* b;
        bool unicode;
        bool accents;
    };
    const Row rows[] = {
        {"É", "é", true, true},              {"ÉCOLE", "école", true, true},     {"ΣΟΦΟΣ", "σοφος", true, true},
        {"Σ", "ς", true, true},              {"Ё", "ё", true, true},             {"ё", "е", false, true},
        {"Й", "й", true, true},              {"й", "и", false, false},           {"йод", "и\u0306од", true, true},
        {"Ǆ", "ǅ", true, true},              {"ǅ", "ǆ", true, true},             {"Ǆ", "dž", false, false},
        {"\u212A", "k", true, true},         {"STRASSE", "straße", true, true},  {"ẞ", "ss", true, true},
        {"ﬁn", "FIN", true, true},           {"é", "e\u0301", true, true},       {"é", "e", false, true},
        {"ø", "o", false, true},             {"Œuvre", "oeuvre", false, true},   {"ŁÓDŹ", "lodz", false, true},
        {"đħæ", "dhae", false, true},        {"İ", "i\u0307", true, true},        {"İ", "i", false, true},
        {"ı", "i", false, false},            {"I", "i", true, true},             {"ñüç", "nuc", false, true},
        {"ệ", "e\u0302\u0323", true, true},  {"e\u0323\u0301", "e\u0301\u0323", true, true},
        {"é\u0323", "ẹ\u0301", true, true},
        {"ᾼ", "αι", true, true},             {"ά", "α", false, true},            {"Ά", "ά", true, true},
        {"東京", "東京", true, true},          {"東京", "京都", false, false},        {"ガ", "カ\u3099", true, true},
        {"ガ", "カ", false, false},           {"「ガ」", "「カ\u3099」", true, true},  {"कि", "क", false, false},           {"한국", "\u1112\u1161\u11AB\u1100\u116E\u11A8", true, true},
        {"\xE9" "cole", "école", false, false}, {"\xC9" "COLE", "\xE9" "cole", false, false},
        {"«\u00A0école\u00A0»", "\" école \"", true, true}, {"“école”", "\"école\"", true, true},
        {"l’école", "l'école", true, true},  {"a–b—c", "a-b-c", true, true},     {"Москва", "МОСКВА", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.a << " / " << row.b);
        EXPECT_EQ(EqualAsSearched(FoldEveryWay(CaseFoldUnicode, row.a).text, FoldEveryWay(CaseFoldUnicode, row.b).text),
                  row.unicode);
        EXPECT_EQ(EqualAsSearched(FoldEveryWay(CaseFoldAccents, row.a).text, FoldEveryWay(CaseFoldAccents, row.b).text),
                  row.accents);
    }
}

TEST(Fold, BytesWritten)
{
    struct Row {
        const char* text;
        const char* unicode;
        const char* accents;
    };
    const Row rows[] = {
        {"ABC xyz", "ABC xyz", "ABC xyz"},
        {"École", "e\u0301cole", "ecole"},
        {"ΐ", "ι\u0308\u0301", "ι"},
        {"\xE9t\xE9 \xE2\x82" "A \xED\xA0\x80", "\xE9t\xE9 \xE2\x82" "A \xED\xA0\x80", "\xE9t\xE9 \xE2\x82" "A \xED\xA0\x80"},
        {"«\u202F1\u00A0€\u2009»", "\" 1 € \"", "\" 1 € \""},
        {"（ａ）！", "(ａ)!", "(ａ)!"},
        {"e\u0301\u0323\u0301", "e\u0323\u0301\u0301", "e"},
        {"\u0301é", "\u0301e\u0301", "\u0301e"},
        {"й\u0323", "и\u0323\u0306", "и\u0306"},
        {"1\u0345\u034F", "1ι\u034F", "1ι"},  // the mark after the iota that U+0345 folds to
        {"ῇ\u0301", "η\u0342\u0301ι", "ηι"},   // U+0345 in ῇ comes after the acute, then folds
        // Invisible hints are left out; a mark after one has no letter.
        {"\uFEFFDonau\u00ADdampf\u200Bschi\u2060ff", "Donaudampfschiff", "Donaudampfschiff"},
        {"e\u00AD\u0301", "e\u0301", "e\u0301"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(FoldEveryWay(CaseFoldUnicode, row.text).text, row.unicode);
        EXPECT_EQ(FoldEveryWay(CaseFoldAccents, row.text).text, row.accents);
        EXPECT_EQ(FoldEveryWay(CaseFoldAscii, row.text).text, row.text);
    }
}

TEST(Fold, OffsetsOfTheBytesWritten)
{
    struct Row {
        CaseFolding mode;
        const char* text;
        std::vector<int64_t> offsets;
    };
    const Row rows[] = {
        {CaseFoldUnicode, "Éab", {0, 0, 0, 2, 3}},
        {CaseFoldUnicode, "e\u0301\u0323x", {0, 3, 3, 1, 1, 5}},
        {CaseFoldAccents, "e\u0301\u0323x", {0, 5}},
        {CaseFoldAccents, "ﬁœ", {0, 0, 3, 3}},
        {CaseFoldAccents, "a\u00ADb", {0, 3}},
        {CaseFoldUnicode, "\xE9t\xE2\x82", {0, 1, 2, 3}},
        {CaseFoldAscii, "Ét", {0, 1, 2}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(FoldEveryWay(row.mode, row.text).offsets, row.offsets);
    }
}

// Thirty marks after a letter are its own; the next begins anew, with no
// letter: it is neither put before them nor left out with them.
TEST(Fold, MarksAfterALetterAreLimited)
{
    std::string acutes;
    for (int i = 0; i < FoldMarkLimit - 1; ++i) acutes += "\u0301";
    const std::string dotBelow = "\u0323";
    EXPECT_EQ(FoldEveryWay(CaseFoldUnicode, "e" + acutes + dotBelow).text, "e" + dotBelow + acutes);
    EXPECT_EQ(FoldEveryWay(CaseFoldUnicode, "é" + acutes + dotBelow).text, "e\u0301" + acutes + dotBelow);
    EXPECT_EQ(FoldEveryWay(CaseFoldAccents, "e" + acutes + "\u0301").text, "e");
    EXPECT_EQ(FoldEveryWay(CaseFoldAccents, "é" + acutes + "\u0301").text, "e\u0301");
}

// Kept as written: punctuation and blanks outside ASCII, in pieces and in
// place as whole; the rest folds as ever.
TEST(Fold, PunctuationKeptAsWritten)
{
    const std::string text = "\xC2\xAB\xC2\xA0\xC3\x89" "cole\xC2\xA0\xC2\xBB l\xE2\x80\x99\xC3\xA9t\xC3\xA9 \xE2\x80\x94 \xEF\xBC\xA1";
    const std::string kept = "\xC2\xAB\xC2\xA0" "e\xCC\x81" "cole\xC2\xA0\xC2\xBB l\xE2\x80\x99" "e\xCC\x81te\xCC\x81 \xE2\x80\x94 \xEF\xBD\x81";
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        FoldState state;
        StartFolding(&state, CaseFoldUnicode, true);
        std::string folded, room(text, 0, cut);
        room.resize(static_cast<size_t>(FoldOutputCapacity(static_cast<int>(cut))));
        std::string scratch(cut + 1, '\0');
        folded.append(room, 0, static_cast<size_t>(FoldInPlace(&state, &room[0], static_cast<int>(cut), &scratch[0], nullptr)));
        std::string out(static_cast<size_t>(FoldOutputCapacity(static_cast<int>(text.size() - cut))), '\0');
        folded.append(out, 0, static_cast<size_t>(FoldText(&state, text.data() + cut, static_cast<int>(text.size() - cut), &out[0], nullptr)));
        folded.append(out, 0, static_cast<size_t>(FinishFolding(&state, &out[0], nullptr)));
        EXPECT_EQ(folded, kept) << "cut at " << cut;
    }
    EXPECT_EQ(PunctuationByte(0x00AB), '"');
    EXPECT_EQ(PunctuationByte(0x00A0), ' ');
    EXPECT_EQ(PunctuationByte(0x2014), '-');
    EXPECT_EQ(PunctuationByte(0xFF21), 0);  // a fullwidth letter folds to a letter
    EXPECT_EQ(PunctuationByte(0x00E9), 0);
    EXPECT_EQ(PunctuationByte('"'), 0);
}

TEST(Fold, AsciiTakenWhereItStands)
{
    FoldState state;
    StartFolding(&state, CaseFoldUnicode);
    EXPECT_TRUE(FoldTakeAscii(&state, "plain text, 40 bytes long and no more...", 40));
    EXPECT_EQ(state.offset, 40);
    char out[FoldOutputCapacity(2)];
    EXPECT_EQ(FoldText(&state, "\xC3", 1, out, nullptr), 0);  // the rest of é comes next
    EXPECT_FALSE(FoldTakeAscii(&state, "e", 1));
    EXPECT_EQ(FoldText(&state, "\xA9", 1, out, nullptr), 0);  // é may take marks yet
    EXPECT_FALSE(FoldTakeAscii(&state, "e", 1));
    EXPECT_FALSE(FoldTakeAscii(&state, "\xC3\xA9", 2));
    EXPECT_EQ(state.offset, 42);

    char word[8];
    EXPECT_EQ(FoldWord(CaseFoldUnicode, "STRAßE", 7, word, 7), 7);
    EXPECT_EQ(std::string(word, 7), "STRAssE");
    EXPECT_EQ(FoldWord(CaseFoldUnicode, "STRAßE", 7, word, 6), -1);
}

// Runs found 16 bytes at a time: a run of each length up to past four
// chunks, ended by one byte of the other kind or by the text's end.
TEST(Fold, PrefixLengthsAtEveryLength)
{
    for (int count = 0; count <= 70; ++count) {
        for (int other = 0; other <= count; ++other) {
            std::string ascii(static_cast<size_t>(count), 'a'), past(static_cast<size_t>(count), '\xA9');
            if (other < count) ascii[static_cast<size_t>(other)] = '\xC3', past[static_cast<size_t>(other)] = 'a';
            EXPECT_EQ(AsciiPrefixLength(ascii.data(), count), other) << count << " bytes, other at " << other;
            EXPECT_EQ(NonAsciiPrefixLength(past.data(), count), other) << count << " bytes, other at " << other;
        }
    }
}

TEST(Fold, CharacterQueries)
{
    // A character folded alone, as a word of it folds.
    for (const char* character : {"A", "\xC3\x89", "\xC3\x9F", "\xE2\x84\xAA", "\xEA\xB0\x80", "\xE2\x80\x9C",
                                  "\xCC\x81", "\xCE\x90", "\xC2\xAD", "\xE6\x9D\xB1"})
        for (CaseFolding mode : {CaseFoldAscii, CaseFoldUnicode, CaseFoldAccents}) {
            char alone[FoldOutputCapacity(4)], word[FoldOutputCapacity(4)];
            const int length = static_cast<int>(strlen(character));
            EXPECT_EQ(std::string(alone, static_cast<size_t>(FoldCharacter(mode, character, length, alone))),
                      std::string(word, static_cast<size_t>(FoldWord(mode, character, length, word, sizeof word))))
                << character << " " << mode;
        }

    EXPECT_TRUE(IsCombiningMark(0x0301));
    EXPECT_TRUE(IsCombiningMark(0x3099));  // kana voicing
    EXPECT_TRUE(IsCombiningMark(0x093F));  // a Devanagari vowel sign of class 0
    EXPECT_FALSE(IsCombiningMark('e'));
    EXPECT_FALSE(IsCombiningMark(0x110000));
    for (uint32_t unspaced : {0x6771u, 0x3072u, 0x30ABu, 0x30FCu, 0x0E01u, 0x0E81u, 0x1780u, 0x1000u})
        EXPECT_TRUE(IsUnspacedScript(unspaced)) << unspaced;
    for (uint32_t spaced : {0x41u, 0xE9u, 0x0416u, 0xAC00u, 0x0915u, 0x3000u})
        EXPECT_FALSE(IsUnspacedScript(spaced)) << spaced;

    const std::string text = "a\u0301東\xE9";
    const char* end = text.data() + text.size();
    uint32_t codePoint = 0;
    EXPECT_EQ(CodePointAt(text.data(), end, &codePoint), 1);
    EXPECT_EQ(CodePointAt(text.data() + 1, end, &codePoint), 2);
    EXPECT_EQ(codePoint, 0x0301u);
    EXPECT_EQ(CodePointAt(text.data() + 2, end, &codePoint), 0);  // inside a sequence
    EXPECT_EQ(CodePointAt(end - 1, end, &codePoint), 0);           // Latin-1
    EXPECT_EQ(CodePointBefore(text.data(), end - 1, &codePoint), 3);
    EXPECT_EQ(codePoint, 0x6771u);
    EXPECT_EQ(CodePointBefore(text.data(), text.data() + 3, &codePoint), 2);
    EXPECT_EQ(CodePointBefore(text.data() + 2, text.data() + 3, &codePoint), 0);
    EXPECT_EQ(CodePointBefore(text.data(), end, &codePoint), 0);
}

// The quick ways (letters from a table, folding where the text stands) give
// the bytes of the exact way that offsets take, for every character of up
// to three bytes followed by a mark, ASCII, or a letter of its own or
// another script; in both modes, punctuation folded or kept.
std::string FoldExactly(CaseFolding mode, bool keepsPunctuation, const std::string& text)
{
    FoldState state;
    StartFolding(&state, mode, keepsPunctuation);
    std::string out(static_cast<size_t>(FoldOutputCapacity(static_cast<int>(text.size()))), '\0');
    std::vector<int64_t> offsets(out.size());
    int written = FoldText(&state, text.data(), static_cast<int>(text.size()), &out[0], offsets.data());
    written += FinishFolding(&state, &out[static_cast<size_t>(written)], offsets.data());
    return out.substr(0, static_cast<size_t>(written));
}

std::string FoldQuickly(CaseFolding mode, bool keepsPunctuation, const std::string& text, bool inPlace)
{
    FoldState state;
    StartFolding(&state, mode, keepsPunctuation);
    std::string out(static_cast<size_t>(FoldOutputCapacity(static_cast<int>(text.size()))), '\0');
    std::string scratch(text.size() + 1, '\0');
    int written = 0;
    if (inPlace) {
        memcpy(&out[0], text.data(), text.size());
        written = FoldInPlace(&state, &out[0], static_cast<int>(text.size()), &scratch[0], nullptr);
    } else {
        written = FoldText(&state, text.data(), static_cast<int>(text.size()), &out[0], nullptr);
    }
    written += FinishFolding(&state, &out[static_cast<size_t>(written)], nullptr);
    return out.substr(0, static_cast<size_t>(written));
}

// Where two long texts part, with some bytes of each from there; empty when they are the same.
std::string Difference(const std::string& a, const std::string& b)
{
    if (a == b) return "";
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    const size_t from = at < 8 ? 0 : at - 8;
    return "at " + std::to_string(at) + ": \"" + a.substr(from, 24) + "\" against \"" + b.substr(from, 24) + "\"";
}

std::string Utf8Of(uint32_t codePoint)
{
    if (codePoint < 0x800) return {static_cast<char>(0xC0 | codePoint >> 6), static_cast<char>(0x80 | (codePoint & 0x3F))};
    if (codePoint < 0x10000)
        return {static_cast<char>(0xE0 | codePoint >> 12), static_cast<char>(0x80 | (codePoint >> 6 & 0x3F)),
                static_cast<char>(0x80 | (codePoint & 0x3F))};
    return {static_cast<char>(0xF0 | codePoint >> 18), static_cast<char>(0x80 | (codePoint >> 12 & 0x3F)),
            static_cast<char>(0x80 | (codePoint >> 6 & 0x3F)), static_cast<char>(0x80 | (codePoint & 0x3F))};
}

void ExpectQuickWaysExact(const std::string& text, const std::string& label)
{
    const VectorLevel level = VectorLevelInUse();
    for (VectorLevel used : {VectorPortable, HighestVectorLevel()})
        for (CaseFolding mode : {CaseFoldUnicode, CaseFoldAccents})
            for (bool keepsPunctuation : {false, true}) {
                SCOPED_TRACE(testing::Message() << label << " mode " << mode << " keeping punctuation " << keepsPunctuation
                                                << " vectors " << used);
                const std::string exact = FoldExactly(mode, keepsPunctuation, text);
                UseVectorLevel(used);
                EXPECT_EQ(Difference(FoldQuickly(mode, keepsPunctuation, text, false), exact), "");
                EXPECT_EQ(Difference(FoldQuickly(mode, keepsPunctuation, text, true), exact), "");
                UseVectorLevel(level);
            }
}

TEST(Fold, QuickWaysGiveTheExactBytes)
{
    // After each character: marks (two that canonical order puts before the
    // kana voicing mark, of classes 1 and 6 against 8, one of them of four
    // bytes, then a plain letter, so that the quick ways meet the next
    // character afresh), letters of every quick way, and nothing: the code
    // points in a row meet the vector windows at every place in them.
    const char* const nexts[] = {"", "\u0301", "\u0323\u0301", "\u3099", "\u0334\u6771", "\U00016FF0\u6771", "a", " ", "\u0439",
                                 "\u0416", "\u00E9", "\u6771", "\u30AB", "\u30AC"};
    for (const char* next : nexts)
        for (uint32_t first = 0x80; first < 0x10000; first += 256) {
            std::string text;
            for (uint32_t codePoint = first; codePoint < first + 256; ++codePoint)
                if (codePoint < 0xD800 || codePoint > 0xDFFF) text.append(Utf8Of(codePoint)).append(next);
            ExpectQuickWaysExact(text, "from U+" + std::to_string(first) + " before " + next);
        }
    // Runs of small Cyrillic, 16 or 32 bytes at a time, cut by what they leave to
    // the letters' way, after text that folding shrank (written before it stands).
    for (const char* text : {"\u00C9\u00E9 \u0442\u0435\u043A\u0441\u0442 \u0434\u043B\u044F \u043F\u0440\u043E\u0432\u0435"
                             "\u0440\u043A\u0438 \u0451\u0436 \u0439\u043E\u0434 \u00AB\u0416\u0443\u043A\u00BB, \u0441\u0431"
                             "\u043E\u0440\u043D\u0438\u043A \u043F\u0440\u0438\u043C\u0435\u0440\u043E\u0432\u0438\u0301 "
                             "\u0430\u0431\u0432\u0433\u0434\u0435\u0436\u0437\u0438\u043A\u043B\u043C\u043D\u043E\u043F"
                             "\u0440\u0441\u0442\u0443\u0444\u0445\u0446\u0447\u0448\u0449\u044A\u044B\u044C\u044D\u044E"
                             "\u044F\u0439",
                             "\u0436a\u0301\u0436 \u0436\u0301\u0436\u0436\u0436\u0436\u0436\u0436\u0436\u0436\u0436\u0436e\u0301 x",
                             "\u00DF\u00DF\u00DF\u0430\u0430\u0430\u0430\u0430\u0430\u0430\u0430\u0430\u0430\u0430\u0430"
                             "\u0430\u0430\u0430\u0430\u0430\u0430\u0430\u0430 \u0430\u0306",
                             "\u00C9\u043F\u0440\u043E\u0432\u0435\u0440\u043A\u0430\u043C\u0438\u0451\u0436\u0438\u043A\u0438 "
                             "\u0435\u0449\u0451 \u0440\u0430\u0437 \u043F\u0440\u043E\u0432\u0435\u0440\u043A\u0430 \u0434\u043B\u044F "
                             "\u043E\u043A\u043E\u043D \u043F\u043E 32 \u0431\u0430\u0439\u0442\u0430"})
        ExpectQuickWaysExact(text, text);
    // Between windows of small Cyrillic, where text moves, letters that no
    // window takes (their table's way): one that a mark after it reorders,
    // and marks up to the limit and past it after a letter that brings one.
    std::string small;
    for (int i = 0; i < 20; ++i) small += "\u0436";
    std::string marks;
    for (int i = 0; i < 30; ++i) marks += "\u0301";
    ExpectQuickWaysExact("\u00C9" + small + "\u00E9\u0323" + small + "\u0416" + marks + "\u0301" + small + "\u00E9" + marks + small +
                             "\u00E9" + marks + "\u0301" + small + " x",
                         "letters between Cyrillic windows");
    // Japanese text in kana windows, 64 bytes at a time, where what they
    // leave (a voicing mark that composes with the kana before it, a mark
    // after Han, a voiced kana before a mark, punctuation, another letter)
    // and the character that a window's end cuts stand at every place, and
    // where the windows end too.
    const std::string japanese = "\u3053\u308C\u306F\u65E5\u672C\u8A9E\u306E\u30C6\u30AD\u30B9\u30C8 <b>\u30D1\u30C3"
                                 "\u30B1\u30FC\u30B8</b>\u3092\u8A2D\u5B9A\u3059\u308B";
    for (int lead = 0; lead < 72; ++lead)
        for (const char* stop : {"\u304B\u3099", "\u30CF\u309A", "\u6771\u0301", "\u30AC\u0334", "\u3002", "\u00C9", "\u3099"})
            ExpectQuickWaysExact(std::string(static_cast<size_t>(lead), 'a') + japanese + stop + std::string(static_cast<size_t>(lead), 'b') +
                                     japanese + japanese + stop + "0123456789",
                                 std::to_string(lead) + " ASCII bytes, then Japanese text and " + stop);
    // Runs of ASCII long enough to be copied 64 bytes at a time, between
    // folded letters (Latin alone, or after Han, where kana windows take
    // them): a mark after one belongs to the run's last byte.
    for (const size_t run : {31, 63, 64, 65, 96, 130}) {
        const std::string letters = std::string(run - 1, 'x') + " ", blanks = std::string(run - 1, ' ') + "x";
        for (const std::string& ascii : {letters, blanks}) {
            ExpectQuickWaysExact("\u00C9\u6771" + ascii + "\u0301\u30AB" + ascii + "\u00E9",
                                 "ASCII run of " + std::to_string(run) + " ending " + ascii.back() + " after Han");
            ExpectQuickWaysExact("\u00C9" + ascii + "\u0301\u00E9" + ascii + "\u00E9",
                                 "ASCII run of " + std::to_string(run) + " ending " + ascii.back());
            ExpectQuickWaysExact("\u00C9" + ascii + "\u00E9\u0323" + ascii + "\u00E9" + ascii + "\u00E9",
                                 "ASCII run of " + std::to_string(run) + " ending " + ascii.back() + " before a mark");
        }
    }
}


// What a character's folding writes that a search for words of ASCII
// letters and digits could meet: whether it is nothing or holds ASCII
// punctuation, and the letters and digits that no mark follows in it.
struct AsciiInFolding {
    bool nothingOrPunctuation;
    uint64_t letters;
};

AsciiInFolding AsciiInFoldingOf(const std::string& folded)
{
    AsciiInFolding found{folded.empty(), 0};
    for (size_t i = 0; i < folded.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(folded[i]);
        uint32_t next = 0;
        if (byte >= 0x80) continue;
        if (!IsAsciiLetter(byte) && !IsAsciiDigit(byte)) found.nothingOrPunctuation = true;
        else if (CodePointAt(&folded[i + 1], folded.data() + folded.size(), &next) == 0 || !ContinuesCharacter(next))
            found.letters |= AsciiLetterBit(byte);
    }
    return found;
}

// Whether a folding holds Han or kana other than `codePoint`.
bool HoldsOtherHanOrKana(const std::string& folded, uint32_t codePoint)
{
    for (size_t at = 0; at < folded.size();) {
        uint32_t next = 0;
        const int length = CodePointAt(&folded[at], folded.data() + folded.size(), &next);
        if (length > 0 && next != codePoint && IsHanOrKana(next)) return true;
        at += static_cast<size_t>(std::max(length, 1));
    }
    return false;
}

// The small Cyrillic letter (U+0430 to U+045F) that a folding holds with
// no mark after it, or 0; through `alone`, whether it is the whole folding.
uint32_t CyrillicLetterIn(const std::string& folded, bool* alone)
{
    uint32_t found = 0;
    for (size_t at = 0; at < folded.size();) {
        uint32_t codePoint = 0, next = 0;
        const int length = std::max(1, CodePointAt(&folded[at], folded.data() + folded.size(), &codePoint));
        const bool marked = CodePointAt(&folded[at + static_cast<size_t>(length)], folded.data() + folded.size(), &next) > 0 &&
                            ContinuesCharacter(next);
        if (CyrillicLetterBit(codePoint) && !marked) found = codePoint;
        at += static_cast<size_t>(length);
    }
    *alone = found && folded.size() == 2;
    return found;
}

// A folded word as stored bytes hold it folds back to the same word: every
// Cyrillic letter from U+0400 to U+04FF after one that folds with no mark,
// and every one of U+0400 to U+045F has a stored form (й, and under unicode
// ё, ѓ, ї, ќ, ў and the others written with a mark are precomposed); a mark
// after another letter has none.
TEST(Fold, StoredFormsFoldBackToTheWord)
{
    for (CaseFolding mode : {CaseFoldUnicode, CaseFoldAccents}) {
        for (uint32_t codePoint = 0x400; codePoint < 0x500; ++codePoint) {
            const std::string folded = FoldExactly(mode, true, "\u0436" + Utf8Of(codePoint));
            std::string stored(folded.size(), '\0');
            const int length = StoredFormOf(mode, folded.data(), static_cast<int>(folded.size()), &stored[0]);
            SCOPED_TRACE(testing::Message() << "U+" << std::hex << codePoint << " folding " << mode);
            if (codePoint < 0x460) {
                ASSERT_GE(length, 0);
            }
            if (length < 0) continue;
            stored.resize(static_cast<size_t>(length));
            EXPECT_EQ(FoldExactly(mode, true, stored), folded);
            EXPECT_LE(stored.size(), folded.size());
        }
        char stored[8];
        EXPECT_EQ(StoredFormOf(mode, "e\u0301", 3, stored), -1);  // é, folded under unicode
        EXPECT_EQ(StoredFormOf(mode, "\u6771\u0301", 5, stored), -1);
    }
}

// Every code point between Cyrillic letters, among Cyrillic at a place that
// moves through the vector windows, at every vector level, for a Cyrillic
// word that holds what it folds to between the same letters (ж, its folding,
// ш): it changes what the word finds unless it is that letter as the word
// holds it, or a capital lowered where it stands; between other letters,
// only when it is a mark, or folds to nothing or punctuation, or to more
// than one letter.
TEST(Fold, EveryCodePointBetweenCyrillicLettersChangesAsItsFoldingTells)
{
    const std::string zhe = "\u0436", sha = "\u0448", ve = "\u0432";
    for (CaseFolding mode : {CaseFoldUnicode, CaseFoldAccents}) {
        StoredWords words{};
        words.cyrillic = ~uint64_t{0};
        ReadyStoredWords(mode, &words);
        words.count = 1;
        for (uint32_t codePoint = 0x80; codePoint < 0x110000; ++codePoint) {
            if (codePoint >= 0xD800 && codePoint <= 0xDFFF) continue;
            const std::string character = Utf8Of(codePoint);
            const std::string folded = FoldExactly(mode, true, character);
            bool alone = false;
            const uint32_t letter = CyrillicLetterIn(folded, &alone);
            const bool plain = (codePoint >= 0x410 && codePoint < 0x450) || (mode == CaseFoldUnicode && codePoint >= 0x400 && codePoint < 0x460);
            const bool always = !plain && (ContinuesCharacter(codePoint) || AsciiInFoldingOf(folded).nothingOrPunctuation ||
                                           (letter && !alone));
            const bool between = always || (!plain && letter && codePoint != letter);
            const std::string word = zhe + Utf8Of(letter ? letter : 0x0431) + sha;
            words.text[0] = reinterpret_cast<const unsigned char*>(word.data());
            words.length[0] = static_cast<int32_t>(word.size());
            words.cyrillic = 0;
            for (uint32_t small : {0x436u, 0x448u, letter ? letter : 0x431u}) words.cyrillic |= CyrillicLetterBit(small);
            std::string run;
            for (uint32_t i = 0; i < codePoint % 75; ++i) run += ve;
            for (VectorLevel level : {VectorPortable, HighestVectorLevel()}) {
                const auto where = [&] { return testing::Message() << "U+" << std::hex << codePoint << " vectors " << level << " folding " << mode; };
                for (const bool inWord : {true, false}) {
                    std::string text = run + (inWord ? zhe : ve) + character + sha + run + run;
                    ASSERT_EQ(MayChangeWordsAsStored(level, mode, text.data(), text.data(), static_cast<int>(text.size()), words),
                              inWord ? between : always)
                        << where() << (inWord ? " in the word" : " between other letters");
                }
            }
        }
    }
}

// The kana and Han that the readers of a hit's sides take as they stand
// fold to themselves alone in text that keeps its punctuation, and are no
// marks.
TEST(Fold, PlainKanaAndHanFoldToThemselves)
{
    for (uint32_t codePoint = 0x3000; codePoint < 0xA000; ++codePoint) {
        const std::string character = Utf8Of(codePoint);
        if (!IsPlainKanaOrHan(character.c_str())) continue;
        ASSERT_FALSE(ContinuesCharacter(codePoint)) << "U+" << std::hex << codePoint;
        for (CaseFolding mode : {CaseFoldUnicode, CaseFoldAccents})
            ASSERT_EQ(FoldExactly(mode, true, character), character) << "U+" << std::hex << codePoint;
    }
}

// MayChangeWordsAsStored for `words` of `letters` alone (AsciiLetterBit,
// HanOrKanaBit), which leave the bytes as they are.
bool ChangesWordsOf(VectorLevel level, CaseFolding mode, std::string& text, int count, StoredWords& words, uint64_t letters)
{
    words.letters = letters;
    return MayChangeWordsAsStored(level, mode, &text[0], &text[0], count, words);
}

// Every code point, among ASCII at a place that moves through the vector
// windows and the last bytes, at every vector level: it changes what words
// of the letters its folding writes find, and never others, unless that
// folding is nothing or punctuation, or (under accents, which drops marks
// after a letter) it is a mark; one whose folding is ASCII letters and
// digits alone (é under accents, ß, ﬁ) only where a word holds that folding
// between what stands around it; it changes words of Han or kana when its
// folding writes others or joins a kana before it; cut by the end, it may
// change them.
TEST(Fold, EveryCodePointChangesTheWordsItsFoldingWrites)
{
    constexpr uint64_t allLetters = (uint64_t{1} << 36) - 1;
    for (CaseFolding mode : {CaseFoldUnicode, CaseFoldAccents}) {
        StoredWords words{};
        words.cyrillic = ~uint64_t{0};
        ReadyStoredWords(mode, &words);
        words.cyrillic = 0;
        int changers = 0;
        int hanOrKanaChangers = 0;
        for (uint32_t codePoint = 0x80; codePoint < 0x110000; ++codePoint) {
            if (codePoint >= 0xD800 && codePoint <= 0xDFFF) continue;
            const std::string character = Utf8Of(codePoint);
            const std::string folded = FoldExactly(mode, true, character);
            const AsciiInFolding found = AsciiInFoldingOf(folded);
            const std::string letter(1, static_cast<char>('a' + codePoint % 26));
            const bool joins = FoldExactly(mode, true, letter + character + "y") != letter + folded + "y";
            const bool always = found.nothingOrPunctuation || (mode == CaseFoldAccents && ContinuesCharacter(codePoint));
            const bool changes = always || found.letters;
            const bool single =  // ASCII letters and digits alone: looked at around
                !folded.empty() && folded.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789") == std::string::npos;
            bool zheAlone = false;
            const uint32_t zhe = CyrillicLetterIn(folded, &zheAlone);
            const bool changesHanOrKana = HoldsOtherHanOrKana(folded, codePoint) ||
                                          FoldExactly(mode, true, "\u306F" + character) != "\u306F" + folded;  // は
            changers += changes;
            hanOrKanaChangers += changesHanOrKana && !always;
            ASSERT_TRUE(!joins || always) << "U+" << std::hex << codePoint;
            std::string text = std::string(codePoint % 150, 'x') + character + std::string(codePoint % 7, 'y');
            const int count = static_cast<int>(text.size());
            for (VectorLevel level : {VectorPortable, HighestVectorLevel()}) {
                // Streamed, not scoped: a trace built for each of two million
                // checks would take most of the test's time.
                const auto where = [&] {
                    return testing::Message() << "U+" << std::hex << codePoint << " vectors " << level << " folding " << mode;
                };
                ASSERT_EQ(ChangesWordsOf(level, mode, text, count, words, allLetters), changes && !single) << where();
                if (single) {
                    // x before it, or the text's start
                    const std::string alone = folded, after = (folded == "q" ? "j" : "q") + folded;
                    words.count = 1;
                    words.text[0] = reinterpret_cast<const unsigned char*>(alone.data());
                    words.length[0] = static_cast<int32_t>(alone.size());
                    ASSERT_TRUE(ChangesWordsOf(level, mode, text, count, words, allLetters)) << where() << " in a word";
                    words.text[0] = reinterpret_cast<const unsigned char*>(after.data());
                    words.length[0] = static_cast<int32_t>(after.size());
                    ASSERT_EQ(ChangesWordsOf(level, mode, text, count, words, allLetters), codePoint % 150 == 0)
                        << where() << " after another letter";
                    // a word that begins inside the folding (oe of œ): the y after it, or the text's end
                    const std::string inside = folded.substr(1) + "y", notInside = folded.substr(1) + "q";
                    words.text[0] = reinterpret_cast<const unsigned char*>(inside.data());
                    words.length[0] = static_cast<int32_t>(inside.size());
                    if (folded.size() > 1) {
                        ASSERT_TRUE(ChangesWordsOf(level, mode, text, count, words, allLetters)) << where() << " begun inside";
                        words.text[0] = reinterpret_cast<const unsigned char*>(notInside.data());
                        ASSERT_EQ(ChangesWordsOf(level, mode, text, count, words, allLetters), codePoint % 7 == 0)
                            << where() << " begun inside, then another letter";
                    }
                    words.count = 0;
                }
                ASSERT_EQ(ChangesWordsOf(level, mode, text, count, words, allLetters & ~found.letters), always)
                    << where();
                ASSERT_EQ(ChangesWordsOf(level, mode, text, count, words, HanOrKanaBit), always || changesHanOrKana)
                    << where();
                const int cut = count - static_cast<int>(codePoint % 7) - 1;  // the character's last byte is missing
                EXPECT_TRUE(!changes || ChangesWordsOf(level, mode, text, cut, words, 0)) << where();
                // With a Cyrillic letter among the words' letters, marks change them under unicode too.
                words.cyrillic = CyrillicLetterBit(0x436);  // ж
                ASSERT_EQ(ChangesWordsOf(level, mode, text, count, words, allLetters),
                          (changes && !single) || ContinuesCharacter(codePoint) || (zhe == 0x436 && !zheAlone))
                    << where() << " with ж";
                words.cyrillic = 0;
            }
        }
        // ß, ﬁ, the Kelvin sign, a soft hyphen...; under accents the Latin
        // letters with marks and the marks: a new version of Unicode may bring more
        EXPECT_EQ(changers, mode == CaseFoldUnicode ? 20 : 3218);
        EXPECT_EQ(hanOrKanaChangers, mode == CaseFoldUnicode ? 1004 : 1002);  // compatibility ideographs, voicing marks
    }
}

}  // namespace
