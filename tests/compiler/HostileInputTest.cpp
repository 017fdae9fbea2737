// Inputs written to hurt: a few bytes that make millions of warnings, a long look-ahead run again
// by every pass of a repeat, numbers no 32-bit value holds. Each ends under the compiler's bounds
// with the outcome checked here; none may cost more than those bounds allow.
#include <gtest/gtest.h>

#include "tests/compiler/CompileFixture.h"

namespace {

const std::string OmittedPrefix = std::string(MMLMessage::WarningPrefix) + MMLMessage::WarningsOmitted;

bool IsOmittedLine(const std::string& line) { return line.rfind(OmittedPrefix, 0) == 0; }

TEST(HostileInput, WarningsBeyondTheBoundAreCountedNotWritten)
{
    struct Case {
        std::string Text;
        std::string Error;
        long long Omitted;  // warnings left out, -1 when the bound stopped the compile first
    };
    const Case cases[] = {
        // 16.5 million passes of a "t" without a number, stopped by the command bound.
        {"|:255|:255|:255t:|:|:|", "曲が大きすぎます( 行 : 1 )", -1},
        {"|:255|:255|:255|:255 h:|:|:|:|", "曲が大きすぎます( 行 : 1 )", -1},
        // Just past the bound: every warning is counted exactly.
        {"|:1001 t:|", "", 1},
        {"|:3000 p200 :| c", "", 2000},
    };
    for (const Case& c : cases) {
        const Compiled out = CompileBytes(c.Text);
        EXPECT_EQ(out.Error, c.Error) << c.Text;
        ASSERT_EQ(out.Memo.size(), static_cast<std::size_t>(TMML::MaxWarnings) + 1) << c.Text;
        for (std::size_t i = 0; i + 1 < out.Memo.size(); ++i) ASSERT_FALSE(IsOmittedLine(out.Memo[i])) << c.Text;
        const std::string& last = out.Memo.back();
        ASSERT_TRUE(IsOmittedLine(last)) << last;
        if (c.Omitted >= 0) {
            EXPECT_EQ(last, OmittedPrefix + std::to_string(c.Omitted) + MMLMessage::WarningsOmittedEnd);
        }
    }
    // At the bound itself nothing is left out, and the pane says nothing about leaving out.
    const Compiled exact = CompileBytes("|:1000 t:|");
    ASSERT_EQ(exact.Memo.size(), static_cast<std::size_t>(TMML::MaxWarnings));
    EXPECT_FALSE(IsOmittedLine(exact.Memo.back()));
}

TEST(HostileInput, LookAheadScansCountAgainstTheCommandBound)
{
    // Every pass looks ahead over the tuplet's long body to its brace, but compiles only the ":|".
    const std::string blanks(10000, ' ');
    EXPECT_EQ(CompileBytes("|:255|:255|:255|:255{:|:|:|:|" + blanks + "}").Error, "曲が大きすぎます( 行 : 1 )");
    // The same look-ahead once is an ordinary tuplet.
    const Compiled once = CompileBytes("{c" + blanks + "d}4");
    EXPECT_EQ(once.Error, "");
    EXPECT_EQ(once.Events, (std::vector<std::string>{"0 90 60 127", "240 80 60 127", "240 90 62 127", "480 80 62 127"}));
}

TEST(HostileInput, NumbersNoValueHoldsAreIgnoredWithAWarning)
{
    const std::string warning = "警告: 数値として正しくありません( 行 : 1 )";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        // the default length (a quarter) instead of the unreadable one
        {"c99999999999 d", {"0 90 60 127", "480 80 60 127", "480 90 62 127", "960 80 62 127"}},
        {"c$FFFFFFFFF d", {"0 90 60 127", "480 80 60 127", "480 90 62 127", "960 80 62 127"}},
        // the default length stays a quarter
        {"l99999999999 c", {"0 90 60 127", "480 80 60 127"}},
        // the track's velocity instead of the unreadable one
        {"c4,999999999999", {"0 90 60 127", "480 80 60 127"}},
        {"'c99999999999e'2", {"0 90 60 127", "0 90 64 127", "960 80 60 127", "960 80 64 127"}},
        // a repeat count that cannot be read repeats twice, as one that is not written
        {"|:99999999999 c8 :|", {"0 90 60 127", "240 80 60 127", "240 90 60 127", "480 80 60 127"}},
    };
    for (const auto& [text, events] : cases) {
        const Compiled out = CompileBytes(text);
        EXPECT_EQ(out.Error, "") << text;
        EXPECT_EQ(out.Events, events) << text;
        EXPECT_EQ(out.Memo, std::vector<std::string>{warning}) << text;
    }
    // A number that is simply not written is no mistake.
    for (const char* text : {"c d", "l c", "c4,", "|: c :|", "@1,,2"}) EXPECT_EQ(CompileBytes(text).Memo.size(), 0u) << text;
}

TEST(CompileDocument, EveryKindOfLineEndEndsALine)
{
    // The whole-text entry must compile a document as the line entry compiles its lines.
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"", {}},
        {"c", {"c"}},
        {"c\nd", {"c", "d"}},
        {"c\r\nd\r\n", {"c", "d"}},
        {"c\rd\r", {"c", "d"}},
        {"c\n\nx\n", {"c", "", "x"}},
        {"c\r\n\r\nx", {"c", "", "x"}},
        {"o4 c // \xe3\x81\x82\nx", {"o4 c // \xe3\x81\x82", "x"}},
    };
    for (const auto& [text, lines] : cases) {
        TMML compiler;
        const Compiled byText = Read(compiler.CompileDocument(text));
        const Compiled byLines = Read(compiler.Compile(lines));
        EXPECT_EQ(byText.Events, byLines.Events) << text;
        EXPECT_EQ(byText.Error, byLines.Error) << text;
    }
}

}  // namespace
