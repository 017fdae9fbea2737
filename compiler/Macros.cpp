// Brackets: track selection "[n]", the mark "[@]", and macros "[name]", defined by their first
// use and expanded by every later one.
#include "formats/Encoding.h"
#include "compiler/MMLtoMID.h"
#include "formats/Chars.h"

int TMMLMacros::IndexOf(const std::string& name) const
{
    const auto found = index_.find(name);
    return found == index_.end() ? -1 : found->second;
}

const TMMLMacro& TMMLMacros::Items(int index) const
{
    if (index < 0 || index >= Count())
        RaiseIndexError(index);
    return items_[static_cast<std::size_t>(index)];
}

void TMMLMacros::Add(TMMLMacro macro)
{
    // A name is defined once per compilation; the first definition is the one IndexOf finds.
    index_.emplace(macro.Name, Count());
    items_.push_back(std::move(macro));
}

void TMMLMacros::Clear()
{
    items_.clear();
    index_.clear();
}

// Reads "[...]" whole. A number ("[3]", "[$10]") selects the track and gives "[]"; anything else is
// returned as written, brackets included ("[]" for empty brackets, "[$]" is a name).
std::string TMML::ReadBracket(const char*& p)
{
    const char* const open = p;
    const char* close = p + 1;
    while (*close != ']') {
        if (*close == '\0') ErrorAt(MMLMessage::BadMacroName, open);
        ++close;
    }
    p = close + 1;
    std::string text(open, p);
    if (text == "[$]") return text;
    const char first = open[1];
    if (IsAsciiDigit(first) || first == '$') {
        const char* q = open + 1;
        const std::int32_t track = ReadNumber(q);
        if (q != close) Error(MMLMessage::MacroNameStartsWithDigit);
        // Only tracks 1..128 exist; say so here rather than at the track's first command.
        if (track < 1 || track > TTracks::TrackCount) Error(MMLMessage::NumberOutOfRange);
        CurrentTrack = track;
        return "[]";
    }
    return text;
}

// The body runs from after the name up to a terminator: the end of the text, "#" or ";" (left
// for the loop), a track number (which takes effect), or a bracket that is not a macro defined
// before this one ("[@]", a new name: left for the loop, which starts the next definition).
// Names of macros defined earlier stay in the body and are expanded when it is compiled.
void TMML::DefineMacro(const std::string& name, const char*& p)
{
    TMMLMacro macro;
    macro.Line = LineAt(frames_.back(), p);
    macro.Name = name;
    for (;;) {
        const char c = *p;
        if (c == '\0' || c == '#' || c == ';') break;
        if (c == '[') {
            const char* const open = p;
            const std::string inner = ReadBracket(p);
            if (inner == "[]") break;
            if (inner == name) Error(MMLMessage::RecursiveMacro);
            if (Macros->IndexOf(inner) >= 0) {
                macro.Body += inner;
                continue;
            }
            p = open;
            break;
        }
        macro.Body += c;
        ++p;
    }
    song_.Memo.push_back(Cp932ToUtf8(macro.Name + "  " + macro.Body));
    Macros->Add(std::move(macro));
}

// "[" at the start of a command.
void TMML::CommandBracket(const char*& p)
{
    const std::string name = ReadBracket(p);
    if (name == "[]" || name == "[@]") return;
    const int index = Macros->IndexOf(name);
    if (index < 0) {
        DefineMacro(name, p);
        return;
    }
    // The body runs at the caller's depth, with the caller's track and settings; what it changes
    // stays changed. Bodies are never modified or freed during a compilation, so the expansion
    // reads the stored text in place.
    const TMMLMacro& macro = Macros->Items(index);
    const char* q = macro.Body.c_str();
    frames_.push_back(TSourceFrame{q, macro.Line, &q, q, macro.Line, Depth, nullptr});
    --Depth;
    CompileBlock(0, q);
    frames_.pop_back();
}
