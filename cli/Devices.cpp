// quaverly-cli devices: the numbered list of MIDI output devices, as the port dialog shows it.
#include <ostream>

#include "cli/Cli.h"
#include "cli/Options.h"
#include "devices/Devices.h"

namespace {

const char* const DevicesUsage =
    "使い方: quaverly-cli devices\n"
    "  MIDI 出力デバイスを、play --port とポートの割り当てで使う番号を付けて一覧します\n";

}  // namespace

int RunDevices(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    TCliCommand command;
    command.Usage = DevicesUsage;
    command.Source = TCliSource::None;
    command.ExplainProblems = false;
    std::string none;
    if (const int status = ParseCommandLine(command, args, none, out, err); status >= 0) return status;
    const TDeviceCatalog catalog(false);
    const auto names = catalog.Names();
    for (std::size_t i = 0; i < names.size(); ++i) out << i << ": " << names[i] << '\n';
    return 0;
}
