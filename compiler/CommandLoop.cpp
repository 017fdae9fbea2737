// The command loop: one dispatch on the command that begins at the cursor (found in the table of
// Commands.h, whose handler list names the function that compiles it), and the event stamping
// every handler shares.
#include <algorithm>
#include <new>

#include "compiler/Commands.h"
#include "compiler/Compilation.h"

TCompilation::TBlockEnd TCompilation::CompileBlock(int pass, const char*& p)
{
    ++Depth;
    if (++nesting_ > TMML::MaxNesting) Error(MMLMessage::NestingTooDeep);
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

TCompilation::TBlockEnd TCompilation::RunBlock(int pass, const char*& p)
{
    for (;;) {
        const char* const before = p;
        frames_.back().Command = p;
        if (*p == '\0') {
            // The end of the text (or of a macro body) inside a repeat body opened in it: the
            // repeat was never closed.
            if (Depth > frames_.back().BaseDepth) ErrorAt(MMLMessage::RepeatNotClosed, OpenRepeats.back());
            return TBlockEnd::Text;
        }
        const TCommand command = CommandOf(p);
        if (!EndsBlock(command)) {
            Handlers[static_cast<std::size_t>(command)](*this, p);
            CountCommand(before, p);
            continue;
        }
        if (command == TCommand::Volta) {
            // The last pass of a repeat ends here; other passes and texts outside a repeat pass
            // over it.
            ++p;
            CountCommand(before, p);
            if (pass == 1) {
                --Depth;
                return TBlockEnd::Volta;
            }
            continue;
        }
        // ":|". Outside a repeat it would silently end the piece here; it is a mistake instead.
        if (Depth <= frames_.back().BaseDepth) Error(MMLMessage::SyntaxError);
        p += 2;
        // Counted like any command: a repeat with an empty body reads nothing else, pass after
        // pass.
        CountCommand(before, p);
        --Depth;
        return TBlockEnd::RepeatEnd;
    }
}

void TCompilation::CountCommand(const char* before, const char* after)
{
    // Every step is counted by the bytes it read, so neither long runs of text nor repeats
    // over them can keep the compiler busy without bound.
    commandCount_ += after > before ? after - before : 1;
    if (commandCount_ > TMML::MaxCommands) Error(MMLMessage::SongTooLarge);
    // Not an error: it passes every handler's catch and ends the compilation where it stands.
    if (cancelRequested_.load(std::memory_order_relaxed)) throw TCompileCancelled{};
}

// Blanks, line ends and other control characters, and every byte of 0x80 and above (Japanese
// text outside comments reads its trail byte as a command character), are passed over; any other
// character that begins no command is an error.
void compile::Blank(TCompilation& comp, const char*& p)
{
    if (static_cast<signed char>(*p) > 32) comp.Error(MMLMessage::UndefinedCommand);
    ++p;
}

void compile::StrayColon(TCompilation& comp, const char*&) { comp.Error(MMLMessage::SyntaxError); }

void compile::Comment(TCompilation&, const char*& p)
{
    ++p;
    TCompilation::SkipToLineEnd(p);
}

void TCompilation::AdvanceTrack(std::int64_t ticks)
{
    TTrack& track = Current();
    const std::int64_t tick = track.Tick + ticks;
    if (tick > TMML::MaxTick) Error(MMLMessage::SongTooLarge);
    if (tick < 0) Error(MMLMessage::NumberOutOfRange);
    track.Tick = static_cast<std::int32_t>(tick);
    track.Time += static_cast<double>(ticks) * 60000.0 / (ReferenceTempo * TicksPerQuarter);
}

void TCompilation::AfterSoundingCommand()
{
    // A parallel block continues after its longest voice.
    if (ParallelStartTick == -1) return;
    const TTrack& track = Current();
    ParallelEndTick = std::max(ParallelEndTick, track.Tick);
    ParallelEndTime = std::max(ParallelEndTime, track.Time);  // exact, as at the block's start
}

TMidiElement& TCompilation::Emit(TElementKind kind)
{
    return EmitOnPort(kind, (Current().Channel - 1) / TSong::ChannelsPerPort);
}

TMidiElement& TCompilation::EmitOnPort(TElementKind kind, int port)
{
    if (++eventCount_ > TMML::MaxEvents) Error(MMLMessage::SongTooLarge);
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
    TMidiElements& list = Song.Ports[static_cast<std::size_t>(port)];
    return list.Items(list.Add(std::move(element)));
}

void TCompilation::EmitShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    TMidiElement& element = Emit(ekShortMessage);
    element.Status = static_cast<std::uint8_t>(status | ((Current().Channel - 1) % TSong::ChannelsPerPort));
    element.Data1 = data1;
    element.Data2 = data2;
}

void TCompilation::EmitControlChange(int controller, int value)
{
    EmitShort(0xB0, static_cast<std::uint8_t>(controller), static_cast<std::uint8_t>(value));
}
