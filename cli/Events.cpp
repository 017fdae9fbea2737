// quaverly-cli events: the compilation of a document as one JSON object per line.
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "formats/Document.h"
#include "cli/Json.h"
#include "compiler/MMLtoMID.h"
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

bool ReadPiece(const std::string& source, std::istream& in, std::string& text, std::ostream& err)
{
    if (source == "-") {
        // Read in pieces up to the bound that documents have, so endless input is refused
        // instead of filling the memory.
        std::string bytes;
        char buffer[65536];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
            if (DocumentTooLarge(bytes)) {
                err << "標準入力が大きすぎて読み込めません\n";
                return false;
            }
        }
        if (in.bad()) {
            err << "標準入力を読み込めません\n";
            return false;
        }
        text = DecodeDocument(bytes);
        return true;
    }
    try {
        text = ReadDocumentText(source);
        return true;
    } catch (const Exception& e) {
        err << e.Message() << '\n';
        return false;
    }
}

bool CompileWithoutDevices(std::string_view text, TSong& song, std::ostream& err)
{
    // Every port starts from a fresh player's tempo, as a player the command-line tool makes does.
    song = TMML().CompileDocument(text);
    if (!song.Failed()) return true;
    err << song.Error << '\n';
    return false;
}

namespace {

const char* const EventsUsage =
    "使い方: quaverly-cli events [--at] [ファイル|-]\n"
    "  ファイル|-  読み込む文書 (RTF、UTF-8 か Shift-JIS のテキスト)。- か省略で標準入力\n"
    "  --at        プレイヤーが各イベントを送る時刻 (ミリ秒) を \"at\" に加えます\n";

}  // namespace

int RunEvents(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << EventsUsage;
        return 0;
    }
    // --at adds when the player sends each event, the timeline every export follows.
    std::vector<std::string> rest = args;
    const auto atOption = std::find(rest.begin(), rest.end(), "--at");
    const bool withAt = atOption != rest.end();
    if (withAt) rest.erase(atOption);
    if (rest.size() > 1) {
        err << EventsUsage;
        return 2;
    }
    std::string text;
    if (!ReadPiece(rest.empty() ? "-" : rest[0], in, text, err)) return 2;

    const TSong song = TMML().CompileDocument(text);
    text = std::string();  // the events are what is left to hold

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
