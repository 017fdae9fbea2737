// The built-in synthesizer: one FluidSynth engine of 64 channels with a General MIDI soundfont,
// played as four devices of 16 channels each.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "playback/MidiOut.h"

struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_audio_driver_t;
class TJackWatch;

// What the engine does with a system-exclusive message. The engine's own handling of the resets
// would reset all 64 channels, and its GS rhythm-part setting addresses only the first 16, so both
// are done per device instead; everything else goes to the engine as it is.
struct TSysExAction {
    enum TKind { Reset, RhythmPart, Pass } Kind = Pass;
    int Channel = 0;    // RhythmPart: the device's channel 0..15
    bool Drum = false;  // RhythmPart: a drum part (true) or a melodic one
};
// data is the whole message, F0 ... F7. Recognised resets: GM system on, GM2 system on, GS reset
// and XG system on.
TSysExAction ClassifySysEx(std::span<const std::uint8_t> data);

// Owned through a shared pointer: the devices of its parts keep it alive.
class TSynthEngine : public std::enable_shared_from_this<TSynthEngine> {
public:
    static constexpr int Parts = 4;

    // Starts loading the soundfont on a thread of its own at once. With audio false the engine
    // never opens an audio output and sounds only through Render (tests, offline rendering).
    // sampleRate (Hz) is the rate of the rendered frames; 0 keeps FluidSynth's own (44100),
    // which is what the live engine runs at. An audio-less engine with a rate given renders offline
    // and computes its voices on every core.
    explicit TSynthEngine(std::string soundfont = DefaultSoundfont(), bool audio = true, int sampleRate = 0);
    ~TSynthEngine();
    TSynthEngine(const TSynthEngine&) = delete;
    TSynthEngine& operator=(const TSynthEngine&) = delete;

    // $QUAVERLY_SOUNDFONT when it is set, otherwise the distribution's General MIDI soundfont.
    static std::string DefaultSoundfont();

    // Part 0..3 drives channels 16 x part + 1 .. 16 x part + 16 of the engine. Waits for the
    // soundfont if it is still loading and starts the audio output with the first part opened;
    // raises an Exception when either fails.
    std::unique_ptr<TMidiOutDevice> OpenPart(int part);

    // The engine's next frames, for an engine without audio output.
    void Render(std::vector<float>& left, std::vector<float>& right, int frames);
    // The same into a buffer of 2 x frames floats, left and right interleaved, without
    // allocating: offline rendering calls it between every two events.
    void RenderInterleaved(float* stereo, int frames);
    double SampleRate() const;

    // The audio output has gone away while open (its JACK server ended): the parts report their
    // devices lost, and the next opening starts the output again or says why it cannot.
    bool AudioLost() const;

    // What a part's device sends: channel numbers are the part's own, 0..15.
    void ShortMessage(int part, std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    void SysEx(int part, std::span<const std::uint8_t> data);

private:
    void WaitForSoundfont();
    void StartAudio();
    void ResetPart(int part);

    const bool audio_;
    _fluid_hashtable_t* settings_ = nullptr;
    _fluid_synth_t* synth_ = nullptr;
    _fluid_audio_driver_t* driver_ = nullptr;
    // With the JACK driver: FluidSynth only logs the end of its server and plays on into nothing,
    // so a client of the program's own listens for it.
    std::unique_ptr<TJackWatch> audioWatch_;

    mutable std::mutex mutex_;
    std::condition_variable loaded_;
    bool loading_ = true;
    std::string loadError_;  // empty when the soundfont loaded
    std::thread loader_;
};
