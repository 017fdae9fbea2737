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

// What a seek replays: everything but notes and the pauses after a reset.
bool IsReplayed(const TMidiElement& e)
{
    if (e.Kind == ekShortMessage) return !IsNoteMessage(e);
    return e.Kind == ekSysEx || e.Kind == ekTempo;
}
}  // namespace

void TMidi::StartCounting(std::uint64_t now)
{
    Stopped = false;
    LastTickCount = now;
    appliedSpeed_ = SpeedFactor;
    speedPending_ = false;
    playing_ = true;
}

void TMidi::Start(std::uint64_t now)
{
    if (!IsOpen() || Elements.Count() == 0) return;
    ForgetNotes();
    std::lock_guard run(runMutex_);
    Finished = false;
    Index = 0;
    Position = 0.0;
    StartCounting(now);
    startTempo_ = Tempo;
    restarts_ = 0;
    passesDone_ = 0;
    BeginPass(false);
    ArmTimer();
}

void TMidi::Resume(std::uint64_t now)
{
    if (!IsOpen() || Elements.Count() == 0) return;
    std::lock_guard run(runMutex_);
    // A Resume while playing starts counting afresh from now, as a Stop and Resume at one
    // instant would.
    if (playing_) KeepPosition(now);
    Finished = false;
    StartCounting(now);
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
    ForgetSounding();
}

void TMidi::StopLocked()
{
    Stopped = true;
    playing_ = false;
    Timer.SetEnabled(false);
    AllSoundOff();
    ForgetSounding();
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
    // The next event, unless it lies at or beyond the loop's jump, which comes first.
    double due = std::numeric_limits<double>::infinity();
    if (index < Elements.Count()) {
        const TMidiElement& e = Elements.Items(index);
        if (!jumpActive_ || e.Tick < jumpTick_) due = e.Time;
    } else if (!jumpActive_) {
        // Every event is sent and the loop it waited for is gone: the port ends now.
        return now;
    }
    if (jumpActive_) due = std::min(due, jumpTime_);
    if (!std::isfinite(due)) return never;
    const double remaining = due - Position;
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

double TMidi::PositionAt(std::uint64_t now) const
{
    std::lock_guard run(runMutex_);
    if (!playing_ || now <= LastTickCount) return Position;
    // As AdvanceTo would count it, without moving anything: the position a run now would reach.
    long double units = 0.0L;
    if (speedPending_ && now > speedFrom_) {
        units = static_cast<long double>(speedFrom_ - LastTickCount) * Tempo * appliedSpeed_ +
                static_cast<long double>(now - speedFrom_) * Tempo * SpeedFactor.load();
    } else {
        units = static_cast<long double>(now - LastTickCount) * Tempo * appliedSpeed_;
    }
    return static_cast<double>(Position + units / 60000.0L);
}

bool TMidi::IsPlaying() const
{
    std::lock_guard run(runMutex_);
    return playing_;
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
    case ekShortMessage:
        if (IsNoteMessage(e))
            SendNote(e);
        else
            SendShortMessage(e.Status, e.Data1, e.Data2);
        break;
    case ekSysEx: SendLongMessage(e.SysExData.data(), e.SysExLength()); break;
    case ekTempo: SetTempo(e.Tempo); break;
    default: break;  // a wait only matters to a seek
    }
}

void TMidi::Replay(const TMidiElement& e, bool send)
{
    if (!send) {
        if (e.Kind == ekTempo) SetTempo(e.Tempo);
        return;
    }
    switch (e.Kind) {
    case ekShortMessage:
        // Notes are not replayed: a note that began before the target stays silent.
        if (!IsNoteMessage(e)) SendShortMessage(e.Status, e.Data1, e.Data2);
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
        for (;;) {
            while (index < count) {
                const TMidiElement& e = Elements.Items(index);
                if (e.Time > Position) break;
                // What lies at or beyond a loop's jump is the jump's to send.
                if (jumpActive_ && e.Tick >= jumpTick_) break;
                if (++batch == StopCheckEvents) {
                    batch = 0;
                    // A Stop is waiting for this run: the rest of the burst stays for a Resume,
                    // and the timer, turned off above, stays off.
                    if (Stopped) return;
                }
                Play(e);
                if (index >= count - 1 && !jumpActive_) {
                    // The last event: the port ends here, cutting whatever still sounds.
                    StopLocked();
                    Finished = true;
                    return;
                }
                // With a jump to come, a port whose list ends before it waits for it.
                Index = ++index;
            }
            if (!jumpActive_ || Position < jumpTime_) break;
            index = Jump(index);
        }
        if (index >= count && !jumpActive_) {
            // It waited for a jump that no longer comes (the loop was turned off or has played
            // its passes): the port's song is over.
            StopLocked();
            Finished = true;
            return;
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
            ForgetSounding();
        } catch (...) {
        }
    }
}

