#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "formats/Encoding.h"

namespace {

// Characters whose UTF-8 and CP932 forms map onto each other both ways.
struct Pair {
    std::string_view utf8;
    std::string_view cp932;
};

TEST(Encoding, RoundTripsCharactersShiftJisHolds)
{
    const Pair pairs[] = {
        {"", ""},
        {"abc \\ ~ {}", "abc \\ ~ {}"},         // 5C and 7E stay ASCII, as the compiler reads them
        {"あ", "\x82\xA0"},
        {"　", "\x81\x40"},                     // full-width space
        {"①②⑳", "\x87\x40\x87\x41\x87\x53"},   // NEC special characters
        {"㈱", "\x87\x8A"},
        {"～", "\x81\x60"},                     // the full-width tilde, not U+301C
        {"ｱﾝ", "\xB1\xDD"},                     // half-width katakana are single bytes
        {"表ソ", "\x95\x5C\x83\x5C"},           // trail byte 5C is not a backslash
        {"上昇音階", "\x8F\xE3\x8F\xB8\x89\xB9\x8A\x4B"},
        {"\t// コメント\n", "\t// \x83\x52\x83\x81\x83\x93\x83\x67\n"},
    };
    for (const auto& p : pairs) {
        EXPECT_EQ(Utf8ToCp932(p.utf8), p.cp932) << p.utf8;
        EXPECT_EQ(Cp932ToUtf8(p.cp932), p.utf8) << p.utf8;
    }
}

TEST(Encoding, Utf8ToCp932PutsOneQuestionMarkPerUnconvertibleCharacterOrInvalidByte)
{
    const Pair cases[] = {
        {"𠮷野家", "?\x96\xEC\x89\xC6"},            // outside Shift-JIS, four bytes in UTF-8
        {"a🎵b", "a?b"},
        {"€", "?"},
        {"—", "\x81\x5C"},                         // EM DASH takes HORIZONTAL BAR's code, one way
        {"〜", "\x81\x60"},                          // WAVE DASH takes the tilde's code, one way
        {"\xE3\x81" "a", "??a"},                     // truncated sequence: each byte counts
        {"\xC0\xAF", "??"},                          // overlong '/'
        {"\xE0\x80\xAF", "???"},                     // overlong, three bytes
        {"\xED\xA0\x80", "???"},                     // an encoded surrogate
        {"\xF4\x90\x80\x80", "????"},                // above U+10FFFF
        {"\x80x\xFF", "?x?"},
        {"あ\xE3", "\x82\xA0?"},                     // cut off at the end
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToCp932(c.utf8), c.cp932) << c.utf8;
}

TEST(Encoding, Utf8ToCp932LinesEndsEveryLineWithCrLf)
{
    const Pair cases[] = {
        {"", ""},
        {"c", "c\r\n"},
        {"c\n", "c\r\n"},
        {"a\r\nb\rc\nd", "a\r\nb\r\nc\r\nd\r\n"},
        {"\n\r\n\r", "\r\n\r\n\r\n"},
        {"\r\r\n", "\r\n\r\n"},                   // a lone CR, then CR LF
        {"あ\nい", "\x82\xA0\r\n\x82\xA2\r\n"},
        {"\xE3\x81\n€\r", "??\r\n?\r\n"},              // a sequence cut off by a line end
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToCp932Lines(c.utf8), c.cp932) << c.utf8;
}

TEST(Encoding, Cp932ToUtf8ReplacesEachUndecodableByte)
{
    struct Case {
        std::string_view cp932;
        std::string_view utf8;
    };
    const Case cases[] = {
        {"\x82", "�"},                 // a lead byte cut off at the end
        {"a\x82\x20" "b", "a� b"},     // a lead byte whose trail is not one: the trail is kept
        {"\x80\xA0\xFD", "���"},
        {"\x82\xA0\xFF\x82\xA2", "あ�い"},
        {std::string_view("\0x", 2), std::string_view("\0x", 2)},
    };
    for (const auto& c : cases) EXPECT_EQ(Cp932ToUtf8(c.cp932), c.utf8);
}

TEST(Encoding, IsValidUtf8IsStrict)
{
    const std::pair<std::string_view, bool> cases[] = {
        {"", true},
        {"ascii", true},
        {"\xC2\x80", true},
        {"\xDF\xBF", true},
        {"\xE0\xA0\x80", true},
        {"\xED\x9F\xBF", true},          // U+D7FF, just below the surrogates
        {"\xEE\x80\x80", true},          // U+E000, just above
        {"\xF0\x90\x80\x80", true},
        {"\xF4\x8F\xBF\xBF", true},      // U+10FFFF
        {"\xC0\x80", false},             // overlong NUL
        {"\xC1\xBF", false},
        {"\xE0\x9F\xBF", false},         // overlong three-byte
        {"\xF0\x8F\xBF\xBF", false},     // overlong four-byte
        {"\xED\xA0\x80", false},         // U+D800
        {"\xED\xBF\xBF", false},         // U+DFFF
        {"\xF4\x90\x80\x80", false},     // U+110000
        {"\xF5\x80\x80\x80", false},
        {"\x80", false},
        {"\xE3\x81", false},
        {"\xE3\x81" "a", false},
        {"\xFF", false},
    };
    for (const auto& [bytes, valid] : cases) {
        std::string hex;
        for (char c : bytes) hex += std::to_string(static_cast<unsigned char>(c)) + " ";
        EXPECT_EQ(IsValidUtf8(bytes), valid) << hex;
        // The same after runs of ASCII that the check skips a word at a time, at every alignment.
        for (const std::string_view ascii : {"1234567", "12345678", "1234567890abcdefg"})
            EXPECT_EQ(IsValidUtf8(std::string(ascii) + std::string(bytes) + std::string(ascii)), valid) << ascii << " " << hex;
    }
}

// Long texts go through iconv in bulk; the substitutions must land in the right places however
// the work is split into calls and however often the output buffer grows.
TEST(Encoding, LongTextsConvertTheSameAsShortOnes)
{
    const std::string unitUtf8 = "cdefgab あ①～𠮷\xFF\n";
    const std::string unitCp932 = "cdefgab \x82\xA0\x87\x40\x81\x60??\n";
    const std::string unitBack = "cdefgab あ①～??\n";
    std::string utf8;
    std::string cp932;
    std::string back;
    for (int i = 0; i < 50000; ++i) {
        utf8 += unitUtf8;
        cp932 += unitCp932;
        back += unitBack;
    }
    EXPECT_EQ(Utf8ToCp932(utf8), cp932);
    EXPECT_EQ(Cp932ToUtf8(cp932), back);
    EXPECT_TRUE(IsValidUtf8(back));
    EXPECT_FALSE(IsValidUtf8(utf8));

    std::string halfWidth(300000, '\xB1'); // one byte each way in, three out
    std::string halfWidthUtf8;
    for (int i = 0; i < 300000; ++i) halfWidthUtf8 += "ｱ";
    EXPECT_EQ(Cp932ToUtf8(halfWidth), halfWidthUtf8);
}

// Texts that are nothing but substitutions, each a stop of the converter: every undecodable byte
// and every character without a Shift-JIS form stands for itself, however many there are.
TEST(Encoding, TextsOfNothingButSubstitutions)
{
    const std::size_t n = 100000;
    auto repeat = [n](std::string_view unit) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += unit;
        return s;
    };
    struct Case {
        const char* what;
        std::string in;
        std::string out;
        bool toCp932;
    };
    const Case cases[] = {
        {"bytes CP932 never holds", std::string(n, '\xFF'), repeat("�"), false},
        {"lead bytes without trails", repeat("\x82 "), repeat("� "), false},
        {"a lead byte ending the text", std::string(n, '\xFF') + "\x82", repeat("�") + "�", false},
        {"emoji", repeat("🎵"), std::string(n, '?'), true},
        {"emoji in a comment", "// " + repeat("🎵") + "\n", "// " + std::string(n, '?') + "\n", true},
        {"bytes that are not UTF-8", std::string(n, '\xFF'), std::string(n, '?'), true},
        {"characters without a form between ones with", repeat("€あ"), repeat("?\x82\xA0"), true},
    };
    for (const Case& c : cases) {
        const std::string got = c.toCp932 ? Utf8ToCp932(c.in) : Cp932ToUtf8(c.in);
        EXPECT_TRUE(got == c.out) << c.what << ": " << got.substr(0, 40);
    }
}

