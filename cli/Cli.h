// The subcommands of quaverly-cli. Each takes its own arguments (without the subcommand's name)
// and returns the process exit status: 0 done, 1 the piece has an error, 2 a usage or file error,
// 3 a device could not be opened or went away while playing, 130 playing was interrupted (Ctrl+C).
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/MMLtoMID.h"

int RunEvents(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
int RunDevices(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunPlay(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
int RunExport(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
int RunRender(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

// Reads a document (a file name, or "-" for standard input) into its text (UTF-8, every line
// ended by LF, as DecodeDocument gives it); on failure tells err why and returns false.
bool ReadPiece(const std::string& source, std::istream& in, std::string& text, std::ostream& err);

// Compiles text into song, for the commands that only read the compiled lists and each port's
// tempo (export, render). On a compile error tells err and returns false: the events made before
// the error are not the piece.
bool CompileWithoutDevices(std::string_view text, TSong& song, std::ostream& err);
