// quaverly-cli events: the compilation of a document as one JSON object per line.
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "cli/Options.h"
#include "compiler/Compiler.h"
#include "song/Timeline.h"

namespace {

const char* KindName(std::uint8_t kind)
{
    switch (kind) {
    case ekShortMessage: return "short";
    case ekSysEx: return "sysex";
    case ekTempo: return "tempo";
    case ekWait: return "wait";
    default: return "none";
    }
}

// at: the millisecond the player sends the event, or nullptr to leave it out.
void WriteEvent(std::ostream& out, int port, const TMidiElement& e, const double* at)
{
    out << "{\"port\":" << port << ",\"tick\":" << e.Tick << ",\"time\":" << JsonNumber(e.Time)
        << ",\"serial\":" << e.Serial << ",\"track\":" << e.Track << ",\"line\":" << e.Line << ",\"kind\":\""
        << KindName(e.Kind) << '"';
    switch (e.Kind) {
    case ekShortMessage:
        out << ",\"status\":" << int{e.Status} << ",\"data1\":" << int{e.Data1} << ",\"data2\":" << int{e.Data2};
        break;
    case ekSysEx: {
        out << ",\"data\":[";
        for (std::size_t i = 0; i < e.SysExData.size(); ++i) out << (i ? "," : "") << int{e.SysExData[i]};
        out << ']';
        break;
    }
    case ekTempo: out << ",\"tempo\":" << e.Tempo; break;
    case ekWait: out << ",\"ms\":" << e.WaitMs; break;
    default: break;
    }
    if (at != nullptr) out << ",\"at\":" << JsonNumber(*at);
    out << "}\n";
}

}  // namespace

namespace {

const char* const EventsUsage =
    "使い方: quaverly-cli events [--at] [ファイル|-]\n"
    "  ファイル|-  読み込む文書 (RTF、UTF-8 か Shift-JIS のテキスト)。- か省略で標準入力\n"
    "  --at        プレイヤーが各イベントを送る時刻 (ミリ秒) を \"at\" に加えます\n";

}  // namespace

int RunEvents(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
    // --at adds when the player sends each event, the timeline every export follows.
    bool withAt = false;
    TCliCommand command;
    command.Usage = EventsUsage;
    command.Source = TCliSource::StdinByDefault;
    command.ExplainProblems = false;
    command.Options = {TCliOption::Flag({"--at"}, [&] { withAt = true; })};
    std::string source;
    if (const int status = ParseCommandLine(command, args, source, out, err); status >= 0) return status;
    TSong song;
    if (!ReadAndCompile(source, in, err, song)) return 2;

    // Each line goes out as it is made: a piece of millions of events is not held a second time
    // as its text.
    for (const auto& memo : song.Memo) out << "{\"memo\":" << JsonString(memo) << "}\n";
    for (int port = 0; port < TSong::PortCount; ++port) {
        const TMidiElements& elements = song.Ports[static_cast<std::size_t>(port)];
        const int tempo = song.Tempos[static_cast<std::size_t>(port)];
        const std::vector<double> at = withAt ? SendTimes(elements, tempo) : std::vector<double>{};
        for (int i = 0; i < elements.Count(); ++i)
            WriteEvent(out, port + 1, elements.Items(i), withAt ? &at[static_cast<std::size_t>(i)] : nullptr);
    }
    for (int port = 0; port < TSong::PortCount; ++port)
        out << "{\"player\":" << port + 1 << ",\"tempo\":" << song.Tempos[static_cast<std::size_t>(port)] << "}\n";
    if (song.Failed()) out << "{\"error\":" << JsonString(song.Error) << "}\n";
    out.flush();
    return song.Failed() ? 1 : 0;
}
