// TMidis: the four port players and what concerns the whole song.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "playback/Players.h"

namespace {
// Whether two events set the same thing on a device.
bool SameMessage(const TMidiElement& a, const TMidiElement& b)
{
    if (a.Kind != b.Kind) return false;
    switch (a.Kind) {
    case ekShortMessage: return a.Status == b.Status && a.Data1 == b.Data1 && a.Data2 == b.Data2;
    case ekSysEx: return a.SysExData.Bytes() == b.SysExData.Bytes();
    case ekTempo: return a.Tempo == b.Tempo;
    case ekWait: return a.WaitMs == b.WaitMs;
    default: return true;
    }
}

// Whether the events a seek to target replays (everything but notes, in order) are the same in
// both lists.
bool SameSetup(const TMidiElements& before, const TMidiElements& after, std::int32_t target)
{
    int i = 0;
    int j = 0;
    for (;;) {
        while (i < before.Count() && before.Items(i).Tick < target && IsNoteMessage(before.Items(i))) ++i;
        while (j < after.Count() && after.Items(j).Tick < target && IsNoteMessage(after.Items(j))) ++j;
        const bool endBefore = i == before.Count() || before.Items(i).Tick >= target;
        const bool endAfter = j == after.Count() || after.Items(j).Tick >= target;
        if (endBefore || endAfter) return endBefore && endAfter;
        if (!SameMessage(before.Items(i), after.Items(j))) return false;
        ++i;
        ++j;
    }
}

// The Time of a tick over the four lists: that of the events at the tick (the earliest, should
// rounding part them), else interpolated between the nearest events around it, from the song's
// start (tick 0, Time 0) when none lies before it. Tick and Time are not taken to keep a fixed
// ratio.
double TimeAtTick(const TPortLists& lists, std::int32_t tick)
{
    bool exact = false;
    double exactTime = 0.0;
    std::int32_t prevTick = 0;
    double prevTime = 0.0;
    bool hasNext = false;
    std::int32_t nextTick = 0;
    double nextTime = 0.0;
    for (const TMidiElements* list : lists.Lists) {
        if (list == nullptr || list->Count() == 0) continue;
        const int i = TMidi::IndexAtTick(*list, tick);
        if (i < list->Count()) {
            const TMidiElement& e = list->Items(i);
            if (e.Tick == tick) {
                exactTime = exact ? std::min(exactTime, e.Time) : e.Time;
                exact = true;
            } else if (!hasNext || e.Tick < nextTick) {
                hasNext = true;
                nextTick = e.Tick;
                nextTime = e.Time;
            }
        }
        if (i > 0) {
            const TMidiElement& e = list->Items(i - 1);
            if (e.Tick >= prevTick) {
                prevTick = e.Tick;
                prevTime = e.Time;
            }
        }
    }
    if (exact) return exactTime;
    if (hasNext && nextTick > prevTick)
        return prevTime + (nextTime - prevTime) * static_cast<double>(tick - prevTick) / static_cast<double>(nextTick - prevTick);
    // Past every event: at the pace of the song so far.
    return prevTick > 0 ? prevTime * static_cast<double>(tick) / static_cast<double>(prevTick) : prevTime;
}

// The tick of a Time in one list, interpolated between the events around it (from tick 0, Time 0
// before the first); at or past the last event, the last event's tick.
double TickAtTime(const TMidiElements& list, double time)
{
    // The first event later than time (Times rise with the list, give or take a rounding error).
    int low = 0;
    int high = list.Count();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (list.Items(middle).Time <= time)
            low = middle + 1;
        else
            high = middle;
    }
    double prevTick = 0.0;
    double prevTime = 0.0;
    if (low > 0) {
        prevTick = list.Items(low - 1).Tick;
        prevTime = list.Items(low - 1).Time;
    }
    if (low == list.Count()) return prevTick;
    const TMidiElement& next = list.Items(low);
    if (!(next.Time > prevTime)) return prevTick;
    return prevTick + (time - prevTime) * (next.Tick - prevTick) / (next.Time - prevTime);
}
}  // namespace

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
    PlaceAt(target, false);
    ResumeAll();
}

void TMidis::PlaceAt(std::int32_t target, bool exact, const std::array<bool, PortCount>& unchanged)
{
    bool replayed = false;
    for (std::size_t p = 0; p < items_.size(); ++p)
        if (items_[p]->SeekTo(target, !unchanged[p]) > 0.0) replayed = true;
    // Every port continues from one common position, the earliest at which any of them has
    // something to play, so the ports stay aligned: the others wait out the difference. A port
    // whose first event lies after the target counts too, or it would play that event late, at
    // another port's next event. When no port has anything before the target, all start from
    // their beginning.
    double restart = -1.0;
    if (replayed) {
        for (const auto& player : items_) {
            if (player->Finished || player->Elements.Count() == 0) continue;
            const double next = player->Elements.Items(player->Index).Time;
            if (restart < 0.0 || next < restart) restart = next;
        }
    }
    // A new song in place of the one playing goes on from the very moment the old one stood at,
    // so the rhythm carries on across the swap.
    if (exact) restart = TimeAtTick(Lists(), target);
    for (const auto& player : items_) player->Position = restart;
    for (const auto& player : items_) player->RestartLoop();
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
        player.ForgetNotes();
    }
    ApplyLoop(false);
}

