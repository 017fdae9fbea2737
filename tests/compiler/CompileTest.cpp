#include <gtest/gtest.h>

#include "tests/compiler/CompileFixture.h"

namespace {

using Events = std::vector<std::string>;

Compiled CompileLines(TMML& compiler, const std::vector<std::string>& lines) { return Read(compiler.Compile(lines)); }

TEST(Compile, EmptyTextAndClearedPane)
{
    TMML compiler;
    // What one compilation wrote to the pane is not carried into the next.
    ASSERT_EQ(CompileLines(compiler, {"[A] c"}).Memo.size(), 1u);
    const Compiled out = CompileLines(compiler, {});
    EXPECT_TRUE(out.Events.empty());
    EXPECT_EQ(out.Error, "");
    EXPECT_TRUE(out.Memo.empty());
    EXPECT_TRUE(out.Song.IsEmpty());
    EXPECT_FALSE(out.Song.Cancelled);
}

// The window asks to cancel until it sees its compilation end, so a request may come just after;
// it must not end the next compilation.
TEST(Compile, ACancelAskedBetweenCompilationsEndsNone)
{
    TMML compiler;
    compiler.RequestCancel();
    const Compiled out = CompileLines(compiler, {"t150 cde"});
    EXPECT_FALSE(out.Song.Cancelled);
    EXPECT_EQ(out.Events.size(), 7u);
}

TEST(Compile, ErrorLinesAreTrueLines)
{
    const std::pair<std::string, std::string> cases[] = {
        {"x", "未定義のコマンド( 行 : 1 )"},
        {"c\r\nd\r\nx", "未定義のコマンド( 行 : 3 )"},
        {"c\nd\nx", "未定義のコマンド( 行 : 3 )"},
        {"c // one\r\n// two\r\n  x", "未定義のコマンド( 行 : 3 )"},
        {"\r\n\r\n\r\n\r\n:c", "構文エラー( 行 : 5 )"},
        {"c\r\n\t\r\n\x82\xa0\r\no8", "オクターブが範囲を超えました( 行 : 4 )"},
        {"c\rd\rx", "未定義のコマンド( 行 : 1 )"},  // a lone CR ends no line for the compiler
    };
    for (const auto& [text, error] : cases) EXPECT_EQ(CompileBytes(text).Error, error) << text;
}

TEST(Compile, LoopRejectsWhatIsNoCommand)
{
    const std::pair<std::string, std::string> cases[] = {
        {"x", "未定義のコマンド( 行 : 1 )"},
        {"c4 ^", "未定義のコマンド( 行 : 1 )"},
        {"@Y", "未定義のコマンド( 行 : 1 )"},
        {":c", "構文エラー( 行 : 1 )"},
        {"c\x7f", "未定義のコマンド( 行 : 1 )"},
        {"\x83\x41", ""},  // the trail byte of a double-byte character is read as a command: 'A'
        {"c[", ""},         // a "[" that ends the text is passed over
        {"c // x y z \x83\x41", ""},
        {"c\x01\x1f\x80\xff", ""},
    };
    for (const auto& [text, error] : cases) EXPECT_EQ(CompileBytes(text).Error, error) << text;
}

TEST(Compile, EditorLinesBecomeShiftJis)
{
    TMML compiler;
    // Japanese in a comment is harmless; outside one its trail byte is read as a command, and a
    // character with no Shift-JIS form becomes '?', an undefined command.
    const Compiled comment = CompileLines(compiler, {"c // テスト①", "d"});
    EXPECT_EQ(comment.Error, "");
    EXPECT_EQ(comment.Song.Ports[0].Count(), 4);
    EXPECT_EQ(CompileLines(compiler, {"c", "あ d"}).Error, "");
    EXPECT_EQ(CompileLines(compiler, {"c", "", "ア"}).Events.size(), 4u);
    EXPECT_EQ(CompileLines(compiler, {"c", "d 🎵"}).Error, "未定義のコマンド( 行 : 2 )");
    EXPECT_EQ(CompileLines(compiler, {"c // 🎵", "d"}).Error, "");
}

TEST(Compile, EventsBeforeAnErrorStaySortedAndTheNextCompilationStartsAfresh)
{
    TMML compiler;
    // q16 makes note-offs that land after the next note-on, so the list is only in order if the
    // failed compilation still sorted it.
    Compiled out = CompileLines(compiler, {"q16 c c", "x"});
    EXPECT_EQ(out.Error, "未定義のコマンド( 行 : 2 )");
    EXPECT_EQ(out.Events, (Events{"0 90 60 127", "480 90 60 127", "960 80 60 127", "1440 80 60 127"}));

    out = CompileLines(compiler, {"e"});
    EXPECT_EQ(out.Error, "");  // the error belonged to the first compilation only
    EXPECT_EQ(out.Song.ErrorLine, 0);
    EXPECT_EQ(out.Events, (Events{"0 90 64 127", "480 80 64 127"}));
}

TEST(Compile, EmbeddedZeroByteDoesNotEndTheText)
{
    EXPECT_EQ(CompileBytes(std::string("c\0x", 3)).Error, "未定義のコマンド( 行 : 1 )");
    EXPECT_EQ(CompileBytes(std::string("c\0d", 3)).Events.size(), 4u);
}

TEST(Compile, EventLimitStopsARunawayPiece)
{
    std::string text;
    for (int i = 0; i < TMML::MaxEvents / 2 + 1; ++i) text += "c*0";
    TMML compiler;
    const Compiled out = CompileBytes(compiler, text);
    EXPECT_EQ(out.Error, "曲が大きすぎます( 行 : 1 )");
    EXPECT_EQ(out.Song.Ports[0].Count(), TMML::MaxEvents);
}

TEST(Compile, ResetDefaultsAndTracks)
{
    TMML compiler;
    // A compilation that changes every setting, and leaves a slur, a chord delay, a macro, a
    // parallel block and an error behind, passes none of it on: the next one starts from the
    // defaults (track 1, tempo 120, 480 ticks a quarter, a quarter lasting 1000 thousandths).
    ASSERT_NE(CompileLines(compiler, {"t200 o5 l8 q4 k2 u90 #ASSIGN(9,1) 'ce'4,8 [m]d [@] /: c& [7]", "x"}).Error, "");
    const Compiled fresh = CompileLines(compiler, {"c t+10 'ce'2,, [m]"});
    EXPECT_EQ(fresh.Error, "");
    EXPECT_EQ(fresh.Song.Tempos[0], 130);
    EXPECT_EQ(fresh.Events, (Events{"0 90 60 127", "480 80 60 127", "480 tempo 130", "480 90 60 127", "480 90 64 127",
                                    "1440 80 60 127", "1440 80 64 127"}));
    EXPECT_EQ(fresh.Memo, (std::vector<std::string>{"[m]  \r\n"}));  // defined anew, with nothing but the line end
    EXPECT_EQ(fresh.Song.Ports[0].Items(0).Track, 1);
    EXPECT_DOUBLE_EQ(fresh.Song.Ports[0].Items(1).Time, 1000.0);

    // Tracks 1..128, on channels 1..64 and again 1..64; no track outside them.
    const std::pair<const char*, Events> tracks[] = {
        {"[1]c*0", {"0 90 60 127", "0 80 60 127"}},
        {"[64]c*0", {"p4 0 9F 60 127", "p4 0 8F 60 127"}},
        {"[65]c*0", {"0 90 60 127", "0 80 60 127"}},
        {"[128]c*0", {"p4 0 9F 60 127", "p4 0 8F 60 127"}},
    };
    for (const auto& [mml, events] : tracks) EXPECT_EQ(CompileBytes(compiler, mml).Events, events) << mml;
    EXPECT_EQ(CompileBytes(compiler, "[0]").Error, "数値が範囲外です( 行 : 1 )");
    EXPECT_EQ(CompileBytes(compiler, "[129]").Error, "数値が範囲外です( 行 : 1 )");
    // The line an error names.
    std::string twelfth;
    for (int line = 1; line < 12; ++line) twelfth += "\r\n";
    EXPECT_EQ(CompileBytes(compiler, twelfth + "x").Error, "未定義のコマンド( 行 : 12 )");
}

TEST(Song, SystemExclusiveBytesStayWithTheirEvents)
{
    // Two tracks on one port, so the sort interleaves their events; the copy outlives the song it
    // was made from, and the compiler reuses that song's memory for the next piece.
    TMML compiler;
    TSong song = compiler.CompileDocument("[1] @X1,2 c @X3 c\n[2] r8 @X4,5,6 c @X7\n");
    ASSERT_FALSE(song.Failed()) << song.Error;
    const TSong copy = song;
    compiler.Recycle(std::move(song));
    const TSong next = compiler.CompileDocument("[1] @X9 c\n");
    const auto messages = [](const TSong& s) {
        std::vector<std::string> found;
        const TMidiElements& list = s.Ports[0];
        for (int i = 0; i < list.Count(); ++i) {
            const TMidiElement& e = list.Items(i);
            if (e.Kind != ekSysEx) continue;
            std::string text = std::to_string(e.Tick) + ":";
            for (const std::uint8_t byte : e.SysExData) text += " " + std::to_string(byte);
            EXPECT_EQ(e.SysExLength(), static_cast<int>(e.SysExData.size()));
            found.push_back(text);
        }
        return found;
    };
    EXPECT_EQ(messages(copy), (std::vector<std::string>{"0: 240 1 2 247", "240: 240 4 5 6 247", "480: 240 3 247",
                                                        "720: 240 7 247"}));
    EXPECT_EQ(messages(next), (std::vector<std::string>{"0: 240 9 247"}));
}

TEST(Song, WholeSongQueries)
{
    TSong song;
    EXPECT_TRUE(song.IsEmpty());
    EXPECT_EQ(song.Length(), 0);
    EXPECT_EQ(song.LongestPort(), 3);
    auto add = [&](int port, int tick) {
        TMidiElement e;
        e.Tick = tick;
        song.Ports[static_cast<std::size_t>(port)].Add(std::move(e));
    };
    add(0, 7680);
    add(2, 7680);
    EXPECT_FALSE(song.IsEmpty());
    EXPECT_EQ(song.Length(), 7680);
    EXPECT_EQ(song.LongestPort(), 2);
    add(1, 9000);
    EXPECT_EQ(song.LongestPort(), 1);
    EXPECT_THROW(song.Ports[0].Items(1), Exception);
}

}  // namespace
