// The whole playing machinery worked hard for a long time: every round compiles a piece (a little
// different each time), starts it, seeks, pauses, resumes, changes the speed and stops, on three
// recording devices and on the built-in synthesizer (its audio drawn and thrown away). After every
// round no note may be left sounding and every system-exclusive message must have arrived whole on
// its own device; after all of them the memory in use may not have grown, and the leak checker (or
// Valgrind) finds nothing.
//
// QUAVERLY_SOAK_CYCLES sets the number of rounds (1000 when unset).
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include "compiler/Compiler.h"
#include "playback/Players.h"
#include "tests/support/RecordingMidiOut.h"
#include "devices/Synth.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime; g++ installs no header for them.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
extern "C" int __lsan_do_recoverable_leak_check();
#endif

namespace {

// Bytes the program has allocated and not freed: the sanitizer's count under AddressSanitizer,
// the C library's otherwise.
std::size_t InUseBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

std::size_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Sends to a part of the synthesizer and records the same messages, so that what the synthesizer
// was told can be checked like the recording devices.
class TTeeDevice : public TMidiOutDevice {
public:
    TTeeDevice(std::unique_ptr<TMidiOutDevice> record, std::unique_ptr<TMidiOutDevice> synth)
        : record_(std::move(record)), synth_(std::move(synth))
    {
    }
    void ShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override
    {
        synth_->ShortMessage(status, data1, data2);
        record_->ShortMessage(status, data1, data2);
    }
    void LongMessage(std::span<const std::uint8_t> bytes) override
    {
        synth_->LongMessage(bytes);
        record_->LongMessage(bytes);
    }
    void Reset() override
    {
        synth_->Reset();
        record_->Reset();
    }

private:
    std::unique_ptr<TMidiOutDevice> record_, synth_;
};

// Devices 0 to 2 record; device 3 is part A of the synthesizer, recorded as well.
class TSoakService : public TMidiOutService {
public:
    TSoakService(TRecordingMidiOut& recording, std::shared_ptr<TSynthEngine> synth)
        : recording_(recording), synth_(std::move(synth))
    {
    }
    int DeviceCount() override { return 4; }
    std::string DeviceName(int id) override { return recording_.DeviceName(id); }
    std::unique_ptr<TMidiOutDevice> Open(int id) override
    {
        auto record = recording_.Open(id);
        if (id != 3) return record;
        return std::make_unique<TTeeDevice>(std::move(record), synth_->OpenPart(0));
    }

private:
    TRecordingMidiOut& recording_;
    std::shared_ptr<TSynthEngine> synth_;
};

// A piece on all four ports with what playback has to get right: resets and other
// system-exclusive messages, tempo changes, chords, ties, tuplets, repeats, a parallel block, the
// hold pedal and a macro. The round number changes tempos, keys, programs and velocities but not
// the number of events, so that the event lists of every round take the same memory.
std::string Piece(int round)
{
    const std::string tempo = std::to_string(90 + round % 60);
    const std::string key = std::to_string(round % 7 - 3);
    const std::string program = std::to_string(1 + round % 100);
    const std::string velocity = std::to_string(60 + round % 60);
    return "#INITGS(1)\r\n"
           "[17] #INITGM(2)\r\n"
           "[33] #INITXG(3)\r\n"
           "[49] #INITGM2(4)\r\n"
           "[Theme] l8 cdefedc4 efgagfe4 'ceg'4 {cde}4 c&c4 d&d&d4 [@]\r\n"
           "[1] t" + tempo + " @" + program + " u" + velocity + " k" + key + " o4 |:2 [Theme] | t+20 :| g1\r\n"
           "[2] r*30 @X$41,$10,$42,$12,$40,$01,$30,$00,$0F h127 o3 q6 [Theme] h0 c2\r\n"
           "[10] r*30 o2 /: c4 c4 c4 c4 / f+8f+8f+8f+8f+8f+8f+8f+8 :/ c4\r\n"
           "[17] r*30 t" + tempo + " @33 k" + key + " o2 l4 c g c g |:3 c8 g8 :| t-10 c2\r\n"
           "[33] r*30 t" + tempo + " @" + program + " o5 l16 cdefgab<c >>'ceg'2 @X$43,$10,$4C,$00,$00,$7E,$00\r\n"
           "[49] r*30 t" + tempo + " @20 u" + velocity + " k" + key + " o4 l4 'ceg' 'dfa' 'egb' {ceg}2 c1\r\n";
}

// Which keys each channel of each device holds down, from the messages the devices received:
// a note-on presses a key, its note-off or All Sound Off on its channel lets it go.
class TSoundingNotes {
public:
    void Follow(const std::vector<TRecordingMidiOut::TMessage>& messages)
    {
        for (const auto& m : messages) {
            if (m.Kind != TRecordingMidiOut::TMessage::Short || m.Bytes.size() < 3) continue;
            const int type = m.Bytes[0] & 0xF0, channel = m.Bytes[0] & 0x0F;
            const auto key = std::make_tuple(m.Device, channel, static_cast<int>(m.Bytes[1]));
            if (type == 0x90 && m.Bytes[2] != 0) {
                down_.insert(key);
                ++NoteOns;
            } else if (type == 0x80 || type == 0x90) {
                down_.erase(key);
            } else if (type == 0xB0 && m.Bytes[1] == 120) {
                ++SoundOffs;
                std::erase_if(down_, [&](const auto& k) {
                    return std::get<0>(k) == m.Device && std::get<1>(k) == channel;
                });
            }
        }
    }
    // "device 1 channel 3 key 60", one line per key still down.
    std::string Stuck() const
    {
        std::string text;
        for (const auto& [device, channel, key] : down_)
            text += "device " + std::to_string(device) + " channel " + std::to_string(channel) + " key " +
                    std::to_string(key) + "\n";
        return text;
    }

