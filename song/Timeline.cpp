#include "song/Timeline.h"

#include <algorithm>

std::vector<double> SendTimes(const TMidiElements& list, int startTempo)
{
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(list.Count()));
    // Whole segments are summed in long double from the last tempo change, so a long piece with
    // many tempo changes does not gather rounding error event by event.
    long double segmentMs = 0.0L;   // milliseconds at the start of the current tempo segment
    double segmentTime = 0.0;       // the Time at which it starts
    int tempo = std::max(startTempo, 1);
    for (int i = 0; i < list.Count(); ++i) {
        const TMidiElement& e = list.Items(i);
        const double time = std::max(e.Time, segmentTime);
        const long double ms = segmentMs + static_cast<long double>(time - segmentTime) * 60.0L / tempo;
        // A player sends an item only after every item before it, whatever their Times say: an
        // event whose Time lies a rounding error before its predecessor's goes out with it.
        times.push_back(times.empty() ? static_cast<double>(ms) : std::max(static_cast<double>(ms), times.back()));
        if (e.Kind == ekTempo) {
            segmentMs = ms;
            segmentTime = time;
            tempo = std::max(static_cast<int>(e.Tempo), 1);
        }
    }
    return times;
}

std::array<std::vector<double>, TSong::PortCount> SendTimes(const TSong& song)
{
    std::array<std::vector<double>, TSong::PortCount> times;
    for (std::size_t p = 0; p < times.size(); ++p) times[p] = SendTimes(song.Ports[p], song.Tempos[p]);
    return times;
}
