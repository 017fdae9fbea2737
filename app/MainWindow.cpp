// The main window: its construction, layout, menu and status bar, and the Compile, port and
// version commands. Documents are in Documents.cpp, the transport in Transport.cpp.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
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
#include "app/DocumentLoader.h"
#include "formats/Document.h"
#include "app/Fonts.h"
#include "app/MainWindow.h"
#include "app/PortDialog.h"
#include "app/PositionBar.h"
#include "app/Recovery.h"
#include "app/TrackPanel.h"
#include "app/Worker.h"

namespace {

const QString StatusModified = QStringLiteral("変更有り");
const QString StatusInsert = QStringLiteral("挿入");
const QString StatusCompiling = QStringLiteral("コンパイル中…");
const QString CompileCancelled = QStringLiteral("コンパイルを中止しました");
const QString StatusOverwrite = QStringLiteral("上書き");

}  // namespace

TMainWindow::TMainWindow(TClock& clock, QWidget* parent) : QMainWindow(parent), clock_(clock)
{
    setWindowTitle(ProductName + QStringLiteral("[*]"));
    setFont(JapaneseFont(FontFamily::Proportional, 15));
    CreateActions();
    CreateToolBar();
    CreateMenus();
    CreateCentralArea();
    CreateStatusBar();
    CreateTrackDock();
    CreateEditing();

    // The players send on the process's MIDI service at the time each port opens.
    players_ = std::make_unique<TMidis>(nullptr, &clock_);
    displayTimer = new QTimer(this);
    displayTimer->setObjectName(QStringLiteral("displayTimer"));
    displayTimer->setInterval(100);
    connect(displayTimer, &QTimer::timeout, this, GuardedSlot(this, &TMainWindow::RefreshDisplay));
    // The bar tells of its press and its release, so that a drag seeks once, at the release.
    positionBar->OnMouseDown = [this] { Guarded([this] { BeginSeek(); }); };
    positionBar->OnMouseUp = [this] { Guarded([this] { EndSeek(); }); };
    // Choosing other lines while the music goes round moves the loop to them at once.
    connect(editor, &QPlainTextEdit::selectionChanged, this, GuardedSlot(this, &TMainWindow::FollowSelectionWithLoop));

    resize(960, 604);
    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    // Last: the stored size and place, when there are any, replace the first-run ones above.
    CreateSession();
}

