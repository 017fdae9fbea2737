#include "formats/Document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "formats/Encoding.h"
#include "song/Exception.h"
#include "formats/Rtf.h"

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
    // compiler take, whatever line ends the file was saved with. Rewritten in place, in one pass,
    // so a document of many short lines costs no more than its bytes.
    std::size_t kept = text.find('\r');
    if (kept == std::string::npos) kept = text.size();
    for (std::size_t pos = kept; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '\r') {
            if (pos + 1 < text.size() && text[pos + 1] == '\n') ++pos;
            text[kept++] = '\n';
        } else {
            text[kept++] = c;
        }
    }
    text.resize(kept);
    if (!text.empty() && text.back() != '\n') text += '\n';
    return text;
}

std::size_t MaxRtfDocumentBytes()
{
    return MaxDocumentBytes * RtfMaxBytesPerTextByte + WriteRtf("").size();
}

bool DocumentTooLarge(std::string_view bytesSoFar)
{
    if (bytesSoFar.size() <= MaxDocumentBytes) return false;
    return bytesSoFar.size() > MaxRtfDocumentBytes() || !LooksLikeRtf(bytesSoFar);
}

std::string ReadDocumentBytes(const std::string& path)
{
    const std::string message = "ファイルを読み込めません: " + path;
    const std::string notRegular = "通常のファイルではないので読み込めません: " + path;
    // Asked before opening: opening a FIFO waits for a writer, and a device may never end.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) throw Exception(message);
    if (S_ISDIR(info.st_mode)) throw Exception(message);
    if (!S_ISREG(info.st_mode)) throw Exception(notRegular);
    // Opened without blocking and asked again, in case the name was given to something else
    // in between.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw Exception(message);
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } const closer{fd};
    if (fstat(fd, &info) != 0) throw Exception(message);
    if (S_ISDIR(info.st_mode)) throw Exception(message);
    if (!S_ISREG(info.st_mode)) throw Exception(notRegular);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw Exception(message);
        if (got == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
        // Refused as soon as it is known to be too large, so a huge file is never read whole.
        if (DocumentTooLarge(bytes)) throw Exception("ファイルが大きすぎて読み込めません: " + path);
    }
    return bytes;
}

std::string ReadDocumentText(const std::string& path) { return DecodeDocument(ReadDocumentBytes(path)); }

std::vector<std::string> ReadDocumentLines(const std::string& path) { return SplitLines(ReadDocumentText(path)); }
