// TMidi, the device side: opening and closing the port's device, sending, and the buffers of
// system-exclusive messages that the device still holds.
#include <algorithm>

#include "TMIDI.h"

TMidi::TMidi(TMidiOutService* service, TClock* clock)
    : service_(service),
      clock_(clock != nullptr ? *clock : SystemClock()),
      window_([this](const TDeviceNotice& notice) { DeviceWindowProc(notice); }),
      Timer(clock_)
{
    Timer.SetInterval(10);
    Timer.SetOnTimer([this](TMMTimer& sender) { TimerTick(sender); });
}

TMidi::~TMidi()
{
    // The timer goes first, so that no tick sounds a note after the channels were silenced.
    Timer.SetEnabled(false);
    try {
        if (IsOpen()) AllSoundOff();
        Close();
    } catch (...) {
        // A device that fails while closing must not take the program with it.
    }
}

bool TMidi::IsOpen() const
{
    std::lock_guard lock(deviceMutex_);
    return device_ != nullptr;
}

void TMidi::Open(int deviceId)
{
    if (IsOpen()) return;
    TMidiOutService& service = service_ != nullptr ? *service_ : MidiOutService();
    // Opened outside the lock: a device may take a moment to open, and a display refresh that
    // stops this closed port meanwhile must not wait for it.
    auto device = service.Open(deviceId, [this](std::uint64_t header) {
        window_.Post(TDeviceNotice{TDeviceNotice::SysExDone, header});
    });
    std::lock_guard lock(deviceMutex_);
    device_ = std::move(device);
}

void TMidi::Close()
{
    if (!IsOpen()) return;
    Timer.SetEnabled(false);
    {
        std::lock_guard run(runMutex_);
        Index = 0;
    }
    std::unique_ptr<TMidiOutDevice> device;
    {
        std::lock_guard lock(deviceMutex_);
        if (device_ == nullptr) return;
        // The reset silences the device and makes it give back every buffer, so they can all go.
        device_->Reset();
        pendingHeaders_.clear();
        device = std::move(device_);
    }
    device.reset();
}

void TMidi::SendShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    std::lock_guard lock(deviceMutex_);
    if (device_ != nullptr) device_->ShortMessage(status, data1, data2);
}

void TMidi::SendLongMessage(const std::uint8_t* bytes, int length)
{
    std::lock_guard lock(deviceMutex_);
    if (device_ == nullptr || bytes == nullptr || length <= 0) return;
    // The device gets a copy that lives until it says it is done, so the event's own bytes may
    // go away (a new compilation) while the device is still sending.
    auto header = std::make_unique<TSysExHeader>();
    header->Id = nextHeaderId_++;
    header->Data.assign(bytes, bytes + length);
    const TSysExHeader& sent = *header;
    pendingHeaders_.push_back(std::move(header));
    device_->LongMessage(sent);
}

void TMidi::AllSoundOff()
{
    for (std::uint8_t channel = 0; channel < 16; ++channel)
        SendShortMessage(static_cast<std::uint8_t>(0xB0 + channel), 120, 0);
}

void TMidi::DeviceWindowProc(const TDeviceNotice& notice)
{
    if (notice.Kind != TDeviceNotice::SysExDone) return;
    std::lock_guard lock(deviceMutex_);
    // A notice for a buffer that Close already released finds nothing: ids are never reused.
    const auto found = std::find_if(pendingHeaders_.begin(), pendingHeaders_.end(),
                                    [&](const auto& header) { return header->Id == notice.Header; });
    if (found != pendingHeaders_.end()) pendingHeaders_.erase(found);
}

int TMidi::PendingHeaderCount() const
{
    std::lock_guard lock(deviceMutex_);
    return static_cast<int>(pendingHeaders_.size());
}

bool TMidi::DeviceLost() const
{
    std::lock_guard lock(deviceMutex_);
    return device_ != nullptr && device_->Lost();
}
