// TMidi, the sequencer: playing the port's sorted event list in real time, and the port's part of
// a seek.
#include <algorithm>
#include <cmath>
#include <limits>

#include "playback/Player.h"

namespace {
// Events sent between two looks at Stopped within one run: few enough that a Stop waits at most
// for one batch of a burst, many enough that the look costs nothing.
constexpr int StopCheckEvents = 256;

bool IsNoteMessage(std::uint8_t status)
{
    const int type = status & 0xF0;
    return type == 0x80 || type == 0x90;
}
}  // namespace

void TMidi::Start(std::uint64_t now)
{
    if (!IsOpen() || Elements.Count() == 0) return;
    std::lock_guard run(runMutex_);
    Stopped = false;
    Finished = false;
    Index = 0;
    Position = 0.0;
    LastTickCount = now;
    appliedSpeed_ = SpeedFactor;
    speedPending_ = false;
    playing_ = true;
    ArmTimer();
}

void TMidi::Resume(std::uint64_t now)
{
    if (!IsOpen() || Elements.Count() == 0) return;
    std::lock_guard run(runMutex_);
    // A Resume while playing starts counting afresh from now, as a Stop and Resume at one
    // instant would.
    if (playing_) KeepPosition(now);
    Stopped = false;
    Finished = false;
    LastTickCount = now;
    appliedSpeed_ = SpeedFactor;
    speedPending_ = false;
    playing_ = true;
    ArmTimer();
}

void TMidi::Stop()
{
    // Set before any lock as well: a tick sending a long burst of events due at one instant holds
    // the run lock all the while, and takes the device lock for every send; it looks at the flag
    // between batches, so the stop cuts the burst short instead of waiting for all of it. (A
    // closed port has no tick running, and Start and Resume clear the flag under the run lock.)
    Stopped = true;
    if (!IsOpen()) return;
    {
        // Under the run lock: a tick that is running re-arms only while Stopped is clear, and it
        // decides that under this lock, so either it sees the flag or its re-arm comes before the
        // timer is turned off below.
        std::lock_guard run(runMutex_);
        Stopped = true;
        if (playing_) KeepPosition(clock_.Now());
        playing_ = false;
    }
    Timer.SetEnabled(false);  // waits for a running tick to return
    AllSoundOff();
}

void TMidi::StopLocked()
{
    Stopped = true;
    playing_ = false;
    Timer.SetEnabled(false);
    AllSoundOff();
}

void TMidi::SetTempo(int value) { Tempo = value; }

TMidi::TSpeedFactor& TMidi::TSpeedFactor::operator=(double value)
{
    // A playing port runs at once to see the change (a stopped one takes the speed when it
    // resumes); the run lock is not taken here, so a tick sending a burst does not hold the caller.
    if (value_.exchange(value) != value) owner_.Timer.RunBy(owner_.clock_.Now());
    return *this;
}

std::uint64_t TMidi::DueAt(std::uint64_t now) const
{
    constexpr std::uint64_t never = std::numeric_limits<std::uint64_t>::max();
    const int index = Index;
    if (index >= Elements.Count()) return never;
    const double remaining = Elements.Items(index).Time - Position;
    if (remaining <= 0.0) return now;
    // Time units per millisecond are Tempo x speed / 60.
    const long double rate = static_cast<long double>(Tempo) * appliedSpeed_;
    if (!(rate > 0.0L)) return never;
    const long double wait = std::ceil(static_cast<long double>(remaining) * 60000.0L / rate);
    if (wait >= 1e15L) return never;
    return now + static_cast<std::uint64_t>(wait);
}

std::uint64_t TMidi::StepStart(std::uint64_t now, bool inclusive) const
{
    if (now <= LastTickCount) return LastTickCount;
    const std::uint64_t elapsed = now - LastTickCount - (inclusive ? 0 : 1);
    return LastTickCount + elapsed / StepUs * StepUs;
}

void TMidi::AdvanceTo(std::uint64_t now, double speed)
{
    // The whole interval counts at the tempo in force now, after any tempo event sent at the
    // previous run. Song time comes from the clock, never from counting runs, so late runs cannot
    // make the song drift.
    long double units = 0.0L;
    if (speedPending_) {
        units = static_cast<long double>(speedFrom_ - LastTickCount) * Tempo * appliedSpeed_ +
                static_cast<long double>(now - speedFrom_) * Tempo * speed;
    } else {
        units = static_cast<long double>(now - LastTickCount) * Tempo * speed;
    }
    Position = static_cast<double>(Position + units / 60000.0L);
    LastTickCount = now;
    appliedSpeed_ = speed;
    speedPending_ = false;
}

void TMidi::KeepPosition(std::uint64_t now)
{
    const std::uint64_t step = speedPending_ ? speedFrom_ : StepStart(now, true);
    Position = static_cast<double>(
        Position + static_cast<long double>(step - LastTickCount) * Tempo * appliedSpeed_ / 60000.0L);
    LastTickCount = step;
    speedPending_ = false;
}

