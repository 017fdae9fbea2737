// Chords: 'notes'length,delay&. The notes sound together for one length; a delay spreads their
// starts like an arpeggio, and every note still ends with the chord at gate 8.
#include <algorithm>

#include "compiler/Commands.h"
#include "compiler/Compilation.h"

namespace {
constexpr char ChordClose = RowOf(TCommand::Chord).Close;

// Moves the current track's clocks to a tick and time of its own note events.
void SetClock(TCompilation& comp, std::int64_t tick, double time)
{
    if (tick > TMML::MaxTick) comp.Error(MMLMessage::SongTooLarge);
    TTrack& track = comp.Current();
    track.Tick = static_cast<std::int32_t>(tick);
    track.Time = time;
}
}  // namespace

void compile::Chord(TCompilation& comp, const char*& p)
{
    const char* const open = p;
    ++p;
    const char* const body = p;
    // Notes and rests take one delay step each; octave commands and velocities take none.
    std::int64_t count = 0;
    for (; *p != ChordClose; ++p) {
        if (*p == '\0') comp.ErrorAt(MMLMessage::SyntaxError, open);
        if (IsNoteOrRest(CommandOf(p))) ++count;
    }
    ++p;
    TMMLParams params;
    comp.ReadArgs(params, "Ll", p);
    TTrack& track = comp.Current();
    const std::int32_t length = params.Items(0).Given ? params.Items(0).Value : track.DefaultLength;
    // A delay written (or 0 when none is written) is kept for the next chord; one left out by a
    // second comma takes the kept one.
    if (params.Items(1).Given) comp.ChordDelay = params.Items(1).Value;
    const std::int32_t delay = comp.ChordDelay;
    if (count * delay > length) comp.Error(MMLMessage::ChordDelayTooLong);

    const char* const after = p;
    const std::int64_t startTick = track.Tick;
    const double startTime = track.Time;
    const double unit = 60000.0 / (TCompilation::ReferenceTempo * TCompilation::TicksPerQuarter);
    const std::int64_t endTick = startTick + length;
    const double endTime = startTime + length * unit;
    const std::int32_t octave = track.Octave;
    const bool held = track.Slur;  // tied from the note or chord before: its keys sound on
    std::vector<std::int32_t> tiedFrom;
    if (held) tiedFrom.swap(track.Held);
    const char* end = after;
    if (*end == '&') {
        ++end;
        track.Slur = true;
    } else {
        track.Slur = false;
    }

    std::int64_t start = startTick;
    double time = startTime;
    std::int64_t remaining = length;
    std::vector<std::int32_t> keys;
    p = body;
    while (*p != ChordClose) {
        const TCommand command = CommandOf(p);
        if (command == TCommand::Octave) {
            compile::Octave(comp, p);
            continue;
        }
        if (command == TCommand::Rest) {
            ++p;
        } else if (command == TCommand::Note) {
            const std::int32_t key = comp.NoteNumber(p);
            std::int32_t velocity = track.Velocity;
            if (comp.ReadOptionalNumber(p, velocity) && (velocity < 0 || velocity > 127)) comp.Error(MMLMessage::NumberOutOfRange);
            const std::int64_t gate = static_cast<std::int64_t>(track.Gate) * remaining / 8;
            SetClock(comp, start, time);
            if (!held) comp.EmitNoteOn(key, velocity);
            SetClock(comp, start + gate, time + static_cast<double>(gate) * unit);
            if (!track.Slur) comp.EmitNoteOff(key);
            keys.push_back(key);
        } else {
            comp.Error(MMLMessage::UndefinedInChord);
        }
        remaining -= delay;
        start += delay;
        time += delay * unit;
    }

    if (held) {
        if (track.Slur) {
            // Still tied onward: the keys struck before keep sounding and stay owed.
            track.Held = std::move(tiedFrom);
        } else {
            // Keys struck before the tie that this chord does not name are released with it too.
            const std::int64_t gate = static_cast<std::int64_t>(track.Gate) * length / 8;
            SetClock(comp, startTick + gate, startTime + static_cast<double>(gate) * unit);
            for (const std::int32_t key : tiedFrom)
                if (std::find(keys.begin(), keys.end(), key) == keys.end()) comp.EmitNoteOff(key);
        }
    } else if (!track.Slur) {
        track.Held.clear();
    }
    SetClock(comp, endTick, endTime);
    track.Octave = octave;
    p = end;
    comp.AfterSoundingCommand();
}
