// Offline rendering through the built-in synthesizer into a WAV file.
#include "devices/Render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "song/Exception.h"
#include "devices/Synth.h"
#include "song/Timeline.h"
#include "formats/Wav.h"
#include "song/Song.h"
#include "song/Tracks.h"

namespace {

// Frames rendered and converted at a time, and how often progress is reported (~0.1 s).
constexpr int BlockFrames = 4096;

static_assert((TAudioRenderer::MaxSongSeconds + TAudioRenderer::MaxTailSeconds + 1.0) * 48000.0 *
                      TAudioRenderer::Channels * 2 <=
                  static_cast<double>(WavMaxDataBytes),
              "the longest rendering must fit in a WAV file");

std::int16_t ToPcm(float sample)
{
    // Plain rounding, no dither: the file is the same at every rendering, and silence is zeros.
    float v = sample * 32767.0f;
    if (std::isnan(v)) v = 0.0f;
    v = std::clamp(v, -32768.0f, 32767.0f);
    return static_cast<std::int16_t>(v < 0.0f ? v - 0.5f : v + 0.5f);
}

// One rendering: the synthesizer, the file (if any) and the buffers between them.
class TRenderRun {
public:
    TRenderRun(TSynthEngine& engine, TWavWriter* wav, const TRenderProgress& progress, std::int64_t expectedFrames)
        : engine_(engine), wav_(wav), progress_(progress), expected_(static_cast<double>(std::max<std::int64_t>(expectedFrames, 1)))
    {
    }

    // Renders up to frame (exclusive). False when the progress callback cancelled.
    bool RenderTo(std::int64_t frame)
    {
        while (rendered_ < frame) {
            const int frames = static_cast<int>(std::min<std::int64_t>(frame - rendered_, BlockFrames));
            engine_.RenderInterleaved(mix_.data(), frames);
            if (!Emit(frames)) return false;
        }
        return true;
    }

    // Renders the tail; false when cancelled.
    bool RenderTail(int rate)
    {
        const auto minTail = static_cast<std::int64_t>(TAudioRenderer::MinTailSeconds * rate);
        const auto maxTail = static_cast<std::int64_t>(TAudioRenderer::MaxTailSeconds * rate);
        const auto quietNeeded = static_cast<std::int64_t>(TAudioRenderer::QuietSeconds * rate);
        std::int64_t tail = 0, quiet = 0;
        while (tail < maxTail) {
            const int frames = static_cast<int>(std::min<std::int64_t>(maxTail - tail, BlockFrames));
            engine_.RenderInterleaved(mix_.data(), frames);
            int keep = frames;
            for (int i = 0; i < frames; ++i) {
                const bool loud = std::abs(mix_[2 * static_cast<std::size_t>(i)]) >= TAudioRenderer::QuietLevel ||
                                  std::abs(mix_[2 * static_cast<std::size_t>(i) + 1]) >= TAudioRenderer::QuietLevel;
                quiet = loud ? 0 : quiet + 1;
                if (++tail >= minTail && quiet >= quietNeeded) {
                    keep = i + 1;
                    break;
                }
            }
            if (!Emit(keep)) return false;
            if (keep < frames) break;
        }
        return true;
    }

    // Writes out what is left in the buffer; the file stays uncommitted.
    void Flush()
    {
        if (wav_ != nullptr) wav_->Write(pcm_.data(), 2 * filled_);
        filled_ = 0;
    }

    std::int64_t Rendered() const { return rendered_; }

private:
    // Converts the first frames of mix_ into the output buffer, writing it out whenever it is full.
    bool Emit(int frames)
    {
        if (wav_ != nullptr) {
            for (int i = 0; i < frames; ++i) {
                pcm_[2 * filled_] = ToPcm(mix_[2 * static_cast<std::size_t>(i)]);
                pcm_[2 * filled_ + 1] = ToPcm(mix_[2 * static_cast<std::size_t>(i) + 1]);
                if (++filled_ == BlockFrames) Flush();
            }
        }
        rendered_ += frames;
        if (rendered_ < nextReport_ || !progress_) return true;
        nextReport_ = rendered_ + BlockFrames;
        return progress_(std::min(0.99, static_cast<double>(rendered_) / expected_));
    }

    TSynthEngine& engine_;
    TWavWriter* const wav_;
    const TRenderProgress& progress_;
    const double expected_;
    std::vector<float> mix_ = std::vector<float>(2 * BlockFrames);
    std::vector<std::int16_t> pcm_ = std::vector<std::int16_t>(2 * BlockFrames);
    std::size_t filled_ = 0;
    std::int64_t rendered_ = 0;
    std::int64_t nextReport_ = BlockFrames;
};

}  // namespace

