#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "formats/Document.h"
#include "formats/Encoding.h"
#include "song/Exception.h"
#include "formats/Rtf.h"

namespace {

const std::string kFixtures = "tests/fixtures/documents/";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot open " << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Documents written by other programs, each with the text the editor must show for it.
TEST(Document, DecodesEveryFixtureDocument)
{
    const char* const documents[] = {
        "abiword.rtf",       "libreoffice-writer.rtf", "pandoc.rtf",
        "richedit-cp932.QVR", "plain-utf8.QVR",         "plain-sjis.QVR",
    };
    for (const std::string name : documents) {
        const std::string stem = name.substr(0, name.rfind('.'));
        EXPECT_EQ(DecodeDocument(ReadFile(kFixtures + name)), ReadFile(kFixtures + stem + ".expected.txt"))
            << name;
    }
}

TEST(Document, SplitLines)
{
    using Lines = std::vector<std::string>;
    const std::pair<std::string_view, Lines> cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\nb", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\n\n", {"a", ""}},
        {"\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"a\n\rb", {"a", "", "b"}},   // LF CR is two line ends, not one
        {"a\r\r\nb", {"a", "", "b"}},
        {" \t ", {" \t "}},
    };
    for (const auto& [text, lines] : cases) EXPECT_EQ(SplitLines(text), lines) << text;
}

TEST(Document, DecodesPlainText)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},
        {"c d e", "c d e\n"},
        {"a\r\nb\rc\n", "a\nb\nc\n"},
        {"\xEF\xBB\xBF" "t120\n", "t120\n"},                  // byte-order mark dropped
        {"\xEF\xBB\xBF" "\x82\xA0", "��\n"},                  // marked UTF-8 stays UTF-8
        {"// \x82\xA0\x87\x40\r\n", "// あ①\n"},              // not UTF-8: Shift-JIS
        {"// あ①～\n", "// あ①～\n"},
        {"\x82\xA0\xFF", "あ�\n"},
        {"  \n{\\rtf1 x\\par y}", "x\ny\n"},                  // RTF after leading blanks
        {"x{\\rtf1 y}", "x{\\rtf1 y}\n"},                     // RTF only at the start
        {"\r\r\n\n\r", "\n\n\n\n"},                          // every kind of line end, empty lines
        {"\n\xFF\r", "\n�\n"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(DecodeDocument(bytes), text) << bytes;
}

TEST(Document, ReadDocumentLinesReadsAFile)
{
    const std::vector<std::string> lines = ReadDocumentLines(kFixtures + "richedit-cp932.QVR");
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[1], "#INITGS(1)");
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(lines[7], "// 𠮷野家 — emoji 🎵 end");
}

TEST(Document, ReadDocumentLinesReportsAnUnreadableFileInJapanese)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "quaverly-formats-test";
    std::filesystem::create_directories(dir);
    for (const std::string& path : {(dir / "missing.QVR").string(), dir.string()}) {
        try {
            ReadDocumentLines(path);
            ADD_FAILURE() << "no exception for " << path;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "ファイルを読み込めません: " + path);
        }
    }
    std::filesystem::remove_all(dir);
}

TEST(Document, ReadDocumentLinesRefusesAFileLargerThanTheBound)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "quaverly-formats-size-test";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "large.QVR").string();
    // A document of one line, exactly at the bound.
    std::ofstream(path, std::ios::binary) << std::string(MaxDocumentBytes, 'c');
    EXPECT_EQ(ReadDocumentLines(path).size(), 1u);
    std::ofstream(path, std::ios::binary | std::ios::app) << 'c';
    try {
        ReadDocumentLines(path);
        ADD_FAILURE() << "no exception for a file over the bound";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "ファイルが大きすぎて読み込めません: " + path);
    }
    std::filesystem::remove_all(dir);
}


// Reading stops at anything that is not a regular file, before opening it: a FIFO would wait for a
// writer and a device may never end. A folder keeps its old message.
TEST(Document, ReadDocumentTextRefusesWhatIsNotARegularFile)
{
    char pattern[] = "/tmp/quaverly-formats-special-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern, fifo = dir + "/song.QVR";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {fifo, "通常のファイルではないので読み込めません: " + fifo},
        {"/dev/zero", "通常のファイルではないので読み込めません: /dev/zero"},
        {dir, "ファイルを読み込めません: " + dir},
    };
    for (const auto& [path, message] : cases) {
        try {
            ReadDocumentText(path);
            ADD_FAILURE() << "no exception for " << path;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), message);
        }
    }
    std::filesystem::remove_all(dir);
}