TEST(Encoding, CodePageToUtf8)
{
    struct Case {
        int codePage;
        std::string_view bytes;
        std::string_view utf8;
    };
    const Case cases[] = {
        {1252, "caf\xE9 \x80\x97", "café €—"},
        {1251, "\xCF\xF0\xE8", "При"},
        {932, "\x82\xA0\x82", "あ�"},
        {65001, "\xE3\x81\x82\xE3", "あ�"},
        {12345, "\xE9", "é"}, // an unknown page is read as 1252
        {-1, "\xE9", "é"},
        {1251, "\x98\xCF", "�П"},            // the one byte CP1251 leaves undefined
        {936, "\xC4\xE3\xFF", "你�"},
        {949, "\xA2\xE8", "�"},                // glibc moves past this pair before refusing it
        // A page whose converter holds a character back to combine it with the next: nothing is
        // lost before a stop or at the end.
        {1258, "a\xCC\xFF", "\u00E0\u00FF"},
        {1258, "a\x81" "e", "a�e"},
    };
    for (const auto& c : cases) EXPECT_EQ(CodePageToUtf8(c.codePage, c.bytes), c.utf8) << c.codePage;
}

TEST(Encoding, AppendUtf8WritesReplacementForNonCharacters)
{
    std::string out;
    for (char32_t cp : {U'A', U'\u00E9', U'\u3042', U'\U00020BB7', char32_t{0xD800}, char32_t{0x110000}})
        AppendUtf8(out, cp);
    EXPECT_EQ(out, "Aéあ𠮷��");
}

} // namespace
