// The port dialog: the device lists, the duplicate check, OK, Cancel and closing, and the stored
// assignment in the real settings file.
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "tests/app/AppFixture.h"
#include "song/Exception.h"

namespace app_test {
namespace {

class PortDialog : public TScriptedTest {
protected:
    // Makes the dialog as the start-up does; the stored values must be in place before.
    void Create()
    {
        Dialog = std::make_unique<TPortDialog>();
        Dialog->LoadAssignment();
        Dialog->show();
    }

    // The dialog's widgets, found by their object names.
    QComboBox& PortBox(std::size_t port) const
    {
        return Find<QComboBox>(*Dialog, QStringLiteral("portBox%1").arg(port + 1));
    }
    QPushButton& Button(const char* name) const { return Find<QPushButton>(*Dialog, QString::fromLatin1(name)); }

    // Chooses devices as a user would: -1 picks the "none" entry.
    void Choose(const TPortDevices& devices)
    {
        for (std::size_t port = 0; port < TSong::PortCount; ++port) PortBox(port).setCurrentIndex(devices[port] + 1);
    }

    std::vector<int> Shown() const
    {
        std::vector<int> items;
        for (std::size_t port = 0; port < TSong::PortCount; ++port) items.push_back(PortBox(port).currentIndex());
        return items;
    }

    static void Store(const std::string& ini)
    {
        QDir().mkpath(QFileInfo(TPortSettings::FileName()).path());
        WriteFile(TPortSettings::FileName(), ini);
    }

    // The stored values as the file holds them, "-" for a missing one.
    static std::vector<std::string> Stored()
    {
        QSettings settings(TPortSettings::FileName(), QSettings::IniFormat);
        std::vector<std::string> values;
        for (int port = 0; port < TSong::PortCount; ++port) {
            const QString key = TPortSettings::Group + QLatin1Char('/') + TPortSettings::Key(port);
            values.push_back(settings.value(key, QStringLiteral("-")).toString().toStdString());
        }
        return values;
    }