// Everything the program saves opens again: the largest text a plain document may hold, made of the
// character RTF writes longest, goes through WriteRtf and reads back whole; one byte more of RTF is
// refused, and plain text keeps its own bound.
TEST(Document, TheLargestTextSavedAsRtfOpensAgain)
{
    char pattern[] = "/tmp/quaverly-formats-rtf-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern, path = dir + "/large.QVR";
    std::string text(MaxDocumentBytes, '\x7F');
    {
        const std::string rtf = WriteRtf(text);
        EXPECT_EQ(rtf.size(), MaxRtfDocumentBytes());
        std::ofstream(path, std::ios::binary) << rtf;
    }
    std::string read = ReadDocumentText(path);
    EXPECT_EQ(read.size(), text.size() + 1);
    EXPECT_TRUE(read.compare(0, text.size(), text) == 0 && read.back() == '\n');
    read = std::string();
    text = std::string();

    std::ofstream(path, std::ios::binary | std::ios::app) << ' ';
    try {
        ReadDocumentText(path);
        ADD_FAILURE() << "no exception for RTF over its bound";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "ファイルが大きすぎて読み込めません: " + path);
    }
    std::filesystem::remove_all(dir);
}
// What is text and how it is held. Japanese comments open in either encoding; what no text file
// holds (a NUL, a stray control character, bytes valid in neither encoding) is refused.
TEST(Document, TellsTextFromWhatIsNot)
{
    using E = TDocumentEncoding;
    using namespace std::string_view_literals;
    struct Case {
        std::string_view bytes;
        std::optional<TDocumentForm> form;
    };
    const Case cases[] = {
        {"c d e\n", TDocumentForm{E::Utf8, false}},
        {"// あ①\r\nc\n", TDocumentForm{E::Utf8, true}},
        {"\xEF\xBB\xBF" "t120\r\n", TDocumentForm{E::Utf8WithBom, true}},
        {"\xEF\xBB\xBF" "\x82\xA0", TDocumentForm{E::Utf8WithBom, false}},  // marked: always UTF-8
        {"// \x82\xA0\x87\x40\r\n", TDocumentForm{E::ShiftJis, true}},
        {"\xB1\xDD\tc\f\x1A", TDocumentForm{E::ShiftJis, false}},  // half-width kana, tab, FF, EOF mark
        {"{\\rtf1 x}", TDocumentForm{E::Rtf, false}},
        {"", std::nullopt},
        {"c\0d"sv, std::nullopt},
        {"{\\rtf1 x}\0"sv, TDocumentForm{E::Rtf, false}},  // as rich-edit controls end it
        {"c\x01" "d", std::nullopt},
        {"\x1B[0m", std::nullopt},
        {"\x82\xA0\xFF", std::nullopt},    // neither UTF-8 nor Shift-JIS
        {"\x82\x20", std::nullopt},         // a Shift-JIS lead byte without its second byte
        {"RIFF\x24\x08\0\0WAVEfmt "sv, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DocumentFormOf(c.bytes), c.form) << c.bytes;
        // Decoding by the form found reads the text exactly as deciding afresh does.
        if (c.form) {
            EXPECT_EQ(DecodeDocument(std::string(c.bytes), *c.form), DecodeDocument(c.bytes)) << c.bytes;
        }
    }
}

// A file that is empty or no text is refused by name, so neither the window nor the command-line
// tool shows binary data as a document.
TEST(Document, ReadDocumentTextRefusesWhatIsNoText)
{
    char pattern[] = "/tmp/quaverly-formats-binary-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::pair<std::string, std::string> cases[] = {
        {"", "ファイルが空なので読み込めません: "},
        {std::string("RIFF\x24\x08\0\0WAVE", 12), "テキストファイルではないので読み込めません: "},
        {"\x82\xA0\xFF\xFE", "テキストファイルではないので読み込めません: "},
    };
    int n = 0;
    for (const auto& [bytes, message] : cases) {
        const std::string path = dir + "/file" + std::to_string(n++) + ".mml";
        std::ofstream(path, std::ios::binary) << bytes;
        try {
            ReadDocumentText(path);
            ADD_FAILURE() << "no exception for " << path;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), message + path);
        }
    }
    std::filesystem::remove_all(dir);
}

// Text written in a form reads back as the same text in the same form; Shift-JIS says when it
// cannot hold a character.
TEST(Document, EncodedTextReadsBackInItsForm)
{
    using E = TDocumentEncoding;
    const std::string texts[] = {"// かえるの歌 ①\n[1] cdefedc\n", "", "a\n\n", "\t{x} \\par ～"};
    for (const E encoding : {E::Rtf, E::Utf8, E::Utf8WithBom, E::ShiftJis}) {
        for (const bool crlf : {false, true}) {
            const TDocumentForm form{encoding, crlf && encoding != E::Rtf};
            for (const std::string& text : texts) {
                const std::string bytes = EncodeDocument(text, form);
                // ASCII in Shift-JIS is the same bytes as in UTF-8, and reads as that.
                TDocumentForm read = form;
                if (encoding == E::ShiftJis && IsValidUtf8(bytes)) read.Encoding = E::Utf8;
                EXPECT_EQ(DocumentFormOf(bytes), read) << text;
                // The editor shows RTF's text exactly, and plain text without the line end that
                // closes its last line.
                std::string shown = form.PlainText() ? DecodeDocument(bytes) : ReadRtf(bytes);
                if (form.PlainText()) shown.pop_back();
                EXPECT_EQ(shown, text) << static_cast<int>(encoding) << crlf;
            }
        }
    }
    EXPECT_TRUE(FitsShiftJis("// あ①～ ｱ"));
    EXPECT_FALSE(FitsShiftJis("𠮷"));
    EXPECT_FALSE(FitsShiftJis("é"));
}

} // namespace
