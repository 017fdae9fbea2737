// quaverly-cli export: compiles a piece and writes it as a Standard MIDI File.
#include <iostream>
#include <string>

#include "cli/Cli.h"
#include "cli/Options.h"
#include "cli/TrackOptions.h"
#include "formats/SaveFile.h"
#include "formats/Smf.h"

namespace {

const std::string ExportUsage = std::string(
    "使い方: quaverly-cli export ファイル|- -o 出力.mid|-\n"
    "        [--mute トラック] [--solo トラック]\n"
    "  -o, --output 出力.mid  書き出す Standard MIDI File (- で標準出力)\n") + TrackOptionsUsage(25);

}  // namespace

int RunExport(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
    std::string output;
    TTrackOptions tracks;
    TCliCommand command;
    command.Usage = ExportUsage.c_str();
    command.Options = {TCliOption::Value({"-o", "--output"}, [&](const std::string& value) {
        output = value;
        return std::string();
    })};
    for (TCliOption& option : tracks.Options()) command.Options.push_back(std::move(option));
    command.Check = RequireOutput(output);
    std::string source;
    if (const int status = ParseCommandLine(command, args, source, out, err); status >= 0) return status;
    TSong song;
    if (!ReadAndCompile(source, in, err, song)) return 2;
    if (ReportCompileError(song, err)) return 1;
    if (const std::string problem = tracks.Check(song); !problem.empty()) return UsageError(command, problem, err);
    // The silenced tracks' notes are left out; their programs and controllers stay, as they sound.
    SilenceTracks(song, tracks.Silenced());

    TSmfFile exported;
    try {
        // The song's events go as the file takes them: the two are never held whole together.
        exported = MakeSmf(std::move(song));
    } catch (const Exception& e) {
        err << e.Message() << '\n';
        return 1;
    }
    try {
        TAtomicFileWriter file(output);
        exported.WriteTo([&](const std::uint8_t* data, std::size_t size) { file.Write(data, size); });
        file.Commit();
    } catch (const Exception& e) {
        err << e.Message() << '\n';
        return 2;
    }
    if (exported.FixedTempo) err << exported.Note << '\n';
    return 0;
}
