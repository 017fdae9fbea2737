#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

#include "playback/Clock.h"
#include "playback/Timer.h"

namespace {
class TSystemClock : public TClock {
public:
    std::uint64_t Now() override
    {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
    }
    void Sleep(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
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
        TMMTimer* due = nullptr;
        std::uint64_t when = std::numeric_limits<std::uint64_t>::max();
        for (TMMTimer* timer : timers_) {
            std::uint64_t next = 0;
            if (timer->NextRun(next) && next <= target && next < when) {
                when = next;
                due = timer;
            }
        }
        if (due == nullptr) break;
        if (when > now_.load()) now_ = when;
        due->Fire(now_.load());
    }
    now_ = target;
}
