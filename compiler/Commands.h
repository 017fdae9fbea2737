// The language's commands in one table: the characters that begin each one, what it is, and how
// the editor colours it; and the handler that compiles each. The compiler's dispatch
// (TCompilation::RunBlock), the scans that pass over a body without compiling it (the chord's note
// count, the tuplet's count, the search for a repeat's end) and the editor's highlighter all look
// commands up here, so they cannot disagree about what a character begins. A new command is a
// value of TCommand, its row in Commands and its line in Handlers here, and the handler's
// definition in one of the compiler's files; the build fails on a command without a handler.
//
// Plain C++ without Qt: the highlighter in app/ includes it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// How the editor colours a piece of a line; app/Highlighter.cpp maps each class to its colours.
enum class TMMLToken {
    Comment,    // "//" to the end of the line
    Note,       // notes and rests with their accidentals, and the slur mark "&"
    Number,     // lengths, dots, ties, "*ticks" and every numeric argument
    Setting,    // octave, default length, gate and transposition: o < > l q k
    Control,    // t @ @E @X h m p u v
    Chord,      // 'notes'
    Tuplet,     // { }
    Structure,  // repeat and parallel marks: |: | :| /: / :/
    Track,      // [n]
    Macro,      // [name], [@]
    Function,   // #NAME( )
    Plain,      // not coloured: no command, or a character that closes nothing
};

// What a command is: the compiler dispatches on it.
enum class TCommand : std::uint8_t {
    None,  // no command: blanks and control characters are passed over, anything else is an error
    Note,
    Rest,
    DefaultLength,
    Octave,
    Gate,
    Transpose,
    Tempo,
    Program,
    Effects,
    SysEx,
    Hold,
    Vibrato,
    Pan,
    Velocity,
    Volume,
    Function,
    Chord,
    TupletOpen,
    TupletClose,
    Repeat,
    Volta,
    RepeatEnd,
    ParallelOpen,
    NextVoice,
    ParallelClose,
    StrayColon,
    Comment,
    Bracket,
};

struct TCommandRow {
    // The characters that begin the command: one, or two where the second tells commands with the
    // same first character apart (the longer lead wins). Letters stand for both cases.
    std::string_view Lead;
    TCommand Command;
    TMMLToken Token;
    // For a command whose body is read as it stands, up to and including this character (which
    // may hold any character, even those that begin commands): scans that do not compile the body
    // pass over it whole. '\0' for every other command.
    char Close;
    const char* What;
};

