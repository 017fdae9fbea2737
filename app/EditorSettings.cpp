// The editor's stored preferences.
#include "app/EditorSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "song/Exception.h"

namespace {

const QByteArray TabWidthKey = "TABWIDTH";
// The file holds one short line; anything larger is not the program's.
constexpr qint64 MaxBytes = 4096;

}  // namespace

QString TEditorSettings::FileName()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/QVRLY/editor.ini");
}

int TEditorSettings::ReadTabWidth(int fallback, int max)
{
    QFile file(FileName());
    if (!file.open(QIODevice::ReadOnly)) return fallback;
    const QByteArray bytes = file.read(MaxBytes + 1);
    if (bytes.size() > MaxBytes) return fallback;
    int width = fallback;
    for (const QByteArray& line : bytes.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals < 0 || line.first(equals).trimmed() != TabWidthKey) continue;
        bool ok = false;
        const int value = line.sliced(equals + 1).trimmed().toInt(&ok, 10);
        width = ok && value >= 1 && value <= max ? value : fallback;
    }
    return width;
}

void TEditorSettings::WriteTabWidth(int width)
{
    const QString path = FileName();
    const QByteArray text = "[EDITOR]\n" + TabWidthKey + '=' + QByteArray::number(width) + '\n';
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw Exception(QStringLiteral("設定を保存できません: %1").arg(path).toStdString());
}
