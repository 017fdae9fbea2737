// Timed MIDI events, the event list of one port, and the port player that owns it.
//
// The four event lists of the port players are the compiled song: the compiler appends events in
// the order it makes them, sorts each list once at the end, and the player walks its list from the
// front, sending each event when the song position reaches its Time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Exception.h"

// What an event does. The numbers are stable: 3 was never used.
enum TElementKind : std::uint8_t {
    ekNone = 0,  // only before the creator sets the kind
    ekShortMessage = 1,
    ekSysEx = 2,
    ekTempo = 4,
    ekWait = 5,
};

// One timed event. Tick orders events (480 per quarter note); Time is the same instant in
// thousandths of a quarter note, accumulated in floating point by the compiler, and is what
// playback compares with the song position.
struct TMidiElement {
    std::uint8_t Kind = ekNone;
    std::int32_t Serial = 0;  // creation order: the second sort key
    std::int32_t Track = 0;   // the MML track that made it; neither sorting nor playback reads it
    std::uint8_t Status = 0;
    std::uint8_t Data1 = 0;
    std::uint8_t Data2 = 0;
    std::int32_t Tick = 0;  // the first sort key
    double Time = 0.0;
    std::int32_t Tempo = 0;   // ekTempo: beats per minute
    std::int32_t WaitMs = 0;  // ekWait: pause of a seek, in milliseconds
    // ekSysEx: the whole message as sent, F0 ... F7; empty for every other kind.
    std::vector<std::uint8_t> SysExData;

    std::int32_t SysExLength() const { return static_cast<std::int32_t>(SysExData.size()); }
};

// The playing order: ascending Tick, and at equal Tick ascending Serial. Within one track this puts
// the note-off that ends a note before the note-on of the next note at the same tick, because the
// compiler makes the note-off first. Equal Tick and equal Serial happen only between branches of
// one parallel block; their order is whatever TMidiElements::Sort leaves, and that sort is fixed.
// Negative: a plays first; positive: b plays first.
int CompareElements(const TMidiElement& a, const TMidiElement& b);

// The owning, sortable event list of one port.
class TMidiElements {
public:
    TMidiElements() = default;
    TMidiElements(const TMidiElements&) = delete;
    TMidiElements& operator=(const TMidiElements&) = delete;
    ~TMidiElements() { Clear(); }

    // Appends and takes ownership; returns the new item's index. References to items stay valid
    // until the next Add, Clear or Sort.
    int Add(TMidiElement element);
    int Add(std::unique_ptr<TMidiElement> element) { return Add(std::move(*element)); }
    int Count() const { return static_cast<int>(items_.size()); }
    // Item 0 .. Count-1; any other index raises the list's index error.
    TMidiElement& Items(int index);
    const TMidiElement& Items(int index) const;
    TMidiElement& Last() { return Items(Count() - 1); }
    const TMidiElement& Last() const { return Items(Count() - 1); }
    void Clear();
    // Puts the list into playing order with the partition-exchange sort described in
    // Elements.cpp. It is not stable; the order it gives to equal keys is part of the behaviour.
    void Sort();

private:
    // The records are held by value: a compiled piece has hundreds of thousands of them, and
    // keeping them together makes building, sorting and walking the list several times faster.
    std::vector<TMidiElement> items_;
    std::vector<TMidiElement> spare_;  // Sort's second buffer, kept empty between sorts
};

// The player of one MIDI output port. It owns its event list for its whole life; the device
// and the sequencer that plays the list arrive with the playback engine.
class TMidi {
public:
    TMidi() = default;
    TMidi(const TMidi&) = delete;
    TMidi& operator=(const TMidi&) = delete;

    TMidiElements Elements;
    // The playback tempo in beats per minute. A compilation does not reset it: a piece without a
    // tempo command plays at the tempo this port last had.
    int Tempo = 120;
};
