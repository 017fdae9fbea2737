// How long the window takes to open a document: read, decode, show in the editor with its colours
// and its line-number gutter painted, for a 1 MB piece and one at the document bound (64 MiB),
// and how long it takes to refuse a 4.5 MB file that is no text. A long document shows its
// beginning first and loads the rest while the window answers; both times are given. Not a Google
// Benchmark: each open is timed once in a fresh window, as a user meets it, and the median of three
// is shown.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <stdlib.h>
#include <string>

#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "bench/BenchPiece.h"
#include "formats/Document.h"

namespace {

// Answers every box with its default and counts them: a refused file shows one.
class TSilentDialogs : public TUserDialogs {
public:
    int Boxes = 0;
    QMessageBox::StandardButton Message(QWidget*, QMessageBox::Icon, const QString&, const QString&,
                                        QMessageBox::StandardButtons buttons, const TButtonNames&) override
    {
        ++Boxes;
        return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
    }
    QString OpenFileName(QWidget*, const QString&) override { return {}; }
    QString SaveFileName(QWidget*, const QString&, const QString&) override { return {}; }
    int Exec(QDialog&) override { return 0; }
};

// The piece cut at a line end so that it stays within the bound.
std::string Piece(std::size_t bytes)
{
    std::string piece = bench::GeneratePiece(bytes);
    if (piece.size() > bytes) piece.resize(piece.rfind('\n', bytes - 1) + 1);
    return piece;
}

void Write(const QString& path, const std::string& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(2);
    }
}

struct TOpenTimes {
    double Shown = 0;   // until the window shows the document's beginning, coloured and numbered
    double Loaded = 0;  // until the last line of a long document is in the editor
    int Lines = 0;      // the editor's line count, -1 when the file was refused
};

// Opens path in a fresh window.
TOpenTimes TimeOpen(const QString& path, TSilentDialogs& dialogs)
{
    TMainWindow window;
    window.show();
    QApplication::processEvents();
    const int before = dialogs.Boxes;
    TOpenTimes times;
    QElapsedTimer timer;
    timer.start();
    window.OpenFile(path);
    // The first screen is painted, with whatever the gutter or the colours left for later.
    window.grab();
    times.Shown = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    while (window.LoadingDocument()) QApplication::processEvents();
    window.grab();
    times.Loaded = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    times.Lines = window.findChild<QPlainTextEdit*>(QStringLiteral("editor"))->blockCount();
    if (dialogs.Boxes != before) times.Lines = -1;
    window.close();
    return times;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir scratch;
    // A home of its own: the recent files and the window's size are not the user's.
    setenv("HOME", QFile::encodeName(scratch.path()).constData(), 1);
    setenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("config"))).constData(), 1);
    setenv("XDG_STATE_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("state"))).constData(), 1);
    TApplication app(argc, argv);
    TSilentDialogs dialogs;
    SetUserDialogs(&dialogs);

    struct Case {
        const char* Name;
        std::string Bytes;
    };
    std::string binary = std::string("RIFF\x24\x00\x48\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00", 24);
    for (unsigned i = 0; binary.size() < 4'500'000; ++i) binary += static_cast<char>(i * 7919u >> 3);
    const Case cases[] = {
        {"1 MB piece", Piece(1 << 20)},
        {"64 MiB piece", Piece(MaxDocumentBytes)},
        {"4.5 MB WAV (refused)", binary},
    };
    // The median of three opens, each in a fresh window.
    std::printf("%-22s %12s %10s %10s %10s\n", "document", "bytes", "lines", "shown ms", "loaded ms");
    for (const Case& c : cases) {
        const QString path = scratch.filePath(QStringLiteral("document.mml"));
        Write(path, c.Bytes);
        TOpenTimes runs[3];
        for (TOpenTimes& each : runs) each = TimeOpen(path, dialogs);
        const auto median = [&runs](double TOpenTimes::*field) {
            double values[3] = {runs[0].*field, runs[1].*field, runs[2].*field};
            std::sort(std::begin(values), std::end(values));
            return values[1];
        };
        char lines[16];
        if (runs[0].Lines < 0)
            std::snprintf(lines, sizeof lines, "refused");
        else
            std::snprintf(lines, sizeof lines, "%d", runs[0].Lines);
        std::printf("%-22s %12zu %10s %10.1f %10.1f\n", c.Name, c.Bytes.size(), lines, median(&TOpenTimes::Shown),
                    median(&TOpenTimes::Loaded));
        std::fflush(stdout);
    }
    SetUserDialogs(nullptr);
    return 0;
}
