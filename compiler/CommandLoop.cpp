// The command loop: one dispatch on the command byte, each case a small handler that reads its
// own arguments from the text.
#include <new>

#include "MMLtoMID.h"

namespace {
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

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
        switch (Upper(c)) {
        case 'A': case 'B': case 'C': case 'D': case 'E': case 'F': case 'G':
            // note: letter, accidentals, length, ",velocity", "&"
            CommandNote(p);
            AfterSoundingCommand();
            break;
        case 'R':  // rest: r length
            CommandRest(p);
            AfterSoundingCommand();
            break;
        case 'L':  // default length: l length
            CommandDefaultLength(p);
            break;
        case 'O':  // octave: o n
        case '<':  // octave up
        case '>':  // octave down
            CommandOctave(p);
            break;
        case 'Q':  // gate: q n, in eighths of the length
            CommandGate(p);
            break;
        case 'K':  // transposition: k n semitones
            CommandTranspose(p);
            break;
        case 'T':  // tempo: t n, t+n, t-n
            CommandTempo(p);
            break;
        case '@':
            if (IsLetter(p[1])) {
                ++p;
                if (Upper(*p) == 'E') {  // effects: @E a,b,c,d,e
                    CommandEffects(p);
                    break;
                }
                if (Upper(*p) == 'X') {  // system exclusive: @X b1,b2,...
                    CommandSysEx(p);
                    break;
                }
                Error(MMLMessage::UndefinedCommand);
            }
            CommandProgram(p);  // program: @program,msb,lsb
            break;
        case 'H':  // hold pedal: h n
            CommandHold(p);
            break;
        case 'M':  // vibrato: m depth,rate,delay
            CommandVibrato(p);
            break;
        case 'P':  // pan: p n, p+n, p-n
            CommandPan(p);
            break;
        case 'U':  // velocity: u n, u+n, u-n
            CommandVelocity(p);
            break;
        case 'V':  // volume: v n, v+n, v-n
            CommandVolume(p);
            break;
        case '#':  // function: #name(arguments)
            CallFunction(p);
            break;
        case '\'':  // chord: 'notes'length,delay&
            CommandChord(p);
            AfterSoundingCommand();
            break;
        case '{':  // tuplet: {notes}length
            BeginTuplet(p);
            break;
        case '}':
            EndTuplet(p);
            break;
        case '|':
            if (p[1] == ':') {  // repeat: |:count body :|
                CommandRepeat(p);
                break;
            }
            // volta: the last pass of a repeat ends here; other passes and texts outside a
            // repeat pass over it
            ++p;
            if (pass == 1) {
                CountCommand(before, p);
                --Depth;
                return TBlockEnd::Volta;
            }
            break;
        case '/':
            if (p[1] == '/') {  // comment: "//" to the end of the line
                ++p;
                SkipToLineEnd(p);
                break;
            }
            if (p[1] == ':') {  // parallel block: /: voice / voice :/
                OpenParallel(p);
                break;
            }
            NextVoice(p);  // "/": the next voice
            break;
        case ':':
            if (p[1] == '|') {  // end of a repeat body
                // Outside a repeat it would silently end the piece here; it is a mistake instead.
                if (Depth <= frames_.back().BaseDepth) Error(MMLMessage::SyntaxError);
                p += 2;
                // Counted like any command: a repeat with an empty body reads nothing else, pass
                // after pass.
                CountCommand(before, p);
                --Depth;
                return TBlockEnd::RepeatEnd;
            }
            if (p[1] == '/') {  // end of a parallel block
                CloseParallel(p);
                break;
            }
            Error(MMLMessage::SyntaxError);
        case '[':
            if (p[1] == '\0') {  // a "[" that ends the text closes nothing and is passed over
                ++p;
                break;
            }
            CommandBracket(p);  // [n], [@], [name]
            break;
        default:
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

TMidiElement& TMML::Emit(TElementKind kind) { return EmitOnPort(kind, (Current().Channel - 1) / 16); }

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
    TMidiElements& list = PortAt(port).Elements;
    return list.Items(list.Add(std::move(element)));
}

void TMML::EmitShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    TMidiElement& element = Emit(ekShortMessage);
    element.Status = static_cast<std::uint8_t>(status | ((Current().Channel - 1) % 16));
    element.Data1 = data1;
    element.Data2 = data2;
}
