// Reading back what a recording device received, beside the event lists a test plays.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "playback/Player.h"
#include "playback/Players.h"
#include "tests/support/EventLists.h"
#include "tests/support/RecordingMidiOut.h"

namespace playback_test {

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

// The four players on a driven clock, every port's device recording what it is sent: what the
// tests of the whole-song operations start from.
struct TRecordedPlayers {
    TDrivenClock clock;
    TRecordingMidiOut out{clock};
    TMidis midis{&out, &clock};

    TMidiElements& Port(int port) { return midis.Items(port).Elements; }
    void OpenAll()
    {
        for (int port = 0; port < TMidis::PortCount; ++port) midis.Items(port).Open(port);
    }
};

}  // namespace playback_test
