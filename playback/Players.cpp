// TMidis: the four port players and what concerns the whole song.
#include <cstddef>

#include "playback/Players.h"

TMidis::TMidis(TMidiOutService* service, TClock* clock)
{
    for (auto& player : items_) player = std::make_unique<TMidi>(service, clock);
}

TMidi& TMidis::Items(int port) const
{
    if (port < 0 || port >= PortCount)
        RaiseIndexError(port);
    return *items_[static_cast<std::size_t>(port)];
}

void TMidis::StartAll()
{
    // One instant for all four, so that the time one port takes to start does not put it behind
    // the others for the rest of the song.
    const std::uint64_t now = items_[0]->Clock().Now();
    for (const auto& player : items_) player->Start(now);
}

void TMidis::ResumeAll()
{
    // A port that has already played to its end has nothing to resume: resuming it would only
    // send its last event once more.
    const std::uint64_t now = items_[0]->Clock().Now();
    for (const auto& player : items_)
        if (player->Elements.Count() != 0 && !player->Finished) player->Resume(now);
}

void TMidis::StopAll()
{
    for (const auto& player : items_) player->Stop();
}

void TMidis::Seek(std::int32_t target)
{
    StopAll();
    // Every port continues from one common position, the earliest at which any of them has
    // something to play, so the ports stay aligned: the others wait out the difference.
    double restart = -1.0;
    for (const auto& player : items_) {
        const double next = player->SeekTo(target);
        if (next > 0.0 && (restart < 0.0 || next < restart)) restart = next;
    }
    for (const auto& player : items_) player->Position = restart;
    ResumeAll();
}

bool TMidis::AllFinished() const
{
    for (const auto& player : items_)
        if (player->Elements.Count() != 0 && player->IsOpen() && !player->Finished) return false;
    return true;
}

TPortLists TMidis::Lists() const
{
    TPortLists lists{};
    for (std::size_t p = 0; p < items_.size(); ++p) lists.Lists[p] = &items_[p]->Elements;
    return lists;
}

bool TMidis::IsEmpty() const { return Lists().IsEmpty(); }

std::int32_t TMidis::SongLength() const { return Lists().Length(); }

int TMidis::LongestPort() const { return Lists().LongestPort(); }

void TMidis::Reopen(const std::array<int, PortCount>& devices)
{
    // Every port is stopped and closed before its list is replaced, so no timer reads a list while
    // it changes, and a changed assignment takes effect now.
    for (int i = 0; i < PortCount; ++i) {
        TMidi& player = Items(i);
        player.Stop();
        player.Close();
        if (devices[static_cast<std::size_t>(i)] >= 0) player.Open(devices[static_cast<std::size_t>(i)]);
    }
}

void TMidis::Load(const TSong& song)
{
    for (int i = 0; i < PortCount; ++i) {
        TMidi& player = Items(i);
        player.Elements = song.Ports[static_cast<std::size_t>(i)];
        player.SetTempo(song.Tempos[static_cast<std::size_t>(i)]);
    }
}

std::array<int, TMidis::PortCount> TMidis::Tempos() const
{
    std::array<int, PortCount> tempos{};
    for (int i = 0; i < PortCount; ++i) tempos[static_cast<std::size_t>(i)] = Items(i).Tempo;
    return tempos;
}
