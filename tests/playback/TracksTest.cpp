// The MML tracks of a compiled song: reading a list of track numbers, mute and solo, what each
// track made, taking silenced notes out, the ticks some lines made, the song clock against the
// players' send times, and which parts sound as the players send.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "compiler/Compiler.h"
#include "song/Timeline.h"
#include "song/Tracks.h"

namespace {

TSong CompileOk(const std::string& mml)
{
    TMML compiler;
    TSong song = compiler.CompileText(mml);
    EXPECT_EQ(song.Error, "") << mml;
    return song;
}

TPortLists ListsOf(const TSong& song)
{
    TPortLists lists{};
    for (std::size_t p = 0; p < lists.Lists.size(); ++p) lists.Lists[p] = &song.Ports[p];
    return lists;
}

TTrackSet SetOf(std::initializer_list<int> numbers)
{
    TTrackSet set;
    for (int n : numbers) set.Add(n);
    return set;
}

TTrackSet AllBut(std::initializer_list<int> numbers)
{
    return SetOf(numbers).Complement();
}

// Port 1's events as "tick status data1 track", in list order.
std::vector<std::string> Port1(const TSong& song)
{
    std::vector<std::string> out;
    const TMidiElements& list = song.Ports[0];
    for (int i = 0; i < list.Count(); ++i) {
        const TMidiElement& e = list.Items(i);
        char text[64];
        if (e.Kind == ekShortMessage)
            std::snprintf(text, sizeof text, "%d %02X %d t%d", e.Tick, e.Status, e.Data1, static_cast<int>(e.Track));
        else
            std::snprintf(text, sizeof text, "%d kind%d t%d", e.Tick, e.Kind, static_cast<int>(e.Track));
        out.emplace_back(text);
    }
    return out;
}

TEST(TrackList, ReadsNumbersAndRanges)
{
    const std::pair<const char*, std::vector<int>> cases[] = {
        {"1", {1}},
        {"1,3-5", {1, 3, 4, 5}},
        {" 2 , 7 - 8 ", {2, 7, 8}},
        {"\t3\t,128", {3, 128}},
        {"\xE3\x80\x80" "4" "\xE3\x80\x80", {4}},  // ideographic spaces around the item
        {"5-5,5,1-2", {1, 2, 5}},
        {"007", {7}},
        {"1-128", SetOf({}).Complement().Numbers()},
    };
    for (const auto& [text, numbers] : cases) {
        std::string error;
        const auto set = ParseTrackList(text, error);
        ASSERT_TRUE(set.has_value()) << text << ": " << error;
        EXPECT_EQ(error, "") << text;
        EXPECT_EQ(set->Numbers(), numbers) << text;
    }
}

TEST(TrackList, RejectsBadListsNamingTheItem)
{
    const std::string longItem(200, '9');
    const std::pair<std::string, std::string> cases[] = {
        {"", "トラックが指定されていません"},
        {"  \t ", "トラックが指定されていません"},
        {"3-x", "トラックの指定が正しくありません: 3-x"},
        {"1, 3-x ,5", "トラックの指定が正しくありません: 3-x"},
        {"1,,3", "トラックの指定が正しくありません: 1,,3"},
        {"1,", "トラックの指定が正しくありません: 1,"},
        {",1", "トラックの指定が正しくありません: ,1"},
        {"-3", "トラックの指定が正しくありません: -3"},
        {"3-", "トラックの指定が正しくありません: 3-"},
        {"1-2-3", "トラックの指定が正しくありません: 1-2-3"},
        {"+3", "トラックの指定が正しくありません: +3"},
        {"$10", "トラックの指定が正しくありません: $10"},
        {"1 2", "トラックの指定が正しくありません: 1 2"},
        {"\xEF\xBC\x91", "トラックの指定が正しくありません: \xEF\xBC\x91"},  // a full-width 1
        {"0", "トラック番号は 1 から 128 までです: 0"},
        {"200", "トラック番号は 1 から 128 までです: 200"},
        {"1-200", "トラック番号は 1 から 128 までです: 1-200"},
        // 2^32 + 1 would wrap to 1 in 32 bits.
        {"4294967297", "トラック番号は 1 から 128 までです: 4294967297"},
        {"5-3", "トラックの範囲が逆になっています: 5-3"},
        // A pasted page is named by its start only, cut at a character boundary.
        {longItem, "トラック番号は 1 から 128 までです: " + std::string(32, '9') + "…"},
        {"x" + std::string(31, 'a') + "\xE3\x81\x82",
         "トラックの指定が正しくありません: x" + std::string(31, 'a') + "…"},
    };
    for (const auto& [text, message] : cases) {
        std::string error;
        EXPECT_FALSE(ParseTrackList(text, error).has_value()) << text;
        EXPECT_EQ(error, message) << text;
    }
}

TEST(TrackSet, NumbersOutsideTheTracksAreNeverMembers)
{
    TTrackSet set;
    for (int n : {0, -1, 129, INT_MIN, INT_MAX}) set.Add(n);
    EXPECT_TRUE(set.Empty());
    const TTrackSet all = set.Complement();
    EXPECT_EQ(all.Numbers().size(), 128u);
    EXPECT_EQ(all.Numbers().front(), 1);
    EXPECT_EQ(all.Numbers().back(), 128);
    EXPECT_FALSE(all.Contains(0));
    EXPECT_FALSE(all.Contains(129));
    EXPECT_EQ(SetOf({1, 128}).Complement().Numbers().size(), 126u);
}

TEST(TrackSet, SoloSilencesEveryTrackWithoutSolo)
{
    struct Case {
        TTrackSet Muted, Soloed, Silenced;
    };
    const Case cases[] = {
        {{}, {}, {}},
        {SetOf({2, 5}), {}, SetOf({2, 5})},
        {{}, SetOf({3}), AllBut({3})},
        {SetOf({1}), SetOf({3, 4}), AllBut({3, 4})},
        {SetOf({3}), SetOf({3, 4}), AllBut({4})},  // muted and soloed: stays muted
    };
    for (const Case& c : cases) EXPECT_EQ(SilencedTracks(c.Muted, c.Soloed), c.Silenced);
}

TEST(TrackSummaries, EachTrackWithItsPortChannelProgramAndNotes)
{
    const TSong song = CompileOk(
        "[1] @5 c d @7 e\n"
        "[2] r4 e\n"
        "[17] @10 c\n"
        "[3] v100\n"   // a controller only
        "[5] t100\n"   // a tempo only: no channel message
        "[66] @3 g\n"  // shares channel 2 with track 2
        "[1] r1 @9\n");
    struct Row {
        int Track, Port, Channel, Program, Notes;
    };
    const Row expected[] = {
        {1, 0, 0, 4, 3}, {2, 0, 1, -1, 1}, {3, 0, 2, -1, 0}, {5, 0, -1, -1, 0}, {17, 1, 0, 9, 1}, {66, 0, 1, 2, 1},
    };
    const std::vector<TTrackSummary> summaries = TrackSummaries(song);
    ASSERT_EQ(summaries.size(), std::size(expected));
    for (std::size_t i = 0; i < summaries.size(); ++i) {
        const TTrackSummary& s = summaries[i];
        const Row& r = expected[i];
        EXPECT_EQ(s.Track, r.Track);
        EXPECT_EQ(s.Port, r.Port) << r.Track;
        EXPECT_EQ(s.Channel, r.Channel) << r.Track;
        EXPECT_EQ(s.Program, r.Program) << r.Track;
        EXPECT_EQ(s.Notes, r.Notes) << r.Track;
    }
    EXPECT_EQ(TracksOf(song), SetOf({1, 2, 3, 5, 17, 66}));
    EXPECT_TRUE(TrackSummaries(TSong{}).empty());
    EXPECT_TRUE(TracksOf(TSong{}).Empty());
}

TEST(TrackSummaries, ATrackMovedToAnotherPortBelongsToTheOneItStartsOn)
{
    // Track 1 plays on port 1, then #ASSIGN moves it to port 2's channel 3.
    const TSong song = CompileOk("[1] c\n#ASSIGN(19,1)\n[1] @4 d\n");
    const std::vector<TTrackSummary> summaries = TrackSummaries(song);
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_EQ(summaries[0].Port, 0);
    EXPECT_EQ(summaries[0].Channel, 0);
    EXPECT_EQ(summaries[0].Program, 3);
    EXPECT_EQ(summaries[0].Notes, 2);
}

TEST(SilenceTracks, TakesOutOnlyTheNotesOfSilencedTracks)
{
    const std::string mml = "[1] @5 v90 c d\n[2] e @6 f\n[17] g\n";
    const std::vector<std::string> whole = Port1(CompileOk(mml));
    struct Case {
        TTrackSet Silenced;
        std::vector<std::string> Port1;
        int Port2Count;
    };
    const Case cases[] = {
        {{}, whole, 2},
        {SetOf({99}), whole, 2},  // a track that made nothing
        {SetOf({1}),
         {"0 C0 4 t1", "0 B0 7 t1", "0 91 64 t2", "480 81 64 t2", "480 C1 5 t2", "480 91 65 t2", "960 81 65 t2"},
         2},
        {SetOf({2, 17}), {"0 C0 4 t1", "0 B0 7 t1", "0 90 60 t1", "480 80 60 t1", "480 90 62 t1", "480 C1 5 t2",
                          "960 80 62 t1"},
         0},
        {AllBut({}), {"0 C0 4 t1", "0 B0 7 t1", "480 C1 5 t2"}, 0},
    };
    for (const Case& c : cases) {
        TSong song = CompileOk(mml);
        SilenceTracks(song, c.Silenced);
        EXPECT_EQ(Port1(song), c.Port1);
        EXPECT_EQ(song.Ports[1].Count(), c.Port2Count);
    }
}

TEST(SilenceTracks, KeepsTempoAndSystemExclusiveOfASilencedTrack)
{
    TSong song = CompileOk("[1] t90 @X1,2 c\n[2] d\n");
    SilenceTracks(song, SetOf({1}));
    const TMidiElements& list = song.Ports[0];
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Items(0).Kind, ekTempo);
    EXPECT_EQ(list.Items(1).Kind, ekSysEx);
    EXPECT_EQ(std::vector<std::uint8_t>(list.Items(1).SysExData), (std::vector<std::uint8_t>{0xF0, 1, 2, 0xF7}));
    EXPECT_EQ(list.Items(2).Status, 0x91);
    EXPECT_EQ(list.Items(3).Status, 0x81);
}

