// The port player, which walks its event list from the front, sending each event when the song
// position reaches its Time. Its device side is in Player.cpp, its sequencer in Sequencer.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "playback/Clock.h"
#include "playback/MidiOut.h"
#include "playback/Timer.h"
#include "song/Event.h"
#include "song/Tracks.h"

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
//
// Notes. The player knows which of its note-ons sound (per channel, key and MML track), so that a
// track silenced while it plays has its notes ended at once, a note-off is sent only for a note-on
// that went out (a silenced track's note-off never cuts another track's note on the same key),
// and a loop's jump leaves nothing sounding. That knowledge has a lock of its own, taken after the
// run lock and before the device lock, so that a mute waits for one send, never for a burst.
//
// Loop. With a loop set, the moment of its end is due like an event: the player sends what lies
// before it, ends its notes, replays what a seek to the loop's start replays and goes on from the
// start position common to all ports, all within the run that reaches the end.
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
    // With send false only the tempo events are taken: the device already holds what the others
    // would set (a new song whose setup before the target is the one the old song sent).
    double SeekTo(std::int32_t target, bool send = true);
    // The Tick of the next event to send (of the last one once finished); 0 for an empty list.
    std::int32_t NextTick() const;
    TClock& Clock() const { return clock_; }
    // The first item of list whose Tick is at or after tick (Count() when none is).
    static int IndexAtTick(const TMidiElements& list, std::int32_t tick);

    // ---- What a musician does while the music plays ----
    // The note-ons of these tracks are not sent; the notes they have sounding get their note-offs
    // at once. Kept across Start, Seek and new lists.
    void SetSilencedTracks(const TTrackSet& silenced);
    // Forgets every note: the list is about to change, so no note-off still to come is known.
    void ForgetNotes();

    // Where a loop lies, the same for every port (the collection works it out from all four lists).
    struct TLoopPoints {
        bool On = false;
        std::int32_t FromTick = 0;  // where each pass begins
        std::int32_t ToTick = 0;    // where it ends
        std::int32_t EndTick = 0;   // the song's end, where a position past ToTick goes back
        double RestartTime = 0.0;   // the position a jump goes on from (Time units)
        double ToTime = 0.0;        // the moment of ToTick; above RestartTime
        double EndTime = 0.0;       // the moment of EndTick
        int Passes = 0;             // how often the range plays in all; 0: until stopped
    };
    // Takes the loop (Off: none) and counts its passes afresh; pastTo: the song position already
    // lies past ToTick, so the next jump comes at the song's end. A playing port looks again at
    // when it is next due.
    void SetLoop(const TLoopPoints& loop, bool pastTo);
    // After a seek has placed the port (Position set): restarts counted afresh, the next jump
    // decided from the position, and a port whose events all lie behind it waits for the jump
    // instead of counting as finished.
    void RestartLoop();
    // A port that finished while the loop it now has will bring the song back: it waits, at
    // position, for the jump, playing when play (then from now), otherwise for the next Resume.
    // False when it has nothing to wait for.
    bool RejoinLoop(double position, std::uint64_t now, bool play);
    // How often this port has jumped back since Start or a seek.
    int LoopRestarts() const { return restarts_.load(); }

    // The song position at clock time now, between runs as well (Position is as of the latest run).
    double PositionAt(std::uint64_t now) const;
    // Started or resumed, and neither stopped nor ended since.
    bool IsPlaying() const;

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
    // The song time counts from now at the speed set now: what starting, resuming and a port
    // rejoining a loop have in common.
    void StartCounting(std::uint64_t now);
    void ArmTimer();
    std::uint64_t DueAt(std::uint64_t now) const;
    // The start of the step that holds now (inclusive: at or before; otherwise strictly before).
    std::uint64_t StepStart(std::uint64_t now, bool inclusive) const;
    // Moves the position on to now, the new speed counting from speedFrom_ if one is pending.
    void AdvanceTo(std::uint64_t now, double speed);
    // Moves the position on to the start of the step that holds now, at the speed counted so far:
    // where a player woken every step would be when it stops.
    void KeepPosition(std::uint64_t now);

    // Decides the next jump of the loop: at ToTick, or with pastTo at the song's end.
    void BeginPass(bool pastTo);
    // The jump, when the position has reached it: returns the index playing goes on from.
    int Jump(int index);

    void Play(const TMidiElement& e);
    // What a seek sends for an event before its target; with send false only a tempo is taken.
    void Replay(const TMidiElement& e, bool send = true);

    // The notes. All with notesMutex_ held but SendNote, which takes it.
    void SendNote(const TMidiElement& e);
    void SendNoteOff(int slot, int times);
    // Note-offs for every sounding note (of the silenced tracks only, with onlySilenced); what
    // they end is then known as ended, so the list's own note-offs for them are not sent.
    void EndNotes(bool onlySilenced);
    // After All Sound Off: nothing sounds any more, but a silenced note's note-off still to come
    // is still held back.
    void ForgetSounding();

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
    int startTempo_ = 120;          // the tempo the song began from at Start or a seek
    TLoopPoints loop_;
    int restartIndex_ = 0;          // the first event at or after loop_.FromTick
    std::vector<int> replay_;       // the events before it that a seek to it replays
    int passesDone_ = 0;            // passes of the range played to its end since the loop was set
    bool jumpActive_ = false;       // a jump is still to come
    bool jumpAtEnd_ = false;        // it comes at the song's end (the position was past the range)
    std::int32_t jumpTick_ = 0;
    double jumpTime_ = 0.0;
    std::atomic<int> restarts_{0};

    // What each (channel, key) has from each track: note-ons sent and not yet ended, and note-offs
    // of the list still to come that are not to be sent (their note-on was silenced, or a mute or
    // a loop's jump ended the note already). Owned by notesMutex_.
    struct TNoteUse {
        std::int32_t Track = 0;
        std::int32_t Sounding = 0;
        std::int32_t HeldBack = 0;
    };
    mutable std::mutex notesMutex_;
    std::vector<std::vector<TNoteUse>> notes_;  // channel * 128 + key
    TTrackSet silenced_;

public:
    // Interval WatchMs, OnTimer = TimerTick. Last, so that it stops before anything it reaches.
    TMMTimer Timer;
};
