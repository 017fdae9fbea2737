// The built-in synthesizer over FluidSynth.
#include "devices/Synth.h"

#include <fluidsynth.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "song/Exception.h"
#include "devices/JackWatch.h"
#include "song/Song.h"

namespace {

// FluidSynth logs to standard error; its messages are kept instead, so that a failure can name
// the cause in the text the user sees.
std::mutex logMutex;
std::string lastLog;

void KeepLog(int level, const char* message, void*)
{
    if (level > FLUID_WARN || message == nullptr) return;
    std::lock_guard lock(logMutex);
    lastLog = message;
}

std::string TakeLog()
{
    std::lock_guard lock(logMutex);
    std::string text;
    text.swap(lastLog);
    return text;
}

void QuietenFluidSynth()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, KeepLog, nullptr);
    });
}

bool FileExists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string WithCause(std::string text)
{
    const std::string cause = TakeLog();
    if (!cause.empty()) text += " (" + cause + ")";
    return text;
}

class TSynthPart : public TMidiOutDevice {
public:
    TSynthPart(std::shared_ptr<TSynthEngine> engine, int part) : engine_(std::move(engine)), part_(part) {}

    void ShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override
    {
        engine_->ShortMessage(part_, status, data1, data2);
    }

    // FluidSynth applies a system-exclusive message within the call; it keeps none of the bytes.
    void LongMessage(std::span<const std::uint8_t> bytes) override { engine_->SysEx(part_, bytes); }

    void Reset() override;

    bool Lost() const override { return engine_->AudioLost(); }

private:
    std::shared_ptr<TSynthEngine> engine_;
    const int part_;
};

}  // namespace

TSysExAction ClassifySysEx(std::span<const std::uint8_t> data)
{
    const auto is = [&](std::initializer_list<int> pattern) {
        // -1 matches any byte (a device number).
        if (data.size() != pattern.size()) return false;
        std::size_t i = 0;
        for (const int byte : pattern) {
            if (byte >= 0 && data[i] != byte) return false;
            ++i;
        }
        return true;
    };
    if (is({0xF0, 0x7E, -1, 0x09, 0x01, 0xF7}) || is({0xF0, 0x7E, -1, 0x09, 0x03, 0xF7}) ||
        is({0xF0, 0x41, -1, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}))
        return {TSysExAction::Reset};
    if (data.size() == 9 && data[0] == 0xF0 && data[1] == 0x43 && (data[2] & 0xF0) == 0x10 && data[3] == 0x4C &&
        data[4] == 0x00 && data[5] == 0x00 && data[6] == 0x7E && data[7] == 0x00 && data[8] == 0xF7)
        return {TSysExAction::Reset};
    // GS "use for rhythm part": 40 1p 15 with the part p numbered 1..9, 0 (channel 10), A..F.
    if (data.size() == 11 && data[0] == 0xF0 && data[1] == 0x41 && data[3] == 0x42 && data[4] == 0x12 &&
        data[5] == 0x40 && (data[6] & 0xF0) == 0x10 && data[7] == 0x15 && data[10] == 0xF7 && data[8] <= 2) {
        const int p = data[6] & 0x0F;
        return {TSysExAction::RhythmPart, p == 0 ? 9 : (p <= 9 ? p - 1 : p), data[8] != 0};
    }
    return {};
}

void TSynthPart::Reset()
{
    for (int channel = 0; channel < 16; ++channel) engine_->ShortMessage(part_, static_cast<std::uint8_t>(0xB0 | channel), 120, 0);
}

std::string TSynthEngine::DefaultSoundfont()
{
    if (const char* path = std::getenv("QUAVERLY_SOUNDFONT"); path != nullptr && *path != '\0') return path;
    // A General MIDI soundfont lives in sounds/sf2 of a data folder. The first one looked in is
    // that of the prefix the program runs from (found from the program itself, so that a copy
    // installed under /usr/local or /opt finds a soundfont installed beside it), then the
    // system's ($XDG_DATA_DIRS), then /usr/share, where the distribution's package puts it. Run
    // from a build folder, the first has no soundfont and the system's is found.
    std::vector<std::string> dataFolders;
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) dataFolders.push_back((self.parent_path().parent_path() / "share").string());
    const char* xdg = std::getenv("XDG_DATA_DIRS");
    const std::string systemFolders = xdg != nullptr && *xdg != '\0' ? xdg : "/usr/local/share:/usr/share";
    for (std::size_t start = 0; start <= systemFolders.size();) {
        const std::size_t end = std::min(systemFolders.find(':', start), systemFolders.size());
        if (end > start) dataFolders.push_back(systemFolders.substr(start, end - start));
        start = end + 1;
    }
    dataFolders.emplace_back("/usr/share");
    for (const std::string& folder : dataFolders)
        for (const char* name : {"default-GM.sf2", "FluidR3_GM.sf2"})
            if (const std::string path = folder + "/sounds/sf2/" + name; FileExists(path)) return path;
    return "/usr/share/sounds/sf2/FluidR3_GM.sf2";
}

