// Offline rendering: a compiled piece played through the built-in synthesizer as fast as it can
// compute, into a WAV file of 16-bit stereo PCM.
//
// The piece sounds as the players would play it on the built-in synthesizer A-D: each port's
// events at the moments the player sends them (SendTimes), to the part of its port, and at the end
// of each port the All Sound Off its player sends after the last event. Then comes a tail that
// lets the reverberation die away.
//
// Stems: the same piece as one WAV per MML track that made notes, each holding that track's notes
// and every track's other events, all exactly as long as the whole piece's rendering, so that they
// line up from the first frame and add up to it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "playback/MidiOut.h"
#include "song/Song.h"

class TWavWriter;

struct TRenderOptions {
    std::string Soundfont;   // empty: TSynthEngine::DefaultSoundfont()
    int SampleRate = 44100;  // 44100 or 48000
};

enum class TRenderStatus { Done, Cancelled };

struct TRenderResult {
    TRenderStatus Status = TRenderStatus::Done;
    std::int64_t Frames = 0;  // frames in the file; 0 when cancelled
    double Seconds = 0.0;     // the same in seconds
};

// What RenderStems wrote.
struct TStemsResult {
    TRenderStatus Status = TRenderStatus::Done;
    std::int64_t Frames = 0;  // frames in every stem: those of the whole piece's rendering
    double Seconds = 0.0;
    std::vector<int> Tracks;         // the tracks that have a stem, ascending
    std::vector<std::string> Paths;  // their files, in the same order; none when cancelled
};

// Reports how far the rendering is, 0.0 up to below 1.0; returning false cancels it. Called on
// the thread that renders: once with 0.0 when the synthesizer is ready (the soundfont loaded),
// then about every 0.1 s of rendered audio. It must return quickly.
using TRenderProgress = std::function<bool(double fraction)>;

class TAudioRenderer {
public:
    static constexpr int Channels = 2;
    // Longest piece (up to its last event) that is rendered. Six hours at 48 kHz still fit the
    // 4 GB a WAV file can describe, tail included.
    static constexpr double MaxSongSeconds = 6 * 3600.0;
    // The tail after the last event: at least MinTail, then until the output has stayed below
    // QuietLevel (about -80 dBFS, under 4 steps of 16-bit) for QuietSeconds, and never more than
    // MaxTail. The ports' All Sound Off cuts the notes at once, so it is the reverberation that
    // the tail lets die away.
    static constexpr double MinTailSeconds = 0.5;
    static constexpr double MaxTailSeconds = 10.0;
    static constexpr double QuietSeconds = 0.2;
    static constexpr float QuietLevel = 1e-4f;

    // Each port's events from the tempo its player takes. Copies what it needs from the song, so
    // the song may change (a new compilation) while Write runs on another thread. Raises Exception
    // for a sample rate other than 44100 or 48000 and for a piece longer than MaxSongSeconds,
    // before anything is rendered.
    TAudioRenderer(const TSong& song, TRenderOptions options);

    int SampleRate() const { return options_.SampleRate; }
    // The frame at which the last event sounds: the tail starts there.
    std::int64_t EventFrames() const { return lastFrame_; }

    // Renders the piece into path, which is written only when the rendering is complete: on a
    // cancel or an error whatever stood at path stays as it was. Raises Exception with a Japanese
    // message when the soundfont cannot be loaded or the file cannot be written. Each call makes a
    // synthesizer of its own, so it may run on any thread.
    TRenderResult Write(const std::string& path, const TRenderProgress& progress = {}) const;

private:
    friend TStemsResult RenderStems(const std::string& folder, const TSong& song, const TRenderOptions& options,
                                    const TRenderProgress& progress);

    // Plays the piece through a synthesizer of its own into wav (none: the frames are only
    // counted). frames < 0: up to the last event and then the tail, as Write does; otherwise
    // exactly that many frames. Returns the frames rendered, or -1 when progress cancelled.
    std::int64_t Render(TWavWriter* wav, std::int64_t frames, const TRenderProgress& progress) const;
    // Sends each port's closing All Sound Off at the frame where other sends it: a stem, whose
    // port may end earlier without the other tracks' notes, cuts its sound where the whole piece
    // cuts it.
    void EndPortsAs(const TAudioRenderer& other);

    enum TKind : std::uint8_t { Short, SysEx, End };
    struct TScheduled {
        std::int64_t Frame;
        std::uint32_t SysExIndex;  // SysEx: the message in sysex_
        TKind Kind;
        std::uint8_t Part, Status, Data1, Data2;
    };

    TRenderOptions options_;
    std::vector<TScheduled> schedule_;
    std::vector<std::vector<std::uint8_t>> sysex_;
    std::int64_t lastFrame_ = 0;
    std::array<std::int64_t, TSong::PortCount> portEnds_{-1, -1, -1, -1};  // frame of each port's End
};

// TAudioRenderer(song, options).Write(path, progress).
TRenderResult RenderWav(const std::string& path, const TSong& song, const TRenderOptions& options,
                        const TRenderProgress& progress = {});

// ---- Stems ----

// "track-01.wav" for track 1, "track-100.wav" for track 100: two digits at least, so that a
// folder listing sorts the usual pieces in track order.
std::string StemFileName(int track);

// Renders the song as stems into folder (which must exist): StemFileName(t) for every track t
// that made a note-on, holding the song with every other track's notes taken out (SilenceTracks),
// its programs, controllers, tempos and system-exclusive messages all still there. Every stem has
// the frame count of the whole song's rendering (RenderWav), its tail included, and each port's
// closing All Sound Off at the same frame, so the stems sum, sample by sample, to that rendering
// within their rounding to 16 bits. Progress runs once from 0 to below 1 over the whole work (the
// whole song once, to find its length, then each stem). The stems are written beside their names
// and take them together only when all are complete: a cancel or an error leaves the folder as
// it was. Raises Exception as RenderWav does. A song without notes has no stems (Tracks empty).
TStemsResult RenderStems(const std::string& folder, const TSong& song, const TRenderOptions& options,
                         const TRenderProgress& progress = {});
