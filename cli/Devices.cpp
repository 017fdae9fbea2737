// quaverly-cli devices: the numbered list of MIDI output devices, as the port dialog shows it.
#include <ostream>

#include "Cli.h"
#include "Devices.h"

int RunDevices(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (!args.empty()) {
        err << "使い方: quaverly-cli devices\n";
        return 2;
    }
    const TDeviceCatalog catalog(false);
    const auto names = catalog.Names();
    for (std::size_t i = 0; i < names.size(); ++i) out << i << ": " << names[i] << '\n';
    return 0;
}
