// Offline rendering with the real soundfont: the WAV file, where the sound is in it, the tail,
// and that a cancel or a failure leaves nothing behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "formats/Document.h"
#include "song/Exception.h"
#include "compiler/Compiler.h"
#include "devices/Render.h"
#include "song/Timeline.h"
#include "song/Tracks.h"

namespace {

struct TWav {
    std::string Riff, Wave, Fmt, Data;
    std::uint32_t RiffSize = 0, FmtSize = 0, Rate = 0, ByteRate = 0, DataSize = 0;
    std::uint16_t Format = 0, Channels = 0, Align = 0, Bits = 0;
    std::size_t FileSize = 0;
    std::vector<std::int16_t> Samples;  // interleaved left, right

    std::size_t Frames() const { return Samples.size() / 2; }

    // Root mean square over both channels of the frames from first to last (exclusive).
    double Loudness(std::size_t first, std::size_t last) const
    {
        double sum = 0.0;
        for (std::size_t i = 2 * first; i < 2 * last; ++i) sum += static_cast<double>(Samples[i]) * Samples[i];
        return std::sqrt(sum / static_cast<double>(2 * (last - first))) / 32768.0;
    }
    int Peak(std::size_t first, std::size_t last) const
    {
        int peak = 0;
        for (std::size_t i = 2 * first; i < 2 * last; ++i) peak = std::max(peak, std::abs(int{Samples[i]}));
        return peak;
    }
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TWav ReadWav(const std::string& path)
{
    const std::string bytes = Slurp(path);
    TWav wav;
    wav.FileSize = bytes.size();
    if (bytes.size() < 44) return wav;
    const auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at]) | static_cast<std::uint8_t>(bytes[at + 1]) << 8 |
                                          static_cast<std::uint8_t>(bytes[at + 2]) << 16 |
                                          static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 3])) << 24);
    };
    const auto u16 = [&](std::size_t at) { return static_cast<std::uint16_t>(u32(at) & 0xFFFF); };
    wav.Riff = bytes.substr(0, 4);
    wav.RiffSize = u32(4);
    wav.Wave = bytes.substr(8, 4);
    wav.Fmt = bytes.substr(12, 4);
    wav.FmtSize = u32(16);
    wav.Format = u16(20);
    wav.Channels = u16(22);
    wav.Rate = u32(24);
    wav.ByteRate = u32(28);
    wav.Align = u16(32);
    wav.Bits = u16(34);
    wav.Data = bytes.substr(36, 4);
    wav.DataSize = u32(40);
    wav.Samples.resize((bytes.size() - 44) / 2);
    std::memcpy(wav.Samples.data(), bytes.data() + 44, 2 * wav.Samples.size());  // the test machine is little-endian
    return wav;
}

// What stands in the test's own scratch folder.
std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Render : testing::Test {
    std::string folder;

    void SetUp() override
    {
        folder = testing::TempDir() + "quaverly_render_XXXXXX";
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        folder += "/";
    }
    void TearDown() override
    {
        for (const std::string& name : FilesIn(folder)) {
            for (const std::string& inner : FilesIn(folder + name)) std::remove((folder + name + "/" + inner).c_str());
            std::remove((folder + name).c_str());
        }
        rmdir(folder.c_str());
    }

    static void AddShort(TMidiElements& list, double ms, int status, int data1, int data2)
    {
        TMidiElement e;
        e.Kind = ekShortMessage;
        e.Serial = list.Count();
        e.Time = ms;  // at tempo 60, Time is milliseconds
        e.Tick = static_cast<std::int32_t>(ms);
        e.Status = static_cast<std::uint8_t>(status);
        e.Data1 = static_cast<std::uint8_t>(data1);
        e.Data2 = static_cast<std::uint8_t>(data2);
        list.Add(std::move(e));
    }
};

