// Syntax colours for the MML editor. What each piece of a line is comes from MMLSpans, a plain
// function of the line's text, so that the rules can be checked without a widget; the highlighter
// only paints the spans.
#pragma once

#include <QColor>
#include <QStringView>
#include <QObject>
#include <QTextBlock>
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

// Paints the lines of a document in their syntax colours as they come into view. Nothing in the
// language reaches past a line end, so a line is coloured on its own, and only when it is about to
// be drawn: opening a long document costs what its first screen costs, not what all its lines do.
// Each line records which colours it carries in its block's user state (NotColoured, or the palette
// it was coloured for); an edit resets the lines it touched, a palette change outdates them all.
class TMMLHighlighter : public QObject {
public:
    explicit TMMLHighlighter(QTextDocument* document);
    // Switches to the colours for a dark or a light background; lines take them when next drawn.
    void SetDark(bool dark) { dark_ = dark; }
    bool Dark() const { return dark_; }
    // Colours the block unless it already carries the colours for its text and the palette.
    // Returns whether it painted anything new.
    bool ColourBlock(const QTextBlock& block);

    static constexpr int NotColoured = -1;

private:
    void Outdate(int from, int charsAdded);

    QTextDocument* document_;
    bool dark_ = false;
};
