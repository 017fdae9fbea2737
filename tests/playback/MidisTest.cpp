// The four players together: the whole-song queries, start, stop, seek, and how a compilation
// opens the assigned devices.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "compiler/Compiler.h"
#include "playback/Players.h"
#include "tests/support/PlaybackFixture.h"

namespace {
using namespace playback_test;

struct MidisTest : testing::Test, TRecordedPlayers {};

TEST_F(MidisTest, QueriesOverFourEmptyPorts)
{
    EXPECT_TRUE(midis.IsEmpty());
    EXPECT_TRUE(midis.AllFinished());
    EXPECT_EQ(midis.SongLength(), 0);
    EXPECT_EQ(midis.LongestPort(), 3);
}

TEST_F(MidisTest, LongestPortPrefersTheHigherPortOnATie)
{
    AddNote(Port(0), 0, 7680, 60);
    AddNote(Port(2), 1920, 5760, 60);
    EXPECT_FALSE(midis.IsEmpty());
    EXPECT_EQ(midis.SongLength(), 7680);
    EXPECT_EQ(midis.LongestPort(), 2);
    AddShort(Port(1), 7681, 0xB0, 7, 0);
    EXPECT_EQ(midis.LongestPort(), 1);
}

TEST_F(MidisTest, QueriesAnswerAsTheLoadedSongDoes)
{
    struct Case {
        const char* Name;
        std::array<std::vector<std::int32_t>, TMidis::PortCount> Ticks;  // each port's event ticks
        bool Empty;
        std::int32_t Length;
        int Longest;
    };
    const Case cases[] = {
        {"no events", {}, true, 0, 3},
        {"one event at tick 0 is not empty", {{{0}, {}, {}, {}}}, false, 0, 3},
        {"an empty port after it wins a tie at 0", {{{}, {0, 0}, {}, {}}}, false, 0, 3},
        {"equal ends: the higher port", {{{}, {10, 500}, {20}, {500}}}, false, 500, 3},
        {"the first port ends last", {{{900}, {899}, {0}, {}}}, false, 900, 0},
    };
    for (const Case& c : cases) {
        TSong song;
        for (std::size_t p = 0; p < c.Ticks.size(); ++p)
            for (const std::int32_t tick : c.Ticks[p]) AddShort(song.Ports[p], tick, 0xB0, 7, 100);
        midis.Load(song);
        EXPECT_EQ(song.IsEmpty(), c.Empty) << c.Name;
        EXPECT_EQ(song.Length(), c.Length) << c.Name;
        EXPECT_EQ(song.LongestPort(), c.Longest) << c.Name;
        EXPECT_EQ(midis.IsEmpty(), c.Empty) << c.Name;
        EXPECT_EQ(midis.SongLength(), c.Length) << c.Name;
        EXPECT_EQ(midis.LongestPort(), c.Longest) << c.Name;
    }
}

TEST_F(MidisTest, SongEndsWhenEveryPlayingPortHasFinished)
{
    OpenAll();
    AddNote(Port(0), 0, 480, 60);
    AddNote(Port(1), 0, 960, 62);
    midis.StartAll();
    clock.AdvanceMs(600);
    EXPECT_TRUE(midis.Items(0).Finished);
    EXPECT_FALSE(midis.AllFinished());
    clock.AdvanceMs(400);
    EXPECT_TRUE(midis.AllFinished());
}

TEST_F(MidisTest, PortWithEventsButNoDeviceDoesNotHoldTheEndBack)
{
    midis.Items(0).Open(0);
    AddNote(Port(0), 0, 480, 60);
    AddNote(Port(3), 0, 480, 60);  // port 4 has no device: it never plays
    midis.StartAll();
    clock.AdvanceMs(600);
    EXPECT_FALSE(midis.Items(3).Finished);
    EXPECT_TRUE(midis.AllFinished());
}

TEST_F(MidisTest, StopAllSilencesOpenPortsAndResumeAllContinues)
{
    OpenAll();
    AddNote(Port(0), 0, 480, 60);
    AddNote(Port(2), 0, 480, 64);
    midis.StartAll();
    clock.AdvanceMs(100);
    midis.StopAll();
    EXPECT_EQ(out.Messages().size(), 2u + 4 * 16);  // two note-ons, then every open port silenced
    out.ClearMessages();
    clock.AdvanceMs(1000);
    midis.ResumeAll();
    EXPECT_FALSE(midis.Items(1).Timer.Enabled());  // nothing to resume on an empty port
    clock.AdvanceMs(400);
    EXPECT_EQ(Log(out, true), Concat({{"d0 1500 80 3C 00"}, AllSoundOffAt("1500", "d0 "),
                                      {"d2 1500 80 40 00"}, AllSoundOffAt("1500", "d2 ")}));
}

TEST_F(MidisTest, PortsPlayEachInListOrderAndTogetherInTimeOrder)
{
    OpenAll();
    AddNote(Port(0), 0, 480, 60);
    AddNote(Port(1), 0, 480, 62);
    midis.Items(1).SetTempo(90);  // its note-off between two steps
    AddNote(Port(2), 0, 480, 64);
    midis.Items(2).SpeedFactor = 2.0;
    AddNote(Port(3), 240, 480, 67);  // its note-on at the instant port 3 ends
    midis.StartAll();
    clock.AdvanceMs(1000);
    // Ports due at one instant go in port order.
    EXPECT_EQ(Log(out, true), Concat({{"d0 0 90 3C 64", "d1 0 90 3E 64", "d2 0 90 40 64", "d2 250 80 40 00"},
                                      AllSoundOffAt("250", "d2 "),
                                      {"d3 250 90 43 64", "d0 500 80 3C 00"},
                                      AllSoundOffAt("500", "d0 "),
                                      {"d1 666.667 80 3E 00"},
                                      AllSoundOffAt("666.667", "d1 "),
                                      {"d3 750 80 43 00"},
                                      AllSoundOffAt("750", "d3 ")}));
}

TEST_F(MidisTest, SeekOnASongOfTheSecondPortOnlyRestartsAtItsNextEvent)
{
    OpenAll();
    AddShort(Port(1), 0, 0xC0, 10, 0);
    AddNote(Port(1), 0, 480, 60);
    AddNote(Port(1), 960, 480, 62);
    midis.Seek(700);
    for (int port = 0; port < TMidis::PortCount; ++port) EXPECT_EQ(midis.Items(port).Position, TimeOf(960));
    clock.AdvanceMs(1000);
    const auto log = Log(out, true);
    // Port 2 replayed its program, then plays on at once from the note at 960 (not from the
    // start of the song, not after the gap between the target and that note).
    EXPECT_EQ(std::vector<std::string>(log.begin() + 4 * 16, log.end()),
              Concat({{"d1 0 C0 0A", "d1 0 90 3E 64", "d1 500 80 3E 00"}, AllSoundOffAt("500", "d1 ")}));
}

TEST_F(MidisTest, SeekResumesEveryPortFromTheEarliestNextEvent)
{
    OpenAll();
    AddNote(Port(0), 0, 1440, 60);  // next event after the target: 1440
    AddNote(Port(1), 0, 960, 62);   // next event after the target: 960
    midis.Seek(480);
    out.ClearMessages();
    clock.AdvanceMs(1000);
    // Port 1 waits out the 480 ticks (500 ms at 120) between the two.
    EXPECT_EQ(Log(out, true), Concat({{"d1 0 80 3E 00"}, AllSoundOffAt("0", "d1 "), {"d0 500 80 3C 00"},
                                      AllSoundOffAt("500", "d0 ")}));
}

TEST_F(MidisTest, SeekPastOnePortsEndLeavesItFinishedAndSilent)
{
    OpenAll();
    AddShort(Port(0), 0, 0xB0, 7, 90);
    AddNote(Port(0), 0, 480, 60);
    AddNote(Port(1), 0, 1920, 62);
    midis.Seek(960);
    EXPECT_TRUE(midis.Items(0).Finished);
    EXPECT_FALSE(midis.Items(0).Timer.Enabled());
    clock.AdvanceMs(2000);
    EXPECT_TRUE(midis.AllFinished());
    for (const auto& line : Log(out, true)) EXPECT_TRUE(line.rfind("d0 0 9", 0) != 0) << line;  // no note of port 1
    EXPECT_EQ(Log(out, true).at(4 * 16), "d0 0 B0 07 5A");
}

TEST_F(MidisTest, SeekBeforeEveryEventRestartsOneUnitBeforeTheStart)
{
    OpenAll();
    AddNote(Port(0), 480, 480, 60);
    midis.Seek(0);
    EXPECT_EQ(midis.Items(0).Position, -1.0);
    EXPECT_EQ(midis.Items(0).Index, 0);
}

TEST_F(MidisTest, SeekAfterTheSongEndedPlaysAgain)
{
    OpenAll();
    AddNote(Port(0), 0, 480, 60);
    AddNote(Port(0), 960, 480, 62);
    midis.StartAll();
    clock.AdvanceMs(2000);
    ASSERT_TRUE(midis.AllFinished());
    midis.Seek(480);
    EXPECT_FALSE(midis.AllFinished());
    clock.AdvanceMs(2000);
    EXPECT_TRUE(midis.AllFinished());
}

// ---- Opening the assigned devices and loading a song, as a compile does ----

struct ReopenTest : testing::Test {
    TRecordingMidiOut out;
    TMidis midis{&out};
};

TEST_F(ReopenTest, EachCompilationReopensTheAssignedDevices)
{
    TMML compiler;
    const TSong song = compiler.Compile({"c"});
    midis.Reopen({2, -1, 0, -1});
    midis.Load(song);
    EXPECT_TRUE(midis.Items(0).IsOpen());
    EXPECT_FALSE(midis.Items(1).IsOpen());
    EXPECT_TRUE(midis.Items(2).IsOpen());
    EXPECT_EQ(out.OpenDevices(), 2);
    midis.Items(0).SendShortMessage(0x90, 1, 1);
    EXPECT_EQ(out.Messages().back().Device, 2);

    midis.Reopen({-1, 1, -1, -1});
    midis.Load(compiler.Compile({"t90 c"}));
    EXPECT_FALSE(midis.Items(0).IsOpen());
    EXPECT_TRUE(midis.Items(1).IsOpen());
    EXPECT_EQ(out.OpenDevices(), 1);
    EXPECT_EQ(midis.Items(0).Elements.Count(), 3);  // a port without a device still gets its events
    EXPECT_EQ(midis.Items(0).Tempo.load(), 90);
    EXPECT_EQ(midis.Tempos(), (std::array<int, 4>{90, 120, 120, 120}));
}

TEST_F(ReopenTest, DeviceThatCannotOpenRaisesAndLoadsNothing)
{
    out.FailOpen(1, "デバイスを開けません");
    try {
        midis.Reopen({0, 1, -1, -1});
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "デバイスを開けません");
    }
    EXPECT_TRUE(midis.Items(0).IsOpen());  // the ports before it are open again
    EXPECT_FALSE(midis.Items(1).IsOpen());
    EXPECT_EQ(midis.Items(0).Elements.Count(), 0);
}

}  // namespace
