// TMidi, the device side: opening and closing the port's device, and sending.
#include "playback/Player.h"
#include "song/Song.h"

TMidi::TMidi(TMidiOutService* service, TClock* clock)
    : service_(service),
      clock_(clock != nullptr ? *clock : SystemClock()),
      notes_(static_cast<std::size_t>(TSong::ChannelsPerPort) * 128),
      Timer(clock_)
{
    Timer.SetInterval(WatchMs);
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
    auto device = service.Open(deviceId);
    std::lock_guard lock(deviceMutex_);
    device_ = std::move(device);
}

void TMidi::Close()
{
    if (!IsOpen()) return;
    Timer.SetEnabled(false);
    {
        std::lock_guard run(runMutex_);
        playing_ = false;
        Index = 0;
    }
    std::unique_ptr<TMidiOutDevice> device;
    {
        std::lock_guard lock(deviceMutex_);
        if (device_ == nullptr) return;
        device_->Reset();
        device = std::move(device_);
    }
    ForgetNotes();
    // Destroyed outside the lock: a JACK port waits for its last messages to go out.
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
    // The device has the message when the call returns, so the event's own bytes may go away (a
    // new compilation) at once.
    device_->LongMessage({bytes, static_cast<std::size_t>(length)});
}

void TMidi::AllSoundOff()
{
    for (std::uint8_t channel = 0; channel < TSong::ChannelsPerPort; ++channel)
        SendShortMessage(static_cast<std::uint8_t>(0xB0 + channel), 120, 0);
}

std::string TMidi::LostDeviceMessage(int port)
{
    return "ポート " + std::to_string(port + 1) + " の MIDI 出力デバイスが失われたため、そのポートの演奏を止めました";
}

bool TMidi::DeviceLost() const
{
    std::lock_guard lock(deviceMutex_);
    return device_ != nullptr && device_->Lost();
}
