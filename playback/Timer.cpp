// TMMTimer: a periodic timer with deadlines on the clock it was given, run by that clock.
#include <algorithm>

#include "playback/Timer.h"

TMMTimer::TMMTimer(TClock& clock) : clock_(clock) { clock_.AttachTimer(*this); }

TMMTimer::~TMMTimer()
{
    SetEnabled(false);
    clock_.DetachTimer(*this);
}

bool TMMTimer::Enabled() const
{
    std::lock_guard lock(mutex_);
    return enabled_;
}

void TMMTimer::SetEnabled(bool value)
{
    bool changed = false;
    {
        std::unique_lock lock(mutex_);
        if (value == enabled_) return;
        enabled_ = value;
        if (value) {
            if (onTimer_) changed = Arm(clock_.Now() + std::uint64_t{interval_} * 1000);
        } else {
            Disarm(lock);
        }
    }
    if (changed) clock_.TimerChanged();
}

void TMMTimer::EnableAt(std::uint64_t when)
{
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        if (enabled_) return;
        enabled_ = true;
        if (onTimer_) changed = Arm(std::min(when, clock_.Now() + std::uint64_t{interval_} * 1000));
    }
    if (changed) clock_.TimerChanged();
}

void TMMTimer::RunBy(std::uint64_t when)
{
    {
        std::lock_guard lock(mutex_);
        if (!armed_) {
            // A handler that is running re-enables its timer, if at all, before it returns, and
            // may have decided when before this came.
            if (running_) runBy_ = std::min(runBy_, when);
            return;
        }
        if (when >= next_) return;
        next_ = when;
    }
    clock_.TimerChanged();
}

std::uint32_t TMMTimer::Interval() const
{
    std::lock_guard lock(mutex_);
    return interval_;
}

void TMMTimer::SetInterval(std::uint32_t ms)
{
    ms = std::clamp(ms, PeriodMin, PeriodMax);
    bool changed = false;
    {
        std::unique_lock lock(mutex_);
        if (!enabled_) {
            interval_ = ms;
            return;
        }
        Disarm(lock);
        interval_ = ms;
        if (onTimer_) changed = Arm(clock_.Now() + std::uint64_t{interval_} * 1000);
    }
    if (changed) clock_.TimerChanged();
}

void TMMTimer::SetOnTimer(TNotifyEvent handler)
{
    std::lock_guard lock(mutex_);
    onTimer_ = std::move(handler);
}

std::uint32_t TMMTimer::TimerID() const
{
    std::lock_guard lock(mutex_);
    return timerId_;
}

bool TMMTimer::NextRun(std::uint64_t& when) const
{
    std::lock_guard lock(mutex_);
    when = next_;
    return armed_;
}

void TMMTimer::Fire(std::uint64_t now)
{
    std::unique_lock lock(mutex_);
    if (armed_ && !running_ && next_ <= now) Run(lock, now);
}

bool TMMTimer::Arm(std::uint64_t first)
{
    armed_ = true;
    next_ = running_ ? std::min(first, runBy_) : first;
    if (++timerId_ == 0) timerId_ = 1;  // 0 means "none"
    // The clock's thread runs the handler that arms from within it, and looks again afterwards.
    return !running_ || runner_ != std::this_thread::get_id();
}

void TMMTimer::Disarm(std::unique_lock<std::mutex>& lock)
{
    armed_ = false;
    // A handler that turns its own timer off must not wait for itself.
    if (running_ && runner_ != std::this_thread::get_id()) idle_.wait(lock, [this] { return !running_; });
}

void TMMTimer::Run(std::unique_lock<std::mutex>& lock, std::uint64_t now)
{
    running_ = true;
    runner_ = std::this_thread::get_id();
    // The next run of this periodic event; a run that fell behind does not make the timer race to
    // catch up.
    const std::uint64_t period = std::uint64_t{interval_} * 1000;
    next_ += period;
    if (next_ <= now) next_ = now + period;
    lock.unlock();
    try {
        onTimer_(*this);
    } catch (...) {
        // A handler's error must not end the clock's thread (and with it the program); the
        // handlers of this program catch their own.
    }
    lock.lock();
    running_ = false;
    runner_ = {};
    runBy_ = None;
    idle_.notify_all();
}
