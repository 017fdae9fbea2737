// The edit menu and the editor's comforts: the menu's place and keys, find and replace, going to
// a line (also from a pane line that names one), the zoom, the tab width, the cursor's place in
// the status bar, the modified mark in the caption, the tool bar on a dark palette, and the
// position bar's width.
#include <QApplication>
#include <QCheckBox>
#include <QInputDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QToolBar>
#include <QWheelEvent>

#include "app/EditorSettings.h"
#include "app/PositionBar.h"
#include "tests/app/AppFixture.h"

namespace app_test {
namespace {

class EditMenu : public TWindowTest {
protected:
    void SetUp() override
    {
        QFile::remove(TEditorSettings::FileName());
        TWindowTest::SetUp();
        // Keys reach the window's shortcuts only while it is the active one.
        QApplication::setActiveWindow(Window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
        MMLEditor().setFocus();
    }

    QDialog& FindDialog() const { return Find<QDialog>("findDialog"); }
    QLineEdit& Field(const char* name) const { return app_test::Find<QLineEdit>(FindDialog(), QString::fromLatin1(name)); }
    QPushButton& Button(const char* name) const
    {
        return app_test::Find<QPushButton>(FindDialog(), QString::fromLatin1(name));
    }
    // Opens the find (or replace) dialog with its key and fills it in.
    void Search(const QString& text, bool caseSensitive, bool replace = false, const QString& with = {})
    {
        QTest::keyClick(&MMLEditor(), replace ? Qt::Key_H : Qt::Key_F, Qt::ControlModifier);
        ASSERT_TRUE(FindDialog().isVisible());
        Field("findField").setText(text);
        app_test::Find<QCheckBox>(FindDialog(), QStringLiteral("caseBox")).setChecked(caseSensitive);
        if (replace) Field("replaceField").setText(with);
    }
    // The selection as "start-end".
    std::string Selection() const
    {
        const QTextCursor cursor = MMLEditor().textCursor();
        return std::to_string(cursor.selectionStart()) + '-' + std::to_string(cursor.selectionEnd());
    }
    void DoubleClickPaneLine(int block)
    {
        QPlainTextEdit& pane = MessagePane();
        const QRect box = pane.cursorRect(QTextCursor(pane.document()->findBlockByNumber(block)));
        QTest::mouseDClick(pane.viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
    }
};

TEST_F(EditMenu, StandsBetweenFileAndPlayWithTheUsualKeys)
{
    QStringList menus;
    for (QAction* menu : Window->menuBar()->actions()) menus << menu->text();
    ASSERT_GE(menus.size(), 3);
    EXPECT_EQ(menus.mid(0, 3), (QStringList{QStringLiteral("ファイル(&F)"), QStringLiteral("編集(&E)"),
                                            QStringLiteral("演奏(&P)")}));
    const std::pair<const char*, QKeySequence> keys[] = {
        {"undoAction", QKeySequence::Undo},       {"redoAction", QKeySequence::Redo},
        {"cutAction", QKeySequence::Cut},         {"copyAction", QKeySequence::Copy},
        {"pasteAction", QKeySequence::Paste},     {"selectAllAction", QKeySequence::SelectAll},
        {"findAction", QKeySequence(Qt::CTRL | Qt::Key_F)},
        {"replaceAction", QKeySequence(Qt::CTRL | Qt::Key_H)},
        {"findNextAction", QKeySequence(Qt::Key_F3)},
        {"goToLineAction", QKeySequence(Qt::CTRL | Qt::Key_G)},
        {"zoomInAction", QKeySequence(Qt::CTRL | Qt::Key_Plus)},
        {"zoomOutAction", QKeySequence(Qt::CTRL | Qt::Key_Minus)},
        {"zoomResetAction", QKeySequence(Qt::CTRL | Qt::Key_0)},
    };
    const QList<QAction*> items = Find<QMenu>("editMenu").actions();
    for (const auto& [name, key] : keys) {
        SCOPED_TRACE(name);
        QAction& action = Action(name);
        EXPECT_TRUE(items.contains(&action));
        EXPECT_EQ(action.shortcut(), key);
    }
    EXPECT_TRUE(items.contains(&Action("tabWidthAction")));

    // Undo and the clipboard follow what the editor can do.
    EXPECT_FALSE(Action("undoAction").isEnabled());
    EXPECT_FALSE(Action("copyAction").isEnabled());
    Type(QStringLiteral("cde"));
    EXPECT_TRUE(Action("undoAction").isEnabled());
    Action("selectAllAction").trigger();
    EXPECT_TRUE(Action("copyAction").isEnabled());
    Action("cutAction").trigger();
    EXPECT_EQ(EditorText(), QString());
    Action("pasteAction").trigger();
    Action("pasteAction").trigger();
    EXPECT_EQ(EditorText(), QStringLiteral("cdecde"));
}

TEST_F(EditMenu, FindSelectsEachMatchInTurnAndWrapsRound)
{
    struct TCase {
        const char* Text;
        bool CaseSensitive;
        std::vector<std::string> Selections;  // after each Find Next
    };
    const TCase cases[] = {
        {"cde", false, {"0-3", "4-7", "8-11", "0-3"}},
        {"CDE", true, {"4-7", "4-7"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        MMLEditor().setPlainText(QStringLiteral("cde CDE\ncde"));
        Search(QString::fromUtf8(c.Text), c.CaseSensitive);
        std::vector<std::string> seen;
        Button("findNextButton").click();
        seen.push_back(Selection());
        for (std::size_t i = 1; i < c.Selections.size(); ++i) {
            QTest::keyClick(&MMLEditor(), Qt::Key_F3);
            seen.push_back(Selection());
        }
        EXPECT_EQ(seen, c.Selections);
    }

    Field("findField").setText(QStringLiteral("x"));
    MMLEditor().moveCursor(QTextCursor::End);
    Button("findNextButton").click();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "「x」が見つかりません")}));
    EXPECT_EQ(Selection(), "11-11") << "the cursor stays";
}

TEST_F(EditMenu, ReplaceAllIsOneUndoStep)
{
    const std::tuple<bool, const char*, const char*> cases[] = {
        {false, "c", "r d r r rr"},
        {true, "c", "r d C r rr"},
        {false, "cc", "c d C c r"},
    };
    for (const auto& [caseSensitive, find, replaced] : cases) {
        SCOPED_TRACE(find);
        MMLEditor().setPlainText(QStringLiteral("c d C c cc"));
        MMLEditor().moveCursor(QTextCursor::End);
        Type(QStringLiteral(" "));  // an edit of the user's own, which the undo must keep
        Search(QString::fromUtf8(find), caseSensitive, true, QStringLiteral("r"));
        Button("replaceAllButton").click();
        EXPECT_EQ(EditorText(), QString::fromUtf8(replaced) + QLatin1Char(' '));
        Action("undoAction").trigger();
        EXPECT_EQ(EditorText(), QStringLiteral("c d C c cc "));
        Action("redoAction").trigger();
        EXPECT_EQ(EditorText(), QString::fromUtf8(replaced) + QLatin1Char(' '));
    }

    // A replacement that holds the text found is not replaced again.
    MMLEditor().setPlainText(QStringLiteral("c c"));
    Search(QStringLiteral("c"), false, true, QStringLiteral("cc"));
    Button("replaceAllButton").click();
    EXPECT_EQ(EditorText(), QStringLiteral("cc cc"));

    MMLEditor().setPlainText(QStringLiteral("c d"));
    Search(QStringLiteral("x"), false, true, QStringLiteral("r"));
    Button("replaceAllButton").click();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "「x」が見つかりません")}));
    EXPECT_EQ(EditorText(), QStringLiteral("c d"));
    EXPECT_FALSE(Action("undoAction").isEnabled()) << "nothing was changed";
}

