#include "song/Song.h"

#include <algorithm>

bool TPortLists::IsEmpty() const
{
    return std::all_of(Lists.begin(), Lists.end(), [](const TMidiElements* list) { return list->Count() == 0; });
}

std::int32_t TPortLists::Length() const
{
    std::int32_t length = 0;
    for (const TMidiElements* list : Lists) length = std::max(length, LastTick(*list));
    return length;
}

int TPortLists::LongestPort() const
{
    // "Not greater than" rather than "less than": on a tie the later port wins.
    int best = 0;
    for (int j = 1; j < TSong::PortCount; ++j)
        if (LastTick(*Lists[static_cast<std::size_t>(best)]) <= LastTick(*Lists[static_cast<std::size_t>(j)])) best = j;
    return best;
}

namespace {
TPortLists ListsOf(const TSong& song)
{
    TPortLists lists{};
    for (std::size_t p = 0; p < lists.Lists.size(); ++p) lists.Lists[p] = &song.Ports[p];
    return lists;
}
}  // namespace

bool TSong::IsEmpty() const { return ListsOf(*this).IsEmpty(); }

std::int32_t TSong::Length() const { return ListsOf(*this).Length(); }

int TSong::LongestPort() const { return ListsOf(*this).LongestPort(); }