// Row 0 is what every character that begins no command looks up.
inline constexpr std::array Commands{
    TCommandRow{"", TCommand::None, TMMLToken::Plain, '\0', "no command: blanks and line ends are passed over"},
    TCommandRow{"a", TCommand::Note, TMMLToken::Note, '\0', "note: letter, accidentals, length, \",velocity\", \"&\""},
    TCommandRow{"b", TCommand::Note, TMMLToken::Note, '\0', "note"},
    TCommandRow{"c", TCommand::Note, TMMLToken::Note, '\0', "note"},
    TCommandRow{"d", TCommand::Note, TMMLToken::Note, '\0', "note"},
    TCommandRow{"e", TCommand::Note, TMMLToken::Note, '\0', "note"},
    TCommandRow{"f", TCommand::Note, TMMLToken::Note, '\0', "note"},
    TCommandRow{"g", TCommand::Note, TMMLToken::Note, '\0', "note"},
    TCommandRow{"r", TCommand::Rest, TMMLToken::Note, '\0', "rest: r length"},
    TCommandRow{"l", TCommand::DefaultLength, TMMLToken::Setting, '\0', "default length: l length"},
    TCommandRow{"o", TCommand::Octave, TMMLToken::Setting, '\0', "octave: o n"},
    TCommandRow{"<", TCommand::Octave, TMMLToken::Setting, '\0', "octave up"},
    TCommandRow{">", TCommand::Octave, TMMLToken::Setting, '\0', "octave down"},
    TCommandRow{"q", TCommand::Gate, TMMLToken::Setting, '\0', "gate: q n, in eighths of the length"},
    TCommandRow{"k", TCommand::Transpose, TMMLToken::Setting, '\0', "transposition: k n semitones"},
    TCommandRow{"t", TCommand::Tempo, TMMLToken::Control, '\0', "tempo: t n, t+n, t-n"},
    TCommandRow{"@", TCommand::Program, TMMLToken::Control, '\0', "program: @program,msb,lsb"},
    TCommandRow{"@e", TCommand::Effects, TMMLToken::Control, '\0', "effects: @E a,b,c,d,e"},
    TCommandRow{"@x", TCommand::SysEx, TMMLToken::Control, '\0', "system exclusive: @X b1,b2,..."},
    TCommandRow{"h", TCommand::Hold, TMMLToken::Control, '\0', "hold pedal: h n"},
    TCommandRow{"m", TCommand::Vibrato, TMMLToken::Control, '\0', "vibrato: m depth,rate,delay"},
    TCommandRow{"p", TCommand::Pan, TMMLToken::Control, '\0', "pan: p n, p+n, p-n"},
    TCommandRow{"u", TCommand::Velocity, TMMLToken::Control, '\0', "velocity: u n, u+n, u-n"},
    TCommandRow{"v", TCommand::Volume, TMMLToken::Control, '\0', "volume: v n, v+n, v-n"},
    TCommandRow{"#", TCommand::Function, TMMLToken::Function, '(', "function: #name(arguments)"},
    TCommandRow{"'", TCommand::Chord, TMMLToken::Chord, '\'', "chord: 'notes'length,delay&"},
    TCommandRow{"{", TCommand::TupletOpen, TMMLToken::Tuplet, '\0', "tuplet: {notes}length"},
    TCommandRow{"}", TCommand::TupletClose, TMMLToken::Tuplet, '\0', "end of a tuplet: }length"},
    TCommandRow{"|:", TCommand::Repeat, TMMLToken::Structure, '\0', "repeat: |:count body :|"},
    TCommandRow{"|", TCommand::Volta, TMMLToken::Structure, '\0', "volta: the last pass of a repeat ends here"},
    TCommandRow{":|", TCommand::RepeatEnd, TMMLToken::Structure, '\0', "end of a repeat body"},
    TCommandRow{"/:", TCommand::ParallelOpen, TMMLToken::Structure, '\0', "parallel block: /: voice / voice :/"},
    TCommandRow{"/", TCommand::NextVoice, TMMLToken::Structure, '\0', "the next voice of a parallel block"},
    TCommandRow{":/", TCommand::ParallelClose, TMMLToken::Structure, '\0', "end of a parallel block"},
    TCommandRow{":", TCommand::StrayColon, TMMLToken::Plain, '\0', "a colon that closes nothing: an error"},
    TCommandRow{"//", TCommand::Comment, TMMLToken::Comment, '\n', "comment: \"//\" to the end of the line"},
    // Coloured as a track when it holds a number ("[1]", "[$10]"): the highlighter looks inside.
    TCommandRow{"[", TCommand::Bracket, TMMLToken::Macro, ']', "[n] track, [name] macro, [@] macro use"},
};

