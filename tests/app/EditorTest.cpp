// The editor: syntax colours, line numbers and the current line, the line of a compile error, and
// every command within the keyboard's reach (the tool bar's names are in MainWindowTest).
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolBar>
#include <algorithm>
#include <cstdlib>

#include "tests/app/AppFixture.h"
#include "app/Highlighter.h"

namespace app_test {
namespace {

// One character per character of the line: what the highlighter made of it, blank for nothing.
std::string Mask(const QString& line)
{
    std::string mask(static_cast<std::size_t>(line.size()), ' ');
    const char letters[] = {'/', 'n', '9', 'o', 'c', '\'', '{', '|', 't', 'm', '#'};
    for (const TMMLSpan& span : MMLSpans(line))
        for (int i = span.Start; i < span.Start + span.Length; ++i)
            mask[static_cast<std::size_t>(i)] = letters[static_cast<int>(span.Token)];
    return mask;
}

TEST(Highlighting, SpansOfLines)
{
    // n note or rest, 9 length or number, o octave/length/gate/transposition, c control,
    // ' chord, { tuplet, | repeat or parallel mark, t track, m macro, # function, / comment.
    const std::pair<const char*, const char*> cases[] = {
        {"c+4.,100& d-8^16", "nn999999n nn9999"},
        {"r*120 o4 < > l8 q7 k-2", "n9999 o9 o o o9 o9 o99"},
        {"t120 @1,2,3 @E10,,20 @x$41,$7f h127 m1,2,3 p+4 u-5 v100",
         "c999 c99999 cc999999 cc9999999 c999 c99999 c99 c99 c999"},
        {"'ceg'4,16& {c>ba}8", "'''''9999n {nonn{9"},
        {"|:3 c | d :| /: e / f :/", "||9 n | n || || n | n ||"},
        {"[1] [$10] [Intro] [@] [x", "ttt ttttt mmmmmmm mmm mm"},
        {"#INITGM(1) #assign(17,1)", "########9# ########9999#"},
        {"c // ド c4", "n ///////"},
        {"C4 R8 O2 L16 V+3", "n9 n9 o9 o99 c99"},  // commands are case-blind
        {"ア x 1 : a", "    9   n"},              // what is no command stays plain
        {"", ""},
    };
    for (const auto& [line, mask] : cases) EXPECT_EQ(Mask(QString::fromUtf8(line)), mask) << line;
}

TEST(Highlighting, ColoursDifferPerKindAndPerBackground)
{
    for (const bool dark : {false, true}) {
        const QColor background = dark ? QColor(0x2b, 0x2b, 0x2b) : QColor(Qt::white);
        std::vector<QRgb> seen;
        for (int kind = 0; kind <= static_cast<int>(TMMLToken::Function); ++kind) {
            const QColor color = MMLTokenColor(static_cast<TMMLToken>(kind), dark);
            EXPECT_EQ(std::count(seen.begin(), seen.end(), color.rgb()), 0) << kind;
            seen.push_back(color.rgb());
            // Far enough from the background in lightness to read.
            EXPECT_GE(std::abs(color.lightness() - background.lightness()), 60) << kind << (dark ? " dark" : " light");
        }
    }
}

class Editor : public TWindowTest {
protected:
    int CursorBlock() const { return MMLEditor().textCursor().blockNumber(); }
    int CursorColumn() const { return MMLEditor().textCursor().positionInBlock(); }
    // The block of each full-width line mark, in drawing order.
    std::vector<int> MarkedBlocks() const
    {
        std::vector<int> blocks;
        for (const auto& mark : MMLEditor().extraSelections())
            if (mark.format.property(QTextFormat::FullWidthSelection).toBool())
                blocks.push_back(mark.cursor.blockNumber());
        return blocks;
    }
};

// Lines take their colours as they are drawn, so each check paints the editor first.
TEST_F(Editor, TheDocumentIsPaintedInSyntaxColoursForItsPalette)
{
    const auto colorAt = [this](int line, int position) {
        MMLEditor().viewport()->grab();
        const QTextBlock block = MMLEditor().document()->findBlockByNumber(line);
        for (const QTextLayout::FormatRange& range : block.layout()->formats())
            if (range.start <= position && position < range.start + range.length)
                return range.format.foreground().color();
        return QColor();
    };
    MMLEditor().setPlainText(QStringLiteral("c4 // x\nd e\nf g"));
    const bool dark = MMLEditor().Highlighter()->Dark();
    EXPECT_EQ(colorAt(0, 0), MMLTokenColor(TMMLToken::Note, dark));
    EXPECT_EQ(colorAt(0, 1), MMLTokenColor(TMMLToken::Number, dark));
    EXPECT_EQ(colorAt(0, 5), MMLTokenColor(TMMLToken::Comment, dark));

    // An edit colours its line anew, and so does one step that changes lines far apart.
    QTextCursor cursor(MMLEditor().document()->findBlockByNumber(1));
    cursor.insertText(QStringLiteral("//"));
    EXPECT_EQ(colorAt(1, 3), MMLTokenColor(TMMLToken::Comment, dark));
    cursor.beginEditBlock();
    cursor.setPosition(0);
    cursor.insertText(QStringLiteral("v"));
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringLiteral(" //"));
    cursor.endEditBlock();
    EXPECT_EQ(colorAt(0, 0), MMLTokenColor(TMMLToken::Control, dark));
    EXPECT_EQ(colorAt(2, 4), MMLTokenColor(TMMLToken::Comment, dark));

