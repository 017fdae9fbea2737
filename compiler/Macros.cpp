// Brackets: track selection "[n]", the mark "[@]", and macros "[name]", defined by their first
// use and expanded by every later one.
#include "compiler/Commands.h"
#include "compiler/Compilation.h"
#include "formats/Chars.h"
#include "formats/Encoding.h"

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

namespace {

// Reads "[...]" whole. A number ("[3]", "[$10]") selects the track and gives "[]"; anything else is
// returned as written, brackets included ("[]" for empty brackets, "[$]" is a name).
std::string ReadBracket(TCompilation& comp, const char*& p)
{
    const char* const open = p;
    const char* close = p + 1;
    while (*close != ']') {
        if (*close == '\0') comp.ErrorAt(MMLMessage::BadMacroName, open);
        ++close;
    }
    p = close + 1;
    std::string text(open, p);
    if (text == "[$]") return text;
    const char first = open[1];
    if (IsAsciiDigit(first) || first == '$') {
        const char* q = open + 1;
        const std::int32_t track = comp.ReadNumber(q);
        if (q != close) comp.Error(MMLMessage::MacroNameStartsWithDigit);
        // Only tracks 1..128 exist; say so here rather than at the track's first command.
        if (track < 1 || track > TTracks::TrackCount) comp.Error(MMLMessage::NumberOutOfRange);
        comp.CurrentTrack = track;
        return "[]";
    }
    return text;
}

// The body runs from after the name up to a terminator: the end of the text, "#" or ";" (left
// for the loop), a track number (which takes effect), or a bracket that is not a macro defined
// before this one ("[@]", a new name: left for the loop, which starts the next definition).
// Names of macros defined earlier stay in the body and are expanded when it is compiled.
void DefineMacro(TCompilation& comp, const std::string& name, const char*& p)
{
    TMMLMacro macro;
    macro.Line = comp.LineOf(p);
    macro.Name = name;
    for (;;) {
        const char c = *p;
        if (c == '\0' || c == '#' || c == ';') break;
        if (c == '[') {
            const char* const open = p;
            const std::string inner = ReadBracket(comp, p);
            if (inner == "[]") break;
            if (inner == name) comp.Error(MMLMessage::RecursiveMacro);
            if (comp.Macros.IndexOf(inner) >= 0) {
                macro.Body += inner;
                continue;
            }
            p = open;
            break;
        }
        macro.Body += c;
        ++p;
    }
    comp.Song.Memo.push_back(Cp932ToUtf8(macro.Name + "  " + macro.Body));
    comp.Macros.Add(std::move(macro));
}

}  // namespace

// "[" at the start of a command: [n], [@], [name].
void compile::Bracket(TCompilation& comp, const char*& p)
{
    if (p[1] == '\0') {  // a "[" that ends the text closes nothing and is passed over
        ++p;
        return;
    }
    const std::string name = ReadBracket(comp, p);
    if (name == "[]" || name == "[@]") return;
    const int index = comp.Macros.IndexOf(name);
    if (index < 0) {
        DefineMacro(comp, name, p);
        return;
    }
    comp.ExpandMacro(comp.Macros.Items(index));
}

void TCompilation::ExpandMacro(const TMMLMacro& macro)
{
    // The body runs at the caller's depth, with the caller's track and settings; what it changes
    // stays changed. Bodies are never modified or freed during a compilation, so the expansion
    // reads the stored text in place.
    const char* q = macro.Body.c_str();
    frames_.push_back(TSourceFrame{q, macro.Line, &q, q, macro.Line, Depth, nullptr});
    --Depth;
    CompileBlock(0, q);
    frames_.pop_back();
}
