#include "song/Song.h"

#include <algorithm>

bool TSong::IsEmpty() const
{
    return std::all_of(Ports.begin(), Ports.end(), [](const TMidiElements& list) { return list.Count() == 0; });
}

std::int32_t TSong::Length() const
{
    std::int32_t length = 0;
    for (const TMidiElements& list : Ports) length = std::max(length, LastTick(list));
    return length;
}

int TSong::LongestPort() const
{
    // "Not greater than" rather than "less than": on a tie the later port wins, so four empty
    // lists answer port index 3.
    int best = 0;
    for (int j = 1; j < PortCount; ++j)
        if (LastTick(Ports[static_cast<std::size_t>(best)]) <= LastTick(Ports[static_cast<std::size_t>(j)])) best = j;
    return best;
}
