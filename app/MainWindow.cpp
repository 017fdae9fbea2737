// The main window: its construction, layout, menu and status bar, and the Compile, port and
// version commands. Documents are in Documents.cpp, the transport in Transport.cpp.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <string>
#include <utility>
#include <vector>

#include "app/Application.h"
#include "app/Dialogs.h"
#include "formats/Document.h"
#include "app/FPORT.h"
#include "app/Fonts.h"
#include "app/Main.h"
#include "app/TrkBarEx.h"
#include "app/Worker.h"

namespace {

const QString StatusModified = QStringLiteral("変更有り");
const QString StatusInsert = QStringLiteral("挿入");
const QString StatusCompiling = QStringLiteral("コンパイル中…");
const QString CompileCancelled = QStringLiteral("コンパイルを中止しました");
const QString StatusOverwrite = QStringLiteral("上書き");

}  // namespace

TFormMain::TFormMain(TClock& clock, QWidget* parent) : QMainWindow(parent), clock_(clock)
{
    setWindowTitle(ProductName);
    setFont(JapaneseFont(FontFamily::Proportional, 15));
    CreateActions();
    CreateToolBar();
    CreateMenus();
    CreateCentralArea();
    CreateStatusBar();

    ResumeOnPlay = false;
    Players = std::make_unique<TMidis>();
    DisplayTimer = new QTimer(this);
    DisplayTimer->setInterval(100);
    connect(DisplayTimer, &QTimer::timeout, this, GuardedSlot(this, &TFormMain::DisplayTimerTimer));
    FormCreate();

    resize(960, 604);
    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TFormMain::~TFormMain()
{
    // The refresh stops first; destroying the players then silences and closes every open port
    // while the window's controls still exist.
    DisplayTimer->stop();
    Players.reset();
}

void TFormMain::FormCreate()
{
    BarDragging = false;
    TrackBar->OnMouseDown = [this] { Guarded([this] { BarMouseDown(); }); };
    TrackBar->OnMouseUp = [this] { Guarded([this] { BarMouseUp(); }); };
}

void TFormMain::CreateActions()
{
    // The tool bar buttons are actions; a menu item of the same command runs the same handler.
    const auto make = [this](const char* name, const QString& hint, QStyle::StandardPixmap icon) {
        auto* action = new QAction(style()->standardIcon(icon), hint, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setToolTip(hint);
        return action;
    };
    BtnNew = make("BtnNew", QStringLiteral("新規"), QStyle::SP_FileIcon);
    BtnOpen = make("BtnOpen", QStringLiteral("開く"), QStyle::SP_DialogOpenButton);
    BtnSave = make("BtnSave", QStringLiteral("上書保存"), QStyle::SP_DialogSaveButton);
    BtnCompile = make("BtnCompile", QStringLiteral("コンパイル"), QStyle::SP_BrowserReload);
    BtnPlay = make("BtnPlay", QStringLiteral("再生"), QStyle::SP_MediaPlay);
    BtnTime = make("BtnTime", QStringLiteral("一時停止"), QStyle::SP_MediaPause);
    BtnSlow = make("BtnSlow", QStringLiteral("スロー"), QStyle::SP_MediaSeekBackward);
    BtnFast = make("BtnFast", QStringLiteral("早送り"), QStyle::SP_MediaSeekForward);
    BtnStop = make("BtnStop", QStringLiteral("停止"), QStyle::SP_MediaStop);
    BtnPlayFromCursor = make("BtnPlayFromCursor", QStringLiteral("カーソル位置から再生"), QStyle::SP_MediaSkipForward);
    BtnFollow = make("BtnFollow", QStringLiteral("演奏位置を表示"), QStyle::SP_FileDialogContentsView);
    BtnCompile->setShortcut(QKeySequence(Qt::Key_F5));
    BtnPlayFromCursor->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F5));
    BtnFollow->setCheckable(true);

    // The five transport buttons are one radio group: pressing one releases the others.
    TransportGroup = new QActionGroup(this);
    TransportGroup->setExclusive(true);
    for (QAction* action : {BtnPlay, BtnTime, BtnSlow, BtnFast, BtnStop}) {
        action->setCheckable(true);
        TransportGroup->addAction(action);
    }
    BtnStop->setChecked(true);
    for (QAction* action : {BtnPlay, BtnTime, BtnSlow, BtnFast}) action->setEnabled(false);

    connect(BtnNew, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnNewClick));
    connect(BtnOpen, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnOpenClick));
    connect(BtnSave, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnSaveClick));
    connect(BtnCompile, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnCompileClick));
    connect(BtnPlay, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnPlayClick));
    connect(BtnTime, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnTimeClick));
    connect(BtnSlow, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnSlowClick));
    connect(BtnFast, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnFastClick));
    connect(BtnStop, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnStopClick));
    connect(BtnPlayFromCursor, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnPlayFromCursorClick));
    connect(BtnFollow, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnFollowClick));

    CancelCompileShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    CancelCompileShortcut->setObjectName(QStringLiteral("CancelCompileShortcut"));
    CancelCompileShortcut->setContext(Qt::WindowShortcut);
    CancelCompileShortcut->setEnabled(false);
    connect(CancelCompileShortcut, &QShortcut::activated, this, GuardedSlot(this, &TFormMain::CancelCompile));
}

