// The device catalog and the choices made without a device: naming a device, reading a
// system-exclusive message for the built-in synthesizer.
#include <gtest/gtest.h>

#include "devices/Devices.h"
#include "song/Exception.h"
#include "devices/Synth.h"

namespace {

TEST(Catalog, BuiltinSynthesizerComesFirstAsFourDevices)
{
    TDeviceCatalog catalog(false);
    ASSERT_GE(catalog.DeviceCount(), 4);
    EXPECT_EQ(catalog.DeviceName(0), "内蔵シンセサイザー A");
    EXPECT_EQ(catalog.DeviceName(3), "内蔵シンセサイザー D");
    EXPECT_EQ(catalog.DeviceName(catalog.DeviceCount()), "");
    for (const auto& name : catalog.Names()) {
        const bool known = name.rfind("内蔵", 0) == 0 || name.rfind("ALSA: ", 0) == 0 || name.rfind("JACK: ", 0) == 0;
        EXPECT_TRUE(known) << name;
    }
    try {
        catalog.Open(catalog.DeviceCount());
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "MIDI 出力デバイス " + std::to_string(catalog.DeviceCount()) + " はありません");
    }
}

TEST(Catalog, FindDeviceByNumberOrUniquePartOfItsName)
{
    const std::vector<std::string> names = {"内蔵シンセサイザー A", "内蔵シンセサイザー B", "JACK: synth:midi_in",
                                            "JACK: synth:midi_in 2"};
    struct Case {
        const char* Spec;
        int Found;            // -1: raises
        const char* Message;  // the text when it raises
    };
    const Case cases[] = {
        {"1", 1, ""},
        {"B", 1, ""},
        {"synth:midi_in 2", 3, ""},
        {"JACK: synth:midi_in", 2, ""},  // the exact name wins over a longer one containing it
        {"4", -1, "デバイス番号 4 はありません (0 から 3 まで)"},
        {"-1", -1, "デバイス番号 -1 はありません (0 から 3 まで)"},
        {"内蔵", -1, "「内蔵」に当てはまるデバイスが複数あります: 内蔵シンセサイザー A、内蔵シンセサイザー B"},
        {"alsa", -1, "「alsa」に当てはまるデバイスはありません"},
        {"", -1, "「」に当てはまるデバイスはありません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Spec);
        if (c.Found >= 0) {
            EXPECT_EQ(FindDevice(names, c.Spec), c.Found);
            continue;
        }
        try {
            FindDevice(names, c.Spec);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.Message);
        }
    }
}

TEST(Synth, ResetsAndRhythmPartsAreRecognisedWhateverTheDeviceNumber)
{
    using B = std::vector<std::uint8_t>;
    struct Case {
        B Data;
        TSysExAction::TKind Kind;
        int Channel;
        bool Drum;
    };
    const Case cases[] = {
        {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, TSysExAction::Reset, 0, false},            // GM system on
        {{0xF0, 0x7E, 0x10, 0x09, 0x03, 0xF7}, TSysExAction::Reset, 0, false},            // GM2 system on
        {{0xF0, 0x7E, 0x7F, 0x09, 0x02, 0xF7}, TSysExAction::Pass, 0, false},             // GM off
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, TSysExAction::Reset, 0, false},
        {{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, TSysExAction::Reset, 0, false},  // XG on
        {{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x01, 0xF7}, TSysExAction::Pass, 0, false},
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x01, 0x1A, 0xF7}, TSysExAction::RhythmPart, 9, true},
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18, 0xF7}, TSysExAction::RhythmPart, 0, true},
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x00, 0x11, 0xF7}, TSysExAction::RhythmPart, 10, false},
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x03, 0x0E, 0xF7}, TSysExAction::Pass, 0, false},
        {{0xF0, 0x7E, 0x7F, 0x09, 0x01}, TSysExAction::Pass, 0, false},  // cut short
        {{}, TSysExAction::Pass, 0, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const TSysExAction action = ClassifySysEx(cases[i].Data);
        EXPECT_EQ(action.Kind, cases[i].Kind);
        if (action.Kind == TSysExAction::RhythmPart) {
            EXPECT_EQ(action.Channel, cases[i].Channel);
            EXPECT_EQ(action.Drum, cases[i].Drum);
        }
    }
}

}  // namespace
