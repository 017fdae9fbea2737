// One compilation: everything the compiler works with while it reads one text, private to
// compiler/. TMML::CompileText makes a TCompilation for each text and lets it go afterwards, so the
// tracks, the macros, the stack of texts being read, the counters and the parallel and tuplet
// state all start from their defaults together and nothing of one compilation reaches the next.
//
// The compiler reads the text as Shift-JIS bytes through one cursor, a pointer into a
// zero-terminated buffer that the compilation owns. Every reader takes the cursor by reference and
// leaves it on the first byte it did not consume; nothing reads past the terminating zero.
//
// The command handlers (declared with their rows in compiler/Commands.h) are free functions over
// a TCompilation: they read their arguments with the readers below and make events with the
// emitters, so a new command needs nothing added here.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "compiler/Compiler.h"
#include "song/Song.h"

// One read argument of a command: present or not, and its value (0 when absent).
struct TMMLParam {
    bool Given = false;
    std::int32_t Value = 0;
};

// The arguments of one command, in the order of its signature letters.
// Every note reads one, so the first few entries live inside the object and only a long
// system-exclusive list reaches the heap.
class TMMLParams {
public:
    void Add(const TMMLParam& param)
    {
        if (count_ < InlineCount)
            inline_[static_cast<std::size_t>(count_)] = param;
        else
            more_.push_back(param);
        ++count_;
    }
    int Count() const { return count_; }
    const TMMLParam& Items(int index) const;

private:
    static constexpr int InlineCount = 8;
    std::array<TMMLParam, InlineCount> inline_{};
    std::vector<TMMLParam> more_;
    int count_ = 0;
};

// The letters of an argument list that ReadArgs reads, one per argument:
//   I  a number 0..127        J  a number 1..128
//   L  a length, the track's default length when none is written
//   l  a length, 0 when none is written
// Checked while the program is built: a letter the reader does not know does not build.
class TArgLetters {
public:
    consteval TArgLetters(const char* letters) : letters_(letters)
    {
        for (const char* letter = letters; *letter != '\0'; ++letter)
            if (*letter != 'I' && *letter != 'J' && *letter != 'L' && *letter != 'l')
                throw "an argument letter ReadArgs does not know";
    }
    const char* Letters() const { return letters_; }

private:
    const char* letters_;
};

// The compile state of one MML track.
struct TTrack {
    std::int32_t Channel = 1;  // 1..64: port (Channel-1) div 16, MIDI channel (Channel-1) mod 16
    std::int32_t Tick = 0;
    double Time = 0.0;  // the same clock in thousandths of a quarter note, a running sum
    std::int32_t DefaultLength = 480;
    std::int32_t Volume = 127;
    std::int32_t Velocity = 127;
    std::int32_t Octave = 3;
    std::int32_t Gate = 8;
    std::int32_t Transpose = 0;
    std::int32_t Pan = 64;
    bool Slur = false;  // the last note of this track ended in '&': its key is still held
    // The key struck at the start of the current note or slurred run, and whether a slur bent it
    // so that the bend must return to its centre. Kept per track so that one track's slur is
    // never measured from, or ended by, another track's key.
    std::int32_t LastNote = 0;
    bool BendResetPending = false;
    // Every key struck and still held by a slur or a tie, in the order struck: whatever ends the
    // run releases all of them, so a chord tied into a note leaves no key sounding.
    std::vector<std::int32_t> Held;
};

class TTracks {
public:
    static constexpr int TrackCount = 128;

    // Every track at its defaults; track n starts on channel ((n-1) mod 64) + 1: tracks 65..128
    // share the channels of tracks 1..64 until a #ASSIGN moves them.
    TTracks()
    {
        for (int n = 1; n <= TrackCount; ++n) items_[static_cast<std::size_t>(n - 1)].Channel = (n - 1) % TSong::ChannelCount + 1;
    }
    // Track n, 1..128; any other number raises the list's index error.
    TTrack& TrackAt(int n)
    {
        if (n < 1 || n > TrackCount) IndexError(n - 1);
        return items_[static_cast<std::size_t>(n - 1)];
    }

private:
    [[noreturn]] static void IndexError(int index);
    std::array<TTrack, TrackCount> items_{};
};

