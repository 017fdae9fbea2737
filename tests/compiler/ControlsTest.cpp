#include <gtest/gtest.h>

#include "tests/compiler/CompileFixture.h"

namespace {

using Lines = std::vector<std::string>;

TEST(Functions, ResetsAssignAndTheirEvents)
{
    const std::pair<const char*, Lines> cases[] = {
        {"#INITGM(1)", {"0 F0 7E 7F 09 01 F7", "30 wait 60", "30 B0 101 0", "30 B0 100 0", "30 B0 6 24", "30 B0 38 0"}},
        {"#InitGM2(1)", {"0 F0 7E 7F 09 03 F7", "30 wait 60", "30 B0 101 0", "30 B0 100 0", "30 B0 6 24", "30 B0 38 0"}},
        {"#initgs(2)", {"30 wait 60", "30 B0 101 0", "30 B0 100 0", "30 B0 6 24", "30 B0 38 0",
                        "p2 0 F0 41 10 42 12 40 00 7F 00 41 F7"}},
        {"#INITXG(1)c", {"0 F0 43 10 4C 00 00 7E 00 F7", "30 wait 60", "30 B0 101 0", "30 B0 100 0", "30 B0 6 24",
                         "30 B0 38 0", "30 90 60 127", "510 80 60 127"}},
        // The reset goes to the named port; the wait and the controllers to the track's own.
        {"[20]#INITGM(1)", {"0 F0 7E 7F 09 01 F7", "p2 30 wait 60", "p2 30 B3 101 0", "p2 30 B3 100 0", "p2 30 B3 6 24",
                            "p2 30 B3 38 0"}},
        {"#ASSIGN(17,1)c", {"p2 0 90 60 127", "p2 480 80 60 127"}},
        {"#assign(3,5)[5]c", {"0 92 60 127", "480 82 60 127"}},
    };
    for (const auto& [mml, events] : cases) {
        const Compiled out = CompileBytes(mml);
        EXPECT_EQ(out.Error, "") << mml;
        EXPECT_EQ(out.Events, events) << mml;
    }
    // Two resets in a row advance the track by 60 ticks in all.
    const TMidiElement after = CompileBytes("#INITGM(1)#INITGS(1)c*0").Song.Ports[0].Last();
    EXPECT_EQ(after.Tick, 60);
    EXPECT_DOUBLE_EQ(after.Time, 125.0);
}

TEST(Functions, Errors)
{
    const std::pair<const char*, const char*> cases[] = {
        {"#INITXG (1)", "未定義のコマンド( 行 : 1 )"},
        {"#FOO(1)", "未定義のコマンド( 行 : 1 )"},
        {"c\r\n#INITGM", "ファンクション名が異常です( 行 : 2 )"},
        {"#INIT\r\nGM", "ファンクション名が異常です( 行 : 1 )"},
        {"#INITGM(5)", "パラメータが範囲外( 行 : 1 )"},
        {"#INITGM(0)", "パラメータが範囲外( 行 : 1 )"},
        {"#INITGM()", "パラメータが異常( 行 : 1 )"},
        {"#INITGM(x)", "パラメータが異常( 行 : 1 )"},
        {"#ASSIGN(65,1)", "数値が範囲外です( 行 : 1 )"},
        {"#ASSIGN(1,129)", "数値が範囲外です( 行 : 1 )"},
        {"#ASSIGN(0,1)", "数値が範囲外です( 行 : 1 )"},
        {"#ASSIGN(,1)", "パラメータが異常( 行 : 1 )"},
        {"#ASSIGN(1)", "パラメータが異常( 行 : 1 )"},
        {"#INITGM(1", ""},  // the closing parenthesis is not checked, and nothing reads past the end
        {"#ASSIGN(1,1", ""},
    };
    for (const auto& [mml, error] : cases) EXPECT_EQ(CompileBytes(mml).Error, error) << mml;
    EXPECT_TRUE(CompileBytes("#INITGM(5)").Events.empty());  // a failed reset schedules nothing
}

TEST(Controls, EventsInOrder)
{
    const std::pair<const char*, Lines> cases[] = {
        {"@31", {"0 C0 30 0"}},
        {"@1,0,0", {"0 B0 0 0", "0 B0 32 0", "0 C0 0 0"}},
        {"@31,,0", {"0 B0 32 0", "0 C0 30 0"}},
        {"@E40,,20", {"0 B0 91 40", "0 B0 93 20"}},
        {"@e1,2,3,4,5", {"0 B0 91 1", "0 B0 92 2", "0 B0 93 3", "0 B0 94 4", "0 B0 95 5"}},
        {"m65,50,110", {"0 B0 77 65", "0 B0 76 50", "0 B0 78 110"}},
        {"m,,1", {"0 B0 78 1"}},
        {"@X$41,$10,$42", {"0 F0 41 10 42 F7"}},
        {"@X1,,2", {"0 F0 01 00 02 F7"}},
        {"@X", {"0 F0 F7"}},
        {"h127r h0", {"0 B0 64 127", "480 B0 64 0"}},
        {"p64p+10p+10p-30", {"0 B0 10 64", "0 B0 10 74", "0 B0 10 84", "0 B0 10 54"}},
        {"v100c4", {"0 B0 7 100", "0 90 60 127", "480 80 60 127"}},
        {"v-27v+7", {"0 B0 7 100", "0 B0 7 107"}},
        {"u100u+15c,", {"0 90 60 115", "480 80 60 127"}},
        {"t150", {"0 tempo 150"}},
        {"[17]t150", {"p2 0 tempo 150"}},
        {"t+10", {"0 tempo 130"}},
        // The opening of the editor's sample text.
        {"t120 r4p64 q8@31u127v120 m65,50,110",
         {"0 tempo 120", "480 B0 10 64", "480 C0 30 0", "480 B0 7 120", "480 B0 77 65", "480 B0 76 50", "480 B0 78 110"}},
    };
    for (const auto& [mml, events] : cases) {
        const Compiled out = CompileBytes(mml);
        EXPECT_EQ(out.Error, "") << mml;
        EXPECT_EQ(out.Memo, Lines{}) << mml;
        EXPECT_EQ(out.Events, events) << mml;
    }
}

TEST(Controls, TempoBelongsToTheTracksPort)
{
    TMML compiler;
    const TSong song = compiler.CompileText("t150 [17] t90");
    EXPECT_EQ(song.Tempos, (TMML::TPortTempos{150, 90, 120, 120}));
    // Tempo starts at 120 in every compilation: t+10 gives 130 again.
    EXPECT_EQ(compiler.CompileText("t+10").Tempos[0], 130);
    EXPECT_EQ(compiler.CompileText("t+10").Tempos[0], 130);
    // A port without a tempo command keeps the tempo its player has.
    EXPECT_EQ(compiler.CompileText("[17] t90", {100, 110, 80, 70}).Tempos, (TMML::TPortTempos{100, 90, 80, 70}));
}

TEST(Controls, WarningsLeaveNoEventAndGoOn)
{
    const struct {
        const char* mml;
        Lines events;
        Lines memo;
    } cases[] = {
        {"t20c", {"0 90 60 127", "480 80 60 127"}, {"警告: テンポが範囲を超えています( 行 : 1 )"}},
        {"t501", {}, {"警告: テンポが範囲を超えています( 行 : 1 )"}},
        {"t600 t-200", {"0 tempo 400"}, {"警告: テンポが範囲を超えています( 行 : 1 )"}},  // still the base
        {"c\r\nt", {"0 90 60 127", "480 80 60 127"}, {"警告: 数値として正しくありません( 行 : 2 )"}},
        {"h128", {}, {"警告: ホールドが範囲を超えています( 行 : 1 )"}},
        {"h", {}, {"警告: 数値として正しくありません( 行 : 1 )"}},
        {"p128", {}, {"警告: 数値が範囲外です( 行 : 1 )"}},
        {"p64p-65", {"0 B0 10 64"}, {"警告: 数値が範囲外です( 行 : 1 )"}},
        {"p", {}, {"警告: 数値として正しくありません( 行 : 1 )"}},
        {"m1,200,3", {}, {"警告: 数値が範囲外です( 行 : 1 )"}},
        {"v200", {"0 B0 7 127"}, {"警告: 数値が範囲外です( 行 : 1 )"}},
        {"v10v-20", {"0 B0 7 10", "0 B0 7 0"}, {"警告: 数値が範囲外です( 行 : 1 )"}},
        {"v", {}, {}},  // without a number v does nothing at all
        {"[a]t5[@]\r\n[a]", {}, {"[a]  t5", "警告: テンポが範囲を超えています( 行 : 1 )"}},
    };
    for (const auto& c : cases) {
        const Compiled out = CompileBytes(c.mml);
        EXPECT_EQ(out.Error, "") << c.mml;
        EXPECT_EQ(out.Events, c.events) << c.mml;
        EXPECT_EQ(out.Memo, c.memo) << c.mml;
    }
}

TEST(Controls, Errors)
{
    const std::pair<const char*, const char*> cases[] = {
        {"u100u+28", "ベロシティが範囲を超えました( 行 : 1 )"},
        {"u0u-1", "ベロシティが範囲を超えました( 行 : 1 )"},
        {"u", "数値として正しくありません( 行 : 1 )"},
        {"@0", "数値が範囲外です( 行 : 1 )"},
        {"@129", "数値が範囲外です( 行 : 1 )"},
        {"@1,128", "数値が範囲外です( 行 : 1 )"},
        {"@E128", "数値が範囲外です( 行 : 1 )"},
        {"@X1,128", "数値が範囲外です( 行 : 1 )"},
        {"@Y", "未定義のコマンド( 行 : 1 )"},
        {"t2147483647t+2147483647", ""},  // relative values do not overflow
    };
    for (const auto& [mml, error] : cases) {
        const Compiled out = CompileBytes(mml);
        EXPECT_EQ(out.Error, error) << mml;
    }
    // The longest system-exclusive message every output takes, and one byte more: a device would
    // drop that one without a word, so the compiler refuses it.
    std::string longest = "@X1";
    for (int i = 2; i < TMML::MaxSysExBytes - 1; ++i) longest += ",1";
    const Compiled fits = CompileBytes(longest);
    EXPECT_EQ(fits.Error, "");
    ASSERT_EQ(fits.Events.size(), 1u);
    EXPECT_EQ(fits.Events[0].size(), std::string("0 F0").size() + 3u * (TMML::MaxSysExBytes - 1));
    const Compiled over = CompileBytes(longest + ",1\r\nc");
    EXPECT_EQ(over.Error, "システムエクスクルーシブが長すぎます( 行 : 1 )");
    EXPECT_EQ(over.Events, std::vector<std::string>{});
}

}  // namespace
