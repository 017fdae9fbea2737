// The subcommands of quaverly-cli. Each takes its own arguments (without the subcommand's name)
// and returns the process exit status: 0 done, 1 the piece has an error, 2 a usage or file error,
// 3 a device could not be opened or went away while playing, 130 playing was interrupted (Ctrl+C).
// RunDevices, RunPlay and RunRender are built into the device module, not into quaverly-cli itself.
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

// devices, play and render live in the device module (cli/DeviceModule.h): this loads it on first
// use and runs command there. When the module cannot be found or loaded, err is told which file
// and why, and the status is 3, as for a device that cannot be opened.
int RunDeviceCommand(const std::string& command, const std::vector<std::string>& args, std::istream& in,
                     std::ostream& out, std::ostream& err);

// Reads the document and compiles it into song, every port starting from a fresh player's tempo.
// False when the document cannot be read (err is told why): exit status 2. A compile error is in
// the song, for each command to report when its order of reporting asks for it.
bool ReadAndCompile(const std::string& source, std::istream& in, std::ostream& err, TSong& song);

// Tells err the song's compile error; false when it has none.
bool ReportCompileError(const TSong& song, std::ostream& err);
