// The subcommands of quaverly-cli. Each takes its own arguments (without the subcommand's name)
// and returns the process exit status: 0 done, 1 the piece has an error, 2 a usage or file error,
// 3 a device could not be opened or went away while playing, 130 playing was interrupted (Ctrl+C).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "MMLtoMID.h"

int RunEvents(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
int RunDevices(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunPlay(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
int RunExport(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
int RunRender(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

// Reads a document (a file name, or "-" for standard input) into its lines; on failure tells err
// why and returns false.
bool ReadPiece(const std::string& source, std::istream& in, std::vector<std::string>& lines, std::ostream& err);

// Compiles lines with every port closed, for the commands that only read the compiled lists and
// each player's tempo (export, render). On a compile error tells err and returns false: the
// events made before the error are not the piece.
bool CompileWithoutDevices(const std::vector<std::string>& lines, TMML& compiler, std::ostream& err);

// Collects what a compilation reports instead of showing it.
class RecordingPane : public TMessagePane {
public:
    void Clear() override { Memo.clear(); }
    void Add(const std::string& line) override { Memo.push_back(line); }
    void ShowError(const std::string& text) override { ErrorText = text; }

    std::vector<std::string> Memo;
    std::string ErrorText;
};
