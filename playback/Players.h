// The four port players and what concerns the whole song: starting them together, seeking,
// and loading a compiled song into them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "playback/Player.h"
#include "song/Song.h"
#include "song/Tracks.h"

// The four port players and the whole-song queries. Item 0 is port 1.
//
// The whole-song operations run on the GUI thread; AllFinished, LongestPort, PositionTick and
// StopAll may also be called from a display refresh on another thread. The collection keeps only
// what the musician set (the silenced tracks, the loop), to give it to the players again when
// they take a new song.
class TMidis {
public:
    static constexpr int PortCount = TSong::PortCount;

    // Without a service or clock the players use the process's MIDI service and the system clock.
    explicit TMidis(TMidiOutService* service = nullptr, TClock* clock = nullptr);
    TMidi& Items(int port) const;
    int Count() const { return PortCount; }

    // Start on ports 1 to 4; each refuses when its device is closed or its list empty.
    void StartAll();
    // Resume on every port that has events and has not finished.
    void ResumeAll();
    void StopAll();
    // Stops every port, replays each port's non-note events before target (in ticks) and resumes
    // all of them from one common position: the earliest Time at which a port continues.
    void Seek(std::int32_t target);
    // True when every port that has events and an open device has finished. A port without a
    // device never plays, so waiting for it would keep the song from ever ending.
    bool AllFinished() const;
    // The whole-song queries over the players' lists, answered as TSong answers them for the song
    // they were loaded from (see TPortLists): no port has an event; the largest Tick of a last
    // event (an empty list counts 0); the port whose last event is latest, the higher port among
    // equal ends.
    bool IsEmpty() const;
    std::int32_t SongLength() const;
    int LongestPort() const;

    // What a compilation does to the ports: every player stopped and closed, then the device each
    // port is assigned (-1: none) opened. A device that cannot be opened raises; the ports before
    // it are open again, the rest stay closed.
    void Reopen(const std::array<int, PortCount>& devices);
    // Gives the players the song's lists and tempos; they must be stopped. The players keep a copy
    // of their own, so the song may go on serving exports.
    void Load(const TSong& song);
    // The tempo each player has now: what a compilation starts from for a port without a tempo
    // command.
    std::array<int, PortCount> Tempos() const;

    // ---- What a musician does while the music plays ----
    // The tracks whose notes are not heard (see SilencedTracks): their note-ons are not sent, and
    // the notes they have sounding are ended at once with note-offs. Every other event of theirs
    // (programs, volumes, controllers, system-exclusive) still goes out, so a track sounds right
    // the moment it is heard again. Kept across Load, StartAll and Seek; may be called while the
    // players play.
    void SetSilencedTracks(const TTrackSet& silenced);
    TTrackSet SilencedTracks() const;

    // Repeats range (in ticks) while on: when the song position reaches range.To, the ports end
    // the notes they have sounding, replay what a seek to range.From replays, and go on from
    // there with no gap beyond one timer period. A position already past range.To plays on to
    // the song's end and starts over at range.From. passes counts how often the range is played
    // in all (0 or less: until stopped); after the last pass the song plays on to its end.
    // std::nullopt turns it off; a range that holds no time (To at or before From, once clamped
    // to the song's length) repeats nothing. May be called while the players play: a port whose
    // part ended before the range's end waits for the song to come back to it. Load keeps it,
    // clamped to the new song's length; a new song's range is the caller's to set.
    void SetLoop(std::optional<TTickRange> range, int passes = 0);
    std::optional<TTickRange> Loop() const;
    // How many times the song position has gone back to the loop's start since StartAll or Seek.
    int LoopRestarts() const;

    // The song position in ticks, between events as well: where the longest port's player stands
    // (interpolated between the ticks of the events around its position), within 0..SongLength.
    // 0 before it starts. The longest port among those with a device: one without never plays.
    double PositionTick() const;

    // A newly compiled song in place of the one playing, going on from the same song position:
    // the players stop (ending what sounds), take the song's lists and tempos, and seek to the
    // tick they stood at (PositionTick), replaying its controllers as a seek does. Unlike Seek
    // they go on from that very moment, not from the next event, so the rhythm carries on. Mute,
    // solo, speed and loop stay. Players that were not playing only take the song, at their
    // position.
    void ContinueWith(const TSong& song);

    // The players' own copies of the lists, for the whole-song queries and for what reads the
    // song the players hold (the window's playing lines and loop range).
    TPortLists Lists() const;

private:
    // The port whose position is the song's: the longest among those with a device and events.
    int Leader() const;
    // Where the loop kept lies in the lists loaded now (Off when there is none or it holds no time).
    TMidi::TLoopPoints LoopPoints() const;
    // Gives the players the loop; live: they may be playing, so the next jump is decided from the
    // song position and ports that have ended rejoin.
    void ApplyLoop(bool live);
    // A seek without the stop and the resume: every port replays up to target and stands at the
    // common position, which with exact is the moment of target itself rather than the next
    // event's.
    // Ports marked in unchanged take only their tempo events before target: their devices already
    // hold what the rest would set.
    void PlaceAt(std::int32_t target, bool exact, const std::array<bool, PortCount>& unchanged = {});

    std::array<std::unique_ptr<TMidi>, PortCount> items_;
    mutable std::mutex settingsMutex_;  // guards the three below
    TTrackSet silenced_;
    std::optional<TTickRange> loop_;
    int passes_ = 0;
};

