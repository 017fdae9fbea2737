#include "formats/Document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

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

namespace {

const std::string_view Utf8Bom = "\xEF\xBB\xBF";

// Every line, the last one included, ends with LF: that is the form the editor and the compiler
// take, whatever line ends the file was saved with. Rewritten in place, in one pass, so a document
// of many short lines costs no more than its bytes.
void EndLinesWithLf(std::string& text)
{
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
}

// The text in UTF-8. UTF-8 text stays in the bytes' own buffer.
std::string ToUtf8(std::string bytes, TDocumentEncoding encoding)
{
    switch (encoding) {
    case TDocumentEncoding::Rtf: return ReadRtf(bytes);
    // A byte-order mark says UTF-8 more surely than any guess, so a damaged byte further on is
    // shown as U+FFFD rather than turning the whole file into Shift-JIS mojibake.
    case TDocumentEncoding::Utf8WithBom: return CodePageToUtf8(65001, std::string_view(bytes).substr(Utf8Bom.size()));
    case TDocumentEncoding::Utf8: return bytes;
    case TDocumentEncoding::ShiftJis: return Cp932ToUtf8(bytes);
    }
    return bytes;
}

}  // namespace

std::string DecodeDocument(std::string_view bytes)
{
    TDocumentEncoding encoding = TDocumentEncoding::ShiftJis;
    if (LooksLikeRtf(bytes))
        encoding = TDocumentEncoding::Rtf;
    else if (bytes.substr(0, Utf8Bom.size()) == Utf8Bom)
        encoding = TDocumentEncoding::Utf8WithBom;
    else if (IsValidUtf8(bytes))
        encoding = TDocumentEncoding::Utf8;
    return DecodeDocument(std::string(bytes), TDocumentForm{encoding, false});
}

std::string DecodeDocument(std::string bytes, const TDocumentForm& form)
{
    std::string text = ToUtf8(std::move(bytes), form.Encoding);
    EndLinesWithLf(text);
    return text;
}

namespace {

const std::string_view ReplacementChar = "\xEF\xBF\xBD";

// Control characters that plain text has: tab, LF, CR, form feed, and 0x1A, which old editors
// wrote at the end of a file. Any other byte below 0x20 (NUL included) marks binary data. Every
// such byte is a whole character in UTF-8 and in Shift-JIS alike, so the bytes are checked as
// they are.
bool HoldsForeignControls(std::string_view bytes)
{
    const auto foreign = [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f' && b != 0x1A;
    };
    // Eight bytes at a time: a document is tens of megabytes at most, and is checked at every
    // open. Only a word that holds some byte below 0x20 (a line end, mostly) is looked at closely.
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    std::size_t pos = 0;
    for (; pos + 8 <= bytes.size(); pos += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + pos, sizeof word);
        if (((word - ones * 0x20) & ~word & highs) == 0) continue;
        for (std::size_t i = pos; i < pos + 8; ++i)
            if (foreign(bytes[i])) return true;
    }
    for (; pos < bytes.size(); ++pos)
        if (foreign(bytes[pos])) return true;
    return false;
}

bool StartsWithCrLf(std::string_view bytes)
{
    const std::size_t end = bytes.find_first_of("\r\n");
    return end != std::string_view::npos && bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n';
}

}  // namespace

std::optional<TDocumentForm> DocumentFormOf(std::string_view bytes)
{
    if (bytes.empty()) return std::nullopt;
    // RTF is taken as its reader takes it: rich-edit controls end their files with a NUL.
    if (LooksLikeRtf(bytes)) return TDocumentForm{TDocumentEncoding::Rtf, false};
    if (HoldsForeignControls(bytes)) return std::nullopt;
    const bool crlf = StartsWithCrLf(bytes);
    // A byte-order mark says UTF-8 however the rest reads (DecodeDocument shows a damaged byte as
    // U+FFFD), so such a file always opens.
    if (bytes.substr(0, Utf8Bom.size()) == Utf8Bom) return TDocumentForm{TDocumentEncoding::Utf8WithBom, crlf};
    if (IsValidUtf8(bytes)) return TDocumentForm{TDocumentEncoding::Utf8, crlf};
    // Shift-JIS gives U+FFFD only for a byte it cannot decode.
    if (Cp932ToUtf8(bytes).find(ReplacementChar) == std::string::npos)
        return TDocumentForm{TDocumentEncoding::ShiftJis, crlf};
    return std::nullopt;
}

bool FitsShiftJis(std::string_view utf8) { return Cp932ToUtf8(Utf8ToCp932(utf8)) == utf8; }

std::string EncodeDocument(std::string_view utf8, const TDocumentForm& form)
{
    if (!form.PlainText()) return WriteRtf(utf8);
    std::string text;
    text.reserve(utf8.size() + 4);
    if (form.Encoding == TDocumentEncoding::Utf8WithBom) text += Utf8Bom;
    const std::string_view lineEnd = form.CrLf ? "\r\n" : "\n";
    for (const char c : utf8) {
        if (c == '\n')
            text += lineEnd;
        else
            text += c;
    }
    text += lineEnd;
    if (form.Encoding == TDocumentEncoding::ShiftJis) return Utf8ToCp932(text);
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

std::string ReadDocumentBytes(const std::string& path, TDocumentForm* form)
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
    // Room for the size the file says it has (within the bound) and a byte more, to see its end:
    // read straight into place, a large document is neither copied nor grown on the way.
    const auto expected = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
    bytes.reserve(std::min(expected, MaxRtfDocumentBytes()) + 1);
    // Past the reserved room (a file that grew meanwhile), a megabyte more at a time.
    constexpr std::size_t step = 1 << 20;
    for (;;) {
        const std::size_t size = bytes.size();
        bytes.resize(size + (bytes.capacity() > size ? bytes.capacity() - size : step));
        const ssize_t got = read(fd, bytes.data() + size, bytes.size() - size);
        bytes.resize(size + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw Exception(message);
        if (got == 0) break;
        // Refused as soon as it is known to be too large, so a huge file is never read whole.
        if (DocumentTooLarge(bytes)) throw Exception("ファイルが大きすぎて読み込めません: " + path);
    }
    if (bytes.empty()) throw Exception("ファイルが空なので読み込めません: " + path);
    const std::optional<TDocumentForm> read = DocumentFormOf(bytes);
    if (!read) throw Exception("テキストファイルではないので読み込めません: " + path);
    if (form != nullptr) *form = *read;
    return bytes;
}

std::string ReadDocumentText(const std::string& path)
{
    TDocumentForm form;
    std::string bytes = ReadDocumentBytes(path, &form);
    return DecodeDocument(std::move(bytes), form);
}

std::vector<std::string> ReadDocumentLines(const std::string& path) { return SplitLines(ReadDocumentText(path)); }
