// The MML editor: the line-number gutter beside the text, and the marked lines.
#include "app/MMLEditor.h"

#include <QEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <QTextBlock>
#include <algorithm>
#include <utility>

#include "app/Highlighter.h"

namespace {

// The gutter is a widget of its own on the editor's left margin; the editor paints it.
class TLineNumberArea : public QWidget {
public:
    explicit TLineNumberArea(TMMLEditor* editor) : QWidget(editor), editor_(editor) {}
    QSize sizeHint() const override { return {editor_->LineNumberAreaWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent* event) override { editor_->PaintLineNumbers(event); }

private:
    TMMLEditor* editor_;
};

// Line backgrounds pale (or deep) enough that every syntax colour keeps its contrast on them.
struct TMarkColors {
    QColor CurrentLine;
    QColor PlayingLine;
    QColor ErrorLine;
};

TMarkColors MarkColors(bool dark)
{
    if (dark) return {QColor(0x33, 0x37, 0x3f), QColor(0x26, 0x3d, 0x29), QColor(0x4a, 0x26, 0x26)};
    return {QColor(0xf2, 0xf5, 0xfc), QColor(0xe2, 0xf5, 0xe2), QColor(0xff, 0xe4, 0xe4)};
}

}  // namespace

TMMLEditor::TMMLEditor(QWidget* parent) : QPlainTextEdit(parent)
{
    highlighter_ = new TMMLHighlighter(document());
    highlighter_->SetDark(DarkPalette());
    lineNumberArea_ = new TLineNumberArea(this);
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { UpdateGutterWidth(); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) { UpdateGutter(rect, dy); });
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] { UpdateMarks(); });
    // The error line belongs to the text as compiled: any edit may have moved it.
    connect(this, &QPlainTextEdit::textChanged, this, [this] { ClearErrorLine(); });
    baseFont_ = font();
    UpdateGutterWidth();
    UpdateTabStops();
    UpdateMarks();
}

void TMMLEditor::GoToLine(int line)
{
    setTextCursor(QTextCursor(BlockOfLine(line)));
    ensureCursorVisible();
    setFocus(Qt::OtherFocusReason);
}

void TMMLEditor::SetBaseFont(const QFont& font)
{
    baseFont_ = font;
    setFont(font);
}

int TMMLEditor::FontPointSize() const
{
    // A font given in pixels has no point size of its own: the screen's resolution tells it.
    return font().pointSize() > 0 ? font().pointSize() : QFontInfo(font()).pointSize();
}

void TMMLEditor::SetFontPointSize(int points)
{
    QFont zoomed = font();
    zoomed.setPointSize(std::clamp(points, MinFontPoints, MaxFontPoints));
    setFont(zoomed);
}

void TMMLEditor::SetTabWidth(int characters)
{
    tabWidth_ = std::clamp(characters, 1, MaxTabWidth);
    UpdateTabStops();
}

void TMMLEditor::UpdateTabStops()
{
    setTabStopDistance(tabWidth_ * fontMetrics().horizontalAdvance(QLatin1Char(' ')));
}

void TMMLEditor::wheelEvent(QWheelEvent* event)
{
    if (!event->modifiers().testFlag(Qt::ControlModifier)) {
        QPlainTextEdit::wheelEvent(event);
        return;
    }
    const int steps = event->angleDelta().y();
    if (steps > 0) ZoomIn();
    if (steps < 0) ZoomOut();
    event->accept();
}

int TMMLEditor::CursorLine() const { return textCursor().blockNumber() + 1; }

QTextBlock TMMLEditor::BlockOfLine(int line) const
{
    return document()->findBlockByNumber(std::clamp(line, 1, blockCount()) - 1);
}

void TMMLEditor::MarkErrorLine(int line)
{
    const QTextBlock block = BlockOfLine(line);
    errorLine_ = block.blockNumber() + 1;
    setTextCursor(QTextCursor(block));
    ensureCursorVisible();
    UpdateMarks();
}

void TMMLEditor::ClearErrorLine()
{
    if (errorLine_ == 0) return;
    errorLine_ = 0;
    UpdateMarks();
}

void TMMLEditor::MarkPlayingLine(int line, bool reveal) { MarkPlayingLines({line}, reveal); }

