// The transport of the main window: play, pause, slow, fast and stop, the display refresh that
// keeps the elapsed time and the position bar current, and seeking with the bar.
//
// Everything here runs on the GUI thread, the refresh included (a QTimer), so the widgets are only
// ever touched by the thread that owns them, and a handler that switches the refresh off is sure
// that no refresh is running or will run.
#include <QAction>
#include <QLabel>
#include <QTimer>
#include <algorithm>

#include "app/MainWindow.h"
#include "app/PortDialog.h"
#include "app/PositionBar.h"

namespace {

// Where playing from a line starts: the first line at or after it that made any event (an event
// of a macro body counts at the line where the macro is used), and the earliest tick among that
// line's events, which for a line in a repeat body is its first pass. Going by the text's order
// rather than by the earliest event below the line matters when tracks are written one after
// another: the tracks further down start at the beginning of the song. -1 when nothing at or
// after the line made an event.
std::int32_t StartTickOfLine(const TMidis& midis, int line)
{
    int first = 0;
    std::int32_t tick = -1;
    for (int port = 0; port < midis.Count(); ++port) {
        const TMidiElements& list = midis.Items(port).Elements;
        for (int i = 0; i < list.Count(); ++i) {
            const TMidiElement& e = list.Items(i);
            const int at = e.TextLine();
            if (at < line) continue;
            if (first == 0 || at < first) {
                first = at;
                tick = e.Tick;
            } else if (at == first && e.Tick < tick) {
                tick = e.Tick;
            }
        }
    }
    return tick;
}

// Whether a port's list holds anything a device would be sent: a tempo alone makes no sound.
bool SendsToDevice(const TMidiElements& list)
{
    for (int i = 0; i < list.Count(); ++i)
        if (list.Items(i).Kind == ekShortMessage || list.Items(i).Kind == ekSysEx) return true;
    return false;
}

bool IsNoteOn(const TMidiElement& e)
{
    return e.Kind == ekShortMessage && (e.Status & 0xF0) == 0x90 && e.Data2 != 0;
}

}  // namespace

void TMainWindow::SetSpeedFactor(double factor)
{
    for (int i = 0; i < TSong::PortCount; ++i) Midis().Items(i).SpeedFactor = factor;
}

void TMainWindow::Play()
{
    displayTimer->stop();
    SetSpeedFactor(1.0);
    if (resumeOnPlay_) {
        resumeOnPlay_ = false;
        Midis().ResumeAll();
    } else {
        elapsedMs_ = 0;
        Midis().StopAll();
        positionBar->setMaximum(Midis().SongLength());
        if (Midis().IsEmpty()) {
            // Nothing compiled: the button springs back and nothing runs.
            stopAction->setChecked(true);
            playAction->setEnabled(true);
            positionBar->setEnabled(false);
            return;
        }
        positionBar->setEnabled(true);
        playAction->setEnabled(true);
        Midis().StartAll();
    }
    StartRefresh();
}

void TMainWindow::StartRefresh()
{
    for (QAction* action : {slowAction, pauseAction, fastAction}) action->setEnabled(true);
    lastTick_ = clock_.Now();
    displayTimer->start();
}

bool TMainWindow::EnsureCompiled()
{
    if (!compiled_ || compiledText_ != EditorText()) Compile();
    return compiled_ && !compileFailed_;
}

void TMainWindow::PlayFromCursor()
{
    const int line = editor->CursorLine();
    // After an error box the cursor stands on the error, which is what to look at first.
    if (!EnsureCompiled()) return;
    const std::int32_t tick = StartTickOfLine(Midis(), line);
    if (tick < 0) return;  // nothing at or after the cursor makes a sound

    // As Play from the start, then the seek of the position bar.
    displayTimer->stop();
    SetSpeedFactor(1.0);
    resumeOnPlay_ = false;
    elapsedMs_ = 0;
    Midis().StopAll();
    positionBar->setMaximum(Midis().SongLength());
    positionBar->setValue(tick);
    positionBar->setEnabled(true);
    playAction->setEnabled(true);
    playAction->setChecked(true);
    Midis().Seek(tick);
    RestartFollow();
    StartRefresh();
}

void TMainWindow::ApplyFollow()
{
    if (!followAction->isChecked()) {
        editor->MarkPlayingLine(0, false);
        followPort_ = -1;
        return;
    }
    if (displayTimer->isActive()) ShowPlayingLine();
}

void TMainWindow::RestartFollow()
{
    followPort_ = Midis().LongestPort();
    followScanned_ = Midis().Items(followPort_).Index;
    followLine_ = 0;
}

