#include "song/Tracks.h"

#include <algorithm>

#include "song/Timeline.h"

namespace {
constexpr std::int32_t TicksPerBeat = 480;
constexpr std::int32_t BeatsPerMeasure = 4;

bool IsChannelMessage(const TMidiElement& e) { return e.Kind == ekShortMessage && e.Status >= 0x80 && e.Status < 0xF0; }

bool IsProgramChange(const TMidiElement& e) { return e.Kind == ekShortMessage && (e.Status & 0xF0) == 0xC0; }

bool IsTrackNumber(int track) { return track >= 1 && track <= TTrackSet::MaxTrack; }

// ---- Reading a track list ----

// A blank around an item: a space, a tab, or the ideographic space a Japanese input method types.
constexpr std::string_view IdeographicSpace = "\xE3\x80\x80";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text)
{
    for (;;) {
        if (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
        else if (text.starts_with(IdeographicSpace)) text.remove_prefix(IdeographicSpace.size());
        else break;
    }
    for (;;) {
        if (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
        else if (text.ends_with(IdeographicSpace)) text.remove_suffix(IdeographicSpace.size());
        else return text;
    }
}

// How an item is named in a message: whole when short, else its start, cut at a character
// boundary, so that a pasted page of text does not become the message.
std::string Quoted(std::string_view item)
{
    constexpr std::size_t MaxShown = 32;
    if (item.size() <= MaxShown) return std::string(item);
    std::size_t cut = MaxShown;
    while (cut > 0 && (static_cast<unsigned char>(item[cut]) & 0xC0) == 0x80) --cut;
    return std::string(item.substr(0, cut)) + "…";
}

// A run of decimal digits; anything above MaxTrack reads as MaxTrack + 1, so no length of
// digits overflows. Nothing for an empty run or any other character.
std::optional<int> ReadNumber(std::string_view digits)
{
    if (digits.empty()) return std::nullopt;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = std::min(value * 10 + (c - '0'), TTrackSet::MaxTrack + 1);
    }
    return value;
}

// One item, "3" or "3-5", added to tracks; false with the message in error.
bool ReadItem(std::string_view item, TTrackSet& tracks, std::string& error)
{
    const std::size_t dash = item.find('-');
    const std::optional<int> from = ReadNumber(TrimBlanks(item.substr(0, dash)));
    const std::optional<int> to =
        dash == std::string_view::npos ? from : ReadNumber(TrimBlanks(item.substr(dash + 1)));
    if (!from || !to) {
        error = "トラックの指定が正しくありません: " + Quoted(item);
        return false;
    }
    if (!IsTrackNumber(*from) || !IsTrackNumber(*to)) {
        error = "トラック番号は 1 から " + std::to_string(TTrackSet::MaxTrack) + " までです: ";
        error += Quoted(item);
        return false;
    }
    if (*from > *to) {
        error = "トラックの範囲が逆になっています: " + Quoted(item);
        return false;
    }
    for (int track = *from; track <= *to; ++track) tracks.Add(track);
    return true;
}
}  // namespace

std::vector<int> TTrackSet::Numbers() const
{
    std::vector<int> numbers;
    for (int track = 1; track <= MaxTrack; ++track)
        if (Contains(track)) numbers.push_back(track);
    return numbers;
}

TTrackSet TTrackSet::Complement() const
{
    TTrackSet complement;
    for (int track = 1; track <= MaxTrack; ++track)
        if (!Contains(track)) complement.Add(track);
    return complement;
}

std::optional<TTrackSet> ParseTrackList(std::string_view text, std::string& error)
{
    const std::string_view all = TrimBlanks(text);
    if (all.empty()) {
        error = "トラックが指定されていません";
        return std::nullopt;
    }
    TTrackSet tracks;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = all.find(',', start);
        const std::size_t length = comma == std::string_view::npos ? all.npos : comma - start;
        const std::string_view item = TrimBlanks(all.substr(start, length));
        if (item.empty()) {
            // An empty item has nothing to name: the whole list shows where the comma is extra.
            error = "トラックの指定が正しくありません: " + Quoted(all);
            return std::nullopt;
        }
        if (!ReadItem(item, tracks, error)) return std::nullopt;
        if (comma == std::string_view::npos) return tracks;
        start = comma + 1;
    }
}

TTrackSet SilencedTracks(const TTrackSet& muted, const TTrackSet& soloed)
{
    TTrackSet silenced = muted;
    if (!soloed.Empty()) silenced |= soloed.Complement();
    return silenced;
}