TMainWindow::~TMainWindow()
{
    // The refresh stops first; destroying the players then silences and closes every open port
    // while the window's controls still exist.
    displayTimer->stop();
    players_.reset();
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

void TMainWindow::CreateActions()
{
    // One action per command: the menus and the tool bar show the same action, so a command has
    // one enabled state, one check state and one handler wherever the user reaches it.
    const auto make = [this](const char* name, const QString& text) {
        auto* action = new QAction(text, this);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    // A tool bar button shows its icon and names itself by its hint; its menu item, when it has one
    // of its own spelling, keeps the text with the mnemonic.
    const auto button = [this](QAction* action, const QString& hint, QStyle::StandardPixmap icon) {
        action->setIcon(style()->standardIcon(icon));
        action->setIconText(hint);
        action->setToolTip(hint);
    };

    newAction = make("newAction", QStringLiteral("新規(&N)"));
    newAction->setShortcuts(StandardKeys(QKeySequence::New, QKeySequence(Qt::CTRL | Qt::Key_N)));
    button(newAction, QStringLiteral("新規"), QStyle::SP_FileIcon);
    openAction = make("openAction", QStringLiteral("開く(&L)"));
    openAction->setShortcuts(StandardKeys(QKeySequence::Open, QKeySequence(Qt::CTRL | Qt::Key_O)));
    button(openAction, QStringLiteral("開く"), QStyle::SP_DialogOpenButton);
    saveAction = make("saveAction", QStringLiteral("上書保存(&S)"));
    saveAction->setShortcuts(StandardKeys(QKeySequence::Save, QKeySequence(Qt::CTRL | Qt::Key_S)));
    button(saveAction, QStringLiteral("上書保存"), QStyle::SP_DialogSaveButton);
    // The file menu lists its items as text, without the tool bar's pictures.
    for (QAction* action : {newAction, openAction, saveAction}) action->setIconVisibleInMenu(false);
    saveAsAction = make("saveAsAction", QStringLiteral("名前を付けて保存(&A)"));
    saveAsAction->setShortcuts(StandardKeys(QKeySequence::SaveAs, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)));
    exportMidiAction = make("exportMidiAction", QStringLiteral("MIDIファイルに書き出し..."));
    exportWavAction = make("exportWavAction", QStringLiteral("WAVファイルに書き出し..."));
    exportStemsAction = make("exportStemsAction", QStringLiteral("トラックごとに書き出す(&T)..."));
    exitAction = make("exitAction", QStringLiteral("終了(&X)"));
    exitAction->setShortcuts(StandardKeys(QKeySequence::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q)));

    // Compile and the transport are named alike in the play menu and on the tool bar.
    const auto command = [&](const char* name, const QString& hint, QStyle::StandardPixmap icon) {
        QAction* action = make(name, hint);
        button(action, hint, icon);
        return action;
    };
    compileAction = command("compileAction", QStringLiteral("コンパイル"), QStyle::SP_BrowserReload);
    playAction = command("playAction", QStringLiteral("再生"), QStyle::SP_MediaPlay);
    pauseAction = command("pauseAction", QStringLiteral("一時停止"), QStyle::SP_MediaPause);
    slowAction = command("slowAction", QStringLiteral("スロー"), QStyle::SP_MediaSeekBackward);
    fastAction = command("fastAction", QStringLiteral("早送り"), QStyle::SP_MediaSeekForward);
    stopAction = command("stopAction", QStringLiteral("停止"), QStyle::SP_MediaStop);
    playFromCursorAction =
        command("playFromCursorAction", QStringLiteral("カーソル位置から再生"), QStyle::SP_MediaSkipForward);
    followAction = command("followAction", QStringLiteral("演奏位置を表示"), QStyle::SP_FileDialogContentsView);
    loopAction = command("loopAction", QStringLiteral("繰り返し再生"), QStyle::SP_DialogResetButton);
    // The menu spells it with its mnemonic; the tool bar keeps the plain hint.
    loopAction->setText(QStringLiteral("繰り返し再生(&L)"));
    compileAction->setShortcut(QKeySequence(Qt::Key_F5));
    playFromCursorAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F5));
    followAction->setCheckable(true);
    loopAction->setCheckable(true);
    compileAndPlayAction = make("compileAndPlayAction", QStringLiteral("コンパイルして再生(&E)"));
    // Return on the main keys and Enter on the keypad alike.
    compileAndPlayAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    // Function keys, which typing never needs: Space belongs to the text being written.
    playPauseAction = make("playPauseAction", QStringLiteral("再生/一時停止"));
    playPauseAction->setShortcut(QKeySequence(Qt::Key_F6));

    // The five transport buttons are one radio group: pressing one releases the others.
    transportGroup = new QActionGroup(this);
    transportGroup->setObjectName(QStringLiteral("transportGroup"));
    transportGroup->setExclusive(true);
    for (QAction* action : {playAction, pauseAction, slowAction, fastAction, stopAction}) {
        action->setCheckable(true);
        transportGroup->addAction(action);
    }
    stopAction->setChecked(true);
    stopAction->setShortcut(QKeySequence(Qt::Key_F7));
    for (QAction* action : {playAction, pauseAction, slowAction, fastAction}) action->setEnabled(false);

    portAction = make("portAction", QStringLiteral("ポート"));
    versionAction = make("versionAction", QStringLiteral("バージョン"));

    connect(newAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::New));
    connect(openAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::Open));
    connect(saveAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::Save));
    connect(saveAsAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::SaveAs));
    connect(exportMidiAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::ExportMidi));
    connect(exportWavAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::ExportWav));
    connect(exportStemsAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::ExportStems));
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
    connect(compileAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::Compile));
    connect(playAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::Play));
    connect(pauseAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::Pause));
    connect(slowAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::Slow));
    connect(fastAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::Fast));
    connect(stopAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::Stop));
    connect(playFromCursorAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::PlayFromCursor));
    connect(followAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::ApplyFollow));
    connect(loopAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::ApplyLoop));
    connect(compileAndPlayAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::CompileAndPlay));
    connect(playPauseAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::PlayPause));
    connect(portAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::OpenPortDialog));
    connect(versionAction, &QAction::triggered, this, GuardedSlot(this, &TMainWindow::ShowVersion));

    cancelCompileShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    cancelCompileShortcut->setObjectName(QStringLiteral("cancelCompileShortcut"));
    cancelCompileShortcut->setContext(Qt::WindowShortcut);
    cancelCompileShortcut->setEnabled(false);
    connect(cancelCompileShortcut, &QShortcut::activated, this, GuardedSlot(this, &TMainWindow::CancelCompile));
}

