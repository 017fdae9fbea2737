// Notes, rests, lengths, octaves, gate, transposition and slurs.
#include <cmath>

#include "compiler/Commands.h"
#include "compiler/Compilation.h"
#include "formats/Chars.h"

namespace {
constexpr std::uint8_t NoteOff = 0x80;
constexpr std::uint8_t NoteOn = 0x90;
constexpr std::uint8_t PitchBend = 0xE0;
// Semitones above c of the letters A..G.
constexpr int Pitch[7] = {9, 11, 0, 2, 4, 5, 7};

// A length in ticks, not yet rounded: "*ticks", or a note value (4 is a quarter, 3 a third of a
// whole note), each followed by any number of dots. No number means the default length, or 0
// where the caller asks for a zero default (the arpeggio delay of a chord).
double ReadLength(TCompilation& comp, const char*& p, bool zeroDefault)
{
    double length;
    if (*p == '*') {
        ++p;
        length = comp.ReadNumber(p);
    } else {
        std::int32_t n = 0;
        if (!comp.ReadOptionalNumber(p, n)) {
            length = zeroDefault ? 0.0 : comp.Current().DefaultLength;
        } else if (n == 0) {
            return 0.0;  // a zero length reads no dots
        } else {
            length = TCompilation::TicksPerQuarter * 4.0 / n;
        }
    }
    // Each dot adds half of what the one before added: 1.5, 1.75, 1.875 times the length.
    double factor = 1.0, added = 1.0;
    while (*p == '.') {
        ++p;
        added *= 0.5;
        factor += added;
    }
    return length * factor;
}

// The next note of a slurred run: the held key is bent to the new pitch. The receiver is expected
// to bend 24 semitones at full range, so one semitone is 341 steps of the 14-bit value.
void EmitSlurBend(TCompilation& comp, std::int32_t key)
{
    const std::int32_t distance = key - comp.Current().LastNote;
    if (distance > 24 || distance < -24) comp.Error(MMLMessage::SlurOutOfRange);
    const std::int32_t value = distance * 341 + 8192;
    comp.EmitShort(PitchBend, static_cast<std::uint8_t>(value % 128), static_cast<std::uint8_t>(value / 128));
    // Whatever ends the run owes the return of the bend, also after a tied chord.
    comp.Current().BendResetPending = true;
}
}  // namespace

// A length with its ties, "4^16^*30", summed before it is cut to whole ticks so that c7^7 lasts
// 548 ticks and not 274 + 274.
std::int32_t TCompilation::ReadTiedLength(const char*& p, bool zeroDefault)
{
    if (TupletNotesLeft > 0) {
        // Inside a tuplet the length is the next share, read from nothing; the first shares are
        // rounded down and the remainder falls to the last. A delay takes no share.
        if (zeroDefault) return 0;
        const std::int32_t share = TupletTicksLeft / TupletNotesLeft;
        --TupletNotesLeft;
        TupletTicksLeft -= share;
        return share;
    }
    double length = ReadLength(*this, p, zeroDefault);
    while (*p == '^') {
        ++p;
        length += ReadLength(*this, p, zeroDefault);
    }
    // No clock could hold a longer length, and converting it would not be defined.
    if (!(std::fabs(length) <= static_cast<double>(TMML::MaxTick))) Error(MMLMessage::SongTooLarge);
    return static_cast<std::int32_t>(length);
}

// A note letter and its accidentals as a key number; c of octave 3 is key 60.
std::int32_t TCompilation::NoteNumber(const char*& p)
{
    const char letter = AsciiUpper(*p);
    ++p;
    std::int64_t key = Pitch[letter - 'A'];
    for (;; ++p) {
        if (*p == '+')
            ++key;
        else if (*p == '-')
            --key;
        else
            break;
    }
    const TTrack& track = Current();
    key += static_cast<std::int64_t>(track.Octave) * 12 + track.Transpose + 24;
    // A key outside the MIDI range would go out as a status byte and corrupt the stream.
    if (key < 0 || key > 127) Error(MMLMessage::KeyOutOfRange);
    return static_cast<std::int32_t>(key);
}

void TCompilation::EmitNoteOn(std::int32_t key, std::int32_t velocity)
{
    EmitShort(NoteOn, static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(velocity));
    TTrack& track = Current();
    track.LastNote = key;
    track.Held.push_back(key);
}

void TCompilation::EmitNoteOff(std::int32_t key) { EmitShort(NoteOff, static_cast<std::uint8_t>(key), 127); }

// The end of a note or slurred run: every key it struck is released, then the bend returns to its
// centre if a slur moved it.
void TCompilation::ReleaseHeld()
{
    TTrack& track = Current();
    for (const std::int32_t key : track.Held) EmitNoteOff(key);
    track.Held.clear();
    if (track.BendResetPending) {
        EmitShort(PitchBend, 0, 64);
        track.BendResetPending = false;
    }
}

// note: letter, accidentals, length, ",velocity", "&"
void compile::Note(TCompilation& comp, const char*& p)
{
    const std::int32_t key = comp.NoteNumber(p);
    TMMLParams params;
    comp.ReadArgs(params, "LI", p);
    TTrack& track = comp.Current();
    const std::int32_t length = params.Items(0).Given ? params.Items(0).Value : track.DefaultLength;
    const std::int32_t velocity = params.Items(1).Given ? params.Items(1).Value : track.Velocity;

    if (track.Slur) {
        EmitSlurBend(comp, key);
    } else {
        track.Held.clear();
        comp.EmitNoteOn(key, velocity);
    }
    const std::int64_t gate = static_cast<std::int64_t>(track.Gate) * length / 8;
    if (*p == '&') {
        ++p;
        track.Slur = true;
        track.BendResetPending = true;
    } else {
        track.Slur = false;
    }
    comp.AdvanceTrack(gate);
    // The key struck at the start of the run, not the pitch it was bent to.
    if (!track.Slur) comp.ReleaseHeld();
    comp.AdvanceTrack(length - gate);
    comp.AfterSoundingCommand();
}

void compile::Rest(TCompilation& comp, const char*& p)
{
    ++p;
    const std::int32_t length = comp.ReadTiedLength(p, false);
    // A negative length would turn the track's clock back under events already made.
    if (length < 0) comp.Error(MMLMessage::NumberOutOfRange);
    comp.AdvanceTrack(length);
    comp.AfterSoundingCommand();
}

void compile::DefaultLength(TCompilation& comp, const char*& p)
{
    ++p;
    const std::int32_t length = comp.ReadTiedLength(p, false);
    if (length < 0) comp.Error(MMLMessage::NumberOutOfRange);
    comp.Current().DefaultLength = length;
}

void compile::Octave(TCompilation& comp, const char*& p)
{
    const char c = *p++;
    TTrack& track = comp.Current();
    std::int32_t octave;
    if (c == '<')
        octave = track.Octave + 1;
    else if (c == '>')
        octave = track.Octave - 1;
    else
        octave = comp.ReadNumber(p);
    if (octave < -1 || octave > 7) comp.Error(MMLMessage::OctaveOutOfRange);
    track.Octave = octave;
}

void compile::Gate(TCompilation& comp, const char*& p)
{
    ++p;
    const std::int32_t gate = comp.ReadNumber(p);
    // Below 0 the note-off would come before its note-on and the clock would run backwards.
    if (gate < 0) comp.Error(MMLMessage::NumberOutOfRange);
    comp.Current().Gate = gate;
}

void compile::Transpose(TCompilation& comp, const char*& p)
{
    ++p;
    comp.Current().Transpose = comp.ReadNumber(p);
}
