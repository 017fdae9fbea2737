// Control commands: tempo, program and bank, effects, system exclusive, hold, vibrato, pan,
// velocity and volume. None of them moves time.
#include <algorithm>
#include <limits>

#include "compiler/Commands.h"
#include "compiler/Compilation.h"

namespace {
constexpr std::int32_t Saturate(std::int64_t value)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                               std::numeric_limits<std::int32_t>::max()));
}

// "n", "+n" or "-n" after the command letter: the new value, absolute or relative to current.
// False when no valid number follows (the cursor is then where the reading stopped).
bool ReadRelative(const char*& p, std::int32_t current, std::int64_t& value)
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
    if (!TCompilation::TryNumber(p, number)) return false;
    value = base + sign * static_cast<std::int64_t>(number);
    return true;
}
}  // namespace

void TCompilation::Warn(const char* message)
{
    if (++warningCount_ > TMML::MaxWarnings) return;  // counted only: no line is looked up or written
    if (frames_.empty()) return;  // no text is being read: there is no line to name
    // The line is that of the cursor, counted as for an error; the compilation goes on.
    const TSourceFrame& top = frames_.back();
    const int saved = line_;
    line_ = LineAt(frames_.back(), *top.Cursor);
    const std::string text = std::string(MMLMessage::WarningPrefix) + message + LineText();
    line_ = saved;
    Song.Memo.push_back(text);
}

void TCompilation::ReportOmittedWarnings()
{
    if (warningCount_ <= TMML::MaxWarnings) return;
    Song.Memo.push_back(std::string(MMLMessage::WarningPrefix) + MMLMessage::WarningsOmitted +
                        std::to_string(warningCount_ - TMML::MaxWarnings) + MMLMessage::WarningsOmittedEnd);
}

// t n, t+n, t-n: a tempo event on the current track's port, whose player takes the tempo at once
// so that playback starts at the last tempo compiled for the port.
void compile::Tempo(TCompilation& comp, const char*& p)
{
    std::int64_t value = 0;
    if (!ReadRelative(p, comp.Tempo, value)) return comp.Warn(MMLMessage::BadNumber);
    comp.Tempo = Saturate(value);  // the base of the next relative t, even when out of range
    if (value < 30 || value > 500) return comp.Warn(MMLMessage::TempoOutOfRange);
    TMidiElement& event = comp.Emit(ekTempo);
    event.Tempo = comp.Tempo;
    comp.Song.Tempos[static_cast<std::size_t>((comp.Current().Channel - 1) / TSong::ChannelsPerPort)] = comp.Tempo;
}

// @program,msb,lsb: bank select first, then the program change; only what is given is sent.
void compile::Program(TCompilation& comp, const char*& p)
{
    // "@" before a letter is one of the lettered "@" commands; any other letter is none.
    if (TCompilation::IsLetter(p[1])) {
        ++p;
        comp.Error(MMLMessage::UndefinedCommand);
    }
    ++p;
    TMMLParams params;
    comp.ReadArgs(params, "JII", p);
    if (params.Items(1).Given) comp.EmitControlChange(0, params.Items(1).Value);
    if (params.Items(2).Given) comp.EmitControlChange(32, params.Items(2).Value);
    if (params.Items(0).Given)
        comp.EmitShort(0xC0, static_cast<std::uint8_t>(params.Items(0).Value - 1), 0);
}

// @E a,b,c,d,e: the effect depths, controllers 91 to 95.
void compile::Effects(TCompilation& comp, const char*& p)
{
    p += 2;
    TMMLParams params;
    comp.ReadArgs(params, "IIIII", p);
    for (int i = 0; i < params.Count(); ++i)
        if (params.Items(i).Given) comp.EmitControlChange(91 + i, params.Items(i).Value);
}

// @X b1,b2,...: one system-exclusive message F0 b1 b2 ... F7.
void compile::SysEx(TCompilation& comp, const char*& p)
{
    p += 2;
    TMMLParams params;
    comp.ReadNumberList(params, p);
    if (params.Count() + 2 > TMML::MaxSysExBytes) comp.Error(MMLMessage::SysExTooLong);
    std::vector<std::uint8_t> data;
    data.reserve(static_cast<std::size_t>(params.Count()) + 2);
    data.push_back(0xF0);
    for (int i = 0; i < params.Count(); ++i) data.push_back(static_cast<std::uint8_t>(params.Items(i).Value));
    data.push_back(0xF7);
    comp.Emit(ekSysEx).SysExData = std::move(data);
}

// h n: the hold pedal, controller 64.
void compile::Hold(TCompilation& comp, const char*& p)
{
    ++p;
    std::int32_t value = 0;
    if (!TCompilation::TryNumber(p, value)) return comp.Warn(MMLMessage::BadNumber);
    if (value < 0 || value > 127) return comp.Warn(MMLMessage::HoldOutOfRange);
    comp.EmitControlChange(64, value);
}

// m depth,rate,delay: vibrato, controllers 77, 76, 78. A value out of range sends none of them.
void compile::Vibrato(TCompilation& comp, const char*& p)
{
    ++p;
    TMMLParams params;
    if (!comp.ReadArgs(params, "III", p, false)) return comp.Warn(MMLMessage::NumberOutOfRange);
    const int controllers[] = {77, 76, 78};
    for (int i = 0; i < 3; ++i)
        if (params.Items(i).Given) comp.EmitControlChange(controllers[i], params.Items(i).Value);
}

// p n, p+n, p-n: pan, controller 10.
void compile::Pan(TCompilation& comp, const char*& p)
{
    std::int64_t value = 0;
    if (!ReadRelative(p, comp.Current().Pan, value)) return comp.Warn(MMLMessage::BadNumber);
    if (value < 0 || value > 127) return comp.Warn(MMLMessage::NumberOutOfRange);
    comp.Current().Pan = static_cast<std::int32_t>(value);
    comp.EmitControlChange(10, comp.Current().Pan);
}

// u n, u+n, u-n: the velocity of notes that give none.
void compile::Velocity(TCompilation& comp, const char*& p)
{
    std::int64_t value = 0;
    if (!ReadRelative(p, comp.Current().Velocity, value)) comp.Error(MMLMessage::BadNumber);
    if (value < 0 || value > 127) comp.Error(MMLMessage::VelocityOutOfRange);
    comp.Current().Velocity = static_cast<std::int32_t>(value);
}

// v n, v+n, v-n: channel volume, controller 7. Without a number nothing happens. A value out of
// range is brought into 0..127 rather than sent as a byte that would read as a status byte.
void compile::Volume(TCompilation& comp, const char*& p)
{
    std::int64_t value = 0;
    if (!ReadRelative(p, comp.Current().Volume, value)) return;
    if (value < 0 || value > 127) {
        comp.Warn(MMLMessage::NumberOutOfRange);
        value = std::clamp<std::int64_t>(value, 0, 127);
    }
    comp.Current().Volume = static_cast<std::int32_t>(value);
    comp.EmitControlChange(7, comp.Current().Volume);
}