TSynthEngine::TSynthEngine(std::string soundfont, bool audio, int sampleRate) : audio_(audio)
{
    QuietenFluidSynth();
    settings_ = new_fluid_settings();
    if (settings_ == nullptr) throw Exception(WithCause("内蔵シンセサイザーを準備できません"));
    fluid_settings_setint(settings_, "synth.midi-channels", TSong::ChannelsPerPort * Parts);
    fluid_settings_setstr(settings_, "synth.midi-bank-select", "gs");
    fluid_settings_setnum(settings_, "synth.gain", 0.5);
    if (sampleRate > 0) fluid_settings_setnum(settings_, "synth.sample-rate", sampleRate);
    if (!audio && sampleRate > 0) {
        // An offline rendering (an audio-less engine at a chosen rate) should finish as fast as the
        // machine allows: the engine computes its voices on every core. The sound stays the same;
        // a live engine keeps to one core so it never competes with the window and the players.
        const int cores = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
        fluid_settings_setint(settings_, "synth.cpu-cores", cores);
    }
    fluid_settings_setint(settings_, "audio.jack.autoconnect", 1);
    fluid_settings_setstr(settings_, "audio.jack.id", "Quaverly");
    synth_ = new_fluid_synth(settings_);
    if (synth_ == nullptr) {
        delete_fluid_settings(settings_);
        throw Exception(WithCause("内蔵シンセサイザーを準備できません"));
    }
    for (int part = 0; part < Parts; ++part) ResetPart(part);
    // The soundfont is large; loading it is what makes the first opening slow, so it starts now.
    loader_ = std::thread([this, path = std::move(soundfont)] {
        std::string error;
        if (!FileExists(path))
            error = "内蔵シンセサイザーの音色ファイルがありません: " + path;
        else if (fluid_synth_sfload(synth_, path.c_str(), 1) == FLUID_FAILED)
            error = WithCause("内蔵シンセサイザーの音色ファイルを読み込めません: " + path);
        std::lock_guard lock(mutex_);
        loading_ = false;
        loadError_ = std::move(error);
        loaded_.notify_all();
    });
}

TSynthEngine::~TSynthEngine()
{
    if (loader_.joinable()) loader_.join();
    if (driver_ != nullptr) delete_fluid_audio_driver(driver_);
    audioWatch_.reset();
    delete_fluid_synth(synth_);
    delete_fluid_settings(settings_);
}

void TSynthEngine::WaitForSoundfont()
{
    std::unique_lock lock(mutex_);
    loaded_.wait(lock, [this] { return !loading_; });
    if (!loadError_.empty()) throw Exception(loadError_);
}

void TSynthEngine::StartAudio()
{
    std::lock_guard lock(mutex_);
    if (driver_ != nullptr) {
        if (audioWatch_ == nullptr || !audioWatch_->Lost()) return;
        // The output went away while open: it is started anew, or this opening says why it cannot.
        delete_fluid_audio_driver(driver_);
        driver_ = nullptr;
        audioWatch_.reset();
    }
    // PulseAudio first (PipeWire serves it too), then the sound card directly, then JACK. The
    // output stays open once it works: every compilation reopens the devices, and reconnecting
    // the sound each time would cost a gap and a click. QUAVERLY_AUDIO_DRIVER names the one
    // FluidSynth driver to use instead (the tests drive the engine through a JACK server of their
    // own that way).
    setenv("JACK_NO_START_SERVER", "1", 0);  // use a JACK server that runs, never start one
    const char* chosen = std::getenv("QUAVERLY_AUDIO_DRIVER");
    const bool only = chosen != nullptr && *chosen != '\0';
    std::vector<const char*> names{"pulseaudio", "alsa", "jack"};
    if (only) names = {chosen};
    for (const char* name : names) {
        if (fluid_settings_setstr(settings_, "audio.driver", name) != FLUID_OK) continue;
        driver_ = new_fluid_audio_driver(settings_, synth_);
        if (driver_ == nullptr) continue;
        if (std::strcmp(name, "jack") != 0) return;
        audioWatch_ = TJackWatch::Open(std::string());
        if (audioWatch_ != nullptr) return;
        // The server went away in between: no output to trust.
        delete_fluid_audio_driver(driver_);
        driver_ = nullptr;
    }
    if (only) throw Exception(WithCause(std::string("内蔵シンセサイザーの音を出せません。音声出力 ") + chosen + " につながりませんでした"));
    throw Exception(WithCause(
        "内蔵シンセサイザーの音を出せません。PulseAudio (PipeWire)、ALSA、JACK のどの音声出力にもつながりませんでした"));
}

