#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Document.h"
#include "Exception.h"

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
    std::ofstream(path, std::ios::binary) << "c";
    // Zero bytes after the "c": a document of one line, exactly at the bound.
    std::filesystem::resize_file(path, MaxDocumentBytes);
    EXPECT_EQ(ReadDocumentLines(path).size(), 1u);
    std::filesystem::resize_file(path, MaxDocumentBytes + 1);
    try {
        ReadDocumentLines(path);
        ADD_FAILURE() << "no exception for a file over the bound";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "ファイルが大きすぎて読み込めません: " + path);
    }
    std::filesystem::remove_all(dir);
}

} // namespace
