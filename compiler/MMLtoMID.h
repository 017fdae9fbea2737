// The MML compiler: the compile driver, the source readers, the per-track state and the command
// loop. A compilation returns the song it made as a value (song/Song.h); the compiler never
// touches a player or a device.
//
// The compiler reads the editor's text as Shift-JIS bytes through one cursor, a pointer into a
// zero-terminated buffer that Compile owns. Every reader takes the cursor by reference and leaves
// it on the first byte it did not consume; nothing reads past the terminating zero.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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
    void Clear()
    {
        count_ = 0;
        more_.clear();
    }

private:
    static constexpr int InlineCount = 8;
    std::array<TMMLParam, InlineCount> inline_{};
    std::vector<TMMLParam> more_;
    int count_ = 0;
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

    // Every track back to its defaults; track n starts on channel ((n-1) mod 64) + 1.
    void ResetTracks();
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
    void Clear();

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

class TMML {
public:
    // Bounds that hold whatever the input: every compilation ends in bounded time and memory.
    static constexpr int MaxNesting = 256;                  // repeat bodies and macro expansions
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    static constexpr int MaxEvents = 4 * 1024 * 1024;       // over the four ports together
    static constexpr std::int64_t MaxCommands = 1 << 25;    // bytes read by commands, repeats included
#else
    // The fuzz targets (tests/fuzz) run ten times slower than the program, where a few bytes
    // reaching these bounds take seconds; smaller bounds behind the same checks let the fuzzer
    // try millions of inputs.
    static constexpr int MaxEvents = 1 << 12;
    static constexpr std::int64_t MaxCommands = 1 << 16;
#endif
    static constexpr std::int64_t MaxTick = 2147483647;     // a track's tick clock
    // A system-exclusive message, F0 and F7 included. Every output accepts this much: the JACK
    // ports pass at most 16 KiB a message and the ALSA sequencer a little less, and a longer
    // message would be dropped by the device without a word, so it is refused here instead.
    static constexpr int MaxSysExBytes = 8192;
    // Warning lines written to the message pane by one compilation. A repeat can warn millions
    // of times from a few bytes; past this many, the rest are only counted and one line at the
    // end says how many were left out.
    static constexpr int MaxWarnings = 1000;

    TMML();
    TMML(const TMML&) = delete;
    TMML& operator=(const TMML&) = delete;
    ~TMML();

    void ResetDefaults();
    TTrack& TrackAt(int n) { return Tracks->TrackAt(n); }
    std::string LineText() const;

    // The tempo of each port's player when nothing sets it: a port without a tempo command keeps
    // the tempo its player had, which the caller passes in (a fresh player has 120).
    using TPortTempos = std::array<int, TSong::PortCount>;
    static constexpr TPortTempos FreshTempos{TSong::DefaultTempo, TSong::DefaultTempo, TSong::DefaultTempo,
                                             TSong::DefaultTempo};

    // Compiles the editor's lines (UTF-8) into a song. Never lets a compile error out: the first
    // error is in the song with its line, and the events made before it stay, sorted.
    TSong Compile(const std::vector<std::string>& lines, const TPortTempos& tempos = FreshTempos);
    // The same from the editor's whole text (UTF-8): every line, ended by CR LF, LF or a lone CR
    // (or by the end of the text), is compiled as if it were one of the lines above.
    // (Named apart from Compile so that a braced list of lines never reads as one text.)
    TSong CompileDocument(std::string_view text, const TPortTempos& tempos = FreshTempos);
    // The same from Shift-JIS text that already has its line ends (what Compile builds from the
    // lines); used by Compile itself and by tools that hold the bytes.
    TSong CompileText(std::string text, const TPortTempos& tempos = FreshTempos);

    // Set from another thread to end a compilation running on a worker thread as soon as it reads
    // its next command: the song then comes back with Cancelled set, holding whatever was made so
    // far, which the caller throws away.
    void RequestCancel() { cancelRequested_.store(true, std::memory_order_relaxed); }
    // Gives a song that is no longer needed back, so that the next compilation builds its lists in
    // that song's memory instead of new memory.
    void Recycle(TSong song) { recycled_ = std::move(song); }

