// The document commands of the main window: New, Open, Save, Save as and the close query.
//
// No unsaved text is ever lost: every command that would discard the editor's text first goes
// through MaybeSave, and a save that is cancelled, declined or fails stops that command.
#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSaveFile>

#include "app/Application.h"
#include "app/Dialogs.h"
#include "formats/Document.h"
#include "song/Exception.h"
#include "app/MainWindow.h"
#include "formats/Rtf.h"

namespace {

const QString QuestionCaption = QStringLiteral("確認");
const QString OpenFilter = QStringLiteral("QVRLYファイル (*.QVR)");
const QString SaveFilter = QStringLiteral("QVRLYファイル(*.QVR)");
const QString Extension = QStringLiteral("QVR");

// The text the editor shows for a document file's bytes. RTF gives back exactly the text it was
// written from; plain text ends without the line end that closes its last line, as editors show it.
QString DocumentText(const QByteArray& bytes)
{
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    std::string text;
    if (LooksLikeRtf(view)) {
        text = ReadRtf(view);
    } else {
        text = DecodeDocument(view);
        if (!text.empty()) text.pop_back();
    }
    return QString::fromStdString(text);
}

QString ReadDocumentFile(const QString& path)
{
    // The reader every document goes through: the same bounds (an RTF file may be as large as
    // the largest text saves to), and a FIFO or a device refused before it is opened, which
    // would otherwise hold the window until a writer came.
    const std::string bytes = ReadDocumentBytes(QFile::encodeName(path).toStdString());
    return DocumentText(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

// Written beside the old file and renamed over it, so that a crash or a full disk leaves the old
// file as it was.
void WriteDocumentFile(const QString& path, const QString& text)
{
    const std::string utf8 = text.toStdString();
    // A document must open again: past the reading bound a save would report success for a file
    // that Open then refuses. The text stays in the editor, still modified.
    if (utf8.size() > MaxDocumentBytes)
        throw Exception(QStringLiteral("ファイルが大きすぎて保存できません: %1").arg(path).toStdString());
    const std::string rtf = WriteRtf(utf8);
    const auto size = static_cast<qint64>(rtf.size());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(rtf.data(), size) != size || !file.commit())
        throw Exception(QStringLiteral("ファイルを保存できません: %1").arg(path).toStdString());
}

}  // namespace

QString TMainWindow::DocumentFileName(const QString& chosen)
{
    const QFileInfo info(chosen);
    const QString name = info.fileName();
    // Only the last dot of the name counts; a name that merely starts with a dot has no extension.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot + 1) : QString();
    // A document already named .qvr keeps its spelling: on a case-sensitive file system another
    // spelling would be another file.
    if (extension.compare(Extension, Qt::CaseInsensitive) == 0) return chosen;
    const QString dir = chosen.left(chosen.size() - name.size());
    return dir + stem + QLatin1Char('.') + Extension;
}

void TMainWindow::SetCurrentFile(const QString& path)
{
    fileName_ = path;
    setWindowTitle(path.isEmpty() ? ProductName + QStringLiteral("  新規")
                                  : ProductName + QStringLiteral("  ") + QFileInfo(path).fileName());
    editor->document()->setModified(false);
    ApplyModifiedState();
}

void TMainWindow::ReplaceText(const QString& text)
{
    editor->setPlainText(text);
    SetCurrentFile(fileName_);
    // The compiled song belongs to the text that was there before.
    playAction->setEnabled(false);
}

bool TMainWindow::MaybeSave()
{
    if (!editor->document()->isModified()) return true;
    switch (UserDialogs().Message(this, QMessageBox::Question, QuestionCaption,
                                  QStringLiteral("現在編集中のファイルを保存しますか？"),
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        return Save();
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

void TMainWindow::New()
{
    if (!MaybeSave()) return;
    fileName_.clear();
    ReplaceText(QString());
}

void TMainWindow::Open()
{
    if (!MaybeSave()) return;
    const QString path = UserDialogs().OpenFileName(this, OpenFilter);
    if (path.isEmpty()) return;
    // Read first: a file that cannot be read changes nothing.
    const QString text = ReadDocumentFile(path);
    fileName_ = path;
    ReplaceText(text);
}

bool TMainWindow::Save()
{
    if (fileName_.isEmpty()) return SaveWithDialog();
    if (!WriteDocument(fileName_)) return false;
    saveButton->setEnabled(false);
    SetCurrentFile(fileName_);
    return true;
}

bool TMainWindow::SaveAs() { return SaveWithDialog(); }

bool TMainWindow::ConfirmOverwrite(const QString& path)
{
    return !QFileInfo::exists(path) ||
           UserDialogs().Message(this, QMessageBox::Question, QuestionCaption,
                                 QStringLiteral("ファイルはすでに存在しています上書きしますか？"),
                                 QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

QString TMainWindow::ChooseExportFile(const QString& filter, const QString& suffix)
{
    const QString path = UserDialogs().SaveFileName(this, filter, suffix);
    if (path.isEmpty() || !ConfirmOverwrite(path)) return {};
    return path;
}

bool TMainWindow::SaveWithDialog()
{
    const QString chosen = UserDialogs().SaveFileName(this, SaveFilter, Extension);
    if (chosen.isEmpty()) return false;
    const QString path = DocumentFileName(chosen);
    if (!ConfirmOverwrite(path)) return false;
    if (!WriteDocument(path)) return false;
    saveButton->setEnabled(false);
    SetCurrentFile(path);
    return true;
}

QString TMainWindow::EditorText() const
{
    QString text = editor->document()->toRawText();
    for (QChar& c : text)
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) c = QLatin1Char('\n');
    return text;
}

bool TMainWindow::WriteDocument(const QString& path)
{
    return Guarded([&] { WriteDocumentFile(path, EditorText()); });
}
