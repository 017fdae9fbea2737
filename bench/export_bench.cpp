// How fast a compiled piece becomes a Standard MIDI File: the 1 MB benchmark piece, written with
// its tempo map (every port at one tempo) and converted to the fixed tempo (two players set to
// start at another tempo). Reports events/s and the file's size.
#include <benchmark/benchmark.h>

#include "bench/BenchPiece.h"
#include "formats/Smf.h"

namespace {

void ExportLargePiece(benchmark::State& state)
{
    const std::string piece = bench::GeneratePiece(1 << 20);
    TSong song = TMML().CompileText(piece);
    if (song.Failed()) {
        state.SkipWithError(song.Error.c_str());
        return;
    }
    const bool fixed = state.range(0) != 0;
    if (fixed) {
        song.Tempos[1] = 100;
        song.Tempos[3] = 100;
    }
    std::int64_t events = 0;
    for (const TMidiElements& list : song.Ports) events += list.Count();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const TSmfExport exported = ExportSmf(song);
        if (exported.FixedTempo != fixed) state.SkipWithError("the piece did not take the expected conversion");
        bytes = exported.Bytes.size();
        benchmark::DoNotOptimize(exported.Bytes.data());
    }
    state.SetLabel(fixed ? "fixed tempo" : "tempo map");
    state.counters["events"] = static_cast<double>(events);
    state.counters["events/s"] =
        benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["file_bytes"] = static_cast<double>(bytes);
}

}  // namespace

BENCHMARK(ExportLargePiece)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
