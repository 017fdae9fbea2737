// When a player sends each event of its list: the song's own clock, free of the timer's period.
//
// A player moves its position by Tempo / 60 Time units per millisecond at speed 1.0, and a tempo
// event changes the rate from its own Time on. Everything that takes a piece out of the program
// (a MIDI file, an audio file) places the events by this timeline, so what it writes sounds as
// the players play it.
#pragma once

#include <array>
#include <vector>

#include "song/Song.h"

// The send times of one list, one item after another, for a reader that needs each only once: a
// piece's times are not held all at once. Next takes the list's items in order.
class TSendClock {
public:
    explicit TSendClock(int startTempo);
    double Next(const TMidiElement& e);

private:
    // Whole segments are summed in long double from the last tempo change, so a long piece with
    // many tempo changes does not gather rounding error event by event.
    long double segmentMs_ = 0.0L;  // milliseconds at the start of the current tempo segment
    double segmentTime_ = 0.0;      // the Time at which it starts
    int tempo_;
    double last_ = 0.0;
    bool first_ = true;
};

// The milliseconds from Start at which the player sends each item of list, in list order, when
// it starts at startTempo (the tempo the player has before its first tempo event). Events at or
// before Time 0 go at 0. A tempo below 1 counts as 1, so the times always stay finite.
// The times never go back: an item goes out no earlier than the one before it.
std::vector<double> SendTimes(const TMidiElements& list, int startTempo);
// The same for each port of a song, from the tempo its player takes.
std::array<std::vector<double>, TSong::PortCount> SendTimes(const TSong& song);
