// A MIDI output service that records instead of sounding: every message its devices receive, with
// the clock time at which it arrived and the thread that sent it. A system-exclusive message is
// recorded as a copy, as a real device keeps what it still has to send. The tests and the playback
// benchmark play through it.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "playback/Clock.h"
#include "playback/MidiOut.h"

class TRecordingMidiOut : public TMidiOutService {
public:
    struct TMessage {
        enum TKind { Short, Long, Reset } Kind = Short;
        int Device = 0;
        std::uint64_t Time = 0;           // clock microseconds
        std::vector<std::uint8_t> Bytes;  // as the device would send them; empty for a reset
        std::thread::id Thread = std::this_thread::get_id();  // the thread that sent it
    };

    explicit TRecordingMidiOut(TClock& clock = SystemClock(), int deviceCount = 4);

    int DeviceCount() override { return deviceCount_; }
    std::string DeviceName(int id) override;  // "記録デバイス 1" for device 0
    std::unique_ptr<TMidiOutDevice> Open(int id) override;

    // Makes opening device id raise text; an empty text lets it open again.
    void FailOpen(int id, std::string text);
    // Makes every open and later device id report itself lost (its port was removed, its
    // server ended), as a real device notices; false brings it back.
    void Lose(int id, bool lost = true);

    std::vector<TMessage> Messages() const;
    void ClearMessages();
    int OpenDevices() const;  // how many devices are open now

private:
    friend class TRecordingDevice;
    void Record(TMessage message);

    TClock& clock_;
    const int deviceCount_;
    mutable std::mutex mutex_;
    std::vector<TMessage> messages_;
    std::map<int, std::string> failures_;
    std::map<int, bool> lost_;
    int open_ = 0;
};

// "B0 78 00": a message's bytes in hexadecimal, for readable test expectations.
std::string HexBytes(const std::vector<std::uint8_t>& bytes);
