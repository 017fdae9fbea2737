// quaverly-cli play: compiles a piece and plays it on the assigned devices in real time.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "cli/Cli.h"
#include "devices/Devices.h"
#include "cli/Interrupt.h"
#include "cli/Options.h"
#include "cli/TrackOptions.h"
#include "playback/Players.h"

namespace {

const std::string PlayUsage = std::string(
    "使い方: quaverly-cli play ファイル|- [--port P=デバイス ...] [--speed 倍率] [--from ティック]\n"
    "        [--mute トラック] [--solo トラック] [--loop 回数]\n"
    "  --port P=デバイス  ポート P (1～4) のデバイス: devices の番号か名前の一部、- で割り当てなし\n"
    "                     (既定: ポート 1～4 に内蔵シンセサイザー A～D)\n"
    "  --speed 倍率       演奏の速さ (0.5 で半分、2 で倍)\n"
    "  --from ティック    この位置から演奏します (4 分音符 = 480)\n") + TrackOptionsUsage(21) +
    "  --loop 回数        曲全体をこの回数だけ繰り返して演奏します (0 で Ctrl+C まで)\n";

bool ParseNumber(const std::string& text, double& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && errno == 0 && *end == '\0';
}

// A whole number from 0 up for option (a tick, a number of passes) into count; the usage error's
// text when it is none.
template <typename TCount>
std::string ReadCount(const char* option, const std::string& value, TCount& count)
{
    double number = 0;
    if (!ParseNumber(value, number)) return std::string(option) + " の値が数値ではありません: " + value;
    if (!(number >= 0.0 && number <= 2147483647.0) || number != static_cast<TCount>(number))
        return std::string(option) + " は 0 以上の整数です: " + value;
    count = static_cast<TCount>(number);
    return std::string();
}

// "1:05.3": minutes, seconds and tenths.
std::string ElapsedText(std::uint64_t ms)
{
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%02llu.%llu", static_cast<unsigned long long>(ms / 60000),
                  static_cast<unsigned long long>(ms / 1000 % 60), static_cast<unsigned long long>(ms / 100 % 10));
    return text;
}

}  // namespace

int RunPlay(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
    std::array<std::string, TSong::PortCount> ports{"0", "1", "2", "3"};  // built-in A..D
    double speed = 1.0;
    long from = -1;
    int loop = -1;  // none
    TTrackOptions tracks;
    TCliCommand command;
    command.Usage = PlayUsage.c_str();
    command.Options = {
        TCliOption::Value({"--port"}, [&](const std::string& value) {
            const auto equals = value.find('=');
            if (equals != 1 || value[0] < '1' || value[0] > '0' + TSong::PortCount)
                return "--port は P=デバイス の形で、P は 1～4 です: " + value;
            ports[static_cast<std::size_t>(value[0] - '1')] = value.substr(2);
            return std::string();
        }),
        TCliOption::Value({"--speed"}, [&](const std::string& value) {
            double number = 0;
            if (!ParseNumber(value, number)) return "--speed の値が数値ではありません: " + value;
            if (!(number > 0.0 && number <= 16.0)) return "--speed は 0 より大きく 16 以下です: " + value;
            speed = number;
            return std::string();
        }),
        TCliOption::Value({"--from"}, [&](const std::string& value) { return ReadCount("--from", value, from); }),
        TCliOption::Value({"--loop"}, [&](const std::string& value) { return ReadCount("--loop", value, loop); }),
    };
    for (TCliOption& option : tracks.Options()) command.Options.push_back(std::move(option));
    std::string source;
    if (const int status = ParseCommandLine(command, args, source, out, err); status >= 0) return status;
    // Compiled before any device is touched, from a fresh player's tempo on every port, which is
    // what the players made below start with.
    TSong song;
    if (!ReadAndCompile(source, in, err, song)) return 2;
    // A piece with an error is reported after the devices, as always; its tracks are not checked.
    if (!song.Failed())
        if (const std::string problem = tracks.Check(song); !problem.empty()) return UsageError(command, problem, err);

    // The soundfont is not loaded ahead here: the devices are opened at once, and a piece played
    // on other devices needs no soundfont at all.
    TDeviceCatalog catalog(false);
    SetMidiOutService(&catalog);
    struct TRestore {
        ~TRestore() { SetMidiOutService(nullptr); }
    } restore;

    int status = 0;
    {
        TMidis midis;  // closes its devices before the catalog goes
        std::array<int, TSong::PortCount> devices{};
        try {
            const auto names = catalog.Names();
            for (std::size_t port = 0; port < ports.size(); ++port)
                devices[port] = ports[port] == "-" ? -1 : FindDevice(names, ports[port]);
        } catch (const Exception& e) {
            err << e.Message() << '\n';
            return 2;
        }
        // As the window does it: compile, open the devices (a device that fails is what the user
        // hears of first, and nothing plays), then the compile error, then load the song.
        try {
            midis.Reopen(devices);
        } catch (const Exception& e) {
            err << e.Message() << '\n';
            return 3;
        }
        if (ReportCompileError(song, err)) return 1;
        midis.Load(song);
        if (midis.IsEmpty()) {
            out << "演奏するイベントがありません\n";
            return 0;
        }

        // Ctrl+C ends the playing through the normal stop, so every open port gets its All Sound
        // Off and no note is left hanging on a sound module.
        const TInterruptGuard guard;
        const bool terminal = isatty(STDERR_FILENO) != 0;
        const std::int32_t length = midis.SongLength();
        for (int port = 0; port < TSong::PortCount; ++port) midis.Items(port).SpeedFactor = speed;
        // Muted tracks play on without their notes, so muting every track plays silence to the end.
        midis.SetSilencedTracks(tracks.Silenced());
        if (loop >= 0) midis.SetLoop(TTickRange{0, length}, loop);
        const std::uint64_t started = SystemClock().Now();
        if (from >= 0)
            midis.Seek(static_cast<std::int32_t>(from));
        else
            midis.StartAll();
        while (!Interrupted() && !midis.AllFinished()) {
            if (terminal) {
                const std::int32_t tick = midis.Items(midis.LongestPort()).NextTick();
                const std::uint64_t elapsedMs = (SystemClock().Now() - started) / 1000;
                err << "\r演奏中 " << ElapsedText(elapsedMs) << "  位置 " << tick << " / " << length << "   " << std::flush;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        midis.StopAll();
        if (terminal) err << '\n';
        if (Interrupted()) {
            err << "中断しました\n";
            status = 130;
        }
        // A port whose device went away ended early: the piece was not played to its end, and
        // saying nothing would report that as success.
        for (int port = 0; port < TSong::PortCount; ++port) {
            if (!midis.Items(port).DeviceLost()) continue;
            err << TMidi::LostDeviceMessage(port) << '\n';
            if (status == 0) status = 3;
        }
    }
    return status;
}
