// The window's documents: each is saved in the format it was read in, a dropped file opens, what
// is no text is refused, a new or opened document starts with a clean pane, time and bar, and
// the recent files, a file named at the start and the window's size are remembered.
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QSlider>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "tests/app/AppFixture.h"
#include "app/InstanceLock.h"
#include "app/Program.h"
#include "formats/Document.h"
#include "formats/Encoding.h"
#include "formats/Rtf.h"

namespace app_test {
namespace {

const QString SaveQuestion = QStringLiteral("現在編集中のファイルを保存しますか？");
const QString Utf8Question = QStringLiteral("Shift-JISで保存できない文字が含まれています。UTF-8で保存しますか？");

class Documents : public TWindowTest {
protected:
    void SetUp() override
    {
        TWindowTest::SetUp();
        dir_ = ScratchDir() + QStringLiteral("/documents");
        QDir(dir_).removeRecursively();
        QDir().mkpath(dir_);
    }

    QString Path(const QString& name) const { return dir_ + QLatin1Char('/') + name; }
    QString Document(const QString& name, const std::string& bytes) const
    {
        WriteFile(Path(name), bytes);
        return Path(name);
    }
    void Open(const QString& path)
    {
        Script.OpenNames = {path};
        Action("openAction").trigger();
    }
    // Puts the cursor at the end of the text and types there.
    void Append(const QString& text)
    {
        MMLEditor().moveCursor(QTextCursor::End);
        Type(text);
    }
    // A drag of the file dropped on a widget, as the window system delivers it.
    static void Drop(QWidget& target, const QString& path)
    {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        const QPoint at(10, 10);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &drop);
        EXPECT_TRUE(drop.isAccepted());
        QApplication::processEvents();
    }

private:
    QString dir_;
};

// Open, edit, save with the same name, reopen: the file stays in its format and the text is what
// was typed.
TEST_F(Documents, SavingKeepsTheFormatTheDocumentWasReadIn)
{
    using E = TDocumentEncoding;
    struct Case {
        const char* Name;
        std::string Bytes;
        TDocumentForm Form;
        QString Text;
    };
    const Case cases[] = {
        {"kaeru.mml", "// かえるの歌\n[1] cdefedc\n", {E::Utf8, false}, QStringLiteral("// かえるの歌\n[1] cdefedc")},
        {"sjis.mml", Utf8ToCp932("// かえる①\r\n[1] cde\r\n"), {E::ShiftJis, true}, QStringLiteral("// かえる①\n[1] cde")},
        {"bom.txt", "\xEF\xBB\xBF// 歌\n", {E::Utf8WithBom, false}, QStringLiteral("// 歌")},
        {"song.QVR", WriteRtf("// かえる\n[1] c"), {E::Rtf, false}, QStringLiteral("// かえる\n[1] c")},
        // A plain-text file named like a document stays plain text.
        {"plain.QVR", "[1] c\n", {E::Utf8, false}, QStringLiteral("[1] c")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = Document(QString::fromLatin1(c.Name), c.Bytes);
        Open(path);
        EXPECT_EQ(EditorText(), c.Text);
        Append(QStringLiteral(" d　ド"));
        Action("saveAction").trigger();
        EXPECT_EQ(Window->FileName(), path);
        EXPECT_EQ(DocumentFormOf(ReadFile(path)), c.Form);
        Action("newAction").trigger();
        Open(path);
        EXPECT_EQ(EditorText(), c.Text + QStringLiteral(" d　ド"));
        EXPECT_EQ(Window->DocumentForm(), c.Form);
    }
}

// A character that Shift-JIS lacks asks before the document becomes UTF-8; No writes nothing.
TEST_F(Documents, ShiftJisAsksBeforeBecomingUtf8)
{
    const std::string original = Utf8ToCp932("// かえる\r\n");
    const QString path = Document(QStringLiteral("sjis.mml"), original);
    Open(path);
    Append(QStringLiteral("𠮷"));

    Script.Answers = {QMessageBox::No};
    Action("saveAction").trigger();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("確認", Utf8Question)}));
    EXPECT_EQ(ReadFile(path), original);
    EXPECT_TRUE(MMLEditor().document()->isModified());

    Script.Answers = {QMessageBox::Yes};
    Action("saveAction").trigger();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("確認", Utf8Question)}));
    EXPECT_EQ(ReadFile(path), "// かえる𠮷\r\n");
    EXPECT_FALSE(MMLEditor().document()->isModified());
    EXPECT_EQ(Window->DocumentForm(), (TDocumentForm{TDocumentEncoding::Utf8, true}));
}

