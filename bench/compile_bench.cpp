// How fast a large piece compiles: about 1 MB of MML over many tracks (notes with lengths, dots,
// ties, accidentals, octave changes, rests), compiled and sorted. Reports MB/s and events/s.
#include <benchmark/benchmark.h>

#include <string>

#include "BenchPiece.h"

namespace {

using bench::GeneratePiece;
using bench::SilentPane;

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
