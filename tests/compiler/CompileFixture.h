// What the compiler tests share: compile a text, read back its events as short strings, and the
// error box it showed.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "compiler/Compiler.h"

// One event as "tick status data1 data2" with the status in hex, e.g. "480 80 60 127"; events of
// ports 2 to 4 begin with "p2 " and so on; system exclusive as "0 F0 7E 7F 09 01 F7"; tempo and
// wait events as "0 tempo 120" and "30 wait 60".
inline std::string Describe(int port, const TMidiElement& e)
{
    char buffer[64];
    std::string text = port == 0 ? "" : "p" + std::to_string(port + 1) + " ";
    text += std::to_string(e.Tick);
    switch (e.Kind) {
    case ekShortMessage:
        std::snprintf(buffer, sizeof buffer, " %02X %d %d", e.Status, e.Data1, e.Data2);
        text += buffer;
        break;
    case ekSysEx:
        for (auto byte : e.SysExData) {
            std::snprintf(buffer, sizeof buffer, " %02X", byte);
            text += buffer;
        }
        break;
    case ekTempo: text += " tempo " + std::to_string(e.Tempo); break;
    case ekWait: text += " wait " + std::to_string(e.WaitMs); break;
    default: text += " ?"; break;
    }
    return text;
}

struct Compiled {
    std::vector<std::string> Events;  // every port, port 1 first, in list order
    std::string Error;                // the error box's text, empty when none was shown
    std::vector<std::string> Memo;
    TSong Song;                       // the whole song, for what the strings do not show
};

inline Compiled Read(TSong song)
{
    Compiled result;
    for (int port = 0; port < TSong::PortCount; ++port) {
        const TMidiElements& list = song.Ports[static_cast<std::size_t>(port)];
        for (int i = 0; i < list.Count(); ++i) result.Events.push_back(Describe(port, list.Items(i)));
    }
    result.Error = song.Error;
    result.Memo = song.Memo;
    result.Song = std::move(song);
    return result;
}

// Compiles raw Shift-JIS text as the compiler sees it (line ends included).
inline Compiled CompileBytes(TMML& compiler, const std::string& text) { return Read(compiler.CompileText(text)); }

inline Compiled CompileBytes(const std::string& text)
{
    TMML compiler;
    return CompileBytes(compiler, text);
}
