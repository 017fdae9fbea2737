// A JACK client of the program's own beside a client it cannot reach (RtMidi's, FluidSynth's),
// telling when the server ends and, for a MIDI output, when the port it sends to disappears.
// Internal to devices/.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <utility>

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

    // nullptr when no server answers. Without a destination the watch only tells when the server
    // ends (the built-in synthesizer's JACK audio output, whose client FluidSynth keeps to itself).
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
        if (portsRemoved_.exchange(false) && !destination_.empty() &&
            jack_port_by_name(client_, destination_.c_str()) == nullptr)
            lost_ = true;
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