void TFormMain::CreateToolBar()
{
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setIconSize(QSize(24, 24));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->addActions({BtnNew, BtnOpen, BtnSave});
    ToolBar1->addSeparator();
    ToolBar1->addAction(BtnCompile);
    ToolBar1->addSeparator();
    ToolBar1->addActions({BtnPlay, BtnTime, BtnSlow, BtnFast, BtnStop});
    ToolBar1->addSeparator();
    ToolBar1->addActions({BtnPlayFromCursor, BtnFollow});
    for (QAction* action : ToolBar1->actions()) {
        if (action->isSeparator()) continue;
        QWidget* button = ToolBar1->widgetForAction(action);
        button->setFixedSize(31, 30);
        // Screen readers name a button by its hint, as sighted users know it.
        button->setAccessibleName(action->toolTip());
    }
}

namespace {
// The desktop's key for a standard command; where the platform defines none, the key users of
// other desktops know.
QList<QKeySequence> StandardKeys(QKeySequence::StandardKey key, const QKeySequence& fallback)
{
    QList<QKeySequence> keys = QKeySequence::keyBindings(key);
    if (keys.isEmpty()) keys << fallback;
    return keys;
}
}  // namespace

void TFormMain::CreateMenus()
{
    File = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    MenuNew = File->addAction(QStringLiteral("新規(&N)"));
    MenuNew->setShortcuts(StandardKeys(QKeySequence::New, QKeySequence(Qt::CTRL | Qt::Key_N)));
    MenuOpen = File->addAction(QStringLiteral("開く(&L)"));
    MenuOpen->setShortcuts(StandardKeys(QKeySequence::Open, QKeySequence(Qt::CTRL | Qt::Key_O)));
    MenuSave = File->addAction(QStringLiteral("上書保存(&S)"));
    MenuSave->setShortcuts(StandardKeys(QKeySequence::Save, QKeySequence(Qt::CTRL | Qt::Key_S)));
    SaveAs = File->addAction(QStringLiteral("名前を付けて保存(&A)"));
    SaveAs->setShortcuts(StandardKeys(QKeySequence::SaveAs, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)));
    File->addSeparator();
    MenuExportMidi = File->addAction(QStringLiteral("MIDIファイルに書き出し..."));
    MenuExportWav = File->addAction(QStringLiteral("WAVファイルに書き出し..."));
    File->addSeparator();
    X1 = File->addAction(QStringLiteral("終了(&X)"));
    X1->setShortcuts(StandardKeys(QKeySequence::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q)));
    // Tool bar buttons take no keyboard focus: this menu puts Compile and the transport within the
    // keyboard's reach, as the file menu does the document buttons.
    MenuPlay = menuBar()->addMenu(QStringLiteral("演奏(&P)"));
    MenuPlay->addAction(BtnCompile);
    MenuPlay->addSeparator();
    MenuPlay->addActions({BtnPlay, BtnTime, BtnSlow, BtnFast, BtnStop});
    MenuPlay->addSeparator();
    MenuPlay->addActions({BtnPlayFromCursor, BtnFollow});
    Port = menuBar()->addAction(QStringLiteral("ポート"));
    Version = menuBar()->addAction(QStringLiteral("バージョン"));

    connect(MenuNew, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnNewClick));
    connect(MenuOpen, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnOpenClick));
    connect(MenuSave, &QAction::triggered, this, GuardedSlot(this, &TFormMain::BtnSaveClick));
    connect(SaveAs, &QAction::triggered, this, GuardedSlot(this, &TFormMain::SaveAsClick));
    connect(MenuExportMidi, &QAction::triggered, this, GuardedSlot(this, &TFormMain::ExportMidiClick));
    connect(MenuExportWav, &QAction::triggered, this, GuardedSlot(this, &TFormMain::ExportWavClick));
    connect(X1, &QAction::triggered, this, &QWidget::close);
    connect(Port, &QAction::triggered, this, GuardedSlot(this, &TFormMain::PortClick));
    connect(Version, &QAction::triggered, this, GuardedSlot(this, &TFormMain::VersionClick));
}

