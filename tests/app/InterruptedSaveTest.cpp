// Saving a document when the program is killed halfway through: the file on the disk stays the
// version saved before, byte for byte, and the next save still works.
#include <QDir>
#include <QPlainTextEdit>

#include "tests/formats/KillDuringWrite.h"
#include "tests/app/AppFixture.h"
#include "formats/Rtf.h"

namespace app_test {
namespace {

class InterruptedSave : public TWindowTest {};

TEST_F(InterruptedSave, KillingTheProgramDuringASaveLeavesTheOldDocument)
{
    const QString dir = ScratchDir() + QStringLiteral("/interrupted");
    QDir(dir).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString path = dir + QStringLiteral("/song.QVR");
    WriteFile(path, WriteRtf("t120 cde"));
    const std::string before = ReadFile(path);
    Script.OpenNames = {path};
    Action("openAction").trigger();
    ASSERT_EQ(Window->FileName(), path);

    MMLEditor().setPlainText(QString(1 << 20, QLatin1Char('c')));
    constexpr std::size_t allowed = 64 * 1024;
    // The child is killed only by a write that goes past the limit: the save was under way.
    EXPECT_EQ(kill_during_write::Run(allowed, [&] { Window->Save(); }), SIGKILL);
    EXPECT_EQ(ReadFile(path), before);
    // Qt writes into an unnamed temporary file that takes its name only when the save is
    // complete, so the killed save leaves nothing behind.
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("song.QVR")});

    EXPECT_TRUE(Window->Save());
    EXPECT_EQ(ReadRtf(ReadFile(path)).size(), std::size_t{1} << 20);
    QDir(dir).removeRecursively();
}

}  // namespace
}  // namespace app_test
