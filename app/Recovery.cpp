#include "app/Recovery.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cstdint>
#include <vector>

#include "formats/SaveFile.h"

namespace {

// The file starts with one line of JSON that names the document, its form and the time, and the
// text follows as UTF-8: the text is kept as it is, without escaping a large document.
constexpr char Magic[] = "quaverly-recovery 1\n";

QString EncodingName(TDocumentEncoding encoding)
{
    switch (encoding) {
    case TDocumentEncoding::Utf8: return QStringLiteral("utf-8");
    case TDocumentEncoding::Utf8WithBom: return QStringLiteral("utf-8-bom");
    case TDocumentEncoding::ShiftJis: return QStringLiteral("shift-jis");
    case TDocumentEncoding::Rtf: break;
    }
    return QStringLiteral("rtf");
}

TDocumentEncoding EncodingNamed(const QString& name)
{
    for (const TDocumentEncoding encoding :
         {TDocumentEncoding::Utf8, TDocumentEncoding::Utf8WithBom, TDocumentEncoding::ShiftJis})
        if (EncodingName(encoding) == name) return encoding;
    return TDocumentEncoding::Rtf;
}

}  // namespace

TRecovery::TRecovery(QObject* parent, std::function<void()> tick, int intervalMs) : QObject(parent)
{
    timer_ = new QTimer(this);
    timer_->setInterval(intervalMs);
    connect(timer_, &QTimer::timeout, this, std::move(tick));
    timer_->start();
}

QString TRecovery::FilePath()
{
    // The state folder of the XDG base directories: data worth keeping across runs but not the
    // user's documents or settings.
    QString state = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    if (state.isEmpty() || !QDir::isAbsolutePath(state)) state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/quaverly/recovery");
}

std::optional<TRecoveredDocument> TRecovery::Read()
{
    QFile file(FilePath());
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    const QByteArray magic(Magic);
    if (!bytes.startsWith(magic)) return std::nullopt;
    const qsizetype headerEnd = bytes.indexOf('\n', magic.size());
    if (headerEnd < 0) return std::nullopt;
    const QJsonObject header = QJsonDocument::fromJson(bytes.mid(magic.size(), headerEnd - magic.size())).object();
    TRecoveredDocument document;
    document.DocumentPath = header.value(QStringLiteral("path")).toString();
    document.Form.Encoding = EncodingNamed(header.value(QStringLiteral("encoding")).toString());
    document.Form.CrLf = document.Form.PlainText() && header.value(QStringLiteral("crlf")).toBool();
    document.Written = QDateTime::fromString(header.value(QStringLiteral("written")).toString(), Qt::ISODate);
    document.Text = QString::fromUtf8(bytes.mid(headerEnd + 1));
    return document;
}

void TRecovery::SetInterval(int ms) { timer_->setInterval(ms); }

int TRecovery::Interval() const { return timer_->interval(); }

void TRecovery::Write(const TRecoveredDocument& document)
{
    QJsonObject header;
    header.insert(QStringLiteral("path"), document.DocumentPath);
    header.insert(QStringLiteral("encoding"), EncodingName(document.Form.Encoding));
    header.insert(QStringLiteral("crlf"), document.Form.CrLf);
    header.insert(QStringLiteral("written"), document.Written.toString(Qt::ISODate));
    QByteArray bytes(Magic);
    bytes += QJsonDocument(header).toJson(QJsonDocument::Compact);
    bytes += '\n';
    bytes += document.Text.toUtf8();
    const QString path = FilePath();
    // The folder is the user's own: the copy may hold what they would not share.
    QDir().mkpath(QFileInfo(path).path());
    QFile::setPermissions(QFileInfo(path).path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    TAtomicFileWriter writer(QFile::encodeName(path).toStdString());
    writer.Write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    writer.Commit();
    owned_ = true;
}

void TRecovery::Remove()
{
    if (!owned_) return;
    owned_ = false;
    Discard();
}

void TRecovery::Discard() { QFile::remove(FilePath()); }
