// Finding and loading the device module (see cli/DeviceModule.h) for the command that needs it.
#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <ostream>
#include <system_error>

#include "cli/Cli.h"
#include "cli/DeviceModule.h"

namespace {

// Where the module may be, in the order tried: beside the program (the build tree), then in the
// library folder of the program's own prefix (an installed program). Both are found from the
// program's own file, never from the current folder or the library search path, so that the
// module of another build or another prefix is never picked up instead.
std::vector<std::filesystem::path> ModulePlaces()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    const std::filesystem::path folder = self.parent_path();
    return {folder / QUAVERLY_DEVICES_MODULE,
            (folder / QUAVERLY_DEVICES_MODULE_DIR / QUAVERLY_DEVICES_MODULE).lexically_normal()};
}

// The module's entry, or nullptr with path and reason set to what to tell the user. The module
// stays loaded to the end of the process: the synthesizer's and the devices' threads may outlive
// the command's return by a little, and their code must still be there.
TDeviceCommandEntry LoadModule(std::string& path, std::string& reason)
{
    const std::vector<std::filesystem::path> places = ModulePlaces();
    if (places.empty()) {
        path = QUAVERLY_DEVICES_MODULE;
        reason = "このプログラムの場所がわかりません";
        return nullptr;
    }
    // When it is nowhere, the installed place is the one worth naming.
    std::filesystem::path found;
    for (const auto& place : places) {
        std::error_code error;
        if (std::filesystem::exists(place, error)) {
            found = place;
            break;
        }
    }
    if (found.empty()) {
        path = places.back().string();
        reason = "ファイルがありません";
        return nullptr;
    }
    path = found.string();
    // Every symbol is bound now, so a library missing its symbol fails here with a message
    // instead of stopping the process halfway through a command.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* entry = module != nullptr ? dlsym(module, DeviceCommandEntryName) : nullptr;
    if (entry == nullptr) {
        const char* error = dlerror();
        reason = error != nullptr ? error : "不明なエラー";
        // dlerror usually starts with the path, which the message already names.
        if (reason.rfind(path + ": ", 0) == 0) reason.erase(0, path.size() + 2);
        return nullptr;
    }
    TDeviceCommandEntry function = nullptr;
    static_assert(sizeof function == sizeof entry);
    std::memcpy(&function, &entry, sizeof function);  // POSIX: dlsym's pointer is the function's
    return function;
}

}  // namespace

int RunDeviceCommand(const std::string& command, const std::vector<std::string>& args, std::istream& in,
                     std::ostream& out, std::ostream& err)
{
    std::string path, reason;
    const TDeviceCommandEntry entry = LoadModule(path, reason);
    if (entry == nullptr) {
        err << "演奏用のモジュールを読み込めません: " << path << " (" << reason << ")\n";
        return 3;
    }
    return entry(command.c_str(), &args, &in, &out, &err);
}