void TFormMain::CreateCentralArea()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // Panel1: the tool bar, the position bar and the elapsed time, side by side.
    auto* panel1 = new QFrame(central);
    panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel1->setFixedHeight(43);
    auto* row = new QHBoxLayout(panel1);
    row->setContentsMargins(2, 2, 2, 2);
    // Every tool bar button stays in sight; the position bar gives up width when the row is short.
    ToolBar1->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    row->addWidget(ToolBar1);
    TrackBar = new TTrackBarEx(panel1);
    TrackBar->setObjectName(QStringLiteral("TrackBar"));
    TrackBar->setAccessibleName(QStringLiteral("再生位置"));
    TrackBar->setRange(0, 100);
    TrackBar->setValue(0);
    TrackBar->setTickPosition(QSlider::NoTicks);
    TrackBar->setFixedHeight(23);
    TrackBar->setMinimumWidth(240);
    TrackBar->setMaximumWidth(476);
    TrackBar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    TrackBar->setFocusPolicy(Qt::NoFocus);
    row->addWidget(TrackBar);
    LabelTime = new QLabel(QStringLiteral("00:00:00"), panel1);
    LabelTime->setObjectName(QStringLiteral("LabelTime"));
    LabelTime->setAccessibleName(QStringLiteral("経過時間"));
    LabelTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LabelTime->setFixedSize(113, 25);
    LabelTime->setIndent(4);
    QFont timeFont = JapaneseFont(FontFamily::Monospace, 23);
    timeFont.setBold(true);
    LabelTime->setFont(timeFont);
    LabelTime->setStyleSheet(QStringLiteral("QLabel { color: lime; background-color: black; }"));
    row->addWidget(LabelTime);
    row->addStretch();
    layout->addWidget(panel1);

    // The editor above the message pane, with a splitter between them.
    Splitter1 = new QSplitter(Qt::Vertical, central);
    Splitter1->setHandleWidth(5);
    Splitter1->setChildrenCollapsible(false);
    MMLText = new TMMLEditor(Splitter1);
    MMLText->setObjectName(QStringLiteral("MMLText"));
    MMLText->setAccessibleName(QStringLiteral("MML"));
    MMLText->setFont(JapaneseFont(FontFamily::Monospace, 18));
    MMLText->setLineWrapMode(QPlainTextEdit::NoWrap);
    MMLText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MMLText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MMLText->setTabChangesFocus(false);
    MMLText->installEventFilter(this);
    Memo1 = new QPlainTextEdit(Splitter1);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(QStringLiteral("メッセージ"));
    Memo1->setReadOnly(true);
    Splitter1->addWidget(MMLText);
    Splitter1->addWidget(Memo1);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setSizes({458, 48});
    layout->addWidget(Splitter1, 1);
    setCentralWidget(central);

    connect(MMLText, &QPlainTextEdit::textChanged, this, GuardedSlot(this, &TFormMain::MMLTextChange));
    connect(MMLText->document(), &QTextDocument::modificationChanged, this,
            GuardedSlot(this, &TFormMain::MMLTextChange));
}

void TFormMain::CreateStatusBar()
{
    const int widths[] = {80, 50, 50};
    for (std::size_t i = 0; i < StatusPanels.size(); ++i) {
        auto* panel = new QLabel(this);
        panel->setFixedWidth(widths[i]);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        StatusPanels[i] = panel;
        statusBar()->addWidget(panel);
    }
    statusBar()->setFixedHeight(25);
    StatusPanels[1]->setText(StatusInsert);
}

void TFormMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // The first showing starts an empty, unnamed document.
    Guarded([this] {
        MMLText->document()->setModified(false);
        BtnNewClick();
        MMLTextChange();
    });
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    if (compiling_) {
        // The compile ends first; the window then closes as asked, offering to save as always.
        cancelCompile_ = true;
        closeAfterCompile_ = true;
        event->ignore();
        return;
    }
    bool close = false;
    Guarded([&] { close = MaybeSave(); });
    if (close)
        event->accept();
    else
        event->ignore();
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == MMLText && event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat()) Guarded([&] { Memo1KeyDown(key->key()); });
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormMain::Memo1KeyDown(int key)
{
    if (key != Qt::Key_Insert) return;
    OverwriteMode = !OverwriteMode;
    MMLText->setOverwriteMode(OverwriteMode);
    StatusPanels[1]->setText(OverwriteMode ? StatusOverwrite : StatusInsert);
}

void TFormMain::MMLTextChange()
{
    if (MMLText->document()->isModified()) {
        BtnSave->setEnabled(true);
        StatusPanels[0]->setText(StatusModified);
        // Changed text must be compiled again before it can be played.
        BtnPlay->setEnabled(false);
    } else {
        StatusPanels[0]->clear();
    }
}

