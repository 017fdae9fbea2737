#include "formats/Smf.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <utility>

#include "song/Timeline.h"

namespace {

constexpr int PortCount = TSong::PortCount;
constexpr int Division = 480;  // ticks per quarter note

const char* const DifferentTemposNote =
    "ポートごとにテンポが異なるため、固定テンポ (125) で時刻を変換して書き出しました";
const char* const UnwritableTempoNote =
    "MIDI ファイルのテンポで表せないテンポがあるため、固定テンポ (125) で時刻を変換して書き出しました";
const char* const CoarseMapNote =
    "テンポの変化に合わせると一部のイベントの時刻が 1 ミリ秒以上ずれるため、固定テンポ (125) で時刻を変換して書き出しました";

[[noreturn]] void TooLong()
{
    throw Exception("曲が長すぎて MIDI ファイルに書き出せません");
}

std::int64_t CheckedTick(std::int64_t tick)
{
    if (tick > SmfMaxTick) TooLong();
    return tick;
}

// The tick of a Time, as the compiler counts ticks beside it.
std::int64_t TickOfTime(double time)
{
    const double tick = std::round(std::max(time, 0.0) * Division / 1000.0);
    // Compared as a double first: a piece can be longer than any integer tick type holds.
    if (!(tick <= static_cast<double>(SmfMaxTick))) TooLong();
    return static_cast<std::int64_t>(tick);
}

std::uint32_t MicrosecondsPerQuarter(int tempo)
{
    return static_cast<std::uint32_t>(std::lround(60000000.0 / std::max(tempo, 1)));
}

// One port's list and the tempo its player starts at. The milliseconds at which the player sends
// each item are worked out again by every pass over the list (TSendClock) rather than kept: a
// piece's times would take as much memory as a quarter of its events.
struct TPortTimes {
    const TMidiElements* List = nullptr;
    int StartTempo = 120;
    std::int64_t EndTick = 0;  // the tick of the last event's Time: the port's range ends there

    bool HasEvents() const { return List != nullptr && List->Count() > 0; }
};

// A tempo change written at a tick, keeping the last of several at one tick.
using TTempoMap = std::vector<std::pair<std::int64_t, int>>;

void AddTempo(TTempoMap& map, std::int64_t tick, int tempo)
{
    if (!map.empty() && tick <= map.back().first)
        map.back().second = tempo;
    else
        map.emplace_back(tick, tempo);
}

// The port's tempo changes as its player follows them: the start tempo at tick 0, then every
// tempo event.
TTempoMap TempoEvents(const TPortTimes& port)
{
    TTempoMap map{{0, port.StartTempo}};
    for (int i = 0; i < port.List->Count(); ++i) {
        const TMidiElement& e = port.List->Items(i);
        if (e.Kind == ekTempo) AddTempo(map, TickOfTime(e.Time), e.Tempo);
    }
    return map;
}

// The tempo function over ticks [0, end): where the tempo really changes, and to what.
TTempoMap TempoSteps(const TTempoMap& map, std::int64_t end)
{
    TTempoMap steps;
    for (const auto& [tick, tempo] : map) {
        if (tick >= end) break;
        const int value = std::max(tempo, 1);  // as the player counts a tempo below 1
        if (!steps.empty() && steps.back().first == tick) steps.pop_back();
        if (steps.empty() || steps.back().second != value) steps.emplace_back(tick, value);
    }
    return steps;
}

// A tempo the file's tempo event holds: 1 to 2^24 - 1 microseconds per quarter note.
bool Representable(const TTempoMap& map)
{
    return std::all_of(map.begin(), map.end(), [](const auto& change) {
        const long double micros = std::round(60000000.0L / std::max(change.second, 1));
        return micros >= 1.0L && micros <= 0xFFFFFFL;
    });
}

// The segment of a written tempo map: from Tick on, MicrosPerQuarter, starting at Ms.
struct TSegment {
    std::int64_t Tick;
    std::uint32_t MicrosPerQuarter;
    long double Ms;
};

std::vector<TSegment> Segments(const TTempoMap& map)
{
    std::vector<TSegment> segments;
    for (const auto& [tick, tempo] : map) {
        long double ms = 0.0L;
        if (!segments.empty()) {
            const TSegment& last = segments.back();
            ms = last.Ms + static_cast<long double>(tick - last.Tick) * last.MicrosPerQuarter / (Division * 1000.0L);
        }
        segments.push_back({tick, MicrosecondsPerQuarter(tempo), ms});
    }
    return segments;
}

// The tick whose time under the map is nearest to ms, and how far that time is from ms. Every tick
// is placed from its own time, so rounding never accumulates along the piece.
std::int64_t NearestTick(const std::vector<TSegment>& segments, double ms, double& error)
{
    const auto next = std::upper_bound(segments.begin(), segments.end(), static_cast<long double>(ms),
                                       [](long double value, const TSegment& s) { return value < s.Ms; });
    const TSegment& s = *(next == segments.begin() ? next : next - 1);
    const long double ticksPerMs = Division * 1000.0L / s.MicrosPerQuarter;
    const long double offset = std::round((static_cast<long double>(ms) - s.Ms) * ticksPerMs);
    if (!(offset + s.Tick <= static_cast<long double>(SmfMaxTick))) TooLong();
    const std::int64_t tick = s.Tick + static_cast<std::int64_t>(offset);
    error = std::fabs(static_cast<double>(s.Ms + offset / ticksPerMs) - ms);
    return tick;
}

std::int64_t FixedTick(double ms)
{
    // At the fixed tempo a tick is one millisecond.
    const double tick = std::round(ms);
    if (!(tick <= static_cast<double>(SmfMaxTick))) TooLong();
    return static_cast<std::int64_t>(tick);
}

void AppendBigEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes)
{
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::vector<std::uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

// A chunk's type and length, which go before its data.
std::array<std::uint8_t, 8> ChunkHeader(const char* type, std::size_t size)
{
    if (size > 0xFFFFFFFFu) TooLong();
    std::vector<std::uint8_t> header(type, type + 4);
    AppendBigEndian(header, size, 4);
    std::array<std::uint8_t, 8> bytes{};
    std::copy(header.begin(), header.end(), bytes.begin());
    return bytes;
}

bool Written(const TMidiElement& e) { return e.Kind == ekShortMessage || e.Kind == ekSysEx; }

}  // namespace

