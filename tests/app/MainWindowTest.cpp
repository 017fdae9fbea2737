// The main window: its start, the modified state, the document commands with their guards
// against losing text, the caption, Compile, Insert and the global error report.
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <stdexcept>

#include "tests/app/AppFixture.h"
#include "app/Application.h"
#include "formats/Document.h"
#include "formats/Rtf.h"

namespace app_test {
namespace {

const QString SaveQuestion = QStringLiteral("現在編集中のファイルを保存しますか？");
const QString OverwriteQuestion = QStringLiteral("ファイルはすでに存在しています上書きしますか？");

class MainWindow : public TWindowTest {
protected:
    static QString Path(const QString& name) { return ScratchDir() + QLatin1Char('/') + name; }

    // A scratch document file holding text as the program writes it.
    static QString Document(const QString& name, const QString& text)
    {
        WriteFile(Path(name), WriteRtf(text.toStdString()));
        return Path(name);
    }

    void SetUp() override
    {
        TWindowTest::SetUp();
        for (const QString& name : QDir(ScratchDir()).entryList({QStringLiteral("*.QVR"), QStringLiteral("*.txt")}))
            QFile::remove(Path(name));
    }
};

TEST_F(MainWindow, StartsWithAnEmptyUnnamedDocument)
{
    EXPECT_EQ(EditorText(), QString());
    EXPECT_EQ(Caption(), QStringLiteral("Quaverly  新規"));
    EXPECT_TRUE(Window->FileName().isEmpty());
    EXPECT_FALSE(Action("playAction").isEnabled());
    EXPECT_TRUE(Action("stopAction").isChecked());
    EXPECT_EQ(Status(0), QString());
    EXPECT_EQ(Status(1), QStringLiteral("挿入"));
    EXPECT_EQ(Find<QLabel>("timeLabel").text(), QStringLiteral("00:00:00"));
    EXPECT_TRUE(Find<QSlider>("positionBar").isEnabled());
    EXPECT_EQ(Find<QSlider>("positionBar").maximum(), 100);
}

TEST_F(MainWindow, EveryToolBarButtonHasItsHintAsTooltipAndAccessibleName)
{
    const std::pair<QAction*, const char*> buttons[] = {
        {&Action("newAction"), "新規"},   {&Action("openAction"), "開く"},       {&Action("saveAction"), "上書保存"},
        {&Action("compileAction"), "コンパイル"}, {&Action("playAction"), "再生"}, {&Action("pauseAction"), "一時停止"},
        {&Action("slowAction"), "スロー"}, {&Action("fastAction"), "早送り"},     {&Action("stopAction"), "停止"},
        {&Action("playFromCursorAction"), "カーソル位置から再生"}, {&Action("followAction"), "演奏位置を表示"},
        {&Action("loopAction"), "繰り返し再生"},
    };
    for (const auto& [action, hint] : buttons) {
        QWidget* button = Find<QToolBar>("toolBar").widgetForAction(action);
        ASSERT_NE(button, nullptr) << hint;
        EXPECT_EQ(action->toolTip(), QString::fromUtf8(hint));
        EXPECT_EQ(button->accessibleName(), QString::fromUtf8(hint));
        EXPECT_TRUE(button->isVisible()) << hint << ": folded away for want of room";
    }
}

TEST_F(MainWindow, EditsMarkTheTextModifiedAndMustBeCompiledBeforePlaying)
{
    QWidget& saveButton = Find<QWidget>("saveButton");
    saveButton.setEnabled(false);
    Type(QStringLiteral("c"));
    EXPECT_TRUE(saveButton.isEnabled());
    EXPECT_EQ(Status(0), QStringLiteral("変更有り"));
    EXPECT_FALSE(Action("playAction").isEnabled());

    Action("compileAction").trigger();
    EXPECT_TRUE(Action("playAction").isEnabled());
    EXPECT_EQ(Status(0), QStringLiteral("変更有り"));

    Type(QStringLiteral("d"));
    EXPECT_FALSE(Action("playAction").isEnabled());
}

TEST_F(MainWindow, SavingANewDocumentWritesAQvrFileNamedInTheCaption)
{
    Type(QStringLiteral("t120 // テスト\n\tcde\n\n"));
    // A name that is no plain-text name becomes a .QVR document.
    Script.SaveNames = {Path(QStringLiteral("song.rtf"))};
    EXPECT_TRUE(Window->Save());
    EXPECT_EQ(Window->FileName(), Path(QStringLiteral("song.QVR")));
    EXPECT_EQ(ReadRtf(ReadFile(Window->FileName())), "t120 // テスト\n\tcde\n\n");
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("song.rtf"))));
    EXPECT_EQ(Caption(), QStringLiteral("Quaverly  song.QVR"));
    EXPECT_FALSE(Find<QWidget>("saveButton").isEnabled());
    EXPECT_FALSE(MMLEditor().document()->isModified());
    EXPECT_EQ(Status(0), QString());

    // The next save goes to the same file without a dialog.
    Type(QStringLiteral("d"));
    EXPECT_TRUE(Window->Save());
    EXPECT_EQ(ReadRtf(ReadFile(Window->FileName())), "t120 // テスト\n\tcde\n\nd");
}

