// How fast a large piece compiles: about 1 MB of MML over many tracks (notes with lengths, dots,
// ties, accidentals, octave changes, rests), compiled and sorted. Reports MB/s and events/s.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "MMLtoMID.h"

namespace {

class SilentPane : public TMessagePane {
public:
    void Clear() override {}
    void Add(const std::string&) override {}
    void ShowError(const std::string& text) override { Error = text; }
    std::string Error;
};

std::string GeneratePiece(std::size_t bytes)
{
    std::mt19937 random(20261210);
    const char* letters = "cdefgab";
    const char* lengths[] = {"4", "8", "8.", "16", "2", "4^16", "*120", "", "8", "4."};
    std::string text;
    int track = 1;
    while (text.size() < bytes) {
        const std::string number = std::to_string(track);
        text += '[';
        text += number;
        text += "] o3 l8 // track ";
        text += number;
        text += "\r\n";
        int octave = 3;
        for (int bar = 0; bar < 64; ++bar) {
            for (int n = 0; n < 8; ++n) {
                const auto r = static_cast<unsigned>(random());
                if (r % 11 == 0) {
                    text += "r";
                } else {
                    text += letters[r % 7];
                    if (r % 13 == 0) text += "+";
                    if (r % 17 == 0) text += "-";
                }
                text += lengths[(r >> 8) % 10];
                if ((r >> 12) % 9 == 0 && octave < 6) {
                    text += " <";
                    ++octave;
                } else if ((r >> 12) % 9 == 1 && octave > 1) {
                    text += " >";
                    --octave;
                }
                text += ' ';
            }
            text += "\r\n";
        }
        track = track % 128 + 1;
    }
    return text;
}

void CompileLargePiece(benchmark::State& state)
{
    const std::string piece = GeneratePiece(1 << 20);
    TMML compiler;
    SilentPane pane;
    std::int64_t events = 0;
    for (auto _ : state) {
        compiler.CompileText(piece, pane);
        events = 0;
        for (int port = 0; port < TMidis::PortCount; ++port) events += compiler.PortAt(port).Elements.Count();
    }
    if (!pane.Error.empty()) state.SkipWithError(pane.Error.c_str());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(piece.size()));
    state.counters["events"] = static_cast<double>(events);
    state.counters["events/s"] =
        benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(CompileLargePiece)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