    std::unique_ptr<TPortDialog> Dialog;
};

// The recording service has no built-in synthesizer, so the first start finds nothing to assign
// (PortsByNameTest shows the first start on a machine that has it).
TEST_F(PortDialog, FirstStartAssignsNothingAndListsEveryDevice)
{
    Create();
    EXPECT_EQ(Dialog->windowTitle(), QStringLiteral("ポートの指定"));
    EXPECT_EQ(Dialog->PortDevices(), (TPortDevices{-1, -1, -1, -1}));
    EXPECT_EQ(Shown(), (std::vector<int>{0, 0, 0, 0}));
    for (std::size_t port = 0; port < TSong::PortCount; ++port) {
        const QComboBox& box = PortBox(port);
        ASSERT_EQ(box.count(), 5);
        EXPECT_EQ(box.itemText(0), QStringLiteral("（なし）"));
        EXPECT_EQ(box.itemText(1), QStringLiteral("記録デバイス 1"));
        EXPECT_EQ(box.itemText(4), QStringLiteral("記録デバイス 4"));
    }
    EXPECT_FALSE(QFileInfo::exists(TPortSettings::FileName())) << "reading must not write";
}

TEST_F(PortDialog, RefusesOneDeviceOnTwoPorts)
{
    Create();
    Choose({0, 0, -1, -1});
    Button("okButton").click();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Error", "同じポートは割当てられません")}));
    EXPECT_TRUE(Dialog->isVisible());
    EXPECT_EQ(Dialog->PortDevices(), (TPortDevices{-1, -1, -1, -1}));
    EXPECT_FALSE(QFileInfo::exists(TPortSettings::FileName()));
}

TEST_F(PortDialog, OkStoresTheAssignmentAndItIsReadAtTheNextStart)
{
    Create();
    Choose({-1, 1, -1, 3});
    Button("okButton").click();
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_EQ(Dialog->PortDevices(), (TPortDevices{-1, 1, -1, 3}));
    EXPECT_EQ(Stored(), (std::vector<std::string>{"-1", "1", "-1", "3"}));

    Create();  // the next run
    EXPECT_EQ(Dialog->PortDevices(), (TPortDevices{-1, 1, -1, 3}));
    EXPECT_EQ(Shown(), (std::vector<int>{0, 2, 0, 4}));
}

// Cancel, Esc and the frame's close control all leave the assignment as it was, show it again,
// and write it.
TEST_F(PortDialog, EveryOtherWayOfClosingRestoresTheAssignment)
{
    const std::pair<const char*, std::function<void(TPortDialog&)>> ways[] = {
        {"Cancel", [this](TPortDialog&) { Button("cancelButton").click(); }},
        {"Esc", [](TPortDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"close control", [](TPortDialog& d) { d.close(); }},
    };
    for (const auto& [name, close] : ways) {
        SCOPED_TRACE(name);
        Store("[PORT]\nPORT1=2\nPORT2=-1\n");
        Create();
        Choose({0, 1, 2, 3});
        close(*Dialog);
        EXPECT_FALSE(Dialog->isVisible());
        EXPECT_EQ(Dialog->PortDevices(), (TPortDevices{2, -1, -1, -1}));
        EXPECT_EQ(Shown(), (std::vector<int>{3, 0, 0, 0}));
        EXPECT_EQ(Stored(), (std::vector<std::string>{"2", "-1", "-1", "-1"}));
    }
}

TEST_F(PortDialog, ReadsTextValuesAndPassesOverWhatIsNoNumber)
{
    Store("[PORT]\nPORT1=abc\nPORT2=1\nPORT3=\" 2 \"\nPORT4=99999999999\n");
    Create();
    EXPECT_EQ(Dialog->PortDevices(), (TPortDevices{-1, 1, 2, -1}));
    Button("okButton").click();
    EXPECT_EQ(Stored(), (std::vector<std::string>{"-1", "1", "2", "-1"}));

    // More garbage: floating point, nothing, raw bytes (a zero among them), a number too small.
    Store(std::string("[PORT]\nPORT1=1e99\nPORT2=\nPORT3=\x01\xff\xfe\x00\x80\nPORT4=-99999999999\n", 56));
    Create();
    EXPECT_EQ(Dialog->PortDevices(), (TPortDevices{-1, -1, -1, -1}));
}

TEST_F(PortDialog, ADamagedValueIsReportedAndTheRestStillWorks)
{
    Store("[PORT]\nPORT1=1\nPORT2=@ByteArray(1)\nPORT3=1, 2\nPORT4=3\n");
    Dialog = std::make_unique<TPortDialog>();
    try {
        Dialog->LoadAssignment();
        ADD_FAILURE() << "no error for the damaged values";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "設定値 PORT2 を読み込めません: " + TPortSettings::FileName().toStdString());
    }
    EXPECT_EQ(Dialog->PortDevices(), (TPortDevices{1, -1, -1, 3}));
    EXPECT_EQ(PortBox(3).count(), 5);
    EXPECT_EQ(PortBox(3).currentIndex(), 4);
}

// Serialized Qt data would make QSettings allocate gigabytes or recurse until the stack overflows
// while decoding it, at every start. No @ form is ever decoded, also when escapes spell the @: the
// value is reported and reads as no device, the others still count, and OK writes a sound file.
TEST_F(PortDialog, SerializedDataInTheFileIsNeverDecoded)
{
    // 25,000 lists, each the only element of the one around it: 475 KB that overflowed the stack.
    std::string nested;
    for (int i = 0; i < 25000; ++i) nested += R"(\0\0\0\t\0\0\0\0\x1)";
    const std::pair<const char*, std::string> values[] = {
        {"variant", R"(@Variant(\0\0\0\t4B@xy=x))"},
        {"escaped variant", R"(\x40Variant(\0\0\0\t4B@xy=x))"},
        {"nested lists", "@DateTime(" + nested + ")"},
        {"escaped nested lists", R"(\100DateTime()" + nested + ")"},
        {"quoted", R"x("@Variant(\0\0\0\x2\0\0\0\x5)")x"},
        {"binary", "@ByteArray(1)"},
        {"invalid", "@Invalid()"},
        {"list", "1, 2"},
    };
    for (const auto& [name, value] : values) {
        SCOPED_TRACE(name);
        Store("[PORT]\nPORT1=" + value + "\nPORT2=1\n");
        Dialog = std::make_unique<TPortDialog>();
        try {
            Dialog->LoadAssignment();
            ADD_FAILURE() << "no error for the damaged value";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "設定値 PORT1 を読み込めません: " + TPortSettings::FileName().toStdString());
        }
        EXPECT_EQ(Dialog->PortDevices(), (TPortDevices{-1, 1, -1, -1}));
        Dialog->show();
        Button("okButton").click();
        EXPECT_EQ(Stored(), (std::vector<std::string>{"-1", "1", "-1", "-1"}));
    }
}

// A file larger than the program ever writes is reported whole and replaced by the next OK.
TEST_F(PortDialog, AnOversizedFileReadsAsNoAssignment)
{
    Store("[PORT]\nPORT1=2\n;" + std::string(1024 * 1024, 'x') + "\n");
    Dialog = std::make_unique<TPortDialog>();
    try {
        Dialog->LoadAssignment();
        ADD_FAILURE() << "no error for the oversized file";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "設定値 PORT を読み込めません: " + TPortSettings::FileName().toStdString());
    }
    EXPECT_EQ(Dialog->PortDevices(), (TPortDevices{-1, -1, -1, -1}));
    Dialog->show();
    Button("okButton").click();
    EXPECT_EQ(Stored(), (std::vector<std::string>{"-1", "-1", "-1", "-1"}));
}