void TMainWindow::CreateToolBar()
{
    toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setIconSize(QSize(24, 24));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->addActions({newAction, openAction, saveAction});
    toolBar->addSeparator();
    toolBar->addAction(compileAction);
    toolBar->addSeparator();
    toolBar->addActions({playAction, pauseAction, slowAction, fastAction, stopAction});
    toolBar->addSeparator();
    toolBar->addActions({playFromCursorAction, followAction, loopAction});
    for (QAction* action : toolBar->actions()) {
        if (action->isSeparator()) continue;
        QWidget* button = toolBar->widgetForAction(action);
        button->setFixedSize(31, 30);
        // Screen readers name a button by its hint, as sighted users know it.
        button->setAccessibleName(action->toolTip());
    }
    saveButton = toolBar->widgetForAction(saveAction);
    saveButton->setObjectName(QStringLiteral("saveButton"));
}

void TMainWindow::CreateMenus()
{
    fileMenu = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    fileMenu->setObjectName(QStringLiteral("fileMenu"));
    fileMenu->addActions({newAction, openAction, saveAction, saveAsAction});
    fileMenu->addSeparator();
    fileMenu->addActions({exportMidiAction, exportWavAction, exportStemsAction});
    fileMenu->addSeparator();
    fileMenu->addAction(exitAction);
    // Tool bar buttons take no keyboard focus: this menu puts Compile and the transport within the
    // keyboard's reach, as the file menu does the document buttons.
    playMenu = menuBar()->addMenu(QStringLiteral("演奏(&P)"));
    playMenu->setObjectName(QStringLiteral("playMenu"));
    playMenu->addActions({compileAction, compileAndPlayAction});
    playMenu->addSeparator();
    playMenu->addActions({playAction, pauseAction, slowAction, fastAction, stopAction, playPauseAction});
    playMenu->addSeparator();
    playMenu->addActions({playFromCursorAction, followAction, loopAction});
    // The track panel's item is added with the dock (CreateTrackDock).
    menuBar()->addActions({portAction, versionAction});
}

void TMainWindow::CreateCentralArea()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The tool bar, the position bar and the elapsed time, side by side.
    auto* transportRow = new QFrame(central);
    transportRow->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    transportRow->setFixedHeight(43);
    auto* row = new QHBoxLayout(transportRow);
    row->setContentsMargins(2, 2, 2, 2);
    // Every tool bar button stays in sight; the position bar gives up width when the row is short.
    toolBar->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    row->addWidget(toolBar);
    positionBar = new TPositionBar(transportRow);
    positionBar->setObjectName(QStringLiteral("positionBar"));
    positionBar->setAccessibleName(QStringLiteral("再生位置"));
    positionBar->setRange(0, 100);
    positionBar->setValue(0);
    positionBar->setTickPosition(QSlider::NoTicks);
    positionBar->setFixedHeight(23);
    positionBar->setMinimumWidth(240);
    positionBar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    positionBar->setFocusPolicy(Qt::NoFocus);
    row->addWidget(positionBar);
    timeLabel = new QLabel(QStringLiteral("00:00:00"), transportRow);
    timeLabel->setObjectName(QStringLiteral("timeLabel"));
    timeLabel->setAccessibleName(QStringLiteral("経過時間"));
    timeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    timeLabel->setFixedSize(113, 25);
    timeLabel->setIndent(4);
    QFont timeFont = JapaneseFont(FontFamily::Monospace, 23);
    timeFont.setBold(true);
    timeLabel->setFont(timeFont);
    timeLabel->setStyleSheet(QStringLiteral("QLabel { color: lime; background-color: black; }"));
    // The song position beside the playing time: where in the piece the music is, as a musician
    // counts it, and in the song's own time with its length. Two small lines in the row's height;
    // the playing time stays at the row's right end.
    auto* songColumn = new QVBoxLayout;
    songColumn->setContentsMargins(0, 0, 4, 0);
    songColumn->setSpacing(0);
    const QFont songFont = JapaneseFont(FontFamily::Monospace, 12);
    const auto songLabel = [&](const char* name, const QString& accessible, int width) {
        auto* label = new QLabel(transportRow);
        label->setObjectName(QString::fromLatin1(name));
        label->setAccessibleName(accessible);
        label->setFont(songFont);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setFixedWidth(width);
        songColumn->addWidget(label);
        return label;
    };
    positionLabel = songLabel("positionLabel", QStringLiteral("小節:拍"), 130);
    songTimeLabel = songLabel("songTimeLabel", QStringLiteral("曲の時間"), 130);
    row->addLayout(songColumn);
    row->addWidget(timeLabel);
    layout->addWidget(transportRow);

    // The editor above the message pane, with a splitter between them.
    splitter = new QSplitter(Qt::Vertical, central);
    splitter->setObjectName(QStringLiteral("splitter"));
    splitter->setHandleWidth(5);
    splitter->setChildrenCollapsible(false);
    editor = new TMMLEditor(splitter);
    editor->setObjectName(QStringLiteral("editor"));
    editor->setAccessibleName(QStringLiteral("MML"));
    editor->SetBaseFont(JapaneseFont(FontFamily::Monospace, 18));
    editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    editor->setTabChangesFocus(false);
    editor->installEventFilter(this);
    messagePane = new QPlainTextEdit(splitter);
    messagePane->setObjectName(QStringLiteral("messagePane"));
    messagePane->setAccessibleName(QStringLiteral("メッセージ"));
    messagePane->setReadOnly(true);
    splitter->addWidget(editor);
    splitter->addWidget(messagePane);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setSizes({458, 48});
    layout->addWidget(splitter, 1);
    setCentralWidget(central);

    connect(editor, &QPlainTextEdit::textChanged, this, GuardedSlot(this, &TMainWindow::ApplyModifiedState));
    connect(editor->document(), &QTextDocument::modificationChanged, this,
            GuardedSlot(this, &TMainWindow::ApplyModifiedState));
}

