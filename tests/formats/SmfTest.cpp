// Standard MIDI File export: the bytes of the file, and that a file read back plays every event at
// the millisecond its player sends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/EventLists.h"
#include "formats/Smf.h"
#include "song/Timeline.h"

namespace {

using namespace playback_test;
using Bytes = std::vector<std::uint8_t>;

// The four port lists and their players' start tempos.
struct TPiece {
    std::array<TMidiElements, 4> Lists;
    std::array<int, 4> Tempos{120, 120, 120, 120};

    TSmfExport Export() const
    {
        TSong song;
        song.Ports = Lists;
        song.Tempos = Tempos;
        TSmfExport exported = ExportSmf(song);
        // A song handed over, whose lists go as they are written, makes the same file, piece by piece.
        Bytes streamed;
        const TSmfFile file = MakeSmf(std::move(song));
        file.WriteTo([&](const std::uint8_t* data, std::size_t size) { streamed.insert(streamed.end(), data, data + size); });
        EXPECT_EQ(streamed, exported.Bytes);
        EXPECT_EQ(file.Size(), exported.Bytes.size());
        EXPECT_TRUE(song.IsEmpty());
        return exported;
    }
    // Everything added from here on is made by MML track n.
    void SortAndMark(int port, std::int32_t track)
    {
        TMidiElements& list = Lists[static_cast<std::size_t>(port)];
        for (int i = 0; i < list.Count(); ++i)
            if (list.Items(i).Track == 0) list.Items(i).Track = track;
        list.Sort();
    }
};

// What a file holds, read back without the exporter's help.
struct TFileEvent {
    std::int64_t Tick;
    Bytes Data;  // a channel message, F0 + the rest of a sysex, or FF type + data of a meta event
};
using TFileTrack = std::vector<TFileEvent>;

std::uint32_t ReadVarLen(const Bytes& b, std::size_t& at)
{
    std::uint32_t value = 0;
    for (int n = 0; n < 4; ++n) {
        const std::uint8_t byte = b.at(at++);
        value = (value << 7) | (byte & 0x7Fu);
        if ((byte & 0x80) == 0) return value;
    }
    ADD_FAILURE() << "variable-length number longer than four bytes";
    return value;
}

std::uint32_t BigEndian(const Bytes& b, std::size_t at, int count)
{
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 8) | b.at(at + static_cast<std::size_t>(i));
    return value;
}

std::vector<TFileTrack> ReadSmf(const Bytes& file)
{
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 14),
              (Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, file.at(10), file.at(11), 0x01, 0xE0}));
    const std::uint32_t count = BigEndian(file, 10, 2);
    std::vector<TFileTrack> tracks;
    std::size_t at = 14;
    for (std::uint32_t t = 0; t < count; ++t) {
        EXPECT_EQ(std::string(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + 4)), "MTrk");
        const std::size_t end = at + 8 + BigEndian(file, at + 4, 4);
        at += 8;
        TFileTrack track;
        std::int64_t tick = 0;
        while (at < end) {
            tick += ReadVarLen(file, at);
            const std::uint8_t status = file.at(at++);
            Bytes data{status};
            std::size_t length = 0;
            if (status == 0xFF) {
                data.push_back(file.at(at++));
                length = ReadVarLen(file, at);
            } else if (status == 0xF0 || status == 0xF7) {
                length = ReadVarLen(file, at);
            } else {
                EXPECT_GE(status, 0x80) << "running status is never written";
                length = static_cast<std::size_t>(ShortMessageLength(status) - 1);
            }
            data.insert(data.end(), file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + length));
            at += length;
            track.push_back({tick, data});
        }
        EXPECT_EQ(at, end);
        EXPECT_EQ(track.back().Data, (Bytes{0xFF, 0x2F})) << "every track ends with End of Track";
        tracks.push_back(track);
    }
    EXPECT_EQ(at, file.size());
    return tracks;
}

// The tempo map of the first track: (tick, microseconds per quarter).
std::vector<std::pair<std::int64_t, std::uint32_t>> TempoMap(const std::vector<TFileTrack>& tracks)
{
    std::vector<std::pair<std::int64_t, std::uint32_t>> map;
    for (const auto& e : tracks.at(0))
        if (e.Data.size() == 5 && e.Data[0] == 0xFF && e.Data[1] == 0x51) map.emplace_back(e.Tick, BigEndian(e.Data, 2, 3));
    return map;
}

