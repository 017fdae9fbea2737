// Start-up: the single-instance lock against the real program, and a whole run from start to
// close inside this process.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTextStream>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "tests/app/AppFixture.h"
#include "app/InstanceLock.h"
#include "app/Program.h"

namespace app_test {
namespace {

// Whether process pid holds an flock on path, as the kernel's lock table says. Looking there,
// rather than trying the lock, never takes the lock from under a program that is starting.
bool HoldsLock(qint64 pid, const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return false;
    const QString inode = QStringLiteral(":%1 ").arg(static_cast<qulonglong>(info.st_ino));
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly)) return false;
    const QStringList lines = QString::fromLatin1(locks.readAll()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        if (fields.size() >= 6 && fields[1] == QStringLiteral("FLOCK") && fields[4] == QString::number(pid) &&
            (fields[5] + QLatin1Char(' ')).contains(inode))
            return true;
    }
    return false;
}

int ProgramWindows()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (dynamic_cast<TMainWindow*>(widget) != nullptr || dynamic_cast<TPortDialog*>(widget) != nullptr) ++count;
    return count;
}

class StartUp : public TScriptedTest {};

TEST_F(StartUp, ASecondCopyIsRefusedAndAKilledCopyLeavesNoLock)
{
    const std::string lockPath = InstanceLockPath();
    QProcess first;
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start(QStringLiteral(QUAVERLY_EXE), {});
    ASSERT_TRUE(first.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    while (!HoldsLock(first.processId(), lockPath) && first.state() == QProcess::Running && waited.elapsed() < 120000)
        QTest::qWait(50);
    ASSERT_TRUE(HoldsLock(first.processId(), lockPath)) << "the program never took its lock";

    EXPECT_EQ(RunQuaverly(lockPath, &Recording), 0);
    ASSERT_EQ(Script.Boxes.size(), 1u);
    EXPECT_EQ(Script.Boxes.front().Icon, QMessageBox::Critical);
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Error", "Quaverlyは既に実行されています")}));
    EXPECT_EQ(ProgramWindows(), 0) << "the second copy made a window";
    EXPECT_EQ(first.state(), QProcess::Running) << "the first copy was disturbed";

    // A copy that dies without a chance to clean up leaves no lock behind.
    first.kill();
    ASSERT_TRUE(first.waitForFinished());
    TInstanceLock lock;
    EXPECT_EQ(lock.Acquire(lockPath.c_str()), TInstanceLock::Acquired);
}

TEST_F(StartUp, RunsFromStartToClose)
{
    // A damaged stored assignment is reported without stopping the start.
    QDir().mkpath(QFileInfo(TPortSettings::FileName()).path());
    WriteFile(TPortSettings::FileName(), "[PORT]\nPORT1=1, 2\nPORT2=3\n");

    const std::string lockPath = InstanceLockPath();
    bool checked = false;
    QTimer::singleShot(0, [&] {
        TMainWindow* window = nullptr;
        TPortDialog* portDialog = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* candidate = dynamic_cast<TMainWindow*>(widget)) window = candidate;
            if (auto* candidate = dynamic_cast<TPortDialog*>(widget)) portDialog = candidate;
        }
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Quaverly  新規[*]"));
        ASSERT_NE(portDialog, nullptr);
        EXPECT_FALSE(portDialog->isVisible());
        EXPECT_EQ(portDialog->PortDevices(), (TPortDevices{-1, 3, -1, -1}));
        // The ポート menu shows this very dialog.
        QDialog* shown = nullptr;
        Script.OnExec = [&](QDialog& dialog) {
            shown = &dialog;
            dialog.reject();
            return dialog.result();
        };
        app_test::Find<QAction>(*window, QStringLiteral("portAction")).trigger();
        EXPECT_EQ(shown, portDialog);
        EXPECT_EQ(Recording.OpenDevices(), 0) << "no device before the first compile";
        TInstanceLock second;
        EXPECT_EQ(second.Acquire(lockPath.c_str()), TInstanceLock::HeldElsewhere);
        checked = true;
        window->close();
    });
    // Should the window not close, the run must still end.
    QTimer::singleShot(60000, [] {
        ADD_FAILURE() << "the program did not end";
        QApplication::quit();
    });
    EXPECT_EQ(RunQuaverly(lockPath, &Recording), 0);
    EXPECT_TRUE(checked);
    EXPECT_EQ(Script.TakeBoxes(),
              (Boxes{Box("Quaverly", "設定値 PORT1 を読み込めません: " + TPortSettings::FileName())}));
    EXPECT_EQ(ProgramWindows(), 0);
    TInstanceLock after;
    EXPECT_EQ(after.Acquire(lockPath.c_str()), TInstanceLock::Acquired) << "the lock goes with the run";
}