TEST_F(MainWindow, SavingOverAnExistingFileAsksFirst)
{
    const QString existing = Document(QStringLiteral("old.QVR"), QStringLiteral("old"));
    Type(QStringLiteral("new"));

    Script.SaveNames = {existing};
    Script.Answers = {QMessageBox::Cancel};
    EXPECT_FALSE(Window->Save());
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("確認", OverwriteQuestion)}));
    EXPECT_EQ(ReadRtf(ReadFile(existing)), "old");
    EXPECT_TRUE(Window->FileName().isEmpty());
    EXPECT_EQ(Caption(), QStringLiteral("Quaverly  新規"));
    EXPECT_TRUE(MMLEditor().document()->isModified());

    Script.SaveNames = {existing};
    Script.Answers = {QMessageBox::Ok};
    EXPECT_TRUE(Window->Save());
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("確認", OverwriteQuestion)}));
    EXPECT_EQ(ReadRtf(ReadFile(existing)), "new");
    EXPECT_EQ(Caption(), QStringLiteral("Quaverly  old.QVR"));
    EXPECT_FALSE(MMLEditor().document()->isModified());
}

TEST_F(MainWindow, SaveAsCancelledWritesNothingAndSaysNothing)
{
    Type(QStringLiteral("abc"));
    Script.SaveNames = {QString()};
    EXPECT_FALSE(Window->SaveAs());
    EXPECT_EQ(QDir(ScratchDir()).entryList({QStringLiteral("*.QVR")}), QStringList());
    EXPECT_TRUE(MMLEditor().document()->isModified());
    EXPECT_EQ(Caption(), QStringLiteral("Quaverly  新規"));
}

TEST_F(MainWindow, SaveAsMovesANamedDocumentToTheNewName)
{
    Script.OpenNames = {Document(QStringLiteral("a.QVR"), QStringLiteral("x"))};
    Action("openAction").trigger();
    Script.SaveNames = {Path(QStringLiteral("b"))};
    EXPECT_TRUE(Window->SaveAs());
    EXPECT_EQ(Window->FileName(), Path(QStringLiteral("b.QVR")));
    EXPECT_EQ(Caption(), QStringLiteral("Quaverly  b.QVR"));
    EXPECT_EQ(ReadRtf(ReadFile(Path(QStringLiteral("b.QVR")))), "x");
}

TEST_F(MainWindow, AFailedSaveIsReportedAndKeepsTheTextModified)
{
    Type(QStringLiteral("abc"));
    const QString path = Path(QStringLiteral("missing-folder/song.QVR"));
    Script.SaveNames = {path};
    EXPECT_FALSE(Window->Save());
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "ファイルを保存できません: " + path)}));
    EXPECT_TRUE(Window->FileName().isEmpty());
    EXPECT_TRUE(MMLEditor().document()->isModified());
    EXPECT_EQ(Status(0), QStringLiteral("変更有り"));
}

