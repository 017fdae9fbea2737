// The transport of the main window: play, pause, slow, fast and stop, the display refresh that
// keeps the elapsed time, the song position and the position bar current, seeking with the bar,
// the loop, the playing lines of every part, and the tracks kept quiet.
//
// Everything here runs on the GUI thread, the refresh included (a QTimer), so the widgets are only
// ever touched by the thread that owns them, and a handler that switches the refresh off is sure
// that no refresh is running or will run.
#include <QAction>
#include <QLabel>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <cmath>

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

// How many events of each port's list its player has sent.
std::array<int, TSong::PortCount> SentCounts(const TMidis& midis)
{
    std::array<int, TSong::PortCount> sent{};
    for (int port = 0; port < midis.Count(); ++port) {
        const TMidi& player = midis.Items(port);
        // A port that has ended stays at its last event, which it has sent.
        sent[static_cast<std::size_t>(port)] =
            player.Finished ? player.Elements.Count() : std::min(player.Index.load(), player.Elements.Count());
    }
    return sent;
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
        // The selection may have changed since the loop was switched on.
        ApplyLoop();
        Midis().StartAll();
    }
    StartRefresh();
}

void TMainWindow::PlayPause()
{
    if (Playing())
        pauseAction->trigger();
    else if (playAction->isEnabled())
        playAction->trigger();
}

bool TMainWindow::Playing() const
{
    // Pause is possible exactly while the music runs: StartRefresh enables it, and Pause, Stop,
    // the end of the song and a compile that stops the players disable it.
    return pauseAction->isEnabled();
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
    ApplyLoop();
    Midis().Seek(tick);
    RestartFollow();
    ShowSongPosition(Midis().PositionTick());
    StartRefresh();
}

void TMainWindow::ApplyFollow()
{
    if (!followAction->isChecked()) {
        editor->MarkPlayingLine(0, false);
        return;
    }
    if (displayTimer->isActive()) ShowPlayingLines();
}

void TMainWindow::RestartFollow()
{
    sounding_.Restart(SentCounts(Midis()));
    loopRestartsSeen_ = Midis().LoopRestarts();
}

void TMainWindow::ShowPlayingLines()
{
    // A loop that went back to its start has left the notes it had sounding, as a seek does.
    if (Midis().LoopRestarts() != loopRestartsSeen_) RestartFollow();
    // Only what was sent since the last look is read, so a long run of events that are no notes
    // is read once rather than at every refresh.
    sounding_.Follow(Midis().Lists(), SentCounts(Midis()));
    // A muted part makes no sound, so it has no playing line either.
    editor->MarkPlayingLines(sounding_.Lines(Midis().SilencedTracks()), true);
}

void TMainWindow::ShowSongPosition(double tick)
{
    const TMeasureBeat at = MeasureBeatAt(static_cast<std::int32_t>(std::floor(std::max(0.0, tick))));
    positionLabel->setText(QStringLiteral("%1:%2").arg(at.Measure).arg(at.Beat));
    songTimeLabel->setText(FormatSongTime(songClock_.MsAt(tick)) + QStringLiteral(" / ") +
                           FormatSongTime(songClock_.LengthMs()));
}

QString TMainWindow::FormatSongTime(double ms)
{
    // Whole milliseconds first: a time computed as 4499.9999 is the 4.5 s it stands for.
    const long long tenths = std::llround(std::max(0.0, ms)) / 100;
    return QString::asprintf("%lld:%02lld.%lld", tenths / 600, tenths / 10 % 60, tenths % 10);
}

std::optional<TTickRange> TMainWindow::LoopRange() const
{
    if (!loopAction->isChecked() || Midis().IsEmpty()) return std::nullopt;
    // Lines chosen as lines (a selection across at least one line end) are what to repeat; a
    // selection inside one line is taken for editing, not for choosing a passage, so the whole
    // song repeats then, as it does when the chosen lines make no sound.
    const QTextCursor cursor = editor->textCursor();
    if (cursor.hasSelection()) {
        const QTextDocument* document = editor->document();
        const QTextBlock first = document->findBlock(cursor.selectionStart());
        const QTextBlock last = document->findBlock(cursor.selectionEnd());
        if (first != last) {
            // A selection that ends at the start of a line (Shift+Down) does not take that line.
            const int lastLine = last.blockNumber() + (cursor.selectionEnd() == last.position() ? 0 : 1);
            const std::optional<TTickRange> lines = LinesRange(Midis().Lists(), first.blockNumber() + 1, lastLine);
            if (lines && lines->To > lines->From) return lines;
        }
    }
    const std::int32_t length = Midis().SongLength();
    if (length <= 0) return std::nullopt;  // every event at tick 0: nothing to go round
    return TTickRange{0, length};
}

void TMainWindow::ApplyLoop() { Midis().SetLoop(LoopRange()); }

void TMainWindow::FollowSelectionWithLoop()
{
    if (!loopAction->isChecked() || !Playing()) return;
    // A selection dragged with the mouse changes at every move; the players hear of it only when
    // the lines it covers make another span.
    const std::optional<TTickRange> range = LoopRange();
    if (range != Midis().Loop()) Midis().SetLoop(range);
}

void TMainWindow::ApplySilencedTracks(const TTrackSet& silenced) { Midis().SetSilencedTracks(silenced); }

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
    StopPlayers();
}

void TMainWindow::StopPlayers()
{
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
        // A compile for compile-and-play may be running: it goes on, and plays its song afresh.
        StopPlayers();
        positionBar->setEnabled(false);
        displayTimer->stop();
        return;
    }

    timeLabel->setText(FormatElapsed(elapsedMs_));
    // The bar follows the port that plays longest. When every event of the song lies at tick 0
    // that can be a port without events; the bar then stays where it is.
    const TMidi& longest = Midis().Items(Midis().LongestPort());
    if (longest.Elements.Count() != 0) positionBar->setValue(longest.NextTick());
    ShowSongPosition(Midis().PositionTick());
    if (followAction->isChecked()) ShowPlayingLines();
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

void TMainWindow::ReportUnassignedPorts(const TSong& song)
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
        } else if (SendsToDevice(song.Ports[index]) && (portDialog_ == nullptr || portDialog_->PortDevices()[index] < 0)) {
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
        barDragging_ = false;
        const bool playing = Playing();
        const bool stopped = stopAction->isChecked();
        Midis().StopAll();
        if (!playing) {
            // The release starts the music as Play would: at the normal speed, with the loop
            // as the selection now asks.
            SetSpeedFactor(1.0);
            ApplyLoop();
        }
        Midis().Seek(positionBar->value());
        RestartFollow();
        ShowSongPosition(Midis().PositionTick());
        if (!playing && !Midis().IsEmpty() && !Midis().AllFinished()) {
            // The music plays from here, so the transport says so: Play pressed, Pause, Slow and
            // Fast at hand. After Stop this is a new run of the elapsed time; after Pause the
            // paused run goes on.
            if (stopped) elapsedMs_ = 0;
            resumeOnPlay_ = false;
            playAction->setEnabled(true);
            playAction->setChecked(true);
            StartRefresh();
            return;
        }
    }
    barDragging_ = false;
    lastTick_ = clock_.Now();
    displayTimer->start();
}
