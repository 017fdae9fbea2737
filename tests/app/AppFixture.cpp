#include "tests/app/AppFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include "compiler/Compiler.h"
#include "app/Recovery.h"
#include "app/WindowSettings.h"
#include "playback/MidiOut.h"

namespace app_test {

QMessageBox::StandardButton TScriptedDialogs::Message(QWidget*, QMessageBox::Icon icon, const QString& caption,
                                                      const QString& text, QMessageBox::StandardButtons buttons,
                                                      const TButtonNames& names)
{
    Boxes.push_back({icon, caption, text, buttons, names});
    if (buttons == QMessageBox::Ok) return QMessageBox::Ok;  // nothing to decide
    if (Answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::No;
    }
    const QMessageBox::StandardButton answer = Answers.front();
    Answers.pop_front();
    EXPECT_TRUE(buttons.testFlag(answer)) << "the box did not offer the scripted answer: " << text.toStdString();
    return answer;
}

namespace {
// The next scripted file name; a dialog nobody expected is cancelled.
QString NextName(std::deque<QString>& names, const char* dialog)
{
    if (names.empty()) {
        ADD_FAILURE() << "unexpected " << dialog << " dialog";
        return {};
    }
    QString name = names.front();
    names.pop_front();
    return name;
}
}  // namespace

QString TScriptedDialogs::OpenFileName(QWidget*, const QString& filter)
{
    EXPECT_EQ(filter, QStringLiteral("QVR / MML / テキスト / RTF (*.QVR *.qvr *.mml *.txt *.rtf);;QVRLYファイル (*.QVR *.qvr);;"
                                     "MML テキスト (*.mml);;テキスト (*.txt);;RTF (*.rtf);;すべてのファイル (*)"));
    return NextName(OpenNames, "open");
}

QString TScriptedDialogs::SaveFileName(QWidget*, const QString& filter, const QString& defaultSuffix)
{
    EXPECT_EQ(filter, SaveFilter);
    EXPECT_EQ(defaultSuffix, SaveSuffix);
    return NextName(SaveNames, "save");
}

QString TScriptedDialogs::ExistingFolder(QWidget*, const QString&) { return NextName(FolderNames, "folder"); }

int TScriptedDialogs::Exec(QDialog& dialog)
{
    if (!OnExec) {
        ADD_FAILURE() << "unexpected dialog";
        return QDialog::Rejected;
    }
    // The dialog is shown as exec would show it; the script then works it like a user.
    dialog.show();
    return OnExec(dialog);
}

std::vector<std::string> TScriptedDialogs::TakeBoxes()
{
    std::vector<std::string> lines;
    for (const TBox& box : Boxes) lines.push_back(Box(box.Caption, box.Text));
    Boxes.clear();
    return lines;
}

std::string Box(const QString& caption, const QString& text) { return (caption + QLatin1Char('|') + text).toStdString(); }

std::string ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll().toStdString();
}

void WriteFile(const QString& path, const std::string& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void TScriptedTest::SetUp()
{
    QFile::remove(TPortSettings::FileName());
    QFile::remove(TWindowSettings::FileName());
    TRecovery::Discard();
    SetUserDialogs(&Script);
    SetMidiOutService(&Recording);
}

void TScriptedTest::TearDown()
{
    EXPECT_TRUE(Script.Answers.empty()) << "questions the program never asked";
    EXPECT_TRUE(Script.OpenNames.empty() && Script.SaveNames.empty() && Script.FolderNames.empty())
        << "file dialogs the program never showed";
    EXPECT_TRUE(Script.Boxes.empty()) << "boxes the test did not look at, first: "
                                      << (Script.Boxes.empty() ? "" : Script.Boxes.front().Text.toStdString());
    SetMidiOutService(nullptr);
    SetUserDialogs(nullptr);
}

void TWindowTest::SetUp()
{
    TScriptedTest::SetUp();
    // The players run on the recording service and the test's clock.
    Window = std::make_unique<TMainWindow>(Clock);
    PortDialog = std::make_unique<TPortDialog>();
    PortDialog->LoadAssignment();
    Window->SetPortDialog(PortDialog.get());
    Window->show();
}

void TWindowTest::TearDown()
{
    Window.reset();
    PortDialog.reset();
    TScriptedTest::TearDown();
}

TMMLEditor& TWindowTest::MMLEditor() const
{
    auto* editor = dynamic_cast<TMMLEditor*>(&Find<QPlainTextEdit>("editor"));
    if (editor == nullptr) throw std::logic_error("the editor is no TMMLEditor");
    return *editor;
}

void TWindowTest::Type(const QString& text)
{
    TMMLEditor& editor = MMLEditor();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\n')) {
            QTest::keyClick(&editor, Qt::Key_Return);
        } else if (c == QLatin1Char('\t')) {
            QTest::keyClick(&editor, Qt::Key_Tab);
        } else if (c.unicode() < 0x80) {
            QTest::keyClick(&editor, c.toLatin1());
        } else {
            // What an input method delivers: a key event carrying the character, surrogate pairs whole.
            const qsizetype length = c.isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text.mid(i, length));
            QApplication::sendEvent(&editor, &press);
            i += length - 1;
        }
    }
}

QString TWindowTest::EditorText() const
{
    // Raw, so that a no-break space is seen as what it is.
    QString text = MMLEditor().document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

void TWindowTest::CompileText(const QString& mml)
{
    MMLEditor().setPlainText(mml);
    Action("compileAction").trigger();
}

QString TWindowTest::Status(int panel) const
{
    const char* const panels[] = {"modifiedPanel", "typingModePanel", "compilePanel"};
    return Find<QLabel>(panels[panel]).text();
}

void TWindowTest::AssignPorts(const TPortDevices& devices)
{
    for (std::size_t port = 0; port < devices.size(); ++port) {
        const QString box = QStringLiteral("portBox%1").arg(port + 1);
        app_test::Find<QComboBox>(*PortDialog, box).setCurrentIndex(devices[port] + 1);
    }
    app_test::Find<QPushButton>(*PortDialog, QStringLiteral("okButton")).click();
}

}  // namespace app_test
