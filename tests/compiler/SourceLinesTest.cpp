// The source line every event carries: the line of the command that made it, in the document,
// also inside macro bodies (with the line of the macro's use in the main text), repeats and
// parallel blocks.
#include <gtest/gtest.h>

#include "tests/compiler/CompileFixture.h"

namespace {

// Each event of port 1 in playing order as "tick status key line", with "<call" for an event made
// inside a macro body.
std::vector<std::string> Lines(const std::string& mml)
{
    TMML compiler;
    const TSong song = compiler.CompileText(mml);
    EXPECT_EQ(song.Error, "") << mml;
    std::vector<std::string> out;
    const TMidiElements& list = song.Ports[0];
    for (int i = 0; i < list.Count(); ++i) {
        const TMidiElement& e = list.Items(i);
        char text[64];
        // Only a short message has message bytes; any other event shows them as zeros.
        const bool bytes = e.Kind == ekShortMessage;
        std::snprintf(text, sizeof text, "%d %02X %d %d", e.Tick, bytes ? e.Status : 0, bytes ? e.Data1 : 0, e.Line);
        std::string item = text;
        if (e.FromMacro()) item += " <" + std::to_string(e.CallLine);
        out.push_back(item);
    }
    return out;
}

using Events = std::vector<std::string>;

TEST(SourceLines, EveryEventCarriesTheLineOfItsCommand)
{
    const std::pair<const char*, Events> cases[] = {
        // Plain lines, CR LF or LF alone, blank lines and comments between.
        {"c\r\n\r\n// d\r\ne", {"0 90 60 1", "480 80 60 1", "480 90 64 4", "960 80 64 4"}},
        {"t100\nc", {"0 00 0 1", "0 90 60 2", "480 80 60 2"}},
        // A slur's note-off comes from the command that ends the run.
        {"c&\nd", {"0 90 60 1", "480 E0 42 2", "960 80 60 2", "960 E0 0 2"}},
        // Every pass of a repeat has the line where the command stands; lines after the repeat
        // are counted once.
        {"|:2\nc\nd:|\ne",
         {"0 90 60 2", "480 80 60 2", "480 90 62 3", "960 80 62 3", "960 90 60 2", "1440 80 60 2", "1440 90 62 3",
          "1920 80 62 3", "1920 90 64 4", "2400 80 64 4"}},
        {"|:2 c\n| d :|\ne", {"0 90 60 1", "480 80 60 1", "480 90 62 2", "960 80 62 2", "960 90 60 1", "1440 80 60 1",
                             "1440 90 64 3", "1920 80 64 3"}},
        // Voices of a parallel block, and the command after it.
        {"/: c2\n/ d\n:/ e", {"0 90 62 2", "0 90 60 1", "480 80 62 2", "960 80 60 1", "960 90 64 3", "1440 80 64 3"}},
        // A macro body's events have the body's own lines and the line of the use.
        {"[A] c\nd [@]\n[1] [A]\n\n[A]",
         {"0 90 60 1 <3", "480 80 60 1 <3", "480 90 62 2 <3", "960 80 62 2 <3", "960 90 60 1 <5", "1440 80 60 1 <5",
          "1440 90 62 2 <5", "1920 80 62 2 <5"}},
        // A macro inside another: the inner body's line, the outermost use's line.
        {"[A] c [@]\n[B] d\n[A] [@]\n[1] [B]", {"0 90 62 2 <4", "480 80 62 2 <4", "480 90 60 1 <4", "960 80 60 1 <4"}},
        // A macro used in a repeat body on a line of its own.
        {"[A] c [@]\n|:2\n[A] :|",
         {"0 90 60 1 <3", "480 80 60 1 <3", "480 90 60 1 <3", "960 80 60 1 <3"}},
    };
    for (const auto& [mml, expected] : cases) EXPECT_EQ(Lines(mml), expected) << mml;
}

// Other ports and functions: the events of #INITGM go to the port named, with the function's line.
TEST(SourceLines, FunctionsAndOtherPorts)
{
    TMML compiler;
    const TSong song = compiler.CompileText("\r\n#INITGM(2)\r\n[17] c");
    const TMidiElements& list = song.Ports[1];
    ASSERT_GT(list.Count(), 2);
    EXPECT_EQ(list.Items(0).Kind, ekSysEx);
    EXPECT_EQ(list.Items(0).Line, 2);
    EXPECT_EQ(list.Last().Line, 3);
    EXPECT_FALSE(list.Last().FromMacro());
}

}  // namespace