std::vector<TTrackSummary> TrackSummaries(const TSong& song)
{
    // Per track, the earliest event of each kind over all four ports in playing order: a track
    // that #ASSIGN moves to another port later still belongs to the port it starts on. Serials
    // count across the ports, so CompareElements orders events of different lists too.
    struct TFirst {
        const TMidiElement* Event = nullptr;
        int Port = 0;
        void Offer(const TMidiElement& e, int port)
        {
            if (Event == nullptr || CompareElements(e, *Event) < 0) {
                Event = &e;
                Port = port;
            }
        }
    };
    struct TFound {
        TFirst Any, Channel, Program;
        int Notes = 0;
    };
    std::array<TFound, TTrackSet::MaxTrack + 1> found{};
    for (int port = 0; port < TSong::PortCount; ++port) {
        const TMidiElements& list = song.Ports[static_cast<std::size_t>(port)];
        for (int i = 0; i < list.Count(); ++i) {
            const TMidiElement& e = list.Items(i);
            if (!IsTrackNumber(e.Track)) continue;
            TFound& track = found[static_cast<std::size_t>(static_cast<int>(e.Track))];
            track.Any.Offer(e, port);
            if (IsChannelMessage(e)) track.Channel.Offer(e, port);
            if (IsProgramChange(e)) track.Program.Offer(e, port);
            if (IsNoteOn(e)) ++track.Notes;
        }
    }
    std::vector<TTrackSummary> summaries;
    for (int number = 1; number <= TTrackSet::MaxTrack; ++number) {
        const TFound& track = found[static_cast<std::size_t>(number)];
        if (track.Any.Event == nullptr) continue;
        TTrackSummary summary;
        summary.Track = number;
        summary.Port = track.Any.Port;
        if (track.Channel.Event != nullptr) summary.Channel = track.Channel.Event->Status & 0x0F;
        else summary.Channel = -1;
        if (track.Program.Event != nullptr) summary.Program = track.Program.Event->Data1;
        summary.Notes = track.Notes;
        summaries.push_back(summary);
    }
    return summaries;
}

TTrackSet TracksOf(const TSong& song)
{
    TTrackSet tracks;
    for (const TMidiElements& list : song.Ports)
        for (int i = 0; i < list.Count(); ++i) tracks.Add(list.Items(i).Track);
    return tracks;
}

void SilenceTracks(TSong& song, const TTrackSet& silenced)
{
    if (silenced.Empty()) return;
    for (TMidiElements& list : song.Ports) {
        const auto silent = [&silenced](const TMidiElement& e) {
            return IsNoteMessage(e) && silenced.Contains(e.Track);
        };
        int first = 0;
        while (first < list.Count() && !silent(list.Items(first))) ++first;
        if (first == list.Count()) continue;  // nothing to take out: the list is left as it is
        // The kept events are moved, in their order, into a new list: the order stays the sorted one.
        TMidiElements kept;
        kept.Reserve(list.Count());
        for (int i = 0; i < list.Count(); ++i)
            if (!silent(list.Items(i))) kept.Add(std::move(list.Items(i)));
        list.Swap(kept);
    }
}

std::optional<TTickRange> LinesRange(const TPortLists& lists, int firstLine, int lastLine)
{
    if (firstLine > lastLine) std::swap(firstLine, lastLine);
    std::optional<TTickRange> range;
    for (const TMidiElements* list : lists.Lists) {
        for (int i = 0; i < list->Count(); ++i) {
            const TMidiElement& e = list->Items(i);
            const std::int32_t line = e.TextLine();
            // Line 0 is an event of no line, never one the user selected.
            if (line == 0 || line < firstLine || line > lastLine) continue;
            if (!range) {
                range = TTickRange{e.Tick, e.Tick};
            } else {
                range->From = std::min(range->From, e.Tick);
                range->To = std::max(range->To, e.Tick);
            }
        }
    }
    return range;
}

TMeasureBeat MeasureBeatAt(std::int32_t tick)
{
    tick = std::max(tick, 0);
    constexpr std::int32_t TicksPerMeasure = TicksPerBeat * BeatsPerMeasure;
    return TMeasureBeat{tick / TicksPerMeasure + 1, tick % TicksPerMeasure / TicksPerBeat + 1};
}

