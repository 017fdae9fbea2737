// quaverly-cli events, run as the real program: its output is a contract that tools rely on.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/Json.h"

namespace {

struct CliRun {
    int Status;
    std::string Out;
    std::string Err;
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string TempPath(const std::string& name)
{
    // The process id keeps two runs of the suite on one machine from sharing files.
    return testing::TempDir() + "quaverly_cli_" + std::to_string(getpid()) + "_" + name;
}

// Runs the tool with the given arguments and standard input.
CliRun Cli(const std::string& args, const std::string& input = "")
{
    const std::string in = TempPath("in"), out = TempPath("out"), err = TempPath("err");
    std::ofstream(in, std::ios::binary) << input;
    const std::string command =
        std::string(QUAVERLY_CLI) + " " + args + " <" + in + " >" + out + " 2>" + err;
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
}

const char* const Players =
    "{\"player\":1,\"tempo\":120}\n{\"player\":2,\"tempo\":120}\n"
    "{\"player\":3,\"tempo\":120}\n{\"player\":4,\"tempo\":120}\n";

TEST(CliEvents, PrintsEventsPlayersAndError)
{
    const CliRun run = Cli("events -", "c8\r\nd16\nx\n");
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out,
              "{\"port\":1,\"tick\":0,\"time\":0,\"serial\":0,\"track\":1,\"line\":1,\"kind\":\"short\",\"status\":144,\"data1\":60,\"data2\":127}\n"
              "{\"port\":1,\"tick\":240,\"time\":500,\"serial\":1,\"track\":1,\"line\":1,\"kind\":\"short\",\"status\":128,\"data1\":60,\"data2\":127}\n"
              "{\"port\":1,\"tick\":240,\"time\":500,\"serial\":2,\"track\":1,\"line\":2,\"kind\":\"short\",\"status\":144,\"data1\":62,\"data2\":127}\n"
              "{\"port\":1,\"tick\":360,\"time\":750,\"serial\":3,\"track\":1,\"line\":2,\"kind\":\"short\",\"status\":128,\"data1\":62,\"data2\":127}\n" +
                  std::string(Players) + "{\"error\":\"未定義のコマンド( 行 : 3 )\"}\n");
    EXPECT_EQ(run.Err, "");
}

TEST(CliEvents, ReadsFilesInEveryEncodingAndStandardInput)
{
    // "c12" makes a time that is no round number; a final line end starts no further line.
    const auto expected = [](int line) {
        const std::string at = std::to_string(line);
        return "{\"port\":1,\"tick\":0,\"time\":0,\"serial\":0,\"track\":1,\"line\":" + at +
               ",\"kind\":\"short\",\"status\":144,\"data1\":60,\"data2\":127}\n"
               "{\"port\":1,\"tick\":160,\"time\":333.3333333333333,\"serial\":1,\"track\":1,\"line\":" + at +
               ",\"kind\":\"short\",\"status\":128,\"data1\":60,\"data2\":127}\n" + std::string(Players);
    };
    const std::string utf8 = TempPath("utf8.mml"), sjis = TempPath("sjis.mml");
    std::ofstream(utf8, std::ios::binary) << "// ふるさと\nc12\n";
    std::ofstream(sjis, std::ios::binary) << "// \x82\xd3\x82\xe9\x82\xb3\x82\xc6\r\nc12\r\n";
    for (const std::string& args : {"events " + utf8, "events " + sjis}) {
        const CliRun run = Cli(args);
        EXPECT_EQ(run.Status, 0) << args;
        EXPECT_EQ(run.Out, expected(2)) << args;
    }
    const CliRun piped = Cli("events", "c12");
    EXPECT_EQ(piped.Out, expected(1));
    EXPECT_EQ(Cli("events").Out, Players);  // empty input: no events, no error
}

TEST(CliEvents, UsageAndFileErrorsExitTwo)
{
    for (const char* args : {"", "nonsense", "events a b"}) {
        const CliRun run = Cli(args);
        EXPECT_EQ(run.Status, 2) << args;
        EXPECT_EQ(run.Out, "") << args;
        EXPECT_NE(run.Err, "") << args;
    }
    const CliRun missing = Cli("events /nonexistent/piece.mml");
    EXPECT_EQ(missing.Status, 2);
    EXPECT_NE(missing.Err.find("/nonexistent/piece.mml"), std::string::npos);
    // Endless standard input is refused at the document bound instead of filling the memory.
    const std::string err = TempPath("endless.err");
    const int status = std::system((std::string(QUAVERLY_CLI) + " events - </dev/zero >/dev/null 2>" + err).c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
    EXPECT_EQ(Slurp(err), "標準入力が大きすぎて読み込めません\n");
}

// Every command answers --help (and -h) on standard output; the tool's own --help lists every
// command and the options of its own.
TEST(CliHelp, EveryCommandHasItsUsage)
{
    const struct {
        std::string Args;
        std::string FirstLine;
    } cases[] = {
        {"--help", "使い方: quaverly-cli <コマンド> [引数...]\n"},
        {"-h", "使い方: quaverly-cli <コマンド> [引数...]\n"},
        {"help", "使い方: quaverly-cli <コマンド> [引数...]\n"},
        {"events --help", "使い方: quaverly-cli events [--at] [ファイル|-]\n"},
        {"devices --help", "使い方: quaverly-cli devices\n"},
        {"play --help", "使い方: quaverly-cli play ファイル|- [--port P=デバイス ...] [--speed 倍率] [--from ティック]\n"},
        {"export --help", "使い方: quaverly-cli export ファイル|- -o 出力.mid|-\n"},
        {"render -h", "使い方: quaverly-cli render ファイル|- -o 出力.wav [--soundfont 音色.sf2] [--rate 44100|48000]\n"},
    };
    for (const auto& c : cases) {
        const CliRun run = Cli(c.Args);
        EXPECT_EQ(run.Status, 0) << c.Args;
        EXPECT_EQ(run.Err, "") << c.Args;
        EXPECT_EQ(run.Out.substr(0, c.FirstLine.size()), c.FirstLine) << c.Args;
        EXPECT_GT(run.Out.size(), c.FirstLine.size()) << c.Args << ": the usage explains nothing";
    }
    const std::string overview = Cli("--help").Out;
    for (const char* item : {"\n  events ", "\n  devices ", "\n  play ", "\n  export ", "\n  render ", "\n  --help ",
                             "\n  --version "})
        EXPECT_NE(overview.find(item), std::string::npos) << item;
    // Each command's options are explained in its own usage.
    for (const auto& [command, option] : std::vector<std::pair<std::string, std::string>>{
             {"events", "--at"}, {"play", "--port"}, {"play", "--speed"}, {"play", "--from"},
             {"export", "-o, --output"}, {"render", "-o"}, {"render", "--soundfont"}, {"render", "--rate"},
             {"play", "--mute"}, {"play", "--solo"}, {"play", "--loop"}, {"export", "--mute"}, {"export", "--solo"},
             {"render", "--stems"}, {"render", "--mute"}, {"render", "--solo"}}) {
        const std::string usage = Cli(command + " --help").Out;
        EXPECT_NE(usage.find("\n  " + option), std::string::npos) << command << ' ' << option;
    }
}

// A usage error shows the same usage as --help, on standard error after what was wrong, with
// exit status 2.
TEST(CliHelp, UsageErrorsShowTheHelpText)
{
    const struct {
        std::string Args;
        std::string Help;
        std::string Problem;
    } cases[] = {
        {"", "--help", ""},
        {"nonsense", "--help", "不明なコマンドです: nonsense\n"},
        {"events a b", "events --help", ""},
        {"events --loud -", "events --help", ""},
        {"devices extra", "devices --help", ""},
        {"play", "play --help", "ファイルを指定してください\n"},
        {"play - --speed 0", "play --help", "--speed は 0 より大きく 16 以下です: 0\n"},
        {"export -", "export --help", "書き出すファイルを -o で指定してください\n"},
        {"export - --loud -o x.mid", "export --help", "不明なオプションです: --loud\n"},
        {"render - --rate 22050 -o x.wav", "render --help", "--rate は 44100 か 48000 です: 22050\n"},
        {"render - -o x.wav --rate", "render --help", "--rate の値がありません\n"},
        // Track lists: malformed, out of range, backwards, and tracks the piece (track 1 alone) has not.
        {"export - -o x.mid --mute 1,x", "export --help", "--mute のトラックの指定が正しくありません: x\n"},
        {"export - -o x.mid --mute 1,", "export --help", "--mute のトラックの指定が正しくありません: 1,\n"},
        {"render - -o x.wav --solo 0", "render --help", "--solo のトラック番号は 1 から 128 までです: 0\n"},
        {"play - --solo 5-3", "play --help", "--solo のトラックの範囲が逆になっています: 5-3\n"},
        {"play - --mute", "play --help", "--mute の値がありません\n"},
        {"export - -o x.mid --solo 3", "export --help", "--solo のトラック 3 はこの曲にありません\n"},
        {"render - -o x.wav --mute 1 --mute 2-3", "render --help", "--mute のトラック 2,3 はこの曲にありません\n"},
        {"play - --mute 7 --port 1=-", "play --help", "--mute のトラック 7 はこの曲にありません\n"},
        {"play - --loop -1", "play --help", "--loop は 0 以上の整数です: -1\n"},
        {"play - --loop 1.5", "play --help", "--loop は 0 以上の整数です: 1.5\n"},
        {"play - --loop x", "play --help", "--loop の値が数値ではありません: x\n"},
        // Stems are written by render alone, and instead of -o.
        {"render - -o x.wav --stems d", "render --help", "-o と --stems は一緒には指定できません\n"},
        {"export - -o x.mid --stems d", "export --help", "不明なオプションです: --stems\n"},
        {"play - --stems d", "play --help", "不明なオプションです: --stems\n"},
    };
    for (const auto& c : cases) {
        const CliRun help = Cli(c.Help);
        ASSERT_EQ(help.Status, 0) << c.Help;
        const CliRun run = Cli(c.Args, "c4");
        EXPECT_EQ(run.Status, 2) << c.Args;
        EXPECT_EQ(run.Out, "") << c.Args;
        EXPECT_EQ(run.Err, c.Problem + help.Out) << c.Args;
    }
}

// The version is project(VERSION) in CMakeLists.txt, the one the package is named by (the
// window's --version is checked on the installed package by scripts/check-package).
TEST(CliHelp, VersionIsTheProjectVersion)
{
    const std::string cmake = Slurp("CMakeLists.txt");
    const std::string key = "project(Quaverly VERSION ";
    const std::size_t at = cmake.find(key);
    ASSERT_NE(at, std::string::npos);
    const std::string version = cmake.substr(at + key.size(), cmake.find_first_of(" )", at + key.size()) - at - key.size());
    ASSERT_FALSE(version.empty());
    const CliRun run = Cli("--version");
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "quaverly-cli " + version + "\n");
    EXPECT_EQ(run.Err, "");
}

// The example piece uses every construct of the language; its events are checked in, so any change
// in what the compiler makes of it shows here. After a deliberate change, regenerate the file with
// quaverly-cli events examples/kaeru.mml > tests/fixtures/kaeru.events.jsonl and review the diff.
TEST(CliEvents, ExamplePieceMatchesItsGoldenEvents)
{
    const CliRun run = Cli("events examples/kaeru.mml");
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, Slurp("tests/fixtures/kaeru.events.jsonl"));
}

