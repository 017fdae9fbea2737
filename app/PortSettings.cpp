// The stored port assignment.
#include "PortSettings.h"

#include <QSettings>

#include "Exception.h"

namespace {

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
    settings.beginGroup(Group);
    devices = {-1, -1, -1, -1};
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
    settings.beginGroup(Group);
    for (int port = 0; port < PortCount; ++port) settings.setValue(Key(port), devices[static_cast<std::size_t>(port)]);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw Exception(QStringLiteral("設定を保存できません: %1").arg(settings.fileName()).toStdString());
}