    std::unique_ptr<TMMLMacros> Macros;
    std::unique_ptr<TTracks> Tracks;
    int TicksPerQuarter = 480;
    int CurrentTrack = 1;
    int ReferenceTempo = 60;
    int Tempo = 120;
    int Line = 1;
    int Depth = 0;
    std::int32_t NextSerial = 0;
    std::int32_t ParallelStartTick = -1;
    std::int32_t ParallelEndTick = -1;
    std::int32_t ParallelStartSerial = 0;
    double ParallelStartTime = 0.0;
    double ParallelEndTime = 0.0;
    std::int32_t ChordDelay = 0;
    std::int32_t TupletNotesLeft = 0;
    std::int32_t TupletTicksLeft = 0;

    // --- The source readers. Each takes the cursor by reference. ---
    static void SkipToLineEnd(const char*& p);
    // Skips control characters 0x01..0x1F; true when it stopped at the terminating zero.
    static bool SkipControls(const char*& p);
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
    bool ReadArgs(TMMLParams& params, const char* signature, const char*& p, bool raise = true);
    void ReadNumberList(TMMLParams& params, const char*& p);

    // --- Lengths and notes. ---
    double ReadLength(const char*& p, bool zeroDefault);
    std::int32_t ReadTiedLength(const char*& p, bool zeroDefault);
    std::int32_t NoteNumber(const char*& p);

    // --- Brackets, macros and functions. ---
    std::string ReadBracket(const char*& p);
    void DefineMacro(const std::string& name, const char*& p);
    void CallFunction(const char*& p);
    std::string ReadFunctionName(const char*& p);
    void InitSoundModule(const char* kind, const char*& p);
    void EmitControlChange(int controller, int value);

    // --- The command loop. ---
    // How a block ended: at the end of its text, at the ":|" of its repeat, or at a volta "|"
    // in the last pass of its repeat.
    enum class TBlockEnd { Text, RepeatEnd, Volta };
    TBlockEnd CompileBlock(int pass, const char*& p);
    void AdvanceTrack(std::int64_t ticks);

    // Raises a compile error at the cursor of the innermost text; never returns.
    [[noreturn]] void Error(const char* message);
    // Raises a compile error reported on the line of pos, a byte of the innermost text: for a
    // construct left open at the end of the text, the line where it began.
    [[noreturn]] void ErrorAt(const char* message, const char* pos);

private:
    TTrack& Current() { return Tracks->TrackAt(CurrentTrack); }
    // Stamps a new event with the current track's clocks and the next serial and appends it to
    // the list of the port its channel selects (or of the given port).
    TMidiElement& Emit(TElementKind kind);
    TMidiElement& EmitOnPort(TElementKind kind, int port);
    void EmitShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    void EmitNoteOn(std::int32_t key, std::int32_t velocity);
    void EmitNoteOff(std::int32_t key);
    void EmitSlurBend(std::int32_t key);
    void AfterSoundingCommand();

    void CommandNote(const char*& p);
    void CommandRest(const char*& p);
    void CommandDefaultLength(const char*& p);
    void CommandOctave(const char*& p);
    void CommandGate(const char*& p);
    void CommandTranspose(const char*& p);
    void CommandBracket(const char*& p);
    void CommandTempo(const char*& p);
    void CommandProgram(const char*& p);
    void CommandEffects(const char*& p);
    void CommandSysEx(const char*& p);
    void CommandHold(const char*& p);
    void CommandVibrato(const char*& p);
    void CommandPan(const char*& p);
    void CommandVelocity(const char*& p);
    void CommandVolume(const char*& p);
    // "n", "+n" or "-n" after the command letter: the new value, absolute or relative to current.
    // False when no valid number follows (the cursor is then where the reading stopped).
    bool ReadRelative(const char*& p, std::int32_t current, std::int64_t& value);
    // A warning line in the message pane: the compilation goes on.
    void Warn(const char* message);
    // The closing line of the pane when warnings were left out.
    void ReportOmittedWarnings();

