// The MML compiler as its callers see it: the compile entry, the bounds every compilation keeps
// and the texts of its messages. A compilation returns the song it made as a value
// (song/Song.h); the compiler never touches a player or a device. What one compilation works
// with (tracks, macros, the texts being read, the counters) lives in compiler/Compilation.h and is
// made afresh for every text, so nothing of one compilation reaches the next.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "song/Song.h"

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
    // far, which the caller throws away. A request made while no compilation runs is forgotten
    // when the next one starts.
    void RequestCancel() { cancelRequested_.store(true, std::memory_order_relaxed); }
    // Gives a song that is no longer needed back, so that the next compilation builds its lists in
    // that song's memory instead of new memory.
    void Recycle(TSong song) { recycled_ = std::move(song); }

private:
    TSong recycled_;  // a song given back: its lists' memory is reused
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