TEST(CliEvents, AtAddsTheMillisecondThePlayerSendsEachEvent)
{
    // The player starts at the tempo left by the compilation (60): the first quarter lasts 1 s,
    // the rest play at 120.
    const CliRun run = Cli("events --at -", "c4 t120 d4 t60");
    EXPECT_EQ(run.Status, 0);
    std::vector<std::string> ends;
    std::istringstream lines(run.Out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("{\"port\"", 0) == 0) ends.push_back(line.substr(line.rfind(',') + 1));
    EXPECT_EQ(ends, (std::vector<std::string>{"\"at\":0}", "\"at\":1000}", "\"at\":1000}", "\"at\":1000}",
                                              "\"at\":1500}", "\"at\":1500}"}));
}

TEST(CliExport, WritesAMidiFileOrNothing)
{
    const std::string mid = TempPath("export.mid");
    std::remove(mid.c_str());
    const CliRun ok = Cli("export - -o " + mid, "t96 c4 d4");
    EXPECT_EQ(ok.Status, 0);
    EXPECT_EQ(ok.Err, "");
    EXPECT_EQ(Slurp(mid).substr(0, 14), std::string("MThd\0\0\0\6\0\1\0\2\1\xE0", 14));

    // A piece with an error is not the piece: no file, and what stood there stays.
    const CliRun broken = Cli("export - -o " + mid, "c4 x");
    EXPECT_EQ(broken.Status, 1);
    EXPECT_NE(broken.Err.find("未定義のコマンド"), std::string::npos) << broken.Err;
    EXPECT_EQ(Slurp(mid).substr(0, 4), "MThd");
    std::remove(mid.c_str());
    EXPECT_EQ(Cli("export - -o " + mid, "c4 x").Status, 1);
    EXPECT_FALSE(std::ifstream(mid).good());

    for (const std::string& args : std::vector<std::string>{"export -", "export - -o", "export -o " + mid, "export a b -o " + mid,
                                                             "export - --loud -o " + mid}) {
        const CliRun run = Cli(args, "c4");
        EXPECT_EQ(run.Status, 2) << args;
        EXPECT_NE(run.Err, "") << args;
        EXPECT_FALSE(std::ifstream(mid).good()) << args;
    }
    const CliRun unwritable = Cli("export - -o /nonexistent/dir/out.mid", "c4");
    EXPECT_EQ(unwritable.Status, 2);
    EXPECT_NE(unwritable.Err.find("/nonexistent/dir/out.mid"), std::string::npos);
}

