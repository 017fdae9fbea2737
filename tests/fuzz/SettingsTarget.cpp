// The stored port assignment over any file contents: reading gives four numbers and names, or
// those it could read and an error naming the damaged value, never anything else; and the next
// OK, which writes over whatever was there, leaves a file that reads back exactly as written.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <string>

#include "formats/Encoding.h"
#include "song/Exception.h"
#include "tests/fuzz/FuzzTargets.h"
#include "app/PortSettings.h"

namespace {

QString ScratchPath()
{
    static QTemporaryDir directory(QDir::tempPath() + QStringLiteral("/quaverly-fuzz-settings-XXXXXX"));
    return directory.filePath(QStringLiteral("QVRLY.ini"));
}

}  // namespace

void FuzzSettings(std::string_view bytes)
{
    const QString path = ScratchPath();
    {
        QFile file(path);
        FuzzCheck(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                      file.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size()),
                  "cannot write the scratch settings file", bytes);
    }
    TPortEntries entries{};
    try {
        TPortSettings::Read(path, entries);
    } catch (const Exception& e) {
        const std::string& message = e.Message();
        FuzzCheck(IsValidUtf8(message) && message.rfind("設定値 PORT", 0) == 0,
                  "a damaged value is reported with another text", bytes);
    }

    // What was read, stored again, reads back unchanged and without a report.
    const TPortEntries stored = entries;
    try {
        TPortSettings::Write(path, stored);
        TPortSettings::Read(path, entries);
    } catch (const Exception&) {
        FuzzFailure("the file written over the input cannot be read back", bytes);
    }
    FuzzCheck(entries == stored, "the file written over the input reads back other values", bytes);
    QFile::remove(path);
}