// Replace finds first; once a match is selected, it replaces it and selects the next.
TEST_F(EditMenu, ReplaceGoesOneMatchAtATime)
{
    MMLEditor().setPlainText(QStringLiteral("a c c"));
    Search(QStringLiteral("c"), false, true, QStringLiteral("e"));
    Button("replaceButton").click();
    EXPECT_EQ(EditorText(), QStringLiteral("a c c"));
    EXPECT_EQ(Selection(), "2-3");
    Button("replaceButton").click();
    EXPECT_EQ(EditorText(), QStringLiteral("a e c"));
    EXPECT_EQ(Selection(), "4-5");
    Button("replaceButton").click();
    EXPECT_EQ(EditorText(), QStringLiteral("a e e"));
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "「c」が見つかりません")}));
}

TEST_F(EditMenu, GoToLineAsksForTheLine)
{
    MMLEditor().setPlainText(QStringLiteral("a\nb\nc\nd"));
    MessagePane().setFocus();
    Script.OnExec = [](QDialog& dialog) {
        auto& input = dynamic_cast<QInputDialog&>(dialog);
        EXPECT_EQ(input.windowTitle(), QStringLiteral("行へ移動"));
        EXPECT_EQ(input.intValue(), 1);
        EXPECT_EQ(input.intMaximum(), 4);
        input.setIntValue(3);
        input.accept();
        return input.result();
    };
    QTest::keyClick(&MMLEditor(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(MMLEditor().CursorLine(), 3);
    EXPECT_EQ(QApplication::focusWidget(), &MMLEditor());

    Script.OnExec = [](QDialog& dialog) {
        dialog.reject();
        return dialog.result();
    };
    Action("goToLineAction").trigger();
    EXPECT_EQ(MMLEditor().CursorLine(), 3) << "cancelled";
}

TEST_F(EditMenu, APaneLineThatNamesALineLeadsThere)
{
    // The compiler's own error line.
    CompileText(QStringLiteral("c\nd e\n  c x\nc"));
    Script.TakeBoxes();
    MMLEditor().moveCursor(QTextCursor::End);
    MessagePane().setFocus();
    ASSERT_TRUE(MessagePane().document()->lastBlock().text().endsWith(QStringLiteral("( 行 : 3 )")));
    DoubleClickPaneLine(MessagePane().document()->blockCount() - 1);
    EXPECT_EQ(MMLEditor().CursorLine(), 3);
    EXPECT_EQ(MMLEditor().textCursor().positionInBlock(), 0);
    EXPECT_EQ(QApplication::focusWidget(), &MMLEditor());

    const std::pair<const char*, int> lines[] = {
        {"警告: 数値として正しくありません( 行 : 2 )", 2},
        {"[Intro] ( 行 : 1 ) の後で( 行 : 3 )", 3},  // the line named last is where it happened
        {"未定義のコマンド( 行 : 99 )", 4},          // past the end: the last line
        {"ポート 1 にはデバイスが割り当てられていません", 1},
        {"行 : 2", 1},
    };
    for (const auto& [line, expected] : lines) {
        SCOPED_TRACE(line);
        MMLEditor().moveCursor(QTextCursor::Start);
        MessagePane().setPlainText(QStringLiteral("前の行\n") + QString::fromUtf8(line));
        DoubleClickPaneLine(1);
        EXPECT_EQ(MMLEditor().CursorLine(), expected);
    }
}

TEST_F(EditMenu, TheFontZoomsByKeysAndWheelAndGoesBack)
{
    TMMLEditor& editor = MMLEditor();
    const QFont base = editor.font();
    const int size = editor.FontPointSize();
    const auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
        const QPointF at(10, 10);
        QWheelEvent event(at, editor.viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(editor.viewport(), &event);
    };
    const std::pair<std::function<void()>, int> steps[] = {
        {[&] { QTest::keyClick(&editor, Qt::Key_Plus, Qt::ControlModifier); }, size + 1},
        {[&] { wheel(120, Qt::ControlModifier); }, size + 2},
        {[&] { wheel(120, Qt::NoModifier); }, size + 2},
        {[&] { QTest::keyClick(&editor, Qt::Key_Minus, Qt::ControlModifier); }, size + 1},
        {[&] { wheel(-120, Qt::ControlModifier); }, size},
        {[&] { editor.SetFontPointSize(1000); }, TMMLEditor::MaxFontPoints},
        {[&] { editor.SetFontPointSize(0); }, TMMLEditor::MinFontPoints},
    };
    int step = 0;
    for (const auto& [act, expected] : steps) {
        SCOPED_TRACE(step++);
        act();
        EXPECT_EQ(editor.FontPointSize(), expected);
    }
    QTest::keyClick(&editor, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(editor.font(), base);
}

TEST_F(EditMenu, TheTabWidthIsSetInCharactersAndKept)
{
    TMMLEditor& editor = MMLEditor();
    const auto space = [&editor] { return editor.fontMetrics().horizontalAdvance(QLatin1Char(' ')); };
    EXPECT_EQ(editor.tabStopDistance(), TMMLEditor::DefaultTabWidth * space());
    Script.OnExec = [](QDialog& dialog) {
        auto& input = dynamic_cast<QInputDialog&>(dialog);
        EXPECT_EQ(input.windowTitle(), QStringLiteral("タブ幅"));
        EXPECT_EQ(input.intValue(), TMMLEditor::DefaultTabWidth);
        input.setIntValue(4);
        input.accept();
        return input.result();
    };
    Action("tabWidthAction").trigger();
    EXPECT_EQ(editor.TabWidth(), 4);
    EXPECT_EQ(editor.tabStopDistance(), 4 * space());
    editor.ZoomIn();
    EXPECT_EQ(editor.tabStopDistance(), 4 * space()) << "the width follows the zoom";

    // The next start reads it back.
    Window.reset();
    Window = std::make_unique<TMainWindow>(Clock);
    EXPECT_EQ(MMLEditor().TabWidth(), 4);

    // A damaged value is passed over.
    WriteFile(TEditorSettings::FileName(), "[EDITOR]\nTABWIDTH=999\n");
    Window = std::make_unique<TMainWindow>(Clock);
    EXPECT_EQ(MMLEditor().TabWidth(), TMMLEditor::DefaultTabWidth);
    QFile::remove(TEditorSettings::FileName());
}

TEST_F(EditMenu, TheStatusBarShowsTheCursorsLineAndColumnAndTheCaptionTheMark)
{
    const QLabel& panel = Find<QLabel>("cursorPanel");
    EXPECT_EQ(panel.text(), QStringLiteral("行 1、列 1"));
    EXPECT_EQ(Window->windowTitle(), QStringLiteral("Quaverly  新規[*]"));
    EXPECT_FALSE(Window->isWindowModified());
    Type(QStringLiteral("ab\ncde"));
    EXPECT_EQ(panel.text(), QStringLiteral("行 2、列 4"));
    EXPECT_TRUE(Window->isWindowModified());
    QTest::keyClick(&MMLEditor(), Qt::Key_Home);
    EXPECT_EQ(panel.text(), QStringLiteral("行 2、列 1"));
    // Saved, the mark goes.
    Script.SaveNames = {ScratchDir() + QStringLiteral("/marked.QVR")};
    Action("saveAction").trigger();
    EXPECT_FALSE(Window->isWindowModified());
    EXPECT_EQ(Window->windowTitle(), QStringLiteral("Quaverly  marked.QVR[*]"));
}

// On a dark palette every tool bar picture stands out from the bar's background; back on a light
// one, the style's own pictures return.
TEST_F(EditMenu, ToolBarIconsStayVisibleOnADarkPalette)
{
    auto& toolBar = Find<QToolBar>("toolBar");
    std::vector<qint64> light;
    for (QAction* action : toolBar.actions()) light.push_back(action->icon().cacheKey());
    for (const bool dark : {true, false}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        QPalette palette = Window->palette();
        palette.setColor(QPalette::Window, dark ? QColor(0x2b, 0x2b, 0x2b) : QColor(0xef, 0xef, 0xef));
        palette.setColor(QPalette::Button, palette.color(QPalette::Window));
        Window->setPalette(palette);
        const int background = toolBar.palette().color(QPalette::Window).lightness();
        for (QAction* action : toolBar.actions()) {
            if (action->isSeparator()) continue;
            SCOPED_TRACE(action->toolTip().toStdString());
            EXPECT_FALSE(action->toolTip().isEmpty());
            EXPECT_EQ(toolBar.widgetForAction(action)->accessibleName(), action->toolTip());
            const QImage image = action->icon().pixmap(QSize(24, 24)).toImage();
            int contrast = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixelColor(x, y).alpha() > 128)
                        contrast = std::max(contrast, std::abs(image.pixelColor(x, y).lightness() - background));
            if (dark) {
                EXPECT_GE(contrast, 100);
            }
        }
    }
    std::vector<qint64> restored;
    for (QAction* action : toolBar.actions()) restored.push_back(action->icon().cacheKey());
    EXPECT_EQ(restored, light);
}

TEST_F(EditMenu, ThePositionBarStretchesWithTheWindow)
{
    auto& bar = Find<TPositionBar>("positionBar");
    auto& time = Find<QLabel>("timeLabel");
    const auto settle = [&] {
        QApplication::processEvents();
        Window->centralWidget()->layout()->activate();
        time.parentWidget()->layout()->activate();
    };
    Window->resize(960, 604);
    settle();
    const int narrow = bar.width();
    Window->resize(1600, 604);
    settle();
    EXPECT_GE(bar.width(), narrow + 500);
    EXPECT_GE(time.geometry().right(), time.parentWidget()->width() - 10) << "the time stays at the right";
}

}  // namespace
}  // namespace app_test