// One macro: its bracketed name as written ("[Intro]"), its body verbatim, and the line on which
// the body begins, from which lines inside the body are counted when it is expanded.
struct TMMLMacro {
    int Line = 1;
    std::string Name;
    std::string Body;
};

// The macros defined so far in this compilation, in order of definition.
class TMMLMacros {
public:
    // The position of the macro whose name equals name byte for byte, or -1.
    int IndexOf(const std::string& name) const;
    const TMMLMacro& Items(int index) const;
    int Count() const { return static_cast<int>(items_.size()); }
    void Add(TMMLMacro macro);

private:
    std::vector<TMMLMacro> items_;
    std::unordered_map<std::string, int> index_;  // names are looked up at every bracket
};

// Where the cursor of one text is: the main text or a macro body being expanded. Used to tell the
// line of the cursor when an error is raised, and the line of the command that makes each event.
struct TSourceFrame {
    const char* Start = nullptr;          // first byte of the text
    int StartLine = 1;                    // the line of that byte
    const char* const* Cursor = nullptr;  // the cursor variable walking this text
    const char* CountedTo = nullptr;      // line feeds before this byte are counted in CountedLine
    int CountedLine = 1;
    // The depth at which this text runs: reaching its end deeper than this means a repeat opened
    // in it was never closed. A macro body ends at its own end, also inside a repeat.
    int BaseDepth = 1;
    // Where the command being compiled in this text begins: every event it makes carries its line.
    const char* Command = nullptr;
};

// Thrown when a cancel was requested: deliberately no Exception, so that no handler on the way out
// turns it into an error message.
struct TCompileCancelled {};

class TCompilation {
public:
    // The song starts with the tempos the ports' players have and builds its lists in the memory
    // of the recycled song's lists; cancel is read at every command.
    TCompilation(const TMML::TPortTempos& tempos, TSong& recycled, const std::atomic<bool>& cancel);
    TCompilation(const TCompilation&) = delete;
    TCompilation& operator=(const TCompilation&) = delete;

    // Compiles the whole text and returns the song. Never lets a compile error out: the first
    // error is in the song with its line, and the events made before it stay, sorted.
    TSong Run(std::string text);

    // The clock: ticks per quarter note, and the tempo at which a track's Time counts
    // thousandths of a quarter note.
    static constexpr int TicksPerQuarter = 480;
    static constexpr int ReferenceTempo = 60;

    // --- What the commands change. ---
    TSong Song;  // what the compilation has made: the event lists, the pane lines, each port's tempo
    TTracks Tracks;
    TMMLMacros Macros;
    int CurrentTrack = 1;
    int Tempo = 120;  // the base of a relative t, even when out of range
    int Depth = 0;
    std::int32_t NextSerial = 0;
    // The parallel block being compiled: where it began (-1: none is open) and where its longest
    // voice so far ends.
    std::int32_t ParallelStartTick = -1;
    std::int32_t ParallelEndTick = -1;
    std::int32_t ParallelStartSerial = 0;
    std::int32_t ParallelSerialEnd = 0;  // one past the largest serial of the open block
    double ParallelStartTime = 0.0;
    double ParallelEndTime = 0.0;
    std::int32_t ChordDelay = 0;  // kept for a chord that leaves its delay out
    // The tuplet being compiled: the shares still to hand out and the ticks they share.
    std::int32_t TupletNotesLeft = 0;
    std::int32_t TupletTicksLeft = 0;
    std::vector<const char*> OpenRepeats;  // where each repeat being compiled began

    TTrack& Current() { return Tracks.TrackAt(CurrentTrack); }

