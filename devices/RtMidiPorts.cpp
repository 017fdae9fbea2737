// Output to ALSA sequencer and JACK MIDI ports through RtMidi.
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "devices/Devices.h"
#include "song/Exception.h"
#include "devices/JackWatch.h"
#include "song/Song.h"

namespace {

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}

// Both libraries report to standard error by default, also when all that happened is that there
// is no sequencer or no JACK server, which is an ordinary situation here. And JACK would try to
// start a server of its own when none runs; a player must never do that behind the user's back.
void QuietenLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(QuietAlsa);
        jack_set_error_function(QuietJack);
        jack_set_info_function(QuietJack);
        setenv("JACK_NO_START_SERVER", "1", 0);
    });
}

// How long the JACK server takes for one period, in microseconds; 0 when no server runs.
std::uint64_t JackPeriod()
{
    jack_status_t status{};
    jack_client_t* client = jack_client_open("Quaverly probe", JackNoStartServer, &status);
    if (client == nullptr) return 0;
    const std::uint64_t frames = jack_get_buffer_size(client);
    const std::uint64_t rate = jack_get_sample_rate(client);
    jack_client_close(client);
    return rate == 0 ? 1 : std::max<std::uint64_t>(1, frames * 1'000'000 / rate);
}

bool AlsaSequencerAvailable()
{
    snd_seq_t* sequencer = nullptr;
    if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0) return false;
    snd_seq_close(sequencer);
    return true;
}

RtMidi::Api ApiOf(TPortApi api) { return api == TPortApi::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK; }

// RtMidi reports to its error callback instead of throwing once one is set; the message of the
// latest error is kept so that a failed open can say why.
void KeepError(RtMidiError::Type, const std::string& text, void* where) { *static_cast<std::string*>(where) = text; }

// The RtMidi output of one port. RtMidi copies a message into the ALSA sequencer or the JACK
// port's buffer before sendMessage returns, so nothing here keeps the bytes.
class TRtMidiDevice : public TMidiOutDevice {
public:
    TRtMidiDevice(std::unique_ptr<RtMidiOut> out, std::unique_ptr<std::string> error, std::chrono::microseconds drain,
                  std::unique_ptr<TJackWatch> watch)
        : out_(std::move(out)), error_(std::move(error)), drain_(drain), watch_(std::move(watch))
    {
    }

    ~TRtMidiDevice() override
    {
        // A JACK port passes its messages on only once per period. Closing it at once would lose
        // the last ones, which are the All Sound Off and note-offs of a stopping port: stuck notes.
        // Nothing is passed on any more once the device is lost.
        if (!Lost()) std::this_thread::sleep_for(drain_);
        // A client whose server has ended has no port left to close.
        if (watch_ == nullptr || !watch_->ServerGone()) out_->closePort();
    }

    void ShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override
    {
        const unsigned char bytes[3] = {status, data1, data2};
        const int length = ShortMessageLength(status);
        if (length > 0) Send(bytes, static_cast<std::size_t>(length));
    }

    void LongMessage(std::span<const std::uint8_t> bytes) override
    {
        if (!bytes.empty()) Send(bytes.data(), bytes.size());
    }

    void Reset() override
    {
        // Releases the hold pedal and then every note, on each channel, so that nothing keeps
        // sounding on the device once the port lets go of it.
        for (unsigned char channel = 0; channel < TSong::ChannelsPerPort; ++channel) {
            const unsigned char holdOff[3] = {static_cast<unsigned char>(0xB0 | channel), 64, 0};
            const unsigned char notesOff[3] = {static_cast<unsigned char>(0xB0 | channel), 123, 0};
            Send(holdOff, 3);
            Send(notesOff, 3);
        }
    }

    bool Lost() const override { return watch_ != nullptr && watch_->Lost(); }

private:
    void Send(const unsigned char* bytes, std::size_t size)
    {
        if (watch_ != nullptr && !watch_->Reserve(size)) return;
        out_->sendMessage(bytes, size);
    }

    std::unique_ptr<RtMidiOut> out_;
    std::unique_ptr<std::string> error_;  // where out_ reports its errors
    const std::chrono::microseconds drain_;  // how long sent messages may wait to go out
    std::unique_ptr<TJackWatch> watch_;      // JACK only
};

[[noreturn]] void RaiseApiUnavailable(TPortApi api, const std::string& port)
{
    throw Exception(api == TPortApi::Jack ? "JACK サーバーが動いていないため、MIDI 出力デバイスを開けません: " + port
                                          : "ALSA シーケンサーが使えないため、MIDI 出力デバイスを開けません: " + port);
}

std::unique_ptr<RtMidiOut> NewOutput(TPortApi api)
{
    QuietenLibraries();
    // RtMidi writes to standard error before it reports a back end that cannot start, so the
    // back end is tried quietly first.
    if (api == TPortApi::Jack ? JackPeriod() == 0 : !AlsaSequencerAvailable()) return nullptr;
    try {
        return std::make_unique<RtMidiOut>(ApiOf(api), "Quaverly");
    } catch (const RtMidiError&) {
        return nullptr;  // the API cannot start on this machine
    }
}

}  // namespace

std::vector<std::string> ListMidiPorts(TPortApi api)
{
    std::vector<std::string> ports;
    const auto out = NewOutput(api);
    if (out == nullptr) return ports;
    std::string error;
    out->setErrorCallback(KeepError, &error);
    const unsigned count = out->getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        std::string name = out->getPortName(i);
        if (!name.empty()) ports.push_back(std::move(name));
    }
    return ports;
}

std::unique_ptr<TMidiOutDevice> OpenMidiPort(TPortApi api, const std::string& port)
{
    auto out = NewOutput(api);
    // Three periods and a margin: the message written just before a period began goes out at the
    // end of the next one.
    const std::chrono::microseconds drain{api == TPortApi::Jack ? 3 * JackPeriod() + 10'000 : 0};
    if (out == nullptr) RaiseApiUnavailable(api, port);
    auto error = std::make_unique<std::string>();
    out->setErrorCallback(KeepError, error.get());
    // Port numbers shift when ports come and go; the name is what the user chose.
    const unsigned count = out->getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        if (out->getPortName(i) != port) continue;
        out->openPort(i, "Quaverly");
        if (!out->isPortOpen()) throw Exception("MIDI 出力デバイスを開けません: " + port + " (" + *error + ")");
        std::unique_ptr<TJackWatch> watch;
        if (api == TPortApi::Jack) {
            watch = TJackWatch::Open(port);
            if (watch == nullptr) RaiseApiUnavailable(api, port);
        }
        return std::make_unique<TRtMidiDevice>(std::move(out), std::move(error), drain, std::move(watch));
    }
    throw Exception("MIDI 出力デバイスが見つかりません: " + port);
}