TAudioRenderer::TAudioRenderer(const TSong& song, TRenderOptions options) : options_(std::move(options))
{
    if (options_.SampleRate != 44100 && options_.SampleRate != 48000)
        throw Exception("サンプリング周波数は 44100 か 48000 です: " + std::to_string(options_.SampleRate));
    if (options_.Soundfont.empty()) options_.Soundfont = TSynthEngine::DefaultSoundfont();

    // When each port sends each event. A player sends its list strictly in order, so an event
    // whose Time lies a rounding error before its predecessor's goes out with it.
    constexpr int ports = TSong::PortCount;
    const std::array<std::vector<double>, ports> times = SendTimes(song);
    std::size_t total = 0;
    for (const std::vector<double>& ms : times) {
        if (ms.empty()) continue;
        if (!(ms.back() <= MaxSongSeconds * 1000.0))
            throw Exception("曲が長すぎて WAV ファイルに書き出せません (書き出せるのは 6 時間まで)");
        total += ms.size() + 1;
    }

    // The four ports merged by send time; at one time port 1 goes first, and each port keeps its
    // list order. Every port that has events ends with the All Sound Off its player sends right
    // after the last one, which is a step of its own (End) behind that event.
    schedule_.reserve(total);
    std::array<std::size_t, ports> next{};
    const double framesPerMs = options_.SampleRate / 1000.0;
    for (;;) {
        int port = -1;
        double at = 0.0;
        for (int p = 0; p < ports; ++p) {
            const auto& ms = times[static_cast<std::size_t>(p)];
            const std::size_t i = next[static_cast<std::size_t>(p)];
            if (i > ms.size() || ms.empty()) continue;  // done, or never played
            const double t = ms[std::min(i, ms.size() - 1)];
            if (port < 0 || t < at) {
                port = p;
                at = t;
            }
        }
        if (port < 0) break;
        const auto index = next[static_cast<std::size_t>(port)]++;
        TScheduled step{std::llround(at * framesPerMs), 0, End, static_cast<std::uint8_t>(port), 0, 0, 0};
        if (index == times[static_cast<std::size_t>(port)].size()) {
            lastFrame_ = std::max(lastFrame_, step.Frame);
            portEnds_[static_cast<std::size_t>(port)] = step.Frame;
            schedule_.push_back(step);
            continue;
        }
        const TMidiElement& e = song.Ports[static_cast<std::size_t>(port)].Items(static_cast<int>(index));
        if (e.Kind == ekShortMessage) {
            step.Kind = Short;
            step.Status = e.Status;
            step.Data1 = e.Data1;
            step.Data2 = e.Data2;
        } else if (e.Kind == ekSysEx && !e.SysExData.empty()) {
            // A player passes an empty message over.
            step.Kind = SysEx;
            step.SysExIndex = static_cast<std::uint32_t>(sysex_.size());
            sysex_.push_back(e.SysExData);
        } else {
            continue;  // tempo and wait events send nothing
        }
        schedule_.push_back(step);
    }
}

TRenderResult TAudioRenderer::Write(const std::string& path, const TRenderProgress& progress) const
{
    // The file is opened before the soundfont is loaded, so a folder that cannot be written to is
    // reported without waiting for it.
    TWavWriter wav(path, Channels, options_.SampleRate);
    const std::int64_t frames = Render(&wav, -1, progress);
    if (frames < 0) return {TRenderStatus::Cancelled, 0, 0.0};
    wav.Commit();
    return {TRenderStatus::Done, frames, static_cast<double>(frames) / options_.SampleRate};
}

std::int64_t TAudioRenderer::Render(TWavWriter* wav, std::int64_t frames, const TRenderProgress& progress) const
{
    const auto engine = std::make_shared<TSynthEngine>(options_.Soundfont, false, options_.SampleRate);
    // Each port's events go through the device of its part, as the players send them.
    std::array<std::unique_ptr<TMidiOutDevice>, TSong::PortCount> parts;
    for (int p = 0; p < TSong::PortCount; ++p) parts[static_cast<std::size_t>(p)] = engine->OpenPart(p);

    if (progress && !progress(0.0)) return -1;
    const auto rate = options_.SampleRate;
    TRenderRun run(*engine, wav, progress, frames >= 0 ? frames : lastFrame_ + static_cast<std::int64_t>(MinTailSeconds * rate));
    // FluidSynth computes 64 frames at a time and applies a message at the next such block, so an
    // event sounds up to 63 frames (1.4 ms) after its own frame, as it does with an audio output.
    // Where the calls to render begin and end does not move that block grid, so a rendering cut
    // to a given length is the same as the first frames of one that runs on.
    for (const TScheduled& step : schedule_) {
        if (!run.RenderTo(step.Frame)) return -1;
        TMidiOutDevice& part = *parts[step.Part];
        switch (step.Kind) {
        case Short: part.ShortMessage(step.Status, step.Data1, step.Data2); break;
        case SysEx: part.LongMessage(sysex_[step.SysExIndex]); break;
        case End:
            for (std::uint8_t channel = 0; channel < TSong::ChannelsPerPort; ++channel)
                part.ShortMessage(static_cast<std::uint8_t>(0xB0 | channel), 120, 0);
            break;
        }
    }
    if (!(frames >= 0 ? run.RenderTo(frames) : run.RenderTail(rate))) return -1;
    run.Flush();
    return run.Rendered();
}

