// TMMTimer: a periodic timer on a thread of its own, with deadlines on the clock it was given.
#include <sys/prctl.h>

#include <algorithm>
#include <chrono>

#include "playback/Timer.h"

TMMTimer::TMMTimer(TClock& clock) : clock_(clock)
{
    if (clock_.FiresTimers()) clock_.AttachTimer(*this);
}

TMMTimer::~TMMTimer()
{
    SetEnabled(false);
    if (clock_.FiresTimers()) clock_.DetachTimer(*this);
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool TMMTimer::Enabled() const
{
    std::lock_guard lock(mutex_);
    return enabled_;
}

void TMMTimer::SetEnabled(bool value)
{
    std::unique_lock lock(mutex_);
    if (value == enabled_) return;
    enabled_ = value;
    if (value) {
        if (onTimer_) Arm(clock_.Now() + std::uint64_t{interval_} * 1000);
    } else {
        Disarm(lock);
    }
}

void TMMTimer::EnableAt(std::uint64_t when)
{
    std::lock_guard lock(mutex_);
    if (enabled_) return;
    enabled_ = true;
    if (onTimer_) Arm(std::min(when, clock_.Now() + std::uint64_t{interval_} * 1000));
}

std::uint32_t TMMTimer::Interval() const
{
    std::lock_guard lock(mutex_);
    return interval_;
}

void TMMTimer::SetInterval(std::uint32_t ms)
{
    ms = std::clamp(ms, PeriodMin, PeriodMax);
    std::unique_lock lock(mutex_);
    if (!enabled_) {
        interval_ = ms;
        return;
    }
    Disarm(lock);
    interval_ = ms;
    if (onTimer_) Arm(clock_.Now() + std::uint64_t{interval_} * 1000);
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

void TMMTimer::Arm(std::uint64_t first)
{
    armed_ = true;
    next_ = first;
    if (++timerId_ == 0) timerId_ = 1;  // 0 means "none"
    if (!clock_.FiresTimers() && !thread_.joinable()) thread_ = std::thread(&TMMTimer::ThreadMain, this);
    wake_.notify_all();
}

void TMMTimer::Disarm(std::unique_lock<std::mutex>& lock)
{
    armed_ = false;
    wake_.notify_all();
    // A handler that turns its own timer off must not wait for itself.
    if (running_ && runner_ != std::this_thread::get_id()) wake_.wait(lock, [this] { return !running_; });
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
        // A handler's error must not end the timer thread (and with it the program); the
        // handlers of this program catch their own.
    }
    lock.lock();
    running_ = false;
    runner_ = {};
    wake_.notify_all();
}

namespace {
// A timer thread that wakes on time matters more than anything else the program does: its
// wake-ups go without the kernel's default slack of 50 microseconds.
void MakeTimerThreadPunctual() { prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }
}  // namespace

void TMMTimer::ThreadMain()
{
    MakeTimerThreadPunctual();
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!armed_) {
            wake_.wait(lock);
            continue;
        }
        const std::uint64_t now = clock_.Now();
        if (now < next_) {
            wake_.wait_for(lock, std::chrono::microseconds(next_ - now));
            continue;
        }
        Run(lock, now);
    }
}
