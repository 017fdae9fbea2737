// Taking a piece out of the program: a Standard MIDI File for sequencers, and a WAV file rendered
// through the built-in synthesizer. Both export the text as it stands, compiled first when it
// changed, and place every event where the players would send it.
#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <atomic>

#include "app/Application.h"
#include "app/Dialogs.h"
#include "song/Exception.h"
#include "app/MainWindow.h"
#include "devices/Render.h"
#include "formats/SaveFile.h"
#include "formats/Smf.h"
#include "app/Worker.h"

namespace {
const QString MidiFilter = QStringLiteral("MIDIファイル (*.mid)");
const QString WavFilter = QStringLiteral("WAVファイル (*.wav)");
const QString NothingToExport = QStringLiteral("書き出すイベントがありません");
}  // namespace

bool TMainWindow::PieceToExport()
{
    if (!EnsureCompiled()) return false;
    if (song_.IsEmpty()) {
        UserDialogs().Message(this, QMessageBox::Information, ProductName, NothingToExport, QMessageBox::Ok);
        return false;
    }
    return true;
}

void TMainWindow::ExportMidi()
{
    if (!PieceToExport()) return;
    const QString path = ChooseExportFile(MidiFilter, QStringLiteral("mid"));
    if (path.isEmpty()) return;
    const TSmfExport file = ExportSmf(song_);
    SaveFileAtomically(path.toStdString(), file.Bytes);
    if (file.FixedTempo) messagePane->appendPlainText(QString::fromStdString(file.Note));
    messagePane->appendPlainText(QStringLiteral("MIDIファイルに書き出しました: %1").arg(path));
}

void TMainWindow::ExportWav()
{
    if (!PieceToExport()) return;
    const QString path = ChooseExportFile(WavFilter, QStringLiteral("wav"));
    if (path.isEmpty()) return;
    // The renderer takes its own copy of the piece, so a compile while it runs changes nothing.
    const TAudioRenderer renderer(song_, TRenderOptions{});

    QProgressDialog progress(QStringLiteral("WAVファイルに書き出しています..."), QStringLiteral("キャンセル"), 0, 1000, this);
    progress.setObjectName(QStringLiteral("exportProgress"));
    progress.setWindowTitle(ProductName);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);

    // The rendering runs on a thread of its own so the window keeps drawing and the Cancel button
    // answers; the two sides share only these atomics.
    std::atomic<int> permille{0};
    std::atomic<bool> cancel{false};
    TRenderResult result;
    RunWhileResponsive(
        [&] {
            result = renderer.Write(path.toStdString(), [&](double fraction) {
                permille = static_cast<int>(fraction * 1000.0);
                return !cancel.load();
            });
        },
        [&] {
            if (progress.wasCanceled()) cancel = true;
            progress.setValue(permille.load());
        },
        50);
    progress.close();

    if (result.Status == TRenderStatus::Cancelled) {
        messagePane->appendPlainText(QStringLiteral("WAVファイルの書き出しを中止しました"));
        return;
    }
    messagePane->appendPlainText(QStringLiteral("WAVファイルに書き出しました: %1 (%2 秒)").arg(path).arg(result.Seconds, 0, 'f', 1));
}
