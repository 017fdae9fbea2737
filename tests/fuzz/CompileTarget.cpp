// The compiler over any bytes: a compilation ends in events, or in one error shown with its line,
// and what it made is a song the players can send.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "formats/Encoding.h"
#include "tests/fuzz/FuzzTargets.h"
#include "compiler/Compiler.h"

namespace {

// The error box ends with "( 行 : n )", and n is a line of the text.
void CheckErrorLine(const std::string& error, std::string_view bytes)
{
    static const std::string head = "( 行 : ";
    const std::size_t at = error.rfind(head);
    FuzzCheck(at != std::string::npos && error.size() > at + head.size() + 2 && error.compare(error.size() - 2, 2, " )") == 0,
              "an error text does not end with its line", bytes);
    const std::string number = error.substr(at + head.size(), error.size() - 2 - at - head.size());
    FuzzCheck(!number.empty() && std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }),
              "an error's line is not a number", bytes);
    const long line = std::strtol(number.c_str(), nullptr, 10);
    const long lines = 1 + static_cast<long>(std::count(bytes.begin(), bytes.end(), '\n'));
    FuzzCheck(line >= 1 && line <= lines, "an error names a line the text does not have", bytes);
}

void CheckSong(const TSong& song, std::string_view bytes)
{
    long long total = 0;
    for (const std::string& line : song.Memo) FuzzCheck(IsValidUtf8(line), "a pane line is not UTF-8", bytes);
    FuzzCheck(song.Memo.size() <= static_cast<std::size_t>(TMML::MaxWarnings) + 1 + bytes.size() / 2,
              "more pane lines than the warnings bound and the macros allow", bytes);
    for (const TMidiElements& list : song.Ports) {
        total += list.Count();
        for (int k = 0; k < list.Count(); ++k) {
            const TMidiElement& e = list.Items(k);
            if (k > 0) FuzzCheck(CompareElements(list.Items(k - 1), e) <= 0, "a list is not in playing order", bytes);
            FuzzCheck(e.Tick >= 0, "an event before the start", bytes);
            FuzzCheck(e.Time >= 0.0 && e.Time < 1e300, "an event time is negative or not finite", bytes);
            switch (e.Kind) {
            case ekShortMessage:
                // A status below 0x80 or a data byte above 127 would corrupt the MIDI stream.
                FuzzCheck(e.Status >= 0x80 && e.Status < 0xF0, "a short message without a channel status", bytes);
                FuzzCheck(e.Data1 < 0x80 && e.Data2 < 0x80, "a data byte above 127", bytes);
                break;
            case ekSysEx: {
                const auto& data = e.SysExData;
                FuzzCheck(data.size() >= 2 && data.front() == 0xF0 && data.back() == 0xF7,
                          "a system-exclusive message not framed by F0 and F7", bytes);
                FuzzCheck(std::all_of(data.begin() + 1, data.end() - 1, [](std::uint8_t b) { return b < 0x80; }),
                          "a system-exclusive data byte above 127", bytes);
                break;
            }
            case ekTempo:
                FuzzCheck(e.Tempo >= 30 && e.Tempo <= 500, "a tempo event out of range", bytes);
                break;
            case ekWait:
                FuzzCheck(e.WaitMs >= 0, "a negative wait", bytes);
                break;
            default:
                FuzzFailure("an event of a kind the compiler does not make", bytes);
            }
        }
    }
    FuzzCheck(total <= TMML::MaxEvents, "more events than MaxEvents", bytes);
}

}  // namespace

void FuzzCompile(std::string_view bytes)
{
    // A compiler of its own for every input, so that a finding replays from its file alone.
    TMML compiler;
    const TSong song = compiler.CompileText(std::string(bytes));
    FuzzCheck(!song.Cancelled, "a compilation nobody cancelled reports a cancel", bytes);
    if (song.Failed()) {
        FuzzCheck(IsValidUtf8(song.Error), "an error text is not UTF-8", bytes);
        CheckErrorLine(song.Error, bytes);
    }
    CheckSong(song, bytes);
}
