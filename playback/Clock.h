// The time the players run on: a monotonic clock, and the way their timers wait for it.
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

    // Whether this clock runs its timers itself (a driven clock) instead of each timer waiting on
    // a thread of its own. A timer registers with such a clock for its whole life.
    virtual bool FiresTimers() const { return false; }
    virtual void AttachTimer(TMMTimer&) {}
    virtual void DetachTimer(TMMTimer&) {}
};

// The machine's steady clock; timers on it wait on threads of their own.
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
    bool FiresTimers() const override { return true; }
    void AttachTimer(TMMTimer& timer) override;
    void DetachTimer(TMMTimer& timer) override;

    void Advance(std::uint64_t microseconds);
    void AdvanceMs(std::uint64_t ms) { Advance(ms * 1000); }

private:
    std::atomic<std::uint64_t> now_;
    std::vector<TMMTimer*> timers_;
};
