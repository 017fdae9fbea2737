// Chords, tuplets, repeats and parallel blocks.
#include <gtest/gtest.h>

#include "tests/compiler/CompileFixture.h"

namespace {

using Lines = std::vector<std::string>;

struct Case {
    const char* mml;
    Lines events;
};

void ExpectEvents(const std::vector<Case>& cases)
{
    for (const auto& c : cases) {
        const Compiled out = CompileBytes(c.mml);
        EXPECT_EQ(out.Error, "") << c.mml;
        EXPECT_EQ(out.Events, c.events) << c.mml;
    }
}

void ExpectErrors(const std::vector<std::pair<const char*, const char*>>& cases)
{
    for (const auto& [mml, error] : cases) EXPECT_EQ(CompileBytes(mml).Error, error) << mml;
}

TEST(Chords, Events)
{
    ExpectEvents({
        {"'ceg'4", {"0 90 60 127", "0 90 64 127", "0 90 67 127", "480 80 60 127", "480 80 64 127", "480 80 67 127"}},
        {"'ceg'2,8", {"0 90 60 127", "240 90 64 127", "480 90 67 127", "960 80 60 127", "960 80 64 127", "960 80 67 127"}},
        {"'ce'4,8", {"0 90 60 127", "240 90 64 127", "480 80 60 127", "480 80 64 127"}},
        {"'crg'2,8", {"0 90 60 127", "480 90 67 127", "960 80 60 127", "960 80 67 127"}},
        {"'c100eg'*0", {"0 90 60 100", "0 80 60 127", "0 90 64 127", "0 80 64 127", "0 90 67 127", "0 80 67 127"}},
        {"'>eg<c'*0c*0", {"0 90 52 127", "0 80 52 127", "0 90 55 127", "0 80 55 127", "0 90 60 127", "0 80 60 127",
                          "0 90 60 127", "0 80 60 127"}},
        {"l8'c'.", {"0 90 60 127", "360 80 60 127"}},
        {"'c',8", {"0 90 60 127", "480 80 60 127"}},
        {"q4'ce'2,4", {"0 90 60 127", "480 80 60 127", "480 90 64 127", "720 80 64 127"}},
        // The delay is kept for a chord that leaves it out with a second comma.
        {"'ce'2,8'ce'2,,", {"0 90 60 127", "240 90 64 127", "960 80 60 127", "960 80 64 127", "960 90 60 127",
                            "1200 90 64 127", "1920 80 60 127", "1920 80 64 127"}},
        {"'ce'2,8'ce'2", {"0 90 60 127", "240 90 64 127", "960 80 60 127", "960 80 64 127", "960 90 60 127",
                          "960 90 64 127", "1920 80 60 127", "1920 80 64 127"}},
        // Tied chords strike once and release at the end of the second.
        {"'ce'4&'ce'4", {"0 90 60 127", "0 90 64 127", "960 80 60 127", "960 80 64 127"}},
        {"c&'ce'", {"0 90 60 127", "960 80 60 127", "960 80 64 127"}},
        // A chord tied into a note or into a chord of other keys still releases every key it struck.
        {"'ce'&d", {"0 90 60 127", "0 90 64 127", "480 E0 86 58", "960 80 60 127", "960 80 64 127", "960 E0 0 64"}},
        {"'ce'&'g'", {"0 90 60 127", "0 90 64 127", "960 80 67 127", "960 80 60 127", "960 80 64 127"}},
    });
}

TEST(Chords, Errors)
{
    ExpectErrors({
        {"'ceg'4,8", "和音のディレイが長すぎます( 行 : 1 )"},
        {"'c r g'", "和音内に未定義のコマンドがあります( 行 : 1 )"},
        {"'cv10e'", "和音内に未定義のコマンドがあります( 行 : 1 )"},
        {"'c>>>>>e'", "オクターブが範囲を超えました( 行 : 1 )"},
        {"'c128e'", "数値が範囲外です( 行 : 1 )"},
        {"c\r\n'ceg\r\nc", "構文エラー( 行 : 2 )"},  // named where the chord began
    });
    // The octave of the text is back after the chord, also after an error-free one that changed it.
    EXPECT_EQ(CompileBytes("'<<c'c").Events.back(), "960 80 60 127");
}

TEST(Tuplets, SharesAndErrors)
{
    ExpectEvents({
        {"{ceg}4", {"0 90 60 127", "160 80 60 127", "160 90 64 127", "320 80 64 127", "320 90 67 127", "480 80 67 127"}},
        {"{c+>b}8", {"0 90 61 127", "120 80 61 127", "120 90 59 127", "240 80 59 127"}},
        {"{crg}2", {"0 90 60 127", "320 80 60 127", "640 90 67 127", "960 80 67 127"}},
        {"{'ce'd}4", {"0 90 60 127", "0 90 64 127", "240 80 60 127", "240 80 64 127", "240 90 62 127", "480 80 62 127"}},
        {"{c d e}4.", {"0 90 60 127", "240 80 60 127", "240 90 62 127", "480 80 62 127", "480 90 64 127", "720 80 64 127"}},
        {"q4{ceg}4", {"0 90 60 127", "80 80 60 127", "160 90 64 127", "240 80 64 127", "320 90 67 127", "400 80 67 127"}},
        {"{c4de}4", {"0 90 60 4", "160 80 60 127", "160 90 62 127", "320 80 62 127", "320 90 64 127", "480 80 64 127"}},
        {"{}4c", {"0 90 60 127", "480 80 60 127"}},
        {"{o4}4c", {"0 90 72 127", "480 80 72 127"}},
        {"{@E1c}4", {"0 B0 91 1", "0 90 60 127", "480 80 60 127"}},
        // Shares not taken by a miscounted body do not leak into the notes after the brace.
        {"{c // d [e] {\r\n}4c", {"0 90 60 127", "480 80 60 127", "480 90 60 127", "960 80 60 127"}},
        {"{c}", {"0 90 60 127", "480 80 60 127"}},
    });
    // Seven notes in 480 ticks: the remainder falls to the last ones.
    EXPECT_EQ(CompileBytes("{rrrrrrr}4c*0").Song.Ports[0].Items(0).Tick, 480);
    const Compiled seven = CompileBytes("{ccccccc}4");
    std::vector<int> ticks;
    for (const auto& e : seven.Events) ticks.push_back(std::stoi(e));
    EXPECT_EQ(ticks, (std::vector<int>{0, 68, 68, 136, 136, 204, 204, 273, 273, 342, 342, 411, 411, 480}));

    ExpectErrors({
        {"{cr4e}4", "未定義のコマンド( 行 : 1 )"},
        {"{c[1]d}4", "連符内でマクロは使えません( 行 : 1 )"},
        {"{c{d}}4", "連符の入れ子は出来ません( 行 : 1 )"},
        {"c\r\n{cde\r\n", "構文エラー( 行 : 2 )"},
        {"{c'de}4", "構文エラー( 行 : 1 )"},
    });
}

TEST(Repeats, Passes)
{
    auto keys = [](const char* mml) {
        std::string out;
        for (const auto& e : CompileBytes(mml).Events) {
            int tick = 0, data1 = 0, data2 = 0;
            unsigned status = 0;
            if (std::sscanf(e.c_str(), "%d %x %d %d", &tick, &status, &data1, &data2) == 4 && status == 0x90)
                out += std::to_string(data1) + " ";
        }
        return out;
    };
    const std::pair<const char*, const char*> cases[] = {
        {"|:c:|", "60 60 "},
        {"|:3c:|", "60 60 60 "},
        {"|:3cd|e:|f", "60 62 64 60 62 64 60 62 65 "},
        {"|:1cd|e:|f", "60 62 65 "},
        {"|:0cd|e:|f", "65 "},
        {"o4|:c>c:|c", "72 60 72 60 72 "},
        {"|:2 |:3 c :| d :|", "60 60 60 62 60 60 60 62 "},
        {"|:2 c | d |: e | f :| g :| a", "60 62 64 65 64 67 60 69 "},  // a volta inside a nested repeat
        {"|:1 c | [x:|] :| e", "60 64 "},                             // the scan passes over a bracket
        {"[m]c e[@] |:2 [m] :| d", "60 64 60 64 62 "},                    // macros work inside repeats
        {"c | d", "60 62 "},                                                // a volta outside a repeat is passed over
    };
    for (const auto& [mml, expected] : cases) EXPECT_EQ(keys(mml), expected) << mml;

    const Compiled sixteen = CompileBytes("|:$10r:|c");
    EXPECT_EQ(sixteen.Events.front(), "7680 90 60 127");
    const Compiled lengths = CompileBytes("l8|:c l4 d:|");
    EXPECT_EQ(lengths.Events[4], "720 90 60 127");  // l carries over into the second pass
}

TEST(Repeats, ErrorsAndLines)
{
    ExpectErrors({
        {"|: c d", "|:\"に対する\":|\"がありません( 行 : 1 )"},
        {"c\r\n|:2 c\r\n|:3 d :|\r\ne", "|:\"に対する\":|\"がありません( 行 : 2 )"},
        {"|:-1 c :|", "数値が範囲外です( 行 : 1 )"},
        {"|:0 c", "|:\"に対する\":|\"がありません( 行 : 1 )"},
        {"c :| d", "構文エラー( 行 : 1 )"},   // would otherwise end the piece silently
        {"|:2\r\nc\r\nx :|", "未定義のコマンド( 行 : 3 )"},  // lines inside repeat bodies count
        {"|:2 c\r\n:| x", "未定義のコマンド( 行 : 2 )"},
        {"[m]|:2 c[@][m]", "|:\"に対する\":|\"がありません( 行 : 1 )"},  // opened in a macro body, not closed there
        {"[m]c:|[@]|:2 [m] :|", "構文エラー( 行 : 1 )"},
    });
    // Repeats nested past the limit.
    std::string deep;
    for (int i = 0; i < 300; ++i) deep += "|:1 ";
    EXPECT_EQ(CompileBytes(deep + "c").Error, "入れ子が深すぎます( 行 : 1 )");
    // A repeat that would run for ever is stopped by the bounds.
    EXPECT_EQ(CompileBytes("|:2147483647 |:2147483647 r0 :| :|").Error, "曲が大きすぎます( 行 : 1 )");
    EXPECT_EQ(CompileBytes("|:2147483647 |:2147483647 c*0 :| :|").Error, "曲が大きすぎます( 行 : 1 )");
    // Empty bodies too: the ":|" that ends each pass is read again every pass.
    EXPECT_EQ(CompileBytes("|:2147483647 |:2147483647:| :|").Error, "曲が大きすぎます( 行 : 1 )");
}

TEST(Parallel, VoicesStartTogetherAndTheBlockEndsAfterTheLongest)
{
    ExpectEvents({
        // Voices number their events from the same serial; at one tick the sort decides their order.
        {"/:c1/e4f4:/g", {"0 90 64 127", "0 90 60 127", "480 80 64 127", "480 90 65 127", "960 80 65 127",
                          "1920 80 60 127", "1920 90 67 127", "2400 80 67 127"}},
        {"/::/c", {"0 90 60 127", "480 80 60 127"}},
        {"c/: / :/c", {"0 90 60 127", "480 80 60 127", "480 90 60 127", "960 80 60 127"}},
    });
    // The note after the block starts at the end of the longest voice and sorts after the note-off
    // that ends it, however the voices numbered their events.
    const Compiled out = CompileBytes("/:c2/e4:/g");
    EXPECT_EQ(out.Events, (Lines{"0 90 64 127", "0 90 60 127", "480 80 64 127", "960 80 60 127", "960 90 67 127",
                                 "1440 80 67 127"}));
    // A voice that made fewer events than an earlier one must not hand its serials to the note
    // after the block: that note would sort before the earlier voice's note-off and be cut off.
    const Compiled cut = CompileBytes("/:c4c4/e2:/c");
    EXPECT_EQ(std::vector<std::string>(cut.Events.end() - 3, cut.Events.end()),
              (Lines{"960 80 60 127", "960 90 60 127", "1440 80 60 127"}));
    // The time after a block is as exact as its tick, also from a start between whole time units.
    const Compiled exact = CompileBytes("c12/:c4/d8:/e");
    const TMidiElements& list = exact.Song.Ports[0];
    EXPECT_EQ(list.Last().Tick, 160 + 480 + 480);
    EXPECT_DOUBLE_EQ(list.Last().Time, (160.0 + 480 + 480) * 1000 / 480);
    ExpectErrors({
        {"/:/:", "パラレル処理の入れ子は出来ません( 行 : 1 )"},
        {"c/d", "構文エラー( 行 : 1 )"},
        {":/", "構文エラー( 行 : 1 )"},
        {"\r\n:c", "構文エラー( 行 : 2 )"},
    });
}

TEST(Comments, EndAtTheLineEnd)
{
    ExpectEvents({
        {"c // d e\r\nf", {"0 90 60 127", "480 80 60 127", "480 90 65 127", "960 80 65 127"}},
        {"c//", {"0 90 60 127", "480 80 60 127"}},
    });
}

}  // namespace
