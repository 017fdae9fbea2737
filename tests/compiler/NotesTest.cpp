#include <gtest/gtest.h>

#include "tests/compiler/CompileFixture.h"

namespace {

using Events = std::vector<std::string>;

struct NoteCase {
    const char* mml;
    Events events;
};

TEST(Notes, Table)
{
    const NoteCase cases[] = {
        {"c", {"0 90 60 127", "480 80 60 127"}},
        {"C4", {"0 90 60 127", "480 80 60 127"}},
        {"c4.", {"0 90 60 127", "720 80 60 127"}},
        {"c4..", {"0 90 60 127", "840 80 60 127"}},
        {"c2^8", {"0 90 60 127", "1200 80 60 127"}},
        {"c*100", {"0 90 60 127", "100 80 60 127"}},
        {"c*0", {"0 90 60 127", "0 80 60 127"}},
        {"c*100.", {"0 90 60 127", "150 80 60 127"}},
        {"c0", {"0 90 60 127", "0 80 60 127"}},
        {"c7^7", {"0 90 60 127", "548 80 60 127"}},
        {"c3", {"0 90 60 127", "640 80 60 127"}},
        {"l4^16c", {"0 90 60 127", "600 80 60 127"}},
        {"l8l.c", {"0 90 60 127", "360 80 60 127"}},
        {"l8c4c", {"0 90 60 127", "480 80 60 127", "480 90 60 127", "720 80 60 127"}},
        {"c,100", {"0 90 60 100", "480 80 60 127"}},
        {"c8,,d", {"0 90 60 127", "240 80 60 127", "240 90 62 127", "720 80 62 127"}},
        {"q4c4c", {"0 90 60 127", "240 80 60 127", "480 90 60 127", "720 80 60 127"}},
        {"q16c4c", {"0 90 60 127", "480 90 60 127", "960 80 60 127", "1440 80 60 127"}},
        {"q0c", {"0 90 60 127", "0 80 60 127"}},
        {"o-1c", {"0 90 12 127", "480 80 12 127"}},
        {"o7b", {"0 90 119 127", "480 80 119 127"}},
        {"O4c", {"0 90 72 127", "480 80 72 127"}},
        {"<c>>c", {"0 90 72 127", "480 80 72 127", "480 90 48 127", "960 80 48 127"}},
        {"k2c", {"0 90 62 127", "480 80 62 127"}},
        {"k-60c", {"0 90 0 127", "480 80 0 127"}},
        {"c+", {"0 90 61 127", "480 80 61 127"}},
        {"d-", {"0 90 61 127", "480 80 61 127"}},
        {"c++", {"0 90 62 127", "480 80 62 127"}},
        {"c+-+", {"0 90 61 127", "480 80 61 127"}},
        {"r4c", {"480 90 60 127", "960 80 60 127"}},
        {"r*0c", {"0 90 60 127", "480 80 60 127"}},
        {"c d\te", {"0 90 60 127", "480 80 60 127", "480 90 62 127", "960 80 62 127", "960 90 64 127",
                    "1440 80 64 127"}},
        // A slur holds the first key and bends to the next: 2 semitones up is 8874 = 69 * 128 + 42.
        {"c&d", {"0 90 60 127", "480 E0 42 69", "960 80 60 127", "960 E0 0 64"}},
        {"c&d&e", {"0 90 60 127", "480 E0 42 69", "960 E0 84 74", "1440 80 60 127", "1440 E0 0 64"}},
        {"c&c", {"0 90 60 127", "480 E0 0 64", "960 80 60 127", "960 E0 0 64"}},
        {"c&>c", {"0 90 60 127", "480 E0 4 32", "960 80 60 127", "960 E0 0 64"}},
        {"c&<<c", {"0 90 60 127", "480 E0 120 127", "960 80 60 127", "960 E0 0 64"}},
    };
    for (const auto& c : cases) {
        const Compiled out = CompileBytes(c.mml);
        EXPECT_EQ(out.Error, "") << c.mml;
        EXPECT_EQ(out.Events, c.events) << c.mml;
    }
}

// A slur or tie still open when the text ends (or when an error stops the compilation) is
// released on every track that holds keys, where that track's clock stands, with the bend centre
// the run owes; a track whose run is closed gets nothing more.
TEST(Notes, OpenSlurIsReleasedAtTheEnd)
{
    const NoteCase cases[] = {
        {"c&", {"0 90 60 127", "480 80 60 127", "480 E0 0 64"}},
        // At the track's clock, not at the gate of the last note.
        {"q4c4&", {"0 90 60 127", "480 80 60 127", "480 E0 0 64"}},
        {"c&r4", {"0 90 60 127", "960 80 60 127", "960 E0 0 64"}},
        {"c&d&", {"0 90 60 127", "480 E0 42 69", "960 80 60 127", "960 E0 0 64"}},
        {"|:2 c& :|", {"0 90 60 127", "480 E0 0 64", "960 80 60 127", "960 E0 0 64"}},
        {"[A] c& [@] [A]", {"0 90 60 127", "480 80 60 127", "480 E0 0 64"}},
        // A tied chord releases every key it struck.
        {"'ceg'&", {"0 90 60 127", "0 90 64 127", "0 90 67 127", "480 80 60 127", "480 80 64 127", "480 80 67 127"}},
        {"c&'ceg'&", {"0 90 60 127", "960 80 60 127", "960 E0 0 64"}},
        // Every track, each on its own channel and port at its own clock; track 3 is closed.
        {"[1] c& [2] d2& [3] e [17] f&",
         {"0 90 60 127", "0 91 62 127", "0 92 64 127", "480 82 64 127", "480 80 60 127", "480 E0 0 64", "960 81 62 127",
          "960 E1 0 64", "p2 0 90 65 127", "p2 480 80 65 127", "p2 480 E0 0 64"}},
        // A block left open: the slur ends where the track stands, after its last voice.
        {"/: c2 / e&", {"0 90 64 127", "0 90 60 127", "480 80 64 127", "480 E0 0 64", "960 80 60 127"}},
        // Closed runs are unchanged.
        {"c&d r", {"0 90 60 127", "480 E0 42 69", "960 80 60 127", "960 E0 0 64"}},
        {"'ceg'&'ceg'", {"0 90 60 127", "0 90 64 127", "0 90 67 127", "960 80 60 127", "960 80 64 127", "960 80 67 127"}},
    };
    for (const auto& c : cases) {
        const Compiled out = CompileBytes(c.mml);
        EXPECT_EQ(out.Error, "") << c.mml;
        EXPECT_EQ(out.Events, c.events) << c.mml;
    }
}

TEST(Notes, OpenSlurIsReleasedWhereAnErrorStops)
{
    const NoteCase cases[] = {
        {"c& x", {"0 90 60 127", "480 80 60 127", "480 E0 0 64"}},
        // The clock cannot pass its end: the run is released where the clock stood.
        {"c& c*2147483647", {"0 90 60 127", "480 E0 0 64", "480 80 60 127", "480 E0 0 64"}},
        // Cut off inside a macro body.
        {"[A] d& x [@] [1] c& [A]", {"0 90 60 127", "480 E0 42 69", "960 80 60 127", "960 E0 0 64"}},
    };
    for (const auto& c : cases) {
        const Compiled out = CompileBytes(c.mml);
        EXPECT_NE(out.Error, "") << c.mml;
        EXPECT_EQ(out.Events, c.events) << c.mml;
    }
}

TEST(Notes, OpenSlurReleaseCarriesTheLineWhereTheCompilationStopped)
{
    TMML compiler;
    const TSong open = compiler.CompileText("c&\r\nr\r\n\r\n");
    const TMidiElements& list = open.Ports[0];
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Items(1).Line, 4);  // the end of the text
    const TSong failed = compiler.CompileText("[A] c& x\r\n[@]\r\n[A]\r\n");
    ASSERT_EQ(failed.Ports[0].Count(), 3);
    EXPECT_EQ(failed.Ports[0].Items(1).Line, 3);  // the use of the macro that failed
    EXPECT_EQ(failed.Ports[0].Items(1).CallLine, 0);
}

