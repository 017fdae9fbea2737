// Taking a piece out of the program: a Standard MIDI File for sequencers, and a WAV file rendered
// through the built-in synthesizer. Both export the text as it stands, compiled first when it
// changed, and place every event where the players would send it.
#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <exception>
#include <thread>

#include "Application.h"
#include "Dialogs.h"
#include "Exception.h"
#include "Main.h"
#include "Render.h"
#include "SaveFile.h"
#include "Smf.h"

namespace {
const QString MidiFilter = QStringLiteral("MIDIファイル (*.mid)");
const QString WavFilter = QStringLiteral("WAVファイル (*.wav)");
const QString NothingToExport = QStringLiteral("書き出すイベントがありません");
}  // namespace

bool TFormMain::PieceToExport()
{
    if (!EnsureCompiled()) return false;
    if (Midis().IsEmpty()) {
        UserDialogs().Message(this, QMessageBox::Information, ProductName, NothingToExport, QMessageBox::Ok);
        return false;
    }
    return true;
}

void TFormMain::ExportMidiClick()
{
    if (!PieceToExport()) return;
    const QString path = ChooseExportFile(MidiFilter, QStringLiteral("mid"));
    if (path.isEmpty()) return;
    const TSmfExport file = ExportSmf(Midis());
    SaveFileAtomically(path.toStdString(), file.Bytes);
    if (file.FixedTempo) Memo1->appendPlainText(QString::fromStdString(file.Note));
    Memo1->appendPlainText(QStringLiteral("MIDIファイルに書き出しました: %1").arg(path));
}

void TFormMain::ExportWavClick()
{
    if (!PieceToExport()) return;
    const QString path = ChooseExportFile(WavFilter, QStringLiteral("wav"));
    if (path.isEmpty()) return;
    const TMidis& midis = Midis();
    // The renderer takes its own copy of the piece, so a compile while it runs changes nothing.
    const TAudioRenderer renderer(
        RenderInputOf({&midis.Items(0), &midis.Items(1), &midis.Items(2), &midis.Items(3)}), TRenderOptions{});

    QProgressDialog progress(QStringLiteral("WAVファイルに書き出しています..."), QStringLiteral("キャンセル"), 0, 1000, this);
    progress.setObjectName(QStringLiteral("ExportProgress"));
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
    std::atomic<bool> done{false};
    TRenderResult result;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            result = renderer.Write(path.toStdString(), [&](double fraction) {
                permille = static_cast<int>(fraction * 1000.0);
                return !cancel.load();
            });
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
    });

    QEventLoop loop;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (progress.wasCanceled()) cancel = true;
        progress.setValue(permille.load());
        if (done) loop.quit();
    });
    poll.start();
    loop.exec();
    worker.join();
    progress.close();

    if (failure) std::rethrow_exception(failure);
    if (result.Status == TRenderStatus::Cancelled) {
        Memo1->appendPlainText(QStringLiteral("WAVファイルの書き出しを中止しました"));
        return;
    }
    Memo1->appendPlainText(QStringLiteral("WAVファイルに書き出しました: %1 (%2 秒)").arg(path).arg(result.Seconds, 0, 'f', 1));
}
