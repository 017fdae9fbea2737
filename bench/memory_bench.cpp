// Peak resident memory of `quaverly-cli export`, a whole process, per event: the 1 MB benchmark
// piece compiled and written as a MIDI file, and a piece refused at the bound on events (a few
// bytes of nested repeats). Each runs once in a child process; its peak comes from the system's
// own count (wait4), its events from compiling the same text here.
//
// usage: memory_bench [QUAVERLY_CLI]   (by default the one built beside this program)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/BenchPiece.h"

namespace {

// Runs cli export on path; returns the child's peak resident memory in KiB and its exit status.
long PeakKiB(const std::string& cli, const std::string& path, int& status)
{
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stderr);
        execl(cli.c_str(), cli.c_str(), "export", path.c_str(), "-o", "/dev/null", static_cast<char*>(nullptr));
        _exit(127);
    }
    rusage usage{};
    int raw = 0;
    if (child < 0 || wait4(child, &raw, 0, &usage) != child) return -1;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return usage.ru_maxrss;
}

std::int64_t Events(const std::string& text)
{
    const TSong song = TMML().CompileDocument(text);
    std::int64_t events = 0;
    for (const TMidiElements& list : song.Ports) events += list.Count();
    return events;
}

void Report(const char* name, const std::string& cli, const std::string& text, std::int64_t events)
{
    char path[] = "/tmp/quaverly-memory-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return;
    close(fd);
    std::ofstream(path, std::ios::binary) << text;
    int status = 0;
    const long kib = PeakKiB(cli, path, status);
    unlink(path);
    std::printf("%-28s %9lld events  peak %8ld KiB  %6.1f bytes/event  (exit %d)\n", name,
                static_cast<long long>(events), kib, static_cast<double>(kib) * 1024.0 / static_cast<double>(events),
                status);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string cli = argc > 1 ? argv[1] : QUAVERLY_CLI;
    const std::string piece = bench::GeneratePiece(1 << 20);
    Report("1 MB piece, exported", cli, piece, Events(piece));
    // 256 * 256 * 64 notes of two events each: twice the bound, refused when it is reached.
    const std::string bound = "l64 |:256 |:256 |:64 c :| :| :|\n";
    Report("refused at the event bound", cli, bound, TMML::MaxEvents);
    std::printf("the bound's own records: %lld KiB\n",
                static_cast<long long>(TMML::MaxEvents) * static_cast<long long>(sizeof(TMidiElement)) / 1024);
    return 0;
}
