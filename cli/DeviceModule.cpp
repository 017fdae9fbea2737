// The entry of the device module (see cli/DeviceModule.h): the only symbol it exports.
#include "cli/DeviceModule.h"

#include <cstring>

#include "cli/Cli.h"

extern "C" __attribute__((visibility("default"))) int QuaverlyRunDeviceCommand(
    const char* command, const std::vector<std::string>* args, std::istream* in, std::ostream* out, std::ostream* err)
{
    if (std::strcmp(command, "devices") == 0) return RunDevices(*args, *out, *err);
    if (std::strcmp(command, "play") == 0) return RunPlay(*args, *in, *out, *err);
    if (std::strcmp(command, "render") == 0) return RunRender(*args, *in, *out, *err);
    *err << "不明なコマンドです: " << command << '\n';
    return 2;
}
