#include "Document.h"

#include <cstdio>
#include <memory>

#include "Encoding.h"
#include "Exception.h"
#include "Rtf.h"

std::vector<std::string> SplitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c != '\n' && c != '\r') {
            ++pos;
            continue;
        }
        lines.emplace_back(text.substr(start, pos - start));
        pos += (c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
        start = pos;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

std::string DecodeDocument(std::string_view bytes)
{
    std::string text;
    if (LooksLikeRtf(bytes)) {
        text = ReadRtf(bytes);
    } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        // A byte-order mark says UTF-8 more surely than any guess, so a damaged byte further on
        // is shown as U+FFFD rather than turning the whole file into Shift-JIS mojibake.
        text = CodePageToUtf8(65001, bytes.substr(3));
    } else if (IsValidUtf8(bytes)) {
        text = bytes;
    } else {
        text = Cp932ToUtf8(bytes);
    }
    // Every line, the last one included, ends with LF: that is the form the editor and the
    // compiler take, whatever line ends the file was saved with.
    std::string result;
    result.reserve(text.size() + 1);
    for (const std::string& line : SplitLines(text)) {
        result += line;
        result += '\n';
    }
    return result;
}

std::vector<std::string> ReadDocumentLines(const std::string& path)
{
    const std::string message = "ファイルを読み込めません: " + path;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) throw Exception(message);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        bytes.append(buffer, got);
        // Refused as soon as it is known to be too large, so a huge file is never read whole.
        if (bytes.size() > MaxDocumentBytes) throw Exception("ファイルが大きすぎて読み込めません: " + path);
        if (got < sizeof buffer) break;
    }
    // A directory opens on some systems but fails on the first read; that, like any read error,
    // is an unreadable file rather than an empty document.
    if (std::ferror(file.get())) throw Exception(message);
    return SplitLines(DecodeDocument(bytes));
}
