// Timers on their own threads against calls from the test's thread, which stands in for the GUI
// thread. What these tests check holds however the threads interleave; ThreadSanitizer checks the
// rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "compiler/Compiler.h"
#include "playback/Players.h"
#include "tests/support/PlaybackFixture.h"

namespace {
using namespace playback_test;

// ---- On the system clock: one thread runs every timer ----

TEST(ThreadTimer, DisablingFromAnotherThreadWaitsForTheRunningHandler)
{
    TMMTimer timer;
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    std::atomic<bool> returned{false};
    timer.SetInterval(1);
    timer.SetOnTimer([&](TMMTimer&) {
        {
            std::lock_guard lock(mutex);
            entered = true;
        }
        changed.notify_all();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        returned = true;
    });
    timer.SetEnabled(true);
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return entered; });
    }
    timer.SetEnabled(false);
    EXPECT_TRUE(returned);
}

TEST(ThreadTimer, RunsRepeatedlyUntilDisabledAndNeverOverlaps)
{
    TMMTimer timer;
    std::atomic<int> inside{0}, overlaps{0}, count{0};
    std::mutex mutex;
    std::condition_variable changed;
    timer.SetInterval(1);
    timer.SetOnTimer([&](TMMTimer&) {
        if (inside.fetch_add(1) != 0) ++overlaps;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        inside.fetch_sub(1);
        ++count;
        changed.notify_all();
    });
    timer.SetEnabled(true);
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return count >= 5; });
    }
    timer.SetEnabled(false);
    const int after = count;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(count, after);
    EXPECT_EQ(overlaps, 0);
}

TEST(ThreadTimer, DestroyingAnEnabledTimerEndsItsRuns)
{
    std::atomic<int> count{0};
    {
        TMMTimer timer;
        timer.SetInterval(1);
        timer.SetOnTimer([&](TMMTimer&) { ++count; });
        timer.SetEnabled(true);
        while (count == 0) std::this_thread::yield();
    }
    const int after = count;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(count, after);
}

TEST(ThreadTimer, AHandlerErrorDoesNotEndTheTimer)
{
    TMMTimer timer;
    std::atomic<int> count{0};
    timer.SetInterval(1);
    timer.SetOnTimer([&](TMMTimer&) {
        ++count;
        throw Exception("故障");
    });
    timer.SetEnabled(true);
    while (count < 3) std::this_thread::yield();
    timer.SetEnabled(false);
}

// ---- Players ----

TEST(ThreadPlayer, StopLandingDuringATickLeavesTheTimerOff)
{
    TRecordingMidiOut out;
    TMidi player{&out};
    player.Open(0);
    // A dense list at a fast tempo: nearly every run sends something.
    for (int tick = 0; tick < 20000; tick += 2) AddShort(player.Elements, tick, 0xB0, 1, static_cast<std::uint8_t>(tick % 128));
    player.SetTempo(500);
    std::mt19937 random(5);
    for (int round = 0; round < 60; ++round) {
        player.Start();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        player.Stop();
        EXPECT_FALSE(player.Timer.Enabled());
        const std::size_t sent = out.Messages().size();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(out.Messages().size(), sent) << "a message after Stop returned, round " << round;
        // The last sixteen are the All Sound Off of the stop.
        const auto log = out.Messages();
        EXPECT_EQ(HexBytes(log.back().Bytes), "BF 78 00");
    }
}

// A burst of events due at one instant is sent by one run of the timer. A Stop from another
// thread must cut it short, not wait for all of it: the device holds the run at its thousandth
// message until the Stop has begun (or, should the stop never show, for ten seconds, after which
// the run sends the rest and the count below shows it).
TEST(ThreadPlayer, StopCutsABurstShortAndResumeSendsTheRest)
{
    constexpr int burst = 200'000;
    constexpr int held = 1000;
    struct Gate {
        std::atomic<int> sent{0};
        std::atomic<bool> reached{false};
        std::atomic<bool>* stopped = nullptr;
    } gate;
    struct Device : TMidiOutDevice {
        explicit Device(Gate& g) : gate(g) {}
        void ShortMessage(std::uint8_t status, std::uint8_t, std::uint8_t data2) override
        {
            if ((status & 0xF0) != 0xB0 || data2 != 1) return;  // the burst only, not All Sound Off
            if (++gate.sent != held) return;
            gate.reached = true;
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!*gate.stopped && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
        }
        void LongMessage(std::span<const std::uint8_t>) override {}
        void Reset() override {}
        Gate& gate;
    };
    struct Service : TMidiOutService {
        explicit Service(Gate& g) : gate(g) {}
        int DeviceCount() override { return 1; }
        std::string DeviceName(int) override { return "burst"; }
        std::unique_ptr<TMidiOutDevice> Open(int) override { return std::make_unique<Device>(gate); }
        Gate& gate;
    } service{gate};

    TMidi player{&service};
    player.Open(0);
    gate.stopped = &player.Stopped;
    for (int i = 0; i < burst; ++i) AddShort(player.Elements, 0, 0xB0, 7, 1);
    AddShort(player.Elements, 480, 0x90, 60, 100);
    player.Start();
    while (!gate.reached) std::this_thread::yield();
    player.Stop();
    const int sent = gate.sent;
    EXPECT_GE(sent, held);
    EXPECT_LT(sent, burst / 10) << "Stop waited for the whole burst";
    EXPECT_EQ(player.Index, sent);
    EXPECT_FALSE(player.Finished);
    EXPECT_FALSE(player.Timer.Enabled());

    // Nothing of the burst is lost or sent twice: Resume goes on with the next event.
    player.Resume();
    while (!player.Finished) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    player.Stop();
    EXPECT_EQ(gate.sent, burst);
}

