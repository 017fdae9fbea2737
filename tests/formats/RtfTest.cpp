#include <gtest/gtest.h>

#include <algorithm>

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/Document.h"
#include "formats/Encoding.h"
#include "formats/Rtf.h"

namespace {

struct Case {
    std::string_view rtf;
    std::string_view text;
};

void ExpectReads(const Case* begin, const Case* end)
{
    for (const Case* c = begin; c != end; ++c) EXPECT_EQ(ReadRtf(c->rtf), c->text) << c->rtf;
}

TEST(RtfReader, LineEndsAndTheLastParagraphMark)
{
    const Case cases[] = {
        {R"({\rtf1 a})", "a"},
        {R"({\rtf1 a\par})", "a"},            // the control's own closing mark
        {R"({\rtf1 a\par\par})", "a\n"},
        {R"({\rtf1 a\par b})", "a\nb"},
        {R"({\rtf1 a\par\par b\par})", "a\n\nb"},
        {R"({\rtf1 {a\par}{\par}})", "a\n"},   // marks in separate groups count the same
        {R"({\rtf1 a\line b\line})", "a\nb\n"}, // \line is a break inside a paragraph
        {"{\\rtf1 a\r\nb\\par\r\n}", "ab"},     // line ends in the source are not text
        {"{\\rtf1 a\\\nb}", "a\nb"},           // backslash-newline is an old \par
        {R"({\rtf1 \par})", ""},
        {R"({\rtf1 })", ""},
    };
    ExpectReads(std::begin(cases), std::end(cases));
}

TEST(RtfReader, ControlWordsAndSymbols)
{
    const Case cases[] = {
        {R"({\rtf1 a\tab b})", "a\tb"},
        {R"({\rtf1 \tab  x})", "\t x"},             // one space delimits, the next is text
        {R"({\rtf1\b bold\b0  plain})", "bold plain"},
        {R"({\rtf1 \{cde\}4 \\ x})", "{cde}4 \\ x"},
        {R"({\rtf1 a\~b\-c\_d})", "a\u00A0bc\u2011d"},
        {R"({\rtf1 \emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote})", "—–•‘’“”"},
        {R"({\rtf1 \unknownword123 x\unknown-5 y})", "xy"},
        {R"({\rtf1 {\field{\*\fldinst HYPERLINK "u"}{\fldrslt link}}})", "link"},
        {R"({\rtf1 a\bin3 {}x})", "a"},            // \bin data may hold braces
    };
    ExpectReads(std::begin(cases), std::end(cases));
}

TEST(RtfReader, SkipsDestinationsThatAreNotText)
{
    const Case cases[] = {
        {R"({\rtf1{\fonttbl{\f0\fswiss Arial;}}{\colortbl;\red0\green0\blue0;}x})", "x"},
        {R"({\rtf1{\stylesheet{\s0 Normal;}}{\info{\title T}{\author A}}x})", "x"},
        {R"({\rtf1 a{\*\listtag0}b{\*\generator Writer 1.0;}c})", "abc"},
        {R"({\rtf1 a{\*\unknown {nested} text}b})", "ab"},
        {R"({\rtf1 a{\pict\pngblip 89504e47}b{\header H}c})", "abc"},
        {R"({\rtf1 {\pntext 1.\tab}item})", "item"},
        {R"({\rtf1 {\mystery shown}})", "shown"}, // unknown destinations without \* are text
    };
    ExpectReads(std::begin(cases), std::end(cases));
}

TEST(RtfReader, DecodesBytesInTheDocumentsCodePage)
{
    const Case cases[] = {
        {R"({\rtf1\ansi caf\'e9 \'80})", "café €"},                   // 1252 by default
        {R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8})", "При"},
        {R"({\rtf1\ansi\ansicpg932 \'82\'a0\'87\'40\'81\'60})", "あ①～"},
        {R"({\rtf1\ansi\ansicpg932 \'95\\})", "表"},                 // trail byte written as \\ .
        {R"({\rtf1\ansi\ansicpg932 \'95\'5c\'83\'5c})", "表ソ"},
        {R"({\rtf1\ansi\ansicpg932 \'82\par x})", "�\nx"},           // lead byte without a trail
        {R"({\rtf1\ansi\ansicpg932 {\'82}{\'a0}})", "あ"},            // halves in separate groups
        // The font's charset decides over \ansicpg, and \plain returns to the default font.
        {R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0 Arial;}{\f1\fcharset128 MS Gothic;}})"
         R"(\'e9{\f1\'82\'a0}\'e9\f1\'82\'a2\plain\'e9})",
         "éあéいé"},
        {R"({\rtf1\ansi\deff1{\fonttbl\f0\fcharset0 Arial;\f1\fcharset128 Gothic;}\'82\'a0})", "あ"},
        {R"({\rtf1\ansi{\fonttbl{\f0\cpg932\fcharset0 X;}}\'82\'a0})", "あ"},
        {R"({\rtf1\ansi\ansicpg99999 \'e9})", "é"},                   // an unknown page reads as 1252
    };
    ExpectReads(std::begin(cases), std::end(cases));
}