    TBlockEnd RunBlock(int pass, const char*& p);
    // Adds the bytes one step of the command loop read (at least one) to commandCount_ and raises
    // when the count passes MaxCommands.
    void CountCommand(const char* before, const char* after);
    void CommandChord(const char*& p);
    void BeginTuplet(const char*& p);
    void EndTuplet(const char*& p);
    void CommandRepeat(const char*& p);
    void OpenParallel(const char*& p);
    void NextVoice(const char*& p);
    void CloseParallel(const char*& p);
    // Moves the current track's clocks to a tick and time of its own note events.
    void SetClock(std::int64_t tick, double time);
    void ReleaseHeld();
    // At the end of a compilation: the keys every track still holds by a slur or tie are released.
    void ReleaseOpenSlurs();
    void SortAll();
    int LineAt(TSourceFrame& frame, const char* pos);
    // Sets Line to the line of pos (or of the innermost cursor) once per error.
    void LocateError(const char* pos);

    std::vector<TSourceFrame> frames_;
    TSong song_;      // what the compilation in progress has made
    TSong recycled_;  // a song given back: its lists' memory is reused
    int eventCount_ = 0;
    std::int64_t warningCount_ = 0;
    std::int64_t commandCount_ = 0;
    int nesting_ = 0;
    std::vector<const char*> openRepeats_;  // where each repeat being compiled began
    std::int32_t parallelSerialEnd_ = 0;    // one past the largest serial of the open block
    bool errorLocated_ = false;
    std::atomic<bool> cancelRequested_{false};
};

// The compile error texts, exactly as the user sees them.
namespace MMLMessage {
inline constexpr const char* UndefinedCommand = "未定義のコマンド";
inline constexpr const char* SyntaxError = "構文エラー";
inline constexpr const char* BadNumber = "数値として正しくありません";
inline constexpr const char* NumberOutOfRange = "数値が範囲外です";
inline constexpr const char* OctaveOutOfRange = "オクターブが範囲を超えました";
inline constexpr const char* SlurOutOfRange = "スラーが範囲を超えています";
inline constexpr const char* KeyOutOfRange = "音程が範囲を超えました";
inline constexpr const char* NestingTooDeep = "入れ子が深すぎます";
inline constexpr const char* SongTooLarge = "曲が大きすぎます";
inline constexpr const char* SysExTooLong = "システムエクスクルーシブが長すぎます";
inline constexpr const char* RepeatNotClosed = "|:\"に対する\":|\"がありません";
inline constexpr const char* OutOfMemory = "メモリが足りません";
inline constexpr const char* BadMacroName = "マクロ名が異常です";
inline constexpr const char* MacroNameStartsWithDigit = "数字で始まるマクロ名は使えません";
inline constexpr const char* RecursiveMacro = "マクロの再帰呼び出しは出来ません";
inline constexpr const char* BadFunctionName = "ファンクション名が異常です";
inline constexpr const char* ParameterOutOfRange = "パラメータが範囲外";
inline constexpr const char* BadParameter = "パラメータが異常";
inline constexpr const char* VelocityOutOfRange = "ベロシティが範囲を超えました";
inline constexpr const char* TempoOutOfRange = "テンポが範囲を超えています";
inline constexpr const char* HoldOutOfRange = "ホールドが範囲を超えています";
inline constexpr const char* WarningPrefix = "警告: ";
// Between the prefix and the count, and after the count, of the line that ends a pane whose
// warnings passed MaxWarnings.
inline constexpr const char* WarningsOmitted = "これ以降の警告 ";
inline constexpr const char* WarningsOmittedEnd = " 件は表示を省略しました";
inline constexpr const char* ChordDelayTooLong = "和音のディレイが長すぎます";
inline constexpr const char* UndefinedInChord = "和音内に未定義のコマンドがあります";
inline constexpr const char* MacroInTuplet = "連符内でマクロは使えません";
inline constexpr const char* NestedTuplet = "連符の入れ子は出来ません";
inline constexpr const char* NestedParallel = "パラレル処理の入れ子は出来ません";
}  // namespace MMLMessage
