// The timer the port players run on.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

#include "playback/Clock.h"

// A periodic timer: calls OnTimer every Interval milliseconds. Its clock runs it: on the system
// clock one thread runs every timer, on a driven clock the test does whenever it moves the clock
// past a run.
//
// Every enable makes a fresh periodic event whose first run comes one Interval later. Two runs of
// one timer never overlap. A handler may disable and re-enable its own timer; disabling from the
// handler's own thread returns at once, disabling from any other thread waits until a running
// handler has returned, so after SetEnabled(false) the handler is not running and will not run.
class TMMTimer {
public:
    using TNotifyEvent = std::function<void(TMMTimer& sender)>;

    // The period range the timer supports; Interval is clamped into it.
    static constexpr std::uint32_t PeriodMin = 1;
    static constexpr std::uint32_t PeriodMax = 1000000;

    explicit TMMTimer(TClock& clock = SystemClock());
    ~TMMTimer();
    TMMTimer(const TMMTimer&) = delete;
    TMMTimer& operator=(const TMMTimer&) = delete;

    bool Enabled() const;
    // Setting the value it already has does nothing: an enabled timer is not restarted.
    void SetEnabled(bool value);
    // Enables the timer with its first run at the clock time when (microseconds) if that comes
    // before one Interval from now; later runs follow every Interval. Does nothing when enabled.
    void EnableAt(std::uint64_t when);
    // Makes the next run come no later than the clock time when. While the handler runs, the
    // enable it makes before it returns counts as the next run; a disabled timer stays disabled.
    void RunBy(std::uint64_t when);
    std::uint32_t Interval() const;
    // Clamped to [PeriodMin, PeriodMax]; while enabled the periodic event restarts with it.
    void SetInterval(std::uint32_t ms);
    // Set once, before the timer is first enabled. Enabling without a handler runs nothing.
    void SetOnTimer(TNotifyEvent handler);
    // The number of the periodic event that the latest enable made; 0 before any. Each enable
    // with a handler makes a new one.
    std::uint32_t TimerID() const;
    TClock& Clock() const { return clock_; }

    // For the clock: the time of the next run, or false when none is due at all.
    bool NextRun(std::uint64_t& when) const;
    // For the clock: performs the run due at now, if one still is.
    void Fire(std::uint64_t now);

private:
    static constexpr std::uint64_t None = std::numeric_limits<std::uint64_t>::max();

    bool Arm(std::uint64_t first);  // with mutex_ held; true when the clock must look again
    void Disarm(std::unique_lock<std::mutex>& lock);
    void Run(std::unique_lock<std::mutex>& lock, std::uint64_t now);

    TClock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable idle_;  // signalled when a handler run ends
    bool enabled_ = false;
    bool armed_ = false;  // enabled with a handler: a periodic event exists
    std::uint32_t interval_ = 50;
    std::uint64_t next_ = 0;  // clock time of the next run while armed
    std::uint64_t runBy_ = None;  // a RunBy that came during the handler, for its re-enable
    std::uint32_t timerId_ = 0;
    TNotifyEvent onTimer_;
    bool running_ = false;  // a handler run is in progress
    std::thread::id runner_;  // the thread running it
};
