// TMMTimer on a driven clock: when its runs come.
#include <gtest/gtest.h>

#include <vector>

#include "playback/Timer.h"

namespace {

struct DrivenTimer : testing::Test {
    TDrivenClock clock;
    TMMTimer timer{clock};
    std::vector<std::uint64_t> runs;  // clock time of every run, in ms

    void Record() { timer.SetOnTimer([this](TMMTimer&) { runs.push_back(clock.Now() / 1000); }); }
};

TEST_F(DrivenTimer, RunsEveryIntervalFromTheEnable)
{
    Record();
    timer.SetInterval(10);
    clock.AdvanceMs(3);
    timer.SetEnabled(true);
    timer.SetEnabled(true);  // already enabled: one periodic event, not two
    EXPECT_EQ(timer.TimerID(), 1u);
    clock.AdvanceMs(40);
    EXPECT_EQ(runs, (std::vector<std::uint64_t>{13, 23, 33, 43}));
}

TEST_F(DrivenTimer, IntervalIsClampedAndRestartsAnEnabledTimer)
{
    timer.SetInterval(0);
    EXPECT_EQ(timer.Interval(), TMMTimer::PeriodMin);
    timer.SetInterval(4'000'000'000u);
    EXPECT_EQ(timer.Interval(), TMMTimer::PeriodMax);
    EXPECT_EQ(TMMTimer().Interval(), 50u);  // the initial period is not clamped away

    Record();
    timer.SetInterval(10);
    EXPECT_EQ(timer.TimerID(), 0u);  // disabled: the value is only stored
    timer.SetEnabled(true);
    clock.AdvanceMs(15);
    timer.SetInterval(20);
    EXPECT_EQ(timer.TimerID(), 2u);
    clock.AdvanceMs(40);
    EXPECT_EQ(runs, (std::vector<std::uint64_t>{10, 35, 55}));
}

TEST_F(DrivenTimer, EnablingWithoutAHandlerRunsNothing)
{
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.TimerID(), 0u);
    clock.AdvanceMs(100);
}

TEST_F(DrivenTimer, HandlerThatDisablesItselfStopsFurtherRuns)
{
    timer.SetInterval(10);
    timer.SetOnTimer([this](TMMTimer& sender) {
        runs.push_back(clock.Now() / 1000);
        sender.SetEnabled(false);
    });
    timer.SetEnabled(true);
    clock.AdvanceMs(100);
    EXPECT_EQ(runs, (std::vector<std::uint64_t>{10}));
    EXPECT_FALSE(timer.Enabled());
}

TEST_F(DrivenTimer, HandlerThatReenablesGetsAFreshPeriodicEvent)
{
    timer.SetInterval(10);
    timer.SetOnTimer([this](TMMTimer& sender) {
        runs.push_back(clock.Now() / 1000);
        sender.SetEnabled(false);
        clock.Sleep(4);  // the handler takes 4 ms: the next run counts from its re-enable
        sender.SetEnabled(true);
    });
    timer.SetEnabled(true);
    clock.AdvanceMs(40);
    EXPECT_EQ(runs, (std::vector<std::uint64_t>{10, 24, 38}));
    EXPECT_EQ(timer.TimerID(), 4u);
}

TEST_F(DrivenTimer, EnableAtBringsOnlyTheFirstRunForward)
{
    Record();
    timer.SetInterval(10);
    timer.EnableAt(clock.Now() + 3000);
    clock.AdvanceMs(25);
    timer.SetEnabled(false);
    timer.EnableAt(clock.Now() + 50'000);  // later than one period: the period wins
    clock.AdvanceMs(10);
    EXPECT_EQ(runs, (std::vector<std::uint64_t>{3, 13, 23, 35}));
}

TEST_F(DrivenTimer, RunByBringsTheNextRunForwardEvenFromWithinARun)
{
    Record();
    timer.SetInterval(10);
    timer.RunBy(2000);  // disabled: stays disabled
    EXPECT_FALSE(timer.Enabled());
    timer.SetEnabled(true);
    timer.RunBy(4000);
    timer.RunBy(6000);  // later than the next run: nothing
    clock.AdvanceMs(15);
    EXPECT_EQ(runs, (std::vector<std::uint64_t>{4, 14}));

    // A handler that re-enables itself after a RunBy that came while it ran gets the earlier run.
    runs.clear();
    timer.SetOnTimer([this](TMMTimer& sender) {
        runs.push_back(clock.Now() / 1000);
        sender.SetEnabled(false);
        if (runs.size() == 1) sender.RunBy(clock.Now() + 2000);
        sender.SetEnabled(true);
    });
    clock.AdvanceMs(25);
    EXPECT_EQ(runs, (std::vector<std::uint64_t>{24, 26, 36}));
}

}  // namespace
