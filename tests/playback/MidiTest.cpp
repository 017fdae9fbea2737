// The device side of a port player, over the recording service.
#include <gtest/gtest.h>

#include "tests/support/PlaybackFixture.h"

namespace {
using namespace playback_test;

struct MidiTest : testing::Test {
    TDrivenClock clock;
    TRecordingMidiOut out{clock};
    std::unique_ptr<TMidi> player = std::make_unique<TMidi>(&out, &clock);
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

TEST_F(MidiTest, ClosedPortSendsNothingAndKeepsNothingForLater)
{
    const std::uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    player->SendShortMessage(0x90, 60, 100);
    player->SendLongMessage(sysex, sizeof sysex);
    player->AllSoundOff();
    player->Stop();
    EXPECT_TRUE(out.Messages().empty());
    // What was sent to the closed port is gone, not waiting for a device to appear.
    player->Open(0);
    clock.AdvanceMs(100);
    EXPECT_TRUE(out.Messages().empty());
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

TEST_F(MidiTest, SysExArrivesWholeAndInOrderWithTheShortMessagesAroundIt)
{
    player->Open(0);
    auto bytes = std::make_unique<std::vector<std::uint8_t>>(
        std::vector<std::uint8_t>{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
    player->SendShortMessage(0x90, 60, 100);
    player->SendLongMessage(bytes->data(), static_cast<int>(bytes->size()));
    bytes.reset();  // the caller's bytes may go as soon as the send returns
    player->SendShortMessage(0x80, 60, 0);
    EXPECT_EQ(Log(out), (std::vector<std::string>{"0 90 3C 64", "0 F0 41 10 42 12 40 00 7F 00 41 F7", "0 80 3C 00"}));
}

TEST_F(MidiTest, EachSysExIsTheMessageAsItWasWhenSent)
{
    // One buffer reused for the next message, as the sequencer's event list is rebuilt by a new
    // compilation: a message already sent keeps its own bytes.
    player->Open(0);
    std::uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    player->SendLongMessage(sysex, sizeof sysex);
    sysex[4] = 0x03;
    player->SendLongMessage(sysex, sizeof sysex);
    player->SendLongMessage(sysex, 0);  // nothing to send
    player->SendLongMessage(nullptr, 6);
    EXPECT_EQ(Log(out), (std::vector<std::string>{"0 F0 7E 7F 09 01 F7", "0 F0 7E 7F 09 03 F7"}));
}

TEST_F(MidiTest, CloseResetsAfterTheLastSysExLeavesNothingBehindAndRewinds)
{
    player->Open(0);
    const std::uint8_t sysex[] = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    for (int i = 0; i < 3; ++i) player->SendLongMessage(sysex, sizeof sysex);
    player->Index = 2;
    player->Close();
    EXPECT_FALSE(player->IsOpen());
    EXPECT_EQ(player->Index, 0);
    EXPECT_EQ(out.OpenDevices(), 0);
    const std::string whole = "0 F0 43 10 4C 00 00 7E 00 F7";
    EXPECT_EQ(Log(out), (std::vector<std::string>{whole, whole, whole, "0 reset"}));
    // Nothing was left with the device to arrive after its reset.
    clock.AdvanceMs(1000);
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

TEST_F(MidiTest, DestroyingAPlayerRightAfterASysExLeavesTheDeviceItsMessage)
{
    // The player's event with its bytes goes with the player; what the device took stays whole.
    player->Open(0);
    AddSysEx(player->Elements, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    AddNote(player->Elements, 480, 480, 60);
    player->Start();
    clock.AdvanceMs(1);
    ASSERT_EQ(out.Messages().size(), 1u);
    player.reset();
    EXPECT_EQ(Log(out), Concat({{"0 F0 7E 7F 09 01 F7"}, AllSoundOffAt("1"), {"1 reset"}}));
    EXPECT_EQ(out.OpenDevices(), 0);
}

}  // namespace
