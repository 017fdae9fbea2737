// Syntax colours: the pieces of an MML line and how each kind is painted.
#include "Highlighter.h"

#include <QTextCharFormat>
#include <array>

namespace {

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHexDigit(char16_t c) { return IsDigit(c) || (Upper(c) >= u'A' && Upper(c) <= u'F'); }
bool IsAsciiLetter(char16_t c) { return Upper(c) >= u'A' && Upper(c) <= u'Z'; }
// What may follow a note or a command as its length or arguments: digits, "$" with hexadecimal
// digits, signs, dots, ties, "*" and the commas between arguments.
bool IsNumberChar(char16_t c)
{
    return IsDigit(c) || c == u'$' || c == u'-' || c == u'+' || c == u'.' || c == u'^' || c == u'*' || c == u',';
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
        const char16_t u = Upper(c);
        int end = i + 1;
        if (c == u'/' && next == u'/') {
            add(i, n, TMMLToken::Comment);
            break;
        }
        if ((c == u'|' || c == u'/') && next == u':') {  // |: and /: open a repeat or a parallel block
            end = i + 2;
            add(i, end, TMMLToken::Structure);
        } else if (c == u':' && (next == u'|' || next == u'/')) {
            end = i + 2;
            add(i, end, TMMLToken::Structure);
        } else if (c == u'|' || c == u'/') {  // a volta, the next voice
            add(i, end, TMMLToken::Structure);
        } else if (c == u'[') {
            end = through(i + 1, u']');
            add(i, end, IsDigit(next) || next == u'$' ? TMMLToken::Track : TMMLToken::Macro);
        } else if (c == u'\'') {
            end = through(i + 1, u'\'');
            add(i, end, TMMLToken::Chord);
        } else if (c == u'{' || c == u'}') {
            add(i, end, TMMLToken::Tuplet);
        } else if (c == u'#') {
            while (IsAsciiLetter(at(end)) || IsDigit(at(end))) ++end;
            if (at(end) == u'(') ++end;
            add(i, end, TMMLToken::Function);
        } else if (c == u')') {
            add(i, end, TMMLToken::Function);
        } else if ((u >= u'A' && u <= u'G') || u == u'R' || c == u'&') {
            // A note's accidentals belong to the note; a rest has none.
            if (u != u'R' && c != u'&')
                while (at(end) == u'+' || at(end) == u'-') ++end;
            add(i, end, TMMLToken::Note);
        } else if (u == u'O' || u == u'L' || u == u'Q' || u == u'K' || c == u'<' || c == u'>') {
            add(i, end, TMMLToken::Setting);
        } else if (c == u'@') {
            if (Upper(next) == u'E' || Upper(next) == u'X') ++end;
            add(i, end, TMMLToken::Control);
        } else if (u == u'T' || u == u'H' || u == u'M' || u == u'P' || u == u'U' || u == u'V') {
            add(i, end, TMMLToken::Control);
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
    const TPair& pair = colors[static_cast<std::size_t>(token)];
    return QColor(QString::fromLatin1(dark ? pair.Dark : pair.Light));
}

TMMLHighlighter::TMMLHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {}

void TMMLHighlighter::SetDark(bool dark)
{
    if (dark == dark_) return;
    dark_ = dark;
    rehighlight();
}

void TMMLHighlighter::highlightBlock(const QString& text)
{
    for (const TMMLSpan& span : MMLSpans(text)) {
        QTextCharFormat format;
        format.setForeground(MMLTokenColor(span.Token, dark_));
        if (span.Token == TMMLToken::Comment) format.setFontItalic(true);
        if (span.Token == TMMLToken::Structure || span.Token == TMMLToken::Track) format.setFontWeight(QFont::Bold);
        setFormat(span.Start, span.Length, format);
    }
}
