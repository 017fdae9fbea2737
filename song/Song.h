// A compiled song: what one compilation made, owned as a value. The compiler returns it; the
// players take their lists and tempos from it; the MIDI file export, the renderer and the send
// timeline read it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "song/Event.h"

struct TSong {
    // A piece addresses four output ports of sixteen MIDI channels each: its 64 channel numbers.
    static constexpr int PortCount = 4;
    static constexpr int ChannelsPerPort = 16;
    static constexpr int ChannelCount = PortCount * ChannelsPerPort;
    // The tempo a player has before anything set it.
    static constexpr int DefaultTempo = 120;

    // The sorted event list of each port; item 0 is port 1.
    std::array<TMidiElements, PortCount> Ports;
    // The tempo each port's player takes: the last in-range tempo command compiled for the port,
    // or, for a port without one, the tempo its player had when the compilation began.
    std::array<int, PortCount> Tempos{DefaultTempo, DefaultTempo, DefaultTempo, DefaultTempo};
    // The message-pane lines, in order (a macro definition's line may hold line ends of its own).
    std::vector<std::string> Memo;
    // The error box's text, the message followed by the line text; empty when the compilation ran
    // to its end. The events made before an error stay in the lists, sorted.
    std::string Error;
    int ErrorLine = 0;  // the line of the error, in a macro body the body's own line
    // The compilation was cancelled: the lists hold what was made so far, and nothing is shown.
    bool Cancelled = false;

    bool Failed() const { return !Error.empty(); }
    bool IsEmpty() const;
    // The largest Tick of a last event over the four lists (an empty list counts 0).
    std::int32_t Length() const;
    // The port whose last event is latest; among equal ends the higher port wins.
    int LongestPort() const;
};

// The Tick of a list's last event; 0 for an empty list.
inline std::int32_t LastTick(const TMidiElements& list) { return list.Count() == 0 ? 0 : list.Last().Tick; }

// The four port lists of a song, wherever they are kept: the song's own, or the copies its players
// hold. The whole-song queries of both are answered here, so the position bar's length and the
// port it follows are the same whether they come from the song or from the players.
struct TPortLists {
    std::array<const TMidiElements*, TSong::PortCount> Lists;

    // No port has an event.
    bool IsEmpty() const;
    // The largest Tick of a last event over the four lists (an empty list counts 0).
    std::int32_t Length() const;
    // The port whose last event is latest; among equal ends the higher port wins, so four empty
    // lists answer port index 3.
    int LongestPort() const;
};
