// A compiled piece played end to end: the catalog finds a JACK MIDI port, RtMidi sends to it, and
// jack_midi_dump records what arrived. The test runs its own JACK server with the dummy back end
// (no sound card needed) under a name of its own, so it never touches a server the user runs.
//
// A machine where the server cannot start fails this test with the server's own log: a skipped
// end-to-end test would look like a passing one.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <jack/jack.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "devices/Devices.h"
#include "compiler/Compiler.h"
#include "playback/Players.h"
#include "tests/support/RecordingMidiOut.h"

namespace {

using namespace std::chrono_literals;

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts a program with its standard output and error going to a file. The program dies with
// this test process, also when the test crashes, so no server is ever left running.
pid_t Spawn(const std::vector<std::string>& args, const std::string& output)
{
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
}

// Asks a program to end and waits for it, forcing it after a few seconds.
void End(pid_t& pid, int signal)
{
    if (pid <= 0) return;
    kill(pid, signal);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(50ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

struct Message {
    long Frame;
    std::string Bytes;  // "B0 78 00", as HexBytes writes them
};

std::string Upper(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// jack_midi_dump -a writes "  12345: b0 78 00 control change ...": the frame and the bytes.
std::vector<Message> ParseDump(const std::string& text)
{
    std::vector<Message> messages;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        Message m{std::atol(line.substr(0, colon).c_str()), {}};
        std::istringstream words(line.substr(colon + 1));
        std::string word;
        while (words >> word && word.size() == 2 && std::isxdigit(static_cast<unsigned char>(word[0])) &&
               std::isxdigit(static_cast<unsigned char>(word[1])))
            m.Bytes += (m.Bytes.empty() ? "" : " ") + Upper(word);
        if (!m.Bytes.empty()) messages.push_back(m);
    }
    return messages;
}

class JackServer : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string tag = std::to_string(getpid());
        // The server's name is the same at every run of this test program: JACK keeps a slot in its
        // shared registry for every name it has served, frees a slot only when a server of the same
        // name starts again, and refuses to start once its few slots are taken. A name of its own
        // per build tree keeps the runs of an ASan and a TSan build apart.
        std::error_code unknown;
        const std::string program = std::filesystem::read_symlink("/proc/self/exe", unknown).string();
        server_ = "quaverly-test-" + std::to_string(std::hash<std::string>{}(program) % 1000000);
        client_ = "qvdump" + tag;
        port_ = client_ + ":input";
        serverLog_ = testing::TempDir() + "quaverly_jackd_" + tag + ".log";
        dumpLog_ = testing::TempDir() + "quaverly_dump_" + tag + ".txt";
        setenv("JACK_DEFAULT_SERVER", server_.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);

        jackd_ = Spawn({"jackd", "--no-realtime", "--name", server_, "-d", "dummy", "-r", "48000", "-p", "512"}, serverLog_);
        ASSERT_GT(jackd_, 0) << "jackd could not be started (is the jackd2 package installed?)";
        dump_ = -1;
        // The dump client keeps retrying until the server is up.
        const bool ready = WaitFor(
            [&] {
                if (dump_ <= 0 || waitpid(dump_, nullptr, WNOHANG) == dump_) dump_ = Spawn({"jack_midi_dump", "-a", client_}, dumpLog_);
                for (const auto& port : ListMidiPorts(TPortApi::Jack))
                    if (port == port_) return true;
                std::this_thread::sleep_for(100ms);
                return false;
            },
            20s);
        ASSERT_TRUE(ready) << "the JACK server or jack_midi_dump did not come up.\njackd:\n"
                           << Slurp(serverLog_) << "\njack_midi_dump:\n"
                           << Slurp(dumpLog_);
        // The port exists before the dump client is running: active sensing goes out until the
        // dump shows it, so that nothing of the piece can be lost to a client still starting.
        auto probe = OpenMidiPort(TPortApi::Jack, port_);
        const bool listening = WaitFor(
            [&] {
                probe->ShortMessage(0xFE, 0, 0);
                return Slurp(dumpLog_).find(": fe") != std::string::npos;
            },
            10s);
        ASSERT_TRUE(listening) << "jack_midi_dump shows nothing:\n" << Slurp(dumpLog_);
    }

    void TearDown() override
    {
        End(dump_, SIGINT);
        End(jackd_, SIGTERM);
        unsetenv("JACK_DEFAULT_SERVER");
    }

    // What jack_midi_dump recorded after the probe, once it has had time to write it out.
    std::vector<Message> Recorded()
    {
        std::this_thread::sleep_for(300ms);
        End(dump_, SIGINT);
        auto all = ParseDump(Slurp(dumpLog_));
        std::vector<Message> after;
        for (const auto& m : all)
            if (m.Bytes == "FE")
                after.clear();
            else
                after.push_back(m);
        return after;
    }

    std::string server_, client_, port_, serverLog_, dumpLog_;
    pid_t jackd_ = -1, dump_ = -1;
};

TEST_F(JackServer, CompiledPiecePlaysThroughTheCatalogInPlayingOrder)
{
    TDeviceCatalog catalog(false);
    SetMidiOutService(&catalog);
    const int device = FindDevice(catalog.Names(), "JACK: " + port_);

    std::vector<std::string> expected;
    {
        TMidis midis;
        const TSong song = TMML().Compile({"#INITGM(1)", "t200 @10 v100 l16 o4 cdef p32 g8", "[2] @1 o3 c8 e8"});
        ASSERT_EQ(song.Error, "");
        midis.Reopen({device, -1, -1, -1});
        midis.Load(song);
        const TMidiElements& events = song.Ports[0];
        bool sysex = false;
        for (int i = 0; i < events.Count(); ++i) {
            const TMidiElement& e = events.Items(i);
            if (e.Kind == ekShortMessage) {
                const std::vector<std::uint8_t> bytes{e.Status, e.Data1, e.Data2};
                expected.push_back(HexBytes({bytes.begin(), bytes.begin() + ShortMessageLength(e.Status)}));
            } else if (e.Kind == ekSysEx) {
                expected.push_back(HexBytes(e.SysExData));
                sysex = true;
            }
        }
        ASSERT_TRUE(sysex) << "the piece should hold a system-exclusive message";

        ASSERT_TRUE(midis.Items(0).IsOpen());
        midis.StartAll();
        ASSERT_TRUE(WaitFor([&] { return midis.AllFinished(); }, 30s));
    }  // the players close the port
    SetMidiOutService(nullptr);

    const auto recorded = Recorded();
    ASSERT_GE(recorded.size(), expected.size() + 16);
    // Every message in playing order, the system-exclusive one whole in its place among the short
    // ones: RtMidi took each before the send returned.
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(recorded[i].Bytes, expected[i]) << "message " << i;
    // The port ends with All Sound Off on its 16 channels; after that only the silencing of the
    // closing port follows (hold pedal off, All Notes Off, All Sound Off).
    for (std::size_t i = expected.size(); i < recorded.size(); ++i) {
        const std::string& bytes = recorded[i].Bytes;
        const bool silencing = bytes.size() == 8 && bytes[0] == 'B' &&
                               (bytes.substr(3) == "78 00" || bytes.substr(3) == "40 00" || bytes.substr(3) == "7B 00");
        EXPECT_TRUE(silencing) << "message " << i << ": " << bytes;
    }
    for (std::size_t i = 1; i < recorded.size(); ++i)
        EXPECT_LE(recorded[i - 1].Frame, recorded[i].Frame) << "message " << i << " arrived out of time order";
}

// ---- A device that goes away while it plays ----

struct LostDevice : JackServer {
    // Plays text on the dump's port until its first note has arrived, then lets end do its harm
    // and waits for the port to stop by itself. The next compilation opens the port again and
    // must say why it cannot.
    std::string PlayAndLose(const std::string& text, const std::function<void()>& end)
    {
        TDeviceCatalog catalog(false);
        SetMidiOutService(&catalog);
        TMidis midis;
        const std::array<int, TSong::PortCount> devices{FindDevice(catalog.Names(), "JACK: " + port_), -1, -1, -1};
        const TSong song = TMML().Compile({text});
        EXPECT_EQ(song.Error, "");
        midis.Reopen(devices);
        midis.Load(song);
        midis.StartAll();
        EXPECT_TRUE(WaitFor([&] { return Slurp(dumpLog_).find(": 90 48") != std::string::npos; }, 20s));
        end();
        const bool stopped = WaitFor([&] { return midis.AllFinished(); }, 20s);
        EXPECT_TRUE(stopped) << "the port plays on into nothing";
        EXPECT_TRUE(midis.Items(0).Stopped);
        midis.StopAll();  // what the window does when it sees the song end
        // The next compile opens the device again, and says why it cannot.
        std::string error;
        try {
            midis.Reopen(devices);
        } catch (const Exception& e) {
            error = e.Message();
        }
        EXPECT_FALSE(midis.Items(0).IsOpen());
        SetMidiOutService(nullptr);
        return error;
    }
};

TEST_F(LostDevice, AReceiverThatIsKilledStopsThePort)
{
    const std::string error = PlayAndLose("t60 o4 c1 d1 e1 f1 g1 a1 b1", [&] { End(dump_, SIGKILL); });
    EXPECT_EQ(error, "MIDI 出力デバイスが見つかりません: " + port_);
}

TEST_F(LostDevice, AServerThatEndsStopsThePortWithoutHangingOnAFullBuffer)
{
    // After the kill, three long system-exclusive messages at one instant: more than RtMidi's
    // buffer holds, which no server empties any more.
    std::string sysex = "@X1";
    for (int i = 0; i < 7000; ++i) sysex += ",1";
    const std::string text = "t60 o4 c2 " + sysex + sysex + sysex + " d1 e1 f1 g1";
    const std::string error = PlayAndLose(text, [&] { End(jackd_, SIGKILL); });
    EXPECT_EQ(error, "JACK サーバーが動いていないため、MIDI 出力デバイスを開けません: " + port_);
}

// ---- The built-in synthesizer playing through the server ----

// Whether the synthesizer's audio client has its output ports on the server, which is when it
// plays there.
bool SynthOnServer()
{
    jack_status_t status{};
    jack_client_t* client = jack_client_open("qvprobe", JackNoStartServer, &status);
    if (client == nullptr) return false;
    const char** ports = jack_get_ports(client, "^Quaverly[^:]*:", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    const bool found = ports != nullptr && ports[0] != nullptr;
    jack_free(ports);
    // The output is only trusted once its watch is on the server too: a server killed before that
    // is a failure to open, not a loss while playing.
    char* watch = jack_get_uuid_for_client_name(client, "Quaverly watch");
    const bool watched = watch != nullptr;
    jack_free(watch);
    jack_client_close(client);
    return found && watched;
}

// The synthesizer uses JACK alone here, whatever else the machine offers.
struct SynthAudio : LostDevice {
    void SetUp() override
    {
        setenv("QUAVERLY_AUDIO_DRIVER", "jack", 1);
        LostDevice::SetUp();
    }
    void TearDown() override
    {
        LostDevice::TearDown();
        unsetenv("QUAVERLY_AUDIO_DRIVER");
    }
};

TEST_F(SynthAudio, AServerThatEndsStopsTheSynthesizersPorts)
{
    TDeviceCatalog catalog(false);
    SetMidiOutService(&catalog);
    {
        TMidis midis;
        const std::array<int, TSong::PortCount> devices{FindDevice(catalog.Names(), BuiltinSynthNames[0]), -1, -1, -1};
        const TSong song = TMML().Compile({"t60 o4 c1 d1 e1 f1 g1 a1 b1"});
        ASSERT_EQ(song.Error, "");
        midis.Reopen(devices);
        midis.Load(song);
        midis.StartAll();
        ASSERT_TRUE(WaitFor(SynthOnServer, 20s)) << "the synthesizer never played through the server";
        EXPECT_FALSE(midis.Items(0).DeviceLost());

        End(jackd_, SIGKILL);
        const bool stopped = WaitFor([&] { return midis.AllFinished(); }, 20s);
        EXPECT_TRUE(stopped) << "the synthesizer plays on into nothing";
        EXPECT_TRUE(midis.Items(0).Stopped);
        EXPECT_TRUE(midis.Items(0).DeviceLost());
        midis.StopAll();

        // The next compilation opens the synthesizer again, which has no output left.
        std::string error;
        try {
            midis.Reopen(devices);
        } catch (const Exception& e) {
            error = e.Message();
        }
        EXPECT_EQ(error.rfind("内蔵シンセサイザーの音を出せません。音声出力 jack につながりませんでした", 0), 0u) << error;
        EXPECT_FALSE(midis.Items(0).IsOpen());
    }
    SetMidiOutService(nullptr);
}

// ---- quaverly-cli play, as a user runs it ----

std::string WritePiece(const std::string& name, const std::string& text)
{
    const std::string path = testing::TempDir() + "quaverly_" + name + "_" + std::to_string(getpid()) + ".mml";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

int ExitStatus(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct CommandLine : JackServer {
    // Starts quaverly-cli playing a piece on the dump's port alone.
    pid_t Play(const std::string& name, const std::string& text)
    {
        const std::string piece = WritePiece(name, text);
        return Spawn({QUAVERLY_CLI, "play", piece, "--port", "1=" + client_, "--port", "2=-", "--port", "3=-", "--port", "4=-"},
                     log_);
    }
    const std::string log_ = testing::TempDir() + "quaverly_play_" + std::to_string(getpid()) + ".txt";
};

TEST_F(CommandLine, PlaysToTheEndOnTheNamedPort)
{
    EXPECT_EQ(ExitStatus(Play("scale", "t240 l16 o4 cdefg\r\n")), 0) << Slurp(log_);
    std::vector<std::string> bytes;
    for (const auto& m : Recorded()) bytes.push_back(m.Bytes);
    ASSERT_GE(bytes.size(), 10u + 16u);
    EXPECT_EQ(std::vector<std::string>(bytes.begin(), bytes.begin() + 4),
              (std::vector<std::string>{"90 48 7F", "80 48 7F", "90 4A 7F", "80 4A 7F"}));
    EXPECT_EQ(bytes[9], "80 4F 7F");
    EXPECT_EQ(bytes[10], "B0 78 00");
    EXPECT_EQ(bytes[25], "BF 78 00");
}

TEST_F(CommandLine, StopsCleanlyOnInterrupt)
{
    const pid_t cli = Play("long", "t60 o4 c1 d1 e1 f1 g1 a1 b1\r\n");
    ASSERT_TRUE(WaitFor([&] { return Slurp(dumpLog_).find(": 90 48") != std::string::npos; }, 20s)) << Slurp(log_);
    kill(cli, SIGINT);
    EXPECT_EQ(ExitStatus(cli), 130) << Slurp(log_);
    EXPECT_NE(Slurp(log_).find("中断しました"), std::string::npos);
    std::vector<std::string> bytes;
    for (const auto& m : Recorded()) bytes.push_back(m.Bytes);
    // The note that was sounding is cut by All Sound Off on every channel; nothing else plays.
    ASSERT_GE(bytes.size(), 17u);
    EXPECT_EQ(bytes[0], "90 48 7F");
    for (std::uint8_t channel = 0; channel < 16; ++channel)
        EXPECT_EQ(bytes[1u + channel], HexBytes({static_cast<std::uint8_t>(0xB0 | channel), 120, 0}));
    for (std::size_t i = 1; i < bytes.size(); ++i) EXPECT_NE(bytes[i][0], '9') << "a note after the interrupt: " << bytes[i];
}

// The synthesizer's sound going away is a failure of the play, not a piece played to its end.
TEST_F(CommandLine, ReportsTheSynthesizersLostAudioOutput)
{
    setenv("QUAVERLY_AUDIO_DRIVER", "jack", 1);
    const std::string piece = WritePiece("synth", "t60 o4 c1 d1 e1 f1 g1 a1 b1\r\n");
    const pid_t cli = Spawn({QUAVERLY_CLI, "play", piece, "--port", "1=0", "--port", "2=-", "--port", "3=-", "--port", "4=-"}, log_);
    unsetenv("QUAVERLY_AUDIO_DRIVER");
    ASSERT_TRUE(WaitFor(SynthOnServer, 20s)) << Slurp(log_);
    End(jackd_, SIGKILL);
    EXPECT_EQ(ExitStatus(cli), 3) << Slurp(log_);
    EXPECT_NE(Slurp(log_).find("ポート 1 の MIDI 出力デバイスが失われたため、そのポートの演奏を止めました"), std::string::npos)
        << Slurp(log_);
}

TEST(CommandLineUse, RejectsWhatItCannotPlay)
{
    struct Case {
        std::vector<std::string> Args;
        int Status;
        const char* Message;
    };
    const std::string piece = WritePiece("error", "c d x\r\n");
    const Case cases[] = {
        {{"play"}, 2, "ファイルを指定してください"},
        {{"play", piece, "--port", "5=0"}, 2, "--port は P=デバイス の形で、P は 1～4 です: 5=0"},
        {{"play", piece, "--speed", "0"}, 2, "--speed は 0 より大きく 16 以下です: 0"},
        {{"play", piece, "--from", "1.5"}, 2, "--from は 0 以上の整数です: 1.5"},
        {{"play", piece, "--port", "1=no such device"}, 2, "「no such device」に当てはまるデバイスはありません"},
        {{"play", "/nonexistent/piece.mml"}, 2, ""},
        // A piece with an error is reported as the window would, and nothing is played.
        {{"play", piece, "--port", "1=-", "--port", "2=-", "--port", "3=-", "--port", "4=-"}, 1,
         "未定義のコマンド( 行 : 1 )"},
    };
    const std::string log = testing::TempDir() + "quaverly_reject_" + std::to_string(getpid()) + ".txt";
    for (const auto& c : cases) {
        std::vector<std::string> args = {QUAVERLY_CLI};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        SCOPED_TRACE(args.back());
        EXPECT_EQ(ExitStatus(Spawn(args, log)), c.Status);
        EXPECT_NE(Slurp(log).find(c.Message), std::string::npos) << Slurp(log);
    }
}

TEST(CommandLineUse, DevicesListsTheBuiltinSynthesizerFirst)
{
    const std::string log = testing::TempDir() + "quaverly_devices_" + std::to_string(getpid()) + ".txt";
    EXPECT_EQ(ExitStatus(Spawn({QUAVERLY_CLI, "devices"}, log)), 0);
    EXPECT_EQ(Slurp(log).substr(0, 132),
              "0: 内蔵シンセサイザー A\n1: 内蔵シンセサイザー B\n2: 内蔵シンセサイザー C\n3: 内蔵シンセサイザー D\n");
}

}  // namespace