// A muted track's notes are left out of the file, its program change stays; solo leaves out every
// other track's notes.
TEST(CliExport, MuteAndSoloLeaveOutNotes)
{
    const std::string mid = TempPath("muted.mid");
    const std::string noteOn1 = "\x90\x3C\x7F", noteOn2 = "\x91\x40\x7F", program2 = "\xC1\x01";
    const struct {
        std::string Options;
        bool Track1, Track2;
    } cases[] = {
        {"", true, true},
        {"--mute 2", true, false},
        {"--solo 2", false, true},
        {"--solo 1-2 --mute 1", false, true},  // a track both soloed and muted stays muted
        {"--mute 1,2", false, false},
    };
    for (const auto& c : cases) {
        std::remove(mid.c_str());
        const CliRun run = Cli("export - -o " + mid + " " + c.Options, "[1] c4 [2] @2 e4");
        ASSERT_EQ(run.Status, 0) << c.Options << ": " << run.Err;
        const std::string bytes = Slurp(mid);
        EXPECT_EQ(bytes.find(noteOn1) != std::string::npos, c.Track1) << c.Options;
        EXPECT_EQ(bytes.find(noteOn2) != std::string::npos, c.Track2) << c.Options;
        EXPECT_NE(bytes.find(program2), std::string::npos) << c.Options;
    }
    std::remove(mid.c_str());
}