    // --- The source readers. Each takes the cursor by reference. ---
    static void SkipToLineEnd(const char*& p);
    static bool IsLetter(char c);
    std::int32_t ReadNumber(const char*& p);
    // As ReadNumber, but a missing or malformed number is no error: false, with the cursor after
    // the run that was collected.
    static bool TryNumber(const char*& p, std::int32_t& value);
    // An optional number: true with its value, false when none is written. A run that is there
    // but no valid number (too large, malformed) is passed over like none, with a warning.
    bool ReadOptionalNumber(const char*& p, std::int32_t& value);
    // Raises "数値が範囲外です" for a value outside its letter's range; with raise false it reads
    // the whole list anyway and returns false instead.
    bool ReadArgs(TMMLParams& params, TArgLetters letters, const char*& p, bool raise = true);
    void ReadNumberList(TMMLParams& params, const char*& p);
    // A length with its ties, in whole ticks; inside a tuplet, the next share.
    std::int32_t ReadTiedLength(const char*& p, bool zeroDefault);
    // A note letter and its accidentals as the current track's key number.
    std::int32_t NoteNumber(const char*& p);
    // The line of pos, a byte of the innermost text.
    int LineOf(const char* pos);

    // --- Events. ---
    // Stamps a new event with the current track's clocks and the next serial and appends it to
    // the list of the port its channel selects (or of the given port).
    TMidiElement& Emit(TElementKind kind);
    TMidiElement& EmitOnPort(TElementKind kind, int port);
    void EmitShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    void EmitControlChange(int controller, int value);
    void EmitNoteOn(std::int32_t key, std::int32_t velocity);
    void EmitNoteOff(std::int32_t key);
    // The end of a note or slurred run on the current track.
    void ReleaseHeld();
    void AdvanceTrack(std::int64_t ticks);
    // After a note, rest or chord: a parallel block continues after its longest voice.
    void AfterSoundingCommand();

    // --- Blocks. ---
    // How a block ended: at the end of its text, at the ":|" of its repeat, or at a volta "|"
    // in the last pass of its repeat.
    enum class TBlockEnd { Text, RepeatEnd, Volta };
    TBlockEnd CompileBlock(int pass, const char*& p);
    // Compiles a macro's body in place, at the caller's depth and with the caller's track.
    void ExpandMacro(const TMMLMacro& macro);
    // Adds the bytes one step read (at least one) to the command count and raises when the count
    // passes MaxCommands; ends the compilation when a cancel was requested.
    void CountCommand(const char* before, const char* after);

    // --- Messages. ---
    // Raises a compile error at the cursor of the innermost text; never returns.
    [[noreturn]] void Error(const char* message);
    // Raises a compile error reported on the line of pos, a byte of the innermost text: for a
    // construct left open at the end of the text, the line where it began.
    [[noreturn]] void ErrorAt(const char* message, const char* pos);
    // A warning line in the message pane: the compilation goes on.
    void Warn(const char* message);

private:
    TBlockEnd RunBlock(int pass, const char*& p);
    // At the end of a compilation: the keys every track still holds by a slur or tie are released.
    void ReleaseOpenSlurs();
    void SortAll();
    // Makes room in the lists for the events a text of this size usually makes.
    void ReserveLists(std::size_t textBytes);
    // The closing line of the pane when warnings were left out.
    void ReportOmittedWarnings();
    int LineAt(TSourceFrame& frame, const char* pos);
    // Sets the error line to the line of pos (or of the innermost cursor) once per error.
    void LocateError(const char* pos);
    std::string LineText() const;

    const std::atomic<bool>& cancelRequested_;
    std::vector<TSourceFrame> frames_;
    int line_ = 1;  // the line an error or warning is reported on
    int eventCount_ = 0;
    std::int64_t warningCount_ = 0;
    std::int64_t commandCount_ = 0;
    int nesting_ = 0;
    bool errorLocated_ = false;
};