namespace commands_detail {

struct TLead {
    std::uint8_t Row = 0;   // the row of the one-character lead (0: none)
    std::uint8_t Pair = 0;  // 1 + the index of the second-character table, 0 when no lead is longer
};

// In Command, for a character that begins a two-character lead: the next one decides.
inline constexpr auto Longer = static_cast<TCommand>(0xFF);

// At most this many first characters begin a two-character lead.
inline constexpr std::size_t MaxPairLeads = 4;

struct TLookup {
    std::array<TLead, 256> First{};
    std::array<std::array<std::uint8_t, 256>, MaxPairLeads> Second{};
    // What the dispatch reads: the command of each character's row, or Longer, and then the
    // command each next character makes of it (the one-character row's when it makes no longer
    // lead).
    std::array<TCommand, 256> Command{};
    std::array<std::array<TCommand, 256>, MaxPairLeads> SecondCommand{};
};

constexpr unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

// A character and, for a letter, the same letter in the other case.
struct TCases {
    std::array<char, 2> Chars{};
    std::size_t Count = 1;
};

constexpr TCases CasesOf(char c)
{
    if (c >= 'a' && c <= 'z') return {{c, static_cast<char>(c - 'a' + 'A')}, 2};
    if (c >= 'A' && c <= 'Z') return {{c, static_cast<char>(c - 'A' + 'a')}, 2};
    return {{c, c}, 1};
}

// Built while compiling; a table that contradicts itself (the same lead twice, a lead of no or
// more than two characters, more first characters with longer leads than MaxPairLeads) stops
// the build here.
constexpr TLookup MakeLookup()
{
    TLookup lookup;
    std::size_t pairs = 0;
    const auto claim = [](std::uint8_t& slot, std::size_t row) {
        if (slot != 0) throw "two rows of Commands have the same lead";
        slot = static_cast<std::uint8_t>(row);
    };
    for (std::size_t row = 1; row < Commands.size(); ++row) {
        const std::string_view lead = Commands[row].Lead;
        if (lead.empty() || lead.size() > 2) throw "a lead has one or two characters";
        const TCases firsts = CasesOf(lead[0]);
        for (std::size_t f = 0; f < firsts.Count; ++f) {
            TLead& entry = lookup.First[Byte(firsts.Chars[f])];
            if (lead.size() == 1) {
                claim(entry.Row, row);
                continue;
            }
            // Both cases of a letter share one second-character table.
            if (entry.Pair == 0) {
                if (pairs == MaxPairLeads) throw "raise MaxPairLeads";
                entry.Pair = static_cast<std::uint8_t>(++pairs);
                if (f == 0 && firsts.Count == 2) lookup.First[Byte(firsts.Chars[1])].Pair = entry.Pair;
            }
            if (f > 0) continue;
            const TCases seconds = CasesOf(lead[1]);
            for (std::size_t s = 0; s < seconds.Count; ++s)
                claim(lookup.Second[entry.Pair - 1][Byte(seconds.Chars[s])], row);
        }
    }
    for (std::size_t c = 0; c < 256; ++c) {
        const TLead& entry = lookup.First[c];
        lookup.Command[c] = entry.Pair != 0 ? Longer : Commands[entry.Row].Command;
        if (entry.Pair == 0) continue;
        for (std::size_t next = 0; next < 256; ++next) {
            const std::uint8_t row = lookup.Second[entry.Pair - 1][next];
            lookup.SecondCommand[entry.Pair - 1][next] = Commands[row != 0 ? row : entry.Row].Command;
        }
    }
    return lookup;
}

inline constexpr TLookup Lookup = MakeLookup();

}  // namespace commands_detail

// The row of the command that begins at p, in a zero-terminated text; p[1] is read only when *p
// begins a two-character lead.
inline const TCommandRow& CommandAt(const char* p)
{
    using namespace commands_detail;
    const TLead& lead = Lookup.First[Byte(*p)];
    if (lead.Pair != 0) {
        const std::uint8_t row = Lookup.Second[lead.Pair - 1][Byte(p[1])];
        if (row != 0) return Commands[row];
    }
    return Commands[lead.Row];
}

// What CommandAt(p).Command is, for the loops that look at every command or byte: one look-up
// in a 256-entry table, two for the four characters that begin two-character leads, so the
// dispatch costs what a switch on the byte did.
inline TCommand CommandOf(const char* p)
{
    using namespace commands_detail;
    const TCommand command = Lookup.Command[Byte(*p)];
    if (command != Longer) return command;
    return Lookup.SecondCommand[Lookup.First[Byte(*p)].Pair - 1][Byte(p[1])];
}

// The row of a command (for a command with several rows, such as the notes, the first).
constexpr const TCommandRow& RowOf(TCommand command)
{
    for (const TCommandRow& row : Commands)
        if (row.Command == command) return row;
    return Commands[0];
}

// Notes and rests: each takes one delay step in a chord and one share of a tuplet's length.
constexpr bool IsNoteOrRest(TCommand command) { return command == TCommand::Note || command == TCommand::Rest; }

// After the body of the command at p, which has a Close character (a chord, a comment, a bracket,
// a function name): the character after its Close, or nullptr when the text ends first.
inline const char* AfterBody(const char* p)
{
    const char close = CommandAt(p).Close;
    for (++p; *p != close; ++p)
        if (*p == '\0') return nullptr;
    return p + 1;
}

// --- The handlers. Only the compiler's dispatch reads the list below, so the editor, which reads
// the rows above, links against none of them. ---

class TCompilation;  // compiler/Compilation.h: the state of one compilation

// Compiles the command that begins at p and leaves p after it. The compiler's files define them,
// each beside the commands of its kind (Notes.cpp, Controls.cpp, ...).
using TCompileCommand = void (*)(TCompilation& compilation, const char*& p);

