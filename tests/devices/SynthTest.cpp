// The built-in synthesizer rendered offline with the real soundfont: sound where notes play,
// silence where they do not, and each of its four devices on its own channels.
#include <gtest/gtest.h>

#include <cmath>

#include "song/Exception.h"
#include "devices/Synth.h"

namespace {

struct SynthRender : testing::Test {
    std::shared_ptr<TSynthEngine> engine = std::make_shared<TSynthEngine>(TSynthEngine::DefaultSoundfont(), false);
    std::unique_ptr<TMidiOutDevice> a = engine->OpenPart(0);
    std::unique_ptr<TMidiOutDevice> b = engine->OpenPart(1);

    // The loudness (root mean square over both channels) of the next seconds of output.
    double Loudness(double seconds)
    {
        std::vector<float> left, right;
        engine->Render(left, right, static_cast<int>(seconds * engine->SampleRate()));
        double sum = 0.0;
        for (std::size_t i = 0; i < left.size(); ++i) sum += double{left[i]} * left[i] + double{right[i]} * right[i];
        return std::sqrt(sum / (2.0 * static_cast<double>(left.size())));
    }

    static void Send(TMidiOutDevice& device, const std::vector<std::uint8_t>& bytes) { device.LongMessage(bytes); }
};

constexpr double Silent = 1e-5;
constexpr double Sounding = 1e-2;

TEST_F(SynthRender, NoteSoundsWhileItPlaysAndDiesAwayAfter)
{
    EXPECT_LT(Loudness(0.2), Silent);
    b->ShortMessage(0x90, 60, 100);
    EXPECT_GT(Loudness(0.5), Sounding);
    b->ShortMessage(0x80, 60, 0);
    Loudness(3.0);  // the release and the reverberation
    EXPECT_LT(Loudness(0.5), Silent);
}

TEST_F(SynthRender, ResetOfOneDeviceLeavesTheOthersSounding)
{
    a->ShortMessage(0xC0, 19, 0);  // an organ: it holds its level as long as the key is down
    a->ShortMessage(0x90, 60, 100);
    EXPECT_GT(Loudness(0.3), Sounding);
    Send(*b, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});  // GM system on for device B only
    Loudness(2.0);
    EXPECT_GT(Loudness(0.3), Sounding);
    Send(*a, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});  // GS reset of A
    Loudness(3.0);
    EXPECT_LT(Loudness(0.5), Silent);
}

TEST_F(SynthRender, AllSoundOffOnADeviceSilencesOnlyItsChannels)
{
    a->ShortMessage(0xC0, 19, 0);
    a->ShortMessage(0x90, 60, 100);
    b->ShortMessage(0x90, 64, 100);
    for (std::uint8_t channel = 0; channel < 16; ++channel)
        b->ShortMessage(static_cast<std::uint8_t>(0xB0 | channel), 120, 0);  // what a stopping port sends
    Loudness(3.0);
    EXPECT_GT(Loudness(0.3), Sounding);  // A's organ, still held
    a->Reset();
    Loudness(3.0);
    EXPECT_LT(Loudness(0.5), Silent);
}

TEST(Synth, MissingSoundfontIsReportedWhenTheDeviceOpens)
{
    const auto engine = std::make_shared<TSynthEngine>("/nonexistent/quaverly.sf2", false);
    try {
        engine->OpenPart(0);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "内蔵シンセサイザーの音色ファイルがありません: /nonexistent/quaverly.sf2");
    }
}

}  // namespace
