// The four port players and what concerns the whole song: starting them together, seeking,
// and loading a compiled song into them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "playback/Player.h"
#include "song/Song.h"

// The four port players and the whole-song queries. Item 0 is port 1.
//
// The whole-song operations run on the GUI thread; AllFinished, LongestPort and StopAll may also
// be called from a display refresh on another thread. The collection keeps no state of its own.
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

private:
    TPortLists Lists() const;  // the players' own copies, for the whole-song queries

    std::array<std::unique_ptr<TMidi>, PortCount> items_;
};

