// Timed MIDI events and the event list of one port: what a compiled song is made of.
//
// The compiler appends events in the order it makes them and sorts each list once at the end;
// the players, the MIDI file export and the renderer read the sorted lists.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "song/Exception.h"

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
//
// The small fields stand together so that the record stays 64 bytes: a piece has hundreds of
// thousands of events, and the sort moves every one of them.
struct TMidiElement {
    std::uint8_t Kind = ekNone;
    std::uint8_t Status = 0;
    std::uint8_t Data1 = 0;
    std::uint8_t Data2 = 0;
    std::int32_t Serial = 0;  // creation order: the second sort key
    std::int32_t Track = 0;   // the MML track that made it; neither sorting nor playback reads it
    std::int32_t Tick = 0;  // the first sort key
    // Where the command that made it stands in the document: its 1-based line, also inside a
    // macro body (the body's own line), and the same for every pass of a repeat; 0 for none.
    std::int32_t Line = 0;
    // For an event made inside a macro body: the line of the outermost use of the macro in the
    // main text, which is where the event sounds in the piece. 0 for an event of the main text.
    std::int32_t CallLine = 0;
    double Time = 0.0;
    std::int32_t Tempo = 0;   // ekTempo: beats per minute
    std::int32_t WaitMs = 0;  // ekWait: pause of a seek, in milliseconds
    // ekSysEx: the whole message as sent, F0 ... F7; empty for every other kind.
    std::vector<std::uint8_t> SysExData;

    std::int32_t SysExLength() const { return static_cast<std::int32_t>(SysExData.size()); }
    bool FromMacro() const { return CallLine != 0; }
    // The line of the main text that made the event: the use of its macro, or its own line.
    std::int32_t TextLine() const { return CallLine != 0 ? CallLine : Line; }
};
static_assert(sizeof(void*) != 8 || sizeof(TMidiElement) <= 64, "an event record should fit in 64 bytes");

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
    // A song is a value: it is moved from the compiler to its users, and copied where a user
    // must keep it while another changes (a renderer on its own thread).
    TMidiElements(const TMidiElements& other) : items_(other.items_) {}
    TMidiElements& operator=(const TMidiElements& other)
    {
        if (this != &other) items_ = other.items_;
        return *this;
    }
    TMidiElements(TMidiElements&&) noexcept = default;
    TMidiElements& operator=(TMidiElements&&) noexcept = default;
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
    // Exchanges the events of two lists: a song compiled elsewhere takes the place of this one.
    void Swap(TMidiElements& other) noexcept { items_.swap(other.items_); }
    // Puts the list into playing order with the partition-exchange sort described in
    // Elements.cpp. It is not stable; the order it gives to equal keys is part of the behaviour.
    void Sort();

private:
    // The records are held by value: a compiled piece has hundreds of thousands of them, and
    // keeping them together makes building, sorting and walking the list several times faster.
    std::vector<TMidiElement> items_;
    std::vector<TMidiElement> spare_;  // Sort's second buffer, kept empty between sorts
};

// How many bytes a short message with this status byte has: 3 for note, key pressure, control
// change and pitch bend, 2 for program change and channel pressure, and the lengths of the system
// common and real-time messages. 0 for a byte that cannot start a short message (a data byte, or
// the start or end of a system-exclusive message): devices send nothing for it.
int ShortMessageLength(std::uint8_t status);