// Milliseconds of a tick under the file's tempo map, as a standard player counts them.
double MsAt(const std::vector<std::pair<std::int64_t, std::uint32_t>>& map, std::int64_t tick)
{
    double ms = 0.0;
    std::int64_t from = 0;
    std::uint32_t micros = 500000;
    for (const auto& [at, value] : map) {
        if (at > tick) break;
        ms += static_cast<double>(at - from) * micros / 480000.0;
        from = at;
        micros = value;
    }
    return ms + static_cast<double>(tick - from) * micros / 480000.0;
}

bool IsMeta(const TFileEvent& e) { return e.Data[0] == 0xFF; }

// Every message of every port is in the file once, in its port's order, on a track that names the
// port, within 1 ms of the moment the player sends it.
void ExpectPlaysAsThePlayers(const TPiece& piece, const TSmfExport& exported)
{
    const auto tracks = ReadSmf(exported.Bytes);
    const auto map = TempoMap(tracks);
    std::array<std::vector<std::pair<double, Bytes>>, 4> heard;  // per port: (ms, bytes)
    for (std::size_t t = 1; t < tracks.size(); ++t) {
        ASSERT_GE(tracks[t].size(), 3u);
        ASSERT_EQ(tracks[t][1].Data.size(), 3u);
        ASSERT_EQ((Bytes{tracks[t][1].Data[0], tracks[t][1].Data[1]}), (Bytes{0xFF, 0x21}));
        const std::size_t port = tracks[t][1].Data[2];
        for (const auto& e : tracks[t])
            if (!IsMeta(e)) heard.at(port).emplace_back(MsAt(map, e.Tick), e.Data);
    }
    for (std::size_t p = 0; p < 4; ++p) {
        const TMidiElements& list = piece.Lists[p];
        const std::vector<double> sent = SendTimes(list, piece.Tempos[p]);
        std::vector<std::pair<double, Bytes>> expected;
        for (int i = 0; i < list.Count(); ++i) {
            const TMidiElement& e = list.Items(i);
            if (e.Kind == ekShortMessage) {
                Bytes data{e.Status, e.Data1, e.Data2};
                data.resize(static_cast<std::size_t>(ShortMessageLength(e.Status)));
                expected.emplace_back(sent[static_cast<std::size_t>(i)], data);
            } else if (e.Kind == ekSysEx) {
                expected.emplace_back(sent[static_cast<std::size_t>(i)], e.SysExData);
            }
        }
        // Each port of these pieces is played by one MML track, so its file track holds the
        // port's whole order.
        ASSERT_EQ(heard[p].size(), expected.size()) << "port " << p + 1;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(heard[p][i].second, expected[i].second) << "port " << p + 1 << " event " << i;
            EXPECT_NEAR(heard[p][i].first, expected[i].first, 1.0) << "port " << p + 1 << " event " << i;
        }
    }
}