void TMainWindow::CreateStatusBar()
{
    const auto panel = [this](const char* name, int width) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setFixedWidth(width);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        statusBar()->addWidget(label);
        return label;
    };
    modifiedPanel = panel("modifiedPanel", 80);
    typingModePanel = panel("typingModePanel", 50);
    compilePanel = panel("compilePanel", 50);
    statusBar()->setFixedHeight(25);
    typingModePanel->setText(StatusInsert);
}

void TMainWindow::CreateTrackDock()
{
    trackDock = new QDockWidget(QStringLiteral("トラック一覧"), this);
    trackDock->setObjectName(QStringLiteral("trackDock"));
    trackDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    trackPanel = new TTrackPanel(trackDock);
    trackPanel->setObjectName(QStringLiteral("trackPanel"));
    trackDock->setWidget(trackPanel);
    addDockWidget(Qt::RightDockWidgetArea, trackDock);
    // Hidden until asked for; the stored window state brings back what the user left open.
    trackDock->hide();
    // A dock shown beside a laid-out window gets only what is spare; once it is laid out, it is
    // given room for all its columns, mute and solo included.
    connect(trackDock, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (!visible || trackDock->isFloating()) return;
        QTimer::singleShot(0, this, [this] {
            const int wanted = trackPanel->sizeHint().width();
            const int missing = wanted - trackDock->width();
            if (!trackDock->isVisible() || missing <= 0) return;
            // The editor's side keeps its width; the window grows as far as its screen allows.
            if (!isMaximized() && !isFullScreen() && screen() != nullptr) {
                const int room = screen()->availableGeometry().right() - frameGeometry().right();
                if (room > 0) resize(width() + std::min(room, missing), height());
            }
            resizeDocks({trackDock}, {wanted}, Qt::Horizontal);
        });
    });
    // The dock's own toggle follows every way it is shown or closed (its close button too).
    trackPanelAction = trackDock->toggleViewAction();
    trackPanelAction->setObjectName(QStringLiteral("trackPanelAction"));
    trackPanelAction->setText(QStringLiteral("トラック一覧(&K)"));
    playMenu->addSeparator();
    playMenu->addAction(trackPanelAction);
    connect(trackPanel, &TTrackPanel::silencedChanged, this,
            [this](const TTrackSet& silenced) { Guarded([&] { ApplySilencedTracks(silenced); }); });
    ShowSongPosition(0);
}

void TMainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // The first showing starts an empty, unnamed document.
    Guarded([this] {
        editor->document()->setModified(false);
        New();
        ApplyModifiedState();
    });
}

void TMainWindow::closeEvent(QCloseEvent* event)
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
    if (close) {
        event->accept();
        // The rest of a document still loading is not wanted any more.
        loader_->Cancel();
        // A normal end: the window's state is kept and the recovery copy is no longer needed.
        Guarded([this] {
            StoreWindowState();
            recovery_->Remove();
        });
    } else {
        event->ignore();
    }
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The typing mode follows the Insert key's release, when the editor has already switched.
    if (watched == editor && event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat() && key->key() == Qt::Key_Insert) Guarded([this] { ToggleOverwrite(); });
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainWindow::ToggleOverwrite()
{
    overwriteMode_ = !overwriteMode_;
    editor->setOverwriteMode(overwriteMode_);
    typingModePanel->setText(overwriteMode_ ? StatusOverwrite : StatusInsert);
}

void TMainWindow::ApplyModifiedState()
{
    // The caption's [*] shows the mark.
    setWindowModified(editor->document()->isModified());
    if (editor->document()->isModified()) {
        // The tool bar's Save button lights up at a change and goes grey once the text is saved,
        // telling at a glance whether there is anything to save; the menu item and its key stay
        // available to write the file again at any time, so the state is the button's own.
        saveButton->setEnabled(true);
        modifiedPanel->setText(StatusModified);
        // Changed text must be compiled again before it can be played.
        playAction->setEnabled(false);
    } else {
        modifiedPanel->clear();
    }
}

namespace {
// A compile that has run this long without ending is shown as running, and can be cancelled.
constexpr int CompileNoticeMs = 500;
constexpr int CompilePollMs = 20;
}  // namespace

TMainWindow::TCompileOutcome TMainWindow::RunCompile(bool keepPlaying)
{
    if (compiling_) return TCompileOutcome::NotRun;  // the compile in progress is the one that counts
    if (!keepPlaying) {
        displayTimer->stop();
        for (QAction* action : {slowAction, pauseAction, fastAction, playAction}) action->setEnabled(false);
        Midis().StopAll();
        // The new song, or the old one after a cancel, starts from its beginning: resuming would
        // sound everything before the paused place at once.
        resumeOnPlay_ = false;
        editor->MarkPlayingLine(0, false);
        sounding_ = {};
    }
    editor->ClearErrorLine();

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
                               if (running.elapsed() >= CompileNoticeMs) compilePanel->setText(StatusCompiling);
                           },
                           CompilePollMs);
    } catch (...) {
        SetCompiling(false);
        throw;
    }
    SetCompiling(false);
    const auto closeIfAsked = [this] {
        if (std::exchange(closeAfterCompile_, false)) QTimer::singleShot(0, this, [this] { close(); });
    };
    if (song.Cancelled) {
        // Nothing changes: the players keep the previous song and the pane its lines.
        compiler.Recycle(std::move(song));
        messagePane->appendPlainText(CompileCancelled);
        if (!keepPlaying) {
            playAction->setEnabled(compiled_ && compiledText_ == text);
            stopAction->setChecked(true);
        }
        closeIfAsked();
        return TCompileOutcome::Cancelled;
    }

    const TPortDevices devices = portDialog_ != nullptr ? portDialog_->PortDevices() : TPortDevices{-1, -1, -1, -1};
    // Music that plays or is paused goes on with the new song; music that ended while the text
    // compiled is started afresh below, as when nothing played.
    const bool playing = Playing();
    const bool continuing = keepPlaying && (playing || (resumeOnPlay_ && pauseAction->isChecked()));
    if (continuing && song.Failed()) {
        // The music plays on with the song it has; the error is told as at any compile.
        ShowCompileReport(song);
        compiler.Recycle(std::move(song));
        closeIfAsked();
        return TCompileOutcome::Failed;
    }

    bool lost = false;
    for (int port = 0; port < TMidis::PortCount; ++port) lost = lost || Midis().Items(port).DeviceLost();
    try {
        if (continuing && openedDevices_ == devices && !lost) {
            // The same devices: the new song takes over where the music is, without the gap and
            // the device resets of a reopening.
            Midis().ContinueWith(song);
        } else if (continuing) {
            // Another assignment: the devices reopen, and the new song goes on from the place the
            // music had reached.
            const auto tick = static_cast<std::int32_t>(Midis().PositionTick());
            openedDevices_.reset();
            Midis().Reopen(devices);
            openedDevices_ = devices;
            lostReported_ = {};
            Midis().Load(song);
            Midis().Seek(tick);
            if (!playing) Midis().StopAll();
        } else {
            // The assigned devices open before the song is shown: a device that fails is all the
            // user hears of this compile, and nothing is left to play.
            openedDevices_.reset();
            Midis().Reopen(devices);
            openedDevices_ = devices;
            lostReported_ = {};
        }
    } catch (...) {
        compiled_ = false;
        if (continuing) {
            // The reopening stopped the music.
            stopAction->setChecked(true);
            StopPlayers();
        }
        closeIfAsked();
        throw;
    }
    if (!continuing) Midis().Load(song);
    // The song it replaces lends its memory to the next compile.
    compiler.Recycle(std::exchange(song_, std::move(song)));
    compiled_ = true;
    compiledText_ = text;
    compileFailed_ = song_.Failed();
    ShowCompileReport(song_);
    PrepareSong();
    playAction->setEnabled(true);
    if (continuing) {
        // The bar measures the new song from the place the music goes on at.
        positionBar->setMaximum(song_.Length());
        RestartFollow();
        ShowSongPosition(Midis().PositionTick());
        closeIfAsked();
        return TCompileOutcome::Continued;
    }
    // The bar measures the new song, so that it can be dragged to a place before the first Play.
    positionBar->setMaximum(song_.Length());
    positionBar->setValue(0);
    positionBar->setEnabled(true);
    stopAction->setChecked(true);
    ShowSongPosition(0);
    closeIfAsked();
    return compileFailed_ ? TCompileOutcome::Failed : TCompileOutcome::Loaded;
}