// Without a usable runtime folder the lock goes into a folder of this user's own in the temporary
// directory. A folder there that is not this user's alone is refused: someone else could hold a
// lock in it and make the program say it runs already.
TEST_F(StartUp, TheFallbackLockIsInAFolderOnlyThisUserOwns)
{
    QTemporaryDir scratch;
    const QByteArray oldTmp = qgetenv("TMPDIR"), oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(scratch.path()));
    // A runtime folder that is a file, and the same for the one Qt falls back to.
    WriteFile(scratch.filePath(QStringLiteral("runtime")), "not a folder");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(scratch.filePath(QStringLiteral("runtime"))));
    const passwd* user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    WriteFile(scratch.filePath(QStringLiteral("runtime-") + QString::fromLocal8Bit(user->pw_name)), "");
    const std::string path = InstanceLockPath();
    const QString folder = scratch.filePath(QStringLiteral("quaverly-%1").arg(getuid()));
    EXPECT_EQ(path, (folder + QStringLiteral("/TestMutex")).toStdString());
    struct stat info {};
    ASSERT_EQ(lstat(QFile::encodeName(folder).constData(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    {
        TInstanceLock lock;
        EXPECT_EQ(lock.Acquire(path.c_str()), TInstanceLock::Acquired);
    }

    // Folders that are not this user's alone, each with a lock held in it as another user would.
    const QString elsewhere = scratch.filePath(QStringLiteral("elsewhere"));
    QDir().mkpath(elsewhere);
    struct Case {
        const char* Name;
        std::function<void(const QByteArray&)> Make;
    };
    const Case cases[] = {
        {"writable by everyone", [](const QByteArray& f) { mkdir(f.constData(), 0700), chmod(f.constData(), 0777); }},
        {"writable by the group", [](const QByteArray& f) { mkdir(f.constData(), 0700), chmod(f.constData(), 0770); }},
        {"a symbolic link", [&](const QByteArray& f) { (void)symlink(QFile::encodeName(elsewhere).constData(), f.constData()); }},
        {"another user's", [](const QByteArray& f) { mkdir(f.constData(), 0700), (void)chown(f.constData(), 65534, 65534); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        if (std::string(c.Name) == "another user's" && getuid() != 0) continue;  // only root can give a folder away
        const QByteArray unsafe = QFile::encodeName(folder);
        QDir(folder).removeRecursively();
        QFile::remove(folder);
        c.Make(unsafe);
        const std::string lockPath = (folder + QStringLiteral("/TestMutex")).toStdString();
        const int held = open(lockPath.c_str(), O_RDWR | O_CREAT, 0666);
        ASSERT_GE(held, 0);
        ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(InstanceLockPath(), lockPath);
        TInstanceLock lock;
        EXPECT_EQ(lock.Acquire(lockPath.c_str()), TInstanceLock::UnsafeFolder);
        close(held);
    }

    // The program says why it runs without the guard, and runs.
    bool ran = false;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* window = dynamic_cast<TMainWindow*>(widget)) {
                ran = true;
                window->close();
            }
    });
    EXPECT_EQ(RunQuaverly((folder + QStringLiteral("/TestMutex")).toStdString(), &Recording), 0);
    EXPECT_TRUE(ran);
    EXPECT_EQ(Script.TakeBoxes(),
              (Boxes{Box("Quaverly", "二重起動を確かめるフォルダーが自分だけのものではないため、確かめずに起動します: " + folder)}));
    QDir(folder).removeRecursively();
    QFile::remove(folder);
    qputenv("TMPDIR", oldTmp);
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
}

}  // namespace
}  // namespace app_test
