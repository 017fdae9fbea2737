// The live re-compile as the window does it: a piece plays in real time on the recording output,
// and mid-song a changed text (one note different) is compiled and swapped in with
// TMidis::ContinueWith, which goes on from the same song position. Prints, as medians of several
// runs, for the 1 MB benchmark piece and examples/kaeru.mml:
//   compile  the compilation of the changed text (the old song plays on meanwhile);
//   swap     ContinueWith itself: stopping, taking the new lists, seeking to the position;
//   delay    what the swap adds to the music: the silence between the last note message the old
//            song sent and the first note-on of the new one, less the rest the music itself has
//            between those two notes.
//
// Run on an idle machine: build/release/bench/live_bench   (about a minute)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchPiece.h"
#include "compiler/Compiler.h"
#include "formats/Document.h"
#include "playback/Players.h"
#include "song/Tracks.h"
#include "tests/support/RecordingMidiOut.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

bool IsNote(const std::vector<std::uint8_t>& bytes)
{
    return bytes.size() == 3 && ((bytes[0] & 0xF0) == 0x80 || (bytes[0] & 0xF0) == 0x90);
}
bool IsNoteOn(const std::vector<std::uint8_t>& bytes) { return IsNote(bytes) && (bytes[0] & 0xF0) == 0x90 && bytes[2] > 0; }

// The events of a port's list that go out as messages, in the order the player sends them.
std::vector<const TMidiElement*> Sent(const TMidiElements& list)
{
    std::vector<const TMidiElement*> sent;
    for (int i = 0; i < list.Count(); ++i) {
        const TMidiElement& e = list.Items(i);
        if (e.Kind == ekShortMessage || (e.Kind == ekSysEx && !e.SysExData.empty())) sent.push_back(&e);
    }
    return sent;
}

struct TRun {
    double CompileMs = 0, SwapMs = 0, DelayMs = 0;
    bool Measured = false;
};

// One play: swap after `at` of music, listen for `after` more.
TRun RunOnce(const std::string& text, const std::string& changed, std::chrono::milliseconds at, std::chrono::milliseconds after)
{
    TRecordingMidiOut service(SystemClock(), TSong::PortCount);
    TMidis midis(&service, &SystemClock());
    midis.Reopen({0, 1, 2, 3});
    const TSong oldSong = TMML().CompileDocument(text);
    midis.Load(oldSong);
    midis.StartAll();
    std::this_thread::sleep_for(at);

    TRun run;
    auto start = Clock::now();
    const TSong newSong = TMML().CompileDocument(changed);
    run.CompileMs = MsSince(start);
    const std::uint64_t swapBegin = SystemClock().Now();
    start = Clock::now();
    midis.ContinueWith(newSong);
    run.SwapMs = MsSince(start);
    const std::uint64_t swapEnd = SystemClock().Now();
    const double position = midis.PositionTick();
    std::this_thread::sleep_for(after);
    midis.StopAll();

    // The old song's messages are each port's first sendable events, in order: the last note
    // among them, with its tick. The new song's first note-on after the swap is the first of the
    // new list at or after the position with those bytes.
    const auto messages = service.Messages();
    struct TNote {
        std::uint64_t Time = 0;
        double Ms = -1;  // song milliseconds of its tick, on its port's clock
    } lastOld, firstNew;
    for (int port = 0; port < TSong::PortCount; ++port) {
        const TSongClock oldClock(oldSong.Ports[static_cast<std::size_t>(port)], oldSong.Tempos[static_cast<std::size_t>(port)]);
        const TSongClock newClock(newSong.Ports[static_cast<std::size_t>(port)], newSong.Tempos[static_cast<std::size_t>(port)]);
        const auto oldSent = Sent(oldSong.Ports[static_cast<std::size_t>(port)]);
        const auto newSent = Sent(newSong.Ports[static_cast<std::size_t>(port)]);
        std::size_t index = 0;
        bool found = false;
        for (const auto& m : messages) {
            if (m.Device != port || m.Kind == TRecordingMidiOut::TMessage::Reset) continue;
            if (m.Time < swapBegin) {
                if (index < oldSent.size() && IsNote(m.Bytes) && m.Time >= lastOld.Time) {
                    lastOld.Time = m.Time;
                    lastOld.Ms = oldClock.MsAt(oldSent[index]->Tick);
                }
                ++index;
            } else if (m.Time >= swapEnd && !found && IsNoteOn(m.Bytes)) {
                found = true;
                for (const TMidiElement* e : newSent) {
                    if (e->Tick + 1 < position || e->Status != m.Bytes[0] || e->Data1 != m.Bytes[1] || e->Data2 != m.Bytes[2]) continue;
                    if (firstNew.Ms < 0 || m.Time < firstNew.Time) {
                        firstNew.Time = m.Time;
                        firstNew.Ms = newClock.MsAt(e->Tick);
                    }
                    break;
                }
            }
        }
    }
    if (lastOld.Ms < 0 || firstNew.Ms < 0) return run;
    const double silence = static_cast<double>(firstNew.Time - lastOld.Time) / 1000.0;
    run.DelayMs = silence - (firstNew.Ms - lastOld.Ms);
    run.Measured = true;
    return run;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// The text with one note letter changed: the first "c" after the middle becomes a "d".
std::string OneNoteChanged(std::string text, std::size_t from)
{
    const std::size_t at = text.find('c', from);
    if (at != std::string::npos) text[at] = 'd';
    return text;
}

void Report(const char* name, const std::string& text, const std::string& changed, int runs, std::chrono::milliseconds at)
{
    std::vector<double> compile, swap, delay;
    for (int i = 0; i < runs; ++i) {
        const TRun run = RunOnce(text, changed, at, std::chrono::milliseconds(1500));
        compile.push_back(run.CompileMs);
        swap.push_back(run.SwapMs);
        if (run.Measured) delay.push_back(run.DelayMs);
    }
    std::printf("%-26s compile %7.1f ms   swap %7.1f ms   delay %7.1f ms   (medians of %d runs; delay measured in %zu)\n",
                name, Median(compile), Median(swap), Median(delay), runs, delay.size());
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const std::string piece = bench::GeneratePiece(1 << 20);
    Report("1 MB benchmark piece", piece, OneNoteChanged(piece, piece.size() / 2), runs, std::chrono::milliseconds(2000));
    const std::string kaeru = ReadDocumentText(QUAVERLY_SOURCE_DIR "/examples/kaeru.mml");
    // A note of the melody's macro, which both of its tracks play.
    Report("examples/kaeru.mml", kaeru, OneNoteChanged(kaeru, kaeru.find("[Kaeru] l4 ") + 11), runs,
           std::chrono::milliseconds(2000));
    // The same without its sound-module resets, whose 60 ms waits a seek replays (one per port).
    std::string plain = kaeru;
    for (const char* reset : {"#INITGM(1)", "#INITGM(2)"})
        if (const std::size_t at = plain.find(reset); at != std::string::npos) plain.erase(at, std::string(reset).size());
    Report("kaeru.mml without #INITGM", plain, OneNoteChanged(plain, plain.find("[Kaeru] l4 ") + 11), runs,
           std::chrono::milliseconds(2000));
    std::printf("goals: 1 MB piece delay under 100 ms; kaeru delay under one timer period (10 ms)\n");
    return 0;
}
