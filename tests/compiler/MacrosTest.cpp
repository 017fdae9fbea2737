#include <gtest/gtest.h>

#include "tests/compiler/CompileFixture.h"

namespace {

using Lines = std::vector<std::string>;

TEST(Brackets, TrackSelectionSpreadsAPieceOverChannelsAndPorts)
{
    const std::pair<const char*, Lines> cases[] = {
        {"[2]c", {"0 91 60 127", "480 81 60 127"}},
        {"[$10]c", {"0 9F 60 127", "480 8F 60 127"}},
        {"[17]c", {"p2 0 90 60 127", "p2 480 80 60 127"}},
        {"[64]c", {"p4 0 9F 60 127", "p4 480 8F 60 127"}},
        {"[65]c", {"0 90 60 127", "480 80 60 127"}},  // tracks 65..128 start on channels 1..64
        {"[]c[@]", {"0 90 60 127", "480 80 60 127"}},
        // Each track keeps its own clock and settings; a later track's early events sort first.
        {"[1]o4c[2]c", {"0 90 72 127", "0 91 60 127", "480 80 72 127", "480 81 60 127"}},
        {"[1]r[2]c[1]d", {"0 91 60 127", "480 81 60 127", "480 90 62 127", "960 80 62 127"}},
    };
    for (const auto& [mml, events] : cases) {
        const Compiled out = CompileBytes(mml);
        EXPECT_EQ(out.Error, "") << mml;
        EXPECT_EQ(out.Events, events) << mml;
    }
}

TEST(Brackets, SlurIsKeptPerTrack)
{
    // Track 2's note between the slurred notes of track 1 neither bends nor ends track 1's run.
    const Compiled out = CompileBytes("[1]c&[2]g[1]d");
    EXPECT_EQ(out.Events, (Lines{"0 90 60 127", "0 91 67 127", "480 81 67 127", "480 E0 42 69",
                                 "960 80 60 127", "960 E0 0 64"}));
}

TEST(Macros, DefineListAndExpand)
{
    const Compiled out = CompileBytes("[abc] cde [1] [abc]");
    EXPECT_EQ(out.Error, "");
    EXPECT_EQ(out.Memo, (Lines{"[abc]   cde "}));
    EXPECT_EQ(out.Events.size(), 6u);
    EXPECT_EQ(out.Events[0], "0 90 60 127");

    // A second use expands; [$] is a name; a body may name macros defined before it.
    EXPECT_EQ(CompileBytes("[a]c[@][a][a]").Events.size(), 4u);
    EXPECT_EQ(CompileBytes("[$]c[@][$]").Events.size(), 2u);
    const Compiled nested = CompileBytes("[b]c[@][a]d[b][@][a]");
    EXPECT_EQ(nested.Memo, (Lines{"[b]  c", "[a]  d[b]"}));
    EXPECT_EQ(nested.Events, (Lines{"0 90 62 127", "480 80 62 127", "480 90 60 127", "960 80 60 127"}));
    // A body that spans lines stays one entry, line ends and all.
    EXPECT_EQ(CompileBytes("[m]c\r\nd\r\n[1]").Memo, (Lines{"[m]  c\r\nd\r\n"}));
}

TEST(Macros, EveryTerminatorEndsADefinition)
{
    const std::pair<const char*, Lines> cases[] = {
        {"[a]cd", {"[a]  cd"}},                       // the end of the text
        {"[a]cd#INITGM(1)", {"[a]  cd"}},            // a function
        {"[a]cd;", {"[a]  cd"}},                      // ";" (the loop then rejects it)
        {"[a]cd[2]e", {"[a]  cd"}},                   // a track number, which takes effect
        {"[a]cd[@]e", {"[a]  cd"}},                   // the mark
        {"[a]cd[b]e", {"[a]  cd", "[b]  e"}},         // an undefined name starts its definition
        {"[a]c[b]d[a]", {"[a]  c", "[b]  d[a]"}},     // a defined name stays in the body
    };
    for (const auto& [mml, memo] : cases) EXPECT_EQ(CompileBytes(mml).Memo, memo) << mml;
    EXPECT_EQ(CompileBytes("[a]cd;").Error, "未定義のコマンド( 行 : 1 )");
    // The track selected by the terminating bracket is the one the following commands use.
    EXPECT_EQ(CompileBytes("[a]c[2]e").Events, (Lines{"0 91 64 127", "480 81 64 127"}));
}

TEST(Macros, Errors)
{
    const std::pair<const char*, const char*> cases[] = {
        {"c\r\n[abc", "マクロ名が異常です( 行 : 2 )"},
        {"[ab\r\nc", "マクロ名が異常です( 行 : 1 )"},  // named where the bracket opened
        {"[1a]", "数字で始まるマクロ名は使えません( 行 : 1 )"},
        {"[1-2]", "数値として正しくありません( 行 : 1 )"},
        {"[0]", "数値が範囲外です( 行 : 1 )"},
        {"[129]", "数値が範囲外です( 行 : 1 )"},
        {"[a]c[a]", "マクロの再帰呼び出しは出来ません( 行 : 1 )"},
        {"[a]c\r\nx[@]\r\n\r\n[a]", "未定義のコマンド( 行 : 2 )"},  // inside the body, on its second line
        {"\r\n[a]\r\nc\r\n  o9[@][a]", "オクターブが範囲を超えました( 行 : 4 )"},
        {"[a]c[b]d[@]\r\n[a]x", "未定義のコマンド( 行 : 2 )"},  // back in the main text
    };
    for (const auto& [mml, error] : cases) EXPECT_EQ(CompileBytes(mml).Error, error) << mml;
}

TEST(Macros, DoNotSurviveTheCompilation)
{
    TMML compiler;
    EXPECT_EQ(CompileBytes(compiler, "[a]c[@][a]").Events.size(), 2u);
    const Compiled again = CompileBytes(compiler, "[a]");
    EXPECT_EQ(again.Memo, (Lines{"[a]  "}));  // defined anew, not expanded
    EXPECT_TRUE(again.Events.empty());
}

TEST(Macros, ExpansionIsBounded)
{
    // Each macro doubles the one before: 2^40 notes would never end without the bounds.
    std::string text = "[m0]c*0[@]";
    for (int i = 1; i <= 40; ++i)
        text += "[m" + std::to_string(i) + "][m" + std::to_string(i - 1) + "][m" + std::to_string(i - 1) + "][@]";
    text += "[m40]";
    EXPECT_EQ(CompileBytes(text).Error, "曲が大きすぎます( 行 : 1 )");

    // A chain of macros each naming the one before nests one level per macro.
    std::string chain = "[n0]c*0[@]";
    for (int i = 1; i <= 300; ++i)
        chain += "[n" + std::to_string(i) + "][n" + std::to_string(i - 1) + "][@]";
    chain += "[n300]";
    EXPECT_EQ(CompileBytes(chain).Error, "入れ子が深すぎます( 行 : 1 )");
}

}  // namespace