TEST(RtfReader, UnicodeEscapesAndTheirFallbacks)
{
    const Case cases[] = {
        {R"({\rtf1 \u12354?x})", "あx"},
        {R"({\rtf1 \u12354 x})", "あ"},                          // the fallback may be any character
        {R"({\rtf1\uc0 \u12354 x})", "あx"},
        {R"({\rtf1\uc2 \u12354\'82\'a0x})", "あx"},              // \'hh counts as one character
        {R"({\rtf1\uc1 \u12354\par x})", "あx"},                 // and so does a control word
        {R"({\rtf1 {\uc0 \u12354  }\u12354?})", "あ あ"},         // \uc belongs to its group
        {R"({\rtf1\uc3 {\u12354?}x})", "あx"},                   // skipping stops at a group's end
        {R"({\rtf1 \u-248?\u-30254?})", "（角"},                  // negative N is N + 65536
        {R"({\rtf1 \u-10174?\u-8265?})", "𠮷"},                 // surrogate pair
        {R"({\rtf1 \uc0 \u55362\uc1 \u57271\'3f!})", "𠮷!"},    // pair across \uc switches
        {R"({\rtf1 {\u-10174?}{\u-8265?}})", "𠮷"},
        {R"({\rtf1 \u-10174?x\u-8265?})", "�x�"},                // lone halves
        {R"({\rtf1 \u-10174?\par})", "�"},
        {R"({\rtf1 \u128512?})", "😀"},                          // a whole code point in one \uN
        {R"({\rtf1 \u1114112?a})", "�a"},
        {R"({\rtf1 \u-40000?a})", "�a"},
    };
    ExpectReads(std::begin(cases), std::end(cases));
}

// The corners where readers of RTF from other programs most often go wrong.
TEST(RtfReader, SkipCountsBinaryDataFontsAndFields)
{
    const Case cases[] = {
        // \ucN belongs to its group; \uc0 skips nothing; a group's end ends a skip.
        {R"({\rtf1 {\uc2 \u12354 ab}c})", "あc"},
        {R"({\rtf1\uc2 {\uc1 \u12354 ab}\u12354 cd})", "あbあ"},
        {R"({\rtf1\uc0 \u12354 a\u-3 b})", "あa�b"},
        {R"({\rtf1\uc2 {\u12354 a}b})", "あb"},
        {R"({\rtf1\uc3 \u12354\'82\'a0}x)", "あ"},
        // \binN: N raw bytes, whatever they hold; as a fallback it counts as one character.
        {R"({\rtf1 x\bin2 {}y})", "xy"},
        {R"({\rtf1 x\bin4 \par y})", "x y"},
        {R"({\rtf1 a\bin0 b})", "ab"},
        {R"({\rtf1 \u12354\bin2 ab c})", "あ c"},
        // Negative \uN is its UTF-16 unit minus 65536.
        {R"({\rtf1 \u-2?\u-32768?})", "\uFFFE\u8000"},
        // \'hh pairs across a font change: joined within one code page, never across two.
        {R"({\rtf1\ansi{\fonttbl{\f0 A;}{\f1\fcharset128 G;}{\f2\fcharset128 H;}}\f1\'82\f2\'a0})", "あ"},
        {R"({\rtf1\ansi{\fonttbl{\f0 A;}{\f1\fcharset128 G;}}\f1\'82\f0\'a0})", "�\u00A0"},
        // A font's \cpg names its code page, whichever of \cpg and \fcharset comes first.
        {R"({\rtf1\ansi{\fonttbl{\f0\fcharset0\cpg932 X;}}\'82\'a0})", "あ"},
        {R"({\rtf1\ansi{\fonttbl{\f0\cpg1251\fcharset128 X;}}\'cf})", "П"},
        // A field shows its result, never its instructions.
        {R"({\rtf1 {\field{\*\fldinst{ HYPERLINK "x" }}{\fldrslt{\ul link}}}})", "link"},
        {R"({\rtf1 {\field{\fldinst SYMBOL 97 \\f "Symbol"}{\fldrslt a}}})", "a"},
        {R"({\rtf1 {\field{\*\fldinst {\u12354?}\'82\'a0}{\fldrslt b}}})", "b"},
        // \upr holds text twice: for old readers, and in its {\*\ud} part as Unicode.
        {R"({\rtf1 {\upr{a}{\*\ud{\u12354?}}}})", "あ"},
        {R"({\rtf1\ansi{\upr{\fonttbl{\f0 A;}}{\*\ud{\fonttbl{\f0\fcharset128 A;}}}}\'82\'a0})", "あ"},
        {R"({\rtf1 {\*\ud x}y})", "y"},
        // Text a reader that knows nested tables must not show twice.
        {R"({\rtf1 a{\*\nesttableprops x}{\nonesttables b}c})", "ac"},
    };
    ExpectReads(std::begin(cases), std::end(cases));
}