TEST(CliRender, WritesAWavFileOrNothing)
{
    const std::string wav = TempPath("render.wav");
    std::remove(wav.c_str());
    const CliRun ok = Cli("render - --rate 48000 -o " + wav, "c4");
    EXPECT_EQ(ok.Status, 0) << ok.Err;
    EXPECT_EQ(ok.Out.rfind("書き出しました: " + wav + " (", 0), 0u) << ok.Out;
    const std::string bytes = Slurp(wav);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(bytes.substr(22, 6), std::string("\x02\x00\x80\xBB\x00\x00", 6));  // stereo, 48000 Hz
    std::remove(wav.c_str());

    for (const std::string& args : std::vector<std::string>{"render - --rate 22050 -o " + wav, "render - --rate -o " + wav,
                                                            "render -", "render - -o " + wav + " --loud"}) {
        const CliRun run = Cli(args, "c4");
        EXPECT_EQ(run.Status, 2) << args;
        EXPECT_NE(run.Err, "") << args;
        EXPECT_FALSE(std::ifstream(wav).good()) << args;
    }
    const CliRun broken = Cli("render - -o " + wav, "c4 x");
    EXPECT_EQ(broken.Status, 1);
    EXPECT_NE(broken.Err.find("未定義のコマンド"), std::string::npos) << broken.Err;
    EXPECT_FALSE(std::ifstream(wav).good());
    const CliRun noSoundfont = Cli("render - --soundfont /nonexistent/a.sf2 -o " + wav, "c4");
    EXPECT_EQ(noSoundfont.Status, 2);
    EXPECT_NE(noSoundfont.Err.find("/nonexistent/a.sf2"), std::string::npos) << noSoundfont.Err;
    EXPECT_FALSE(std::ifstream(wav).good());
}