// Save As: a text name is kept and written as text, any other name becomes .QVR in RTF.
TEST_F(Documents, SaveAsNameChoosesTheFormat)
{
    using E = TDocumentEncoding;
    const std::tuple<const char*, const char*, TDocumentForm> cases[] = {
        {"new.mml", "new.mml", {E::Utf8, false}},
        {"new.TXT", "new.TXT", {E::Utf8, false}},
        {"new", "new.QVR", {E::Rtf, false}},
        {"other.rtf", "other.QVR", {E::Rtf, false}},
    };
    for (const auto& [typed, written, form] : cases) {
        SCOPED_TRACE(typed);
        MMLEditor().document()->setModified(false);
        Action("newAction").trigger();
        MMLEditor().setPlainText(QStringLiteral("// 歌\n[1] c"));
        Script.SaveNames = {Path(QString::fromLatin1(typed))};
        ASSERT_TRUE(Window->SaveAs());
        EXPECT_EQ(Window->FileName(), Path(QString::fromLatin1(written)));
        EXPECT_EQ(DocumentFormOf(ReadFile(Path(QString::fromLatin1(written)))), form);
    }
    // A Shift-JIS document saved under another text name stays Shift-JIS.
    Open(Document(QStringLiteral("old.mml"), Utf8ToCp932("// 歌\r\n")));
    Script.SaveNames = {Path(QStringLiteral("copy.txt"))};
    ASSERT_TRUE(Window->SaveAs());
    EXPECT_EQ(ReadFile(Path(QStringLiteral("copy.txt"))), Utf8ToCp932("// 歌\r\n"));
}

// An empty file and one that is no text are refused by name, at once, and change nothing.
TEST_F(Documents, WhatIsNoTextIsRefused)
{
    Open(Document(QStringLiteral("kept.mml"), "kept\n"));
    // A WAV file: a header with zero bytes, then samples.
    std::string wav = std::string("RIFF\x24\x00\x40\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00", 24);
    for (unsigned i = 0; i < 4u * 1024 * 1024; ++i) wav += static_cast<char>(i * 7919u >> 3);
    const std::pair<QString, const char*> cases[] = {
        {Document(QStringLiteral("empty.mml"), ""), "ファイルが空なので読み込めません: "},
        {Document(QStringLiteral("sound.QVR"), wav), "テキストファイルではないので読み込めません: "},
    };
    for (const auto& [path, message] : cases) {
        QElapsedTimer timer;
        timer.start();
        Open(path);
        EXPECT_LT(timer.elapsed(), 5000) << "refusing took long";
        EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", QString::fromUtf8(message) + path)}));
        EXPECT_EQ(EditorText(), QStringLiteral("kept"));
        EXPECT_EQ(Window->FileName(), Path(QStringLiteral("kept.mml")));
        EXPECT_FALSE(MMLEditor().document()->isModified());
    }
}

// A file dropped on the editor opens after the unsaved-changes question, and its address is not
// typed into the text; Cancel keeps the document.
TEST_F(Documents, ADroppedFileOpens)
{
    const QString dropped = Document(QStringLiteral("dropped.mml"), "// 落とした\n");
    Type(QStringLiteral("unsaved"));
    Script.Answers = {QMessageBox::Cancel};
    Drop(*MMLEditor().viewport(), dropped);
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("確認", SaveQuestion)}));
    EXPECT_EQ(EditorText(), QStringLiteral("unsaved"));

    Script.Answers = {QMessageBox::No};
    Drop(*MMLEditor().viewport(), dropped);
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("確認", SaveQuestion)}));
    EXPECT_EQ(EditorText(), QStringLiteral("// 落とした"));
    EXPECT_EQ(Window->FileName(), dropped);
    // On the message pane too.
    Drop(*MessagePane().viewport(), Document(QStringLiteral("other.mml"), "other\n"));
    EXPECT_EQ(EditorText(), QStringLiteral("other"));
}

