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
    compiler.Tempo = 200;
    compiler.CurrentTrack = 7;
    compiler.ResetDefaults();
    EXPECT_EQ(compiler.Tempo, 120);
    EXPECT_EQ(compiler.CurrentTrack, 1);
    EXPECT_EQ(compiler.TicksPerQuarter, 480);
    EXPECT_EQ(compiler.ReferenceTempo, 60);
    compiler.Tracks->ResetTracks();
    EXPECT_EQ(compiler.TrackAt(1).Channel, 1);
    EXPECT_EQ(compiler.TrackAt(64).Channel, 64);
    EXPECT_EQ(compiler.TrackAt(65).Channel, 1);
    EXPECT_EQ(compiler.TrackAt(128).Channel, 64);
    EXPECT_THROW(compiler.TrackAt(0), Exception);
    EXPECT_THROW(compiler.TrackAt(129), Exception);
    compiler.Line = 12;
    EXPECT_EQ(compiler.LineText(), "( 行 : 12 )");
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
