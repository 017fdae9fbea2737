// Control commands: tempo, program and bank, effects, system exclusive, hold, vibrato, pan,
// velocity and volume. None of them moves time.
#include <algorithm>
#include <limits>

#include "compiler/MMLtoMID.h"

namespace {
constexpr std::int32_t Saturate(std::int64_t value)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                               std::numeric_limits<std::int32_t>::max()));
}
}  // namespace

bool TMML::ReadRelative(const char*& p, std::int32_t current, std::int64_t& value)
{
    ++p;  // the command letter
    std::int64_t base = 0;
    int sign = 1;
    if (*p == '+') {
        ++p;
        base = current;
    } else if (*p == '-') {
        ++p;
        base = current;
        sign = -1;
    }
    std::int32_t number = 0;
    if (!TryNumber(p, number)) return false;
    value = base + sign * static_cast<std::int64_t>(number);
    return true;
}

void TMML::Warn(const char* message)
{
    if (++warningCount_ > MaxWarnings) return;  // counted only: no line is looked up or written
    if (frames_.empty()) return;  // a reader used outside a compilation
    // The line is that of the cursor, counted as for an error; the compilation goes on.
    const TSourceFrame& top = frames_.back();
    const int saved = Line;
    Line = LineAt(frames_.back(), *top.Cursor);
    const std::string text = std::string(MMLMessage::WarningPrefix) + message + LineText();
    Line = saved;
    song_.Memo.push_back(text);
}

void TMML::ReportOmittedWarnings()
{
    if (warningCount_ <= MaxWarnings) return;
    song_.Memo.push_back(std::string(MMLMessage::WarningPrefix) + MMLMessage::WarningsOmitted +
                         std::to_string(warningCount_ - MaxWarnings) + MMLMessage::WarningsOmittedEnd);
}

// t n, t+n, t-n: a tempo event on the current track's port, whose player takes the tempo at once
// so that playback starts at the last tempo compiled for the port.
void TMML::CommandTempo(const char*& p)
{
    std::int64_t value = 0;
    if (!ReadRelative(p, Tempo, value)) return Warn(MMLMessage::BadNumber);
    Tempo = Saturate(value);  // the base of the next relative t, even when out of range
    if (value < 30 || value > 500) return Warn(MMLMessage::TempoOutOfRange);
    TMidiElement& event = Emit(ekTempo);
    event.Tempo = Tempo;
    song_.Tempos[static_cast<std::size_t>((Current().Channel - 1) / TSong::ChannelsPerPort)] = Tempo;
}

// @program,msb,lsb: bank select first, then the program change; only what is given is sent.
void TMML::CommandProgram(const char*& p)
{
    ++p;
    TMMLParams params;
    ReadArgs(params, "JII", p);
    if (params.Items(1).Given) EmitControlChange(0, params.Items(1).Value);
    if (params.Items(2).Given) EmitControlChange(32, params.Items(2).Value);
    if (params.Items(0).Given)
        EmitShort(0xC0, static_cast<std::uint8_t>(params.Items(0).Value - 1), 0);
}

// @E a,b,c,d,e: the effect depths, controllers 91 to 95.
void TMML::CommandEffects(const char*& p)
{
    ++p;
    TMMLParams params;
    ReadArgs(params, "IIIII", p);
    for (int i = 0; i < params.Count(); ++i)
        if (params.Items(i).Given) EmitControlChange(91 + i, params.Items(i).Value);
}

// @X b1,b2,...: one system-exclusive message F0 b1 b2 ... F7.
void TMML::CommandSysEx(const char*& p)
{
    ++p;
    TMMLParams params;
    ReadNumberList(params, p);
    if (params.Count() + 2 > MaxSysExBytes) Error(MMLMessage::SysExTooLong);
    std::vector<std::uint8_t> data;
    data.reserve(static_cast<std::size_t>(params.Count()) + 2);
    data.push_back(0xF0);
    for (int i = 0; i < params.Count(); ++i) data.push_back(static_cast<std::uint8_t>(params.Items(i).Value));
    data.push_back(0xF7);
    Emit(ekSysEx).SysExData = std::move(data);
}

// h n: the hold pedal, controller 64.
void TMML::CommandHold(const char*& p)
{
    ++p;
    std::int32_t value = 0;
    if (!TryNumber(p, value)) return Warn(MMLMessage::BadNumber);
    if (value < 0 || value > 127) return Warn(MMLMessage::HoldOutOfRange);
    EmitControlChange(64, value);
}

// m depth,rate,delay: vibrato, controllers 77, 76, 78. A value out of range sends none of them.
void TMML::CommandVibrato(const char*& p)
{
    ++p;
    TMMLParams params;
    if (!ReadArgs(params, "III", p, false)) return Warn(MMLMessage::NumberOutOfRange);
    const int controllers[] = {77, 76, 78};
    for (int i = 0; i < 3; ++i)
        if (params.Items(i).Given) EmitControlChange(controllers[i], params.Items(i).Value);
}

// p n, p+n, p-n: pan, controller 10.
void TMML::CommandPan(const char*& p)
{
    std::int64_t value = 0;
    if (!ReadRelative(p, Current().Pan, value)) return Warn(MMLMessage::BadNumber);
    if (value < 0 || value > 127) return Warn(MMLMessage::NumberOutOfRange);
    Current().Pan = static_cast<std::int32_t>(value);
    EmitControlChange(10, Current().Pan);
}

// u n, u+n, u-n: the velocity of notes that give none.
void TMML::CommandVelocity(const char*& p)
{
    std::int64_t value = 0;
    if (!ReadRelative(p, Current().Velocity, value)) Error(MMLMessage::BadNumber);
    if (value < 0 || value > 127) Error(MMLMessage::VelocityOutOfRange);
    Current().Velocity = static_cast<std::int32_t>(value);
}

// v n, v+n, v-n: channel volume, controller 7. Without a number nothing happens. A value out of
// range is brought into 0..127 rather than sent as a byte that would read as a status byte.
void TMML::CommandVolume(const char*& p)
{
    std::int64_t value = 0;
    if (!ReadRelative(p, Current().Volume, value)) return;
    if (value < 0 || value > 127) {
        Warn(MMLMessage::NumberOutOfRange);
        value = std::clamp<std::int64_t>(value, 0, 127);
    }
    Current().Volume = static_cast<std::int32_t>(value);
    EmitControlChange(7, Current().Volume);
}