TSongClock::TSongClock(const TMidiElements& list, int startTempo)
{
    if (list.Count() == 0) return;
    // The player's own send times at the tempo events and at the last event are where the
    // segments meet, so the clock agrees with SendTimes at each of them. Inside a segment Time
    // grows in step with Tick, so the milliseconds follow the ticks in a straight line between
    // the two ends; the ends are the events' own Tick and Time, whatever their ratio.
    TSendClock send(startTempo);
    segments_.push_back(TSegment{0.0, 0.0, 0.0});
    double endMs = 0.0;
    int lastTempo = std::max(startTempo, 1);
    for (int i = 0; i < list.Count(); ++i) {
        const TMidiElement& e = list.Items(i);
        endMs = send.Next(e);
        if (e.Kind == ekTempo) {
            segments_.push_back(TSegment{static_cast<double>(e.Tick), endMs, 0.0});
            lastTempo = std::max(static_cast<int>(e.Tempo), 1);
        }
    }
    lengthMs_ = endMs;
    const double endTick = static_cast<double>(list.Last().Tick);
    for (std::size_t k = 0; k < segments_.size(); ++k) {
        const double toTick = k + 1 < segments_.size() ? segments_[k + 1].Tick : endTick;
        const double toMs = k + 1 < segments_.size() ? segments_[k + 1].Ms : endMs;
        TSegment& segment = segments_[k];
        if (toTick > segment.Tick) segment.MsPerTick = (toMs - segment.Ms) / (toTick - segment.Tick);
    }
    // The last segment has no length when a tempo event is the last tick: past the end it goes
    // on at that tempo, with the list's own ratio of Time to Tick (the nominal one when every
    // event is at tick 0).
    TSegment& last = segments_.back();
    if (!(last.Tick < endTick)) {
        const double timePerTick =
            endTick > 0.0 && list.Last().Time > 0.0 ? list.Last().Time / endTick : 1000.0 / TicksPerBeat;
        last.MsPerTick = timePerTick * 60.0 / lastTempo;
    }
}

double TSongClock::MsAt(double tick) const
{
    if (segments_.empty()) return 0.0;
    if (!(tick > 0.0)) tick = 0.0;  // negative, and NaN
    // The last segment starting at or before the tick: of several at one tick, the last tempo set there.
    auto after = std::upper_bound(segments_.begin(), segments_.end(), tick,
                                  [](double t, const TSegment& s) { return t < s.Tick; });
    const TSegment& segment = *std::prev(after);
    return segment.Ms + (tick - segment.Tick) * segment.MsPerTick;
}

double TSongClock::LengthMs() const { return lengthMs_; }

void TSoundingTracks::Follow(const TPortLists& lists, const std::array<int, TSong::PortCount>& sent)
{
    std::array<int, TSong::PortCount> upTo{};
    for (std::size_t p = 0; p < upTo.size(); ++p) upTo[p] = std::clamp(sent[p], 0, lists.Lists[p]->Count());
    for (std::size_t p = 0; p < upTo.size(); ++p) {
        if (upTo[p] < scanned_[p]) {
            // The players went back (a seek, a new song): what was sounding was ended.
            Restart(upTo);
            return;
        }
    }
    for (std::size_t p = 0; p < upTo.size(); ++p) {
        const TMidiElements& list = *lists.Lists[p];
        for (int i = scanned_[p]; i < upTo[p]; ++i) {
            const TMidiElement& e = list.Items(i);
            if (!IsNoteMessage(e) || !IsTrackNumber(e.Track)) continue;
            const auto track = static_cast<std::size_t>(static_cast<int>(e.Track));
            if (IsNoteOn(e)) {
                ++sounding_[track];
                lastLine_[track] = e.Line;
            } else if (sounding_[track] > 0) {
                --sounding_[track];
            }
        }
        scanned_[p] = upTo[p];
    }
}

void TSoundingTracks::Restart(const std::array<int, TSong::PortCount>& sent)
{
    for (std::size_t p = 0; p < scanned_.size(); ++p) scanned_[p] = std::max(sent[p], 0);
    sounding_.fill(0);
    lastLine_.fill(0);
}

std::vector<int> TSoundingTracks::Lines(const TTrackSet& silenced) const
{
    std::vector<int> lines;
    for (std::size_t track = 1; track < sounding_.size(); ++track)
        if (sounding_[track] > 0 && lastLine_[track] > 0 && !silenced.Contains(static_cast<int>(track)))
            lines.push_back(lastLine_[track]);
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    return lines;
}
