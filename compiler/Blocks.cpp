// Repeats (|:count body | volta :|) and parallel blocks (/: voice / voice :/).
#include <algorithm>

#include "compiler/Commands.h"
#include "compiler/Compilation.h"

namespace {

// The end of a repeat body that is not compiled (a count of 0, or a last pass that stopped at a
// volta before any pass reached ":|"): the ":|" that matches, passing over nested repeats and
// over the bodies read as they stand (comments, bracket names, function names and chord bodies),
// which may hold any character.
const char* FindRepeatEnd(const char* p)
{
    int depth = 1;
    for (;;) {
        if (*p == '\0') return nullptr;
        const TCommandRow& row = CommandAt(p);
        if (row.Close != '\0') {
            p = AfterBody(p);
            if (p == nullptr) return nullptr;
            continue;
        }
        if (row.Command == TCommand::Repeat) {
            ++depth;
            p += row.Lead.size();
            continue;
        }
        if (row.Command == TCommand::RepeatEnd) {
            p += row.Lead.size();
            if (--depth == 0) return p;
            continue;
        }
        ++p;
    }
}

}  // namespace

// |:count: the body between here and ":|" is compiled count times (2 when no count is written).
// In the last pass a single "|" ends the body early. Only the octave goes back to where it was
// after each pass; every other setting carries over.
void compile::Repeat(TCompilation& comp, const char*& p)
{
    const char* const open = p;
    p += 2;
    std::int32_t count = 2;
    if (!comp.ReadOptionalNumber(p, count)) count = 2;
    if (count < 0) comp.Error(MMLMessage::NumberOutOfRange);
    const char* const body = p;
    const std::int32_t octave = comp.Current().Octave;
    const char* end = nullptr;  // after the ":|", once a pass has reached it
    comp.OpenRepeats.push_back(open);
    for (std::int32_t pass = count; pass >= 1; --pass) {
        p = body;
        if (comp.CompileBlock(pass, p) == TCompilation::TBlockEnd::RepeatEnd) end = p;
        comp.Current().Octave = octave;
    }
    comp.OpenRepeats.pop_back();
    if (end == nullptr) {
        end = FindRepeatEnd(body);
        if (end == nullptr) comp.ErrorAt(MMLMessage::RepeatNotClosed, open);
    }
    p = end;
}

void compile::ParallelOpen(TCompilation& comp, const char*& p)
{
    if (comp.ParallelStartTick != -1) comp.Error(MMLMessage::NestedParallel);
    p += 2;
    const TTrack& track = comp.Current();
    comp.ParallelEndTick = -1;
    comp.ParallelEndTime = -1;
    comp.ParallelStartTick = track.Tick;
    // Whole ticks and their exact time: cutting the time to a whole unit here would make a track
    // with parallel blocks drift ahead of the others by up to a unit per block.
    comp.ParallelStartTime = track.Time;
    comp.ParallelStartSerial = comp.NextSerial;
    comp.ParallelSerialEnd = comp.NextSerial;
}

// "/": the next voice starts where the block began, numbering its events from the block's first
// serial again.
void compile::NextVoice(TCompilation& comp, const char*& p)
{
    ++p;
    if (comp.ParallelStartTick == -1) comp.Error(MMLMessage::SyntaxError);
    comp.ParallelSerialEnd = std::max(comp.ParallelSerialEnd, comp.NextSerial);
    TTrack& track = comp.Current();
    track.Tick = comp.ParallelStartTick;
    track.Time = comp.ParallelStartTime;
    comp.NextSerial = comp.ParallelStartSerial;
}

// ":/": the track goes on from the end of the longest voice. Serials go on past every serial the
// voices used, so nothing made after the block sorts before an earlier voice's events at the
// block's end (which would cut off a note that starts there).
void compile::ParallelClose(TCompilation& comp, const char*& p)
{
    p += 2;
    if (comp.ParallelStartTick == -1) comp.Error(MMLMessage::SyntaxError);
    TTrack& track = comp.Current();
    if (comp.ParallelEndTick == -1) {
        track.Tick = comp.ParallelStartTick;
        track.Time = comp.ParallelStartTime;
    } else {
        track.Tick = comp.ParallelEndTick;
        track.Time = comp.ParallelEndTime;
    }
    comp.NextSerial = std::max(comp.ParallelSerialEnd, comp.NextSerial);
    comp.ParallelStartTick = -1;
    comp.ParallelEndTick = -1;
    comp.ParallelStartTime = -1;
    comp.ParallelEndTime = -1;
}