void TAudioRenderer::EndPortsAs(const TAudioRenderer& other)
{
    std::erase_if(schedule_, [](const TScheduled& step) { return step.Kind == End; });
    for (int port = 0; port < TSong::PortCount; ++port) {
        const std::int64_t frame = other.portEnds_[static_cast<std::size_t>(port)];
        portEnds_[static_cast<std::size_t>(port)] = frame;
        if (frame < 0) continue;
        // After everything due at that frame, as the End follows its port's last event.
        const auto at = std::upper_bound(schedule_.begin(), schedule_.end(), frame,
                                         [](std::int64_t f, const TScheduled& step) { return f < step.Frame; });
        schedule_.insert(at, TScheduled{frame, 0, End, static_cast<std::uint8_t>(port), 0, 0, 0});
    }
    lastFrame_ = other.lastFrame_;
}

TRenderResult RenderWav(const std::string& path, const TSong& song, const TRenderOptions& options,
                        const TRenderProgress& progress)
{
    return TAudioRenderer(song, options).Write(path, progress);
}

std::string StemFileName(int track)
{
    char name[32];
    std::snprintf(name, sizeof name, "track-%02d.wav", track);
    return name;
}

TStemsResult RenderStems(const std::string& folder, const TSong& song, const TRenderOptions& options,
                         const TRenderProgress& progress)
{
    // Refuses a bad rate or too long a piece before anything is loaded or written.
    const TAudioRenderer whole(song, options);
    TStemsResult result;
    for (const TTrackSummary& track : TrackSummaries(song))
        if (track.Notes > 0) result.Tracks.push_back(track.Track);
    if (result.Tracks.empty()) return result;

    // One synthesizer holds the soundfont for the whole work: FluidSynth shares a loaded file's
    // samples between its synthesizers, so each rendering's own one starts without reading them
    // again. Loading it here also reports a soundfont that cannot be loaded before any file is made.
    const auto keeper = std::make_shared<TSynthEngine>(whole.options_.Soundfont, false, options.SampleRate);
    keeper->OpenPart(0);

    // Each rendering is one equal share of the progress: the whole piece first, then the stems.
    const double shares = static_cast<double>(result.Tracks.size() + 1);
    const auto share = [&](std::size_t index) -> TRenderProgress {
        if (!progress) return {};
        return [&progress, index, shares](double fraction) { return progress((static_cast<double>(index) + fraction) / shares); };
    };

    // The whole piece's length, tail included, is every stem's length.
    const std::int64_t frames = whole.Render(nullptr, -1, share(0));
    if (frames < 0) {
        result.Status = TRenderStatus::Cancelled;
        return result;
    }

    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    const TTrackSet notes = [&] {
        TTrackSet set;
        for (int track : result.Tracks) set.Add(track);
        return set;
    }();
    // Every stem stays a temporary file until the last one is complete.
    std::vector<std::unique_ptr<TWavWriter>> files;
    for (std::size_t i = 0; i < result.Tracks.size(); ++i) {
        const int track = result.Tracks[i];
        std::optional<TAudioRenderer> stem;
        {
            TSong only = song;
            TTrackSet others = notes;
            others.Remove(track);
            SilenceTracks(only, others);
            stem.emplace(only, options);
        }
        stem->EndPortsAs(whole);
        files.push_back(std::make_unique<TWavWriter>(prefix + StemFileName(track), TAudioRenderer::Channels, options.SampleRate));
        if (stem->Render(files.back().get(), frames, share(i + 1)) < 0) {
            result.Status = TRenderStatus::Cancelled;
            result.Tracks.clear();
            return result;
        }
    }
    for (const auto& file : files) {
        file->Commit();
        result.Paths.push_back(file->Path());
    }
    result.Frames = frames;
    result.Seconds = static_cast<double>(frames) / options.SampleRate;
    return result;
}