void TSmfTrackWriter::Delta(std::int64_t tick)
{
    // Ticks only ever grow along a track; a smaller one is written at the same instant.
    tick = std::max(tick, LastTick);
    AppendVarLen(Data, static_cast<std::uint32_t>(tick - LastTick));
    LastTick = tick;
}
void TSmfTrackWriter::Meta(std::int64_t tick, std::uint8_t type, const std::vector<std::uint8_t>& bytes)
{
    Delta(tick);
    Data.push_back(0xFF);
    Data.push_back(type);
    AppendVarLen(Data, static_cast<std::uint32_t>(bytes.size()));
    Data.insert(Data.end(), bytes.begin(), bytes.end());
}
void TSmfTrackWriter::Event(std::int64_t tick, const TMidiElement& e)
{
    if (e.Kind == ekShortMessage) {
        const int length = ShortMessageLength(e.Status);
        if (length == 0) return;  // not a message: the device sends nothing for it
        const std::uint8_t bytes[3] = {e.Status, static_cast<std::uint8_t>(e.Data1 & 0x7F),
                                       static_cast<std::uint8_t>(e.Data2 & 0x7F)};
        Delta(tick);
        if (e.Status >= 0xF0) {
            // System common and real-time messages have no event of their own in the file:
            // the escape event carries their bytes as they are sent.
            Data.push_back(0xF7);
            AppendVarLen(Data, static_cast<std::uint32_t>(length));
        }
        Data.insert(Data.end(), bytes, bytes + length);
    } else if (e.Kind == ekSysEx) {
        const std::vector<std::uint8_t>& bytes = e.SysExData;
        Delta(tick);
        const bool framed = !bytes.empty() && bytes.front() == 0xF0;
        Data.push_back(framed ? 0xF0 : 0xF7);
        const std::size_t skip = framed ? 1 : 0;
        if (bytes.size() - skip > static_cast<std::size_t>(SmfMaxTick)) TooLong();
        AppendVarLen(Data, static_cast<std::uint32_t>(bytes.size() - skip));
        Data.insert(Data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(skip), bytes.end());
    }
}
void TSmfTrackWriter::End(std::int64_t tick) { Meta(tick, 0x2F, {}); }