// The file is read without QSettings, so every plain value QSettings writes (numbers, and text
// with its quoting and escapes) must read back as the same text, and files written by hand in
// its format as QSettings reads them.
TEST(PortSettingsFile, ReadsPlainValuesAsQSettingsDoes)
{
    // QSettings keeps the files it has read and reads one again only when its size or time stamp
    // changed: every case gets a file of its own.
    QTemporaryDir folder;
    int files = 0;
    QString path;
    const auto nextPath = [&] { path = folder.filePath(QString::number(++files) + QStringLiteral(".ini")); };

    const QVariant written[] = {
        3, -1, 2147483647, QStringLiteral(" 2 "), QStringLiteral("@name"), QStringLiteral("@@"),
        QStringLiteral("a, b"), QStringLiteral("a;b=c"), QStringLiteral("tab\there\nline \"quoted\" back\\slash"),
        QStringLiteral("内蔵シンセサイザー A"), QStringLiteral("JACK: qv:input"), QString(QChar(0x7F)) + QStringLiteral("0x"),
        QString(),
    };
    for (const QVariant& value : written) {
        SCOPED_TRACE(value.toString().toStdString());
        nextPath();
        {
            QSettings settings(path, QSettings::IniFormat);
            settings.setValue(TPortSettings::Group + QStringLiteral("/PORT1"), value);
        }
        const auto parsed = TPortSettings::ParseValues(QByteArray::fromStdString(ReadFile(path)));
        EXPECT_EQ(parsed[0].Kind, TPortSettings::TValue::Plain) << ReadFile(path);
        EXPECT_EQ(parsed[0].Text, value.toString()) << ReadFile(path);
    }

    // Written by hand; none holds an @, so QSettings may read them too.
    const std::string texts[] = {
        "[PORT]\r\nPORT1 = 7 \r\n",
        "\xef\xbb\xbf[PORT]\nPORT1=7\n",
        "; comment\n[PORT]\n; PORT1=5\nPORT1=4 ; a comment after the value\n",
        "[PORT]\nPORT1=1\n[OTHER]\nPORT1=2\n[PORT]\nPORT1=3\n",
        "[PORT]\nPORT1=\"6\nstill the value\"\n",
        "[PORT]\nPORT1=\\x31\\62\n",
        "[PORT]\nPORT1=1 \\\n2\n",
        "[ PORT ]\nPORT%31=8\n",
        "[port]\nPORT1=9\n[PORT]\nport1=9\n",
        "[General]\nPORT1=2\n[%General]\nPORT1=3\n",
        "[PORT\nPORT1=4\n",
        "[PORT]\nPORT1=\"a\" \"b\" c \n",
        "[PORT]\nPORT1 \"=\" 5\n",
        "[PORT]\nPORT1=\\\n",
        "[PORT]\nPORT1=  x  \\t  \n",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        nextPath();
        WriteFile(path, text);
        const TPortSettings::TValue value = TPortSettings::ParseValues(QByteArray::fromStdString(text))[0];
        QSettings settings(path, QSettings::IniFormat);
        const QVariant expected = settings.value(TPortSettings::Group + QStringLiteral("/PORT1"));
        if (!expected.isValid()) {
            EXPECT_EQ(value.Kind, TPortSettings::TValue::Missing);
        } else {
            EXPECT_EQ(value.Kind, TPortSettings::TValue::Plain);
            EXPECT_EQ(value.Text, expected.toString());
        }
    }
}

// A device number the machine does not have shows as no selection and stays assigned; Compile
// then reports that it cannot be opened.
TEST_F(PortDialog, AnUnknownDeviceStaysAssignedUntilOk)
{
    Store("[PORT]\nPORT1=7\n");
    Create();
    EXPECT_EQ(Dialog->PortDevices()[0], 7);
    EXPECT_EQ(Shown(), (std::vector<int>{-1, 0, 0, 0}));
    Button("cancelButton").click();
    EXPECT_EQ(Stored()[0], "7");
    Dialog->show();
    Button("okButton").click();
    EXPECT_EQ(Dialog->PortDevices()[0], -1);
}

TEST_F(PortDialog, ASettingsFileThatCannotBeWrittenIsReported)
{
    Create();
    // A file where the settings folder should be.
    const QString folder = QFileInfo(TPortSettings::FileName()).path();
    QDir(folder).removeRecursively();
    WriteFile(folder, "not a folder");
    Choose({1, -1, -1, -1});
    Button("okButton").click();
    EXPECT_FALSE(Dialog->isVisible()) << "the user must not be kept in the dialog";
    EXPECT_EQ(Dialog->PortDevices()[0], 1);
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "設定を保存できません: " + TPortSettings::FileName())}));
    QFile::remove(folder);
}

}  // namespace
}  // namespace app_test
