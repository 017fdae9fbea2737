// The stored assignment finds its devices by name: the names in the settings file, the lookup
// when the machine lists its devices in another order, a device that is gone, the first start on
// the built-in synthesizer, and the pane line for music on a port without a device.
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "tests/app/AppFixture.h"

namespace app_test {
namespace {

// A service that lists devices under names a test chooses, in the order it chooses, each played
// on one of the recording service's devices, so a test sees which device got the music.
class TNamedDevices : public TMidiOutService {
public:
    struct TDevice {
        std::string Name;
        int Recorder;  // the recording device that plays for it
    };
    TNamedDevices(TRecordingMidiOut& recording, std::vector<TDevice> devices)
        : recording_(recording), devices_(std::move(devices))
    {
    }
    int DeviceCount() override { return static_cast<int>(devices_.size()); }
    std::string DeviceName(int id) override
    {
        return id >= 0 && id < DeviceCount() ? devices_[static_cast<std::size_t>(id)].Name : std::string();
    }
    std::unique_ptr<TMidiOutDevice> Open(int id) override
    {
        if (id < 0 || id >= DeviceCount()) RaiseNoSuchDevice(id);
        return recording_.Open(devices_[static_cast<std::size_t>(id)].Recorder);
    }

private:
    TRecordingMidiOut& recording_;
    std::vector<TDevice> devices_;
};

TEST(PortSettingsFile, NamesReadBackAsWrittenHereAndByQSettings)
{
    QTemporaryDir folder;
    const QString names[] = {
        QStringLiteral("内蔵シンセサイザー A"),
        QStringLiteral("JACK: qsynth:midi_00"),
        QStringLiteral(" blanks at both ends "),
        QStringLiteral("@at, comma; semicolon = equals"),
        QStringLiteral("quote \" and back\\slash"),
        QString(QChar(0x01)) + QStringLiteral("a1") + QChar(0x7F) + QStringLiteral("f"),  // hex digits after escapes
        QStringLiteral("emoji 🎹"),
        QString(QChar(0xD800)) + QStringLiteral("lone surrogate"),
        QString(),
    };
    int files = 0;
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString path = folder.filePath(QString::number(++files) + QStringLiteral(".ini"));
        const TPortEntries written{{{2, name}, {-1, {}}, {0, QStringLiteral("x")}, {7, {}}}};
        TPortSettings::Write(path, written);
        TPortEntries read{};
        EXPECT_TRUE(TPortSettings::Read(path, read));
        EXPECT_EQ(read, written) << ReadFile(path);
        if (name.contains(QChar(0xD800))) continue;  // QSettings itself cannot keep a lone surrogate
        QSettings settings(path, QSettings::IniFormat);
        EXPECT_EQ(settings.value(QStringLiteral("PORT/PORT1NAME")).toString(), name) << ReadFile(path);
        EXPECT_EQ(settings.value(QStringLiteral("PORT/PORT1")).toInt(), 2);
    }
    TPortEntries none{};
    EXPECT_FALSE(TPortSettings::Read(folder.filePath(QStringLiteral("missing.ini")), none)) << "no file: a first start";
}

TEST(PortSettingsFile, DevicesAreFoundByNameAndByNumberOnlyWithoutOne)
{
    const QStringList machine{QStringLiteral("Decoy"), QStringLiteral("Synth"), QStringLiteral("Twin"),
                              QStringLiteral("Twin")};
    struct TCase {
        const char* What;
        TPortEntries Stored;
        TPortDevices Found;
        std::array<bool, TSong::PortCount> Missing;
    };
    const TCase cases[] = {
        {"a device listed earlier moves the named one on", {{{0, "Synth"}}}, {1, -1, -1, -1}, {}},
        {"the name at its number stays there", {{{1, "Synth"}}}, {1, -1, -1, -1}, {}},
        {"a file without names goes by number", {{{0, {}}, {9, {}}}}, {0, 9, -1, -1}, {}},
        {"a name the machine lacks leaves the port without a device", {{{1, "Gone"}, {1, {}}}}, {-1, 1, -1, -1},
         {true, false, false, false}},
        {"two devices of one name go to two ports", {{{3, "Twin"}, {0, "Twin"}}}, {3, 2, -1, -1}, {}},
        {"a third port of that name finds none left", {{{2, "Twin"}, {3, "Twin"}, {0, "Twin"}}}, {2, 3, -1, -1},
         {false, false, true, false}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        std::array<bool, TSong::PortCount> missing{};
        EXPECT_EQ(TPortSettings::FindDevices(c.Stored, machine, missing), c.Found);
        EXPECT_EQ(missing, c.Missing);
    }
}

class PortsByName : public TWindowTest {
protected:
    // Lists the named devices instead of the recording ones and starts the port dialog again, as a
    // start of the program on that machine would; settings are the file's contents, none for no file.
    void StartWith(std::vector<TNamedDevices::TDevice> devices, const std::string* settings)
    {
        Named = std::make_unique<TNamedDevices>(Recording, std::move(devices));
        SetMidiOutService(Named.get());
        QFile::remove(TPortSettings::FileName());
        if (settings != nullptr) {
            QDir().mkpath(QFileInfo(TPortSettings::FileName()).path());
            WriteFile(TPortSettings::FileName(), *settings);
        }
        Window->SetPortDialog(nullptr);
        PortDialog = std::make_unique<TPortDialog>();
        PortDialog->LoadAssignment();
        Window->SetPortDialog(PortDialog.get());
    }

    // The recording devices that received a note-on since the last call.
    std::vector<int> DevicesPlayed()
    {
        CompileText(QStringLiteral("c"));
        Action("playAction").trigger();
        Clock.AdvanceMs(100);
        Window->RefreshDisplay();
        std::vector<int> devices;
        for (const auto& m : Recording.Messages())
            if (m.Kind == TRecordingMidiOut::TMessage::Short && (m.Bytes[0] & 0xF0) == 0x90 && m.Bytes[2] != 0)
                devices.push_back(m.Device);
        Recording.ClearMessages();
        Action("stopAction").trigger();
        return devices;
    }

    void TearDown() override
    {
        TWindowTest::TearDown();
        Named.reset();
    }

    std::unique_ptr<TNamedDevices> Named;
};

// Another MIDI client started first puts a device before the stored one: port 1 still plays on
// the device the user chose, not on the one that now has its number.
TEST_F(PortsByName, ADecoyListedFirstDoesNotTakeThePort)
{
    const std::string stored = "[PORT]\nPORT1=0\nPORT1NAME=\"Synth\"\n";
    StartWith({{"Synth", 2}}, &stored);
    EXPECT_EQ(DevicesPlayed(), std::vector<int>{2});

    StartWith({{"Decoy", 0}, {"Synth", 2}}, &stored);
    EXPECT_EQ(PortDialog->PortDevices()[0], 1);
    EXPECT_EQ(DevicesPlayed(), std::vector<int>{2});
    EXPECT_EQ(MessagePane().toPlainText(), QString());

    // A file from before names were kept still goes by number.
    const std::string old = "[PORT]\nPORT1=0\n";
    StartWith({{"Decoy", 0}, {"Synth", 2}}, &old);
    EXPECT_EQ(DevicesPlayed(), std::vector<int>{0});
}

TEST_F(PortsByName, AMissingDeviceIsToldAtEveryCompileAndThePortHasNone)
{
    const std::string stored = "[PORT]\nPORT1=0\nPORT1NAME=Gone\nPORT2=1\nPORT2NAME=Synth\n";
    StartWith({{"Decoy", 0}, {"Synth", 1}}, &stored);
    EXPECT_EQ(PortDialog->PortDevices(), (TPortDevices{-1, 1, -1, -1}));
    const QString told = QStringLiteral("ポート 1 のデバイス「Gone」が見つかりません。割り当てを外しました");
    for (int compile = 0; compile < 2; ++compile) {
        EXPECT_EQ(DevicesPlayed(), std::vector<int>{}) << "the decoy that took the number stays silent";
        EXPECT_EQ(MessagePane().toPlainText(), told) << "one line, no second one for the same port";
    }

    // Closing the dialog without OK keeps the name stored, for a start where the device is back.
    Script.OnExec = [](QDialog& dialog) {
        dialog.reject();
        return dialog.result();
    };
    Action("portAction").trigger();
    TPortEntries entries{};
    TPortSettings::Read(entries);
    EXPECT_EQ(entries[0], (TPortEntry{0, QStringLiteral("Gone")}));
    EXPECT_EQ(entries[1], (TPortEntry{1, QStringLiteral("Synth")}));

    // OK confirms the port without it: the line goes, and the file forgets the name.
    Script.OnExec = [](QDialog& dialog) {
        app_test::Find<QPushButton>(dialog, QStringLiteral("okButton")).click();
        return dialog.result();
    };
    Action("portAction").trigger();
    TPortSettings::Read(entries);
    EXPECT_EQ(entries[0], (TPortEntry{-1, QString()}));
    DevicesPlayed();
    EXPECT_EQ(MessagePane().toPlainText(), QStringLiteral("ポート 1 にはデバイスが割り当てられていません"));
}

// Without any settings file the built-in synthesizer plays all four ports, found by name among
// the others, and the choice is stored; an existing file, even one that assigns nothing, is
// read as it stands.
TEST_F(PortsByName, TheFirstStartPlaysOnTheBuiltInSynthesizer)
{
    const std::vector<TNamedDevices::TDevice> machine{{"ALSA: Midi Through", 0}, {"内蔵シンセサイザー A", 1},
                                                      {"内蔵シンセサイザー B", 2}, {"内蔵シンセサイザー C", 3},
                                                      {"内蔵シンセサイザー D", 3}};
    StartWith(machine, nullptr);
    EXPECT_EQ(PortDialog->PortDevices(), (TPortDevices{1, 2, 3, 4}));
    EXPECT_EQ(DevicesPlayed(), std::vector<int>{1});
    EXPECT_EQ(MessagePane().toPlainText(), QString());
    TPortEntries entries{};
    ASSERT_TRUE(TPortSettings::Read(entries));
    EXPECT_EQ(entries[3], (TPortEntry{4, QStringLiteral("内蔵シンセサイザー D")}));

    const std::string nothing = "[PORT]\nPORT1=-1\n";
    StartWith(machine, &nothing);
    EXPECT_EQ(PortDialog->PortDevices(), (TPortDevices{-1, -1, -1, -1}));
    EXPECT_EQ(DevicesPlayed(), std::vector<int>{});
    EXPECT_EQ(MessagePane().toPlainText(), QStringLiteral("ポート 1 にはデバイスが割り当てられていません"));
}

// The line names every port whose music has no device, once per compile, and no port without
// music.
TEST_F(PortsByName, MusicOnAPortWithoutADeviceIsToldOnce)
{
    AssignPorts({-1, 1, -1, -1});
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("c d e"), QStringLiteral("ポート 1 にはデバイスが割り当てられていません")},
        {QStringLiteral("[17] c"), QString()},
        {QStringLiteral("[1] c [33] c [49] c"),
         QStringLiteral("ポート 1 にはデバイスが割り当てられていません\nポート 3 にはデバイスが割り当てられていません\n"
                        "ポート 4 にはデバイスが割り当てられていません")},
        {QStringLiteral("t120"), QString()},
    };
    for (const auto& [mml, pane] : cases) {
        SCOPED_TRACE(mml.toStdString());
        CompileText(mml);
        EXPECT_EQ(MessagePane().toPlainText(), pane);
    }
}

}  // namespace
}  // namespace app_test
