// How fast the built-in synthesizer renders a piece offline: a four-port General MIDI piece
// (examples/four-ports.mml, about a minute) rendered into a WAV file at 44.1 and 48 kHz. Prints
// the seconds of audio per second of wall-clock time and of CPU time, without the soundfont
// loading (reported on its own), best of three runs.
//
// Run on an idle machine: build/release/bench/render_bench [piece.mml]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "formats/Document.h"
#include "compiler/Compiler.h"
#include "devices/Render.h"

namespace {

double CpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string piece = argc > 1 ? argv[1] : QUAVERLY_SOURCE_DIR "/examples/four-ports.mml";
    const TSong song = TMML().CompileDocument(ReadDocumentText(piece));
    if (song.Failed()) std::fprintf(stderr, "%s\n", song.Error.c_str());
    int events = 0;
    for (const TMidiElements& list : song.Ports) events += list.Count();
    char path[] = "/tmp/quaverly-render-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 1;
    close(fd);

    std::printf("%s: %d events\n", piece.c_str(), events);
    for (const int rate : {44100, 48000}) {
        const TAudioRenderer renderer(song, {"", rate});
        double bestWall = 1e300, bestCpu = 1e300, load = 0.0, audio = 0.0;
        for (int run = 0; run < 3; ++run) {
            const double start = Now();
            double ready = 0.0, readyCpu = 0.0;
            const TRenderResult result = renderer.Write(path, [&](double fraction) {
                if (fraction == 0.0 && ready == 0.0) {
                    ready = Now();
                    readyCpu = CpuSeconds();
                }
                return true;
            });
            const double wall = Now() - ready, cpu = CpuSeconds() - readyCpu;
            audio = result.Seconds;
            load = ready - start;
            bestWall = std::min(bestWall, wall);
            bestCpu = std::min(bestCpu, cpu);
        }
        std::printf("%d Hz: %.1f s of audio in %.3f s wall / %.3f s CPU: %.0fx real time (%.0fx by CPU time); "
                    "soundfont load %.2f s\n",
                    rate, audio, bestWall, bestCpu, audio / bestWall, audio / bestCpu, load);
    }
    unlink(path);
    return 0;
}
