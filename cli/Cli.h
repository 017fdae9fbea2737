// The subcommands of quaverly-cli. Each takes its own arguments (without the subcommand's name)
// and returns the process exit status: 0 done, 1 the piece has an error, 2 a usage or file error,
// 3 a device could not be opened or went away while playing, 130 playing was interrupted (Ctrl+C).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "compiler/Compiler.h"

int RunEvents(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
int RunDevices(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunPlay(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
int RunExport(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
int RunRender(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

// Reads the document and compiles it into song, every port starting from a fresh player's tempo.
// False when the document cannot be read (err is told why): exit status 2. A compile error is in
// the song, for each command to report when its order of reporting asks for it.
bool ReadAndCompile(const std::string& source, std::istream& in, std::ostream& err, TSong& song);

// Tells err the song's compile error; false when it has none.
bool ReportCompileError(const TSong& song, std::ostream& err);
