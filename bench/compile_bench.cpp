// How fast a large piece compiles: about 1 MB of MML over many tracks (notes with lengths, dots,
// ties, accidentals, octave changes, rests), compiled and sorted. Reports MB/s and events/s.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/BenchPiece.h"

namespace {

using bench::GeneratePiece;

void CompileLargePiece(benchmark::State& state)
{
    const std::string piece = GeneratePiece(1 << 20);
    TMML compiler;
    std::int64_t events = 0;
    std::string error;
    for (auto _ : state) {
        TSong song = compiler.CompileText(piece);
        events = 0;
        for (const TMidiElements& list : song.Ports) events += list.Count();
        error = song.Error;
        // As a window that compiles again and again: the old song's memory serves the next one.
        compiler.Recycle(std::move(song));
    }
    // A broken piece shows instead of a fast figure.
    if (!error.empty()) state.SkipWithError(error.c_str());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(piece.size()));
    state.counters["events"] = static_cast<double>(events);
    state.counters["events/s"] =
        benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(CompileLargePiece)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
