// The command loop: one dispatch on the command that begins at the cursor (found in the table of
// Commands.h), each case a small handler that reads its own arguments from the text.
#include <new>

#include "compiler/Commands.h"
#include "compiler/MMLtoMID.h"

TMML::TBlockEnd TMML::CompileBlock(int pass, const char*& p)
{
    ++Depth;
    if (++nesting_ > MaxNesting) Error(MMLMessage::NestingTooDeep);
    TBlockEnd end = TBlockEnd::Text;
    try {
        end = RunBlock(pass, p);
    } catch (const Exception&) {
        // A list's index error and the like carry no line; they get the line of this text.
        if (!errorLocated_) LocateError(nullptr);
        throw;
    } catch (const std::bad_alloc&) {
        if (errorLocated_) throw;
        Error(MMLMessage::OutOfMemory);
    } catch (const std::exception& e) {
        if (errorLocated_) throw;
        Error(e.what());
    }
    --nesting_;
    return end;
}

TMML::TBlockEnd TMML::RunBlock(int pass, const char*& p)
{
    for (;;) {
        const char* const before = p;
        frames_.back().Command = p;
        const char c = *p;
        if (c == '\0') {
            // The end of the text (or of a macro body) inside a repeat body opened in it: the
            // repeat was never closed.
            if (Depth > frames_.back().BaseDepth) ErrorAt(MMLMessage::RepeatNotClosed, openRepeats_.back());
            return TBlockEnd::Text;
        }
        switch (CommandOf(p)) {
        case TCommand::Note:
            // note: letter, accidentals, length, ",velocity", "&"
            CommandNote(p);
            AfterSoundingCommand();
            break;
        case TCommand::Rest:
            CommandRest(p);
            AfterSoundingCommand();
            break;
        case TCommand::DefaultLength:
            CommandDefaultLength(p);
            break;
        case TCommand::Octave:
            CommandOctave(p);
            break;
        case TCommand::Gate:
            CommandGate(p);
            break;
        case TCommand::Transpose:
            CommandTranspose(p);
            break;
        case TCommand::Tempo:
            CommandTempo(p);
            break;
        case TCommand::Program:
            // "@" before a letter is one of the lettered "@" commands; any other letter is none.
            if (IsLetter(p[1])) {
                ++p;
                Error(MMLMessage::UndefinedCommand);
            }
            CommandProgram(p);
            break;
        case TCommand::Effects:
            ++p;
            CommandEffects(p);
            break;
        case TCommand::SysEx:
            ++p;
            CommandSysEx(p);
            break;
        case TCommand::Hold:
            CommandHold(p);
            break;
        case TCommand::Vibrato:
            CommandVibrato(p);
            break;
        case TCommand::Pan:
            CommandPan(p);
            break;
        case TCommand::Velocity:
            CommandVelocity(p);
            break;
        case TCommand::Volume:
            CommandVolume(p);
            break;
        case TCommand::Function:
            CallFunction(p);
            break;
        case TCommand::Chord:
            CommandChord(p);
            AfterSoundingCommand();
            break;
        case TCommand::TupletOpen:
            BeginTuplet(p);
            break;
        case TCommand::TupletClose:
            EndTuplet(p);
            break;
        case TCommand::Repeat:
            CommandRepeat(p);
            break;
        case TCommand::Volta:
            // The last pass of a repeat ends here; other passes and texts outside a repeat pass
            // over it.
            ++p;
            if (pass == 1) {
                CountCommand(before, p);
                --Depth;
                return TBlockEnd::Volta;
            }
            break;
        case TCommand::RepeatEnd:
            // Outside a repeat it would silently end the piece here; it is a mistake instead.
            if (Depth <= frames_.back().BaseDepth) Error(MMLMessage::SyntaxError);
            p += 2;
            // Counted like any command: a repeat with an empty body reads nothing else, pass
            // after pass.
            CountCommand(before, p);
            --Depth;
            return TBlockEnd::RepeatEnd;
        case TCommand::ParallelOpen:
            OpenParallel(p);
            break;
        case TCommand::NextVoice:
            NextVoice(p);
            break;
        case TCommand::ParallelClose:
            CloseParallel(p);
            break;
        case TCommand::StrayColon:
            Error(MMLMessage::SyntaxError);
        case TCommand::Comment:
            ++p;
            SkipToLineEnd(p);
            break;
        case TCommand::Bracket:
            if (p[1] == '\0') {  // a "[" that ends the text closes nothing and is passed over
                ++p;
                break;
            }
            CommandBracket(p);  // [n], [@], [name]
            break;
        case TCommand::None:
            // Blanks, line ends and other control characters, and every byte of 0x80 and above
            // (Japanese text outside comments reads its trail byte as a command character).
            if (static_cast<signed char>(c) > 32) Error(MMLMessage::UndefinedCommand);
            ++p;
            break;
        }
        CountCommand(before, p);
    }
}