// --stems writes one file per track that plays notes into a folder it makes when missing; muted
// tracks get none. A folder made for nothing goes again.
TEST(CliRender, StemsGoIntoAFolder)
{
    const std::string folder = TempPath("stems");
    ASSERT_EQ(std::system(("rm -rf " + folder).c_str()), 0);
    const std::string piece = "[1] t240 c8 [2] e8 [3] @2 [12] g8";
    const CliRun made = Cli("render - --stems " + folder + " --mute 2", piece);
    ASSERT_EQ(made.Status, 0) << made.Err;
    EXPECT_EQ(made.Out.rfind("フォルダを作りました: " + folder + "\n書き出しました: " + folder + "/track-01.wav (", 0), 0u) << made.Out;
    EXPECT_NE(made.Out.find("書き出しました: " + folder + "/track-12.wav ("), std::string::npos) << made.Out;
    ASSERT_EQ(std::system(("ls " + folder + " >" + folder + ".list").c_str()), 0);
    EXPECT_EQ(Slurp(folder + ".list"), "track-01.wav\ntrack-12.wav\n");
    const std::string first = Slurp(folder + "/track-01.wav");
    EXPECT_EQ(first.substr(0, 4), "RIFF");
    EXPECT_EQ(first.size(), Slurp(folder + "/track-12.wav").size());

    // Into the folder that is there now: no word of making it.
    const CliRun again = Cli("render - --stems " + folder, piece);
    EXPECT_EQ(again.Status, 0) << again.Err;
    EXPECT_EQ(again.Out.find("フォルダを作りました"), std::string::npos) << again.Out;

    const std::string empty = TempPath("stems_none");
    ASSERT_EQ(std::system(("rm -rf " + empty).c_str()), 0);
    const CliRun none = Cli("render - --stems " + empty + " --mute 1", "c4");
    EXPECT_EQ(none.Status, 0) << none.Err;
    EXPECT_EQ(none.Out, "音符を鳴らすトラックがないので、何も書き出しませんでした\n");
    EXPECT_NE(access(empty.c_str(), F_OK), 0) << "the folder made for nothing stays";

    const CliRun file = Cli("render - --stems " + folder + "/track-01.wav", piece);
    EXPECT_EQ(file.Status, 2);
    EXPECT_EQ(file.Err, "フォルダではありません: " + folder + "/track-01.wav\n");
    const CliRun deep = Cli("render - --stems " + folder + "/a/b", piece);
    EXPECT_EQ(deep.Status, 2);
    EXPECT_EQ(deep.Err, "フォルダを作れません: " + folder + "/a/b (No such file or directory)\n");
    EXPECT_EQ(std::system(("rm -rf " + folder + " " + folder + ".list").c_str()), 0);
}

// The onsets in a 16-bit stereo WAV file: the 50 ms windows whose loudness rises past a clear
// level after a quiet one.
int Onsets(const std::string& wav)
{
    const std::size_t data = wav.find("data");
    if (data == std::string::npos) return -1;
    const std::size_t window = 2205 * 4, start = data + 8;
    int onsets = 0;
    bool quiet = true;
    for (std::size_t at = start; at + window <= wav.size(); at += window) {
        double sum = 0;
        for (std::size_t i = at; i < at + window; i += 2) {
            const auto sample = static_cast<std::int16_t>(static_cast<std::uint8_t>(wav[i]) | static_cast<std::uint8_t>(wav[i + 1]) << 8);
            sum += static_cast<double>(sample) * sample;
        }
        const double level = std::sqrt(sum / (window / 2));
        if (quiet && level > 500) ++onsets;
        if (level > 500) quiet = false;
        if (level < 100) quiet = true;
    }
    return onsets;
}

// play --loop 2 plays the whole song twice, heard through the synthesizer's file output (FluidSynth
// writes what it sounds into fluidsynth.wav in the current folder, in real time): a rest and one
// note, so every pass is one onset.
TEST(CliPlay, LoopPlaysTheSongAgain)
{
    const std::string folder = TempPath("loop");
    for (const auto& [loop, onsets] : std::vector<std::pair<std::string, int>>{{"", 1}, {" --loop 2", 2}}) {
        ASSERT_EQ(std::system(("rm -rf " + folder + " && mkdir " + folder).c_str()), 0);
        std::ofstream(folder + "/in.mml") << "t120 @1 o4 r4 c4";
        const std::string command = "cd " + folder + " && QUAVERLY_AUDIO_DRIVER=file " + QUAVERLY_CLI +
                                    " play in.mml --port 2=- --port 3=- --port 4=-" + loop + " >out 2>err";
        const int status = std::system(command.c_str());
        ASSERT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << loop << ": " << Slurp(folder + "/err");
        EXPECT_EQ(Onsets(Slurp(folder + "/fluidsynth.wav")), onsets) << loop;
    }
    EXPECT_EQ(std::system(("rm -rf " + folder).c_str()), 0);
}