TEST(Notes, Errors)
{
    const std::pair<const char*, const char*> cases[] = {
        {"o8", "オクターブが範囲を超えました( 行 : 1 )"},
        {"o-1>", "オクターブが範囲を超えました( 行 : 1 )"},
        {"o7<", "オクターブが範囲を超えました( 行 : 1 )"},
        {"o", "数値として正しくありません( 行 : 1 )"},
        {"q", "数値として正しくありません( 行 : 1 )"},
        {"k", "数値として正しくありません( 行 : 1 )"},
        {"c*", "数値として正しくありません( 行 : 1 )"},
        {"q-1", "数値が範囲外です( 行 : 1 )"},
        {"c,128", "数値が範囲外です( 行 : 1 )"},
        {"c,-1", "数値が範囲外です( 行 : 1 )"},
        {"r*-5", "数値が範囲外です( 行 : 1 )"},
        {"l-4", "数値が範囲外です( 行 : 1 )"},
        {"c&>>>c", "スラーが範囲を超えています( 行 : 1 )"},
        {"c0.", "未定義のコマンド( 行 : 1 )"},
        {"c 4", "未定義のコマンド( 行 : 1 )"},
        {"o7b++++++++", ""},
        {"o7b+++++++++", "音程が範囲を超えました( 行 : 1 )"},
        {"o-1k-12c-", "音程が範囲を超えました( 行 : 1 )"},
        {"k100c", "音程が範囲を超えました( 行 : 1 )"},
        {"k2147483647c", "音程が範囲を超えました( 行 : 1 )"},
        {"c*2147483647", ""},
        {"c*2147483647c*0", ""},
        {"c*2147483647c*1", "曲が大きすぎます( 行 : 1 )"},
        {"r*2147483647r*1", "曲が大きすぎます( 行 : 1 )"},
        {"l*2147483647^*2147483647", "曲が大きすぎます( 行 : 1 )"},
        {"q2147483647c", "曲が大きすぎます( 行 : 1 )"},
    };
    for (const auto& [mml, error] : cases) EXPECT_EQ(CompileBytes(mml).Error, error) << mml;
}

