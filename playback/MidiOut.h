// The MIDI output service the players talk to.
//
// A small front over interchangeable back ends: the real ones (RtMidi ports and the built-in
// synthesizer) live in devices/; the tests and the playback benchmark bring a recording one of
// their own. Nothing here knows a platform header. Device numbers run from 0 to DeviceCount()-1
// and stay the same for one run.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "song/Event.h"

// One open output device. Destroying it closes it.
class TMidiOutDevice {
public:
    virtual ~TMidiOutDevice() = default;
    // A channel or system message of 1 to 3 bytes; data bytes beyond its length are not sent.
    virtual void ShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) = 0;
    // A system-exclusive message, F0 ... F7. The bytes are the caller's and may go as soon as the
    // call returns: a device that sends them later keeps a copy of its own.
    virtual void LongMessage(std::span<const std::uint8_t> bytes) = 0;
    // Silences every note of the device.
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
    virtual std::unique_ptr<TMidiOutDevice> Open(int id) = 0;
};

// The error a service raises for a device number it does not have.
[[noreturn]] void RaiseNoSuchDevice(int id);

// The service that players use when none is given to them: the device catalog once the program
// has installed it (SetMidiOutService at start-up), until then a service without devices.
TMidiOutService& MidiOutService();
// Installs the process's service; nullptr restores the empty one. The caller keeps ownership and
// keeps the service alive while players may use it.
void SetMidiOutService(TMidiOutService* service);