    QPalette palette = MMLEditor().palette();
    palette.setColor(QPalette::Base, dark ? QColor(Qt::white) : QColor(0x2b, 0x2b, 0x2b));
    MMLEditor().setPalette(palette);
    EXPECT_EQ(MMLEditor().Highlighter()->Dark(), !dark);
    EXPECT_EQ(colorAt(0, 1), MMLTokenColor(TMMLToken::Note, !dark));
}

// Colouring the lines that scroll into view changes no text: an edited, compiled document stays
// playable and a compile error keeps its mark.
TEST_F(Editor, LinesColouredAsTheyScrollIntoViewAreNoEdit)
{
    QString text;
    for (int line = 0; line < 500; ++line) text += QStringLiteral("cdef gab\n");
    const auto scrollTo = [this](int value) {
        MMLEditor().verticalScrollBar()->setValue(value);
        MMLEditor().viewport()->grab();
    };
    const auto coloured = [this](int line) {
        return !MMLEditor().document()->findBlockByNumber(line).layout()->formats().isEmpty();
    };

    CompileText(text + QStringLiteral("x"));
    Script.TakeBoxes();
    scrollTo(0);
    EXPECT_TRUE(coloured(0));
    EXPECT_FALSE(coloured(250)) << "a line never shown is not coloured";
    EXPECT_EQ(MMLEditor().ErrorLine(), 501);

    QTextCursor mistake(MMLEditor().document());
    mistake.movePosition(QTextCursor::End);
    mistake.deletePreviousChar();
    MMLEditor().moveCursor(QTextCursor::Start);
    Type(QStringLiteral("c"));
    Action("compileAction").trigger();
    ASSERT_TRUE(Action("playAction").isEnabled());
    scrollTo(250);
    EXPECT_TRUE(coloured(250));
    EXPECT_TRUE(Action("playAction").isEnabled());
    EXPECT_TRUE(MMLEditor().document()->isModified());
}

TEST_F(Editor, LineNumbersStandBesideTheTextAndTheCurrentLineIsMarked)
{
    QWidget* gutter = MMLEditor().LineNumberArea();
    EXPECT_TRUE(gutter->isVisible());
    const int narrow = gutter->width();
    EXPECT_GT(narrow, 0);
    EXPECT_EQ(MMLEditor().viewport()->geometry().left(), MMLEditor().contentsRect().left() + narrow)
        << "the text starts after the gutter";

    Type(QStringLiteral("c\nd\ne"));
    EXPECT_EQ(MarkedBlocks(), std::vector<int>{2});
    MMLEditor().moveCursor(QTextCursor::Start);
    EXPECT_EQ(MarkedBlocks(), std::vector<int>{0});

    // A thousand lines need room for four digits.
    MMLEditor().setPlainText(QString(QStringLiteral("c\n")).repeated(1000));
    EXPECT_GT(gutter->width(), narrow);
    EXPECT_EQ(gutter->width(), MMLEditor().LineNumberAreaWidth());
}

TEST_F(Editor, ACompileErrorPutsTheCursorAtTheStartOfItsLineUntilTheNextEdit)
{
    CompileText(QStringLiteral("c\nd e\n  c x"));
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "未定義のコマンド( 行 : 3 )")}));
    EXPECT_EQ(MMLEditor().ErrorLine(), 3);
    EXPECT_EQ(CursorBlock(), 2);
    EXPECT_EQ(CursorColumn(), 0);
    EXPECT_EQ(MarkedBlocks(), (std::vector<int>{2, 2})) << "the current line and the error over it";
    EXPECT_EQ(MessagePane().toPlainText(),
              QStringLiteral("ポート 1 にはデバイスが割り当てられていません\n未定義のコマンド( 行 : 3 )"))
        << "kept to read again";

    Type(QStringLiteral("r"));
    EXPECT_EQ(MMLEditor().ErrorLine(), 0);
    EXPECT_EQ(MarkedBlocks(), std::vector<int>{2});
}

