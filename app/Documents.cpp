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
#include <string>
#include <string_view>
#include <utility>

#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/DocumentLoader.h"
#include "formats/Document.h"
#include "song/Exception.h"
#include "app/MainWindow.h"
#include "app/Recovery.h"
#include "formats/Rtf.h"

namespace {

const QString QuestionCaption = QStringLiteral("確認");
const QString StatusLoading = QStringLiteral("読み込み中… %1%");
const QString Extension = QStringLiteral("QVR");
const QString OpenFilter = QStringLiteral(
    "QVR / MML / テキスト / RTF (*.QVR *.qvr *.mml *.txt *.rtf);;QVRLYファイル (*.QVR *.qvr);;"
    "MML テキスト (*.mml);;テキスト (*.txt);;RTF (*.rtf);;すべてのファイル (*)");
const QString SaveFilter = QStringLiteral(".QVR (RTF) (*.QVR);;MML テキスト (*.mml *.txt)");
// Plain-text names: a document saved under one is written as text, not RTF.
const QString TextExtensions[] = {QStringLiteral("mml"), QStringLiteral("txt")};

bool IsTextName(const QString& extension)
{
    for (const QString& text : TextExtensions)
        if (extension.compare(text, Qt::CaseInsensitive) == 0) return true;
    return false;
}

// The extension of a file name: after its last dot; a name that merely starts with a dot has none.
QString ExtensionOf(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.mid(dot + 1) : QString();
}

// The text the editor shows for a document file's bytes, in UTF-8. RTF gives back exactly the text
// it was written from; plain text ends without the line end that closes its last line, as editors
// show it.
std::string DocumentText(std::string bytes, const TDocumentForm& form)
{
    if (!form.PlainText()) return ReadRtf(bytes);
    std::string text = DecodeDocument(std::move(bytes), form);
    if (!text.empty()) text.pop_back();
    return text;
}

struct TReadDocument {
    std::string Text;  // UTF-8
    TDocumentForm Form;
};

TReadDocument ReadDocumentFile(const QString& path)
{
    // The reader every document goes through: the same bounds (an RTF file may be as large as
    // the largest text saves to), a FIFO or a device refused before it is opened, which would
    // otherwise hold the window until a writer came, and an empty or binary file refused.
    TReadDocument document;
    std::string bytes = ReadDocumentBytes(QFile::encodeName(path).toStdString(), &document.Form);
    document.Text = DocumentText(std::move(bytes), document.Form);
    return document;
}

// Written beside the old file and renamed over it, so that a crash or a full disk leaves the old
// file as it was.
void WriteDocumentFile(const QString& path, const QString& text, const TDocumentForm& form)
{
    const std::string utf8 = text.toStdString();
    // A document must open again: past the reading bound a save would report success for a file
    // that Open then refuses. The text stays in the editor, still modified.
    if (utf8.size() > MaxDocumentBytes)
        throw Exception(QStringLiteral("ファイルが大きすぎて保存できません: %1").arg(path).toStdString());
    const std::string bytes = EncodeDocument(utf8, form);
    const auto size = static_cast<qint64>(bytes.size());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), size) != size || !file.commit())
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
    // spelling would be another file. A plain-text name is kept too: the document is then saved
    // as text.
    if (extension.compare(Extension, Qt::CaseInsensitive) == 0 || IsTextName(extension)) return chosen;
    const QString dir = chosen.left(chosen.size() - name.size());
    return dir + stem + QLatin1Char('.') + Extension;
}

void TMainWindow::SetCurrentFile(const QString& path)
{
    fileName_ = path;
    setWindowTitle((path.isEmpty() ? ProductName + QStringLiteral("  新規")
                                   : ProductName + QStringLiteral("  ") + QFileInfo(path).fileName()) +
                   QStringLiteral("[*]"));
    editor->document()->setModified(false);
    ApplyModifiedState();
    // Saved, or replaced by the user's choice: nothing is left to recover.
    if (recovery_ != nullptr) recovery_->Remove();
    recoveredRevision_ = -1;
}

void TMainWindow::ReplaceText(std::string utf8)
{
    const bool wasLoading = loader_->Loading();
    loader_->Load(std::move(utf8));
    SetCurrentFile(fileName_);
    // The compiled song belongs to the text that was there before.
    playAction->setEnabled(false);
    if (loader_->Loading() || wasLoading) SetLoading(loader_->Loading());
}

void TMainWindow::ShowLoadProgress(int percent) { compilePanel->setText(StatusLoading.arg(percent)); }

bool TMainWindow::LoadingDocument() const { return loader_->Loading(); }

void TMainWindow::SetLoading(bool value)
{
    for (QAction* action : {compileAction, playFromCursorAction, saveAction, saveAsAction, exportMidiAction,
                            exportWavAction, replaceAction, portAction})
        action->setEnabled(!value);
    if (value) {
        playAction->setEnabled(false);
        ShowLoadProgress(0);
    } else {
        compilePanel->clear();
    }
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
    documentForm_ = {};
    ClearSession();
    ReplaceText({});
}

void TMainWindow::Open()
{
    if (!MaybeSave()) return;
    const QString path = UserDialogs().OpenFileName(this, OpenFilter);
    if (path.isEmpty()) return;
    ReadAndShow(path);
}

bool TMainWindow::OpenFile(const QString& path)
{
    if (!MaybeSave()) return false;
    return Guarded([&] { ReadAndShow(path); });
}

void TMainWindow::ReadAndShow(const QString& path)
{
    // Read first: a file that cannot be read changes nothing.
    TReadDocument document = ReadDocumentFile(path);
    fileName_ = path;
    documentForm_ = document.Form;
    ClearSession();
    ReplaceText(std::move(document.Text));
    RememberRecentFile(path);
}

bool TMainWindow::Save()
{
    if (fileName_.isEmpty()) return SaveWithDialog();
    if (!WriteDocument(fileName_, documentForm_)) return false;
    saveButton->setEnabled(false);
    SetCurrentFile(fileName_);
    RememberRecentFile(fileName_);
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
    // The name says the format: a text name keeps a text document's encoding (a document that
    // was RTF or new becomes UTF-8), any other name is RTF.
    TDocumentForm form;
    if (IsTextName(ExtensionOf(path))) form = documentForm_.PlainText() ? documentForm_ : TDocumentForm{TDocumentEncoding::Utf8};
    if (!ConfirmOverwrite(path)) return false;
    if (!WriteDocument(path, form)) return false;
    saveButton->setEnabled(false);
    SetCurrentFile(path);
    RememberRecentFile(path);
    return true;
}

QString TMainWindow::EditorText() const
{
    QString text = editor->document()->toRawText();
    for (QChar& c : text)
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) c = QLatin1Char('\n');
    return text;
}

bool TMainWindow::WriteDocument(const QString& path, TDocumentForm form)
{
    const QString text = EditorText();
    if (form.Encoding == TDocumentEncoding::ShiftJis && !FitsShiftJis(text.toStdString())) {
        // Writing '?' in place of what Shift-JIS lacks would lose text without a word.
        if (UserDialogs().Message(this, QMessageBox::Question, QuestionCaption,
                                  QStringLiteral("Shift-JISで保存できない文字が含まれています。UTF-8で保存しますか？"),
                                  QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return false;
        form.Encoding = TDocumentEncoding::Utf8;
    }
    if (!Guarded([&] { WriteDocumentFile(path, text, form); })) return false;
    documentForm_ = form;
    return true;
}
