// The stored port assignment over any file contents: reading gives four numbers, or the numbers
// it could read and an error naming the damaged value, never anything else.
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <string>

#include "Encoding.h"
#include "Exception.h"
#include "FuzzTargets.h"
#include "PortSettings.h"

namespace {

// QSettings keeps every file it has read and reads it again only when its size or time stamp
// changed, which two inputs written within one clock tick may not show. A fresh name for every
// store keeps each input's reading its own.
QString FreshPath()
{
    static QTemporaryDir directory(QDir::tempPath() + QStringLiteral("/quaverly-fuzz-settings-XXXXXX"));
    static unsigned long long count = 0;
    return directory.filePath(QString::number(++count) + QStringLiteral(".ini"));
}

}  // namespace

void FuzzSettings(std::string_view bytes)
{
    const QString path = FreshPath();
    {
        QFile file(path);
        FuzzCheck(file.open(QIODevice::WriteOnly) &&
                      file.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size()),
                  "cannot write the scratch settings file", bytes);
    }
    TPortDevices devices{};
    {
        QSettings settings(path, QSettings::IniFormat);
        try {
            TPortSettings::Read(settings, devices);
        } catch (const Exception& e) {
            const std::string& message = e.Message();
            FuzzCheck(IsValidUtf8(message) && message.rfind("設定値 PORT", 0) == 0,
                      "a damaged value is reported with another text", bytes);
        }
    }
    QFile::remove(path);
}
