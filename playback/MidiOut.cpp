// The process's MIDI output service, short-message lengths, and the notices to the GUI thread.
#include <atomic>
#include <deque>
#include <string>
#include <utility>

#include "Exception.h"
#include "MidiOut.h"

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
    std::unique_ptr<TMidiOutDevice> Open(int id, TSysExDone) override { RaiseNoSuchDevice(id); }
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

int ShortMessageLength(std::uint8_t status)
{
    if (status < 0x80) return 0;  // a data byte
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0: return 2;
    case 0xF0: break;
    default: return 3;
    }
    switch (status) {
    case 0xF1:  // time code quarter frame
    case 0xF3:  // song select
        return 2;
    case 0xF2:  // song position
        return 3;
    case 0xF0:  // system-exclusive start and end travel as long messages
    case 0xF7:
        return 0;
    default: return 1;  // tune request, real-time messages and the undefined ones
    }
}

// ---- Notices ----

namespace {
std::mutex noticeMutex;
TGuiPoster guiPoster;
std::deque<std::function<void()>> noticeQueue;

void PostToGui(std::function<void()> work)
{
    std::unique_lock lock(noticeMutex);
    if (guiPoster) {
        TGuiPoster poster = guiPoster;
        lock.unlock();
        poster(std::move(work));
    } else {
        noticeQueue.push_back(std::move(work));
    }
}
}  // namespace

void SetGuiPoster(TGuiPoster poster)
{
    std::lock_guard lock(noticeMutex);
    guiPoster = std::move(poster);
}

int ProcessNotices()
{
    std::deque<std::function<void()>> work;
    {
        std::lock_guard lock(noticeMutex);
        work.swap(noticeQueue);
    }
    for (auto& item : work) item();
    return static_cast<int>(work.size());
}

TNoticeWindow::TNoticeWindow(std::function<void(const TDeviceNotice&)> procedure)
    : state_(std::make_shared<TState>())
{
    state_->Procedure = std::move(procedure);
}

TNoticeWindow::~TNoticeWindow()
{
    std::lock_guard lock(state_->Mutex);
    state_->Procedure = nullptr;
}

void TNoticeWindow::Post(const TDeviceNotice& notice)
{
    PostToGui([state = std::weak_ptr<TState>(state_), notice] {
        if (const auto target = state.lock()) {
            std::lock_guard lock(target->Mutex);
            if (target->Procedure) target->Procedure(notice);
        }
    });
}