namespace compile {
void Blank(TCompilation& compilation, const char*& p);
void Note(TCompilation& compilation, const char*& p);
void Rest(TCompilation& compilation, const char*& p);
void DefaultLength(TCompilation& compilation, const char*& p);
void Octave(TCompilation& compilation, const char*& p);
void Gate(TCompilation& compilation, const char*& p);
void Transpose(TCompilation& compilation, const char*& p);
void Tempo(TCompilation& compilation, const char*& p);
void Program(TCompilation& compilation, const char*& p);
void Effects(TCompilation& compilation, const char*& p);
void SysEx(TCompilation& compilation, const char*& p);
void Hold(TCompilation& compilation, const char*& p);
void Vibrato(TCompilation& compilation, const char*& p);
void Pan(TCompilation& compilation, const char*& p);
void Velocity(TCompilation& compilation, const char*& p);
void Volume(TCompilation& compilation, const char*& p);
void Function(TCompilation& compilation, const char*& p);
void Chord(TCompilation& compilation, const char*& p);
void TupletOpen(TCompilation& compilation, const char*& p);
void TupletClose(TCompilation& compilation, const char*& p);
void Repeat(TCompilation& compilation, const char*& p);
void ParallelOpen(TCompilation& compilation, const char*& p);
void NextVoice(TCompilation& compilation, const char*& p);
void ParallelClose(TCompilation& compilation, const char*& p);
void StrayColon(TCompilation& compilation, const char*& p);
void Comment(TCompilation& compilation, const char*& p);
void Bracket(TCompilation& compilation, const char*& p);
}  // namespace compile

struct THandlerRow {
    TCommand Command;
    TCompileCommand Compile;
};

// The two commands that end the block they stand in: the command loop compiles them itself, so
// they have no handler.
constexpr bool EndsBlock(TCommand command) { return command == TCommand::Volta || command == TCommand::RepeatEnd; }

namespace commands_detail {

// One more than the largest command a row of Commands names.
constexpr std::size_t CountCommands()
{
    std::size_t count = 0;
    for (const TCommandRow& row : Commands) count = std::max(count, static_cast<std::size_t>(row.Command) + 1);
    return count;
}

inline constexpr std::size_t CommandCount = CountCommands();

// The handler of each command by its value; a command of a row without one, or with two, stops
// the build here.
template <std::size_t N>
constexpr std::array<TCompileCommand, CommandCount> MakeHandlers(const THandlerRow (&rows)[N])
{
    std::array<TCompileCommand, CommandCount> handlers{};
    // Kept apart from the addresses: a build with sanitizers cannot compare an address with null
    // while it compiles.
    std::array<bool, CommandCount> given{};
    for (const THandlerRow& row : rows) {
        const auto command = static_cast<std::size_t>(row.Command);
        if (command >= CommandCount) throw "a handler for a command no row begins";
        if (given[command]) throw "two handlers for one command";
        if (EndsBlock(row.Command)) throw "a handler for a command the loop compiles itself";
        handlers[command] = row.Compile;
        given[command] = true;
    }
    for (const TCommandRow& row : Commands)
        if (!given[static_cast<std::size_t>(row.Command)] && !EndsBlock(row.Command)) throw "a command without a handler";
    return handlers;
}

}  // namespace commands_detail

inline constexpr std::array<TCompileCommand, commands_detail::CommandCount> Handlers = commands_detail::MakeHandlers({
    {TCommand::None, compile::Blank},
    {TCommand::Note, compile::Note},
    {TCommand::Rest, compile::Rest},
    {TCommand::DefaultLength, compile::DefaultLength},
    {TCommand::Octave, compile::Octave},
    {TCommand::Gate, compile::Gate},
    {TCommand::Transpose, compile::Transpose},
    {TCommand::Tempo, compile::Tempo},
    {TCommand::Program, compile::Program},
    {TCommand::Effects, compile::Effects},
    {TCommand::SysEx, compile::SysEx},
    {TCommand::Hold, compile::Hold},
    {TCommand::Vibrato, compile::Vibrato},
    {TCommand::Pan, compile::Pan},
    {TCommand::Velocity, compile::Velocity},
    {TCommand::Volume, compile::Volume},
    {TCommand::Function, compile::Function},
    {TCommand::Chord, compile::Chord},
    {TCommand::TupletOpen, compile::TupletOpen},
    {TCommand::TupletClose, compile::TupletClose},
    {TCommand::Repeat, compile::Repeat},
    {TCommand::ParallelOpen, compile::ParallelOpen},
    {TCommand::NextVoice, compile::NextVoice},
    {TCommand::ParallelClose, compile::ParallelClose},
    {TCommand::StrayColon, compile::StrayColon},
    {TCommand::Comment, compile::Comment},
    {TCommand::Bracket, compile::Bracket},
});
