#include "tests/support/RecordingMidiOut.h"

#include <cstdio>

#include "song/Exception.h"

class TRecordingDevice : public TMidiOutDevice {
public:
    TRecordingDevice(TRecordingMidiOut& owner, int id) : owner_(owner), id_(id) {}

    ~TRecordingDevice() override
    {
        std::lock_guard lock(owner_.mutex_);
        --owner_.open_;
    }

    void ShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override
    {
        const std::uint8_t bytes[3] = {status, data1, data2};
        const int length = ShortMessageLength(status);
        if (length == 0) return;
        owner_.Record({TRecordingMidiOut::TMessage::Short, id_, 0, {bytes, bytes + length}});
    }

    void LongMessage(std::span<const std::uint8_t> bytes) override
    {
        owner_.Record({TRecordingMidiOut::TMessage::Long, id_, 0, {bytes.begin(), bytes.end()}});
    }

    bool Lost() const override
    {
        std::lock_guard lock(owner_.mutex_);
        const auto found = owner_.lost_.find(id_);
        return found != owner_.lost_.end() && found->second;
    }

    void Reset() override { owner_.Record({TRecordingMidiOut::TMessage::Reset, id_, 0, {}}); }

private:
    TRecordingMidiOut& owner_;
    const int id_;
};

void TRecordingMidiOut::Lose(int id, bool lost)
{
    std::lock_guard lock(mutex_);
    lost_[id] = lost;
}

TRecordingMidiOut::TRecordingMidiOut(TClock& clock, int deviceCount) : clock_(clock), deviceCount_(deviceCount) {}

std::string TRecordingMidiOut::DeviceName(int id)
{
    if (id < 0 || id >= deviceCount_) return {};
    return "記録デバイス " + std::to_string(id + 1);
}

std::unique_ptr<TMidiOutDevice> TRecordingMidiOut::Open(int id)
{
    if (id < 0 || id >= deviceCount_) RaiseNoSuchDevice(id);
    std::lock_guard lock(mutex_);
    if (const auto failure = failures_.find(id); failure != failures_.end()) throw Exception(failure->second);
    ++open_;
    return std::make_unique<TRecordingDevice>(*this, id);
}

void TRecordingMidiOut::FailOpen(int id, std::string text)
{
    std::lock_guard lock(mutex_);
    if (text.empty())
        failures_.erase(id);
    else
        failures_[id] = std::move(text);
}

std::vector<TRecordingMidiOut::TMessage> TRecordingMidiOut::Messages() const
{
    std::lock_guard lock(mutex_);
    return messages_;
}

void TRecordingMidiOut::ClearMessages()
{
    std::lock_guard lock(mutex_);
    messages_.clear();
}

int TRecordingMidiOut::OpenDevices() const
{
    std::lock_guard lock(mutex_);
    return open_;
}

void TRecordingMidiOut::Record(TMessage message)
{
    message.Time = clock_.Now();
    std::lock_guard lock(mutex_);
    messages_.push_back(std::move(message));
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        if (!text.empty()) text += ' ';
        text += digits;
    }
    return text;
}
