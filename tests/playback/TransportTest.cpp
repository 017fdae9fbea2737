// What a musician does while the music plays, on a driven clock: muting and soloing tracks, a
// loop, the song position between events, and a newly compiled song taking over mid-play.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "playback/Players.h"
#include "tests/support/PlaybackFixture.h"

namespace {
using namespace playback_test;

// A note made by an MML track (the lists built by hand elsewhere leave Track at 0).
void AddTrackNote(TMidiElements& list, int track, std::int32_t tick, std::int32_t length, std::uint8_t key,
                  std::uint8_t channel = 0)
{
    AddNote(list, tick, length, key, channel);
    list.Items(list.Count() - 2).Track = track;
    list.Items(list.Count() - 1).Track = track;
}

void AddTrackShort(TMidiElements& list, int track, std::int32_t tick, std::uint8_t status, std::uint8_t data1,
                   std::uint8_t data2)
{
    AddShort(list, tick, status, data1, data2);
    list.Items(list.Count() - 1).Track = track;
}

TTrackSet Tracks(std::initializer_list<int> numbers)
{
    TTrackSet set;
    for (const int n : numbers) set.Add(n);
    return set;
}

// "1000 B3 78 00": control change 120 on any channel.
bool IsAllSoundOff(const std::string& line)
{
    return line.size() >= 9 && line[line.size() - 8] == 'B' && line.compare(line.size() - 6, 6, " 78 00") == 0;
}

std::vector<std::string> WithoutAllSoundOff(std::vector<std::string> log)
{
    std::erase_if(log, IsAllSoundOff);
    return log;
}

struct TransportTest : testing::Test, TRecordedPlayers {};

// ---- Mute and solo ----

// At 120 a quarter note (480 ticks) lasts 500 ms. Track 1 and track 4 share key 3C on channel 1.
struct MuteTest : TransportTest {
    void SetUp() override
    {
        midis.Items(0).Open(0);
        TMidiElements& list = Port(0);
        AddTrackShort(list, 1, 0, 0xB0, 7, 100);
        AddTrackNote(list, 1, 0, 480, 0x3C);
        AddTrackNote(list, 2, 0, 480, 0x40, 1);
        AddTrackNote(list, 2, 480, 480, 0x40, 1);
        AddTrackShort(list, 3, 480, 0xC2, 5, 0);
        AddTrackNote(list, 3, 480, 480, 0x43, 2);
        AddTrackNote(list, 4, 240, 720, 0x3C);
        list.Sort();
    }
};

TEST_F(MuteTest, SilencedTracksSendNoNotesButEverythingElse)
{
    struct Case {
        const char* Name;
        TTrackSet Before;                 // silenced from the start
        std::optional<TTrackSet> At375;   // silenced from 375 ms on
        std::vector<std::string> Sent;    // without the All Sound Off of the end
    };
    const Case cases[] = {
        {"nothing silenced", {}, std::nullopt,
         {"0 B0 07 64", "0 90 3C 64", "0 91 40 64", "250 90 3C 64", "500 80 3C 00", "500 81 40 00", "500 91 40 64",
          "500 C2 05", "500 92 43 64", "1000 81 40 00", "1000 82 43 00", "1000 80 3C 00"}},
        // Its program change still goes out, so it sounds right once it is heard again.
        {"track 2 muted", Tracks({2}), std::nullopt,
         {"0 B0 07 64", "0 90 3C 64", "250 90 3C 64", "500 80 3C 00", "500 C2 05", "500 92 43 64", "1000 82 43 00",
          "1000 80 3C 00"}},
        // Solo on track 3 silences every other track; track 1's volume still goes out.
        {"track 3 soloed", SilencedTracks({}, Tracks({3})), std::nullopt,
         {"0 B0 07 64", "500 C2 05", "500 92 43 64", "1000 82 43 00"}},
        // Muted track 1's note-off at 500 would cut track 4's note on the same key.
        {"track 1 muted, track 4 on its key", Tracks({1}), std::nullopt,
         {"0 B0 07 64", "0 91 40 64", "250 90 3C 64", "500 81 40 00", "500 91 40 64", "500 C2 05", "500 92 43 64",
          "1000 81 40 00", "1000 82 43 00", "1000 80 3C 00"}},
        // Its sounding note ends at the mute, its own note-off at 500 is not sent again.
        {"track 2 muted mid-note", {}, Tracks({2}),
         {"0 B0 07 64", "0 90 3C 64", "0 91 40 64", "250 90 3C 64", "375 81 40 00", "500 80 3C 00", "500 C2 05",
          "500 92 43 64", "1000 82 43 00", "1000 80 3C 00"}},
        // Heard again from its next note on; the note-off of the note it missed is not sent.
        {"track 2 unmuted mid-note", Tracks({2}), TTrackSet{},
         {"0 B0 07 64", "0 90 3C 64", "250 90 3C 64", "500 80 3C 00", "500 91 40 64", "500 C2 05", "500 92 43 64",
          "1000 81 40 00", "1000 82 43 00", "1000 80 3C 00"}},
        // Muting track 4 ends its 3C; track 1's 3C gets its own note-off, track 4's is not sent.
        {"track 4 muted while track 1 holds the same key", {}, Tracks({4}),
         {"0 B0 07 64", "0 90 3C 64", "0 91 40 64", "250 90 3C 64", "375 80 3C 00", "500 80 3C 00", "500 81 40 00",
          "500 91 40 64", "500 C2 05", "500 92 43 64", "1000 81 40 00", "1000 82 43 00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        clock.Advance(10'000'000 - clock.Now() % 10'000'000);
        const std::uint64_t start = clock.Now();
        out.ClearMessages();
        midis.SetSilencedTracks(c.Before);
        midis.StartAll();
        clock.AdvanceMs(375);
        if (c.At375) midis.SetSilencedTracks(*c.At375);
        clock.AdvanceMs(1000);
        EXPECT_TRUE(midis.AllFinished());
        std::vector<std::string> sent;
        for (const auto& m : out.Messages()) {
            const std::uint64_t us = m.Time - start;
            std::string time = us % 1000 == 0 ? std::to_string(us / 1000) : std::to_string(us);
            std::string line = time + " " + HexBytes(m.Bytes);
            if (!IsAllSoundOff(line)) sent.push_back(line);
        }
        EXPECT_EQ(sent, c.Sent);
        EXPECT_EQ(midis.SilencedTracks(), c.At375.value_or(c.Before));
    }
}

TEST_F(MuteTest, StopForgetsWhatSoundedSoAMuteAfterItSendsNothing)
{
    midis.StartAll();
    clock.AdvanceMs(100);
    midis.StopAll();  // All Sound Off has ended every note
    out.ClearMessages();
    midis.SetSilencedTracks(Tracks({1, 2}));
    EXPECT_TRUE(out.Messages().empty());
    // Playing on, the silenced tracks stay silent.
    midis.ResumeAll();
    clock.AdvanceMs(1000);
    for (const auto& line : Log(out)) EXPECT_TRUE(line.find(" 91 ") == std::string::npos) << line;
}

// ---- Loop ----

// One track on port 1: a volume at 0, notes at 0, 480 and 720; the note at 720 lasts past the
// loop's end at 960, where a pan and the next note's note-on stand.
struct LoopTest : TransportTest {
    void SetUp() override
    {
        OpenAll();
        TMidiElements& list = Port(0);
        AddTrackShort(list, 1, 0, 0xB0, 7, 100);
        AddTrackNote(list, 1, 0, 480, 0x3C);
        AddTrackNote(list, 1, 480, 240, 0x3E);
        AddTrackNote(list, 1, 720, 480, 0x40);
        AddTrackShort(list, 1, 960, 0xB0, 10, 64);
        AddTrackNote(list, 1, 960, 480, 0x41);
        list.Sort();
    }
};

TEST_F(LoopTest, JumpsBackAtTheRangesEndWithNothingLeftSounding)
{
    midis.SetLoop(TTickRange{480, 960});
    midis.StartAll();
    clock.AdvanceMs(1600);
    // At 1000 ms: the pan at the range's end (not the note starting there), the note that still
    // sounds ended, the volume before the range's start replayed, and the range again at once
    // (with the note-off at 480 of a note begun before it, as after a seek).
    EXPECT_EQ(WithoutAllSoundOff(Log(out)),
              (std::vector<std::string>{"0 B0 07 64", "0 90 3C 64", "500 80 3C 00", "500 90 3E 64", "750 80 3E 00",
                                        "750 90 40 64", "1000 B0 0A 40", "1000 80 40 00", "1000 B0 07 64",
                                        "1000 80 3C 00", "1000 90 3E 64", "1250 80 3E 00", "1250 90 40 64",
                                        "1500 B0 0A 40", "1500 80 40 00", "1500 B0 07 64", "1500 80 3C 00",
                                        "1500 90 3E 64"}));
    EXPECT_EQ(midis.LoopRestarts(), 2);
    EXPECT_FALSE(midis.AllFinished());
    ASSERT_TRUE(midis.Loop().has_value());
    EXPECT_EQ(*midis.Loop(), (TTickRange{480, 960}));
}

TEST_F(LoopTest, AfterItsPassesTheSongPlaysOnToItsEnd)
{
    AddTrackNote(Port(1), 2, 0, 240, 0x4C);  // port 2 ends before the range: it waits for each pass
    midis.SetLoop(TTickRange{480, 960}, 2);
    midis.StartAll();
    clock.AdvanceMs(900);
    EXPECT_FALSE(midis.Items(1).Finished);  // its list ended at 250 ms: it waits for the jump
    clock.AdvanceMs(1500);
    EXPECT_EQ(midis.LoopRestarts(), 1);
    EXPECT_TRUE(midis.AllFinished());
    const auto log = WithoutAllSoundOff(Log(out, true));
    // The second pass reaches 960 at 1500 ms and plays what stands there, then the rest.
    const std::vector<std::string> tail(log.end() - 5, log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"d0 1250 90 40 64", "d0 1500 B0 0A 40", "d0 1500 90 41 64",
                                              "d0 1750 80 40 00", "d0 2000 80 41 00"}));
    // Port 2 played its note once: the passes hold nothing of it.
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("d1 ", 0) == 0; }), 2);
}

