// The MML editor: a plain-text editor with line numbers in a gutter, syntax colours, the current
// line shown, and two marks the window sets: the line of the last compile error and the lines that
// are playing.
#pragma once

#include <QPlainTextEdit>
#include <vector>

class TMMLHighlighter;

class TMMLEditor : public QPlainTextEdit {
public:
    explicit TMMLEditor(QWidget* parent = nullptr);

    // Lines are 1-based, as the compiler counts them.
    int CursorLine() const;
    // Puts the cursor at the start of the line and marks the line until the next edit (or until
    // ClearErrorLine). A line past the end stands for the last one.
    void MarkErrorLine(int line);
    void ClearErrorLine();
    int ErrorLine() const { return errorLine_; }
    // Marks the lines that are playing, one per sounding part (none: an empty list; numbers below 1
    // are left out, repeats count once), without moving the cursor. With reveal the view scrolls
    // when the topmost of them is out of sight, and only then, so a user reading stays in place.
    void MarkPlayingLines(const std::vector<int>& lines, bool reveal);
    // The same for one line (0: none).
    void MarkPlayingLine(int line, bool reveal);
    // The marked lines in ascending order, and the topmost of them (0: none).
    const std::vector<int>& PlayingLines() const { return playingLines_; }
    int PlayingLine() const { return playingLines_.empty() ? 0 : playingLines_.front(); }

    // Puts the cursor at the start of the line (clamped to the text), shows it and takes the focus.
    void GoToLine(int line);

    // The font the zoom starts from and Ctrl+0 goes back to.
    void SetBaseFont(const QFont& font);
    // The editor's font size in points; the zoom keeps it within MinFontPoints..MaxFontPoints.
    int FontPointSize() const;
    void SetFontPointSize(int points);
    void ZoomIn() { SetFontPointSize(FontPointSize() + 1); }
    void ZoomOut() { SetFontPointSize(FontPointSize() - 1); }
    void ResetZoom() { setFont(baseFont_); }
    static constexpr int MinFontPoints = 6;
    static constexpr int MaxFontPoints = 72;

    // The distance between tab stops, in characters of the editor's font; it follows the zoom.
    int TabWidth() const { return tabWidth_; }
    void SetTabWidth(int characters);
    static constexpr int DefaultTabWidth = 8;
    static constexpr int MaxTabWidth = 16;

    TMMLHighlighter* Highlighter() const { return highlighter_; }
    // The gutter: its width for the number of lines, and its painting.
    int LineNumberAreaWidth() const;
    void PaintLineNumbers(QPaintEvent* event);
    QWidget* LineNumberArea() const { return lineNumberArea_; }

protected:
    // Colours the lines about to be drawn before drawing them.
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Ctrl with the wheel zooms, as in every editor; without, the view scrolls.
    void wheelEvent(QWheelEvent* event) override;

private:
    bool DarkPalette() const;
    void UpdateGutterWidth();
    void UpdateTabStops();
    void UpdateGutter(const QRect& rect, int dy);
    // The extra selections: the current line, the playing lines, the error line, in that order,
    // so the error shows over the others.
    void UpdateMarks();
    // Gives the lines in view their syntax colours where they lack them.
    void ColourVisibleLines();
    QTextBlock BlockOfLine(int line) const;

    TMMLHighlighter* highlighter_ = nullptr;
    QWidget* lineNumberArea_ = nullptr;
    int errorLine_ = 0;
    std::vector<int> playingLines_;  // ascending, each once
    QFont baseFont_;
    int tabWidth_ = DefaultTabWidth;
};
