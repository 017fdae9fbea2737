// quaverly-cli render: compiles a piece and renders it through the built-in synthesizer into a
// WAV file, much faster than it plays.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "cli/Cli.h"
#include "cli/Interrupt.h"
#include "cli/Options.h"
#include "cli/TrackOptions.h"
#include "devices/Render.h"

namespace {

const std::string RenderUsage = std::string(
    "使い方: quaverly-cli render ファイル|- -o 出力.wav [--soundfont 音色.sf2] [--rate 44100|48000]\n"
    "        [--mute トラック] [--solo トラック]\n"
    "       quaverly-cli render ファイル|- --stems フォルダ [...]\n"
    "  -o 出力.wav            書き出す WAV ファイル (16 ビット ステレオ、- で標準出力)\n"
    "  --stems フォルダ       -o の代わりに、音符のあるトラックごとに一つずつ track-01.wav ... を書き出します\n"
    "                         (どれも曲全体と同じ長さで、足し合わせると曲全体になります。フォルダはなければ作ります)\n"
    "  --soundfont 音色.sf2   内蔵シンセサイザーの音色ファイル (既定: 演奏と同じもの)\n"
    "  --rate 44100|48000     サンプリング周波数 (既定: 44100)\n") + TrackOptionsUsage(25);

std::string SecondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

// The folder the stems go into: one that exists, or made now (only its last part: a mistyped
// parent is reported rather than made). created tells whether it was made, so that it can go
// again when nothing is written into it. "" when it is ready, else what is wrong.
std::string PrepareFolder(const std::string& folder, bool& created)
{
    created = false;
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return {};
        return "フォルダではありません: " + folder;
    }
    if (mkdir(folder.c_str(), 0777) != 0) return "フォルダを作れません: " + folder + " (" + std::strerror(errno) + ")";
    created = true;
    return {};
}

}  // namespace

int RunRender(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
    std::string output, stems;
    TRenderOptions options;
    TTrackOptions tracks;
    TCliCommand command;
    command.Usage = RenderUsage.c_str();
    command.Options = {
        TCliOption::Value({"-o"}, [&](const std::string& value) {
            output = value;
            return value.empty() ? std::string("-o の値がありません") : std::string();
        }),
        TCliOption::Value({"--stems"}, [&](const std::string& value) {
            stems = value;
            return value.empty() ? std::string("--stems の値がありません") : std::string();
        }),
        TCliOption::Value({"--soundfont"}, [&](const std::string& value) {
            options.Soundfont = value;
            return value.empty() ? std::string("--soundfont の値がありません") : std::string();
        }),
        TCliOption::Value({"--rate"}, [&](const std::string& value) {
            if (value != "44100" && value != "48000") return "--rate は 44100 か 48000 です: " + value;
            options.SampleRate = value == "44100" ? 44100 : 48000;
            return std::string();
        }),
    };
    for (TCliOption& option : tracks.Options()) command.Options.push_back(std::move(option));
    command.Check = [&, requireOutput = RequireOutput(output)] {
        if (!stems.empty()) return output.empty() ? std::string() : std::string("-o と --stems は一緒には指定できません");
        return requireOutput();
    };
    std::string source;
    if (const int status = ParseCommandLine(command, args, source, out, err); status >= 0) return status;
    TSong song;
    if (!ReadAndCompile(source, in, err, song)) return 2;
    if (ReportCompileError(song, err)) return 1;
    if (const std::string problem = tracks.Check(song); !problem.empty()) return UsageError(command, problem, err);
    // The silenced tracks' notes are left out; their programs and controllers stay, as they sound.
    SilenceTracks(song, tracks.Silenced());

    std::optional<TAudioRenderer> renderer;
    try {
        renderer.emplace(song, options);
    } catch (const Exception& e) {
        err << e.Message() << '\n';
        return 1;
    }

    const TInterruptGuard guard;  // Ctrl+C cancels, and the half-written file goes with it
    const bool terminal = isatty(STDERR_FILENO) != 0;
    int shown = -1;
    const auto progress = [&](double fraction) {
        const int percent = static_cast<int>(fraction * 100.0);
        if (terminal && percent != shown) {
            shown = percent;
            err << "\r書き出し中 " << percent << "%  " << std::flush;
        }
        return !Interrupted();
    };
    const auto failed = [&](const std::string& message) {
        if (terminal) err << '\n';
        err << message << '\n';
    };

    if (!stems.empty()) {
        renderer.reset();  // it has checked the piece; the stems make renderers of their own
        bool created = false;
        if (const std::string problem = PrepareFolder(stems, created); !problem.empty()) {
            err << problem << '\n';
            return 2;
        }
        // A folder made for stems that were never written goes again.
        const auto removeMade = [&] {
            if (created) rmdir(stems.c_str());
        };
        TStemsResult result;
        try {
            result = RenderStems(stems, song, options, progress);
        } catch (const Exception& e) {
            removeMade();
            failed(e.Message());
            return 2;
        }
        if (result.Status == TRenderStatus::Cancelled) {
            removeMade();
            failed("中断しました");
            return 130;
        }
        if (terminal) err << "\r書き出し中 100%\n";
        if (result.Tracks.empty()) {
            removeMade();
            out << "音符を鳴らすトラックがないので、何も書き出しませんでした\n";
            return 0;
        }
        if (created) out << "フォルダを作りました: " << stems << '\n';
        for (const std::string& path : result.Paths)
            out << "書き出しました: " << path << " (" << SecondsText(result.Seconds) << " 秒)\n";
        return 0;
    }

    TRenderResult result;
    try {
        result = renderer->Write(output, progress);
    } catch (const Exception& e) {
        failed(e.Message());
        return 2;
    }
    if (result.Status == TRenderStatus::Cancelled) {
        failed("中断しました");
        return 130;
    }
    if (terminal) err << "\r書き出し中 100%\n";
    // With "-o -" the samples went to standard output, which the report must not run into.
    (output == "-" ? err : out) << "書き出しました: " << (output == "-" ? "標準出力" : output)
                                        << " (" << SecondsText(result.Seconds) << " 秒)\n";
    return 0;
}
