// The compiler over any bytes: a compilation ends in events, or in one error shown with its line,
// and what it made is a song the players can send.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "Encoding.h"
#include "FuzzTargets.h"
#include "MMLtoMID.h"

namespace {

// Keeps only what the checks need, so that a long run does not gather messages.
class CheckingPane : public TMessagePane {
public:
    explicit CheckingPane(std::string_view bytes) : bytes_(bytes) {}
    void Clear() override { ++Clears; }
    void Add(const std::string& line) override { FuzzCheck(IsValidUtf8(line), "a pane line is not UTF-8", bytes_); }
    void ShowError(const std::string& text) override
    {
        FuzzCheck(IsValidUtf8(text), "an error text is not UTF-8", bytes_);
        ++Errors;
        Error = text;
    }

    int Clears = 0;
    int Errors = 0;
    std::string Error;

private:
    std::string_view bytes_;
};

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

void CheckSong(const TMML& compiler, std::string_view bytes)
{
    long long total = 0;
    for (int port = 0; port < TMidis::PortCount; ++port) {
        const TMidi& player = compiler.PortAt(port);
        FuzzCheck(!player.IsOpen(), "a compilation without devices opened a port", bytes);
        const TMidiElements& list = player.Elements;
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
    // A compiler of its own for every input, so that a finding replays from its file alone. Its
    // ports have no devices, as PortDevices starts: nothing may be opened.
    TMML compiler;
    CheckingPane pane(bytes);
    compiler.CompileText(std::string(bytes), pane);
    FuzzCheck(pane.Clears == 1, "the pane was not cleared exactly once", bytes);
    FuzzCheck(pane.Errors <= 1, "more than one error shown", bytes);
    if (pane.Errors == 1) CheckErrorLine(pane.Error, bytes);
    CheckSong(compiler, bytes);
}