TEST(RtfReader, StopsAtTheEndOfTheDocumentsGroup)
{
    using namespace std::string_view_literals;
    const Case cases[] = {
        {"{\\rtf1 a\\par}\r\n\0"sv, "a"},
        {R"({\rtf1 a} b})", "a"},
        {R"(} {\rtf1 a})", "a"},
    };
    ExpectReads(std::begin(cases), std::end(cases));
}

// Input no writer produces: each must be read to its end without a crash or a hang, and give
// valid UTF-8.
TEST(RtfReader, SurvivesHostileInput)
{
    const std::string deep(100000, '{');
    const std::string deepClosed = "{\\rtf1 x" + deep + "y" + std::string(100000, '}') + "z}";
    const std::string longWord = "{\\rtf1 \\" + std::string(1000, 'a') + "1 x}";
    const Case cases[] = {
        {R"({\rtf1 abc)", "abc"},                              // never closed
        {R"({\rtf1 {{{abc\par)", "abc"},
        {R"({\rtf1 a\)", "a"},                                 // a lone backslash at the end
        {R"({\rtf1 a\')", "a"},
        {R"({\rtf1 a\'4)", "a4"},
        {R"({\rtf1 a\'zz b})", "azz b"},
        {R"({\rtf1 \u99999999999 a})", "�"},
        {R"({\rtf1 \u-99999999999999999999 a})", "�"},
        {R"({\rtf1\uc99999999999 \u65 abc}d)", "A"},
        {R"({\rtf1 a\bin99999999999999 xyz})", "a"},
        {R"({\rtf1 a\bin-5 b})", "ab"},
        {R"({\rtf1\ansicpg-932 \'e9})", "é"},
        {R"({\rtf1 \f99999999999999\'e9})", "é"},
        {longWord, "x"},
        {deep, ""},
        {deepClosed, "xz"}, // groups past the depth limit are skipped whole
    };
    ExpectReads(std::begin(cases), std::end(cases));

    // Random mixes of RTF's special characters.
    const char alphabet[] = "{}\\'*uc0123456789-abfpr \x82\xA0\xFF\n";
    std::uint32_t seed = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::string rtf = "{\\rtf1\\ansicpg932 ";
        for (int i = 0; i < 200; ++i) {
            seed = seed * 1103515245u + 12345u;
            rtf += alphabet[(seed >> 16) % (sizeof alphabet - 1)];
        }
        EXPECT_TRUE(IsValidUtf8(ReadRtf(rtf))) << rtf;
    }
}

TEST(RtfWriter, WritesTheFormTheProgramAlwaysSaved)
{
    EXPECT_EQ(WriteRtf("t120 {c}\\\t@1\nあ①𠮷\n"),
              "{\\rtf1\\ansi\\ansicpg932\\deff0{\\fonttbl{\\f0\\fmodern\\fcharset128 MS Gothic;}}\n"
              "\\viewkind4\\uc1\\pard\\f0\\fs20 t120 \\{c\\}\\\\\\tab @1\\par\n"
              "\\'82\\'a0\\'87\\'40\\u-10174?\\u-8265?\\par\n"
              "\\par\n}");
}