bool TSynthEngine::AudioLost() const
{
    std::lock_guard lock(mutex_);
    return audioWatch_ != nullptr && audioWatch_->Lost();
}

std::unique_ptr<TMidiOutDevice> TSynthEngine::OpenPart(int part)
{
    if (part < 0 || part >= Parts) RaiseNoSuchDevice(part);
    WaitForSoundfont();
    if (audio_) StartAudio();
    return std::make_unique<TSynthPart>(shared_from_this(), part);
}

void TSynthEngine::Render(std::vector<float>& left, std::vector<float>& right, int frames)
{
    left.assign(static_cast<std::size_t>(frames), 0.0f);
    right.assign(static_cast<std::size_t>(frames), 0.0f);
    fluid_synth_write_float(synth_, frames, left.data(), 0, 1, right.data(), 0, 1);
}

void TSynthEngine::RenderInterleaved(float* stereo, int frames)
{
    fluid_synth_write_float(synth_, frames, stereo, 0, 2, stereo, 1, 2);
}

double TSynthEngine::SampleRate() const
{
    double rate = 44100.0;
    fluid_settings_getnum(settings_, "synth.sample-rate", &rate);
    return rate;
}

void TSynthEngine::ResetPart(int part)
{
    // What a GM, GS or XG reset does to a sound module, for this device's channels only.
    for (int i = 0; i < TSong::ChannelsPerPort; ++i) {
        const int channel = TSong::ChannelsPerPort * part + i;
        fluid_synth_all_sounds_off(synth_, channel);
        fluid_synth_set_channel_type(synth_, channel, i == 9 ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
        fluid_synth_cc(synth_, channel, 121, 0);  // reset all controllers
        fluid_synth_cc(synth_, channel, 0, 0);
        fluid_synth_cc(synth_, channel, 32, 0);
        fluid_synth_program_change(synth_, channel, 0);
        fluid_synth_cc(synth_, channel, 7, 100);
        fluid_synth_cc(synth_, channel, 10, 64);
        fluid_synth_cc(synth_, channel, 91, 40);
        fluid_synth_cc(synth_, channel, 93, 0);
        fluid_synth_pitch_wheel_sens(synth_, channel, 2);
    }
}

void TSynthEngine::ShortMessage(int part, std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    const int channel = TSong::ChannelsPerPort * part + (status & 0x0F);
    switch (status & 0xF0) {
    case 0x80: fluid_synth_noteoff(synth_, channel, data1); break;
    case 0x90:
        if (data2 == 0)
            fluid_synth_noteoff(synth_, channel, data1);
        else
            fluid_synth_noteon(synth_, channel, data1, data2);
        break;
    case 0xA0: fluid_synth_key_pressure(synth_, channel, data1, data2); break;
    case 0xB0: fluid_synth_cc(synth_, channel, data1, data2); break;
    case 0xC0: fluid_synth_program_change(synth_, channel, data1); break;
    case 0xD0: fluid_synth_channel_pressure(synth_, channel, data1); break;
    case 0xE0: fluid_synth_pitch_bend(synth_, channel, data1 | (data2 << 7)); break;
    default: break;  // system messages mean nothing to a synthesizer
    }
}

void TSynthEngine::SysEx(int part, std::span<const std::uint8_t> data)
{
    const TSysExAction action = ClassifySysEx(data);
    switch (action.Kind) {
    case TSysExAction::Reset: ResetPart(part); break;
    case TSysExAction::RhythmPart: {
        const int channel = TSong::ChannelsPerPort * part + action.Channel;
        fluid_synth_set_channel_type(synth_, channel, action.Drum ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
        fluid_synth_program_change(synth_, channel, 0);
        break;
    }
    case TSysExAction::Pass:
        if (data.size() > 2 && data.front() == 0xF0 && data.back() == 0xF7)
            fluid_synth_sysex(synth_, reinterpret_cast<const char*>(data.data() + 1), static_cast<int>(data.size() - 2),
                              nullptr, nullptr, nullptr, 0);
        break;
    }
}