TEST(ThreadPlayer, SongPlaysToItsEndWhileAnotherThreadWatchesAndStops)
{
    TRecordingMidiOut out;
    TMidis midis{&out};
    for (int port = 0; port < TMidis::PortCount; ++port) {
        TMidi& player = midis.Items(port);
        player.Open(port);
        AddSysEx(player.Elements, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
        for (int i = 0; i < 24; ++i) AddNote(player.Elements, 60 + i * 30, 30, static_cast<std::uint8_t>(60 + port));
        player.Elements.Sort();
        player.SetTempo(240);
    }
    midis.StartAll();

    // The display refresh: polls the collection and stops it at the end, as the window does.
    std::atomic<bool> ended{false};
    std::thread refresh([&] {
        while (!midis.AllFinished()) {
            const int longest = midis.LongestPort();
            (void)midis.Items(longest).NextTick();
            (void)midis.Items(longest).Position.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        midis.StopAll();
        ended = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int port = 0; port < TMidis::PortCount; ++port) midis.Items(port).SpeedFactor = 2.0;
    while (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::thread::id refreshThread = refresh.get_id();
    refresh.join();

    // One thread played all four ports: neither this one, which started them, nor the refresh,
    // which stopped them at the end.
    std::set<std::thread::id> players;
    for (const auto& m : out.Messages())
        if (m.Thread != refreshThread && m.Thread != std::this_thread::get_id()) players.insert(m.Thread);
    EXPECT_EQ(players.size(), 1u);

    for (int port = 0; port < TMidis::PortCount; ++port) {
        TMidi& player = midis.Items(port);
        EXPECT_TRUE(player.Finished);
        // Closing after the played system-exclusive message resets the device last; nothing of
        // the message is left to arrive after it.
        player.Close();
        // Every event went out once, in list order (the message whole), before the port silenced
        // itself.
        std::vector<std::string> sent;
        std::vector<TRecordingMidiOut::TMessage::TKind> kinds;
        for (const auto& m : out.Messages()) {
            if (m.Device != port) continue;
            kinds.push_back(m.Kind);
            if (m.Kind != TRecordingMidiOut::TMessage::Reset && !(m.Bytes.size() == 3 && m.Bytes[1] == 120))
                sent.push_back(HexBytes(m.Bytes));
        }
        ASSERT_FALSE(kinds.empty());
        EXPECT_EQ(kinds.back(), TRecordingMidiOut::TMessage::Reset) << "port " << port;
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), TRecordingMidiOut::TMessage::Reset), 1) << "port " << port;
        std::vector<std::string> expected;
        for (int i = 0; i < player.Elements.Count(); ++i) {
            const TMidiElement& e = player.Elements.Items(i);
            expected.push_back(e.Kind == ekSysEx ? HexBytes(e.SysExData) : HexBytes({e.Status, e.Data1, e.Data2}));
        }
        EXPECT_EQ(sent, expected) << "port " << port;
    }
}

// Tracks muted and unmuted at random from the test's thread while the timer thread plays a loop:
// tracks share keys of one channel, so a silenced track's note-off could cut another's note. Whatever the interleaving, a note-off goes only to a key a sent note-on holds, and every
// sent note-on gets its note-off before the song ends.
TEST(ThreadPlayer, MutesFromAnotherThreadDuringALoopLeaveNoKeyDown)
{
    TRecordingMidiOut out;
    TMidis midis{&out};
    for (int port = 0; port < 2; ++port) {
        TMidi& player = midis.Items(port);
        player.Open(port);
        for (int track = 1; track <= 4; ++track) {
            for (int i = 0; i < 24; ++i) {
                // Notes 20 ticks long every 30: none holds across the loop's start or end. Tracks 1
                // and 3 play the same keys at the same moments, so do 2 and 4.
                AddNote(player.Elements, i * 30, 20, static_cast<std::uint8_t>(60 + (i + track % 2) % 4));
                player.Elements.Items(player.Elements.Count() - 2).Track = track;
                player.Elements.Items(player.Elements.Count() - 1).Track = track;
            }
        }
        AddShort(player.Elements, 720, 0xB0, 7, 100);  // the end, after every note
        player.Elements.Sort();
        player.SetTempo(480);
    }
    midis.SetLoop(TTickRange{120, 600}, 3);
    midis.StartAll();
    std::mt19937 random(7);
    while (!midis.AllFinished()) {
        TTrackSet silenced;
        for (int track = 1; track <= 4; ++track)
            if (random() % 2 == 0) silenced.Add(track);
        midis.SetSilencedTracks(silenced);
        (void)midis.PositionTick();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
    }
    midis.StopAll();
    EXPECT_EQ(midis.LoopRestarts(), 2);

    std::map<std::pair<int, int>, int> down;  // (device, key): note-ons sent minus note-offs
    for (const auto& m : out.Messages()) {
        if (m.Bytes.size() != 3) continue;
        const int type = m.Bytes[0] & 0xF0;
        if (type == 0x90) ++down[{m.Device, m.Bytes[1]}];
        if (type == 0x80) {
            const int held = --down[{m.Device, m.Bytes[1]}];
            EXPECT_GE(held, 0) << "a note-off without a note-on";
        }
    }
    for (const auto& [key, count] : down) EXPECT_EQ(count, 0) << "device " << key.first << " key " << key.second;
}

}  // namespace
