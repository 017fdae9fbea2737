// Syntax colours: the pieces of an MML line and how each kind is painted.
#include "app/Highlighter.h"

#include <QSignalBlocker>
#include <QTextDocument>
#include <QTextLayout>
#include <array>

#include "formats/Chars.h"

namespace {

// What may follow a note or a command as its length or arguments: digits, "$" with hexadecimal
// digits, signs, dots, ties, "*" and the commas between arguments.
bool IsNumberChar(char16_t c)
{
    return IsAsciiDigit(c) || c == u'$' || c == u'-' || c == u'+' || c == u'.' || c == u'^' || c == u'*' || c == u',';
}

// The command that begins with c followed by next. Only ASCII begins commands; any other
// character looks up as one that begins none.
const TCommandRow& CommandAt(char16_t c, char16_t next)
{
    const auto byte = [](char16_t x) { return x < 0x80 ? static_cast<char>(x) : '\x7f'; };
    const char lead[] = {byte(c), byte(next), '\0'};
    return ::CommandAt(lead);
}

}  // namespace

std::vector<TMMLSpan> MMLSpans(QStringView line)
{
    std::vector<TMMLSpan> spans;
    const auto n = static_cast<int>(line.size());
    const auto at = [&](int i) -> char16_t { return i < n ? line[i].unicode() : u'\0'; };
    // Up to the closing character on this line, or to the line end when it is not there.
    const auto through = [&](int from, char16_t close) {
        for (int i = from; i < n; ++i)
            if (at(i) == close) return i + 1;
        return n;
    };
    const auto add = [&](int start, int end, TMMLToken token) {
        if (!spans.empty() && spans.back().Token == token && spans.back().Start + spans.back().Length == start)
            spans.back().Length += end - start;
        else
            spans.push_back({start, end - start, token});
    };

    int i = 0;
    while (i < n) {
        const char16_t c = at(i);
        const char16_t next = at(i + 1);
        const TCommandRow& command = CommandAt(c, next);
        int end = i + 1;
        if (command.Token != TMMLToken::Plain) {
            end = i + static_cast<int>(command.Lead.size());
            TMMLToken token = command.Token;
            switch (command.Command) {
            case TCommand::Comment:  // to the end of the line, whatever it holds
                end = n;
                break;
            case TCommand::Note:  // a note's accidentals belong to the note; a rest has none
                while (at(end) == u'+' || at(end) == u'-') ++end;
                break;
            case TCommand::Function:  // the name and its "("
                while (IsAsciiLetter(at(end)) || IsAsciiDigit(at(end))) ++end;
                if (at(end) == u'(') ++end;
                break;
            case TCommand::Bracket:
                if (IsAsciiDigit(next) || next == u'$') token = TMMLToken::Track;
                end = through(end, static_cast<char16_t>(command.Close));
                break;
            default:
                if (command.Close != '\0') end = through(end, static_cast<char16_t>(command.Close));
                break;
            }
            add(i, end, token);
        } else if (c == u')') {  // the end of a function's arguments
            add(i, end, TMMLToken::Function);
        } else if (c == u'&') {  // a slur or tie onward, part of the note before
            add(i, end, TMMLToken::Note);
        } else if (IsNumberChar(c)) {
            end = i;
            while (end < n && IsNumberChar(at(end))) {
                if (at(end++) == u'$')
                    while (IsHexDigit(at(end))) ++end;
            }
            add(i, end, TMMLToken::Number);
        }
        i = end;
    }
    return spans;
}

QColor MMLTokenColor(TMMLToken token, bool dark)
{
    // Each colour keeps a contrast of at least 4.5:1 against its background, also where a line is
    // marked (MMLEditor.cpp chooses the marks to keep it so).
    struct TPair {
        const char* Light;
        const char* Dark;
    };
    static constexpr std::array<TPair, 11> colors{{
        {"#646464", "#a0a0a0"},  // Comment
        {"#0030b0", "#82b4ff"},  // Note
        {"#08704a", "#a8d8a0"},  // Number
        {"#7a2e9d", "#d09ad8"},  // Setting
        {"#a31515", "#ff8f80"},  // Control
        {"#8a4b00", "#ffb86c"},  // Chord
        {"#6b5a00", "#e5c87b"},  // Tuplet
        {"#b0006a", "#ff80c8"},  // Structure
        {"#005f8f", "#6cc4f0"},  // Track
        {"#1d6b7a", "#5fd0c0"},  // Macro
        {"#6b4a10", "#e0d890"},  // Function
    }};
    // A pair for every class but Plain, which is never in a span: it keeps the editor's colour.
    static_assert(colors.size() == static_cast<std::size_t>(TMMLToken::Plain));
    const TPair& pair = colors[static_cast<std::size_t>(token)];
    return QColor(QString::fromLatin1(dark ? pair.Dark : pair.Light));
}

TMMLHighlighter::TMMLHighlighter(QTextDocument* document) : QObject(document), document_(document)
{
    connect(document, &QTextDocument::contentsChange, this,
            [this](int from, int /*charsRemoved*/, int charsAdded) { Outdate(from, charsAdded); });
}

void TMMLHighlighter::Outdate(int from, int charsAdded)
{
    // Every line the change reaches: lines made by it start uncoloured, and an edit that spans
    // many lines (a replace-all in one step) may have changed any line between its ends.
    const QTextBlock last = document_->findBlock(from + charsAdded);
    for (QTextBlock block = document_->findBlock(from); block.isValid(); block = block.next()) {
        if (block.userState() != NotColoured) block.setUserState(NotColoured);
        if (block == last) break;
    }
}

bool TMMLHighlighter::ColourBlock(const QTextBlock& block)
{
    const int stamp = dark_ ? 1 : 0;
    if (!block.isValid() || block.userState() == stamp) return false;
    QList<QTextLayout::FormatRange> ranges;
    for (const TMMLSpan& span : MMLSpans(block.text())) {
        QTextLayout::FormatRange range;
        range.start = span.Start;
        range.length = span.Length;
        range.format.setForeground(MMLTokenColor(span.Token, dark_));
        if (span.Token == TMMLToken::Comment) range.format.setFontItalic(true);
        if (span.Token == TMMLToken::Structure || span.Token == TMMLToken::Track) range.format.setFontWeight(QFont::Bold);
        ranges.append(range);
    }
    QTextBlock colored = block;
    colored.setUserState(stamp);
    block.layout()->setFormats(ranges);
    // The line is laid out again with its fonts. The document says nothing of it to its listeners:
    // colours are no change to the text, and must not count as an edit (the window takes any
    // change of the text as one that needs compiling again).
    const QSignalBlocker quiet(document_);
    document_->markContentsDirty(block.position(), block.length());
    return true;
}
