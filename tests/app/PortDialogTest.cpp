// The port dialog: the device lists, the duplicate check, OK, Cancel and closing, and the stored
// assignment in the real settings file.
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include "AppFixture.h"
#include "Exception.h"

namespace app_test {
namespace {

class PortDialog : public TScriptedTest {
protected:
    // Makes the dialog as the start-up does; the stored values must be in place before.
    void Create()
    {
        Dialog = std::make_unique<TFormPort>();
        Dialog->FormCreate();
        Dialog->show();
    }

    // Chooses devices as a user would: -1 picks the "none" entry.
    void Choose(const TPortDevices& devices)
    {
        for (std::size_t port = 0; port < PortCount; ++port) Dialog->CBPort[port]->setCurrentIndex(devices[port] + 1);
    }

    std::vector<int> Shown() const
    {
        std::vector<int> items;
        for (const QComboBox* box : Dialog->CBPort) items.push_back(box->currentIndex());
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
        for (int port = 0; port < PortCount; ++port) {
            const QString key = TPortSettings::Group + QLatin1Char('/') + TPortSettings::Key(port);
            values.push_back(settings.value(key, QStringLiteral("-")).toString().toStdString());
        }
        return values;
    }

    std::unique_ptr<TFormPort> Dialog;
};

TEST_F(PortDialog, FirstStartAssignsNothingAndListsEveryDevice)
{
    Create();
    EXPECT_EQ(Dialog->windowTitle(), QStringLiteral("ポートの指定"));
    EXPECT_EQ(Dialog->PortDevices, (TPortDevices{-1, -1, -1, -1}));
    EXPECT_EQ(Shown(), (std::vector<int>{0, 0, 0, 0}));
    for (const QComboBox* box : Dialog->CBPort) {
        ASSERT_EQ(box->count(), 5);
        EXPECT_EQ(box->itemText(0), QStringLiteral("（なし）"));
        EXPECT_EQ(box->itemText(1), QStringLiteral("記録デバイス 1"));
        EXPECT_EQ(box->itemText(4), QStringLiteral("記録デバイス 4"));
    }
    EXPECT_FALSE(QFileInfo::exists(TPortSettings::FileName())) << "reading must not write";
}

TEST_F(PortDialog, RefusesOneDeviceOnTwoPorts)
{
    Create();
    Choose({0, 0, -1, -1});
    Dialog->Button1->click();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Error", "同じポートは割当てられません")}));
    EXPECT_TRUE(Dialog->isVisible());
    EXPECT_EQ(Dialog->PortDevices, (TPortDevices{-1, -1, -1, -1}));
    EXPECT_FALSE(QFileInfo::exists(TPortSettings::FileName()));
}

TEST_F(PortDialog, OkStoresTheAssignmentAndItIsReadAtTheNextStart)
{
    Create();
    Choose({-1, 1, -1, 3});
    Dialog->Button1->click();
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_EQ(Dialog->PortDevices, (TPortDevices{-1, 1, -1, 3}));
    EXPECT_EQ(Stored(), (std::vector<std::string>{"-1", "1", "-1", "3"}));

    Create();  // the next run
    EXPECT_EQ(Dialog->PortDevices, (TPortDevices{-1, 1, -1, 3}));
    EXPECT_EQ(Shown(), (std::vector<int>{0, 2, 0, 4}));
}

// Cancel, Esc and the frame's close control all leave the assignment as it was, show it again,
// and write it.
TEST_F(PortDialog, EveryOtherWayOfClosingRestoresTheAssignment)
{
    const std::pair<const char*, std::function<void(TFormPort&)>> ways[] = {
        {"Cancel", [](TFormPort& d) { d.Button2->click(); }},
        {"Esc", [](TFormPort& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"close control", [](TFormPort& d) { d.close(); }},
    };
    for (const auto& [name, close] : ways) {
        SCOPED_TRACE(name);
        Store("[PORT]\nPORT1=2\nPORT2=-1\n");
        Create();
        Choose({0, 1, 2, 3});
        close(*Dialog);
        EXPECT_FALSE(Dialog->isVisible());
        EXPECT_EQ(Dialog->PortDevices, (TPortDevices{2, -1, -1, -1}));
        EXPECT_EQ(Shown(), (std::vector<int>{3, 0, 0, 0}));
        EXPECT_EQ(Stored(), (std::vector<std::string>{"2", "-1", "-1", "-1"}));
    }
}

TEST_F(PortDialog, ReadsTextValuesAndPassesOverWhatIsNoNumber)
{
    Store("[PORT]\nPORT1=abc\nPORT2=1\nPORT3=\" 2 \"\nPORT4=99999999999\n");
    Create();
    EXPECT_EQ(Dialog->PortDevices, (TPortDevices{-1, 1, 2, -1}));
    Dialog->Button1->click();
    EXPECT_EQ(Stored(), (std::vector<std::string>{"-1", "1", "2", "-1"}));

    // More garbage: floating point, nothing, raw bytes (a zero among them), a number too small.
    Store(std::string("[PORT]\nPORT1=1e99\nPORT2=\nPORT3=\x01\xff\xfe\x00\x80\nPORT4=-99999999999\n", 56));
    Create();
    EXPECT_EQ(Dialog->PortDevices, (TPortDevices{-1, -1, -1, -1}));
}

TEST_F(PortDialog, ADamagedValueIsReportedAndTheRestStillWorks)
{
    Store("[PORT]\nPORT1=1\nPORT2=@ByteArray(1)\nPORT3=1, 2\nPORT4=3\n");
    Dialog = std::make_unique<TFormPort>();
    try {
        Dialog->FormCreate();
        ADD_FAILURE() << "no error for the damaged values";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "設定値 PORT2 を読み込めません: " + TPortSettings::FileName().toStdString());
    }
    EXPECT_EQ(Dialog->PortDevices, (TPortDevices{1, -1, -1, 3}));
    EXPECT_EQ(Dialog->CBPort4->count(), 5);
    EXPECT_EQ(Dialog->CBPort4->currentIndex(), 4);
}

// Serialized Qt data in the file would make QSettings allocate gigabytes while decoding it; the
// file is reported instead, reads as no assignment, and OK replaces it with a sound one.
TEST_F(PortDialog, SerializedDataInTheFileIsNeverDecoded)
{
    Store("[PORT]\nPORT1=@Variant(\\0\\0\\0\\t4B@xy=x)\nPORT2=1\n");
    Dialog = std::make_unique<TFormPort>();
    try {
        Dialog->FormCreate();
        ADD_FAILURE() << "no error for the damaged file";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "設定値 PORT を読み込めません: " + TPortSettings::FileName().toStdString());
    }
    EXPECT_EQ(Dialog->PortDevices, (TPortDevices{-1, -1, -1, -1}));
    Dialog->show();
    Dialog->Button1->click();
    EXPECT_EQ(Stored(), (std::vector<std::string>{"-1", "-1", "-1", "-1"}));
}

// A device number the machine does not have shows as no selection and stays assigned; Compile
// then reports that it cannot be opened.
TEST_F(PortDialog, AnUnknownDeviceStaysAssignedUntilOk)
{
    Store("[PORT]\nPORT1=7\n");
    Create();
    EXPECT_EQ(Dialog->PortDevices[0], 7);
    EXPECT_EQ(Shown(), (std::vector<int>{-1, 0, 0, 0}));
    Dialog->Button2->click();
    EXPECT_EQ(Stored()[0], "7");
    Dialog->show();
    Dialog->Button1->click();
    EXPECT_EQ(Dialog->PortDevices[0], -1);
}

TEST_F(PortDialog, ASettingsFileThatCannotBeWrittenIsReported)
{
    Create();
    // A file where the settings folder should be.
    const QString folder = QFileInfo(TPortSettings::FileName()).path();
    QDir(folder).removeRecursively();
    WriteFile(folder, "not a folder");
    Choose({1, -1, -1, -1});
    Dialog->Button1->click();
    EXPECT_FALSE(Dialog->isVisible()) << "the user must not be kept in the dialog";
    EXPECT_EQ(Dialog->PortDevices[0], 1);
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "設定を保存できません: " + TPortSettings::FileName())}));
    QFile::remove(folder);
}

}  // namespace
}  // namespace app_test
