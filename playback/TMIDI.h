// The periodic timer and the port player, which walks its event list from the front, sending
// each event when the song position reaches its Time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "playback/Clock.h"
#include "song/Event.h"
#include "playback/MidiOut.h"

// A periodic timer: calls OnTimer every Interval milliseconds on a thread of its own (or, on a
// driven clock, whenever the test moves the clock past a run).
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
    std::uint32_t Interval() const;
    // Clamped to [PeriodMin, PeriodMax]; while enabled the periodic event restarts with it.
    void SetInterval(std::uint32_t ms);
    // Set once, before the timer is first enabled. Enabling without a handler runs nothing.
    void SetOnTimer(TNotifyEvent handler);
    // The number of the periodic event that the latest enable made; 0 before any. Each enable
    // with a handler makes a new one.
    std::uint32_t TimerID() const;
    TClock& Clock() const { return clock_; }

    // For a driven clock: the time of the next run, or false when none is due at all.
    bool NextRun(std::uint64_t& when) const;
    // For a driven clock: performs the run due at now (the clock has checked that one is).
    void Fire(std::uint64_t now);

private:
    void Arm(std::uint64_t first);  // with mutex_ held
    void Disarm(std::unique_lock<std::mutex>& lock);
    void Run(std::unique_lock<std::mutex>& lock, std::uint64_t now);
    void ThreadMain();

    TClock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool enabled_ = false;
    bool armed_ = false;  // enabled with a handler: a periodic event exists
    std::uint32_t interval_ = 50;
    std::uint64_t next_ = 0;  // clock time of the next run while armed
    std::uint32_t timerId_ = 0;
    TNotifyEvent onTimer_;
    bool running_ = false;  // a handler run is in progress
    std::thread::id runner_;  // the thread running it
    bool quit_ = false;
    std::thread thread_;  // started at the first enable on a clock that does not fire timers
};

// The player of one MIDI output port: its device, its event list, and the sequencer that plays
// the list in real time.
//
// Threads. The GUI thread opens, closes, starts, resumes, stops and seeks; TimerTick runs on the
// timer's thread; Stop also comes from a display refresh on another thread. The sequencer state
// that a tick changes (Index, Position, Tempo, Stopped, Finished) is readable from any thread
// without a lock. A tick runs under the player's run lock, and Stop sets Stopped under the same
// lock before it turns the timer off, so a Stop that lands while a tick runs always leaves the
// timer off. Stop also sets it at once, before waiting for the lock: a tick sending a burst looks
// at it between batches of events and lets the lock go. Sends go through the device lock.
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
    // The timer's handler. Sends every event whose time has come, then advances the position by
    // the time elapsed since the previous run. Never throws.
    void TimerTick(TMMTimer& sender) noexcept;
    // Replays the port's non-note events before target (in ticks) and returns the Time at which
    // playback should continue, or -1.0 when the port has nothing to continue from. A port with
    // nothing at or after the target replays all its non-note events and counts as finished.
    double SeekTo(std::int32_t target);
    // The Tick of the next event to send (of the last one once finished); 0 for an empty list.
    std::int32_t NextTick() const;
    TClock& Clock() const { return clock_; }

    TMidiElements Elements;
    std::atomic<int> Tempo{120};
    std::atomic<bool> Stopped{false};
    std::atomic<bool> Finished{false};
    // Song time per wall-clock time: 1.0, 0.5 (slow), 2.0 (fast). Read once per tick.
    std::atomic<double> SpeedFactor{1.0};
    std::atomic<int> Index{0};  // the next event to send
    // The song position in Time units (thousandths of a quarter note).
    std::atomic<double> Position{0.0};
    // Clock time of the previous advance, in microseconds; owned by the run lock.
    std::uint64_t LastTickCount = 0;

private:
    void StopLocked();  // with runMutex_ held
    void ArmTimer(std::uint64_t now);  // with runMutex_ held
    std::uint64_t DueAt(std::uint64_t now) const;  // with runMutex_ held
    void Play(const TMidiElement& e);
    void Replay(const TMidiElement& e);

    TMidiOutService* service_;  // nullptr: the process's service at the time of Open
    TClock& clock_;
    mutable std::mutex runMutex_;
    mutable std::mutex deviceMutex_;
    std::unique_ptr<TMidiOutDevice> device_;

public:
    // Interval 10 ms, OnTimer = TimerTick. Last, so that it stops before anything it reaches.
    TMMTimer Timer;
};
