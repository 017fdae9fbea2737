// The MIDI output service the players talk to, and the notices its devices send back.
//
// A small front over interchangeable back ends: the real ones (RtMidi ports and the built-in
// synthesizer) live in devices/, the recording fake in RecordingMidiOut.h. Nothing here knows a
// platform header. Device numbers run from 0 to DeviceCount()-1 and stay the same for one run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A system-exclusive message handed to a device: the player's own copy of the bytes, which stays
// alive until the device reports it done or the device is reset. Identified by a number that is
// never reused, so a notice that arrives after its buffer was released cannot match a newer one.
struct TSysExHeader {
    std::uint64_t Id = 0;
    std::vector<std::uint8_t> Data;  // F0 ... F7, as sent
};

// Called by a device when it no longer needs a system-exclusive buffer. Any thread may call it,
// also from inside LongMessage.
using TSysExDone = std::function<void(std::uint64_t headerId)>;

// One open output device. Destroying it closes it.
class TMidiOutDevice {
public:
    virtual ~TMidiOutDevice() = default;
    // A channel or system message of 1 to 3 bytes; data bytes beyond its length are not sent.
    virtual void ShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) = 0;
    // Sends header.Data and reports header.Id through the device's TSysExDone when done with it.
    virtual void LongMessage(const TSysExHeader& header) = 0;
    // Silences every note of the device and finishes with every buffer it still holds.
    virtual void Reset() = 0;
    // Whether the device has gone away while open (its port was removed, its server ended). A
    // lost device takes every call and sends nothing; the player stops the port, and the next
    // compilation, which opens the device again, tells the user why it cannot.
    virtual bool Lost() const { return false; }
};

class TMidiOutService {
public:
    virtual ~TMidiOutService() = default;
    virtual int DeviceCount() = 0;
    // The name shown to the user; empty for a number out of range.
    virtual std::string DeviceName(int id) = 0;
    // Opens device id; a device that cannot be opened raises an Exception whose message tells the
    // user why, in Japanese.
    virtual std::unique_ptr<TMidiOutDevice> Open(int id, TSysExDone done) = 0;
};

// The error a service raises for a device number it does not have.
[[noreturn]] void RaiseNoSuchDevice(int id);

// The service that players use when none is given to them: the device catalog once the program
// has installed it (SetMidiOutService at start-up), until then a service without devices.
TMidiOutService& MidiOutService();
// Installs the process's service; nullptr restores the empty one. The caller keeps ownership and
// keeps the service alive while players may use it.
void SetMidiOutService(TMidiOutService* service);

// How many bytes a short message with this status byte has: 3 for note, key pressure, control
// change and pitch bend, 2 for program change and channel pressure, and the lengths of the system
// common and real-time messages. 0 for a byte that cannot start a short message (a data byte, or
// the start or end of a system-exclusive message): devices send nothing for it.
int ShortMessageLength(std::uint8_t status);

// ---- Notices to the GUI thread ----

// What a device tells its player.
struct TDeviceNotice {
    enum TKind { SysExDone } Kind = SysExDone;
    std::uint64_t Header = 0;  // TSysExHeader::Id
};

// Runs a function later on the GUI thread, never inside the call that posts it. The window
// installs one that queues onto its event loop; without one, posted work waits until the GUI
// thread calls ProcessNotices.
using TGuiPoster = std::function<void(std::function<void()>)>;
void SetGuiPoster(TGuiPoster poster);
// Runs everything posted so far while no poster is installed; returns how many ran. Called on the
// GUI thread by whoever owns the loop (the command-line tool's play loop, tests).
int ProcessNotices();

// The stand-in for a player's hidden message window: notices posted to it from any thread are
// delivered to its procedure later on the GUI thread, and never after the window is destroyed.
class TNoticeWindow {
public:
    explicit TNoticeWindow(std::function<void(const TDeviceNotice&)> procedure);
    ~TNoticeWindow();
    TNoticeWindow(const TNoticeWindow&) = delete;
    TNoticeWindow& operator=(const TNoticeWindow&) = delete;

    void Post(const TDeviceNotice& notice);

private:
    struct TState {
        std::mutex Mutex;
        std::function<void(const TDeviceNotice&)> Procedure;  // empty once the window is gone
    };
    std::shared_ptr<TState> state_;
};
