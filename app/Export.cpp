// Taking a piece out of the program: a Standard MIDI File for sequencers, a WAV file rendered
// through the built-in synthesizer, and one WAV file per track (stems) for mixing elsewhere. All
// export the text as it stands, compiled first when it changed, and place every event where the
// players would send it.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <atomic>
#include <vector>

#include "app/Application.h"
#include "app/Dialogs.h"
#include "song/Exception.h"
#include "app/MainWindow.h"
#include "devices/Render.h"
#include "formats/SaveFile.h"
#include "formats/Smf.h"
#include "song/Tracks.h"
#include "app/Worker.h"

namespace {
const QString MidiFilter = QStringLiteral("MIDIファイル (*.mid)");
const QString WavFilter = QStringLiteral("WAVファイル (*.wav)");
const QString NothingToExport = QStringLiteral("書き出すイベントがありません");
const QString NoTrackToExport = QStringLiteral("音を出すトラックがありません");
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
    const TRenderResult result = RenderWithProgress(QStringLiteral("WAVファイルに書き出しています..."),
                                                    [&](const TRenderProgress& progress) {
                                                        return renderer.Write(path.toStdString(), progress);
                                                    });
    if (result.Status == TRenderStatus::Cancelled) {
        messagePane->appendPlainText(QStringLiteral("WAVファイルの書き出しを中止しました"));
        return;
    }
    messagePane->appendPlainText(QStringLiteral("WAVファイルに書き出しました: %1 (%2 秒)").arg(path).arg(result.Seconds, 0, 'f', 1));
}

void TMainWindow::ExportStems()
{
    if (!PieceToExport()) return;
    std::vector<int> tracks;
    for (const TTrackSummary& track : TrackSummaries(song_))
        if (track.Notes > 0) tracks.push_back(track.Track);
    if (tracks.empty()) {
        // Only controllers and the like: no track has a note of its own to hear.
        UserDialogs().Message(this, QMessageBox::Information, ProductName, NoTrackToExport, QMessageBox::Ok);
        return;
    }
    const QString folder = UserDialogs().ExistingFolder(this, QStringLiteral("書き出し先のフォルダー"));
    if (folder.isEmpty()) return;
    // Files of an earlier export are replaced only when the user says so, asked once for all.
    const QDir dir(folder);
    for (const int track : tracks) {
        const QString path = dir.filePath(QString::fromStdString(StemFileName(track)));
        if (QFileInfo::exists(path)) {
            if (!ConfirmOverwrite(path)) return;
            break;
        }
    }
    // The rendering works on a copy: a compile while it runs changes nothing.
    const TSong song = song_;
    const std::string target = folder.toStdString();
    TStemsResult stems;
    RenderWithProgress(QStringLiteral("トラックごとに書き出しています..."), [&](const TRenderProgress& progress) {
        stems = RenderStems(target, song, TRenderOptions{}, progress);
        return TRenderResult{stems.Status, stems.Frames, stems.Seconds};
    });

    if (stems.Status == TRenderStatus::Cancelled) {
        messagePane->appendPlainText(QStringLiteral("トラックごとの書き出しを中止しました"));
        return;
    }
    messagePane->appendPlainText(QStringLiteral("トラックごとに書き出しました: %1 (%2 ファイル、%3 秒)")
                                     .arg(folder)
                                     .arg(stems.Paths.size())
                                     .arg(stems.Seconds, 0, 'f', 1));
}

TRenderResult TMainWindow::RenderWithProgress(
    const QString& text, const std::function<TRenderResult(const std::function<bool(double)>&)>& render)
{
    QProgressDialog progress(text, QStringLiteral("キャンセル"), 0, 1000, this);
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
            result = render([&](double fraction) {
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
    return result;
}