    long NoteOns = 0;
    long SoundOffs = 0;

private:
    std::set<std::tuple<int, int, int>> down_;
};

// Whether every system-exclusive message a device received is, byte for byte, one that its port's
// list holds: a message cut short, run together with another or sent to another device shows.
class TWholeSysEx {
public:
    explicit TWholeSysEx(TMidis& midis)
    {
        for (int port = 0; port < TMidis::PortCount; ++port) {
            const TMidiElements& list = midis.Items(port).Elements;
            for (int i = 0; i < list.Count(); ++i)
                if (list.Items(i).Kind == ekSysEx) sent_.emplace(port, HexBytes(list.Items(i).SysExData));
        }
    }
    void Follow(const std::vector<TRecordingMidiOut::TMessage>& messages)
    {
        for (const auto& m : messages) {
            if (m.Kind != TRecordingMidiOut::TMessage::Long) continue;
            ++Received;
            if (!sent_.contains({m.Device, HexBytes(m.Bytes)}))
                Wrong += "device " + std::to_string(m.Device) + ": " + HexBytes(m.Bytes) + "\n";
        }
    }

    long Received = 0;
    std::string Wrong;  // one line per message that is not one its port sends

private:
    std::set<std::pair<int, std::string>> sent_;
};

int Rounds()
{
    const char* text = std::getenv("QUAVERLY_SOAK_CYCLES");
    const int rounds = text != nullptr ? std::atoi(text) : 0;
    return rounds > 0 ? rounds : 1000;
}

TEST(Soak, RoundsOfPlayingLeaveNoNoteSoundingAndNoMemoryBehind)
{
    const int rounds = Rounds();
    ASSERT_GE(rounds, 20) << "the memory is compared between round 10 and the last";
    std::size_t inUseAt10 = 0, residentAt10 = 0;
    long noteOns = 0, soundOffs = 0, sysexes = 0;
    {
        TDrivenClock clock(1'000'000);
        TRecordingMidiOut recording(clock, 4);
        auto synth = std::make_shared<TSynthEngine>(TSynthEngine::DefaultSoundfont(), false);
        TSoakService service(recording, synth);
        TMML compiler;
        TMidis midis(&service, &clock);
        std::vector<float> left, right;

        for (int round = 1; round <= rounds; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            // As a compile in the window: stop, compile, reopen the devices, load.
            midis.StopAll();
            const TSong song = compiler.Compile({Piece(round)}, midis.Tempos());
            ASSERT_EQ(song.Error, "");
            midis.Reopen({0, 1, 2, 3});
            midis.Load(song);
            for (int port = 0; port < TMidis::PortCount; ++port) {
                ASSERT_TRUE(midis.Items(port).IsOpen());
                midis.Items(port).SpeedFactor = 1.0;
            }
            TSoundingNotes notes;
            TWholeSysEx sysex(midis);
            const auto follow = [&] {
                const auto messages = recording.Messages();
                notes.Follow(messages);
                sysex.Follow(messages);
                recording.ClearMessages();
                synth->Render(left, right, 256);  // the synthesizer's voices start and end too
            };

            midis.StartAll();
            clock.AdvanceMs(300 + static_cast<std::uint64_t>(round % 7) * 40);
            follow();
            // Anywhere in the song, the end included (the ports that have nothing left finish).
            midis.Seek(static_cast<std::int32_t>((round * 7919) % (midis.SongLength() + 480)));
            clock.AdvanceMs(250);
            midis.StopAll();  // pause
            follow();
            ASSERT_EQ(notes.Stuck(), "") << "sounding after the pause";
            clock.AdvanceMs(100);
            midis.ResumeAll();
            clock.AdvanceMs(200);
            const double speed = round % 3 == 0 ? 0.5 : (round % 3 == 1 ? 2.0 : 1.0);
            for (int port = 0; port < TMidis::PortCount; ++port) midis.Items(port).SpeedFactor = speed;
            clock.AdvanceMs(400);
            midis.StopAll();
            follow();
            ASSERT_EQ(notes.Stuck(), "") << "sounding after the stop";
            ASSERT_EQ(sysex.Wrong, "");
            noteOns += notes.NoteOns;
            sysexes += sysex.Received;
            soundOffs += notes.SoundOffs;

            if (round == 10) {
                inUseAt10 = InUseBytes();
                residentAt10 = ResidentBytes();
            }
        }

        const std::size_t inUse = InUseBytes();
        const std::size_t resident = ResidentBytes();
        std::printf("rounds %d, note-ons %ld, All Sound Off %ld, system-exclusive %ld\n", rounds, noteOns, soundOffs,
                    sysexes);
        std::printf("in use after round 10: %zu bytes, after round %d: %zu bytes (%+lld)\n", inUseAt10, rounds, inUse,
                    static_cast<long long>(inUse) - static_cast<long long>(inUseAt10));
        std::printf("resident after round 10: %zu bytes, after round %d: %zu bytes (%+lld)\n", residentAt10, rounds,
                    resident, static_cast<long long>(resident) - static_cast<long long>(residentAt10));
        // Every round makes event lists of the same size, so what is in use after round 10 is what
        // a round needs; anything that piles up from round to round shows as growth.
        constexpr std::size_t allowance = 2 * 1024 * 1024;
        if (inUseAt10 != 0) {
            EXPECT_LE(inUse, inUseAt10 + allowance);
        }
        EXPECT_GT(noteOns, rounds) << "the rounds played next to nothing";
        EXPECT_GE(sysexes, rounds) << "the rounds sent no system-exclusive message";
    }
#if defined(__SANITIZE_ADDRESS__)
    // The players, devices and synthesizer are gone: nothing they allocated may be left.
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

}  // namespace
