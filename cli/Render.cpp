// quaverly-cli render: compiles a piece and renders it through the built-in synthesizer into a
// WAV file, much faster than it plays.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <optional>

#include "cli/Cli.h"
#include "cli/Interrupt.h"
#include "devices/Render.h"

namespace {

const char* const RenderUsage =
    "使い方: quaverly-cli render ファイル|- -o 出力.wav [--soundfont 音色.sf2] [--rate 44100|48000]\n"
    "  -o 出力.wav            書き出す WAV ファイル (16 ビット ステレオ、- で標準出力)\n"
    "  --soundfont 音色.sf2   内蔵シンセサイザーの音色ファイル (既定: 演奏と同じもの)\n"
    "  --rate 44100|48000     サンプリング周波数 (既定: 44100)\n";

struct TRenderCommand {
    std::string Source;
    std::string Output;
    TRenderOptions Options;
};

// Returns an empty string when the options are good, else what is wrong with them.
std::string ParseOptions(const std::vector<std::string>& args, TRenderCommand& command)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-o" || arg == "--soundfont" || arg == "--rate") {
            if (i + 1 >= args.size()) return arg + " の値がありません";
            const std::string& value = args[++i];
            if (arg == "-o") {
                if (value.empty()) return "-o の値がありません";
                command.Output = value;
            } else if (arg == "--soundfont") {
                if (value.empty()) return "--soundfont の値がありません";
                command.Options.Soundfont = value;
            } else if (value == "44100" || value == "48000") {
                command.Options.SampleRate = value == "44100" ? 44100 : 48000;
            } else {
                return "--rate は 44100 か 48000 です: " + value;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "不明なオプションです: " + arg;
        } else if (command.Source.empty()) {
            command.Source = arg;
        } else {
            return "ファイルは一つだけ指定できます";
        }
    }
    if (command.Source.empty()) return "ファイルを指定してください";
    if (command.Output.empty()) return "書き出すファイルを -o で指定してください";
    return {};
}

}  // namespace

int RunRender(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << RenderUsage;
        return 0;
    }
    TRenderCommand command;
    if (const std::string problem = ParseOptions(args, command); !problem.empty()) {
        err << problem << '\n' << RenderUsage;
        return 2;
    }
    std::string text;
    if (!ReadPiece(command.Source, in, text, err)) return 2;

    TSong song;
    if (!CompileWithoutDevices(text, song, err)) return 1;
    std::optional<TAudioRenderer> renderer;
    try {
        renderer.emplace(song, command.Options);
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
        result = renderer->Write(command.Output, progress);
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
    (command.Output == "-" ? err : out) << "書き出しました: " << (command.Output == "-" ? "標準出力" : command.Output)
                                        << " (" << seconds << " 秒)\n";
    return 0;
}