// Ctrl+C, or the terminal closing, once the file is being written (its temporary file exists):
// exit 130 and no file at all.
TEST(CliRender, InterruptLeavesNoFile)
{
    for (const std::string signal : {"INT", "HUP"}) {
        const std::string folder = TempPath("render_interrupt");
        ASSERT_EQ(std::system(("rm -rf " + folder + " && mkdir " + folder).c_str()), 0);
        const std::string in = folder + "/in.mml", status = folder + "/status";
        std::ofstream(in) << "t30 |:2000 c1 :|";  // over four hours of music
        const std::string script = std::string(QUAVERLY_CLI) + " render " + in + " -o " + folder + "/out.wav 2>/dev/null & pid=$!; " +
                                   "for i in $(seq 600); do ls " + folder + "/.quaverly-*.tmp >/dev/null 2>&1 && break; sleep 0.05; done; " +
                                   "kill -" + signal + " $pid; wait $pid; echo $? >" + status;
        ASSERT_EQ(std::system(("sh -c '" + script + "'").c_str()), 0);
        EXPECT_EQ(Slurp(status), "130\n") << signal;
        ASSERT_EQ(std::system(("ls -A " + folder + " >" + folder + "/left").c_str()), 0);
        EXPECT_EQ(Slurp(folder + "/left"), "in.mml\nleft\nstatus\n") << signal;
    }
}

// "-o -" writes to standard output: the same bytes the file gets, and nothing else there.
TEST(CliOutput, DashIsStandardOutput)
{
    const std::string mid = TempPath("stdout.mid");
    ASSERT_EQ(Cli("export - -o " + mid, "t96 c4 d4").Status, 0);
    const CliRun midi = Cli("export - -o -", "t96 c4 d4");
    EXPECT_EQ(midi.Status, 0) << midi.Err;
    EXPECT_EQ(midi.Out, Slurp(mid));
    std::remove(mid.c_str());

    // Standard output here is a regular file, so the header's sizes are filled in as in any file.
    const CliRun wav = Cli("render - -o -", "t240 c16");
    EXPECT_EQ(wav.Status, 0) << wav.Err;
    ASSERT_GT(wav.Out.size(), 44u);
    EXPECT_EQ(wav.Out.substr(0, 4), "RIFF");
    const auto size32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(wav.Out[at + static_cast<std::size_t>(i)]);
        return v;
    };
    EXPECT_EQ(size32(40), wav.Out.size() - 44);
    EXPECT_NE(wav.Err.find("書き出しました: 標準出力"), std::string::npos) << wav.Err;
}

// A FIFO named as the piece is refused at once rather than waited on; "-" stays standard input.
TEST(CliInput, RefusesWhatIsNotARegularFile)
{
    const std::string fifo = TempPath("piece.fifo");
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string command : {"events ", "export -o /dev/null ", "render -o /dev/null "}) {
        const CliRun run = Cli(command + fifo);
        EXPECT_EQ(run.Status, 2) << command;
        EXPECT_EQ(run.Err, "通常のファイルではないので読み込めません: " + fifo + "\n") << command;
    }
    std::remove(fifo.c_str());
}