void CheckHeader(const TWav& wav, std::uint32_t rate)
{
    EXPECT_EQ(wav.Riff, "RIFF");
    EXPECT_EQ(wav.Wave, "WAVE");
    EXPECT_EQ(wav.Fmt, "fmt ");
    EXPECT_EQ(wav.FmtSize, 16u);
    EXPECT_EQ(wav.Format, 1u);  // PCM
    EXPECT_EQ(wav.Channels, 2u);
    EXPECT_EQ(wav.Rate, rate);
    EXPECT_EQ(wav.ByteRate, rate * 4);
    EXPECT_EQ(wav.Align, 4u);
    EXPECT_EQ(wav.Bits, 16u);
    EXPECT_EQ(wav.Data, "data");
    EXPECT_EQ(wav.DataSize, wav.FileSize - 44);
    EXPECT_EQ(wav.RiffSize, wav.FileSize - 8);
}

// |sample| under the renderer's quiet level, in 16-bit steps.
constexpr int QuietPeak = 3;

TEST_F(Render, ExamplePieceSoundsWhereItPlaysAndEndsInSilence)
{
    const TSong song = TMML().CompileDocument(ReadDocumentText("examples/kaeru.mml"));
    ASSERT_EQ(song.Error, "");
    const TAudioRenderer renderer(song, {});

    const std::string path = folder + "kaeru.wav";
    const TRenderResult result = renderer.Write(path);
    ASSERT_EQ(result.Status, TRenderStatus::Done);
    const TWav wav = ReadWav(path);
    CheckHeader(wav, 44100);
    ASSERT_EQ(static_cast<std::int64_t>(wav.Frames()), result.Frames);
    EXPECT_DOUBLE_EQ(result.Seconds, static_cast<double>(result.Frames) / 44100.0);

    // The tail starts at the last event any player sends.
    double lastMs = 0.0;
    for (const std::vector<double>& sent : SendTimes(song))
        if (!sent.empty()) lastMs = std::max(lastMs, sent.back());
    EXPECT_EQ(renderer.EventFrames(), std::llround(lastMs * 44.1));
    const std::int64_t tail = result.Frames - renderer.EventFrames();
    EXPECT_GE(tail, std::llround(TAudioRenderer::MinTailSeconds * 44100));
    EXPECT_LE(tail, std::llround(TAudioRenderer::MaxTailSeconds * 44100));

    // Every second of the piece has sound in it; the last 200 ms are quiet.
    for (std::size_t second = 1; second + 1 < static_cast<std::size_t>(lastMs / 1000); ++second)
        EXPECT_GT(wav.Loudness(second * 44100, (second + 1) * 44100), 1e-3) << "second " << second;
    EXPECT_LE(wav.Peak(wav.Frames() - 8820, wav.Frames()), QuietPeak);
}

// One held organ note on port 2 from 1 s, cut by the All Sound Off its player sends after the
// port's last event at 2 s, at 48 kHz.
TEST_F(Render, EventsSoundAtTheirFramesAndTheEndCutsHeldNotes)
{
    TSong song;
    TMidiElements& port2 = song.Ports[1];
    AddShort(port2, 0, 0xC0, 19, 0);  // a church organ holds its level while the key is down
    AddShort(port2, 1000, 0x90, 60, 100);
    AddShort(port2, 2000, 0xB0, 7, 100);
    song.Tempos = {120, 60, 120, 120};
    const TAudioRenderer renderer(song, {"", 48000});
    EXPECT_EQ(renderer.EventFrames(), 96000);

    const std::string path = folder + "organ.wav";
    std::vector<double> reports;
    const TRenderResult result = renderer.Write(path, [&](double fraction) {
        reports.push_back(fraction);
        return true;
    });
    ASSERT_EQ(result.Status, TRenderStatus::Done);
    const TWav wav = ReadWav(path);
    CheckHeader(wav, 48000);
    ASSERT_EQ(static_cast<std::int64_t>(wav.Frames()), result.Frames);

    // Nothing before the note-on's frame; sound within FluidSynth's 64-frame block after it.
    EXPECT_EQ(wav.Peak(0, 48000), 0);
    EXPECT_GT(wav.Peak(48000, 48000 + 128), 0);
    const double held = wav.Loudness(60000, 95000);
    EXPECT_GT(held, 1e-2);
    // After the cut only the reverberation is left, and it dies away within the bounded tail.
    EXPECT_LT(wav.Loudness(96000 + 9600, 96000 + 19200), held / 10);
    EXPECT_LE(wav.Peak(wav.Frames() - 9600, wav.Frames()), QuietPeak);
    EXPECT_LT(result.Frames, 96000 + std::llround(TAudioRenderer::MaxTailSeconds * 48000));

    ASSERT_GE(reports.size(), 10u);  // about every 0.1 s of audio
    EXPECT_EQ(reports.front(), 0.0);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_LT(reports.back(), 1.0);
}

