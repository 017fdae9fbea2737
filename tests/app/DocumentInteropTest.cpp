// Documents the window saves are RTF that another program reads as the same text: LibreOffice
// converts them to plain text, and each paragraph comes back as one line.
#include <stdlib.h>

#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>

#include "tests/app/AppFixture.h"

namespace app_test {
namespace {

class DocumentInterop : public TWindowTest {};

TEST_F(DocumentInterop, LibreOfficeReadsWhatTheWindowSaves)
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    ASSERT_FALSE(soffice.isEmpty()) << "LibreOffice is missing: run scripts/deps";

    const QString dir = ScratchDir() + QStringLiteral("/interop");
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    const QString texts[] = {
        QStringLiteral("// テスト曲　サンプル（全角スペース入り）\n#INITGS(1)\n\n[1]\tt120 o4 l8 @1 v100\n\tcdefgab<c\t// 上昇音階 ①②\n"),
        QStringLiteral("ASCII only {braces} \\backslash\\\n\n\ttab\n"),
        QStringLiteral("～〜¥‖ 𠮷野家 é€ ｱﾝ"),
    };
    QStringList files;
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        // A new document, so that the save asks for the name.
        MMLEditor().document()->setModified(false);
        Action("newAction").trigger();
        MMLEditor().setPlainText(texts[i]);
        const QString path = dir + QStringLiteral("/doc%1.QVR").arg(i);
        Script.SaveNames = {path};
        ASSERT_TRUE(Window->Save());
        files << path;
    }

    // One run converts them all; its profile lives in the scratch home.
    QProcess office;
    office.setProcessChannelMode(QProcess::MergedChannels);
    office.start(soffice, QStringList{QStringLiteral("--headless"), QStringLiteral("--norestore"),
                                      QStringLiteral("--infilter=Rich Text Format"),
                                      QStringLiteral("--convert-to"), QStringLiteral("txt:Text (encoded):UTF8"),
                                      QStringLiteral("--outdir"), dir} + files);
    ASSERT_TRUE(office.waitForFinished(300000)) << "LibreOffice did not finish";
    ASSERT_EQ(office.exitCode(), 0) << office.readAll().toStdString();

    for (std::size_t i = 0; i < std::size(texts); ++i) {
        std::string text = ReadFile(dir + QStringLiteral("/doc%1.txt").arg(i));
        if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
        // LibreOffice ends every paragraph, the last one too, with a line feed.
        EXPECT_EQ(text, texts[i].toStdString() + "\n") << i;
    }
}

}  // namespace
}  // namespace app_test
