// The transport of the main window: play, pause, slow, fast and stop, the display refresh that
// keeps the elapsed time and the position bar current, and seeking with the bar.
//
// Everything here runs on the GUI thread, the refresh included (a QTimer), so the widgets are only
// ever touched by the thread that owns them, and a handler that switches the refresh off is sure
// that no refresh is running or will run.
#include <QAction>
#include <QLabel>
#include <QTimer>

#include "Main.h"
#include "TrkBarEx.h"

void TFormMain::SetSpeedFactor(double factor)
{
    for (int i = 0; i < TMidis::PortCount; ++i) Compiler->PortAt(i).SpeedFactor = factor;
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
    for (QAction* action : {BtnSlow, BtnTime, BtnFast}) action->setEnabled(true);
    LastTick = GetTickCount(clock_);
    DisplayTimer->start();
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
    // The counter wraps every 49 days; the unsigned difference is right across the wrap.
    const std::uint32_t now = GetTickCount(clock_);
    ElapsedMs += static_cast<std::uint32_t>(now - LastTick);
    LastTick = now;

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
    const TMidi& longest = Compiler->PortAt(Midis().LongestPort());
    if (longest.Elements.Count() != 0) TrackBar->setValue(longest.NextTick());
    DisplayTimer->start();
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
    }
    BarDragging = false;
    LastTick = GetTickCount(clock_);
    DisplayTimer->start();
}