// New and Open leave nothing of the previous document's compile and playing.
TEST_F(Documents, NewAndOpenStartClean)
{
    const QString other = Document(QStringLiteral("other.mml"), "[1] c\n");
    for (const char* command : {"newAction", "openAction"}) {
        SCOPED_TRACE(command);
        AssignPorts({0, -1, -1, -1});
        // A macro's definition is listed in the pane.
        CompileText(QStringLiteral("[Intro] cde [1]\nt120 l4 cdefgab<c"));
        Action("playAction").trigger();
        for (int t = 0; t < 1500; t += 100) {
            Clock.AdvanceMs(100);
            Window->RefreshDisplay();
        }
        ASSERT_NE(Find<QLabel>("timeLabel").text(), QStringLiteral("00:00:00"));
        ASSERT_GT(Find<QSlider>("positionBar").value(), 0);
        ASSERT_FALSE(MessagePane().toPlainText().isEmpty());
        // The compiled text is no one's edit: the document counts as unmodified.
        MMLEditor().document()->setModified(false);
        if (std::string(command) == "openAction") Script.OpenNames = {other};
        Action(command).trigger();
        EXPECT_EQ(MessagePane().toPlainText(), QString());
        EXPECT_EQ(Find<QLabel>("timeLabel").text(), QStringLiteral("00:00:00"));
        EXPECT_EQ(Find<QSlider>("positionBar").value(), 0);
        EXPECT_EQ(Find<QSlider>("positionBar").maximum(), 100);
        EXPECT_TRUE(Action("stopAction").isChecked());
        EXPECT_FALSE(Action("playAction").isEnabled());
        EXPECT_EQ(MMLEditor().PlayingLine(), 0);
    }
}

// A long document shows its beginning at once and the rest follows from the event loop; until it
// is all in, nothing may change, compile or save it.
TEST_F(Documents, ALongDocumentShowsItsBeginningAtOnceAndTheRestFollows)
{
    std::string bytes;
    for (int line = 0; bytes.size() < 2'600'000; ++line) bytes += "// " + std::to_string(line) + " cdefgab\n";
    const QString path = Document(QStringLiteral("long.mml"), bytes);
    const char* const locked[] = {"compileAction", "playAction", "playFromCursorAction", "saveAction",
                                  "saveAsAction", "exportMidiAction", "exportWavAction", "replaceAction"};

    ASSERT_TRUE(Window->OpenFile(path));
    ASSERT_TRUE(Window->LoadingDocument());
    EXPECT_TRUE(EditorText().startsWith(QStringLiteral("// 0 cdefgab\n// 1 cdefgab\n")));
    EXPECT_LT(EditorText().size(), static_cast<qsizetype>(bytes.size()));
    EXPECT_TRUE(MMLEditor().isReadOnly());
    for (const char* name : locked) EXPECT_FALSE(Action(name).isEnabled()) << name;
    EXPECT_TRUE(Status(2).startsWith(QStringLiteral("読み込み中… "))) << Status(2).toStdString();
    EXPECT_EQ(Caption(), QStringLiteral("Quaverly  long.mml"));

    for (int turn = 0; Window->LoadingDocument() && turn < 1000; ++turn) QApplication::processEvents();
    ASSERT_FALSE(Window->LoadingDocument());
    EXPECT_EQ(EditorText().toStdString() + "\n", bytes);
    EXPECT_FALSE(MMLEditor().isReadOnly());
    EXPECT_FALSE(MMLEditor().document()->isModified());
    EXPECT_FALSE(MMLEditor().document()->isUndoAvailable()) << "the loaded lines are no edit to undo";
    for (const char* name : locked) {
        if (std::string(name) != "playAction") {
            EXPECT_TRUE(Action(name).isEnabled()) << name;
        }
    }
    EXPECT_EQ(Status(2), QString());
    Action("compileAction").trigger();
    EXPECT_TRUE(Action("playAction").isEnabled());
}

