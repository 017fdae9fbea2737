// Syntax colours for the MML editor. What each piece of a line is comes from MMLSpans, a plain
// function of the line's text, so that the rules can be checked without a widget; the highlighter
// only paints the spans.
#pragma once

#include <QColor>
#include <QStringView>
#include <QSyntaxHighlighter>
#include <vector>

#include "compiler/Commands.h"  // TMMLToken, the colour class of each command

class QTextDocument;

struct TMMLSpan {
    int Start = 0;
    int Length = 0;
    TMMLToken Token = TMMLToken::Comment;
};

// The spans of one line of MML, in order and without overlaps; characters that are no part of a
// command (blanks, stray characters) lie in none. Nothing in the language continues onto the next
// line (a comment ends at the line end), so each line is read on its own.
std::vector<TMMLSpan> MMLSpans(QStringView line);

// The colour of a kind of piece, chosen to read on a light (white) or a dark (#2b2b2b) background.
QColor MMLTokenColor(TMMLToken token, bool dark);

class TMMLHighlighter : public QSyntaxHighlighter {
public:
    explicit TMMLHighlighter(QTextDocument* document);
    // Switches to the colours for a dark or a light background and paints again when it changed.
    void SetDark(bool dark);
    bool Dark() const { return dark_; }

protected:
    void highlightBlock(const QString& text) override;

private:
    bool dark_ = false;
};
