// The subcommands of quaverly-cli. Each takes its own arguments (without the subcommand's name)
// and returns the process exit status: 0 done, 1 the piece has an error, 2 a usage or file error.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

int RunEvents(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