// What replaces a document that is still loading drops the rest of it; closing the window stops it.
TEST_F(Documents, ALoadInProgressEndsWithWhatReplacesIt)
{
    std::string bytes;
    for (int line = 0; bytes.size() < 2'600'000; ++line) bytes += "cdefgab\n";
    const QString path = Document(QStringLiteral("long.mml"), bytes);
    const QString other = Document(QStringLiteral("other.mml"), "[1] c\n");
    for (const char* command : {"newAction", "openAction", "close"}) {
        SCOPED_TRACE(command);
        ASSERT_TRUE(Window->OpenFile(path));
        ASSERT_TRUE(Window->LoadingDocument());
        if (std::string(command) == "close") {
            EXPECT_TRUE(Window->close());
            EXPECT_FALSE(Window->LoadingDocument());
            EXPECT_EQ(Script.TakeBoxes(), Boxes{}) << "nothing to save";
            continue;
        }
        Script.OpenNames = {other};
        Action(command).trigger();
        EXPECT_FALSE(Window->LoadingDocument());
        for (int turn = 0; turn < 5; ++turn) QApplication::processEvents();
        EXPECT_EQ(EditorText(), std::string(command) == "newAction" ? QString() : QStringLiteral("[1] c"));
        EXPECT_FALSE(MMLEditor().isReadOnly());
        EXPECT_TRUE(Action("compileAction").isEnabled());
        EXPECT_EQ(Status(2), QString());
    }
}

// The recent files: the last eight, the latest first, each of which opens; kept for the next run.
TEST_F(Documents, RecentFilesAreTheLastEight)
{
    for (int i = 1; i <= 9; ++i) Open(Document(QStringLiteral("song%1.mml").arg(i), "[1] c\n"));
    // Opening one again moves it to the front.
    Open(Path(QStringLiteral("song3.mml")));
    const auto entries = [](const TMainWindow& window) {
        QStringList names;
        for (QAction* action : app_test::Find<QMenu>(window, QStringLiteral("recentMenu")).actions()) names << action->text();
        return names;
    };
    const QStringList expected{QStringLiteral("&1 song3.mml"), QStringLiteral("&2 song9.mml"), QStringLiteral("&3 song8.mml"),
                               QStringLiteral("&4 song7.mml"), QStringLiteral("&5 song6.mml"), QStringLiteral("&6 song5.mml"),
                               QStringLiteral("&7 song4.mml"), QStringLiteral("&8 song2.mml")};
    EXPECT_EQ(entries(*Window), expected);
    app_test::Find<QMenu>(*Window, QStringLiteral("recentMenu")).actions().at(4)->trigger();
    EXPECT_EQ(Window->FileName(), Path(QStringLiteral("song6.mml")));
    // A new run shows the same list.
    TMainWindow next(Clock);
    EXPECT_EQ(entries(next).first(), QStringLiteral("&1 song6.mml"));
    EXPECT_EQ(entries(next).size(), 8);
}

// Size, place, splitter and font size come back at the next start.
TEST_F(Documents, TheWindowIsRememberedAsItWasClosed)
{
    Window->setGeometry(40, 50, 1000, 700);
    Find<QSplitter>("splitter").setSizes({300, 200});
    MMLEditor().SetFontPointSize(22);
    QApplication::processEvents();
    const QRect geometry = Window->geometry();
    const QList<int> sizes = Find<QSplitter>("splitter").sizes();
    ASSERT_TRUE(Window->close());

    TMainWindow next(Clock);
    next.show();
    QApplication::processEvents();
    EXPECT_EQ(next.geometry(), geometry);
    EXPECT_EQ(app_test::Find<QSplitter>(next, QStringLiteral("splitter")).sizes(), sizes);
    EXPECT_EQ(dynamic_cast<TMMLEditor&>(app_test::Find<QPlainTextEdit>(next, QStringLiteral("editor"))).FontPointSize(), 22);
}

}  // namespace

// `quaverly FILE` opens the file in the window it starts.
class StartWithFile : public TScriptedTest {};

TEST_F(StartWithFile, TheFileNamedAtTheStartOpens)
{
    const QString path = ScratchDir() + QStringLiteral("/start.mml");
    WriteFile(path, "// 起動時に開く\n");
    QString shown;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* window = dynamic_cast<TMainWindow*>(widget)) {
                shown = window->FileName() + QLatin1Char('|') +
                        app_test::Find<QPlainTextEdit>(*window, QStringLiteral("editor")).toPlainText();
                window->close();
            }
    });
    EXPECT_EQ(RunQuaverly(InstanceLockPath(), &Recording, path), 0);
    EXPECT_EQ(shown, path + QStringLiteral("|// 起動時に開く"));
}

}  // namespace app_test
