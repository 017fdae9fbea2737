// What the window keeps between runs: the recently used documents, its size and place, the
// splitter and the editor's font size. They live in QVRLY/window.ini in the user's configuration
// folder, a file of their own beside the port assignment's, whose format they leave alone.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class TWindowSettings {
public:
    static constexpr int MaxRecentFiles = 8;

    static QString FileName();

    // The recent documents, the latest first.
    static QStringList RecentFiles();
    // Puts path first, dropping its older place and whatever falls past MaxRecentFiles.
    static void AddRecentFile(const QString& path);
    static void RemoveRecentFile(const QString& path);

    struct TWindowState {
        QByteArray Geometry;  // QWidget::saveGeometry
        QByteArray Splitter;  // QSplitter::saveState
        int FontPoints = 0;   // 0: none stored
        QByteArray Docks;     // QMainWindow::saveState: the docks shown and their sizes
    };
    static TWindowState ReadWindowState();
    static void WriteWindowState(const TWindowState& state);
};