void TMainWindow::ShowCompileReport(const TSong& song)
{
    // The pane shows what this compile reported.
    messagePane->clear();
    for (const std::string& line : song.Memo)
        messagePane->appendPlainText(QString::fromStdString(line).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    ReportUnassignedPorts(song);
    if (!song.Failed()) return;
    // The error stays in the pane after the box is closed, so it can be read again.
    const QString error = QString::fromStdString(song.Error);
    messagePane->appendPlainText(error);
    UserDialogs().Message(this, QMessageBox::NoIcon, ProductName, error, QMessageBox::Ok);
    // The box has been closed: the cursor goes to where the error is, in a macro body the body's
    // own line.
    editor->MarkErrorLine(song.ErrorLine);
}

void TMainWindow::CompileAndPlay()
{
    if (compiling_) return;
    // Paused music counts as none: the new song starts from its beginning, as Play would after
    // a compile.
    const TCompileOutcome outcome = RunCompile(Playing());
    if (outcome != TCompileOutcome::Loaded || compiling_) return;
    // Nothing played (or the music ended meanwhile): the new song plays from its start.
    playAction->setChecked(true);
    Play();
}

void TMainWindow::PrepareSong()
{
    const int port = song_.LongestPort();
    songClock_ = TSongClock(song_.Ports[static_cast<std::size_t>(port)], song_.Tempos[static_cast<std::size_t>(port)]);
    trackPanel->SetTracks(TrackSummaries(song_));
    // Mute and solo stay on the tracks that are still there.
    ApplySilencedTracks(trackPanel->Silenced());
    ApplyLoop();
}

void TMainWindow::SetCompiling(bool value)
{
    compiling_ = value;
    cancelCompile_ = false;
    if (!value) compilePanel->clear();
    // Whatever would start another compile, replace the text being compiled or play a song that
    // is about to be replaced waits until this one has ended.
    for (QAction* action : {compileAction, compileAndPlayAction, playFromCursorAction, newAction, openAction,
                            exportMidiAction, exportWavAction, exportStemsAction, portAction})
        action->setEnabled(!value);
    cancelCompileShortcut->setEnabled(value);
}

void TMainWindow::CancelCompile()
{
    if (compiling_) cancelCompile_ = true;
}

void TMainWindow::OpenPortDialog()
{
    if (portDialog_ != nullptr) UserDialogs().Exec(*portDialog_);
}

void TMainWindow::ShowVersion()
{
    UserDialogs().Message(this, QMessageBox::NoIcon, ProductName, QStringLiteral("        Version β版 0.01        "),
                          QMessageBox::Ok);
}
