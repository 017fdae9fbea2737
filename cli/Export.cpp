// quaverly-cli export: compiles a piece and writes it as a Standard MIDI File.
#include <iostream>

#include "cli/Cli.h"
#include "formats/SaveFile.h"
#include "formats/Smf.h"

namespace {

const char* const ExportUsage =
    "使い方: quaverly-cli export ファイル|- -o 出力.mid|-\n"
    "  -o, --output 出力.mid  書き出す Standard MIDI File (- で標準出力)\n";

// Returns an empty string when the arguments are good, else what is wrong with them.
std::string ParseExportArgs(const std::vector<std::string>& args, std::string& source, std::string& output)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-o" || arg == "--output") {
            if (i + 1 >= args.size()) return arg + " の値がありません";
            output = args[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "不明なオプションです: " + arg;
        } else if (source.empty()) {
            source = arg;
        } else {
            return "ファイルは一つだけ指定できます";
        }
    }
    if (source.empty()) return "ファイルを指定してください";
    if (output.empty()) return "書き出すファイルを -o で指定してください";
    return {};
}

}  // namespace

int RunExport(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << ExportUsage;
        return 0;
    }
    std::string source, output;
    if (const std::string problem = ParseExportArgs(args, source, output); !problem.empty()) {
        err << problem << '\n' << ExportUsage;
        return 2;
    }
    std::string text;
    if (!ReadPiece(source, in, text, err)) return 2;

    TSong song;
    if (!CompileWithoutDevices(text, song, err)) return 1;
    TSmfExport exported;
    try {
        exported = ExportSmf(song);
    } catch (const Exception& e) {
        err << e.Message() << '\n';
        return 1;
    }
    try {
        SaveFileAtomically(output, exported.Bytes);
    } catch (const Exception& e) {
        err << e.Message() << '\n';
        return 2;
    }
    if (exported.FixedTempo) err << exported.Note << '\n';
    return 0;
}