TEST_F(Render, CancelAndFailureLeaveTheTargetAsItWas)
{
    TSong song;
    TMidiElements& list = song.Ports[0];
    AddShort(list, 0, 0x90, 60, 100);
    AddShort(list, 3000, 0x80, 60, 0);
    song.Tempos[0] = 60;

    const std::string path = folder + "song.wav";
    std::ofstream(path, std::ios::binary) << "old";
    int calls = 0;
    const TRenderResult cancelled =
        TAudioRenderer(song, {}).Write(path, [&](double fraction) { return ++calls < 3 && fraction < 0.5; });
    EXPECT_EQ(cancelled.Status, TRenderStatus::Cancelled);
    EXPECT_EQ(cancelled.Frames, 0);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(Slurp(path), "old");
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"song.wav"});

    try {
        RenderWav(path, song, {"/nonexistent/quaverly.sf2"});
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "内蔵シンセサイザーの音色ファイルがありません: /nonexistent/quaverly.sf2");
    }
    EXPECT_EQ(Slurp(path), "old");
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"song.wav"});

    try {
        RenderWav(folder + "missing/song.wav", song, {});
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "ファイルに書き込めません: " + folder + "missing/song.wav (No such file or directory)");
    }
}

// Refused before anything is rendered or written.
TEST_F(Render, BadRateAndTooLongPieceAreRefused)
{
    TSong song;
    TMidiElements& list = song.Ports[3];
    AddShort(list, 0, 0x90, 60, 100);
    AddShort(list, TAudioRenderer::MaxSongSeconds * 1000.0, 0x80, 60, 0);  // exactly six hours: fine
    song.Tempos[3] = 60;
    EXPECT_EQ(TAudioRenderer(song, {}).EventFrames(), std::llround(TAudioRenderer::MaxSongSeconds * 44100));

    AddShort(list, TAudioRenderer::MaxSongSeconds * 1000.0 + 1.0, 0xB0, 7, 0);
    const struct {
        int Rate;
        std::string Message;
    } cases[] = {
        {44100, "曲が長すぎて WAV ファイルに書き出せません (書き出せるのは 6 時間まで)"},
        {22050, "サンプリング周波数は 44100 か 48000 です: 22050"},
    };
    for (const auto& c : cases) {
        try {
            TAudioRenderer(song, {"", c.Rate});
            ADD_FAILURE() << "no error for " << c.Rate;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.Message);
        }
    }
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{});
}

// Two tracks on port 1: a melody in the first bar, the bass alone in the third. The bass's last
// note-off is the port's last event, so the melody's stem, without it, would end its port early.
const char* const TwoTracks = "[1] t120 @1 v110 o4 l8 cdefgfed\n[2] @32 v120 o2 r1 r1 l4 cgeg\n";