// New, Open and closing the window with unsaved text: Yes saves first, No discards, Cancel, or a
// save that does not happen, keeps the text and abandons the command.
TEST_F(MainWindow, NoCommandLosesUnsavedText)
{
    struct Command {
        const char* name;
        std::function<bool(TWindowTest&, TMainWindow&, TScriptedDialogs&)> run;  // true: the command went through
    };
    const QString other = Document(QStringLiteral("other.QVR"), QStringLiteral("other text"));
    const Command commands[] = {
        {"New", [this](TWindowTest&, TMainWindow&, TScriptedDialogs&) {
             Action("newAction").trigger();
             return MMLEditor().toPlainText().isEmpty();
         }},
        {"Open", [this, &other](TWindowTest&, TMainWindow&, TScriptedDialogs& s) {
             s.OpenNames = {other};
             Action("openAction").trigger();
             // An abandoned Open never shows its dialog.
             const bool opened = MMLEditor().toPlainText() == QStringLiteral("other text");
             if (!opened) s.OpenNames.clear();
             return opened;
         }},
        {"close", [](TWindowTest&, TMainWindow& f, TScriptedDialogs&) { return f.close(); }},
    };
    struct Answer {
        const char* name;
        QMessageBox::StandardButton button;
        QString saveName;  // for Yes: the name given to the save dialog, empty to cancel it
        bool goesThrough;
        bool saved;
    };
    const Answer answers[] = {
        {"Yes", QMessageBox::Yes, Path(QStringLiteral("kept.QVR")), true, true},
        {"Yes, save cancelled", QMessageBox::Yes, QString(), false, false},
        {"Yes, save failed", QMessageBox::Yes, Path(QStringLiteral("no/such/folder.QVR")), false, false},
        {"No", QMessageBox::No, {}, true, false},
        {"Cancel", QMessageBox::Cancel, {}, false, false},
    };
    for (const Command& command : commands) {
        for (const Answer& answer : answers) {
            SCOPED_TRACE(std::string(command.name) + " / " + answer.name);
            QFile::remove(Path(QStringLiteral("kept.QVR")));
            Window->show();
            // A new, empty and unnamed document.
            MMLEditor().document()->setModified(false);
            Action("newAction").trigger();
            Type(QStringLiteral("unsaved"));
            Script.Answers = {answer.button};
            if (answer.button == QMessageBox::Yes) Script.SaveNames = {answer.saveName};

            EXPECT_EQ(command.run(*this, *Window, Script), answer.goesThrough);
            const std::vector<std::string> boxes = Script.TakeBoxes();
            ASSERT_FALSE(boxes.empty());
            EXPECT_EQ(boxes.front(), Box("確認", SaveQuestion));
            EXPECT_EQ(boxes.size(), answer.saveName.contains(QStringLiteral("no/such")) ? 2u : 1u);
            if (!answer.goesThrough) {
                EXPECT_EQ(EditorText(), QStringLiteral("unsaved"));
                EXPECT_TRUE(Window->isVisible());
            }
            EXPECT_EQ(QFileInfo::exists(Path(QStringLiteral("kept.QVR"))), answer.saved);
            if (answer.saved) {
                EXPECT_EQ(ReadRtf(ReadFile(Path(QStringLiteral("kept.QVR")))), "unsaved");
            }
        }
    }
}

TEST_F(MainWindow, UnmodifiedTextIsReplacedWithoutAQuestion)
{
    Script.OpenNames = {Document(QStringLiteral("a.QVR"), QStringLiteral("first"))};
    Action("openAction").trigger();
    EXPECT_EQ(EditorText(), QStringLiteral("first"));
    EXPECT_EQ(Window->FileName(), Path(QStringLiteral("a.QVR")));
    EXPECT_EQ(Caption(), QStringLiteral("Quaverly  a.QVR"));
    EXPECT_FALSE(MMLEditor().document()->isModified());
    EXPECT_EQ(Status(0), QString());
    EXPECT_FALSE(Action("playAction").isEnabled()) << "the opened text is not compiled yet";

    Action("newAction").trigger();
    EXPECT_EQ(EditorText(), QString());
    EXPECT_TRUE(Window->FileName().isEmpty());
    EXPECT_EQ(Caption(), QStringLiteral("Quaverly  新規"));
    EXPECT_TRUE(Window->close());
}

TEST_F(MainWindow, AFileThatCannotBeReadChangesNothing)
{
    Script.OpenNames = {Document(QStringLiteral("a.QVR"), QStringLiteral("kept"))};
    Action("openAction").trigger();
    for (const QString& path : {Path(QStringLiteral("missing.QVR")), ScratchDir()}) {
        Script.OpenNames = {path};
        Action("openAction").trigger();
        EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "ファイルを読み込めません: " + path)}));
        EXPECT_EQ(EditorText(), QStringLiteral("kept"));
        EXPECT_EQ(Window->FileName(), Path(QStringLiteral("a.QVR")));
        EXPECT_EQ(Caption(), QStringLiteral("Quaverly  a.QVR"));
    }
}

// Documents written by other programs, and plain text files named like documents, open with the
// lines their .expected.txt gives, each followed by a line feed.
TEST_F(MainWindow, OpensEveryKindOfDocument)
{
    const char* const documents[] = {"abiword.rtf",        "libreoffice-writer.rtf", "pandoc.rtf",
                                     "richedit-cp932.QVR", "plain-utf8.QVR",         "plain-sjis.QVR"};
    const QString fixtures = QDir::currentPath() + QStringLiteral("/tests/fixtures/documents/");
    for (const char* name : documents) {
        SCOPED_TRACE(name);
        const QString path = fixtures + QString::fromLatin1(name);
        Script.OpenNames = {path};
        Action("openAction").trigger();
        const QString stem = path.left(path.lastIndexOf(QLatin1Char('.')));
        std::string lines;
        for (const std::string& line : SplitLines(EditorText().toStdString())) lines += line + "\n";
        EXPECT_EQ(lines, ReadFile(stem + QStringLiteral(".expected.txt")));
        EXPECT_FALSE(MMLEditor().document()->isModified());
    }
}

