// quaverly-cli render: compiles a piece and renders it through the built-in synthesizer into a
// WAV file, much faster than it plays.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <optional>

#include "cli/Cli.h"
#include "cli/Interrupt.h"
#include "cli/Options.h"
#include "devices/Render.h"

namespace {

const char* const RenderUsage =
    "使い方: quaverly-cli render ファイル|- -o 出力.wav [--soundfont 音色.sf2] [--rate 44100|48000]\n"
    "  -o 出力.wav            書き出す WAV ファイル (16 ビット ステレオ、- で標準出力)\n"
    "  --soundfont 音色.sf2   内蔵シンセサイザーの音色ファイル (既定: 演奏と同じもの)\n"
    "  --rate 44100|48000     サンプリング周波数 (既定: 44100)\n";

}  // namespace

int RunRender(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
    std::string output;
    TRenderOptions options;
    TCliCommand command;
    command.Usage = RenderUsage;
    command.Options = {
        TCliOption::Value({"-o"}, [&](const std::string& value) {
            output = value;
            return value.empty() ? std::string("-o の値がありません") : std::string();
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
    command.Check = RequireOutput(output);
    std::string source;
    if (const int status = ParseCommandLine(command, args, source, out, err); status >= 0) return status;
    TSong song;
    if (!ReadAndCompile(source, in, err, song)) return 2;
    if (ReportCompileError(song, err)) return 1;

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
    TRenderResult result;
    try {
        result = renderer->Write(output, progress);
    } catch (const Exception& e) {
        if (terminal) err << '\n';
        err << e.Message() << '\n';
        return 2;
    }
    if (result.Status == TRenderStatus::Cancelled) {
        if (terminal) err << '\n';
        err << "中断しました\n";
        return 130;
    }
    if (terminal) err << "\r書き出し中 100%\n";
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", result.Seconds);
    // With "-o -" the samples went to standard output, which the report must not run into.
    (output == "-" ? err : out) << "書き出しました: " << (output == "-" ? "標準出力" : output)
                                        << " (" << seconds << " 秒)\n";
    return 0;
}