namespace {
// A compile that has run this long without ending is shown as running, and can be cancelled.
constexpr int CompileNoticeMs = 500;
constexpr int CompilePollMs = 20;
}  // namespace

void TFormMain::BtnCompileClick()
{
    if (compiling_) return;  // the compile in progress is the one that counts
    DisplayTimer->stop();
    for (QAction* action : {BtnSlow, BtnTime, BtnFast, BtnPlay}) action->setEnabled(false);
    Midis().StopAll();
    // The new song, or the old one after a cancel, starts from its beginning: resuming would sound
    // everything before the paused place at once.
    ResumeOnPlay = false;
    MMLText->ClearErrorLine();
    MMLText->MarkPlayingLine(0, false);
    followPort_ = -1;

    // The text is compiled on a thread of its own, so a long compile leaves the window free and
    // can be cancelled without touching the song the players hold.
    const QString text = EditorText();
    const std::string utf8 = text.toStdString();
    TMML& compiler = compiler_;
    // A port with no tempo command keeps the tempo its player has.
    const TMML::TPortTempos tempos = Midis().Tempos();
    TSong song;
    SetCompiling(true);
    QElapsedTimer running;
    running.start();
    try {
        RunWhileResponsive([&] { song = compiler.CompileDocument(utf8, tempos); },
                           [&] {
                               if (cancelCompile_) compiler.RequestCancel();
                               if (running.elapsed() >= CompileNoticeMs) StatusPanels[2]->setText(StatusCompiling);
                           },
                           CompilePollMs);
    } catch (...) {
        SetCompiling(false);
        throw;
    }
    SetCompiling(false);
    if (song.Cancelled) {
        // Nothing changes: the players keep the previous song and the pane its lines.
        compiler.Recycle(std::move(song));
        Memo1->appendPlainText(CompileCancelled);
        BtnPlay->setEnabled(compiled_ && compiledText_ == text);
        BtnStop->setChecked(true);
        if (std::exchange(closeAfterCompile_, false)) QTimer::singleShot(0, this, [this] { close(); });
        return;
    }

    // The assigned devices open before the song is shown: a device that fails is all the user
    // hears of this compile, and nothing is left to play.
    try {
        Midis().Reopen(FormPort != nullptr ? FormPort->PortDevices : TPortDevices{-1, -1, -1, -1});
    } catch (...) {
        compiled_ = false;
        if (std::exchange(closeAfterCompile_, false)) QTimer::singleShot(0, this, [this] { close(); });
        throw;
    }
    lostReported_ = {};
    Midis().Load(song);
    // The song it replaces lends its memory to the next compile.
    compiler.Recycle(std::exchange(song_, std::move(song)));
    compiled_ = true;
    compiledText_ = text;
    compileFailed_ = song_.Failed();
    // The pane shows what this compile reported. The error stays in it after the box is closed,
    // so it can be read again.
    Memo1->clear();
    for (const std::string& line : song_.Memo)
        Memo1->appendPlainText(QString::fromStdString(line).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    if (compileFailed_) {
        const QString error = QString::fromStdString(song_.Error);
        Memo1->appendPlainText(error);
        UserDialogs().Message(this, QMessageBox::NoIcon, ProductName, error, QMessageBox::Ok);
    }
    // The box has been closed: the cursor goes to where the error is, in a macro body the body's
    // own line.
    if (compileFailed_) MMLText->MarkErrorLine(song_.ErrorLine);
    // The bar measures the new song, so that it can be dragged to a place before the first Play.
    TrackBar->setMaximum(song_.Length());
    TrackBar->setValue(0);
    TrackBar->setEnabled(true);
    BtnPlay->setEnabled(true);
    BtnStop->setChecked(true);
    if (std::exchange(closeAfterCompile_, false)) QTimer::singleShot(0, this, [this] { close(); });
}

void TFormMain::SetCompiling(bool value)
{
    compiling_ = value;
    cancelCompile_ = false;
    if (!value) StatusPanels[2]->clear();
    // Whatever would start another compile, replace the text being compiled or play a song that
    // is about to be replaced waits until this one has ended.
    for (QAction* action : {BtnCompile, BtnPlayFromCursor, BtnNew, BtnOpen, MenuNew, MenuOpen, MenuExportMidi,
                            MenuExportWav, Port})
        action->setEnabled(!value);
    CancelCompileShortcut->setEnabled(value);
}

void TFormMain::CancelCompile()
{
    if (compiling_) cancelCompile_ = true;
}

void TFormMain::PortClick()
{
    if (FormPort != nullptr) UserDialogs().Exec(*FormPort);
}

void TFormMain::VersionClick()
{
    UserDialogs().Message(this, QMessageBox::NoIcon, ProductName, QStringLiteral("        Version β版 0.01        "),
                          QMessageBox::Ok);
}