TEST_F(MainWindow, SavedTextComesBackExactly)
{
    const QString texts[] = {
        QStringLiteral("// テスト曲　①②\n\n[1]\tt120 o4 l8 cdefgab<c\n"),
        QStringLiteral("no-break\u00A0space, 𠮷, ～〜¥\\ {braces}\n\n\n"),
        QStringLiteral("\n"),
    };
    for (const QString& text : texts) {
        // A new document, so that the save asks for the name.
        MMLEditor().document()->setModified(false);
        Action("newAction").trigger();
        MMLEditor().setPlainText(text);
        Script.SaveNames = {Path(QStringLiteral("round.QVR"))};
        if (QFileInfo::exists(Path(QStringLiteral("round.QVR")))) Script.Answers = {QMessageBox::Ok};
        ASSERT_TRUE(Window->Save());
        Script.TakeBoxes();
        Action("newAction").trigger();
        Script.OpenNames = {Path(QStringLiteral("round.QVR"))};
        Action("openAction").trigger();
        EXPECT_EQ(EditorText(), text);
    }
}

TEST_F(MainWindow, DocumentFileNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/d/song.txt", "/d/song.txt"},  // a text name is kept: saved as text
        {"/d/song", "/d/song.QVR"},
        {"/d/song.", "/d/song.QVR"},
        {"/d/my.song.rtf", "/d/my.song.QVR"},
        {"/d/my.song.mml", "/d/my.song.mml"},
        {"/d/song.QVR", "/d/song.QVR"},
        {"/d/song.qvr", "/d/song.qvr"},  // another spelling would be another file
        {"/d.x/song", "/d.x/song.QVR"},  // only the name's dot counts
        {"/d/.hidden", "/d/.hidden.QVR"},
    };
    for (const auto& [chosen, written] : cases)
        EXPECT_EQ(TMainWindow::DocumentFileName(QString::fromUtf8(chosen)), QString::fromUtf8(written)) << chosen;
}

TEST_F(MainWindow, InsertTogglesOverwriteTyping)
{
    Type(QStringLiteral("abc"));
    MMLEditor().moveCursor(QTextCursor::Start);
    QTest::keyClick(&MMLEditor(), Qt::Key_Insert);
    EXPECT_EQ(Status(1), QStringLiteral("上書き"));
    EXPECT_TRUE(MMLEditor().overwriteMode());
    Type(QStringLiteral("X"));
    EXPECT_EQ(EditorText(), QStringLiteral("Xbc"));

    QTest::keyClick(&MMLEditor(), Qt::Key_Insert);
    EXPECT_EQ(Status(1), QStringLiteral("挿入"));
    Type(QStringLiteral("Y"));
    EXPECT_EQ(EditorText(), QStringLiteral("XYbc"));

    QTest::keyClick(&MMLEditor(), Qt::Key_A);
    EXPECT_EQ(Status(1), QStringLiteral("挿入")) << "other keys change nothing";
}

TEST_F(MainWindow, TabTypesATab)
{
    MMLEditor().setFocus();
    QTest::keyClick(&MMLEditor(), Qt::Key_Tab);
    EXPECT_EQ(EditorText(), QStringLiteral("\t"));
}

