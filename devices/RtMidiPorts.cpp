// Output to ALSA sequencer and JACK MIDI ports through RtMidi.
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "Devices.h"
#include "Exception.h"

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

// Watches, for one open JACK output, the server and the port it sends to. RtMidi's own client is
// out of reach, and RtMidi waits without end for room in its message buffer, which only the
// server's periods empty: once the server is gone, the next send that finds the buffer full would
// hang the player's timer thread, and with it every Stop. So the watch counts the periods with a
// client of its own, keeps account of what was written in the last ones, and lets a send through
// only when it fits; it tells when the server ends, stops running or the destination disappears.
class TJackWatch {
public:
    // RtMidi's buffer between the sending thread and its JACK process callback, which empties it
    // completely every period.
    static constexpr std::size_t BufferBytes = 16383;

    // nullptr when no server answers.
    static std::unique_ptr<TJackWatch> Open(const std::string& destination)
    {
        auto watch = std::unique_ptr<TJackWatch>(new TJackWatch(destination));
        jack_status_t status{};
        watch->client_ = jack_client_open("Quaverly watch", JackNoStartServer, &status);
        if (watch->client_ == nullptr) return nullptr;
        jack_set_process_callback(watch->client_, Process, watch.get());
        jack_on_info_shutdown(watch->client_, Shutdown, watch.get());
        jack_set_port_registration_callback(watch->client_, PortRegistration, watch.get());
        if (jack_activate(watch->client_) != 0) return nullptr;
        return watch;
    }

    ~TJackWatch()
    {
        if (client_ == nullptr) return;
        if (!serverGone_) jack_deactivate(client_);
        jack_client_close(client_);
    }

    bool Lost()
    {
        if (lost_) return true;
        // The registration callback only notes that ports went away; which ones is asked here,
        // outside the server's notification thread.
        if (portsRemoved_.exchange(false) && jack_port_by_name(client_, destination_.c_str()) == nullptr) lost_ = true;
        return lost_;
    }
    bool ServerGone() const { return serverGone_; }

    // Waits until a message of size bytes fits into RtMidi's buffer and books it there; false
    // when it never will (the device is lost, or the message is larger than the buffer, which
    // RtMidi would drop). Called under the player's device lock, one sender at a time.
    bool Reserve(std::size_t size)
    {
        const std::size_t cost = size + sizeof(int);  // RtMidi stores the length in front
        if (cost > BufferBytes) return false;
        auto lastCycleSeen = std::chrono::steady_clock::now();
        std::uint64_t seen = cycles_;
        for (;;) {
            if (Lost()) return false;
            const std::uint64_t now = cycles_;
            // A message written while the watch was in period c went out by the end of period
            // c + 2 at the latest, whatever order the server runs its clients in.
            while (!written_.empty() && written_.front().first + 3 <= now) {
                booked_ -= written_.front().second;
                written_.pop_front();
            }
            if (booked_ + cost <= BufferBytes) {
                written_.emplace_back(now, cost);
                booked_ += cost;
                return true;
            }
            if (now != seen) {
                seen = now;
                lastCycleSeen = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - lastCycleSeen > StallLimit) {
                lost_ = true;  // a server that runs no period for this long is not coming back
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

private:
    static constexpr std::chrono::seconds StallLimit{2};

    explicit TJackWatch(std::string destination) : destination_(std::move(destination)) {}

    static int Process(jack_nframes_t, void* arg)
    {
        ++static_cast<TJackWatch*>(arg)->cycles_;
        return 0;
    }
    static void Shutdown(jack_status_t, const char*, void* arg)
    {
        auto& watch = *static_cast<TJackWatch*>(arg);
        watch.serverGone_ = true;
        watch.lost_ = true;
    }
    static void PortRegistration(jack_port_id_t, int registered, void* arg)
    {
        if (registered == 0) static_cast<TJackWatch*>(arg)->portsRemoved_ = true;
    }

    const std::string destination_;
    jack_client_t* client_ = nullptr;
    std::atomic<std::uint64_t> cycles_{0};
    std::atomic<bool> lost_{false};
    std::atomic<bool> serverGone_{false};
    std::atomic<bool> portsRemoved_{false};
    std::deque<std::pair<std::uint64_t, std::size_t>> written_;  // period seen, bytes
    std::size_t booked_ = 0;
};

// The RtMidi output of one port. A system-exclusive message is sent before the call returns, so
// its buffer is done at once.
class TRtMidiDevice : public TMidiOutDevice {
public:
    TRtMidiDevice(std::unique_ptr<RtMidiOut> out, std::unique_ptr<std::string> error, TSysExDone done,
                  std::chrono::microseconds drain, std::unique_ptr<TJackWatch> watch)
        : out_(std::move(out)), error_(std::move(error)), done_(std::move(done)), drain_(drain), watch_(std::move(watch))
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

    void LongMessage(const TSysExHeader& header) override
    {
        if (!header.Data.empty()) Send(header.Data.data(), header.Data.size());
        done_(header.Id);
    }

    void Reset() override
    {
        // Releases the hold pedal and then every note, on each channel, so that nothing keeps
        // sounding on the device once the port lets go of it.
        for (unsigned char channel = 0; channel < 16; ++channel) {
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
    TSysExDone done_;
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

std::unique_ptr<TMidiOutDevice> OpenMidiPort(TPortApi api, const std::string& port, TSysExDone done)
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
        return std::make_unique<TRtMidiDevice>(std::move(out), std::move(error), std::move(done), drain, std::move(watch));
    }
    throw Exception("MIDI 出力デバイスが見つかりません: " + port);
}
