// The process's MIDI output service and short-message lengths.
#include <atomic>
#include <string>

#include "song/Exception.h"
#include "playback/MidiOut.h"

void RaiseNoSuchDevice(int id)
{
    throw Exception("MIDI 出力デバイス " + std::to_string(id) + " はありません");
}

namespace {
// The service before the program installs one: a machine without devices.
class TEmptyService : public TMidiOutService {
public:
    int DeviceCount() override { return 0; }
    std::string DeviceName(int) override { return {}; }
    std::unique_ptr<TMidiOutDevice> Open(int id) override { RaiseNoSuchDevice(id); }
};

TEmptyService emptyService;
std::atomic<TMidiOutService*> installedService{nullptr};
}  // namespace

TMidiOutService& MidiOutService()
{
    TMidiOutService* service = installedService.load();
    return service != nullptr ? *service : emptyService;
}

void SetMidiOutService(TMidiOutService* service) { installedService = service; }
