// The device catalog: every MIDI output of the machine under one number each.
#include <charconv>

#include "devices/Devices.h"
#include "song/Exception.h"
#include "devices/Synth.h"

TDeviceCatalog::TDeviceCatalog(bool preloadSynth)
{
    for (int part = 0; part < TSynthEngine::Parts; ++part)
        entries_.push_back({TKind::Builtin, part, {}, BuiltinSynthNames[part]});
    for (auto& port : ListMidiPorts(TPortApi::Alsa)) entries_.push_back({TKind::Alsa, 0, port, "ALSA: " + port});
    for (auto& port : ListMidiPorts(TPortApi::Jack)) entries_.push_back({TKind::Jack, 0, port, "JACK: " + port});
    if (preloadSynth) Synth();
}

TDeviceCatalog::~TDeviceCatalog() = default;

int TDeviceCatalog::DeviceCount() { return static_cast<int>(entries_.size()); }

std::string TDeviceCatalog::DeviceName(int id)
{
    if (id < 0 || id >= DeviceCount()) return {};
    return entries_[static_cast<std::size_t>(id)].Name;
}

std::vector<std::string> TDeviceCatalog::Names() const
{
    std::vector<std::string> names;
    for (const auto& entry : entries_) names.push_back(entry.Name);
    return names;
}

TSynthEngine& TDeviceCatalog::Synth()
{
    std::lock_guard lock(synthMutex_);
    if (synth_ == nullptr) synth_ = std::make_shared<TSynthEngine>();
    return *synth_;
}

std::unique_ptr<TMidiOutDevice> TDeviceCatalog::Open(int id)
{
    if (id < 0 || id >= DeviceCount()) RaiseNoSuchDevice(id);
    const TEntry& entry = entries_[static_cast<std::size_t>(id)];
    switch (entry.Kind) {
    case TKind::Builtin: return Synth().OpenPart(entry.Part);
    case TKind::Alsa: return OpenMidiPort(TPortApi::Alsa, entry.Port);
    case TKind::Jack: return OpenMidiPort(TPortApi::Jack, entry.Port);
    }
    RaiseNoSuchDevice(id);
}

int FindDevice(const std::vector<std::string>& names, const std::string& spec)
{
    int number = -1;
    const auto [end, error] = std::from_chars(spec.data(), spec.data() + spec.size(), number);
    if (error == std::errc() && end == spec.data() + spec.size() && !spec.empty()) {
        if (number < 0 || number >= static_cast<int>(names.size()))
            throw Exception("デバイス番号 " + spec + " はありません (0 から " + std::to_string(names.size() - 1) + " まで)");
        return number;
    }
    // An exact name wins over names that merely contain it ("X" and "X 2").
    int found = -1;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == spec) return static_cast<int>(i);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (spec.empty() || names[i].find(spec) == std::string::npos) continue;
        if (found >= 0) throw Exception("「" + spec + "」に当てはまるデバイスが複数あります: " + names[found] + "、" + names[i]);
        found = static_cast<int>(i);
    }
    if (found < 0) throw Exception("「" + spec + "」に当てはまるデバイスはありません");
    return found;
}
