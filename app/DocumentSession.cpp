// The window's documents beyond reading and writing them: a clean slate for each document, the
// recently used files, a file dropped on the window, the window's remembered size, and the
// recovery copy of unsaved text.
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <utility>

#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/DocumentLoader.h"
#include "app/MainWindow.h"
#include "app/PositionBar.h"
#include "app/Recovery.h"
#include "app/TrackPanel.h"
#include "app/WindowSettings.h"
#include "song/Exception.h"

namespace {

// The default interval of the recovery copy. A test shortens it with Recovery().SetInterval, or
// for a program it starts as a child process, through this variable.
int RecoveryIntervalMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("QUAVERLY_RECOVERY_INTERVAL_MS", &ok);
    return ok && ms > 0 ? ms : 60000;
}

// The first local file a drag carries; empty for anything else (text keeps its usual drop).
QString DroppedFile(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return url.toLocalFile();
    return {};
}

// Takes a dragged file from whatever it watches and opens it as the document, in place of the
// editor's habit of inserting the file's address into the text.
class TDropOpener : public QObject {
public:
    TDropOpener(QObject* parent, std::function<void(const QString&)> open) : QObject(parent), open_(std::move(open)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QString path = DroppedFile(drop->mimeData());
            if (path.isEmpty()) break;
            drop->acceptProposedAction();
            // Opened once the drag has ended: the unsaved-changes question is a modal box, which
            // must not run inside the drag's own handling.
            if (event->type() == QEvent::Drop) QTimer::singleShot(0, parent(), [open = open_, path] { open(path); });
            return true;
        }
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(const QString&)> open_;
};

}  // namespace

void TMainWindow::CreateSession()
{
    recentMenu = new QMenu(QStringLiteral("最近使ったファイル(&R)"), this);
    recentMenu->setObjectName(QStringLiteral("recentMenu"));
    recentMenu->menuAction()->setToolTip(QStringLiteral("最近使ったファイルを開きます"));
    QAction* separator = fileMenu->insertSeparator(exportMidiAction);
    fileMenu->insertMenu(separator, recentMenu);
    FillRecentMenu();

    auto* dropOpener = new TDropOpener(this, [this](const QString& path) { OpenFile(path); });
    setAcceptDrops(true);
    for (QObject* target : {static_cast<QObject*>(this), static_cast<QObject*>(editor->viewport()),
                            static_cast<QObject*>(messagePane->viewport())})
        target->installEventFilter(dropOpener);

    loader_ = new TDocumentLoader(
        editor, [this](int percent) { ShowLoadProgress(percent); },
        [this] { Guarded([this] { SetLoading(false); }); });
    recovery_ = new TRecovery(this, [this] { Guarded([this] { WriteRecovery(); }); }, RecoveryIntervalMs());
    RestoreWindowState();
}

void TMainWindow::ClearSession()
{
    // The pane, the time and the bar told of the previous document's compile and playing.
    stopAction->setChecked(true);
    Stop();
    messagePane->clear();
    elapsedMs_ = 0;
    timeLabel->setText(FormatElapsed(0));
    positionBar->setRange(0, 100);
    positionBar->setValue(0);
    positionBar->setEnabled(true);
    editor->ClearErrorLine();
    editor->MarkPlayingLine(0, false);
    sounding_ = {};
    compiled_ = false;
    compiledText_.clear();
    compileFailed_ = false;
    // The song position, the song's length and its tracks were the compiled song's.
    songClock_ = {};
    ShowSongPosition(0);
    trackPanel->SetTracks({});
}

void TMainWindow::RememberRecentFile(const QString& path)
{
    TWindowSettings::AddRecentFile(path);
    FillRecentMenu();
}

void TMainWindow::FillRecentMenu()
{
    recentMenu->clear();
    const QStringList files = TWindowSettings::RecentFiles();
    if (files.isEmpty()) {
        recentMenu->addAction(QStringLiteral("(なし)"))->setEnabled(false);
        return;
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString path = files[i];
        QAction* action = recentMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()));
        action->setObjectName(QStringLiteral("recentFile%1").arg(i + 1));
        action->setToolTip(QDir::toNativeSeparators(path));
        action->setData(path);
        connect(action, &QAction::triggered, this, [this, path] {
            // A file that is gone leaves the list; the failed open has told the user.
            if (!OpenFile(path) && !QFileInfo::exists(path)) {
                TWindowSettings::RemoveRecentFile(path);
                FillRecentMenu();
            }
        });
    }
}

void TMainWindow::StoreWindowState() const
{
    TWindowSettings::WriteWindowState({saveGeometry(), splitter->saveState(), editor->FontPointSize(), saveState()});
}

void TMainWindow::RestoreWindowState()
{
    const TWindowSettings::TWindowState state = TWindowSettings::ReadWindowState();
    if (!state.Geometry.isEmpty()) restoreGeometry(state.Geometry);
    if (!state.Splitter.isEmpty()) splitter->restoreState(state.Splitter);
    if (state.FontPoints > 0) editor->SetFontPointSize(state.FontPoints);
    // The docks: the track panel open or closed, and its width, as the user left them.
    if (!state.Docks.isEmpty()) restoreState(state.Docks);
}

void TMainWindow::WriteRecovery()
{
    QTextDocument* document = editor->document();
    if (!document->isModified()) {
        recovery_->Remove();
        recoveredRevision_ = -1;
        return;
    }
    if (document->revision() == recoveredRevision_) return;
    recoveredRevision_ = document->revision();
    try {
        recovery_->Write({fileName_, documentForm_, QDateTime::currentDateTime(), EditorText()});
    } catch (const Exception& e) {
        // Told once for each state of the text, in the pane, not in a box every minute.
        messagePane->appendPlainText(QString::fromStdString(e.Message()));
    }
}

void TMainWindow::OfferRecovery()
{
    const std::optional<TRecoveredDocument> recovered = TRecovery::Read();
    if (!recovered) return;
    const QString name = recovered->DocumentPath.isEmpty() ? QStringLiteral("新規") : recovered->DocumentPath;
    const QString when = recovered->Written.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    const QMessageBox::StandardButton answer = UserDialogs().Message(
        this, QMessageBox::Question, QStringLiteral("確認"),
        QStringLiteral("前回、保存されずに終了した文書があります。\n%1（%2）\n\n復元しますか？（「復元」で復元、「破棄」で削除）")
            .arg(name, when),
        QMessageBox::Yes | QMessageBox::Discard,
        {{QMessageBox::Yes, QStringLiteral("復元")}, {QMessageBox::Discard, QStringLiteral("破棄")}});
    if (answer != QMessageBox::Yes) {
        TRecovery::Discard();
        return;
    }
    ClearSession();
    editor->setPlainText(recovered->Text);
    documentForm_ = recovered->Form;
    SetCurrentFile(recovered->DocumentPath);
    // The text was never saved: it stays modified, and the copy is this run's to keep and remove.
    editor->document()->setModified(true);
    ApplyModifiedState();
    recovery_->Adopt();
    recoveredRevision_ = -1;
}