void TMainWindow::ShowPlayingLine()
{
    const int port = Midis().LongestPort();
    const TMidi& player = Midis().Items(port);
    const int sent = std::min(player.Index.load(), player.Elements.Count());
    if (port != followPort_ || sent < followScanned_) {
        // Another song, or the song started over: look from its beginning.
        followPort_ = port;
        followScanned_ = 0;
        followLine_ = 0;
    }
    // Only what was sent since the last look is read, newest first, so a long run of events
    // that are no notes is read once rather than at every refresh.
    for (int i = sent - 1; i >= followScanned_; --i) {
        const TMidiElement& e = player.Elements.Items(i);
        if (IsNoteOn(e)) {
            followLine_ = e.Line;
            break;
        }
    }
    followScanned_ = sent;
    editor->MarkPlayingLine(followLine_, true);
}

void TMainWindow::Pause()
{
    displayTimer->stop();
    for (QAction* action : {slowAction, pauseAction, fastAction}) action->setEnabled(false);
    playAction->setEnabled(true);
    resumeOnPlay_ = true;
    // The players keep their place, so the next Play continues from here.
    Midis().StopAll();
}

void TMainWindow::Slow()
{
    resumeOnPlay_ = true;
    SetSpeedFactor(0.5);
}

void TMainWindow::Fast()
{
    resumeOnPlay_ = true;
    SetSpeedFactor(2.0);
}

void TMainWindow::Stop()
{
    CancelCompile();
    displayTimer->stop();
    for (QAction* action : {slowAction, pauseAction, fastAction}) action->setEnabled(false);
    resumeOnPlay_ = false;
    Midis().StopAll();
}

QString TMainWindow::FormatElapsed(std::int64_t ms)
{
    return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(ms / 3600000),
                             static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60));
}

void TMainWindow::RefreshDisplay()
{
    displayTimer->stop();
    // The milliseconds the clock passed since the previous refresh, counted on the clock's own
    // millisecond boundaries so that no fraction is lost or counted twice between refreshes.
    const std::uint64_t now = clock_.Now();
    elapsedMs_ += static_cast<std::int64_t>(now / 1000 - lastTick_ / 1000);
    lastTick_ = now;

    ReportLostDevices();
    if (Midis().AllFinished()) {
        stopAction->setChecked(true);
        Stop();
        positionBar->setEnabled(false);
        displayTimer->stop();
        return;
    }

    timeLabel->setText(FormatElapsed(elapsedMs_));
    // The bar follows the port that plays longest. When every event of the song lies at tick 0
    // that can be a port without events; the bar then stays where it is.
    const TMidi& longest = Midis().Items(Midis().LongestPort());
    if (longest.Elements.Count() != 0) positionBar->setValue(longest.NextTick());
    if (followAction->isChecked()) ShowPlayingLine();
    displayTimer->start();
}

void TMainWindow::ReportLostDevices()
{
    // A port whose device went away has ended early while the others play on; without a word the
    // silence would look like the music.
    for (int port = 0; port < TMidis::PortCount; ++port) {
        bool& reported = lostReported_[static_cast<std::size_t>(port)];
        if (reported || !Midis().Items(port).DeviceLost()) continue;
        reported = true;
        messagePane->appendPlainText(QString::fromStdString(TMidi::LostDeviceMessage(port)));
    }
}

void TMainWindow::ReportUnassignedPorts()
{
    // Music for a port without a device is silent; without a word the user would hear nothing
    // and not know why.
    for (int port = 0; port < TSong::PortCount; ++port) {
        const auto index = static_cast<std::size_t>(port);
        const QString missing = portDialog_ != nullptr ? portDialog_->MissingDevices()[index] : QString();
        const QString number = QString::number(port + 1);
        if (!missing.isEmpty()) {
            messagePane->appendPlainText(
                QStringLiteral("ポート %1 のデバイス「%2」が見つかりません。割り当てを外しました").arg(number, missing));
        } else if (SendsToDevice(song_.Ports[index]) && (portDialog_ == nullptr || portDialog_->PortDevices()[index] < 0)) {
            messagePane->appendPlainText(QStringLiteral("ポート %1 にはデバイスが割り当てられていません").arg(number));
        }
    }
}

void TMainWindow::BeginSeek()
{
    displayTimer->stop();
    barDragging_ = true;
}

void TMainWindow::EndSeek()
{
    if (barDragging_) {
        Midis().StopAll();
        Midis().Seek(positionBar->value());
        RestartFollow();
    }
    barDragging_ = false;
    lastTick_ = clock_.Now();
    displayTimer->start();
}
