// Functions: "#ASSIGN(channel,track)" and the sound-module resets "#INITGM(port)", "#INITGM2",
// "#INITGS", "#INITXG".
#include <cstring>

#include "compiler/Commands.h"
#include "compiler/Compilation.h"
#include "formats/Chars.h"

namespace {

struct ResetMessage {
    const char* Kind;
    const char* Function;
    std::vector<std::uint8_t> Bytes;
};

// General MIDI System On, General MIDI 2 System On, GS Reset and XG System On.
const ResetMessage Resets[] = {
    {"GM", "#INITGM", {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
    {"GM2", "#INITGM2", {0xF0, 0x7E, 0x7F, 0x09, 0x03, 0xF7}},
    {"GS", "#INITGS", {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}},
    {"XG", "#INITXG", {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}},
};

// The parentheses are not checked; moving past one byte must still stop at the end of the text.
void SkipOne(const char*& p)
{
    if (*p != '\0') ++p;
}


// From "#" up to, not including, the next "(": blanks and line ends belong to the name.
std::string ReadFunctionName(TCompilation& comp, const char*& p)
{
    const char* const start = p;
    while (*p != '(') {
        if (*p == '\0') comp.ErrorAt(MMLMessage::BadFunctionName, start);
        ++p;
    }
    return std::string(start, p);
}

// Resets the sound module on the named port and sets the pitch-bend range of the current track's
// channel to 24 semitones, after a 60 ms pause that gives the module time to reset.
void InitSoundModule(TCompilation& comp, const char* kind, const char*& p)
{
    std::int32_t port = 0;
    if (!TCompilation::TryNumber(p, port)) comp.Error(MMLMessage::BadParameter);
    if (port < 1 || port > TSong::PortCount) comp.Error(MMLMessage::ParameterOutOfRange);
    for (const auto& reset : Resets) {
        if (std::strcmp(reset.Kind, kind) != 0) continue;
        TMidiElement& sysex = comp.EmitOnPort(ekSysEx, port - 1);
        sysex.SysExData = reset.Bytes;
    }
    comp.AdvanceTrack(30);
    comp.Emit(ekWait).WaitMs = 60;
    comp.EmitControlChange(101, 0);  // registered parameter 0: pitch-bend sensitivity
    comp.EmitControlChange(100, 0);
    comp.EmitControlChange(6, 24);   // 24 semitones
    comp.EmitControlChange(38, 0);   // and 0 cents
    SkipOne(p);
}

}  // namespace

void compile::Function(TCompilation& comp, const char*& p)
{
    std::string name = ReadFunctionName(comp, p);
    for (char& c : name) c = AsciiUpper(c);
    if (name == "#ASSIGN") {
        // #ASSIGN(channel,track): from here on the track plays on that channel.
        SkipOne(p);
        TMMLParams params;
        comp.ReadArgs(params, "JJ", p);
        if (!params.Items(0).Given || !params.Items(1).Given) comp.Error(MMLMessage::BadParameter);
        // Four ports of sixteen channels: channel numbers past 64 have no port to play on.
        if (params.Items(0).Value > TSong::ChannelCount) comp.Error(MMLMessage::NumberOutOfRange);
        comp.Tracks.TrackAt(params.Items(1).Value).Channel = params.Items(0).Value;
        SkipOne(p);
        return;
    }
    for (const auto& reset : Resets) {
        if (name == reset.Function) {
            SkipOne(p);
            InitSoundModule(comp, reset.Kind, p);
            return;
        }
    }
    // An unknown name: the loop meets the "(" and reports it.
}
