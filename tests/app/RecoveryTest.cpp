// The recovery copy of unsaved text: written while there are unsaved changes, gone after a save
// or a close, and offered at the next start after the program was killed.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "tests/app/AppFixture.h"
#include "app/InstanceLock.h"
#include "app/Program.h"
#include "app/Recovery.h"

namespace app_test {
namespace {

const QString SaveQuestion = QStringLiteral("現在編集中のファイルを保存しますか？");

TMainWindow* MainWindowShown()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = dynamic_cast<TMainWindow*>(widget)) return window;
    return nullptr;
}

bool RecoveryFileExists() { return QFileInfo::exists(TRecovery::FilePath()); }

class RecoveryCopy : public TWindowTest {};

TEST_F(RecoveryCopy, FollowsTheUnsavedText)
{
    Window->Recovery().SetInterval(20);
    Type(QStringLiteral("[1] cde"));
    ASSERT_TRUE(QTest::qWaitFor(RecoveryFileExists, 10000));
    std::optional<TRecoveredDocument> copy = TRecovery::Read();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->Text, QStringLiteral("[1] cde"));
    EXPECT_EQ(copy->DocumentPath, QString());
    EXPECT_LT(copy->Written.secsTo(QDateTime::currentDateTime()), 60);

    // A save removes it; the next change of the saved document makes it again, naming the file.
    const QString path = ScratchDir() + QStringLiteral("/recovered.mml");
    Script.SaveNames = {path};
    ASSERT_TRUE(Window->Save());
    EXPECT_FALSE(RecoveryFileExists());
    QTest::qWait(100);
    EXPECT_FALSE(RecoveryFileExists()) << "written for a saved document";
    Type(QStringLiteral(" f"));
    ASSERT_TRUE(QTest::qWaitFor(RecoveryFileExists, 10000));
    EXPECT_EQ(TRecovery::Read()->DocumentPath, path);
    EXPECT_EQ(TRecovery::Read()->Form, (TDocumentForm{TDocumentEncoding::Utf8, false}));

    // A close that discards the text removes it too.
    Script.Answers = {QMessageBox::No};
    ASSERT_TRUE(Window->close());
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("確認", SaveQuestion)}));
    EXPECT_FALSE(RecoveryFileExists());
    QFile::remove(path);
}

TEST_F(RecoveryCopy, DiscardedAtTheUsersWord)
{
    {
        TRecovery writer(nullptr, [] {});
        writer.Write({QString(), {}, QDateTime::currentDateTime(), QStringLiteral("lost")});
    }
    Script.Answers = {QMessageBox::Discard};
    Window->OfferRecovery();
    ASSERT_EQ(Script.Boxes.size(), 1u);
    Script.Boxes.clear();
    EXPECT_FALSE(RecoveryFileExists());
    EXPECT_EQ(EditorText(), QString());
    EXPECT_FALSE(MMLEditor().document()->isModified());
}

// The program that is killed: the real start-up, text typed into its window, and a wait for the
// copy. It runs only as the child of the test below.
class RecoveryChild : public TScriptedTest {};

TEST_F(RecoveryChild, TypesAndWaitsToBeKilled)
{
    if (qEnvironmentVariableIsEmpty("QUAVERLY_RECOVERY_CHILD")) GTEST_SKIP() << "run by Recovery.TheTextSurvivesAKill";
    std::printf("scratch=%s\n", ScratchDir().toLocal8Bit().constData());
    std::fflush(stdout);
    QTimer::singleShot(0, [] {
        TMainWindow* window = MainWindowShown();
        ASSERT_NE(window, nullptr);
        QWidget& editor = Find<QPlainTextEdit>(*window, QStringLiteral("editor"));
        QTest::keyClicks(&editor, QStringLiteral("[1] cde "));
        QKeyEvent japanese(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("かえる"));
        QApplication::sendEvent(&editor, &japanese);
    });
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll] {
        if (!RecoveryFileExists()) return;
        std::puts("written");
        std::fflush(stdout);
        poll->stop();
    });
    poll->start(20);
    RunQuaverly(InstanceLockPath(), &Recording);
}

TEST(Recovery, TheTextSurvivesAKill)
{
    TRecovery::Discard();
    const QString recoveryPath = TRecovery::FilePath();
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUAVERLY_RECOVERY_CHILD"), QStringLiteral("1"));
    environment.insert(QStringLiteral("QUAVERLY_RECOVERY_INTERVAL_MS"), QStringLiteral("100"));
    // The child makes a scratch home of its own; its state folder is this process's.
    environment.insert(QStringLiteral("XDG_STATE_HOME"), recoveryPath.chopped(QStringLiteral("/quaverly/recovery").size()));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=RecoveryChild.TypesAndWaitsToBeKilled")});
    ASSERT_TRUE(child.waitForStarted());
    QByteArray output;
    QElapsedTimer waited;
    waited.start();
    while (!output.contains("written\n") && child.state() == QProcess::Running && waited.elapsed() < 120000) {
        child.waitForReadyRead(100);
        output += child.readAllStandardOutput();
    }
    ASSERT_TRUE(output.contains("written\n")) << output.toStdString();
    child.kill();
    ASSERT_TRUE(child.waitForFinished());
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    const qsizetype at = output.indexOf("scratch=");
    if (at >= 0) QDir(QString::fromLocal8Bit(output.mid(at + 8, output.indexOf('\n', at) - at - 8))).removeRecursively();
    ASSERT_TRUE(QFileInfo::exists(recoveryPath));

    // The next start offers the text, naming the document and the time; 復元 brings it back,
    // unsaved, and the close that discards it removes the copy.
    TScriptedDialogs script;
    SetUserDialogs(&script);
    script.Answers = {QMessageBox::Yes, QMessageBox::No};
    QString restored;
    bool modified = false;
    QTimer::singleShot(0, [&] {
        TMainWindow* window = MainWindowShown();
        ASSERT_NE(window, nullptr);
        restored = Find<QPlainTextEdit>(*window, QStringLiteral("editor")).toPlainText();
        modified = window->isWindowModified() ||
                   Find<QPlainTextEdit>(*window, QStringLiteral("editor")).document()->isModified();
        window->close();
    });
    QTimer::singleShot(60000, [] { QApplication::quit(); });
    EXPECT_EQ(RunQuaverly(InstanceLockPath(), nullptr), 0);
    SetUserDialogs(nullptr);
    EXPECT_EQ(restored, QStringLiteral("[1] cde かえる"));
    EXPECT_TRUE(modified);
    ASSERT_EQ(script.Boxes.size(), 2u);
    EXPECT_TRUE(script.Boxes[0].Text.startsWith(QStringLiteral("前回、保存されずに終了した文書があります。\n新規（")))
        << script.Boxes[0].Text.toStdString();
    EXPECT_TRUE(script.Boxes[0].Buttons.testFlag(QMessageBox::Discard));
    ASSERT_EQ(script.Boxes[0].Names.size(), 2);
    EXPECT_EQ(script.Boxes[0].Names[0].Text, QStringLiteral("復元"));
    EXPECT_EQ(script.Boxes[0].Names[1].Text, QStringLiteral("破棄"));
    EXPECT_EQ(script.Boxes[1].Text, SaveQuestion);
    EXPECT_FALSE(QFileInfo::exists(recoveryPath));
}

}  // namespace
}  // namespace app_test