TEST(RtfWriter, WritesAsUnicodeWhatShiftJisWouldChange)
{
    const Case cases[] = {
        {"～", "\\'81\\'60"},
        {"〜", "\\u12316?"},  // shares 81 60 with the full-width tilde
        {"¥", "\\u165?"},     // would come back as a backslash
        {"‖", "\\u8214?"},
        {"ｱ", "\\'b1"},
        {"é", "\\u233?"},
        {"\x7F", "\\u127?"},
        {"\xFF", "\\u-3?"},   // invalid UTF-8 is written as U+FFFD
    };
    const std::string head = WriteRtf("");
    const std::string_view prefix = std::string_view(head).substr(0, head.size() - 6); // less "\par\n}"
    for (const auto& c : cases) {
        const std::string rtf = WriteRtf(c.rtf);
        EXPECT_EQ(rtf.substr(prefix.size(), rtf.size() - prefix.size() - 6), c.text) << c.rtf;
    }
}

TEST(RtfWriter, ReadingBackGivesTheSameText)
{
    const std::string_view texts[] = {
        "",
        "a",
        "a\n",
        "a\n\n",
        "\n",
        "\n\n\n",
        " leading and trailing ",
        "// テスト曲　サンプル（全角スペース入り）\n#INITGS(1)\n[1]\tt120 o4 l8 @1 v100\n",
        "\tcdefgab<c\t// 上昇音階 ①②\n[Intro] 'ceg'4 r4 {cde}4\n\n",
        "// 𠮷野家 — emoji 🎵 end",
        "～〜¥\\‖∥－−¬￢ｱﾝ㈱表ソ",
        "\\par \\'82 {\\u12354?}",
        "é€Ωπ\u00A0\u200D",
        std::string_view("\x01\0\x7F", 3),
    };
    for (const std::string_view text : texts) {
        const std::string rtf = WriteRtf(text);
        EXPECT_EQ(ReadRtf(rtf), text) << rtf;
        const std::string decoded = DecodeDocument(rtf);
        std::string expected;
        for (const std::string& line : SplitLines(text)) expected += line + "\n";
        EXPECT_EQ(decoded, expected) << rtf;
    }
    EXPECT_EQ(ReadRtf(WriteRtf("a\r\nb\rc")), "a\nb\nc");
}

// The bound on RTF documents rests on this: no byte of text takes more than RtfMaxBytesPerTextByte
// bytes of RTF, whatever the character (every code point, every invalid byte, every line end).
TEST(RtfWriter, NoTextByteTakesMoreThanTheBound)
{
    const std::size_t frame = WriteRtf("").size();
    std::size_t worst = 0;
    auto check = [&](std::string_view text) {
        const std::size_t rtf = WriteRtf(text).size() - frame;
        worst = std::max(worst, (rtf + text.size() - 1) / text.size());
        EXPECT_LE(rtf, RtfMaxBytesPerTextByte * text.size()) << text;
    };
    for (char32_t cp = 0; cp <= 0x10FFFF; cp += (cp < 0x10000 ? 1 : 0x101)) {
        std::string text;
        AppendUtf8(text, cp);
        check(text);
    }
    for (const std::string_view text : {"\r\n", "\r", "\n", "\t", "\x80", "\xFF", "\xE3\x81"}) check(text);
    EXPECT_EQ(worst, RtfMaxBytesPerTextByte);  // a tighter bound would be the one to keep
}

TEST(Rtf, LooksLikeRtf)
{
    EXPECT_TRUE(LooksLikeRtf("{\\rtf1}"));
    EXPECT_TRUE(LooksLikeRtf(" \t\r\n{\\rtf"));
    EXPECT_FALSE(LooksLikeRtf("{\\rt"));
    EXPECT_FALSE(LooksLikeRtf("x{\\rtf1}"));
    EXPECT_FALSE(LooksLikeRtf("{\\RTF1}"));
    EXPECT_FALSE(LooksLikeRtf("   "));
}

} // namespace