TEST(Smf, VariableLengthNumbers)
{
    const std::vector<std::pair<std::uint32_t, Bytes>> cases = {
        {0, {0x00}},
        {0x40, {0x40}},
        {0x7F, {0x7F}},
        {0x80, {0x81, 0x00}},
        {0x2000, {0xC0, 0x00}},
        {0x3FFF, {0xFF, 0x7F}},
        {0x4000, {0x81, 0x80, 0x00}},
        {0x1FFFFF, {0xFF, 0xFF, 0x7F}},
        {0x200000, {0x81, 0x80, 0x80, 0x00}},
        {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& [value, bytes] : cases) {
        Bytes out{0x55};
        AppendVarLen(out, value);
        out.erase(out.begin());
        EXPECT_EQ(out, bytes) << value;
    }
}

TEST(Smf, TinyPieceByteForByte)
{
    // A GM reset with its wait, a program change (two bytes), one note, on port 2 by track 3.
    TPiece piece;
    TMidiElements& list = piece.Lists[1];
    AddTempo(list, 0, 120);
    AddSysEx(list, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    AddWait(list, 30, 60);
    AddShort(list, 30, 0xC2, 5, 0);
    AddNote(list, 30, 480, 60, 2);
    piece.SortAndMark(1, 3);
    const TSmfExport exported = piece.Export();
    EXPECT_FALSE(exported.FixedTempo);
    EXPECT_EQ(exported.Note, "");
    const Bytes expected = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0x01, 0xE0,
        // the tempo map: 120 = 500,000 us per quarter, ending with the song at tick 510
        'M', 'T', 'r', 'k', 0, 0, 0, 12,
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,
        0x83, 0x7E, 0xFF, 0x2F, 0x00,
        'M', 'T', 'r', 'k', 0, 0, 0, 40,
        0x00, 0xFF, 0x03, 0x07, 'T', 'r', 'a', 'c', 'k', ' ', '3',
        0x00, 0xFF, 0x21, 0x01, 0x01,
        0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7,
        0x1E, 0xC2, 0x05,
        0x00, 0x92, 0x3C, 0x64,
        0x83, 0x60, 0x82, 0x3C, 0x00,
        0x00, 0xFF, 0x2F, 0x00,
    };
    EXPECT_EQ(exported.Bytes, expected);
}

TEST(Smf, TracksByTrackNumberThenPortWithLongSysEx)
{
    TPiece piece;
    // Track 2 resets port 3 besides playing on port 1; track 1 plays on port 4.
    std::vector<std::uint8_t> longSysEx(200, 0x11);
    longSysEx.front() = 0xF0;
    longSysEx.back() = 0xF7;
    AddNote(piece.Lists[0], 0, 240, 64);
    piece.SortAndMark(0, 2);
    TMidiElement sysex = Make(ekSysEx, 0);
    sysex.SysExData = longSysEx;
    Add(piece.Lists[2], sysex);
    piece.SortAndMark(2, 2);
    AddNote(piece.Lists[3], 120, 240, 67, 9);
    piece.SortAndMark(3, 1);

    const TSmfExport exported = piece.Export();
    const auto tracks = ReadSmf(exported.Bytes);
    ASSERT_EQ(tracks.size(), 4u);
    const auto name = [](const TFileTrack& t) { return std::string(t.at(0).Data.begin() + 2, t.at(0).Data.end()); };
    EXPECT_EQ(name(tracks[1]), "Track 1");
    EXPECT_EQ(tracks[1][1].Data, (Bytes{0xFF, 0x21, 3}));
    EXPECT_EQ(name(tracks[2]), "Track 2 (port 1)");
    EXPECT_EQ(tracks[2][1].Data, (Bytes{0xFF, 0x21, 0}));
    EXPECT_EQ(name(tracks[3]), "Track 2 (port 3)");
    EXPECT_EQ(tracks[3][1].Data, (Bytes{0xFF, 0x21, 2}));
    // F0, the length of the rest as a variable-length number (199 = 81 47), the rest with F7.
    Bytes written = {0xF0};
    written.insert(written.end(), longSysEx.begin() + 1, longSysEx.end());
    EXPECT_EQ(tracks[3][2].Data, written);
    const Bytes lengthBytes = {0xF0, 0x81, 0x47, 0x11};
    EXPECT_NE(std::search(exported.Bytes.begin(), exported.Bytes.end(), lengthBytes.begin(), lengthBytes.end()), exported.Bytes.end());
    ExpectPlaysAsThePlayers(piece, exported);
}

// A run of notes of the given length in ticks, with the Time of an exact division of the quarter.
void AddRun(TMidiElements& list, std::int32_t tick, int count, int perQuarter, std::uint8_t key)
{
    for (int n = 0; n < count; ++n) {
        const double on = TimeOf(tick) + n * 1000.0 / perQuarter, off = on + 1000.0 / perQuarter;
        AddShort(list, tick + n * 480 / perQuarter, 0x90, key, 100);
        list.Last().Time = on;
        AddShort(list, tick + (n + 1) * 480 / perQuarter, 0x80, key, 0);
        list.Last().Time = off;
    }
}

TEST(Smf, TempoMapOrFixedTempo)
{
    const char* const different = "ポートごとにテンポが異なるため、固定テンポ (125) で時刻を変換して書き出しました";
    const char* const coarse =
        "テンポの変化に合わせると一部のイベントの時刻が 1 ミリ秒以上ずれるため、固定テンポ (125) で時刻を変換して書き出しました";
    const char* const unwritable = "MIDI ファイルのテンポで表せないテンポがあるため、固定テンポ (125) で時刻を変換して書き出しました";
    using TMap = std::vector<std::pair<std::int64_t, std::uint32_t>>;
    struct TCase {
        const char* Name;
        std::function<void(TPiece&)> Build;
        const char* Note;  // nullptr: a tempo map
        TMap Map;
    };
    // Port 1 of most cases: 100 from the start, 150 from the second beat, 63 from the fourth,
    // with triplets across the changes.
    const auto changing = [](TPiece& piece, int port) {
        TMidiElements& list = piece.Lists[static_cast<std::size_t>(port)];
        AddTempo(list, 0, 100);
        AddRun(list, 0, 6, 3, 60);
        AddTempo(list, 480, 150);
        AddTempo(list, 960, 63);
        AddRun(list, 960, 7, 3, 62);
        piece.Tempos[static_cast<std::size_t>(port)] = 63;  // the last tempo compiled for the port
        piece.SortAndMark(port, port + 1);
    };
    const TMap changingMap = {{0, 600000}, {480, 400000}, {960, 952381}};
    const std::vector<TCase> cases = {
        {"one port with tempo changes", [&](TPiece& p) { changing(p, 0); }, nullptr, changingMap},
        {"two ports with the same changes", [&](TPiece& p) { changing(p, 0); changing(p, 2); }, nullptr, changingMap},
        {"another port ends before the changes",
         [&](TPiece& p) {
             changing(p, 0);
             AddNote(p.Lists[1], 0, 480, 48);
             p.Tempos[1] = 100;
             p.SortAndMark(1, 17);
         },
         nullptr, changingMap},
        {"a start tempo equals a tempo event at the start",
         [&](TPiece& p) {
             AddTempo(p.Lists[0], 0, 90);
             AddNote(p.Lists[0], 0, 960, 60);
             p.SortAndMark(0, 1);
             AddNote(p.Lists[3], 240, 960, 48);
             p.Tempos[3] = 90;
             p.SortAndMark(3, 49);
         },
         nullptr, {{0, 666667}}},
        {"a port without events does not count",
         [&](TPiece& p) {
             changing(p, 1);
             p.Tempos[0] = 200;
         },
         nullptr, changingMap},
        {"ports that play at once at different tempos",
         [&](TPiece& p) {
             changing(p, 0);
             AddNote(p.Lists[1], 480, 480, 48);
             p.SortAndMark(1, 17);
         },
         different, {{0, 480000}}},
        {"the same change a beat apart",
         [&](TPiece& p) {
             changing(p, 0);
             AddTempo(p.Lists[1], 0, 100);
             AddTempo(p.Lists[1], 960, 150);
             AddTempo(p.Lists[1], 1440, 63);
             AddNote(p.Lists[1], 0, 1920, 48);
             p.Tempos[1] = 63;
             p.SortAndMark(1, 17);
         },
         different, {{0, 480000}}},
        {"septuplets at 40: a tick is over 3 ms",
         [&](TPiece& p) {
             AddTempo(p.Lists[0], 0, 40);
             AddRun(p.Lists[0], 0, 7, 7, 60);
             p.Tempos[0] = 40;
             p.SortAndMark(0, 1);
         },
         coarse, {{0, 480000}}},
        {"a tempo the file cannot hold",
         [&](TPiece& p) {
             AddNote(p.Lists[0], 0, 480, 60);
             p.Tempos[0] = 3;
             p.SortAndMark(0, 1);
         },
         unwritable, {{0, 480000}}},
        {"no events at all", [](TPiece& p) { p.Tempos[0] = 96; }, nullptr, {{0, 625000}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPiece piece;
        c.Build(piece);
        const TSmfExport exported = piece.Export();
        EXPECT_EQ(exported.FixedTempo, c.Note != nullptr);
        EXPECT_EQ(exported.Note, c.Note ? c.Note : "");
        EXPECT_EQ(TempoMap(ReadSmf(exported.Bytes)), c.Map);
        ExpectPlaysAsThePlayers(piece, exported);
    }
}

TEST(Smf, PieceLongerThanTheFileHoldsRaises)
{
    // At 125 a tick is a millisecond under either conversion, so the last tick the file holds
    // is reached at the same place.
    for (const bool fixed : {false, true}) {
        for (const std::int32_t end : {0x0FFFFFFF, 0x10000000}) {
            SCOPED_TRACE(std::to_string(fixed) + " " + std::to_string(end));
            TPiece piece;
            AddTempo(piece.Lists[0], 0, 125);
            AddNote(piece.Lists[0], 0, end, 60);
            piece.Tempos[0] = 125;
            piece.SortAndMark(0, 1);
            if (fixed) {
                AddNote(piece.Lists[1], 0, 480, 60);  // port 2 plays at 120: the ports differ
                piece.SortAndMark(1, 17);
            }
            if (end == 0x0FFFFFFF) {
                const TSmfExport exported = piece.Export();
                EXPECT_EQ(exported.FixedTempo, fixed);
                EXPECT_EQ(ReadSmf(exported.Bytes).at(1).back().Tick, end);
            } else {
                try {
                    piece.Export();
                    ADD_FAILURE() << "no error";
                } catch (const Exception& e) {
                    EXPECT_EQ(e.Message(), "曲が長すぎて MIDI ファイルに書き出せません");
                }
            }
        }
    }
}

}  // namespace
