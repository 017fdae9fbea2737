// How punctually the players send: a dense piece on four ports played in real time by the real
// players and timers into a recording device that timestamps every message. Each message is
// compared with the moment it was due. Prints the lateness (p50, p99, max), the drift at the end of
// the piece, the CPU time the playing took per second of music and how often the playback threads
// woke per second. A second run seeks to three quarters of the piece and plays on from there.
//
// Run on an idle machine: build/release/bench/playback_bench   (about 80 seconds)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "playback/Players.h"
#include "tests/support/RecordingMidiOut.h"

namespace {

constexpr int QuarterTicks = 480;
constexpr int FirstTempo = 240;
constexpr int SecondTempo = 180;
constexpr int ChangeQuarter = 120;   // 30 s at 240
constexpr int LastQuarter = 210;     // and 30 s more at 180
constexpr std::int32_t ChangeTick = ChangeQuarter * QuarterTicks;
constexpr std::int32_t EndTick = LastQuarter * QuarterTicks;

// The moment (microseconds from the start) at which a tick is due, by the piece's tempo map.
double IdealMicroseconds(std::int32_t tick)
{
    if (tick <= ChangeTick) return tick * 60e6 / (480.0 * FirstTempo);
    return ChangeTick * 60e6 / (480.0 * FirstTempo) + (tick - ChangeTick) * 60e6 / (480.0 * SecondTempo);
}

void Add(TMidiElements& list, TMidiElement e)
{
    e.Serial = list.Count();
    e.Time = e.Tick * 1000.0 / 480.0;
    list.Add(std::move(e));
}

void AddShort(TMidiElements& list, std::int32_t tick, int status, int data1, int data2)
{
    TMidiElement e;
    e.Kind = ekShortMessage;
    e.Tick = tick;
    e.Status = static_cast<std::uint8_t>(status);
    e.Data1 = static_cast<std::uint8_t>(data1);
    e.Data2 = static_cast<std::uint8_t>(data2);
    Add(list, std::move(e));
}

// 32nd notes on two channels of every port, an expression controller every eighth note, a program
// change and a sound-module reset at the start, and the tempo change half-way.
void BuildPiece(TMidis& midis)
{
    for (int port = 0; port < TMidis::PortCount; ++port) {
        TMidiElements& list = midis.Items(port).Elements;
        TMidiElement reset;
        reset.Kind = ekSysEx;
        reset.SysExData = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
        Add(list, std::move(reset));
        AddShort(list, 0, 0xC0, port * 8, 0);
        TMidiElement tempo;
        tempo.Kind = ekTempo;
        tempo.Tempo = FirstTempo;
        Add(list, tempo);
        tempo.Tick = ChangeTick;
        tempo.Tempo = SecondTempo;
        Add(list, tempo);
        for (std::int32_t tick = 0; tick < EndTick; tick += QuarterTicks / 8) {
            for (int channel = 0; channel < 2; ++channel) {
                const int key = 48 + (tick / 60 + port * 3 + channel * 7) % 36;
                AddShort(list, tick, 0x90 | channel, key, 90);
                AddShort(list, tick + QuarterTicks / 8, 0x80 | channel, key, 0);
            }
            if (tick % (QuarterTicks / 2) == 0) AddShort(list, tick, 0xB0, 11, 64 + tick / 240 % 64);
        }
        list.Sort();
        midis.Items(port).SetTempo(FirstTempo);
    }
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// How many times the threads other than this one went to sleep and were woken: the voluntary
// context switches of the whole process (exited threads included) less those of the calling
// thread, which only polls for the end.
long OtherThreadsWakeUps()
{
    rusage process{}, self{};
    getrusage(RUSAGE_SELF, &process);
    getrusage(RUSAGE_THREAD, &self);
    return process.ru_nvcsw - self.ru_nvcsw;
}

// Pairs each port's recorded messages with the events that made them and returns how late each
// was, in milliseconds, against the moment it was due: origin plus the music between originTick and
// the event's tick. Every port's recording ends with the 16 All Sound Off of its end, and what
// comes before the events played from firstIndex (a seek's replay and stop) is passed over.
std::vector<double> Lateness(const TRecordingMidiOut& out, TMidis& midis, const int firstIndex[], std::uint64_t origin,
                             std::int32_t originTick)
{
    std::vector<double> late;
    const auto messages = out.Messages();
    for (int port = 0; port < TMidis::PortCount; ++port) {
        const TMidiElements& list = midis.Items(port).Elements;
        std::vector<const TMidiElement*> played;
        for (int index = firstIndex[port]; index < list.Count(); ++index)
            if (list.Items(index).Kind != ekTempo) played.push_back(&list.Items(index));
        std::vector<std::uint64_t> times;
        for (const auto& m : messages)
            if (m.Device == port) times.push_back(m.Time);
        if (times.size() < played.size() + 16) {
            std::printf("port %d: %zu messages for %zu events\n", port + 1, times.size(), played.size());
            continue;
        }
        const std::size_t skip = times.size() - played.size() - 16;
        for (std::size_t i = 0; i < played.size(); ++i) {
            const double due = static_cast<double>(origin) + IdealMicroseconds(played[i]->Tick) - IdealMicroseconds(originTick);
            late.push_back((static_cast<double>(times[skip + i]) - due) / 1000.0);
        }
    }
    return late;
}

void Report(const char* title, std::vector<double> late)
{
    std::sort(late.begin(), late.end());
    const auto at = [&](double q) { return late[static_cast<std::size_t>(q * static_cast<double>(late.size() - 1))]; };
    std::printf("%s: %zu messages, lateness ms  p50 %.3f  p99 %.3f  max %.3f  (min %.3f)\n", title, late.size(), at(0.5),
                at(0.99), late.back(), late.front());
}

void WaitForEnd(TMidis& midis)
{
    while (!midis.AllFinished()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace

int main()
{
    TRecordingMidiOut out;
    TMidis midis(&out);
    for (int port = 0; port < TMidis::PortCount; ++port) midis.Items(port).Open(port);
    BuildPiece(midis);
    std::printf("piece: 4 ports, %.1f s, %d events per port\n", IdealMicroseconds(EndTick) / 1e6,
                midis.Items(0).Elements.Count());

    // The whole piece from the start.
    const double cpuBefore = CpuSeconds();
    const long wakeUpsBefore = OtherThreadsWakeUps();
    const std::uint64_t start = SystemClock().Now();
    midis.StartAll();
    WaitForEnd(midis);
    const double cpu = CpuSeconds() - cpuBefore;
    const long wakeUps = OtherThreadsWakeUps() - wakeUpsBefore;
    const double seconds = static_cast<double>(SystemClock().Now() - start) / 1e6;
    const int fromStart[TMidis::PortCount] = {0, 0, 0, 0};
    const auto late = Lateness(out, midis, fromStart, start, 0);
    Report("from the start", late);
    // The drift: how much later the messages of the last second come than those of the first.
    std::vector<double> first, last;
    {
        std::size_t k = 0;  // late[] holds the ports one after the other, each in list order
        for (int port = 0; port < TMidis::PortCount; ++port) {
            const TMidiElements& list = midis.Items(port).Elements;
            for (int index = 0; index < list.Count() && k < late.size(); ++index) {
                if (list.Items(index).Kind == ekTempo) continue;
                const double due = IdealMicroseconds(list.Items(index).Tick) / 1e6;
                if (due < 1.0) first.push_back(late[k]);
                if (due > IdealMicroseconds(EndTick) / 1e6 - 1.0) last.push_back(late[k]);
                ++k;
            }
        }
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("drift over the piece: %.3f ms (median lateness of the last second minus the first)\n",
                median(last) - median(first));
    std::printf("CPU: %.3f %% of one core (%.3f s in %.1f s)\n", 100.0 * cpu / seconds, cpu, seconds);
    std::printf("wake-ups of the playback threads: %.1f per second (%ld)\n", static_cast<double>(wakeUps) / seconds,
                wakeUps);

    // A seek to three quarters of the piece, then on to the end.
    out.ClearMessages();
    const std::int32_t target = (ChangeTick + EndTick) / 2 + 17;
    const std::uint64_t seekStart = SystemClock().Now();
    midis.Seek(target);
    const std::uint64_t resumed = SystemClock().Now();
    // Where each port went on from: its first event at or after the target. (Index has moved on
    // by now: the ports are playing again.)
    int fromSeek[TMidis::PortCount];
    std::int32_t restartTick = EndTick;
    for (int port = 0; port < TMidis::PortCount; ++port) {
        const TMidiElements& list = midis.Items(port).Elements;
        int index = 0;
        while (index < list.Count() && list.Items(index).Tick < target) ++index;
        fromSeek[port] = index;
        restartTick = std::min(restartTick, list.Items(index).Tick);
    }
    WaitForEnd(midis);
    std::printf("seek to tick %d took %.3f ms\n", target, static_cast<double>(resumed - seekStart) / 1000.0);
    // What the seek replayed went out at once, before the resume, and is not timed. The resume
    // happens inside Seek, so the clock of this run starts with the first message played after
    // it: those events were due at the very moment the ports resumed.
    const auto relative = Lateness(out, midis, fromSeek, resumed, restartTick);
    const double earliest = *std::min_element(relative.begin(), relative.end());
    const auto origin = static_cast<std::uint64_t>(static_cast<double>(resumed) + 1000.0 * earliest);
    Report("after the seek", Lateness(out, midis, fromSeek, origin, restartTick));
    return 0;
}