// events and export only compile and write: they start without RtMidi, FluidSynth and what those
// bring, which the device commands load from the device module when they run. The dynamic
// loader's own log names every object mapped, linked or loaded later, so it shows both.
TEST(CliStartUp, OnlyDeviceCommandsLoadTheDeviceLibraries)
{
    const auto loaded = [](const std::string& args) {
        const std::string log = TempPath("loader.log");
        const std::string command =
            "LD_DEBUG=files " + std::string(QUAVERLY_CLI) + " " + args + " </dev/null >/dev/null 2>" + log;
        const int status = std::system(command.c_str());
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(log));
    };
    const char* const deviceLibraries[] = {"quaverly-devices", "fluidsynth", "rtmidi", "libSDL", "pulse", "libjack",
                                           "libasound", "sndfile", "libX11", "wayland"};
    for (const std::string args : {"events -", "export - -o /dev/null"}) {
        const auto [status, log] = loaded(args);
        EXPECT_EQ(status, 0) << args;
        ASSERT_NE(log.find("libstdc++"), std::string::npos) << args << ": no loader log\n" << log;
        for (const char* library : deviceLibraries) EXPECT_EQ(log.find(library), std::string::npos) << args << ": " << library;
    }
    const auto [status, log] = loaded("devices");
    EXPECT_EQ(status, 0) << log;
    for (const char* library : {"quaverly-devices", "fluidsynth", "rtmidi"})
        EXPECT_NE(log.find(library), std::string::npos) << "devices: " << library;
    const CliRun devices = Cli("devices");
    EXPECT_EQ(devices.Status, 0) << devices.Err;
    EXPECT_EQ(devices.Out.rfind("0: 内蔵シンセサイザー A\n1: 内蔵シンセサイザー B\n", 0), 0u) << devices.Out;
}

// A program without its device module (a copy, a broken installation) still compiles; the device
// commands say which file they could not load, and why, with exit status 3.
TEST(CliStartUp, MissingOrBrokenDeviceModuleIsReported)
{
    const std::string folder = TempPath("lonely");
    ASSERT_EQ(std::system(("rm -rf " + folder + " && mkdir -p " + folder + "/bin && cp " + QUAVERLY_CLI + " " +
                           folder + "/bin/quaverly-cli")
                              .c_str()),
              0);
    const std::string copy = folder + "/bin/quaverly-cli";
    const auto run = [&](const std::string& args) {
        const std::string out = TempPath("lonely.out"), err = TempPath("lonely.err");
        const int status = std::system((copy + " " + args + " </dev/null >" + out + " 2>" + err).c_str());
        return CliRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
    };
    const CliRun events = run("events -");
    EXPECT_EQ(events.Status, 0) << events.Err;
    EXPECT_EQ(events.Out, Players);

    const std::string prefix = "演奏用のモジュールを読み込めません: ";
    // Nowhere to be found: the place an installed program looks in is named, inside the copy's prefix.
    for (const std::string& args : std::vector<std::string>{"devices", "play -", "render - -o " + folder + "/out.wav"}) {
        const CliRun missing = run(args);
        EXPECT_EQ(missing.Status, 3) << args;
        EXPECT_EQ(missing.Out, "") << args;
        EXPECT_EQ(missing.Err.rfind(prefix + folder + "/", 0), 0u) << args << ": " << missing.Err;
        const std::string end = "/quaverly/quaverly-devices.so (ファイルがありません)\n";
        EXPECT_TRUE(missing.Err.size() > end.size() && missing.Err.substr(missing.Err.size() - end.size()) == end)
            << args << ": " << missing.Err;
    }
    EXPECT_FALSE(std::ifstream(folder + "/out.wav").good());

    // Beside the program but no module: that file, and the loader's reason.
    std::ofstream(folder + "/bin/quaverly-devices.so") << "not a module\n";
    const CliRun broken = run("devices");
    EXPECT_EQ(broken.Status, 3);
    EXPECT_EQ(broken.Out, "");
    const std::string named = prefix + folder + "/bin/quaverly-devices.so (";
    EXPECT_EQ(broken.Err.rfind(named, 0), 0u) << broken.Err;
    EXPECT_GT(broken.Err.size(), named.size() + 2) << "no reason given: " << broken.Err;
    EXPECT_EQ(std::system(("rm -rf " + folder).c_str()), 0);
}

TEST(Json, StringsAndNumbers)
{
    EXPECT_EQ(JsonString("[a]  c\r\nd \"q\" \\ \t\x01 行"), "\"[a]  c\\r\\nd \\\"q\\\" \\\\ \\t\\u0001 行\"");
    EXPECT_EQ(JsonNumber(1000.0), "1000");
    EXPECT_EQ(JsonNumber(62.5), "62.5");
    EXPECT_EQ(JsonNumber(0.0), "0");
    EXPECT_EQ(JsonNumber(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(JsonNumber(4473924266.666667), "4473924266.666667");
}

}  // namespace