void AppendVarLen(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    std::uint8_t bytes[5];
    int count = 0;
    do {
        bytes[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1) out.push_back(static_cast<std::uint8_t>(bytes[--count] | 0x80));
    out.push_back(bytes[0]);
}

// MakeSmf; when release is the song itself, each port's list is emptied as soon as it is written.
struct TSmfMaker {
    static TSmfFile Make(const TSong& song, TSong* release);
};

TSmfFile TSmfMaker::Make(const TSong& song, TSong* release)
{
    std::array<TPortTimes, PortCount> ports;
    int reference = -1;  // the port whose range reaches furthest: its tempo changes cover every port
    for (int p = 0; p < PortCount; ++p) {
        TPortTimes& port = ports[static_cast<std::size_t>(p)];
        port.List = &song.Ports[static_cast<std::size_t>(p)];
        port.StartTempo = song.Tempos[static_cast<std::size_t>(p)];
        if (!port.HasEvents()) continue;
        port.EndTick = TickOfTime(port.List->Last().Time);
        if (reference < 0 || port.EndTick > ports[static_cast<std::size_t>(reference)].EndTick) reference = p;
    }

    // The ports follow the same tempo changes when every port's tempo, over its own range, is the
    // tempo of the port that reaches furthest.
    TSmfFile result;
    TTempoMap map;
    if (reference >= 0) {
        const TPortTimes& longest = ports[static_cast<std::size_t>(reference)];
        map = TempoEvents(longest);
        for (const TPortTimes& port : ports) {
            if (!port.HasEvents()) continue;
            if (TempoSteps(TempoEvents(port), port.EndTick) != TempoSteps(map, port.EndTick)) {
                result.FixedTempo = true;
                result.Note = DifferentTemposNote;
                break;
            }
        }
    } else {
        map = {{0, song.Tempos[0]}};
    }

    if (!result.FixedTempo && !Representable(map)) {
        result.FixedTempo = true;
        result.Note = UnwritableTempoNote;
    }

    std::vector<TSegment> segments;
    if (!result.FixedTempo) {
        segments = Segments(map);
        for (int p = 0; p < PortCount && !result.FixedTempo; ++p) {
            const TPortTimes& port = ports[static_cast<std::size_t>(p)];
            TSendClock clock(port.StartTempo);
            for (int i = 0; i < (port.HasEvents() ? port.List->Count() : 0); ++i) {
                const TMidiElement& e = port.List->Items(i);
                const double ms = clock.Next(e);
                if (!Written(e)) continue;
                double error = 0.0;
                NearestTick(segments, ms, error);
                if (error > 1.0) {
                    result.FixedTempo = true;
                    result.Note = CoarseMapNote;
                    break;
                }
            }
        }
    }
    if (result.FixedTempo) {
        map = {{0, SmfFixedTempo}};
        // Every time goes to its tick before anything is written, so a piece too long for the
        // file is refused before its tracks are built.
        for (int p = 0; p < PortCount; ++p) {
            const TPortTimes& port = ports[static_cast<std::size_t>(p)];
            TSendClock clock(port.StartTempo);
            for (int i = 0; i < (port.HasEvents() ? port.List->Count() : 0); ++i) {
                const TMidiElement& e = port.List->Items(i);
                const double ms = clock.Next(e);
                if (Written(e)) FixedTick(ms);
            }
        }
    }
    // The tick of an event from its send time, as the checks above found it.
    const auto tickOf = [&](double ms) {
        if (result.FixedTempo) return FixedTick(ms);
        double error = 0.0;
        return NearestTick(segments, ms, error);
    };

    // One file track per MML track and port, in order of track number, then port.
    std::map<std::pair<std::int32_t, int>, TSmfTrackWriter>& tracks = result.tracks_;
    std::int64_t songEnd = map.back().first;
    for (int p = 0; p < PortCount; ++p) {
        const TPortTimes& port = ports[static_cast<std::size_t>(p)];
        for (int i = 0; i < (port.HasEvents() ? port.List->Count() : 0); ++i) {
            const TMidiElement& e = port.List->Items(i);
            if (Written(e)) tracks[{e.Track, p}];
        }
    }
    for (auto& [key, writer] : tracks) {
        const auto [track, port] = key;
        const auto first = tracks.lower_bound({track, 0});
        const bool alone = first->first == key && (std::next(first) == tracks.end() || std::next(first)->first.first != track);
        std::string name = "Track " + std::to_string(track);
        if (!alone) name += " (port " + std::to_string(port + 1) + ")";
        writer.Meta(0, 0x03, Text(name));
        writer.Meta(0, 0x21, {static_cast<std::uint8_t>(port)});
    }
    for (int p = 0; p < PortCount; ++p) {
        const TPortTimes& port = ports[static_cast<std::size_t>(p)];
        TSmfTrackWriter* writer = nullptr;
        std::int32_t writerTrack = 0;
        TSendClock clock(port.StartTempo);
        for (int i = 0; i < (port.HasEvents() ? port.List->Count() : 0); ++i) {
            const TMidiElement& e = port.List->Items(i);
            const double ms = clock.Next(e);
            if (!Written(e)) continue;
            if (writer == nullptr || e.Track != writerTrack) {
                writer = &tracks[{e.Track, p}];
                writerTrack = e.Track;
            }
            const std::int64_t tick = CheckedTick(tickOf(ms));
            writer->Event(tick, e);
            songEnd = std::max(songEnd, writer->LastTick);
        }
        // Written: a song handed over lets the port's events go now, not after the whole file.
        if (release != nullptr) release->Ports[static_cast<std::size_t>(p)] = TMidiElements();
    }

    if (tracks.size() + 1 > 0xFFFF) throw Exception("トラックが多すぎて MIDI ファイルに書き出せません");
    result.header_ = {0x00, 0x01, static_cast<std::uint8_t>((tracks.size() + 1) >> 8),
                      static_cast<std::uint8_t>(tracks.size() + 1), Division >> 8, Division & 0xFF};
    TSmfTrackWriter& conductor = result.conductor_;
    for (const auto& [tick, tempo] : map) {
        std::vector<std::uint8_t> micros;
        AppendBigEndian(micros, MicrosecondsPerQuarter(tempo), 3);
        conductor.Meta(tick, 0x51, micros);
    }
    conductor.End(songEnd);
    for (auto& [key, writer] : tracks) writer.End(writer.LastTick);
    // The sizes are checked here, so that writing cannot fail on them.
    ChunkHeader("MTrk", conductor.Data.size());
    for (const auto& [key, writer] : tracks) ChunkHeader("MTrk", writer.Data.size());
    return result;
}

TSmfFile MakeSmf(const TSong& song) { return TSmfMaker::Make(song, nullptr); }

TSmfFile MakeSmf(TSong&& song)
{
    TSmfFile file = TSmfMaker::Make(song, &song);
    song = TSong();
    return file;
}

void TSmfFile::WriteTo(const std::function<void(const std::uint8_t* data, std::size_t size)>& sink) const
{
    const auto chunk = [&](const char* type, const std::vector<std::uint8_t>& data) {
        const std::array<std::uint8_t, 8> header = ChunkHeader(type, data.size());
        sink(header.data(), header.size());
        if (!data.empty()) sink(data.data(), data.size());
    };
    chunk("MThd", header_);
    chunk("MTrk", conductor_.Data);
    for (const auto& [key, writer] : tracks_) chunk("MTrk", writer.Data);
}

std::size_t TSmfFile::Size() const
{
    std::size_t size = 8 + header_.size() + 8 + conductor_.Data.size();
    for (const auto& [key, writer] : tracks_) size += 8 + writer.Data.size();
    return size;
}

TSmfExport ExportSmf(const TSong& song)
{
    const TSmfFile file = MakeSmf(song);
    TSmfExport result;
    result.FixedTempo = file.FixedTempo;
    result.Note = file.Note;
    result.Bytes.reserve(file.Size());
    file.WriteTo([&](const std::uint8_t* data, std::size_t size) { result.Bytes.insert(result.Bytes.end(), data, data + size); });
    return result;
}
