// The sequencer of one port, driven by a clock the test moves by hand: every expected time below
// is exact, because the timer runs each period and each due moment exactly when it falls.
#include <gtest/gtest.h>

#include "tests/support/PlaybackFixture.h"
#include "song/Timeline.h"

namespace {
using namespace playback_test;

struct SequencerTest : testing::Test {
    TDrivenClock clock;
    TRecordingMidiOut out{clock};
    TMidi player{&out, &clock};

    void SetUp() override { player.Open(0); }
};

struct TimingCase {
    int Tempo;
    double Speed;
    const char* Sent;  // when the note-off at one quarter note goes out
};

TEST_F(SequencerTest, EventGoesOutWhenTheSongPositionReachesIt)
{
    const TimingCase cases[] = {
        {120, 1.0, "500"},
        {120, 2.0, "250"},
        {120, 0.5, "1000"},
        {60, 1.0, "1000"},
        // Between two periodic runs: the timer wakes at the due moment itself.
        {130, 1.0, "461.539"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Tempo);
        player.Elements.Clear();
        out.ClearMessages();
        clock.Advance(1'000'000 - clock.Now() % 1'000'000);  // each case from a whole second
        const std::uint64_t start = clock.Now();
        AddNote(player.Elements, 0, 480, 60);
        player.SetTempo(c.Tempo);
        player.SpeedFactor = c.Speed;
        player.Start();
        clock.AdvanceMs(1100);
        const auto log = Log(out);
        ASSERT_EQ(log.size(), 18u);
        const auto at = [&](const std::string& line) {
            const double ms = std::stod(line.substr(0, line.find(' ')));
            return ms - static_cast<double>(start / 1000);
        };
        // Events at Time 0 go out at Start itself, not one period later.
        EXPECT_EQ(at(log[0]), 0.0);
        EXPECT_EQ(log[0].substr(log[0].find(' ')), " 90 3C 64");
        EXPECT_NEAR(at(log[1]), std::stod(c.Sent), 0.0005);
        EXPECT_EQ(log[1].substr(log[1].find(' ')), " 80 3C 00");
    }
}

TEST_F(SequencerTest, TempoEventAtTheStartCountsForTheFirstInterval)
{
    AddTempo(player.Elements, 0, 60);
    AddNote(player.Elements, 0, 480, 60);
    player.Start();
    clock.AdvanceMs(2000);
    EXPECT_EQ(Log(out).at(1), "1000 80 3C 00");
    EXPECT_EQ(player.Tempo, 60);  // the player keeps the tempo it last played
}

TEST_F(SequencerTest, SpeedChangeScalesTheWholeIntervalSinceThePreviousRun)
{
    AddNote(player.Elements, 0, 480, 60);
    player.Start();
    clock.AdvanceMs(105);
    EXPECT_EQ(player.Position, 200.0);  // at the run of 100 ms
    player.SpeedFactor = 2.0;
    clock.AdvanceMs(5);
    // 100..110 ms counts at the new speed: 10 ms x 120 x 2 / 60.
    EXPECT_EQ(player.Position, 240.0);
    clock.AdvanceMs(300);
    // The remaining 760 units at 4 per millisecond.
    EXPECT_EQ(Log(out).at(1), "300 80 3C 00");
}

TEST_F(SequencerTest, LastEventEndsThePortWithAllSoundOff)
{
    AddNote(player.Elements, 0, 240, 60);
    player.Start();
    clock.AdvanceMs(250);
    EXPECT_EQ(Log(out), Concat({{"0 90 3C 64", "250 80 3C 00"}, AllSoundOffAt("250")}));
    EXPECT_TRUE(player.Finished);
    EXPECT_TRUE(player.Stopped);
    EXPECT_FALSE(player.Timer.Enabled());
    EXPECT_EQ(player.Index, 1);
    clock.AdvanceMs(1000);
    EXPECT_EQ(out.Messages().size(), 18u);
}

TEST_F(SequencerTest, StopAndResumeIsAPauseThatDoesNotCount)
{
    AddNote(player.Elements, 0, 480, 60);
    player.Start();
    clock.AdvanceMs(200);
    player.Stop();
    const double position = player.Position;
    EXPECT_EQ(position, 400.0);
    clock.AdvanceMs(5000);
    EXPECT_EQ(player.Position, position);
    EXPECT_FALSE(player.Finished);
    player.Resume();
    clock.AdvanceMs(1000);
    // 600 units were left: 300 ms after the resume at 5200 ms.
    EXPECT_EQ(Log(out), Concat({{"0 90 3C 64"}, AllSoundOffAt("200"), {"5500 80 3C 00"}, AllSoundOffAt("5500")}));
}

// Song time is kept in steps of 10 ms from the latest run, however seldom the player wakes: what
// happens at 255 ms counts as at 250 ms.
TEST_F(SequencerTest, PauseResumeAndSpeedChangeCountFromTheStepTheyComeIn)
{
    struct Case {
        const char* Name;
        void (*Act)(TMidi&, TDrivenClock&);
        const char* NoteOff;  // the note-off at one quarter note, 500 ms at 120 without the act
    };
    const Case cases[] = {
        // 500 units played at the stop; the other 500 take 250 ms from the resume at 355.
        {"pause", [](TMidi& p, TDrivenClock& c) { p.Stop(), c.AdvanceMs(100), p.Resume(); }, "605"},
        // A resume while playing counts afresh from 255, from the 500 units of the step at 250.
        {"resume while playing", [](TMidi& p, TDrivenClock&) { p.Resume(); }, "505"},
        // 250..260 counts twice as fast: 540 units at 260, the other 460 at 4 per ms.
        {"speed", [](TMidi& p, TDrivenClock&) { p.SpeedFactor = 2.0; }, "375"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        player.Stop();
        player.SpeedFactor = 1.0;
        player.Elements.Clear();
        clock.Advance(1'000'000 - clock.Now() % 1'000'000);
        out.ClearMessages();
        const std::uint64_t start = clock.Now() / 1000;
        AddNote(player.Elements, 0, 480, 60);
        player.Start();
        clock.AdvanceMs(255);
        c.Act(player, clock);
        clock.AdvanceMs(1000);
        std::vector<std::string> offs;
        for (const auto& line : Log(out))
            if (line.find(" 80 3C 00") != std::string::npos)
                offs.push_back(std::to_string(std::stoull(line.substr(0, line.find(' '))) - start));
        EXPECT_EQ(offs, std::vector<std::string>{c.NoteOff});
    }
}

TEST_F(SequencerTest, LostDeviceEndsThePortBetweenEvents)
{
    AddNote(player.Elements, 0, 1920, 60);  // the note-off two seconds on
    player.Start();
    clock.AdvanceMs(300);
    out.Lose(0);
    clock.AdvanceMs(TMidi::WatchMs);
    EXPECT_TRUE(player.Finished);  // so that the song ends without waiting for the next event
    EXPECT_TRUE(player.Stopped);
    EXPECT_FALSE(player.Timer.Enabled());
}

TEST_F(SequencerTest, StartBeginsAgainFromTheFirstEvent)
{
    AddNote(player.Elements, 0, 240, 60);
    player.Start();
    clock.AdvanceMs(300);
    ASSERT_TRUE(player.Finished);
    out.ClearMessages();
    player.Start();
    clock.AdvanceMs(300);
    EXPECT_EQ(Log(out).at(0), "300 90 3C 64");
    EXPECT_TRUE(player.Finished);
}

TEST_F(SequencerTest, StartNeedsAnOpenDeviceAndEvents)
{
    player.Start();  // empty list
    EXPECT_FALSE(player.Timer.Enabled());
    TMidi closed{&out, &clock};
    AddNote(closed.Elements, 0, 240, 60);
    closed.Start();
    closed.Resume();
    EXPECT_FALSE(closed.Timer.Enabled());
    clock.AdvanceMs(1000);
    EXPECT_FALSE(closed.Finished);
    EXPECT_TRUE(out.Messages().empty());
}

TEST_F(SequencerTest, EventsDueTogetherGoOutTogetherInListOrder)
{
    AddShort(player.Elements, 0, 0xB0, 7, 100);
    AddShort(player.Elements, 0, 0xC0, 1, 0);
    AddSysEx(player.Elements, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    AddNote(player.Elements, 0, 480, 60);
    player.Start();
    clock.AdvanceMs(10);
    EXPECT_EQ(Log(out), (std::vector<std::string>{"0 B0 07 64", "0 C0 01", "0 F0 7E 7F 09 01 F7", "0 90 3C 64"}));
}

// The timeline that exports place events by must be the one the player keeps: a start tempo
// other than 120, tempo changes up and down, events between them and a triplet time that no
// millisecond grid holds.
TEST_F(SequencerTest, SendTimesAreWhenThePlayerSendsEachEvent)
{
    AddNote(player.Elements, 0, 480, 60);
    AddTempo(player.Elements, 480, 90);
    AddNote(player.Elements, 480, 160, 62);
    AddTempo(player.Elements, 960, 200);
    AddWait(player.Elements, 960, 60);
    AddSysEx(player.Elements, 970, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    AddNote(player.Elements, 1000, 333, 64);
    player.Elements.Sort();
    player.SetTempo(75);
    const std::vector<double> expected = SendTimes(player.Elements, 75);
    const std::uint64_t start = clock.Now();
    player.Start();
    clock.AdvanceMs(5000);
    ASSERT_TRUE(player.Finished);

    std::vector<double> sent;
    for (const auto& m : out.Messages()) sent.push_back(static_cast<double>(m.Time - start) / 1000.0);
    // Tempo and wait events send nothing; the rest go out in list order, then 16 All Sound Off.
    std::vector<double> due;
    for (int i = 0; i < player.Elements.Count(); ++i) {
        const auto kind = player.Elements.Items(i).Kind;
        if (kind == ekShortMessage || kind == ekSysEx) due.push_back(expected[static_cast<std::size_t>(i)]);
    }
    ASSERT_EQ(sent.size(), due.size() + 16);
    for (std::size_t i = 0; i < due.size(); ++i) EXPECT_NEAR(sent[i], due[i], 0.002) << i;
    EXPECT_NEAR(due[2], 800.0, 1e-9);  // one quarter at 75
    EXPECT_NEAR(due.back(), 800.0 + 1000.0 * 60 / 90 + (TimeOf(1333) - TimeOf(960)) * 60 / 200, 1e-9);
}

TEST(SequencerFailure, DeviceErrorEndsThePortInsteadOfLeavingTheTimerThread)
{
    struct Broken : TMidiOutDevice {
        void ShortMessage(std::uint8_t, std::uint8_t, std::uint8_t) override { throw Exception("デバイスの故障"); }
        void LongMessage(std::span<const std::uint8_t>) override {}
        void Reset() override {}
    };
    struct BrokenService : TMidiOutService {
        int DeviceCount() override { return 1; }
        std::string DeviceName(int) override { return "故障中"; }
        std::unique_ptr<TMidiOutDevice> Open(int) override { return std::make_unique<Broken>(); }
    } service;
    TDrivenClock clock;
    TMidi player{&service, &clock};
    player.Open(0);
    AddNote(player.Elements, 0, 480, 60);
    player.Start();
    clock.AdvanceMs(100);
    EXPECT_TRUE(player.Finished);  // so that the song still ends
    EXPECT_TRUE(player.Stopped);
    EXPECT_FALSE(player.Timer.Enabled());
}

// ---- Seeking one port ----

struct SeekTest : SequencerTest {
    void SetUp() override
    {
        SequencerTest::SetUp();
        AddShort(player.Elements, 0, 0xB0, 7, 100);   // volume
        AddNote(player.Elements, 0, 480, 60);         // 90 at 0, 80 at 480
        AddSysEx(player.Elements, 240, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
        AddWait(player.Elements, 240, 60);
        AddTempo(player.Elements, 480, 90);
        AddShort(player.Elements, 480, 0xE0, 0, 80);  // pitch bend
        AddNote(player.Elements, 960, 480, 62);
        player.Elements.Sort();
    }
};

TEST_F(SeekTest, ToTheStartReplaysNothing)
{
    EXPECT_EQ(player.SeekTo(0), -1.0);
    EXPECT_TRUE(out.Messages().empty());
    EXPECT_EQ(player.Index, 0);
    EXPECT_EQ(player.Tempo, 120);
}

TEST_F(SeekTest, BetweenEventsReplaysEverythingButNotesAndWaits)
{
    const std::uint64_t before = clock.Now();
    EXPECT_EQ(player.SeekTo(700), TimeOf(960));
    // The note-on at 0 and the note-off at 480 stay unsent: the note that began before the
    // target stays silent.
    EXPECT_EQ(Log(out), (std::vector<std::string>{"0 B0 07 64", "0 F0 7E 7F 09 01 F7", "60 E0 00 50"}));
    EXPECT_GE(clock.Now() - before, 60'000u);  // the wait after the reset was honoured
    EXPECT_EQ(player.Tempo, 90);
    EXPECT_EQ(player.Index, 7);
    EXPECT_EQ(player.Position, 0.0);
    EXPECT_FALSE(player.Finished);
}

TEST_F(SeekTest, ToAnEventReplaysOnlyWhatLiesStrictlyBefore)
{
    EXPECT_EQ(player.SeekTo(480), TimeOf(480));
    EXPECT_EQ(Log(out), (std::vector<std::string>{"0 B0 07 64", "0 F0 7E 7F 09 01 F7"}));
    EXPECT_EQ(player.Tempo, 120);
}

TEST_F(SeekTest, PastTheEndReplaysTheStateAndFinishesWithoutNotes)
{
    player.Finished = false;
    EXPECT_EQ(player.SeekTo(5000), -1.0);
    EXPECT_EQ(Log(out), (std::vector<std::string>{"0 B0 07 64", "0 F0 7E 7F 09 01 F7", "60 E0 00 50"}));
    EXPECT_TRUE(player.Finished);
    EXPECT_EQ(player.Tempo, 90);
    EXPECT_EQ(player.NextTick(), 1440);
}

TEST_F(SeekTest, OnAClosedPortTempoAndWaitsStillCount)
{
    player.Close();
    const std::uint64_t before = clock.Now();
    player.SeekTo(700);
    EXPECT_TRUE(out.Messages().size() == 1u);  // only the reset of the close
    EXPECT_EQ(player.Tempo, 90);
    EXPECT_GE(clock.Now() - before, 60'000u);
}

TEST(SeekEmpty, EmptyListFinishesAtOnce)
{
    TDrivenClock clock;
    TRecordingMidiOut out{clock};
    TMidi player{&out, &clock};
    EXPECT_EQ(player.SeekTo(100), -1.0);
    EXPECT_TRUE(player.Finished);
    EXPECT_EQ(player.NextTick(), 0);
}

}  // namespace
