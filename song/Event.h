// Timed MIDI events and the event list of one port: what a compiled song is made of.
//
// The compiler appends events in the order it makes them and sorts each list once at the end;
// the players, the MIDI file export and the renderer read the sorted lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
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

// The bytes of one system-exclusive message, held outside the event record: few events have any,
// and every event would otherwise carry the room for them. Reads like a constant byte vector; the
// event that holds it owns the bytes (see TMidiElement).
class TSysExBytes {
public:
    // An empty message. Trivial, so that it can share the record's payload with the fields of
    // the other kinds.
    TSysExBytes() = default;
    // One message has one owner: bytes are given as a vector, never taken from another event's.
    TSysExBytes& operator=(const TSysExBytes&) = delete;

    TSysExBytes& operator=(const std::vector<std::uint8_t>& bytes);
    TSysExBytes& operator=(std::vector<std::uint8_t>&& bytes);
    TSysExBytes& operator=(std::initializer_list<std::uint8_t> bytes)
    {
        return *this = std::vector<std::uint8_t>(bytes);
    }

    const std::vector<std::uint8_t>& Bytes() const;
    operator const std::vector<std::uint8_t>&() const { return Bytes(); }
    const std::uint8_t* data() const { return Bytes().data(); }
    std::size_t size() const { return Bytes().size(); }
    bool empty() const { return Bytes().empty(); }
    const std::uint8_t* begin() const { return data(); }
    const std::uint8_t* end() const { return data() + size(); }
    std::uint8_t operator[](std::size_t i) const { return Bytes()[i]; }
    std::uint8_t front() const { return Bytes().front(); }
    std::uint8_t back() const { return Bytes().back(); }

private:
    friend struct TMidiElement;
    // 0: no bytes; otherwise the number of the message in the process's store (Elements.cpp).
    std::uint32_t id_;
};

// A small number stored in 16 bits that reads and writes as a 32-bit one: the MML track of an
// event (1..128), kept narrow so that the record stays small.
class TShortNumber {
public:
    TShortNumber() = default;
    TShortNumber(std::int32_t value) : value_(static_cast<std::int16_t>(value)) {}
    operator std::int32_t() const { return value_; }

private:
    std::int16_t value_;
};

// One timed event. Tick orders events (480 per quarter note); Time is the same instant in
// thousandths of a quarter note, accumulated in floating point by the compiler, and is what
// playback compares with the song position.
//
// The record is 32 bytes: a piece has hundreds of thousands of events, and every byte of the
// record is paid for by each of them in memory, in the pages the list faults in and in the sort.
// So the fields only one kind uses share one payload: the message bytes of a short message, the
// tempo of a tempo event, the pause of a wait, the message of a system-exclusive event. Only the
// payload of the event's Kind may be read; set Kind before the payload.
struct TMidiElement {
    std::int32_t Tick = 0;  // the first sort key
    std::int32_t Serial = 0;  // creation order: the second sort key
    double Time = 0.0;
    // Where the command that made it stands in the document: its 1-based line, also inside a
    // macro body (the body's own line), and the same for every pass of a repeat; 0 for none.
    std::int32_t Line = 0;
    // For an event made inside a macro body: the line of the outermost use of the macro in the
    // main text, which is where the event sounds in the piece. 0 for an event of the main text.
    std::int32_t CallLine = 0;
    std::uint8_t Kind = ekNone;
    TShortNumber Track = 0;  // the MML track that made it; neither sorting nor playback reads it
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#endif
    union {
        struct {  // ekShortMessage
            std::uint8_t Status;
            std::uint8_t Data1;
            std::uint8_t Data2;
        };
        std::int32_t Tempo = 0;   // ekTempo: beats per minute
        std::int32_t WaitMs;      // ekWait: pause of a seek, in milliseconds
        // ekSysEx: the whole message as sent, F0 ... F7.
        TSysExBytes SysExData;
    };
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

    TMidiElement() = default;
    TMidiElement(const TMidiElement& other);
    TMidiElement(TMidiElement&& other) noexcept
        : Tick(other.Tick), Serial(other.Serial), Time(other.Time), Line(other.Line), CallLine(other.CallLine),
          Kind(other.Kind), Track(other.Track), Tempo(other.Tempo)  // the payload as its four bytes
    {
        if (other.Kind == ekSysEx) other.SysExData.id_ = 0;
    }
    TMidiElement& operator=(const TMidiElement& other);
    TMidiElement& operator=(TMidiElement&& other) noexcept
    {
        if (this == &other) return *this;
        ReleaseSysEx();
        Tick = other.Tick;
        Serial = other.Serial;
        Time = other.Time;
        Line = other.Line;
        CallLine = other.CallLine;
        Kind = other.Kind;
        Track = other.Track;
        Tempo = other.Tempo;  // the payload as its four bytes
        if (other.Kind == ekSysEx) other.SysExData.id_ = 0;
        return *this;
    }
    ~TMidiElement() { ReleaseSysEx(); }

    std::int32_t SysExLength() const { return Kind == ekSysEx ? static_cast<std::int32_t>(SysExData.size()) : 0; }
    bool FromMacro() const { return CallLine != 0; }
    // The line of the main text that made the event: the use of its macro, or its own line.
    std::int32_t TextLine() const { return CallLine != 0 ? CallLine : Line; }

private:
    bool OwnsSysEx() const { return Kind == ekSysEx && SysExData.id_ != 0; }
    void ReleaseSysEx() noexcept
    {
        if (OwnsSysEx()) ReleaseSysExBytes(SysExData.id_);
    }
    static void ReleaseSysExBytes(std::uint32_t id) noexcept;
    static std::uint32_t CopySysExBytes(std::uint32_t id);
};
static_assert(sizeof(void*) != 8 || sizeof(TMidiElement) == 32, "an event record should be 32 bytes");

// A note-on or a note-off: a short message of status 8n or 9n (a note-on of velocity 0 ends a
// note as a note-off does).
inline bool IsNoteMessage(const TMidiElement& e)
{
    return e.Kind == ekShortMessage && ((e.Status & 0xF0) == 0x80 || (e.Status & 0xF0) == 0x90);
}
// A note-on that starts a note: velocity above 0.
inline bool IsNoteOn(const TMidiElement& e)
{
    return e.Kind == ekShortMessage && (e.Status & 0xF0) == 0x90 && e.Data2 != 0;
}

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
    // Makes room for this many events in all without moving them again; memory reserved and
    // never filled costs address space only, not resident pages.
    void Reserve(int count);
    // How many events the list has room for before it must grow.
    int Capacity() const { return static_cast<int>(items_.capacity()); }
    // Exchanges the events of two lists: a song compiled elsewhere takes the place of this one.
    void Swap(TMidiElements& other) noexcept { items_.swap(other.items_); }
    // Puts the list into playing order with the partition-exchange sort described in
    // Elements.cpp. It is not stable; the order it gives to equal keys is part of the behaviour.
    void Sort();

private:
    // The records are held by value: a compiled piece has hundreds of thousands of them, and
    // keeping them together makes building, sorting and walking the list several times faster.
    std::vector<TMidiElement> items_;
};

// How many bytes a short message with this status byte has: 3 for note, key pressure, control
// change and pitch bend, 2 for program change and channel pressure, and the lengths of the system
// common and real-time messages. 0 for a byte that cannot start a short message (a data byte, or
// the start or end of a system-exclusive message): devices send nothing for it.
int ShortMessageLength(std::uint8_t status);
