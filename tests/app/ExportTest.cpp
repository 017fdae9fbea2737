// The export commands of the File menu: what they compile, what they write, and that a declined
// overwrite, an error or a cancelled rendering leaves every file as it was.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QTimer>

#include "tests/app/AppFixture.h"

namespace app_test {
namespace {

const QString OverwriteQuestion = QStringLiteral("ファイルはすでに存在しています上書きしますか？");
// Two tracks on two ports, both at one tempo.
const QString Piece = QStringLiteral("[1] t150 l8 cdefg\n[17] t150 l8 o3 c4 g4");

class Export : public TWindowTest {
protected:
    static QString Path(const QString& name) { return ScratchDir() + QLatin1Char('/') + name; }

    void SetUp() override
    {
        TWindowTest::SetUp();
        for (const QString& name : QDir(ScratchDir()).entryList({QStringLiteral("*.mid"), QStringLiteral("*.wav")}))
            QFile::remove(Path(name));
        MMLEditor().setPlainText(Piece);
    }

    QString LastMessage() const
    {
        const QStringList lines = MessagePane().toPlainText().split(QLatin1Char('\n'));
        return lines.isEmpty() ? QString() : lines.last();
    }
};

TEST_F(Export, MidiFileOfTheTextAsItStandsAndNothingWhenDeclined)
{
    const QString path = Path(QStringLiteral("song.mid"));
    Script.SaveFilter = QStringLiteral("MIDIファイル (*.mid)");
    Script.SaveSuffix = QStringLiteral("mid");
    Script.SaveNames = {path};
    Action("exportMidiAction").trigger();
    // The text had never been compiled: the export compiled it, so it can also be played now.
    EXPECT_TRUE(Action("playAction").isEnabled());
    const std::string bytes = ReadFile(path);
    ASSERT_GE(bytes.size(), 14u);
    EXPECT_EQ(bytes.substr(0, 4), "MThd");
    EXPECT_EQ(bytes.substr(8, 6), std::string("\0\1\0\3\1\xE0", 6));  // format 1, tempo + 2 tracks, 480
    EXPECT_EQ(LastMessage(), QStringLiteral("MIDIファイルに書き出しました: %1").arg(path));
    EXPECT_TRUE(Script.TakeBoxes().empty());

    // Replacing it is asked first; Cancel writes nothing.
    WriteFile(path, "old");
    Script.SaveNames = {path};
    Script.Answers = {QMessageBox::Cancel};
    Action("exportMidiAction").trigger();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("確認", OverwriteQuestion)}));
    EXPECT_EQ(ReadFile(path), "old");
}

TEST_F(Export, ErrorOrSilenceAsksForNoFile)
{
    // The compile error's box, then nothing more: no file dialog, no file.
    MMLEditor().setPlainText(QStringLiteral("cde\n:|"));
    Action("exportMidiAction").trigger();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", QStringLiteral("構文エラー( 行 : 2 )"))}));
    MMLEditor().setPlainText(QStringLiteral("// nothing to hear"));
    Action("exportWavAction").trigger();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", QStringLiteral("書き出すイベントがありません"))}));
    EXPECT_TRUE(QDir(ScratchDir()).entryList({QStringLiteral("*.mid"), QStringLiteral("*.wav")}).isEmpty());
}

TEST_F(Export, WavFileRenderedWithProgressOrNoneWhenCancelled)
{
    const QString path = Path(QStringLiteral("song.wav"));
    Script.SaveFilter = QStringLiteral("WAVファイル (*.wav)");
    Script.SaveSuffix = QStringLiteral("wav");
    Script.SaveNames = {path};
    Action("exportWavAction").trigger();
    const std::string bytes = ReadFile(path);
    ASSERT_GT(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_TRUE(LastMessage().startsWith(QStringLiteral("WAVファイルに書き出しました: %1 (").arg(path)))
        << LastMessage().toStdString();

    // Cancel in the progress dialog: the old file stays, and no temporary file is left beside it.
    WriteFile(path, "old");
    Script.SaveNames = {path};
    Script.Answers = {QMessageBox::Ok};  // replace it
    bool sawDialog = false;
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        if (auto* dialog = Window->findChild<QProgressDialog*>(QStringLiteral("exportProgress"))) {
            sawDialog = true;
            dialog->cancel();
        }
    });
    cancel.start(1);
    Action("exportWavAction").trigger();
    cancel.stop();
    EXPECT_TRUE(sawDialog);
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("確認", OverwriteQuestion)}));
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_EQ(LastMessage(), QStringLiteral("WAVファイルの書き出しを中止しました"));
    EXPECT_EQ(QDir(ScratchDir()).entryList({QStringLiteral("song.wav*")}), QStringList{QStringLiteral("song.wav")});
}

TEST_F(Export, StemsOfEveryTrackIntoAChosenFolder)
{
    const QString folder = Path(QStringLiteral("stems"));
    QDir(folder).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(folder));
    Script.FolderNames = {folder};
    Action("exportStemsAction").trigger();
    const QStringList written = QDir(folder).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(written, (QStringList{QStringLiteral("track-01.wav"), QStringLiteral("track-17.wav")}));
    for (const QString& name : written) EXPECT_EQ(ReadFile(folder + QLatin1Char('/') + name).substr(0, 4), "RIFF") << name.toStdString();
    EXPECT_TRUE(LastMessage().startsWith(QStringLiteral("トラックごとに書き出しました: %1 (2 ファイル、").arg(folder)))
        << LastMessage().toStdString();

    // Stems of an earlier export are replaced only when the user says so.
    WriteFile(folder + QStringLiteral("/track-17.wav"), "old");
    Script.FolderNames = {folder};
    Script.Answers = {QMessageBox::Cancel};
    Action("exportStemsAction").trigger();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("確認", OverwriteQuestion)}));
    EXPECT_EQ(ReadFile(folder + QStringLiteral("/track-17.wav")), "old");

    // Nothing any track plays: no folder is asked for.
    MMLEditor().setPlainText(QStringLiteral("[1] t150 @5"));
    Action("exportStemsAction").trigger();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", QStringLiteral("音を出すトラックがありません"))}));
    QDir(folder).removeRecursively();
}

}  // namespace
}  // namespace app_test
