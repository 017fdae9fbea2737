// The stored port assignment.
#include "PortSettings.h"

#include <QFile>
#include <QSettings>

#include "Exception.h"

namespace {

// The settings file is the program's own file of four numbers; anything larger is not it.
constexpr qint64 MaxSettingsBytes = 1024 * 1024;

// QSettings decodes a value written as "@Variant(...)" as serialized Qt data as soon as it
// touches the file's sections, reading or writing, and a damaged or hostile file can make that
// decoding ask for gigabytes and end the program. The program only ever writes plain numbers, so
// a file that holds such data (or is far too large to be its own) is never handed to QSettings.
bool IsDamaged(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;  // a missing file is no assignment yet
    const QByteArray bytes = file.read(MaxSettingsBytes + 1);
    return bytes.size() > MaxSettingsBytes || bytes.contains("@Variant(");
}

QSettings OpenSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, TPortSettings::Organization,
                     TPortSettings::Application);
}

}  // namespace

QString TPortSettings::Key(int port) { return QStringLiteral("PORT%1").arg(port + 1); }

QString TPortSettings::FileName() { return OpenSettings().fileName(); }

void TPortSettings::Read(TPortDevices& devices)
{
    QSettings settings = OpenSettings();
    Read(settings, devices);
}

void TPortSettings::Write(const TPortDevices& devices)
{
    QSettings settings = OpenSettings();
    Write(settings, devices);
}

void TPortSettings::Read(QSettings& settings, TPortDevices& devices)
{
    devices = {-1, -1, -1, -1};
    if (IsDamaged(settings.fileName()))
        throw Exception(QStringLiteral("設定値 %1 を読み込めません: %2").arg(Group, settings.fileName()).toStdString());
    settings.beginGroup(Group);
    QString unreadable;
    for (int port = 0; port < PortCount; ++port) {
        const QVariant value = settings.value(Key(port));
        int& device = devices[static_cast<std::size_t>(port)];
        if (!value.isValid()) continue;
        switch (value.typeId()) {
        case QMetaType::QString: {
            bool ok = false;
            const int number = value.toString().trimmed().toInt(&ok, 10);
            if (ok) device = number;
            break;
        }
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong: {
            bool ok = false;
            const int number = value.toInt(&ok);
            if (ok) device = number;
            break;
        }
        default:
            // A list or binary data: the other values are still read, so one damaged value does
            // not cost the user the whole assignment.
            if (unreadable.isEmpty()) unreadable = Key(port);
            break;
        }
    }
    settings.endGroup();
    if (!unreadable.isEmpty())
        throw Exception(QStringLiteral("設定値 %1 を読み込めません: %2").arg(unreadable, settings.fileName()).toStdString());
}

void TPortSettings::Write(QSettings& settings, const TPortDevices& devices)
{
    if (IsDamaged(settings.fileName())) {
        // Writing through QSettings would decode the damaged file first. It holds nothing but
        // the assignment being replaced, so a fresh file takes its place.
        const QString path = settings.fileName();
        QFile::remove(path);
        QSettings fresh(path, QSettings::IniFormat);
        if (IsDamaged(path))
            throw Exception(QStringLiteral("設定を保存できません: %1").arg(path).toStdString());
        Write(fresh, devices);
        return;
    }
    settings.beginGroup(Group);
    for (int port = 0; port < PortCount; ++port) settings.setValue(Key(port), devices[static_cast<std::size_t>(port)]);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw Exception(QStringLiteral("設定を保存できません: %1").arg(settings.fileName()).toStdString());
}