std::array<int, TMidis::PortCount> TMidis::Tempos() const
{
    std::array<int, PortCount> tempos{};
    for (int i = 0; i < PortCount; ++i) tempos[static_cast<std::size_t>(i)] = Items(i).Tempo;
    return tempos;
}

// ---- What a musician does while the music plays ----

void TMidis::SetSilencedTracks(const TTrackSet& silenced)
{
    {
        std::lock_guard lock(settingsMutex_);
        silenced_ = silenced;
    }
    for (const auto& player : items_) player->SetSilencedTracks(silenced);
}

TTrackSet TMidis::SilencedTracks() const
{
    std::lock_guard lock(settingsMutex_);
    return silenced_;
}

void TMidis::SetLoop(std::optional<TTickRange> range, int passes)
{
    {
        std::lock_guard lock(settingsMutex_);
        loop_ = range;
        passes_ = std::max(passes, 0);
    }
    ApplyLoop(true);
}

std::optional<TTickRange> TMidis::Loop() const
{
    std::lock_guard lock(settingsMutex_);
    return loop_;
}

int TMidis::LoopRestarts() const
{
    // The ports jump together; one without a device never does.
    int restarts = 0;
    for (const auto& player : items_) restarts = std::max(restarts, player->LoopRestarts());
    return restarts;
}

int TMidis::Leader() const
{
    int leader = -1;
    for (int port = 0; port < PortCount; ++port) {
        const TMidi& player = Items(port);
        if (player.Elements.Count() == 0 || !player.IsOpen()) continue;
        if (leader < 0 || LastTick(player.Elements) >= LastTick(Items(leader).Elements)) leader = port;
    }
    return leader >= 0 ? leader : LongestPort();
}

TMidi::TLoopPoints TMidis::LoopPoints() const
{
    std::optional<TTickRange> range;
    int passes = 0;
    {
        std::lock_guard lock(settingsMutex_);
        range = loop_;
        passes = passes_;
    }
    TMidi::TLoopPoints points;
    if (!range) return points;
    const TPortLists lists = Lists();
    const std::int32_t length = lists.Length();
    const std::int32_t to = std::clamp(range->To, 0, length);
    const std::int32_t from = std::clamp(range->From, 0, to);
    if (from >= to) return points;
    points.FromTick = from;
    points.ToTick = to;
    points.EndTick = length;
    points.RestartTime = TimeAtTick(lists, from);
    points.ToTime = TimeAtTick(lists, to);
    points.EndTime = TimeAtTick(lists, length);
    points.Passes = passes;
    // A jump must move the song back, or a pass would take no time and never end.
    points.On = points.ToTime > points.RestartTime;
    return points;
}

void TMidis::ApplyLoop(bool live)
{
    const TMidi::TLoopPoints points = LoopPoints();
    if (!live) {
        for (const auto& player : items_) player->SetLoop(points, false);
        return;
    }
    // One decision for all ports, from the song position, so that they jump together.
    TMidi& leader = Items(Leader());
    const std::uint64_t now = leader.Clock().Now();
    const bool playing = leader.IsPlaying();
    const double position = leader.PositionAt(now);
    const bool pastTo = points.On && position > points.ToTime;
    for (const auto& player : items_) player->SetLoop(points, pastTo);
    // A port whose part ended while the song goes on comes back with the loop. Once the song is
    // over there is nothing to come back to.
    if (!points.On || leader.Finished) return;
    for (const auto& player : items_)
        if (player.get() != &leader) player->RejoinLoop(position, now, playing);
}

double TMidis::PositionTick() const
{
    const TMidi& leader = Items(Leader());
    if (leader.Elements.Count() == 0) return 0.0;
    const double tick = TickAtTime(leader.Elements, leader.PositionAt(leader.Clock().Now()));
    return std::clamp(tick, 0.0, static_cast<double>(SongLength()));
}

void TMidis::ContinueWith(const TSong& song)
{
    const double tick = PositionTick();
    bool playing = false;
    for (const auto& player : items_) playing = playing || player->IsPlaying();
    const auto target = static_cast<std::int32_t>(std::lround(tick));
    // A port whose setup before the target is the same in both songs needs none of it sent
    // again: its device has it from the old song. This is the usual case of an edit, and it
    // spares the pauses after a reset, which would otherwise stop the music for their length.
    std::array<bool, PortCount> unchanged{};
    for (std::size_t p = 0; p < items_.size(); ++p)
        unchanged[p] = SameSetup(items_[p]->Elements, song.Ports[p], target);
    StopAll();
    Load(song);
    PlaceAt(target, true, unchanged);
    if (playing) ResumeAll();
}