double TMidi::SeekTo(std::int32_t target, bool send)
{
    Timer.SetEnabled(false);
    ForgetNotes();
    std::lock_guard run(runMutex_);
    playing_ = false;
    Position = 0.0;
    Index = 0;
    // A loop's jump restores the tempo the song had here before replaying its tempo events.
    startTempo_ = Tempo;
    const int count = Elements.Count();
    if (count == 0) {
        Finished = true;
        return -1.0;
    }
    if (target > Elements.Last().Tick) {
        // Nothing of this port is left to play: its controllers, programs and tempo are brought
        // to their state at the end, and it counts as finished. Resuming it from the start
        // instead would send its whole list, notes and all, at the first tick.
        for (int i = 0; i < count; ++i) Replay(Elements.Items(i), send);
        Index = count - 1;
        Finished = true;
        return -1.0;
    }
    int index = 0;
    while (index < count) {
        const TMidiElement& e = Elements.Items(index);
        if (target <= e.Tick) break;
        Replay(e, send);
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

int TMidi::IndexAtTick(const TMidiElements& list, std::int32_t tick)
{
    // The list is sorted by Tick.
    int low = 0;
    int high = list.Count();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (list.Items(middle).Tick < tick)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// ---- The loop ----

void TMidi::SetLoop(const TLoopPoints& loop, bool pastTo)
{
    // The list does not change while the port plays, so what a jump replays is found outside the
    // run lock, and a jump only walks the few events it needs.
    int restart = 0;
    std::vector<int> replay;
    if (loop.On) {
        restart = IndexAtTick(Elements, loop.FromTick);
        for (int i = 0; i < restart; ++i)
            if (IsReplayed(Elements.Items(i))) replay.push_back(i);
    }
    std::lock_guard run(runMutex_);
    loop_ = loop;
    restartIndex_ = restart;
    replay_.swap(replay);
    passesDone_ = 0;
    BeginPass(pastTo);
    // The jump may come before the run the timer is armed for, or a port that waited for a jump
    // that no longer comes ends.
    if (playing_) ArmTimer();
}

void TMidi::RestartLoop()
{
    std::lock_guard run(runMutex_);
    restarts_ = 0;
    passesDone_ = 0;
    BeginPass(loop_.On && Position > loop_.ToTime);
    if (jumpActive_ && Finished && Elements.Count() != 0) {
        // Nothing of its own is left after the target, but the song comes back to it.
        Finished = false;
        Index = Elements.Count();
    }
}

bool TMidi::RejoinLoop(double position, std::uint64_t now, bool play)
{
    if (!IsOpen() || DeviceLost()) return false;
    std::lock_guard run(runMutex_);
    if (!jumpActive_ || !Finished || playing_ || Elements.Count() == 0) return false;
    Finished = false;
    Index = Elements.Count();
    Position = position;
    if (play) {
        StartCounting(now);
        ArmTimer();
    }
    return true;
}

void TMidi::BeginPass(bool pastTo)
{
    jumpAtEnd_ = pastTo;
    if (!loop_.On) {
        jumpActive_ = false;
        return;
    }
    if (pastTo) {
        // The range has not been played yet: the song plays to its end and starts it there.
        jumpActive_ = loop_.Passes == 0 || passesDone_ < loop_.Passes;
        jumpTick_ = loop_.EndTick;
        jumpTime_ = loop_.EndTime;
    } else {
        // This pass is one of the range's: after the last the song plays on.
        jumpActive_ = loop_.Passes == 0 || passesDone_ + 1 < loop_.Passes;
        jumpTick_ = loop_.ToTick;
        jumpTime_ = loop_.ToTime;
    }
}

int TMidi::Jump(int index)
{
    // What lies before the jump goes out, and at its very tick all but the notes that would begin
    // there: a note-off or controller at the end of the range belongs to the pass that ends.
    const int count = Elements.Count();
    while (index < count) {
        const TMidiElement& e = Elements.Items(index);
        if (e.Tick > jumpTick_) break;
        if (e.Tick < jumpTick_ || !IsNoteOn(e)) Play(e);
        ++index;
    }
    {
        std::lock_guard lock(notesMutex_);
        EndNotes(false);
        // The note-offs still to come after the jump point are left behind with it.
        for (auto& uses : notes_) uses.clear();
    }
    // The state at the range's start, as a seek to it brings it: its tempo, then every controller,
    // program and system-exclusive message before it. The pauses after a reset are left out: this
    // thread plays every port, and a pause here would hold them all.
    SetTempo(startTempo_);
    for (const int i : replay_) Replay(Elements.Items(i));
    // The time the run came after the jump's moment counts in the new pass, so the loop keeps the
    // song's pace; a run later than a whole pass (the machine slept) counts what is left of it.
    double overshoot = std::max(0.0, Position - jumpTime_);
    const double length = loop_.ToTime - loop_.RestartTime;
    if (overshoot >= length) overshoot = std::fmod(overshoot, length);
    if (!jumpAtEnd_) ++passesDone_;
    ++restarts_;
    Position = loop_.RestartTime + overshoot;
    Index = restartIndex_;
    BeginPass(false);
    return restartIndex_;
}

// ---- The notes ----

void TMidi::SetSilencedTracks(const TTrackSet& silenced)
{
    // Under the notes lock, not the run lock: a tick sending a long burst does not hold the
    // caller, and a note-on decided on before the change has been sent and noted, so it is ended.
    std::lock_guard lock(notesMutex_);
    silenced_ = silenced;
    EndNotes(true);
}

void TMidi::ForgetNotes()
{
    std::lock_guard lock(notesMutex_);
    for (auto& uses : notes_) uses.clear();
}

void TMidi::ForgetSounding()
{
    std::lock_guard lock(notesMutex_);
    for (auto& uses : notes_) {
        for (auto& use : uses) use.Sounding = 0;
        std::erase_if(uses, [](const TNoteUse& use) { return use.HeldBack == 0; });
    }
}

void TMidi::SendNoteOff(int slot, int times)
{
    const auto channel = static_cast<std::uint8_t>(slot / 128);
    const auto key = static_cast<std::uint8_t>(slot % 128);
    for (int i = 0; i < times; ++i) SendShortMessage(static_cast<std::uint8_t>(0x80 | channel), key, 0);
}

void TMidi::EndNotes(bool onlySilenced)
{
    for (std::size_t slot = 0; slot < notes_.size(); ++slot) {
        for (auto& use : notes_[slot]) {
            if (use.Sounding == 0 || (onlySilenced && !silenced_.Contains(use.Track))) continue;
            SendNoteOff(static_cast<int>(slot), use.Sounding);
            use.HeldBack += use.Sounding;
            use.Sounding = 0;
        }
    }
}

void TMidi::SendNote(const TMidiElement& e)
{
    const int slot = (e.Status & 0x0F) * 128 + (e.Data1 & 0x7F);
    const std::int32_t track = e.Track;
    std::lock_guard lock(notesMutex_);
    auto& uses = notes_[static_cast<std::size_t>(slot)];
    auto use = std::find_if(uses.begin(), uses.end(), [track](const TNoteUse& u) { return u.Track == track; });
    if (IsNoteOn(e)) {
        if (use == uses.end()) use = uses.insert(uses.end(), TNoteUse{track, 0, 0});
        if (silenced_.Contains(track)) {
            ++use->HeldBack;
            return;
        }
        SendShortMessage(e.Status, e.Data1, e.Data2);
        ++use->Sounding;
        return;
    }
    if (use == uses.end()) {
        // A note the player does not know (one begun before a seek target): its note-off goes
        // out as it always has.
        SendShortMessage(e.Status, e.Data1, e.Data2);
        return;
    }
    // A held-back note-off is used up first: in a track the earlier note ends first, and its
    // note-on is the one that was silenced or already ended.
    if (use->HeldBack > 0) {
        --use->HeldBack;
    } else {
        SendShortMessage(e.Status, e.Data1, e.Data2);
        --use->Sounding;
    }
    if (use->Sounding == 0 && use->HeldBack == 0) uses.erase(use);
}