TEST_F(Render, StemsLineUpAndSumToTheWholePiece)
{
    const TSong song = TMML().CompileDocument(TwoTracks);
    ASSERT_EQ(song.Error, "");
    const TRenderResult whole = RenderWav(folder + "whole.wav", song, {});
    ASSERT_EQ(whole.Status, TRenderStatus::Done);

    const std::string stems = folder + "stems";
    ASSERT_EQ(mkdir(stems.c_str(), 0700), 0);
    std::vector<double> reports;
    const TStemsResult result = RenderStems(stems, song, {}, [&](double fraction) {
        reports.push_back(fraction);
        return true;
    });
    ASSERT_EQ(result.Status, TRenderStatus::Done);
    EXPECT_EQ(result.Tracks, (std::vector<int>{1, 2}));
    EXPECT_EQ(result.Paths, (std::vector<std::string>{stems + "/track-01.wav", stems + "/track-02.wav"}));
    EXPECT_EQ(FilesIn(stems), (std::vector<std::string>{"track-01.wav", "track-02.wav"}));
    EXPECT_EQ(result.Frames, whole.Frames);

    // One progress over all three renderings (the whole piece, then each stem).
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), 0.0);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_GT(reports.back(), 2.0 / 3.0);
    EXPECT_LT(reports.back(), 1.0);

    const TWav sum = ReadWav(folder + "whole.wav");
    const TWav melody = ReadWav(stems + "/track-01.wav"), bass = ReadWav(stems + "/track-02.wav");
    CheckHeader(melody, 44100);
    CheckHeader(bass, 44100);
    ASSERT_EQ(melody.Frames(), sum.Frames());
    ASSERT_EQ(bass.Frames(), sum.Frames());
    // Each stem rounds to 16 bits on its own, so the two are within a step of the whole per sample,
    // except where a note starts: FluidSynth's output at a voice's onset depends a little on the
    // other voices it has had (a few milliseconds of up to some tens of steps here; the same in a
    // program of its own without our code). A stem whose sound were cut or shifted would be off by
    // far more, over far longer.
    std::size_t off = 0;
    double energy = 0;
    for (std::size_t i = 0; i < sum.Samples.size(); ++i) {
        const int difference = melody.Samples[i] + bass.Samples[i] - sum.Samples[i];
        if (std::abs(difference) > 2) ++off;
        energy += static_cast<double>(difference) * difference;
    }
    EXPECT_LT(off, sum.Samples.size() / 1000);
    EXPECT_LT(std::sqrt(energy / static_cast<double>(sum.Samples.size())), 1.0);

    // Each stem holds its own track's notes: the melody in the first second, the bass from 4 s.
    EXPECT_GT(melody.Loudness(0, 44100), 1e-2);
    EXPECT_EQ(bass.Peak(0, 44100), 0);
    EXPECT_GT(bass.Loudness(5 * 44100, 6 * 44100), 1e-2);
    EXPECT_LT(melody.Loudness(5 * 44100, 6 * 44100), bass.Loudness(5 * 44100, 6 * 44100) / 100);

    EXPECT_EQ(StemFileName(7), "track-07.wav");
    EXPECT_EQ(StemFileName(100), "track-100.wav");
}

TEST_F(Render, StemsCancelledOrFailedLeaveTheFolderAsItWas)
{
    const TSong song = TMML().CompileDocument(TwoTracks);
    ASSERT_EQ(song.Error, "");
    std::ofstream(folder + "track-01.wav", std::ios::binary) << "old";

    // Cancelled in the last stem, after the first one is complete.
    const TStemsResult cancelled = RenderStems(folder, song, {}, [](double fraction) { return fraction < 0.8; });
    EXPECT_EQ(cancelled.Status, TRenderStatus::Cancelled);
    EXPECT_TRUE(cancelled.Paths.empty());
    EXPECT_EQ(Slurp(folder + "track-01.wav"), "old");
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"track-01.wav"});

    try {
        RenderStems(folder, song, {"/nonexistent/quaverly.sf2"});
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "内蔵シンセサイザーの音色ファイルがありません: /nonexistent/quaverly.sf2");
    }
    try {
        RenderStems(folder + "missing", song, {});
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "ファイルに書き込めません: " + folder + "missing/track-01.wav (No such file or directory)");
    }
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"track-01.wav"});

    // A piece without notes has no stems; a silenced track has none either.
    EXPECT_TRUE(RenderStems(folder, TMML().CompileDocument("t120 @1 y7,100\n"), {}).Tracks.empty());
    TSong bassOnly = song;
    SilenceTracks(bassOnly, [] {
        TTrackSet melody;
        melody.Add(1);
        return melody;
    }());
    const TStemsResult one = RenderStems(folder, bassOnly, {"", 48000});
    EXPECT_EQ(one.Tracks, std::vector<int>{2});
    EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"track-01.wav", "track-02.wav"}));
    EXPECT_EQ(ReadWav(folder + "track-02.wav").Rate, 48000u);
}

}  // namespace
