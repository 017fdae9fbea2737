// The device side of a port player, over the recording service.
#include <gtest/gtest.h>

#include "PlaybackFixture.h"

namespace {
using namespace playback_test;

struct MidiTest : testing::Test {
    TDrivenClock clock;
    TRecordingMidiOut out{clock};
    std::unique_ptr<TMidi> player = std::make_unique<TMidi>(&out, &clock);

    void SetUp() override { ProcessNotices(); }  // nothing left over from another test
};

TEST_F(MidiTest, OpenTakesTheFirstDeviceAndIgnoresLaterOpens)
{
    player->Open(1);
    EXPECT_TRUE(player->IsOpen());
    player->Open(2);  // already open: nothing happens, nothing raises
    EXPECT_EQ(out.OpenDevices(), 1);
    player->SendShortMessage(0x90, 60, 100);
    EXPECT_EQ(out.Messages().at(0).Device, 1);
}

TEST_F(MidiTest, OpenFailureRaisesTheServiceTextAndStaysClosed)
{
    out.FailOpen(2, "このデバイスは他のプログラムが使用中です");
    try {
        player->Open(2);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "このデバイスは他のプログラムが使用中です");
    }
    EXPECT_FALSE(player->IsOpen());
    EXPECT_THROW(player->Open(9), Exception);  // a number the service does not have
    EXPECT_FALSE(player->IsOpen());
    player->Open(1);
    EXPECT_TRUE(player->IsOpen());
}

TEST_F(MidiTest, ClosedPortSendsNothingAndKeepsNoBuffers)
{
    const std::uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    player->SendShortMessage(0x90, 60, 100);
    player->SendLongMessage(sysex, sizeof sysex);
    player->AllSoundOff();
    player->Stop();
    EXPECT_TRUE(out.Messages().empty());
    EXPECT_EQ(player->PendingHeaderCount(), 0);
}

TEST_F(MidiTest, AllSoundOffIsControlChange120OnEveryChannelInOrder)
{
    player->Open(0);
    player->AllSoundOff();
    EXPECT_EQ(Log(out), AllSoundOffAt("0"));
}

TEST_F(MidiTest, ShortMessagesKeepTheirOwnLength)
{
    player->Open(0);
    player->SendShortMessage(0xC3, 5, 99);    // program change: two bytes
    player->SendShortMessage(0xE0, 0, 64);    // pitch bend: three
    player->SendShortMessage(0x3C, 1, 2);     // not a status byte: nothing goes out
    EXPECT_EQ(Log(out), (std::vector<std::string>{"0 C3 05", "0 E0 00 40"}));
}

TEST_F(MidiTest, SysExBufferIsACopyReleasedByItsNotice)
{
    player->Open(0);
    std::vector<std::uint8_t> bytes = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    player->SendLongMessage(bytes.data(), static_cast<int>(bytes.size()));
    bytes.assign(bytes.size(), 0);  // the caller's bytes may go at once
    EXPECT_EQ(Log(out), (std::vector<std::string>{"0 F0 41 10 42 12 40 00 7F 00 41 F7"}));
    // The device finished at once, but its notice reaches the player only on the GUI thread.
    EXPECT_EQ(player->PendingHeaderCount(), 1);
    EXPECT_EQ(ProcessNotices(), 1);
    EXPECT_EQ(player->PendingHeaderCount(), 0);
}

TEST_F(MidiTest, StrayNoticesChangeNothing)
{
    player->Open(0);
    out.HoldSysEx(true);
    const std::uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    player->SendLongMessage(sysex, sizeof sysex);
    player->DeviceWindowProc({TDeviceNotice::SysExDone, 12345});
    EXPECT_EQ(player->PendingHeaderCount(), 1);
}

TEST_F(MidiTest, CloseResetsReleasesPendingBuffersAndRewinds)
{
    player->Open(0);
    out.HoldSysEx(true);
    const std::uint8_t sysex[] = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    for (int i = 0; i < 3; ++i) player->SendLongMessage(sysex, sizeof sysex);
    player->Index = 2;
    player->Close();
    EXPECT_FALSE(player->IsOpen());
    EXPECT_EQ(player->PendingHeaderCount(), 0);
    EXPECT_EQ(player->Index, 0);
    EXPECT_EQ(out.OpenDevices(), 0);
    EXPECT_EQ(Log(out).back(), "0 reset");
    // The reset handed the buffers back; their notices arrive after the close and find nothing.
    EXPECT_EQ(ProcessNotices(), 3);
    player->Close();  // closing a closed port does nothing
    EXPECT_EQ(out.Messages().size(), 4u);
}

TEST_F(MidiTest, DestroyingAnOpenPlayerSilencesItBeforeClosing)
{
    player->Open(0);
    player.reset();
    EXPECT_EQ(Log(out), Concat({AllSoundOffAt("0"), {"0 reset"}}));
    EXPECT_EQ(out.OpenDevices(), 0);
}

TEST_F(MidiTest, NoticesForADestroyedPlayerAreDropped)
{
    player->Open(0);
    const std::uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    player->SendLongMessage(sysex, sizeof sysex);
    player.reset();
    EXPECT_EQ(ProcessNotices(), 1);  // delivered to nobody
}

}  // namespace
