// The small readers every command shares (numbers, argument lists, number lists, line ends),
// seen through the commands that use them: what a run of characters reads as, and where the
// reading stops, which shows as what the rest of the text compiles to.
#include <gtest/gtest.h>

#include "tests/compiler/CompileFixture.h"

namespace {

// Everything a compilation shows, on one line: the events, then the pane, then the error.
std::string Outcome(const std::string& mml)
{
    const Compiled out = CompileBytes(mml);
    std::string text;
    const auto add = [&](const std::string& part) { text += (text.empty() ? "" : " | ") + part; };
    std::string events;
    for (const auto& e : out.Events) events += (events.empty() ? "" : ", ") + e;
    if (!events.empty()) add(events);
    for (const auto& line : out.Memo) add("pane " + line);
    if (!out.Error.empty()) add("error " + out.Error);
    return text;
}

void ExpectOutcomes(const std::vector<std::pair<std::string, std::string>>& cases)
{
    for (const auto& [mml, expected] : cases) EXPECT_EQ(Outcome(mml), expected) << mml;
}

const std::string Warned = "pane 警告: 数値として正しくありません( 行 : 1 )";
const std::string Undefined = "error 未定義のコマンド( 行 : 1 )";
const std::string OutOfRange = "error 数値が範囲外です( 行 : 1 )";
const std::string BadNumber = "error 数値として正しくありません( 行 : 1 )";
const std::string BadNumberOnLine2 = "error 数値として正しくありません( 行 : 2 )";

// A number is read where a command needs one ("r*" ticks, shown as the tick of the event after
// it; "k" semitones, shown in the key): a run that is no valid number is an error there. Where a
// number may be left out (an "@X" byte), the same run is passed over with a warning, and what
// follows it shows where the reading stopped.
TEST(Readers, ReadNumber)
{
    ExpectOutcomes({
        {"r*$1f h0", "31 B0 64 0"},
        {"r*$1F h0", "31 B0 64 0"},
        {"r*$1Fg*0", "31 90 67 127, 31 80 67 127"},
        {"k$FFFFFFFF c*0", "0 90 59 127, 0 80 59 127"},
        {"r*$7fffffff h0", "2147483647 B0 64 0"},
        {"@X$100000000 h0\r\nr*$100000000", "0 F0 F7, 0 B0 64 0 | " + Warned + " | " + BadNumberOnLine2},  // nine digits
        {"@X$ h0\r\nr*$", "0 F0 F7, 0 B0 64 0 | " + Warned + " | " + BadNumberOnLine2},
        {"@X$x", "0 F0 F7 | " + Warned + " | " + Undefined},
        {"r*$x", BadNumber},
        {"r*-0 h0", "0 B0 64 0"},
        {"r*007 h0", "7 B0 64 0"},
        {"r*12abc", "12 90 69 127, 492 80 69 127, 492 90 71 127, 972 80 71 127, 972 90 60 127, 1452 80 60 127"},
        {"@X1-2 h0\r\nr*1-2", "0 F0 F7, 0 B0 64 0 | " + Warned + " | " + BadNumberOnLine2},
        {"@X--5c*0\r\nr*--5", "0 F0 F7, 0 90 60 127, 0 80 60 127 | " + Warned + " | " + BadNumberOnLine2},
        {"@X- h0\r\nr*-", "0 F0 F7, 0 B0 64 0 | " + Warned + " | " + BadNumberOnLine2},
        {"r*2147483647 h0", "2147483647 B0 64 0"},
        {"r*2147483647^*-2147483648^*481 h0", "480 B0 64 0"},  // -2147483648 exactly
        {"@X2147483648 h0\r\nr*2147483648", "0 F0 F7, 0 B0 64 0 | " + Warned + " | " + BadNumberOnLine2},
        {"@X99999999999999999999 h0\r\nr*99999999999999999999",
         "0 F0 F7, 0 B0 64 0 | " + Warned + " | " + BadNumberOnLine2},
        {"@X+5", "0 F0 F7 | " + Undefined},  // no number begins here: nothing is read, nothing warned
        {"r*+5", BadNumber},
        {"@X 5", "0 F0 F7 | " + Undefined},
        {"r* 5", BadNumber},
        {"@X5.5", "0 F0 05 F7 | " + Undefined},  // the number ends at the point
        {"@X h0\r\nr*", "0 F0 F7, 0 B0 64 0 | " + BadNumberOnLine2},  // the text ends where a number is needed
    });
}

// The argument lists of "m" (three numbers 0..127), "#ASSIGN" (1..128) and "@" (1..128, then
// two of 0..127). A letter of a list that the reader does not know does not build, so no command
// can pass one.
TEST(Readers, ReadArgs)
{
    ExpectOutcomes({
        {"m,5,", "0 B0 76 5"},
        {"m5 ,6", "0 B0 77 5 | " + Undefined},  // the blank ends the list
        {"m1,2,3,4", "0 B0 77 1, 0 B0 76 2, 0 B0 78 3 | " + Undefined},
        {"m", ""},                                      // the text ends inside the list
        {"m1,c*0", "0 B0 77 1, 0 90 60 127, 0 80 60 127"},  // a letter is an absent argument, not an error
        {"m1,--2,3", "0 B0 77 1, 0 B0 78 3 | " + Warned},   // so is a malformed number, wherever it left the cursor
        {"m127,0", "0 B0 77 127, 0 B0 76 0"},
        {"#ASSIGN(17,128)[128]c*0", "p2 0 90 60 127, p2 0 80 60 127"},
        {"@0", OutOfRange},
        {"@129", OutOfRange},
        {"@1,128", OutOfRange},
        {"@1,-1", OutOfRange},
    });
}

// A note's length and velocity, and a chord's length and delay.
TEST(Readers, LengthArguments)
{
    ExpectOutcomes({
        {"c,100", "0 90 60 100, 480 80 60 127"},
        {"c8,64&", "0 90 60 64, 240 80 60 127, 240 E0 0 64"},
        {"cd", "0 90 60 127, 480 80 60 127, 480 90 62 127, 960 80 62 127"},  // no number: the default length
        {"'ce'4", "0 90 60 127, 0 90 64 127, 480 80 60 127, 480 80 64 127"},  // the delay defaults to 0
        {"'ce'4,16", "0 90 60 127, 120 90 64 127, 480 80 60 127, 480 80 64 127"},
        {"c*-5", "0 90 60 127, 480 80 60 127"},  // a negative length is not given
    });
}

// The bytes of "@X".
TEST(Readers, ReadNumberList)
{
    ExpectOutcomes({
        {"@X$41,$10,,$12 c", "0 F0 41 10 00 12 F7, 0 90 60 127, 480 80 60 127"},
        {"@X1,x", "0 F0 01 F7 | " + Undefined},
        {"@Xx", "0 F0 F7 | " + Undefined},
        {"@X,,", "0 F0 00 00 F7"},
        {"@X1,128", OutOfRange},
    });
}

TEST(Readers, SkipsAndLetters)
{
    ExpectOutcomes({
        // A comment ends at the line feed, or at the end of the text.
        {"//abc\r\ndef", "0 90 62 127, 480 80 62 127, 480 90 64 127, 960 80 64 127, 960 90 65 127, 1440 80 65 127"},
        {"//", ""},
        // Control characters and bytes of 0x80 and above are passed over.
        {"\r\n\t\x01 x", "error 未定義のコマンド( 行 : 2 )"},
        {"\r\n", ""},
        {"\n\x82\xa0", ""},
    });

    // After "@" an ASCII letter begins a lettered "@" command (undefined but for E and X); any
    // other byte, also one of 0x80 and above, is read as if a blank stood between them.
    for (int b = 1; b < 256; ++b) {
        const char c = static_cast<char>(b);
        if (c == 'e' || c == 'E' || c == 'x' || c == 'X' || c == ',' || c == '$' || c == '-' || (c >= '0' && c <= '9'))
            continue;  // those are @E, @X, or the program's own arguments
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const std::string expected = letter ? Undefined : Outcome(std::string("@ ") + c);
        EXPECT_EQ(Outcome(std::string("@") + c), expected) << b;
    }
}

}  // namespace
