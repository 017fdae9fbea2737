// Reading and compiling the document a command names: the one way every command that plays or
// writes a piece gets its song.
#include <istream>
#include <ostream>

#include "cli/Cli.h"
#include "formats/Document.h"
#include "formats/Encoding.h"
#include "song/Exception.h"

namespace {

// Reads a document (a file name, or "-" for standard input) into its text (UTF-8, every line
// ended by LF, as DecodeDocument gives it); on failure tells err why and returns false.
bool ReadPiece(const std::string& source, std::istream& in, std::string& text, std::ostream& err)
{
    if (source == "-") {
        // Read in pieces up to the bound that documents have, so endless input is refused
        // instead of filling the memory.
        std::string bytes;
        char buffer[65536];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
            if (DocumentTooLarge(bytes)) {
                err << "標準入力が大きすぎて読み込めません\n";
                return false;
            }
        }
        if (in.bad()) {
            err << "標準入力を読み込めません\n";
            return false;
        }
        text = DecodeDocument(bytes);
        return true;
    }
    try {
        text = ReadDocumentText(source);
        return true;
    } catch (const Exception& e) {
        err << e.Message() << '\n';
        return false;
    }
}
}  // namespace

bool ReadAndCompile(const std::string& source, std::istream& in, std::ostream& err, TSong& song)
{
    std::string text;
    if (!ReadPiece(source, in, text, err)) return false;
    // What CompileDocument does, with the document's text let go before the compilation starts,
    // so that only the bytes the compiler reads are held beside the events it makes.
    std::string bytes = Utf8ToCp932Lines(text);
    std::string().swap(text);
    // Every port starts from a fresh player's tempo, as the players the command-line tool makes do.
    song = TMML().CompileText(std::move(bytes));
    return true;
}

bool ReportCompileError(const TSong& song, std::ostream& err)
{
    if (!song.Failed()) return false;
    err << song.Error << '\n';
    return true;
}
