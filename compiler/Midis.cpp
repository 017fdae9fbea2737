#include <string>

#include "MMLtoMID.h"

TMidis::TMidis()
{
    for (auto& player : items_) player = std::make_unique<TMidi>();
}

TMidi& TMidis::Items(int port) const
{
    if (port < 0 || port >= PortCount)
        throw Exception("リストのインデックスが範囲を超えています (" + std::to_string(port) + ")");
    return *items_[static_cast<std::size_t>(port)];
}

namespace {
std::int32_t LastTick(const TMidi& player)
{
    return player.Elements.Count() == 0 ? 0 : player.Elements.Last().Tick;
}
}  // namespace

std::int32_t TMidis::SongLength() const
{
    std::int32_t length = 0;
    for (const auto& player : items_) length = std::max(length, LastTick(*player));
    return length;
}

int TMidis::LongestPort() const
{
    // "Not greater than" rather than "less than": on a tie the later port wins, so four empty
    // lists answer port index 3.
    int best = 0;
    for (int j = 1; j < PortCount; ++j)
        if (LastTick(Items(best)) <= LastTick(Items(j))) best = j;
    return best;
}

bool TMidis::IsEmpty() const
{
    for (const auto& player : items_)
        if (player->Elements.Count() != 0) return false;
    return true;
}