TEST(LinesRange, TheTicksTheSelectedLinesMade)
{
    const TSong song = CompileOk(
        "[M] a b [@]\n"  // line 1: a macro body, sounding where it is used
        "[1] c d\n"      // 2: 0 .. 960
        "[1] e [M]\n"    // 3: e at 960, the macro's a and b up to 2400
        "[18] r1 r1 g\n" // 4: port 2, 3840 .. 4320
        "// nothing\n");  // 5
    struct Case {
        int First, Last;
        std::optional<TTickRange> Range;
    };
    const Case cases[] = {
        {2, 2, TTickRange{0, 960}},
        {3, 3, TTickRange{960, 2400}},
        {1, 1, std::nullopt},
        {4, 4, TTickRange{3840, 4320}},
        {5, 5, std::nullopt},
        {2, 4, TTickRange{0, 4320}},
        {4, 2, TTickRange{0, 4320}},
        {6, 100, std::nullopt},
        {0, 0, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LinesRange(ListsOf(song), c.First, c.Last), c.Range) << c.First << "-" << c.Last;
}

TEST(MeasureBeat, CountsFromOne)
{
    const std::tuple<std::int32_t, std::int32_t, std::int32_t> cases[] = {
        {0, 1, 1},  {479, 1, 1},  {480, 1, 2},  {1919, 1, 4},
        {1920, 2, 1}, {-5, 1, 1}, {INT32_MAX, 1118482, 1}, {2147483519, 1118481, 4},
    };
    for (const auto& [tick, measure, beat] : cases) {
        const TMeasureBeat at = MeasureBeatAt(tick);
        EXPECT_EQ(at.Measure, measure) << tick;
        EXPECT_EQ(at.Beat, beat) << tick;
    }
}

TEST(SongClock, AgreesWithTheSendTimesAtEveryEvent)
{
    const char* pieces[] = {
        "t120 c4 t60 d4 t240 e4",
        "c d e",
        "t133 l7 cdefgab t77 l13 cdefgab [2] l5 cdefg t500 l64 cdefgab",
        "t100 t200 c t30 t300 d",  // two tempos at one tick
        "[1] /: c2 e2 / g1 :/ t90 'ceg'2,16 c&d",
    };
    for (const char* mml : pieces) {
        const TSong song = CompileOk(mml);
        const TMidiElements& list = song.Ports[0];
        for (int startTempo : {120, 45}) {
            const TSongClock clock(list, startTempo);
            const std::vector<double> times = SendTimes(list, startTempo);
            for (int i = 0; i < list.Count(); ++i)
                EXPECT_NEAR(clock.MsAt(list.Items(i).Tick), times[static_cast<std::size_t>(i)], 1e-6)
                    << mml << " at event " << i;
            EXPECT_DOUBLE_EQ(clock.LengthMs(), times.back()) << mml;
        }
    }
}

TEST(SongClock, BetweenAndPastTheEvents)
{
    const TSong changes = CompileOk("t120 c4 t60 d4 t240 e4");
    const TSongClock clock(changes.Ports[0], 120);
    const std::pair<double, double> cases[] = {
        {-100.0, 0.0}, {0.0, 0.0},      {240.0, 250.0},   {480.0, 500.0},
        {720.0, 1000.0}, {1200.0, 1625.0}, {1440.0, 1750.0}, {1920.0, 2000.0},  // past the end at 240
    };
    for (const auto& [tick, ms] : cases) EXPECT_NEAR(clock.MsAt(tick), ms, 1e-6) << tick;

    // A tempo change as the last event still sets the pace past the end.
    const TSong lastIsTempo = CompileOk("c4 t60");
    const TSongClock slow(lastIsTempo.Ports[0], 120);
    EXPECT_NEAR(slow.LengthMs(), 500.0, 1e-6);
    EXPECT_NEAR(slow.MsAt(960.0), 1500.0, 1e-6);

    // Everything at tick 0: the start tempo, at the nominal quarter note, past the end.
    const TSong atZero = CompileOk("t60");
    EXPECT_NEAR(TSongClock(atZero.Ports[0], 120).MsAt(480.0), 1000.0, 1e-6);

    const TSongClock empty(TMidiElements{}, 120);
    EXPECT_EQ(empty.MsAt(1000.0), 0.0);
    EXPECT_EQ(empty.LengthMs(), 0.0);
    EXPECT_EQ(TSongClock{}.MsAt(5.0), 0.0);
}

// What the sounding parts show after each step of sent counts.
TEST(SoundingTracks, FollowsTheNotesAsTheyAreSent)
{
    const TSong song = CompileOk(
        "[1] c2 d2\n"        // line 1
        "[2] r4 e4 f2\n"     // line 2
        "[M] g [@]\n"        // line 3: a macro body
        "[17] r2 [M]\n");    // line 4: port 2, sounds the body's g
    // Port 1: 0 c on; 480 e on; 960 c off, d on, e off, f on; 1920 d off, f off.
    // Port 2: 960 g on; 1440 g off.
    const TPortLists lists = ListsOf(song);
    ASSERT_EQ(lists.Lists[0]->Count(), 8);
    ASSERT_EQ(lists.Lists[1]->Count(), 2);
    struct Step {
        int Port1, Port2;
        std::vector<int> Lines;
    };
    const Step steps[] = {
        {0, 0, {}},     {1, 0, {1}},    {1, 0, {1}},  // the same count again reads nothing twice
        {2, 0, {1, 2}}, {3, 0, {2}},    {4, 0, {1, 2}}, {5, 0, {1}},
        {6, 1, {1, 2, 3}},  // the macro's note has the body's own line
        {8, 1, {3}},    {8, 2, {}},     {99, 99, {}},  // counts past the lists' ends
    };
    TSoundingTracks sounding;
    for (const Step& s : steps) {
        sounding.Follow(lists, {s.Port1, s.Port2, 0, 0});
        EXPECT_EQ(sounding.Lines(), s.Lines) << s.Port1 << "," << s.Port2;
    }
}

TEST(SoundingTracks, ASeekStartsFromSilence)
{
    const TSong song = CompileOk("[1] c2 d2\n[2] r4 e4 f2\n");
    const TPortLists lists = ListsOf(song);
    TSoundingTracks sounding;
    sounding.Follow(lists, {2, 0, 0, 0});
    EXPECT_EQ(sounding.Lines(), (std::vector<int>{1, 2}));
    // A silenced track's note-ons are passed over unsent: its line is not playing.
    TTrackSet muted;
    muted.Add(1);
    EXPECT_EQ(sounding.Lines(muted), (std::vector<int>{2}));

    // Restart after a seek to event 2: nothing sounds; the note-off of c does not count below 0,
    // so d is heard as soon as its note-on comes.
    sounding.Restart({2, 0, 0, 0});
    EXPECT_TRUE(sounding.Lines().empty());
    sounding.Follow(lists, {3, 0, 0, 0});
    EXPECT_TRUE(sounding.Lines().empty());
    sounding.Follow(lists, {4, 0, 0, 0});
    EXPECT_EQ(sounding.Lines(), (std::vector<int>{1}));

    // A count that goes back (a seek without Restart, a new song) starts over from there.
    sounding.Follow(lists, {1, 0, 0, 0});
    EXPECT_TRUE(sounding.Lines().empty());
    sounding.Follow(lists, {2, 0, 0, 0});
    EXPECT_EQ(sounding.Lines(), (std::vector<int>{2}));
}

}  // namespace
