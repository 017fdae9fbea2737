#include "song/Timeline.h"

#include <algorithm>

TSendClock::TSendClock(int startTempo) : tempo_(std::max(startTempo, 1)) {}

double TSendClock::Next(const TMidiElement& e)
{
    const double time = std::max(e.Time, segmentTime_);
    const long double ms = segmentMs_ + static_cast<long double>(time - segmentTime_) * 60.0L / tempo_;
    // A player sends an item only after every item before it, whatever their Times say: an
    // event whose Time lies a rounding error before its predecessor's goes out with it.
    last_ = first_ ? static_cast<double>(ms) : std::max(static_cast<double>(ms), last_);
    first_ = false;
    if (e.Kind == ekTempo) {
        segmentMs_ = ms;
        segmentTime_ = time;
        tempo_ = std::max(static_cast<int>(e.Tempo), 1);
    }
    return last_;
}

std::vector<double> SendTimes(const TMidiElements& list, int startTempo)
{
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(list.Count()));
    TSendClock clock(startTempo);
    for (int i = 0; i < list.Count(); ++i) times.push_back(clock.Next(list.Items(i)));
    return times;
}

std::array<std::vector<double>, TSong::PortCount> SendTimes(const TSong& song)
{
    std::array<std::vector<double>, TSong::PortCount> times;
    for (std::size_t p = 0; p < times.size(); ++p) times[p] = SendTimes(song.Ports[p], song.Tempos[p]);
    return times;
}