TEST_F(MainWindow, KeyboardShortcuts)
{
    QApplication::setActiveWindow(Window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
    MMLEditor().setFocus();
    Type(QStringLiteral("cde"));
    QTest::keyClick(&MMLEditor(), Qt::Key_F5);
    EXPECT_TRUE(Action("playAction").isEnabled()) << "F5 compiles";

    Script.SaveNames = {Path(QStringLiteral("keys.QVR"))};
    QTest::keyClick(&MMLEditor(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(Window->FileName(), Path(QStringLiteral("keys.QVR")));

    Script.SaveNames = {Path(QStringLiteral("keys2.QVR"))};
    QTest::keyClick(&MMLEditor(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Window->FileName(), Path(QStringLiteral("keys2.QVR")));

    QTest::keyClick(&MMLEditor(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(Window->FileName().isEmpty());

    Script.OpenNames = {Path(QStringLiteral("keys.QVR"))};
    QTest::keyClick(&MMLEditor(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(EditorText(), QStringLiteral("cde"));

    QTest::keyClick(&MMLEditor(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(Window->isVisible()) << "Quit closes the window";
}

TEST_F(MainWindow, CompileErrorsAreShownAndWhatCameBeforePlays)
{
    CompileText(QStringLiteral("[Intro] cde [1]\nc o9 c"));
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "オクターブが範囲を超えました( 行 : 2 )")}));
    EXPECT_TRUE(Action("playAction").isEnabled());
    EXPECT_TRUE(Action("stopAction").isChecked());
    EXPECT_TRUE(MessagePane().toPlainText().startsWith(QStringLiteral("[Intro]")));
}

TEST_F(MainWindow, CompileOpensTheDevicesOfThePortDialog)
{
    Script.OnExec = [this](QDialog& dialog) {
        EXPECT_EQ(&dialog, PortDialog.get());
        app_test::Find<QComboBox>(dialog, QStringLiteral("portBox2")).setCurrentIndex(2);  // device 1
        app_test::Find<QPushButton>(dialog, QStringLiteral("okButton")).click();
        return dialog.result();
    };
    Action("portAction").trigger();
    EXPECT_EQ(PortDialog->PortDevices(), (TPortDevices{-1, 1, -1, -1}));
    CompileText(QStringLiteral("c"));
    EXPECT_EQ(Recording.OpenDevices(), 1);
    EXPECT_TRUE(Window->Players().Items(1).IsOpen());
}

TEST_F(MainWindow, ADeviceThatCannotBeOpenedIsReported)
{
    AssignPorts({3, -1, -1, -1});
    Recording.FailOpen(3, "デバイスは使用中です");
    CompileText(QStringLiteral("c"));
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "デバイスは使用中です")}));
    EXPECT_FALSE(Action("playAction").isEnabled());
}

TEST_F(MainWindow, VersionBox)
{
    Action("versionAction").trigger();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "        Version β版 0.01        ")}));
}

TEST_F(MainWindow, MenuTexts)
{
    QStringList items;
    for (QAction* action : Window->menuBar()->actions()) items << action->text();
    for (QAction* action : Find<QMenu>("fileMenu").actions())
        if (!action->isSeparator()) items << action->text();
    EXPECT_EQ(items, (QStringList{QStringLiteral("ファイル(&F)"), QStringLiteral("編集(&E)"), QStringLiteral("演奏(&P)"),
                                  QStringLiteral("ポート"),
                                  QStringLiteral("バージョン"),
                                  QStringLiteral("新規(&N)"), QStringLiteral("開く(&L)"), QStringLiteral("上書保存(&S)"),
                                  QStringLiteral("名前を付けて保存(&A)"), QStringLiteral("最近使ったファイル(&R)"), QStringLiteral("MIDIファイルに書き出し..."),
                                  QStringLiteral("WAVファイルに書き出し..."), QStringLiteral("トラックごとに書き出す(&T)..."),
                                  QStringLiteral("終了(&X)")}));
}

// ---- The global error report ----

class TThrowingObject : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) throw std::runtime_error("boom");
        return QObject::event(e);
    }
};

TEST_F(MainWindow, AnErrorEscapingAHandlerIsShownAndTheProgramGoesOn)
{
    TThrowingObject object;
    QEvent event(QEvent::User);
    QApplication::sendEvent(&object, &event);
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "boom")}));
    ASSERT_EQ(Script.Boxes.size(), 0u);

    EXPECT_FALSE(Guarded([] { throw Exception("失敗しました"); }));
    ASSERT_EQ(Script.Boxes.size(), 1u);
    EXPECT_EQ(Script.Boxes.front().Icon, QMessageBox::Critical);
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "失敗しました")}));
}

// The boxes the program really shows: Qt's, with Japanese buttons, answered by a click.
TEST(QtDialogs, ShowTheBoxAndReturnTheButtonClicked)
{
    QString buttonText;
    QTimer::singleShot(0, [&buttonText] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), QStringLiteral("確認"));
        EXPECT_EQ(box->text(), QStringLiteral("質問"));
        buttonText = box->button(QMessageBox::No)->text();
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(UserDialogs().Message(nullptr, QMessageBox::Question, QStringLiteral("確認"), QStringLiteral("質問"),
                                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel),
              QMessageBox::No);
    EXPECT_TRUE(buttonText.contains(QStringLiteral("いいえ"))) << buttonText.toStdString();
}

}  // namespace
}  // namespace app_test
