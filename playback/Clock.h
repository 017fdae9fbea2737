// The time the players run on: a monotonic clock, and the one place where the timers on it are run.
//
// Playback derives song time from this clock, never from counting timer runs, so a late timer run
// makes events coarser but never makes the song drift. The clock is passed in rather than read
// from a global so that tests drive time by hand (TDrivenClock) and never sleep to check timing.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

class TMMTimer;

class TClock {
public:
    virtual ~TClock() = default;

    // Monotonic microseconds. Differences are taken as unsigned, so they stay right if the counter
    // ever wraps.
    virtual std::uint64_t Now() = 0;
    // Blocks the calling thread for ms milliseconds (the waits of a seek).
    virtual void Sleep(std::uint32_t ms) = 0;

    // The clock runs the handlers of every timer on it, earliest run first. A timer registers for
    // its whole life; detaching waits until a run of its handler that the clock began has returned.
    virtual void AttachTimer(TMMTimer& timer) = 0;
    virtual void DetachTimer(TMMTimer& timer) = 0;
    // A timer's next run has come earlier (it was enabled or brought forward): the clock looks
    // again. Called without the timer's lock held.
    virtual void TimerChanged() {}
};

// The machine's steady clock. Every timer on it is run by one thread, which sleeps until the
// earliest run that any of them has due and wakes early when a run comes earlier; it starts with
// the first timer enabled and ends with the program.
TClock& SystemClock();

// A clock that stands still until it is told to move. Advance runs every timer run that falls due
// on the way, each at exactly its own moment and on the calling thread, so a test sees the
// sequencer as an ideal timer would drive it. Sleep moves time on without running timers: the one
// caller that sleeps (a seek) does so with every player's timer off.
class TDrivenClock : public TClock {
public:
    explicit TDrivenClock(std::uint64_t start = 0) : now_(start) {}

    std::uint64_t Now() override { return now_.load(); }
    void Sleep(std::uint32_t ms) override { now_ += std::uint64_t{ms} * 1000; }
    void AttachTimer(TMMTimer& timer) override;
    void DetachTimer(TMMTimer& timer) override;

    void Advance(std::uint64_t microseconds);
    void AdvanceMs(std::uint64_t ms) { Advance(ms * 1000); }

private:
    std::atomic<std::uint64_t> now_;
    std::vector<TMMTimer*> timers_;
};
