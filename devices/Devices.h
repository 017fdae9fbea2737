// The MIDI output devices of this machine: the built-in synthesizer, ALSA sequencer ports and
// JACK MIDI ports, numbered once per run in the order the port dialog shows them.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "playback/MidiOut.h"

class TSynthEngine;

// The names of the built-in synthesizer's four devices, one per block of 16 of its 64 channels.
inline constexpr const char* BuiltinSynthNames[4] = {
    "内蔵シンセサイザー A", "内蔵シンセサイザー B", "内蔵シンセサイザー C", "内蔵シンセサイザー D"};

class TDeviceCatalog : public TMidiOutService {
public:
    // Lists the devices at once. With preloadSynth the built-in synthesizer starts loading its
    // soundfont in the background now, so that opening it later does not keep the user waiting;
    // without, it loads at its first opening.
    explicit TDeviceCatalog(bool preloadSynth = true);
    ~TDeviceCatalog() override;
    // Starts loading the soundfont in the background now, unless it has started already: a catalog
    // made without preloadSynth, once the moment to spend on it has come.
    void PreloadSynth() { Synth(); }

    int DeviceCount() override;
    std::string DeviceName(int id) override;
    std::unique_ptr<TMidiOutDevice> Open(int id) override;

    std::vector<std::string> Names() const;

private:
    enum class TKind { Builtin, Alsa, Jack };
    struct TEntry {
        TKind Kind;
        int Part;         // built-in: 0..3
        std::string Port;  // ALSA and JACK: the port's own name
        std::string Name;  // as shown to the user
    };

    TSynthEngine& Synth();

    std::vector<TEntry> entries_;
    std::mutex synthMutex_;
    std::shared_ptr<TSynthEngine> synth_;
};

// A device as the user names it: its number, or a part of the name of exactly one device. Raises
// an Exception whose message says what is wrong.
int FindDevice(const std::vector<std::string>& names, const std::string& spec);

// ---- The RtMidi back ends ----

enum class TPortApi { Alsa, Jack };

// The ports of one API that accept MIDI output; none when the API cannot start here (no ALSA
// sequencer, no JACK server running). Neither case prints anything.
std::vector<std::string> ListMidiPorts(TPortApi api);
// Opens the port of that name; raises an Exception when it is gone or refuses.
std::unique_ptr<TMidiOutDevice> OpenMidiPort(TPortApi api, const std::string& port);
