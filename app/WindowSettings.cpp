#include "app/WindowSettings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include "app/PortSettings.h"

namespace {

const QString RecentKey = QStringLiteral("Recent/Files");
const QString GeometryKey = QStringLiteral("Window/Geometry");
const QString SplitterKey = QStringLiteral("Window/Splitter");
const QString FontKey = QStringLiteral("Editor/FontPoints");
const QString DocksKey = QStringLiteral("Window/Docks");


void WriteRecent(const QStringList& files)
{
    QSettings settings(TWindowSettings::FileName(), QSettings::IniFormat);
    settings.setValue(RecentKey, files);
}

}  // namespace

QString TWindowSettings::FileName()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') +
           TPortSettings::Organization + QStringLiteral("/window.ini");
}

QStringList TWindowSettings::RecentFiles()
{
    QSettings settings(FileName(), QSettings::IniFormat);
    QStringList files = settings.value(RecentKey).toStringList();
    files.removeAll(QString());
    files.removeDuplicates();
    while (files.size() > MaxRecentFiles) files.removeLast();
    return files;
}

void TWindowSettings::AddRecentFile(const QString& path)
{
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    QStringList files = RecentFiles();
    files.removeAll(absolute);
    files.prepend(absolute);
    while (files.size() > MaxRecentFiles) files.removeLast();
    WriteRecent(files);
}

void TWindowSettings::RemoveRecentFile(const QString& path)
{
    QStringList files = RecentFiles();
    if (files.removeAll(path) > 0) WriteRecent(files);
}

TWindowSettings::TWindowState TWindowSettings::ReadWindowState()
{
    QSettings settings(FileName(), QSettings::IniFormat);
    TWindowState state;
    state.Geometry = settings.value(GeometryKey).toByteArray();
    state.Splitter = settings.value(SplitterKey).toByteArray();
    bool ok = false;
    state.FontPoints = settings.value(FontKey).toInt(&ok);
    if (!ok) state.FontPoints = 0;
    state.Docks = settings.value(DocksKey).toByteArray();
    return state;
}

void TWindowSettings::WriteWindowState(const TWindowState& state)
{
    QSettings settings(FileName(), QSettings::IniFormat);
    settings.setValue(GeometryKey, state.Geometry);
    settings.setValue(SplitterKey, state.Splitter);
    settings.setValue(FontKey, state.FontPoints);
    settings.setValue(DocksKey, state.Docks);
}
