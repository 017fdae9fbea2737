// The compile driver: one pass over the whole text, the first error shown with its line.
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "compiler/Compilation.h"
#include "compiler/Compiler.h"
#include "formats/Encoding.h"

TMML::TMML() = default;
TMML::~TMML() = default;

TSong TMML::CompileDocument(std::string_view text, const TPortTempos& tempos)
{
    // Every line, however it was ended (CR LF, LF or a lone CR), is followed by CR LF, as the
    // lines the editor hands over are; converted and ended in one pass into the one buffer the
    // compilation reads.
    return CompileText(Utf8ToCp932Lines(text), tempos);
}

TSong TMML::Compile(const std::vector<std::string>& lines, const TPortTempos& tempos)
{
    // The language is defined over Shift-JIS bytes with CR LF after every line.
    std::string text;
    std::size_t size = 0;
    for (const auto& line : lines) size += line.size() + 2;
    text.reserve(size);
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return CompileText(Utf8ToCp932(text), tempos);
}

TSong TMML::CompileText(std::string text, const TPortTempos& tempos)
{
    // Everything one compilation works with is made here and let go after it: no setting, macro
    // or counter of this compilation can reach the next. Nor can a cancel: one asked for just as
    // the last compilation ended (the window asks until it sees the end) would end this one at
    // its first command.
    cancelRequested_.store(false, std::memory_order_relaxed);
    TSong song = TCompilation(tempos, recycled_, cancelRequested_).Run(std::move(text));
    cancelRequested_.store(false, std::memory_order_relaxed);
    return song;
}

TCompilation::TCompilation(const TMML::TPortTempos& tempos, TSong& recycled, const std::atomic<bool>& cancel)
    : cancelRequested_(cancel)
{
    // The lists of a song given back grow no more and fault no fresh pages in: a piece of hundreds
    // of thousands of events spends more time there than in compiling.
    for (std::size_t i = 0; i < Song.Ports.size(); ++i) {
        Song.Ports[i] = std::move(recycled.Ports[i]);
        Song.Ports[i].Clear();
    }
    Song.Tempos = tempos;
}

TSong TCompilation::Run(std::string text)
{
    // The text ends at its terminating zero. A zero byte inside it (a damaged file, pasted
    // binary) would silently cut the piece short there, so it is read as the blank it stands for.
    std::replace(text.begin(), text.end(), '\0', ' ');
    ReserveLists(text.size());
    // The text is let go once it is read, before the lists are sorted: the sort's own memory then
    // takes its place instead of adding to it.
    const auto releaseText = [&text] { std::string().swap(text); };

    try {
        const char* p = text.c_str();
        frames_.push_back(TSourceFrame{p, 1, &p, p, 1, 1, nullptr});
        CompileBlock(0, p);
        ReleaseOpenSlurs();
        frames_.clear();
        releaseText();
        SortAll();
        ReportOmittedWarnings();
    } catch (const Exception& e) {
        const std::string shown = e.Message() + LineText();
        // The events made before the error stay and can be played, so a slur the error cut off
        // must not leave its key sounding either. The release's events carry the line of the main
        // text where the compilation stopped; if even they do not fit, the lists stay as they are.
        if (!frames_.empty()) {
            frames_.resize(1);
            // The cursor the main frame watched went out of scope with the try block.
            TSourceFrame& frame = frames_.front();
            const char* stop = frame.Command != nullptr ? frame.Command : frame.Start;
            frame.Cursor = &stop;
            try {
                ReleaseOpenSlurs();
            } catch (const Exception&) {
            } catch (const std::bad_alloc&) {
            }
        }
        frames_.clear();
        releaseText();
        SortAll();
        ReportOmittedWarnings();
        Song.Error = shown;
        Song.ErrorLine = line_;
    } catch (const std::bad_alloc&) {
        frames_.clear();
        releaseText();
        SortAll();
        ReportOmittedWarnings();
        Song.Error = std::string(MMLMessage::OutOfMemory) + LineText();
        Song.ErrorLine = line_;
    } catch (const TCompileCancelled&) {
        frames_.clear();
        Song.Cancelled = true;
    }
    return std::move(Song);
}

std::string TCompilation::LineText() const { return "( 行 : " + std::to_string(line_) + " )"; }

void TCompilation::ReleaseOpenSlurs()
{
    // A slur or tie still open when the text ends has no later note to end it, and a key left
    // with a note-on and no note-off would hang in an exported file and on any device that misses
    // the final All Sound Off. Each track releases its keys where its clock stands, with the bend
    // centre it owes, as the note that closed the run would have.
    const int current = CurrentTrack;
    // After everything made so far, also after the earlier voices of a block left open.
    NextSerial = std::max(ParallelSerialEnd, NextSerial);
    for (int n = 1; n <= TTracks::TrackCount; ++n) {
        TTrack& track = Tracks.TrackAt(n);
        if (track.Held.empty()) continue;
        CurrentTrack = n;
        ReleaseHeld();
        track.Slur = false;
    }
    CurrentTrack = current;
}

void TCompilation::ReserveLists(std::size_t textBytes)
{
    // A note of one letter makes two events, and nothing makes more per byte of text but repeats
    // and macros, so twice the text's bytes is room enough for any port of most pieces. Room never
    // filled is address space, not memory, and a list that fills it still grows as ever; but a
    // list that does not have to grow is never copied, nor held twice while it is.
    const std::size_t estimate = std::min<std::size_t>(2 * textBytes + 64, static_cast<std::size_t>(TMML::MaxEvents));
    for (TMidiElements& list : Song.Ports) {
        try {
            list.Reserve(static_cast<int>(estimate));
        } catch (const std::bad_alloc&) {
            // Where address space is scarce the lists grow as they fill instead.
        }
    }
}

void TCompilation::SortAll()
{
    for (TMidiElements& list : Song.Ports) list.Sort();
}

namespace {
// Lines are long next to a line feed: memchr skips the bytes between them many at a time.
int CountLineFeeds(const char* from, const char* to)
{
    int count = 0;
    while (from < to) {
        from = static_cast<const char*>(std::memchr(from, '\n', static_cast<std::size_t>(to - from)));
        if (from == nullptr) break;
        ++count;
        ++from;
    }
    return count;
}
}  // namespace

int TCompilation::LineAt(TSourceFrame& frame, const char* pos)
{
    // Lines are counted lazily from the start of the text, so every line feed counts exactly
    // once wherever it stands, however often a repeat runs over it. The count is kept so that
    // asking again reads only the bytes between the two places: every event asks, and a repeat
    // going back to its body counts back over what it went back over, never from the start.
    if (pos < frame.CountedTo)
        frame.CountedLine -= CountLineFeeds(pos, frame.CountedTo);
    else
        frame.CountedLine += CountLineFeeds(frame.CountedTo, pos);
    frame.CountedTo = pos;
    return frame.CountedLine;
}

int TCompilation::LineOf(const char* pos) { return LineAt(frames_.back(), pos); }

void TCompilation::LocateError(const char* pos)
{
    if (!frames_.empty()) {
        TSourceFrame& frame = frames_.back();
        line_ = LineAt(frame, pos != nullptr ? pos : *frame.Cursor);
    }
    errorLocated_ = true;
}

void TCompilation::Error(const char* message)
{
    LocateError(nullptr);
    throw Exception(message);
}

void TCompilation::ErrorAt(const char* message, const char* pos)
{
    LocateError(pos);
    throw Exception(message);
}