TEST(Notes, EventFieldsAndTimes)
{
    TMML compiler;
    const Compiled out = CompileBytes(compiler, "c8 r16 d4");
    ASSERT_EQ(out.Events.size(), 4u);
    const TMidiElements& list = out.Song.Ports[0];
    const double times[] = {0.0, 500.0, 750.0, 1750.0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list.Items(i).Kind, ekShortMessage);
        EXPECT_EQ(list.Items(i).Serial, i);
        EXPECT_EQ(list.Items(i).Track, 1);
        EXPECT_DOUBLE_EQ(list.Items(i).Time, times[i]);
    }
    // Time is a running floating sum, not recomputed from ticks: a third of a quarter note.
    EXPECT_DOUBLE_EQ(compiler.CompileText("c12c12c12").Ports[0].Items(1).Time, 160.0 * 60000 / 28800);
}

TEST(Notes, SlurStateDoesNotSurviveACompilation)
{
    TMML compiler;
    EXPECT_EQ(CompileBytes(compiler, "c&").Events, (Events{"0 90 60 127", "480 80 60 127", "480 E0 0 64"}));
    // The next compilation starts unslurred and owes no bend centre.
    EXPECT_EQ(CompileBytes(compiler, "d").Events, (Events{"0 90 62 127", "480 80 62 127"}));
}

}  // namespace
