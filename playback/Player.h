// The port player, which walks its event list from the front, sending each event when the song
// position reaches its Time. Its device side is in Player.cpp, its sequencer in Sequencer.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "playback/Clock.h"
#include "playback/MidiOut.h"
#include "playback/Timer.h"
#include "song/Event.h"

// The player of one MIDI output port: its device, its event list, and the sequencer that plays
// the list in real time.
//
// Timing. The timer wakes the player when its next event falls due, not on a fixed period. Song
// time is kept in steps of StepUs counted from the latest run, as a player woken every step would
// keep it: a speed change counts from the start of the step it comes in (the timer is brought
// forward to see it there), a Stop keeps the position at the start of its step. Between events
// the timer still runs every WatchMs, to notice a device that has gone away.
//
// Threads. The GUI thread opens, closes, starts, resumes, stops and seeks; TimerTick runs on the
// clock's timer thread, which serves every player; Stop also comes from a display refresh on
// another thread. The sequencer state that a tick changes (Index, Position, Tempo, Stopped,
// Finished) is readable from any thread without a lock. A tick runs under the player's run lock,
// and Stop sets Stopped under the same lock before it turns the timer off, so a Stop that lands
// while a tick runs always leaves the timer off. Stop also sets it at once, before waiting for the
// lock: a tick sending a burst looks at it between batches of events and lets the lock go. Sends
// go through the device lock.
class TMidi {
public:
    // Without a service or clock the player uses the process's MIDI service and the system clock.
    explicit TMidi(TMidiOutService* service = nullptr, TClock* clock = nullptr);
    ~TMidi();
    TMidi(const TMidi&) = delete;
    TMidi& operator=(const TMidi&) = delete;

    // ---- The device ----
    bool IsOpen() const;
    // Opens device id of the service; does nothing when a device is already open. A failure
    // raises the service's text and leaves the port closed.
    void Open(int deviceId);
    // Turns the timer off, rewinds Index, resets the device and closes it. Stopped, Finished,
    // Position and Elements stay.
    void Close();
    // Both are silent no-ops while the port is closed. A system-exclusive message is with the
    // device when SendLongMessage returns; the caller's bytes may go at once.
    void SendShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    void SendLongMessage(const std::uint8_t* bytes, int length);
    // Control change 120 (All Sound Off) on channels 0 to 15, in that order.
    void AllSoundOff();
    // The open device has gone away (its port was removed, its server ended); false when closed.
    bool DeviceLost() const;
    // What the user is told about a port (0..3) whose device went away while it played.
    static std::string LostDeviceMessage(int port);

    // ---- The sequencer ----
    // From the first event: only with an open device and a non-empty list, otherwise nothing.
    // With a clock time, the song counts from that moment: the collection starts all four ports
    // from one instant, so that they stay together however long the calls between them take.
    void Start() { Start(clock_.Now()); }
    void Start(std::uint64_t now);
    // From where Stop left it; the time spent stopped does not count.
    void Resume() { Resume(clock_.Now()); }
    void Resume(std::uint64_t now);
    // Stops the timer and silences the 16 channels; nothing happens on a closed port.
    void Stop();
    // The tempo in beats per minute. The compiler calls it for each tempo command while the
    // player is stopped; ticks and seeks call it for tempo events.
    void SetTempo(int value);
    // The timer's handler. Advances the position by the time elapsed since the previous run, then
    // sends every event whose time has come. Never throws.
    void TimerTick(TMMTimer& sender) noexcept;
    // Replays the port's non-note events before target (in ticks) and returns the Time at which
    // playback should continue, or -1.0 when the port has nothing to continue from. A port with
    // nothing at or after the target replays all its non-note events and counts as finished.
    double SeekTo(std::int32_t target);
    // The Tick of the next event to send (of the last one once finished); 0 for an empty list.
    std::int32_t NextTick() const;
    TClock& Clock() const { return clock_; }

    // The speed factor: an atomic double that also wakes a playing port, so that the new speed
    // counts from the step it was set in rather than from the port's next event.
    class TSpeedFactor {
    public:
        explicit TSpeedFactor(TMidi& owner) : owner_(owner) {}
        TSpeedFactor(const TSpeedFactor&) = delete;
        TSpeedFactor& operator=(const TSpeedFactor&) = delete;
        TSpeedFactor& operator=(double value);
        double load() const { return value_.load(); }
        operator double() const { return value_.load(); }

    private:
        TMidi& owner_;
        std::atomic<double> value_{1.0};
    };

    // The length of a step of song time, and how often a playing port with nothing due looks at
    // its device (a whole number of steps).
    static constexpr std::uint64_t StepUs = 10'000;
    static constexpr std::uint32_t WatchMs = 100;

    TMidiElements Elements;
    std::atomic<int> Tempo{120};
    std::atomic<bool> Stopped{false};
    std::atomic<bool> Finished{false};
    // Song time per wall-clock time: 1.0, 0.5 (slow), 2.0 (fast). Read once per tick.
    TSpeedFactor SpeedFactor{*this};
    std::atomic<int> Index{0};  // the next event to send
    // The song position in Time units (thousandths of a quarter note), as of the previous run.
    std::atomic<double> Position{0.0};
    // Clock time of the previous run, in microseconds, where the steps count from; owned by the
    // run lock.
    std::uint64_t LastTickCount = 0;

private:
    // All with runMutex_ held.
    void StopLocked();
    void ArmTimer();
    std::uint64_t DueAt(std::uint64_t now) const;
    // The start of the step that holds now (inclusive: at or before; otherwise strictly before).
    std::uint64_t StepStart(std::uint64_t now, bool inclusive) const;
    // Moves the position on to now, the new speed counting from speedFrom_ if one is pending.
    void AdvanceTo(std::uint64_t now, double speed);
    // Moves the position on to the start of the step that holds now, at the speed counted so far:
    // where a player woken every step would be when it stops.
    void KeepPosition(std::uint64_t now);

    void Play(const TMidiElement& e);
    void Replay(const TMidiElement& e);

    TMidiOutService* service_;  // nullptr: the process's service at the time of Open
    TClock& clock_;
    mutable std::mutex runMutex_;
    mutable std::mutex deviceMutex_;
    std::unique_ptr<TMidiOutDevice> device_;

    // Owned by the run lock.
    bool playing_ = false;          // started or resumed, and not stopped or ended since
    double appliedSpeed_ = 1.0;     // the speed the position counts at since LastTickCount
    bool speedPending_ = false;     // a run has seen SpeedFactor differ from it
    std::uint64_t speedFrom_ = 0;   // the start of the step it counts from, then
    std::uint64_t wakeAt_ = 0;      // the run the timer was armed for; an earlier one only looks

public:
    // Interval WatchMs, OnTimer = TimerTick. Last, so that it stops before anything it reaches.
    TMMTimer Timer;
};