// The use of the macro is on line 4; the mistake is in its body, on line 2.
TEST_F(Editor, AnErrorInAMacroBodyIsShownOnTheBodysLine)
{
    CompileText(QStringLiteral("[A] c\nd x [@]\n\n[1] [A]"));
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "未定義のコマンド( 行 : 2 )")}));
    EXPECT_EQ(MMLEditor().ErrorLine(), 2);
    EXPECT_EQ(CursorBlock(), 1);
    EXPECT_EQ(CursorColumn(), 0);
    EXPECT_TRUE(MessagePane().toPlainText().endsWith(QStringLiteral("未定義のコマンド( 行 : 2 )")));
}

TEST_F(Editor, ACompileWithoutErrorLeavesTheCursorAlone)
{
    CompileText(QStringLiteral("x"));
    Script.TakeBoxes();
    MMLEditor().setPlainText(QStringLiteral("c\nd"));
    MMLEditor().moveCursor(QTextCursor::End);
    Action("compileAction").trigger();
    EXPECT_EQ(MMLEditor().ErrorLine(), 0);
    EXPECT_EQ(CursorBlock(), 1);
    EXPECT_EQ(CursorColumn(), 1);
    EXPECT_EQ(MessagePane().toPlainText(), QStringLiteral("ポート 1 にはデバイスが割り当てられていません"));
}

// One mark per sounding part: the lines in any order, repeats and "none" (0) among them.
TEST_F(Editor, SeveralPlayingLinesAreMarkedAtOnce)
{
    MMLEditor().setPlainText(QStringLiteral("c\nd\ne\nf\ng\na"));
    MMLEditor().moveCursor(QTextCursor::Start);
    MMLEditor().MarkPlayingLines({5, 2, 5, 0}, false);
    EXPECT_EQ(MMLEditor().PlayingLines(), (std::vector<int>{2, 5}));
    EXPECT_EQ(MMLEditor().PlayingLine(), 2) << "the topmost";
    EXPECT_EQ(MarkedBlocks(), (std::vector<int>{0, 1, 4})) << "the current line, then the playing ones";

    MMLEditor().MarkPlayingLine(3, false);
    EXPECT_EQ(MMLEditor().PlayingLines(), std::vector<int>{3});
    EXPECT_EQ(MarkedBlocks(), (std::vector<int>{0, 2}));
    MMLEditor().MarkPlayingLines({}, false);
    EXPECT_EQ(MMLEditor().PlayingLine(), 0);
    EXPECT_EQ(MarkedBlocks(), std::vector<int>{0});
    MMLEditor().MarkPlayingLines({4, 6}, false);
    MMLEditor().MarkPlayingLine(0, false);
    EXPECT_TRUE(MMLEditor().PlayingLines().empty());
    EXPECT_EQ(MMLEditor().textCursor().position(), 0);
}

