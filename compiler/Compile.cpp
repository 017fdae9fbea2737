// The compile driver: one pass over the whole text, the first error shown with its line.
#include <algorithm>
#include <cstring>
#include <new>

#include "Encoding.h"
#include "MMLtoMID.h"

TMML::TMML()
{
    ResetDefaults();
    Midis = std::make_unique<TMidis>();
    Macros = std::make_unique<TMMLMacros>();
    Tracks = std::make_unique<TTracks>();
    Tracks->ResetTracks();
}

TMML::~TMML()
{
    Midis.reset();
    Macros.reset();
    Tracks.reset();
}

void TMML::ResetDefaults()
{
    CurrentTrack = 1;
    TicksPerQuarter = 480;
    ReferenceTempo = 60;
    Tempo = 120;
}

std::string TMML::LineText() const { return "( 行 : " + std::to_string(Line) + " )"; }

void TMML::CompileDocument(std::string_view text, TMessagePane& memo)
{
    // Every line, however it was ended (CR LF, LF or a lone CR), is followed by CR LF, as the
    // lines the editor hands over are; one pass over one buffer, so a document of many short
    // lines costs no more than its bytes.
    std::string joined;
    joined.reserve(text.size() + text.size() / 16 + 2);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            joined.append(text.substr(pos));
            joined += "\r\n";
            break;
        }
        joined.append(text.substr(pos, end - pos));
        joined += "\r\n";
        pos = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
    CompileText(Utf8ToCp932(joined), memo);
}

void TMML::Compile(const std::vector<std::string>& lines, TMessagePane& memo)
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
    CompileText(Utf8ToCp932(text), memo);
}

void TMML::CompileText(std::string text, TMessagePane& memo)
{
    MessageMemo = &memo;
    ResetDefaults();
    // A device that cannot be opened raises out of the compilation: nothing is compiled, and the
    // caller shows why.
    ReopenPorts(true);

    TupletNotesLeft = 0;
    TupletTicksLeft = 0;
    NextSerial = 0;
    CurrentTrack = 1;
    Depth = 0;
    Macros->Clear();
    Tracks->ResetTracks();
    ChordDelay = 0;
    memo.Clear();
    Line = 1;
    ParallelStartTick = -1;
    ParallelEndTick = -1;
    ParallelStartSerial = 0;
    ParallelStartTime = 0.0;
    ParallelEndTime = 0.0;
    cancelled_ = false;
    eventCount_ = 0;
    warningCount_ = 0;
    commandCount_ = 0;
    nesting_ = 0;
    errorLocated_ = false;
    frames_.clear();
    openRepeats_.clear();
    parallelSerialEnd_ = 0;

    // The text ends at its terminating zero. A zero byte inside it (a damaged file, pasted
    // binary) would silently cut the piece short there, so it is read as the blank it stands for.
    std::replace(text.begin(), text.end(), '\0', ' ');

    try {
        const char* p = text.c_str();
        frames_.push_back(TSourceFrame{p, 1, &p, p, 1, 1, nullptr});
        CompileBlock(0, p);
        frames_.clear();
        SortAll();
        ReportOmittedWarnings();
    } catch (const Exception& e) {
        frames_.clear();
        SortAll();
        ReportOmittedWarnings();
        memo.ShowError(e.Message() + LineText());
    } catch (const std::bad_alloc&) {
        frames_.clear();
        SortAll();
        ReportOmittedWarnings();
        memo.ShowError(std::string(MMLMessage::OutOfMemory) + LineText());
    } catch (const TCompileCancelled&) {
        frames_.clear();
        cancelled_ = true;
    }
    cancelRequested_.store(false, std::memory_order_relaxed);
}

void TMML::ReopenPorts(bool clearLists)
{
    // Every port is stopped and closed before its list is rebuilt, so no timer reads a list
    // while it changes, and a changed assignment takes effect now.
    for (int i = 0; i < TMidis::PortCount; ++i) {
        TMidi& player = PortAt(i);
        player.Stop();
        player.Close();
        if (clearLists) player.Elements.Clear();
        if (PortDevices[static_cast<std::size_t>(i)] >= 0) player.Open(PortDevices[static_cast<std::size_t>(i)]);
    }
}

void TMML::SortAll()
{
    for (int i = 0; i < TMidis::PortCount; ++i) PortAt(i).Elements.Sort();
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

int TMML::LineAt(TSourceFrame& frame, const char* pos)
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

void TMML::LocateError(const char* pos)
{
    if (!frames_.empty()) {
        TSourceFrame& frame = frames_.back();
        Line = LineAt(frame, pos != nullptr ? pos : *frame.Cursor);
    }
    errorLocated_ = true;
}

void TMML::Error(const char* message)
{
    LocateError(nullptr);
    throw Exception(message);
}

void TMML::ErrorAt(const char* message, const char* pos)
{
    LocateError(pos);
    throw Exception(message);
}
