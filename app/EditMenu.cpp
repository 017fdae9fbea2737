// The main window's editing comforts: the edit menu (undo, the clipboard, find and replace, go to
// a line, the zoom and the tab width), the cursor's place in the status bar, tool bar icons that
// keep their contrast on a dark palette, and the message pane's lines that lead to the line they
// name. (The caption's modified mark is set with the other modified-state displays.)
#include <QAction>
#include <QEvent>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTextBlock>
#include <QToolBar>
#include <functional>
#include <utility>

#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/EditorSettings.h"
#include "app/FindReplace.h"
#include "app/MainWindow.h"

namespace {

// Runs a function for the events of one kind an object receives, and lets them go on.
class TEventHook : public QObject {
public:
    TEventHook(QObject* watched, QEvent::Type type, std::function<void(QEvent*)> action)
        : QObject(watched), type_(type), action_(std::move(action))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == type_) Guarded([&] { action_(event); });
        return false;
    }

private:
    QEvent::Type type_;
    std::function<void(QEvent*)> action_;
};

bool IsDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

// The icon with its dark strokes turned light, hues kept: the style's pictures are drawn for a
// light background and vanish on a dark one.
QIcon LightenedIcon(const QIcon& icon)
{
    QIcon lightened;
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty()) sizes = {QSize(24, 24), QSize(48, 48)};
    for (const QSize& size : sizes) {
        QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor color = image.pixelColor(x, y);
                if (color.alpha() == 0 || color.lightness() >= 128) continue;
                image.setPixelColor(x, y, QColor::fromHsl(color.hslHue(), color.hslSaturation(), 255 - color.lightness(),
                                                          color.alpha()));
            }
        }
        lightened.addPixmap(QPixmap::fromImage(image));
    }
    return lightened;
}

const QRegularExpression& LineReference()
{
    // How the compiler ends an error or warning line: "( 行 : 12 )".
    static const QRegularExpression reference(QStringLiteral("\\( 行 : (\\d+) \\)"));
    return reference;
}

}  // namespace

void TMainWindow::CreateEditing()
{
    const auto make = [this](const char* name, const QString& text, const QList<QKeySequence>& keys) {
        auto* action = new QAction(text, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcuts(keys);
        return action;
    };
    const auto standard = [](QKeySequence::StandardKey key) { return QKeySequence::keyBindings(key); };
    undoAction = make("undoAction", QStringLiteral("元に戻す(&U)"), standard(QKeySequence::Undo));
    redoAction = make("redoAction", QStringLiteral("やり直し(&R)"), standard(QKeySequence::Redo));
    cutAction = make("cutAction", QStringLiteral("切り取り(&T)"), standard(QKeySequence::Cut));
    copyAction = make("copyAction", QStringLiteral("コピー(&C)"), standard(QKeySequence::Copy));
    pasteAction = make("pasteAction", QStringLiteral("貼り付け(&P)"), standard(QKeySequence::Paste));
    selectAllAction = make("selectAllAction", QStringLiteral("すべて選択(&A)"), standard(QKeySequence::SelectAll));
    // Fixed keys: on some desktops the standard Find Next is Ctrl+G, which here goes to a line.
    findAction = make("findAction", QStringLiteral("検索(&F)..."), {QKeySequence(Qt::CTRL | Qt::Key_F)});
    replaceAction = make("replaceAction", QStringLiteral("置換(&H)..."), {QKeySequence(Qt::CTRL | Qt::Key_H)});
    findNextAction = make("findNextAction", QStringLiteral("次を検索(&N)"), {QKeySequence(Qt::Key_F3)});
    goToLineAction = make("goToLineAction", QStringLiteral("行へ移動(&G)..."), {QKeySequence(Qt::CTRL | Qt::Key_G)});
    zoomInAction = make("zoomInAction", QStringLiteral("文字を大きく(&I)"),
                        {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal),
                         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Semicolon)});
    zoomOutAction = make("zoomOutAction", QStringLiteral("文字を小さく(&O)"), {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
    zoomResetAction = make("zoomResetAction", QStringLiteral("文字を標準の大きさに(&Z)"), {QKeySequence(Qt::CTRL | Qt::Key_0)});
    tabWidthAction = make("tabWidthAction", QStringLiteral("タブ幅(&B)..."), {});

    // The editor takes its own keys for the clipboard and undo while it has the focus; the menu
    // reaches the same commands from anywhere in the window.
    connect(undoAction, &QAction::triggered, editor, &QPlainTextEdit::undo);
    connect(redoAction, &QAction::triggered, editor, &QPlainTextEdit::redo);
    connect(cutAction, &QAction::triggered, editor, &QPlainTextEdit::cut);
    connect(copyAction, &QAction::triggered, editor, &QPlainTextEdit::copy);
    connect(pasteAction, &QAction::triggered, editor, &QPlainTextEdit::paste);
    connect(selectAllAction, &QAction::triggered, editor, &QPlainTextEdit::selectAll);
    undoAction->setEnabled(false);
    redoAction->setEnabled(false);
    cutAction->setEnabled(false);
    copyAction->setEnabled(false);
    connect(editor, &QPlainTextEdit::undoAvailable, undoAction, &QAction::setEnabled);
    connect(editor, &QPlainTextEdit::redoAvailable, redoAction, &QAction::setEnabled);
    connect(editor, &QPlainTextEdit::copyAvailable, cutAction, &QAction::setEnabled);
    connect(editor, &QPlainTextEdit::copyAvailable, copyAction, &QAction::setEnabled);

    findDialog = new TFindDialog(*editor, this);
    connect(findAction, &QAction::triggered, this, [this] { Guarded([this] { findDialog->Open(false); }); });
    connect(replaceAction, &QAction::triggered, this, [this] { Guarded([this] { findDialog->Open(true); }); });
    connect(findNextAction, &QAction::triggered, findDialog, GuardedSlot(findDialog, &TFindDialog::FindNext));
    connect(goToLineAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::AskLineToGoTo));
    connect(zoomInAction, &QAction::triggered, editor, [this] { editor->ZoomIn(); });
    connect(zoomOutAction, &QAction::triggered, editor, [this] { editor->ZoomOut(); });
    connect(zoomResetAction, &QAction::triggered, editor, [this] { editor->ResetZoom(); });
    connect(tabWidthAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::AskTabWidth));
    editor->SetTabWidth(TEditorSettings::ReadTabWidth(TMMLEditor::DefaultTabWidth, TMMLEditor::MaxTabWidth));

    // Between the file menu and the play menu, where every desktop program has it.
    editMenu = new QMenu(QStringLiteral("編集(&E)"), this);
    editMenu->setObjectName(QStringLiteral("editMenu"));
    editMenu->addActions({undoAction, redoAction});
    editMenu->addSeparator();
    editMenu->addActions({cutAction, copyAction, pasteAction, selectAllAction});
    editMenu->addSeparator();
    editMenu->addActions({findAction, replaceAction, findNextAction, goToLineAction});
    editMenu->addSeparator();
    editMenu->addActions({zoomInAction, zoomOutAction, zoomResetAction, tabWidthAction});
    menuBar()->insertMenu(playMenu->menuAction(), editMenu);
    // The window itself carries the actions too, so their keys work wherever the focus is in it,
    // also where the menu bar is not shown.
    addActions(editMenu->actions());

    // The cursor's line and column in the status bar's free space.
    cursorPanel = new QLabel(this);
    cursorPanel->setObjectName(QStringLiteral("cursorPanel"));
    cursorPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusBar()->addWidget(cursorPanel, 1);
    connect(editor, &QPlainTextEdit::cursorPositionChanged, this, GuardedSlot(this, &TMainWindow::ShowCursorPosition));
    ShowCursorPosition();

    // A double click on a pane line that names a line of the text goes there.
    new TEventHook(messagePane->viewport(), QEvent::MouseButtonDblClick, [this](QEvent* event) {
        GoToPaneLine(messagePane->cursorForPosition(static_cast<QMouseEvent*>(event)->position().toPoint()).block().text());
    });

    for (QAction* action : toolBar->actions())
        if (!action->icon().isNull()) toolIcons_.emplace_back(action, action->icon());
    new TEventHook(toolBar, QEvent::PaletteChange, [this](QEvent*) { AdaptToolIcons(); });
    AdaptToolIcons();
}

