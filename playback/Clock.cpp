#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

#include "playback/Clock.h"
#include "playback/Timer.h"

namespace {
// The earliest run due among timers, the first of them on a tie; nullptr when none is armed.
TMMTimer* Earliest(const std::vector<TMMTimer*>& timers, std::uint64_t& when)
{
    TMMTimer* due = nullptr;
    when = std::numeric_limits<std::uint64_t>::max();
    for (TMMTimer* timer : timers) {
        std::uint64_t next = 0;
        if (timer->NextRun(next) && next < when) {
            when = next;
            due = timer;
        }
    }
    return due;
}

// The steady clock, with the one thread that runs every timer on it. The four port players each
// have a timer, and one thread that sleeps until the earliest of their runs wakes once for an
// instant at which several ports have something to send, where a thread per timer would wake once
// for each of them.
class TSystemClock : public TClock {
public:
    ~TSystemClock() override
    {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    std::uint64_t Now() override
    {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
    }
    void Sleep(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    void AttachTimer(TMMTimer& timer) override
    {
        std::lock_guard lock(mutex_);
        timers_.push_back(&timer);
    }

    void DetachTimer(TMMTimer& timer) override
    {
        std::unique_lock lock(mutex_);
        // The thread may have picked this timer just before it was turned off; its run then does
        // nothing, but the timer must outlive it.
        fired_.wait(lock, [&] { return firing_ != &timer; });
        timers_.erase(std::remove(timers_.begin(), timers_.end(), &timer), timers_.end());
    }

    void TimerChanged() override
    {
        {
            std::lock_guard lock(mutex_);
            changed_ = true;
            // No thread until something is to run: a program that never plays never has one.
            if (!thread_.joinable() && !quit_) thread_ = std::thread(&TSystemClock::ThreadMain, this);
        }
        wake_.notify_all();
    }

private:
    void ThreadMain()
    {
        // A thread that wakes on time matters more than anything else the program does: its
        // wake-ups go without the kernel's default slack of 50 microseconds.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        std::unique_lock lock(mutex_);
        while (!quit_) {
            // Cleared before looking, under the same lock as the look: a change that comes after
            // it wakes the wait below.
            changed_ = false;
            std::uint64_t when = 0;
            TMMTimer* due = Earliest(timers_, when);
            const auto woken = [this] { return quit_ || changed_; };
            if (due == nullptr) {
                wake_.wait(lock, woken);
                continue;
            }
            const std::uint64_t now = Now();
            if (now < when) {
                wake_.wait_for(lock, std::chrono::microseconds(when - now), woken);
                continue;
            }
            // Everything due at this instant runs before the thread sleeps again: the next look
            // finds the next timer due.
            firing_ = due;
            lock.unlock();
            due->Fire(now);
            lock.lock();
            firing_ = nullptr;
            fired_.notify_all();
        }
    }

    std::mutex mutex_;  // before any timer's lock
    std::condition_variable wake_;
    std::condition_variable fired_;
    std::vector<TMMTimer*> timers_;
    TMMTimer* firing_ = nullptr;  // the timer whose run the thread is performing
    bool changed_ = false;
    bool quit_ = false;
    std::thread thread_;
};
}  // namespace

TClock& SystemClock()
{
    static TSystemClock clock;
    return clock;
}

void TDrivenClock::AttachTimer(TMMTimer& timer) { timers_.push_back(&timer); }

void TDrivenClock::DetachTimer(TMMTimer& timer)
{
    timers_.erase(std::remove(timers_.begin(), timers_.end(), &timer), timers_.end());
}

void TDrivenClock::Advance(std::uint64_t microseconds)
{
    const std::uint64_t target = now_.load() + microseconds;
    // Always the earliest run first (the earliest attached timer on a tie), each at its own
    // moment: what the handlers see is what an ideal timer would give them.
    for (;;) {
        std::uint64_t when = 0;
        TMMTimer* due = Earliest(timers_, when);
        if (due == nullptr || when > target) break;
        if (when > now_.load()) now_ = when;
        due->Fire(now_.load());
    }
    now_ = target;
}