void TMidi::ArmTimer()
{
    // The next event's moment, or sooner the end of the step in which a speed change came, or the
    // next look at the device. Every one of them is a step boundary or an event's moment, so the
    // position kept at each run is the one a player woken every step would have.
    const std::uint64_t due = DueAt(LastTickCount);
    const std::uint64_t next = speedPending_ ? speedFrom_ + StepUs : LastTickCount + std::uint64_t{WatchMs} * 1000;
    wakeAt_ = std::min(due, next);
    Timer.EnableAt(wakeAt_);
    // Already enabled (a Resume while playing): the earlier of the two runs comes, and a run
    // before wakeAt_ only arms again.
    Timer.RunBy(wakeAt_);
}

void TMidi::Play(const TMidiElement& e)
{
    switch (e.Kind) {
    case ekShortMessage: SendShortMessage(e.Status, e.Data1, e.Data2); break;
    case ekSysEx: SendLongMessage(e.SysExData.data(), e.SysExLength()); break;
    case ekTempo: SetTempo(e.Tempo); break;
    default: break;  // a wait only matters to a seek
    }
}

void TMidi::Replay(const TMidiElement& e)
{
    switch (e.Kind) {
    case ekShortMessage:
        // Notes are not replayed: a note that began before the target stays silent.
        if (!IsNoteMessage(e.Status)) SendShortMessage(e.Status, e.Data1, e.Data2);
        break;
    case ekSysEx: SendLongMessage(e.SysExData.data(), e.SysExLength()); break;
    case ekTempo: SetTempo(e.Tempo); break;
    case ekWait:
        // Gives a sound module the time it needs after a reset before the next message.
        if (e.WaitMs > 0) clock_.Sleep(static_cast<std::uint32_t>(e.WaitMs));
        break;
    default: break;
    }
}

void TMidi::TimerTick(TMMTimer&) noexcept
{
    std::lock_guard run(runMutex_);
    try {
        Timer.SetEnabled(false);
        // A Stop that came in while this run waited for the lock: nothing more is to sound.
        if (Stopped) return;
        if (DeviceLost()) {
            // The device went away: the port ends as if its song were over, so the whole song
            // still ends and the others play on.
            StopLocked();
            Finished = true;
            return;
        }
        const std::uint64_t now = clock_.Now();
        const double speed = SpeedFactor;
        // Woken before the run it was armed for: only a speed change brings the timer forward.
        const bool early = now < wakeAt_;
        if (speed != appliedSpeed_ && !speedPending_) {
            // The new speed counts from the start of the step it came in. A run that was due
            // anyway ends a step, and the change came before it, in the step it ends.
            speedPending_ = true;
            speedFrom_ = StepStart(now, early);
        }
        if (early) {
            ArmTimer();
            return;
        }
        AdvanceTo(now, speed);
        const int count = Elements.Count();
        int index = Index;
        int batch = 0;
        while (index < count) {
            const TMidiElement& e = Elements.Items(index);
            if (e.Time > Position) break;
            if (++batch == StopCheckEvents) {
                batch = 0;
                // A Stop is waiting for this run: the rest of the burst stays for a Resume, and
                // the timer, turned off above, stays off.
                if (Stopped) return;
            }
            Play(e);
            if (index >= count - 1) {
                // The last event: the port ends here, cutting whatever still sounds.
                StopLocked();
                Finished = true;
                return;
            }
            Index = ++index;
        }
        if (!Stopped) ArmTimer();
    } catch (...) {
        // Nothing may leave the timer thread. A port that cannot go on ends as if its song were
        // over, so that the whole song still ends.
        Stopped = true;
        playing_ = false;
        Timer.SetEnabled(false);
        Finished = true;
        try {
            AllSoundOff();
        } catch (...) {
        }
    }
}

double TMidi::SeekTo(std::int32_t target)
{
    Timer.SetEnabled(false);
    std::lock_guard run(runMutex_);
    playing_ = false;
    Position = 0.0;
    Index = 0;
    const int count = Elements.Count();
    if (count == 0) {
        Finished = true;
        return -1.0;
    }
    if (target > Elements.Last().Tick) {
        // Nothing of this port is left to play: its controllers, programs and tempo are brought
        // to their state at the end, and it counts as finished. Resuming it from the start
        // instead would send its whole list, notes and all, at the first tick.
        for (int i = 0; i < count; ++i) Replay(Elements.Items(i));
        Index = count - 1;
        Finished = true;
        return -1.0;
    }
    int index = 0;
    while (index < count) {
        const TMidiElement& e = Elements.Items(index);
        if (target <= e.Tick) break;
        Replay(e);
        Index = ++index;
    }
    Finished = false;
    return index == 0 ? -1.0 : Elements.Items(index).Time;
}

std::int32_t TMidi::NextTick() const
{
    const int count = Elements.Count();
    if (count == 0) return 0;
    return Elements.Items(std::min<int>(Index, count - 1)).Tick;
}