void TMainWindow::ShowCursorPosition()
{
    const QTextCursor cursor = editor->textCursor();
    cursorPanel->setText(QStringLiteral("行 %1、列 %2").arg(cursor.blockNumber() + 1).arg(cursor.positionInBlock() + 1));
}

bool TMainWindow::GoToPaneLine(const QString& paneLine)
{
    QRegularExpressionMatch last;
    for (const QRegularExpressionMatch& match : LineReference().globalMatch(paneLine)) last = match;
    if (!last.hasMatch()) return false;
    bool ok = false;
    const int line = last.captured(1).toInt(&ok);
    if (!ok) return false;
    editor->GoToLine(line);
    return true;
}

void TMainWindow::AskLineToGoTo()
{
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("goToLineDialog"));
    dialog.setWindowTitle(QStringLiteral("行へ移動"));
    dialog.setInputMode(QInputDialog::IntInput);
    dialog.setIntRange(1, editor->blockCount());
    dialog.setIntValue(editor->CursorLine());
    dialog.setLabelText(QStringLiteral("行番号 (1～%1):").arg(editor->blockCount()));
    if (UserDialogs().Exec(dialog) == QDialog::Accepted) editor->GoToLine(dialog.intValue());
}

void TMainWindow::AskTabWidth()
{
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("tabWidthDialog"));
    dialog.setWindowTitle(QStringLiteral("タブ幅"));
    dialog.setInputMode(QInputDialog::IntInput);
    dialog.setIntRange(1, TMMLEditor::MaxTabWidth);
    dialog.setIntValue(editor->TabWidth());
    dialog.setLabelText(QStringLiteral("タブ幅 (文字数):"));
    if (UserDialogs().Exec(dialog) != QDialog::Accepted) return;
    editor->SetTabWidth(dialog.intValue());
    TEditorSettings::WriteTabWidth(editor->TabWidth());
}

void TMainWindow::AdaptToolIcons()
{
    const bool dark = IsDark(toolBar->palette());
    for (const auto& [action, icon] : toolIcons_) action->setIcon(dark ? LightenedIcon(icon) : icon);
}
