// quaverly-cli events: the compilation of a document as one JSON object per line.
#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"
#include "Document.h"
#include "Json.h"
#include "MMLtoMID.h"
#include "Timeline.h"

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

bool ReadPiece(const std::string& source, std::istream& in, std::vector<std::string>& lines, std::ostream& err)
{
    if (source == "-") {
        // Read in pieces up to the bound that documents have, so endless input is refused
        // instead of filling the memory.
        std::string bytes;
        char buffer[65536];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
            if (bytes.size() > MaxDocumentBytes) {
                err << "標準入力が大きすぎて読み込めません\n";
                return false;
            }
        }
        if (in.bad()) {
            err << "標準入力を読み込めません\n";
            return false;
        }
        lines = SplitLines(DecodeDocument(bytes));
        return true;
    }
    try {
        lines = ReadDocumentLines(source);
        return true;
    } catch (const Exception& e) {
        err << e.Message() << '\n';
        return false;
    }
}

bool CompileWithoutDevices(const std::vector<std::string>& lines, TMML& compiler, std::ostream& err)
{
    // A fresh compiler's ports are assigned no device, so nothing opens; the players still take
    // every tempo the compilation sets, which is where each of them starts playing.
    RecordingPane pane;
    compiler.Compile(lines, pane);
    if (pane.ErrorText.empty()) return true;
    err << pane.ErrorText << '\n';
    return false;
}

int RunEvents(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
    // --at adds when the player sends each event, the timeline every export follows.
    std::vector<std::string> rest = args;
    const auto atOption = std::find(rest.begin(), rest.end(), "--at");
    const bool withAt = atOption != rest.end();
    if (withAt) rest.erase(atOption);
    if (rest.size() > 1) {
        err << "使い方: quaverly-cli events [--at] [ファイル|-]\n";
        return 2;
    }
    std::vector<std::string> lines;
    if (!ReadPiece(rest.empty() ? "-" : rest[0], in, lines, err)) return 2;

    TMML compiler;
    RecordingPane pane;
    compiler.Compile(lines, pane);

    std::ostringstream buffer;
    for (const auto& memo : pane.Memo) buffer << "{\"memo\":" << JsonString(memo) << "}\n";
    for (int port = 0; port < TMidis::PortCount; ++port) {
        const TMidiElements& elements = compiler.PortAt(port).Elements;
        const std::vector<double> at = withAt ? SendTimes(elements, compiler.PortAt(port).Tempo) : std::vector<double>{};
        for (int i = 0; i < elements.Count(); ++i)
            WriteEvent(buffer, port + 1, elements.Items(i), withAt ? &at[static_cast<std::size_t>(i)] : nullptr);
    }
    for (int port = 0; port < TMidis::PortCount; ++port)
        buffer << "{\"player\":" << port + 1 << ",\"tempo\":" << compiler.PortAt(port).Tempo << "}\n";
    if (!pane.ErrorText.empty()) buffer << "{\"error\":" << JsonString(pane.ErrorText) << "}\n";
    out << buffer.str();
    out.flush();
    return pane.ErrorText.empty() ? 0 : 1;
}