void TMML::CountCommand(const char* before, const char* after)
{
    // Every step is counted by the bytes it read, so neither long runs of text nor repeats
    // over them can keep the compiler busy without bound.
    commandCount_ += after > before ? after - before : 1;
    if (commandCount_ > MaxCommands) Error(MMLMessage::SongTooLarge);
    // Not an error: it passes every handler's catch and ends the compilation where it stands.
    if (cancelRequested_.load(std::memory_order_relaxed)) throw TCompileCancelled{};
}

void TMML::AdvanceTrack(std::int64_t ticks)
{
    TTrack& track = Current();
    const std::int64_t tick = track.Tick + ticks;
    if (tick > MaxTick) Error(MMLMessage::SongTooLarge);
    if (tick < 0) Error(MMLMessage::NumberOutOfRange);
    track.Tick = static_cast<std::int32_t>(tick);
    track.Time += static_cast<double>(ticks) * 60000.0 / (ReferenceTempo * TicksPerQuarter);
}

void TMML::AfterSoundingCommand()
{
    // A parallel block continues after its longest voice.
    if (ParallelStartTick == -1) return;
    const TTrack& track = Current();
    ParallelEndTick = std::max(ParallelEndTick, track.Tick);
    ParallelEndTime = std::max(ParallelEndTime, track.Time);  // exact, as at the block's start
}

TMidiElement& TMML::Emit(TElementKind kind) { return EmitOnPort(kind, (Current().Channel - 1) / TSong::ChannelsPerPort); }

TMidiElement& TMML::EmitOnPort(TElementKind kind, int port)
{
    if (++eventCount_ > MaxEvents) Error(MMLMessage::SongTooLarge);
    const TTrack& track = Current();
    TMidiElement element;
    element.Kind = kind;
    element.Tick = track.Tick;
    element.Time = track.Time;
    element.Serial = NextSerial++;
    element.Track = CurrentTrack;
    // The line of the command in the text being compiled, and, inside a macro body, the line in
    // the main text where the outermost use of the macro stands. A command's second and later
    // events find its line already counted.
    const auto commandLine = [this](TSourceFrame& frame) {
        if (frame.Command == frame.CountedTo) return frame.CountedLine;
        return frame.Command != nullptr ? LineAt(frame, frame.Command) : 0;
    };
    element.Line = commandLine(frames_.back());
    if (frames_.size() > 1) element.CallLine = commandLine(frames_.front());
    TMidiElements& list = song_.Ports[static_cast<std::size_t>(port)];
    return list.Items(list.Add(std::move(element)));
}

void TMML::EmitShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    TMidiElement& element = Emit(ekShortMessage);
    element.Status = static_cast<std::uint8_t>(status | ((Current().Channel - 1) % TSong::ChannelsPerPort));
    element.Data1 = data1;
    element.Data2 = data2;
}
