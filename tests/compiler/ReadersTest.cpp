#include <gtest/gtest.h>

#include "tests/compiler/CompileFixture.h"

namespace {

struct NumberCase {
    const char* text;
    bool valid;
    std::int32_t value;
    const char* rest;  // what the cursor is left on
};

TEST(Readers, ReadNumber)
{
    const NumberCase cases[] = {
        {"$1f", true, 31, ""},
        {"$1F", true, 31, ""},
        {"$1Fg", true, 31, "g"},
        {"$FFFFFFFF", true, -1, ""},
        {"$7fffffff", true, 2147483647, ""},
        {"$100000000", false, 0, ""},  // nine digits
        {"$", false, 0, ""},
        {"$x", false, 0, "x"},
        {"-0", true, 0, ""},
        {"007", true, 7, ""},
        {"12abc", true, 12, "abc"},
        {"1-2", false, 0, ""},
        {"--5c", false, 0, "c"},
        {"-", false, 0, ""},
        {"2147483647", true, 2147483647, ""},
        {"-2147483648", true, -2147483647 - 1, ""},
        {"2147483648", false, 0, ""},
        {"99999999999999999999", false, 0, ""},
        {"+5", false, 0, "+5"},
        {" 5", false, 0, " 5"},
        {"5.5", true, 5, ".5"},
        {"", false, 0, ""},
    };
    TMML compiler;
    for (const auto& c : cases) {
        const char* p = c.text;
        if (c.valid) {
            EXPECT_EQ(compiler.ReadNumber(p), c.value) << c.text;
        } else {
            try {
                compiler.ReadNumber(p);
                ADD_FAILURE() << c.text << " was read as a number";
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message(), "数値として正しくありません") << c.text;
            }
        }
        EXPECT_STREQ(p, c.rest) << c.text;
    }
}

// The arguments as "5" (given) or "-" (absent), joined by blanks, then what is left of the text.
std::string Args(TMML& compiler, const char* signature, const char* text)
{
    TMMLParams params;
    const char* p = text;
    compiler.ReadArgs(params, signature, p);
    std::string out;
    for (int i = 0; i < params.Count(); ++i)
        out += (params.Items(i).Given ? std::to_string(params.Items(i).Value) : "-") + " ";
    return out + "|" + p;
}

TEST(Readers, ReadArgs)
{
    TMML compiler;
    const std::vector<std::pair<const char*, std::string>> iii = {
        {",5,", "- 5 - |"},
        {"5 ", "5 - - | "},   // the blank ends the list and is not consumed
        {"1,2,3,4", "1 2 3 |4"},
        {"", "- - - |"},      // the text ends inside the list
        {"1,x", "1 - - |x"},  // a letter is an absent argument, not an error
        {"1,--2,3", "1 - 3 |"},  // so is a malformed number, wherever it left the cursor
        {"127,0", "127 0 - |"},
    };
    for (const auto& [text, expected] : iii) EXPECT_EQ(Args(compiler, "III", text), expected) << text;
    EXPECT_EQ(Args(compiler, "JJ", "128,1)"), "128 1 |)");
    EXPECT_EQ(Args(compiler, "XI", "5"), "- 5 |");  // an unknown letter reads nothing

    for (const char* bad : {"0", "129", "1,128", "1,-1"}) {
        try {
            Args(compiler, "JII", bad);
            ADD_FAILURE() << bad;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "数値が範囲外です") << bad;
        }
    }
}

TEST(Readers, LengthArguments)
{
    TMML compiler;
    compiler.Tracks->ResetTracks();
    EXPECT_EQ(Args(compiler, "LI", ",100"), "- 100 |");
    EXPECT_EQ(Args(compiler, "LI", "8,64&"), "240 64 |&");
    EXPECT_EQ(Args(compiler, "LI", "d"), "480 - |d");  // no number: the default length
    EXPECT_EQ(Args(compiler, "Ll", "4"), "480 0 |");    // l defaults to 0
    EXPECT_EQ(Args(compiler, "Ll", "4,16"), "480 120 |");
    EXPECT_EQ(Args(compiler, "L", "*-5"), "- |");       // a negative length is not given
}

TEST(Readers, ReadNumberList)
{
    TMML compiler;
    auto list = [&](const char* text) {
        TMMLParams params;
        const char* p = text;
        compiler.ReadNumberList(params, p);
        std::string out;
        for (int i = 0; i < params.Count(); ++i)
            out += (params.Items(i).Given ? std::to_string(params.Items(i).Value) : "-") + " ";
        return out + "|" + p;
    };
    EXPECT_EQ(list("$41,$10,,$12 c"), "65 16 - 18 | c");
    EXPECT_EQ(list("1,x"), "1 |x");
    EXPECT_EQ(list("x"), "|x");
    EXPECT_EQ(list(",,"), "- - |");
    EXPECT_THROW(list("1,128"), Exception);
}

TEST(Readers, SkipsAndLetters)
{
    const char* p = "abc\r\ndef";
    TMML::SkipToLineEnd(p);
    EXPECT_STREQ(p, "\ndef");
    p = "";
    TMML::SkipToLineEnd(p);
    EXPECT_STREQ(p, "");

    p = "\r\n\t\x01 x";
    EXPECT_FALSE(TMML::SkipControls(p));
    EXPECT_STREQ(p, " x");
    p = "\r\n";
    EXPECT_TRUE(TMML::SkipControls(p));
    p = "\n\x82\xa0";
    EXPECT_FALSE(TMML::SkipControls(p));  // stops at a byte of 0x80 and above
    EXPECT_STREQ(p, "\x82\xa0");

    for (char c = 1; c < 127; ++c)
        EXPECT_EQ(TMML::IsLetter(c), (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) << int{c};
    EXPECT_FALSE(TMML::IsLetter('\xc1'));
}

}  // namespace