void TMMLEditor::MarkPlayingLines(const std::vector<int>& lines, bool reveal)
{
    std::vector<int> marked;
    marked.reserve(lines.size());
    for (const int line : lines)
        if (line > 0) marked.push_back(line);
    std::sort(marked.begin(), marked.end());
    marked.erase(std::unique(marked.begin(), marked.end()), marked.end());
    if (marked != playingLines_) {
        playingLines_ = std::move(marked);
        UpdateMarks();
    }
    if (playingLines_.empty() || !reveal) return;
    // Scrolled only when the topmost is out of sight, and then to put it in the middle of the view,
    // or higher when that brings the lowest into sight as well; the cursor stays where the user
    // left it.
    const QTextBlock first = BlockOfLine(playingLines_.front());
    const QRectF box = blockBoundingGeometry(first).translated(contentOffset());
    if (box.top() >= 0 && box.bottom() <= viewport()->height()) return;
    const int visible = std::max(1, viewport()->height() / std::max(1, fontMetrics().lineSpacing()));
    const int top = first.firstLineNumber();
    const int bottom = BlockOfLine(playingLines_.back()).firstLineNumber();
    // A line of room kept below the lowest, for the document's margin and a line cut by the edge.
    const int shown = std::clamp(bottom - visible + 2, top - visible / 2, top);
    verticalScrollBar()->setValue(std::max(0, shown));
}

bool TMMLEditor::DarkPalette() const { return palette().color(QPalette::Base).lightness() < 128; }

void TMMLEditor::UpdateMarks()
{
    const TMarkColors colors = MarkColors(DarkPalette());
    QList<QTextEdit::ExtraSelection> marks;
    const auto mark = [&marks](const QTextBlock& block, const QColor& color) {
        QTextEdit::ExtraSelection selection;
        selection.format.setBackground(color);
        selection.format.setProperty(QTextFormat::FullWidthSelection, true);
        selection.cursor = QTextCursor(block);
        marks.append(selection);
    };
    mark(textCursor().block(), colors.CurrentLine);
    for (const int line : playingLines_) mark(BlockOfLine(line), colors.PlayingLine);
    if (errorLine_ > 0) mark(BlockOfLine(errorLine_), colors.ErrorLine);
    setExtraSelections(marks);
    lineNumberArea_->update();  // the current line's number is drawn apart
}

int TMMLEditor::LineNumberAreaWidth() const
{
    int digits = 2;
    for (int lines = std::max(1, blockCount()); lines >= 100; lines /= 10) ++digits;
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
}

void TMMLEditor::UpdateGutterWidth()
{
    setViewportMargins(LineNumberAreaWidth(), 0, 0, 0);
    const QRect box = contentsRect();
    lineNumberArea_->setGeometry(QRect(box.left(), box.top(), LineNumberAreaWidth(), box.height()));
}

void TMMLEditor::UpdateGutter(const QRect& rect, int dy)
{
    if (dy != 0)
        lineNumberArea_->scroll(0, dy);
    else
        lineNumberArea_->update(0, rect.y(), lineNumberArea_->width(), rect.height());
    if (rect.contains(viewport()->rect())) UpdateGutterWidth();
}

void TMMLEditor::ColourVisibleLines()
{
    const qreal bottom = viewport()->height();
    QTextBlock block = firstVisibleBlock();
    qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
    while (block.isValid() && top <= bottom) {
        if (block.isVisible()) highlighter_->ColourBlock(block);
        // Read after colouring: a bold or an italic piece can change how the line wraps.
        top += blockBoundingRect(block).height();
        block = block.next();
    }
}

void TMMLEditor::paintEvent(QPaintEvent* event)
{
    ColourVisibleLines();
    QPlainTextEdit::paintEvent(event);
}

void TMMLEditor::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    UpdateGutterWidth();
}

void TMMLEditor::changeEvent(QEvent* event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        UpdateGutterWidth();
        UpdateTabStops();
    }
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        highlighter_->SetDark(DarkPalette());
        viewport()->update();
        UpdateMarks();
    }
}

void TMMLEditor::PaintLineNumbers(QPaintEvent* event)
{
    QPainter painter(lineNumberArea_);
    const QPalette& colors = palette();
    painter.fillRect(event->rect(), colors.color(QPalette::Window));
    // The numbers in the text colour, dimmed halfway to the gutter; the current line's in full.
    const QColor text = colors.color(QPalette::WindowText);
    const QColor back = colors.color(QPalette::Window);
    const QColor dim((text.red() * 3 + back.red() * 2) / 5, (text.green() * 3 + back.green() * 2) / 5,
                     (text.blue() * 3 + back.blue() * 2) / 5);
    const int current = textCursor().blockNumber();
    const int width = lineNumberArea_->width() - 4;

    QTextBlock block = firstVisibleBlock();
    int number = block.blockNumber();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    int bottom = top + qRound(blockBoundingRect(block).height());
    while (block.isValid() && top <= event->rect().bottom()) {
        if (block.isVisible() && bottom >= event->rect().top()) {
            painter.setPen(number == current ? text : dim);
            painter.drawText(0, top, width, fontMetrics().height(), Qt::AlignRight, QString::number(number + 1));
        }
        block = block.next();
        top = bottom;
        bottom = top + qRound(blockBoundingRect(block).height());
        ++number;
    }
}
