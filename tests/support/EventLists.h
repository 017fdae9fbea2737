// Building event lists by hand, numbered and timed as the compiler makes them: for the tests of
// everything that reads a song (the players, the MIDI file export).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>

#include "song/Event.h"

namespace playback_test {

// Time in thousandths of a quarter note for a tick count, as the compiler makes it.
inline double TimeOf(std::int32_t tick) { return tick * 1000.0 / 480.0; }

inline TMidiElement Make(std::uint8_t kind, std::int32_t tick)
{
    TMidiElement e;
    e.Kind = kind;
    e.Tick = tick;
    e.Time = TimeOf(tick);
    return e;
}

// Appends with the next serial, as the compiler numbers events in the order it makes them.
inline void Add(TMidiElements& list, TMidiElement e)
{
    e.Serial = list.Count();
    list.Add(std::move(e));
}

inline void AddShort(TMidiElements& list, std::int32_t tick, std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    TMidiElement e = Make(ekShortMessage, tick);
    e.Status = status;
    e.Data1 = data1;
    e.Data2 = data2;
    Add(list, std::move(e));
}

inline void AddTempo(TMidiElements& list, std::int32_t tick, int tempo)
{
    TMidiElement e = Make(ekTempo, tick);
    e.Tempo = tempo;
    Add(list, std::move(e));
}

inline void AddWait(TMidiElements& list, std::int32_t tick, int ms)
{
    TMidiElement e = Make(ekWait, tick);
    e.WaitMs = ms;
    Add(list, std::move(e));
}

inline void AddSysEx(TMidiElements& list, std::int32_t tick, std::initializer_list<std::uint8_t> bytes)
{
    TMidiElement e = Make(ekSysEx, tick);
    e.SysExData = bytes;
    Add(list, std::move(e));
}

// A note of the given length: note-on at tick, note-off at tick + length.
inline void AddNote(TMidiElements& list, std::int32_t tick, std::int32_t length, std::uint8_t key, std::uint8_t channel = 0)
{
    AddShort(list, tick, static_cast<std::uint8_t>(0x90 | channel), key, 100);
    AddShort(list, tick + length, static_cast<std::uint8_t>(0x80 | channel), key, 0);
}

}  // namespace playback_test