TEST_F(Editor, RevealingPlayingLinesScrollsToTheTopmostOnlyWhenItIsOutOfSight)
{
    MMLEditor().setPlainText(QString(QStringLiteral("cdef\n")).repeated(400));
    MMLEditor().moveCursor(QTextCursor::Start);
    QScrollBar* scroll = MMLEditor().verticalScrollBar();
    const auto inSight = [this](int line) {
        const QRect box = MMLEditor().cursorRect(QTextCursor(MMLEditor().document()->findBlockByNumber(line - 1)));
        return box.top() >= 0 && box.bottom() < MMLEditor().viewport()->height();
    };
    const int visible = MMLEditor().viewport()->height() / MMLEditor().fontMetrics().lineSpacing();
    ASSERT_GT(visible, 8) << "the window shows a screenful of lines";

    MMLEditor().MarkPlayingLines({300}, false);
    EXPECT_EQ(scroll->value(), 0) << "not asked to";

    // Parts far apart: the topmost comes into sight, whatever becomes of the others.
    MMLEditor().MarkPlayingLines({300, 120}, true);
    EXPECT_TRUE(inSight(120));
    const int shown = scroll->value();
    EXPECT_GT(shown, 0);

    // The topmost already in sight: the view stays, though a lower part is out of it.
    MMLEditor().MarkPlayingLines({390, 121}, true);
    EXPECT_EQ(scroll->value(), shown);
    EXPECT_FALSE(inSight(390));

    // Parts close together come into sight together.
    MMLEditor().MarkPlayingLines({10, 10 + visible / 2 + 2}, true);
    EXPECT_TRUE(inSight(10));
    EXPECT_TRUE(inSight(10 + visible / 2 + 2)) << "the lowest too, when they fit";
    MMLEditor().MarkPlayingLines({250}, true);
    EXPECT_TRUE(inSight(250));
    EXPECT_TRUE(inSight(250 + visible / 2 - 2)) << "a single line in the middle of the view, as before";
    EXPECT_EQ(MMLEditor().textCursor().position(), 0) << "the user's cursor stays";
}

TEST_F(Editor, EveryCommandIsWithinTheKeyboardsReach)
{
    // A command is reached from the keyboard by its shortcut, through a menu, or through a menu
    // item of the same name that runs the same command (新規 and 新規(&N)).
    QStringList menuItems;
    const QRegularExpression mnemonic(QStringLiteral("\\(&.\\)$"));
    for (QAction* item : Find<QMenu>("fileMenu").actions()) menuItems << item->text().remove(mnemonic);
    for (QAction* action : Window->findChildren<QAction*>()) {
        if (action->isSeparator() || action->text().isEmpty()) continue;
        bool inMenu = menuItems.contains(action->text());
        for (QObject* owner : action->associatedObjects())
            inMenu = inMenu || qobject_cast<QMenu*>(owner) != nullptr || qobject_cast<QMenuBar*>(owner) != nullptr;
        EXPECT_TRUE(inMenu || !action->shortcut().isEmpty()) << action->text().toStdString();
    }
    EXPECT_EQ(Action("playFromCursorAction").shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F5));
    EXPECT_EQ(Action("playFromCursorAction").text(), QStringLiteral("カーソル位置から再生"));
    EXPECT_EQ(Action("followAction").text(), QStringLiteral("演奏位置を表示"));
    EXPECT_TRUE(Action("followAction").isCheckable());
    EXPECT_FALSE(Action("followAction").isChecked());
    QStringList items;
    for (QAction* action : Find<QMenu>("playMenu").actions())
        if (!action->isSeparator()) items << action->text();
    EXPECT_EQ(items, (QStringList{QStringLiteral("コンパイル"), QStringLiteral("コンパイルして再生(&E)"), QStringLiteral("再生"),
                                  QStringLiteral("一時停止"), QStringLiteral("スロー"), QStringLiteral("早送り"),
                                  QStringLiteral("停止"), QStringLiteral("再生/一時停止"), QStringLiteral("カーソル位置から再生"),
                                  QStringLiteral("演奏位置を表示"), QStringLiteral("繰り返し再生(&L)"), QStringLiteral("トラック一覧(&K)")}));
}

}  // namespace
}  // namespace app_test
