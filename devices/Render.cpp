// Offline rendering through the built-in synthesizer into a WAV file.
#include "devices/Render.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "song/Exception.h"
#include "devices/Synth.h"
#include "song/Timeline.h"
#include "formats/Wav.h"
#include "song/Song.h"

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

// One rendering: the synthesizer, the file and the buffers between them.
class TRenderRun {
public:
    TRenderRun(TSynthEngine& engine, TWavWriter& wav, const TRenderProgress& progress, std::int64_t expectedFrames)
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

    void Finish()
    {
        Flush();
        wav_.Commit();
    }

    std::int64_t Rendered() const { return rendered_; }

private:
    // Converts the first frames of mix_ into the output buffer, writing it out whenever it is full.
    bool Emit(int frames)
    {
        for (int i = 0; i < frames; ++i) {
            pcm_[2 * filled_] = ToPcm(mix_[2 * static_cast<std::size_t>(i)]);
            pcm_[2 * filled_ + 1] = ToPcm(mix_[2 * static_cast<std::size_t>(i) + 1]);
            if (++filled_ == BlockFrames) Flush();
        }
        rendered_ += frames;
        if (rendered_ < nextReport_ || !progress_) return true;
        nextReport_ = rendered_ + BlockFrames;
        return progress_(std::min(0.99, static_cast<double>(rendered_) / expected_));
    }

    void Flush()
    {
        wav_.Write(pcm_.data(), 2 * filled_);
        filled_ = 0;
    }

    TSynthEngine& engine_;
    TWavWriter& wav_;
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
    // The file is opened while the soundfont loads, so a folder that cannot be written to is
    // reported without waiting for it.
    const auto engine = std::make_shared<TSynthEngine>(options_.Soundfont, false, options_.SampleRate);
    TWavWriter wav(path, Channels, options_.SampleRate);
    // Each port's events go through the device of its part, as the players send them.
    std::array<std::unique_ptr<TMidiOutDevice>, TSong::PortCount> parts;
    for (int p = 0; p < TSong::PortCount; ++p) parts[static_cast<std::size_t>(p)] = engine->OpenPart(p);

    constexpr TRenderResult cancelled{TRenderStatus::Cancelled, 0, 0.0};
    if (progress && !progress(0.0)) return cancelled;
    const auto rate = options_.SampleRate;
    TRenderRun run(*engine, wav, progress, lastFrame_ + static_cast<std::int64_t>(MinTailSeconds * rate));
    // FluidSynth computes 64 frames at a time and applies a message at the next such block, so an
    // event sounds up to 63 frames (1.4 ms) after its own frame, as it does with an audio output.
    for (const TScheduled& step : schedule_) {
        if (!run.RenderTo(step.Frame)) return cancelled;
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
    if (!run.RenderTail(rate)) return cancelled;
    run.Finish();
    return {TRenderStatus::Done, run.Rendered(), static_cast<double>(run.Rendered()) / rate};
}

TRenderResult RenderWav(const std::string& path, const TSong& song, const TRenderOptions& options,
                        const TRenderProgress& progress)
{
    return TAudioRenderer(song, options).Write(path, progress);
}
