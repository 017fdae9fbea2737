// Random text through the compiler: every input ends in events or an error message, never a
// crash, a hang or a read outside the buffer (the sanitizers watch the last).
#include <gtest/gtest.h>

#include <random>

#include "tests/compiler/CompileFixture.h"

namespace {

std::string RandomBytes(std::mt19937& random, std::size_t size)
{
    std::string text(size, '\0');
    for (char& c : text) c = static_cast<char>(random() & 0xFF);
    return text;
}

// Fragments of real MML, glued at random: far more likely than random bytes to reach deep into
// the commands, and to leave constructs open at the end.
std::string RandomMml(std::mt19937& random, int pieces)
{
    static const char* const fragments[] = {
        "c", "d+", "e-4.", "f8^16", "g*120", "a,100", "b&", "r", "r8", "l16", "l.", "o4", "o9", "<", ">", "q4",
        "q-1", "k3", "'", "'ceg'", "'ceg'2,8", "'c100e'&", "{", "}", "}4", "{ceg}8", "|:", "|:3", "|:0", ":|", "|",
        "/:", "/", ":/", "//", "\r\n", " ", "[", "]", "[1]", "[17]", "[a]", "[b]", "[@]", "[$]", "#INITGS(1)",
        "#ASSIGN(17,1)", "#INITXG(", "#", "(", "t120", "t+500", "@1,0,0", "@E1,,3", "@X$41,$10", "h127", "m1,2,3",
        "p+10", "u-5", "v200", "$", "-", "*", ",", ".", "^", "&", "2147483647", "\x82\xa0", "\x83\x41", ";", "x",
    };
    std::string text;
    for (int i = 0; i < pieces; ++i) text += fragments[random() % std::size(fragments)];
    return text;
}

TEST(Fuzz, RandomInputEndsInEventsOrAnError)
{
    std::mt19937 random(20261210);
    TMML compiler;  // one compiler for all: no state may leak from one compilation into the next
    for (int i = 0; i < 3000; ++i) {
        const std::string text = i % 3 == 0 ? RandomBytes(random, random() % 200) : RandomMml(random, static_cast<int>(random() % 60));
        const TSong song = compiler.CompileText(text);
        if (song.Failed()) {
            const std::string& error = song.Error;
            ASSERT_NE(error.find("( 行 : "), std::string::npos) << text;
        }
        for (int port = 0; port < TSong::PortCount; ++port) {
            const TMidiElements& list = song.Ports[static_cast<std::size_t>(port)];
            for (int k = 1; k < list.Count(); ++k)
                ASSERT_LE(CompareElements(list.Items(k - 1), list.Items(k)), 0) << text;
            for (int k = 0; k < list.Count(); ++k) {
                const TMidiElement& e = list.Items(k);
                ASSERT_GE(e.Tick, 0) << text;
                if (e.Kind == ekShortMessage) {
                    ASSERT_GE(e.Status, 0x80) << text;
                    ASSERT_LT(e.Data1, 0x80) << text;  // a data byte above 127 would corrupt the stream
                    ASSERT_LT(e.Data2, 0x80) << text;
                }
            }
        }
    }
}

}  // namespace
