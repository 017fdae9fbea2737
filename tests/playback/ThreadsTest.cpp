// Timers on their own threads against calls from the test's thread, which stands in for the GUI
// thread. What these tests check holds however the threads interleave; ThreadSanitizer checks the
// rest.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "MMLtoMID.h"
#include "PlaybackFixture.h"

namespace {
using namespace playback_test;

// ---- On the system clock: a thread per timer ----

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
    while (!ended) {
        ProcessNotices();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    refresh.join();
    ProcessNotices();

    for (int port = 0; port < TMidis::PortCount; ++port) {
        TMidi& player = midis.Items(port);
        EXPECT_TRUE(player.Finished);
        EXPECT_EQ(player.PendingHeaderCount(), 0);
        // Every event went out once, in list order, before the port silenced itself.
        std::vector<std::string> sent;
        for (const auto& m : out.Messages())
            if (m.Device == port && !(m.Bytes.size() == 3 && m.Bytes[1] == 120)) sent.push_back(HexBytes(m.Bytes));
        std::vector<std::string> expected;
        for (int i = 0; i < player.Elements.Count(); ++i) {
            const TMidiElement& e = player.Elements.Items(i);
            expected.push_back(e.Kind == ekSysEx ? HexBytes(e.SysExData) : HexBytes({e.Status, e.Data1, e.Data2}));
        }
        EXPECT_EQ(sent, expected) << "port " << port;
    }
}

}  // namespace
