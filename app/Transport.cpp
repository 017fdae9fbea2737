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

#include "app/Main.h"
#include "app/TrkBarEx.h"

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

bool IsNoteOn(const TMidiElement& e)
{
    return e.Kind == ekShortMessage && (e.Status & 0xF0) == 0x90 && e.Data2 != 0;
}

}  // namespace

void TFormMain::SetSpeedFactor(double factor)
{
    for (int i = 0; i < TSong::PortCount; ++i) Midis().Items(i).SpeedFactor = factor;
}

void TFormMain::BtnPlayClick()
{
    DisplayTimer->stop();
    SetSpeedFactor(1.0);
    if (ResumeOnPlay) {
        ResumeOnPlay = false;
        Midis().ResumeAll();
    } else {
        ElapsedMs = 0;
        Midis().StopAll();
        TrackBar->setMaximum(Midis().SongLength());
        if (Midis().IsEmpty()) {
            // Nothing compiled: the button springs back and nothing runs.
            BtnStop->setChecked(true);
            BtnPlay->setEnabled(true);
            TrackBar->setEnabled(false);
            return;
        }
        TrackBar->setEnabled(true);
        BtnPlay->setEnabled(true);
        Midis().StartAll();
    }
    StartRefresh();
}

void TFormMain::StartRefresh()
{
    for (QAction* action : {BtnSlow, BtnTime, BtnFast}) action->setEnabled(true);
    LastTick = clock_.Now();
    DisplayTimer->start();
}

bool TFormMain::EnsureCompiled()
{
    if (!compiled_ || compiledText_ != EditorText()) BtnCompileClick();
    return compiled_ && !compileFailed_;
}

void TFormMain::BtnPlayFromCursorClick()
{
    const int line = MMLText->CursorLine();
    // After an error box the cursor stands on the error, which is what to look at first.
    if (!EnsureCompiled()) return;
    const std::int32_t tick = StartTickOfLine(Midis(), line);
    if (tick < 0) return;  // nothing at or after the cursor makes a sound

    // As Play from the start, then the seek of the position bar.
    DisplayTimer->stop();
    SetSpeedFactor(1.0);
    ResumeOnPlay = false;
    ElapsedMs = 0;
    Midis().StopAll();
    TrackBar->setMaximum(Midis().SongLength());
    TrackBar->setValue(tick);
    TrackBar->setEnabled(true);
    BtnPlay->setEnabled(true);
    BtnPlay->setChecked(true);
    Midis().Seek(tick);
    RestartFollow();
    StartRefresh();
}

void TFormMain::BtnFollowClick()
{
    if (!BtnFollow->isChecked()) {
        MMLText->MarkPlayingLine(0, false);
        followPort_ = -1;
        return;
    }
    if (DisplayTimer->isActive()) ShowPlayingLine();
}

void TFormMain::RestartFollow()
{
    followPort_ = Midis().LongestPort();
    followScanned_ = Midis().Items(followPort_).Index;
    followLine_ = 0;
}

void TFormMain::ShowPlayingLine()
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
    MMLText->MarkPlayingLine(followLine_, true);
}

void TFormMain::BtnTimeClick()
{
    DisplayTimer->stop();
    for (QAction* action : {BtnSlow, BtnTime, BtnFast}) action->setEnabled(false);
    BtnPlay->setEnabled(true);
    ResumeOnPlay = true;
    // The players keep their place, so the next Play continues from here.
    Midis().StopAll();
}

void TFormMain::BtnSlowClick()
{
    ResumeOnPlay = true;
    SetSpeedFactor(0.5);
}

void TFormMain::BtnFastClick()
{
    ResumeOnPlay = true;
    SetSpeedFactor(2.0);
}

void TFormMain::BtnStopClick()
{
    CancelCompile();
    DisplayTimer->stop();
    for (QAction* action : {BtnSlow, BtnTime, BtnFast}) action->setEnabled(false);
    ResumeOnPlay = false;
    Midis().StopAll();
}

QString TFormMain::FormatElapsed(std::int64_t ms)
{
    return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(ms / 3600000),
                             static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60));
}

void TFormMain::DisplayTimerTimer()
{
    DisplayTimer->stop();
    // The milliseconds the clock passed since the previous refresh, counted on the clock's own
    // millisecond boundaries so that no fraction is lost or counted twice between refreshes.
    const std::uint64_t now = clock_.Now();
    ElapsedMs += static_cast<std::int64_t>(now / 1000 - LastTick / 1000);
    LastTick = now;

    ReportLostDevices();
    if (Midis().AllFinished()) {
        BtnStop->setChecked(true);
        BtnStopClick();
        TrackBar->setEnabled(false);
        DisplayTimer->stop();
        return;
    }

    LabelTime->setText(FormatElapsed(ElapsedMs));
    // The bar follows the port that plays longest. When every event of the song lies at tick 0
    // that can be a port without events; the bar then stays where it is.
    const TMidi& longest = Midis().Items(Midis().LongestPort());
    if (longest.Elements.Count() != 0) TrackBar->setValue(longest.NextTick());
    if (BtnFollow->isChecked()) ShowPlayingLine();
    DisplayTimer->start();
}

void TFormMain::ReportLostDevices()
{
    // A port whose device went away has ended early while the others play on; without a word the
    // silence would look like the music.
    for (int port = 0; port < TMidis::PortCount; ++port) {
        bool& reported = lostReported_[static_cast<std::size_t>(port)];
        if (reported || !Midis().Items(port).DeviceLost()) continue;
        reported = true;
        Memo1->appendPlainText(QString::fromStdString(TMidi::LostDeviceMessage(port)));
    }
}

void TFormMain::BarMouseDown()
{
    DisplayTimer->stop();
    BarDragging = true;
}

void TFormMain::BarMouseUp()
{
    if (BarDragging) {
        Midis().StopAll();
        Midis().Seek(TrackBar->value());
        RestartFollow();
    }
    BarDragging = false;
    LastTick = clock_.Now();
    DisplayTimer->start();
}
