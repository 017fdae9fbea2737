// Building event lists by hand and reading back what a recording device received.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "playback/RecordingMidiOut.h"
#include "playback/TMIDI.h"

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

// "500 90 3C 64": the arrival time in milliseconds (with microseconds when they are not zero) and
// the bytes; a reset reads "500 reset". With device, "d1 " stands in front for device 1.
inline std::vector<std::string> Log(const TRecordingMidiOut& out, bool withDevice = false)
{
    std::vector<std::string> lines;
    for (const auto& m : out.Messages()) {
        char time[32];
        if (m.Time % 1000 == 0)
            std::snprintf(time, sizeof time, "%llu", static_cast<unsigned long long>(m.Time / 1000));
        else
            std::snprintf(time, sizeof time, "%.3f", static_cast<double>(m.Time) / 1000.0);
        std::string line = withDevice ? "d" + std::to_string(m.Device) + " " : "";
        line += time;
        line += ' ';
        line += m.Kind == TRecordingMidiOut::TMessage::Reset ? "reset" : HexBytes(m.Bytes);
        lines.push_back(line);
    }
    return lines;
}

// The 16 All Sound Off messages a stopping port sends, stamped with time.
inline std::vector<std::string> AllSoundOffAt(const std::string& time, const std::string& device = "")
{
    std::vector<std::string> lines;
    static const char* const hex = "0123456789ABCDEF";
    for (int channel = 0; channel < 16; ++channel)
        lines.push_back(device + time + " B" + hex[channel] + " 78 00");
    return lines;
}

inline std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace playback_test