TEST_F(LoopTest, PauseAndSpeedChangeMoveTheJumpsWithTheSong)
{
    struct Case {
        const char* Name;
        void (*Act)(TMidis&, TDrivenClock&);  // at 1100 ms, in the second pass
        std::vector<std::string> Jumps;       // when the note at 720 is cut by a jump
    };
    const Case cases[] = {
        {"plain", [](TMidis&, TDrivenClock&) {}, {"1000", "1500", "2000"}},
        // 200 units of the pass played at the stop: the other 800 take 400 ms from 2100.
        {"paused for a second", [](TMidis& m, TDrivenClock& c) { m.StopAll(), c.AdvanceMs(1000), m.ResumeAll(); },
         {"1000", "2500", "3000"}},
        // 800 units at 4 per ms, then passes of 250 ms.
        {"twice as fast", [](TMidis& m, TDrivenClock&) { m.Items(0).SpeedFactor = 2.0; }, {"1000", "1300", "1550"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        midis.StopAll();
        midis.Items(0).SpeedFactor = 1.0;
        clock.Advance(10'000'000 - clock.Now() % 10'000'000);
        const std::uint64_t start = clock.Now() / 1000;
        out.ClearMessages();
        midis.SetLoop(TTickRange{480, 960});
        midis.StartAll();
        clock.AdvanceMs(1100);
        c.Act(midis, clock);
        clock.AdvanceMs(2000);
        std::vector<std::string> jumps;
        for (const auto& line : Log(out))
            if (line.find(" 80 40 00") != std::string::npos && jumps.size() < 3)
                jumps.push_back(std::to_string(std::stoull(line.substr(0, line.find(' '))) - start));
        EXPECT_EQ(jumps, c.Jumps);
    }
}

TEST_F(LoopTest, APositionPastTheRangePlaysToTheSongsEndThenStartsItOver)
{
    midis.SetLoop(TTickRange{480, 960});
    midis.Seek(1200);
    const std::uint64_t start = clock.Now() / 1000;
    out.ClearMessages();
    clock.AdvanceMs(800);
    std::vector<std::string> sent;
    for (const auto& line : WithoutAllSoundOff(Log(out))) {
        const auto space = line.find(' ');
        sent.push_back(std::to_string(std::stoull(line.substr(0, space)) - start) + line.substr(space));
    }
    // From 1200 to the end at 1440, then back to 480 (the volume replayed), and the range's end
    // is the next jump.
    EXPECT_EQ(sent, (std::vector<std::string>{"0 80 40 00", "250 80 41 00", "250 B0 07 64", "250 80 3C 00",
                                              "250 90 3E 64", "500 80 3E 00", "500 90 40 64", "750 B0 0A 40",
                                              "750 80 40 00", "750 B0 07 64", "750 80 3C 00", "750 90 3E 64"}));
    EXPECT_EQ(midis.LoopRestarts(), 2);
}

TEST_F(LoopTest, SetWhileAShorterPortHasEndedBringsItBack)
{
    AddTrackNote(Port(1), 2, 0, 240, 0x4C);
    midis.StartAll();
    clock.AdvanceMs(600);
    ASSERT_TRUE(midis.Items(1).Finished);
    midis.SetLoop(TTickRange{0, 960});
    clock.AdvanceMs(700);  // the jump at 1000 ms
    const auto log = WithoutAllSoundOff(Log(out, true));
    EXPECT_EQ(std::count(log.begin(), log.end(), "d1 1000 90 4C 64"), 1);
    EXPECT_FALSE(midis.Items(1).Finished);  // its note ended at 1250: it waits again
    // Turned off, the waiting port ends at once and the song plays to its end.
    midis.SetLoop(std::nullopt);
    clock.AdvanceMs(1);
    EXPECT_TRUE(midis.Items(1).Finished);
    EXPECT_FALSE(midis.AllFinished());
    clock.AdvanceMs(1500);
    EXPECT_TRUE(midis.AllFinished());
    EXPECT_EQ(midis.LoopRestarts(), 1);
}

TEST_F(LoopTest, RangeWithoutLengthRepeatsNothing)
{
    for (const TTickRange range : {TTickRange{960, 960}, TTickRange{5000, 6000}}) {
        midis.SetLoop(range);
        midis.StartAll();
        clock.AdvanceMs(2000);
        EXPECT_TRUE(midis.AllFinished());
        EXPECT_EQ(midis.LoopRestarts(), 0);
    }
}

// ---- Seeking ----

TEST_F(TransportTest, SeekKeepsTheDistanceToAPortsFirstEventAfterTheTarget)
{
    OpenAll();
    AddNote(Port(0), 960, 480, 60);  // nothing before the target
    AddNote(Port(1), 0, 240, 62);
    AddNote(Port(1), 1920, 480, 64);
    midis.Seek(480);
    const std::uint64_t start = clock.Now();
    clock.AdvanceMs(1100);
    std::vector<std::string> notes;
    for (const auto& m : out.Messages())
        if (m.Time >= start && (m.Bytes.at(0) & 0xF0) == 0x90)
            notes.push_back("d" + std::to_string(m.Device) + " " + std::to_string((m.Time - start) / 1000));
    // Port 1's note at 960 plays at once, port 2's at 1920 one second (960 ticks) later.
    EXPECT_EQ(notes, (std::vector<std::string>{"d0 0", "d1 1000"}));
}

// ---- The song position ----

TEST_F(TransportTest, PositionTickFollowsTheSongBetweenEventsAndAcrossATempoChange)
{
    OpenAll();
    AddNote(Port(0), 0, 480, 60);
    AddTempo(Port(0), 480, 60);
    AddNote(Port(0), 480, 960, 62);
    Port(0).Sort();
    EXPECT_EQ(midis.PositionTick(), 0.0);
    midis.StartAll();
    struct Step {
        std::uint64_t Ms;  // advance by
        double Tick;
    };
    const Step steps[] = {
        {250, 240.0},   // halfway through the first quarter, no event between
        {250, 480.0},   // the tempo change: from here a quarter lasts a second
        {500, 720.0},
        {499, 959.52},
        {2000, 1440.0},  // past the end: the song's length
    };
    for (const Step& s : steps) {
        clock.AdvanceMs(s.Ms);
        EXPECT_NEAR(midis.PositionTick(), s.Tick, 1e-6) << clock.Now();
    }
}

TEST_F(TransportTest, PositionTickReadsTheTimesOfTheList)
{
    // Times that do not keep the usual ratio to ticks (a compiler's rounding, say): the tick is
    // found between the events' own pairs.
    midis.Items(0).Open(0);
    AddShort(Port(0), 0, 0xB0, 7, 100);
    AddShort(Port(0), 480, 0xB0, 7, 90);
    AddShort(Port(0), 960, 0xB0, 7, 80);
    Port(0).Items(1).Time = 500.0;   // the first half in a quarter of the time
    Port(0).Items(2).Time = 2000.0;
    midis.StartAll();
    clock.AdvanceMs(125);  // Time 250
    EXPECT_NEAR(midis.PositionTick(), 240.0, 1e-6);
    clock.AdvanceMs(500);  // Time 1250: halfway from 480 to 960
    EXPECT_NEAR(midis.PositionTick(), 720.0, 1e-6);
    clock.AdvanceMs(5);
    midis.StopAll();
    clock.AdvanceMs(300);
    EXPECT_NEAR(midis.PositionTick(), 723.2, 1e-6);  // a stopped song stays where it stood
}

// ---- A new song while the music plays ----

TEST_F(TransportTest, ContinueWithGoesOnInTheNewSongFromTheSameTick)
{
    OpenAll();
    AddShort(Port(0), 0, 0xB0, 7, 100);
    AddNote(Port(0), 0, 960, 0x3C);
    AddNote(Port(0), 960, 480, 0x3E);
    Port(0).Sort();
    midis.SetSilencedTracks(Tracks({9}));
    midis.StartAll();
    clock.AdvanceMs(750);  // tick 720

    TSong song;
    AddShort(song.Ports[0], 0, 0xB0, 7, 80);
    AddNote(song.Ports[0], 0, 960, 0x48);
    AddNote(song.Ports[0], 960, 480, 0x4A);
    AddNote(song.Ports[1], 480, 720, 0x50);
    song.Ports[0].Sort();
    song.Ports[1].Sort();
    out.ClearMessages();
    midis.ContinueWith(song);
    EXPECT_NEAR(midis.PositionTick(), 720.0, 1e-6);
    clock.AdvanceMs(1000);
    // The old song's notes are silenced, the new song's volume replayed, and its events go out
    // at their own moments from tick 720 on: tick 960 a quarter later.
    EXPECT_EQ(Log(out, true), Concat({AllSoundOffAt("750", "d0 "), AllSoundOffAt("750", "d1 "),
                                      AllSoundOffAt("750", "d2 "), AllSoundOffAt("750", "d3 "),
                                      {"d0 750 B0 07 50", "d0 1000 80 48 00", "d0 1000 90 4A 64", "d1 1250 80 50 00"},
                                      AllSoundOffAt("1250", "d1 "),
                                      {"d0 1500 80 4A 00"},
                                      AllSoundOffAt("1500", "d0 ")}));
    EXPECT_EQ(midis.SilencedTracks(), Tracks({9}));
}

TEST_F(TransportTest, ContinueWithSendsNoSetupTheDeviceAlreadyHas)
{
    // A reset with its pause, then a volume: an edit of the notes leaves all of it as it was, so
    // the swap sends none of it again and, above all, does not stop the music for the pause.
    const auto setup = [](TMidiElements& list) {
        AddSysEx(list, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
        AddWait(list, 0, 60);
        AddShort(list, 0, 0xB0, 7, 100);
    };
    OpenAll();
    setup(Port(0));
    AddNote(Port(0), 0, 960, 0x3C);
    AddNote(Port(0), 960, 480, 0x3E);
    Port(0).Sort();
    midis.StartAll();
    clock.AdvanceMs(750);  // tick 720

    TSong song;
    setup(song.Ports[0]);
    AddNote(song.Ports[0], 0, 960, 0x3C);
    AddNote(song.Ports[0], 960, 480, 0x40);
    song.Ports[0].Sort();
    out.ClearMessages();
    midis.ContinueWith(song);
    clock.AdvanceMs(300);
    EXPECT_EQ(WithoutAllSoundOff(Log(out)), (std::vector<std::string>{"1000 80 3C 00", "1000 90 40 64"}));
}

TEST_F(TransportTest, ContinueWithKeepsTheLoopForTheNewLists)
{
    OpenAll();
    AddNote(Port(0), 0, 480, 0x3C);
    AddNote(Port(0), 480, 480, 0x3E);
    Port(0).Sort();
    midis.SetLoop(TTickRange{0, 5000});  // beyond either song: clamped to its length
    midis.StartAll();
    clock.AdvanceMs(750);
    TSong song;
    AddNote(song.Ports[0], 0, 480, 0x48);
    AddNote(song.Ports[0], 480, 960, 0x4A);
    midis.ContinueWith(song);
    out.ClearMessages();
    clock.AdvanceMs(1000);  // the new song ends at 1440, 750 ms on: it starts over there
    EXPECT_EQ(WithoutAllSoundOff(Log(out)),
              (std::vector<std::string>{"1500 80 4A 00", "1500 90 48 64"}));
    EXPECT_EQ(midis.LoopRestarts(), 1);
}

}  // namespace
