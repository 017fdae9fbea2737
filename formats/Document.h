// Reading documents: an RTF file, or failing that plain text in UTF-8, or failing that Shift-JIS.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Splits text into lines: CR LF, LF or a lone CR ends a line; a final line end starts no further
// line, and an empty text has no lines.
std::vector<std::string> SplitLines(std::string_view text);

// The text a document holds, as UTF-8 with LF line ends. RTF is recognised by its "{\rtf" start
// (leading blanks allowed); anything else is plain text, UTF-8 when it is valid UTF-8 (a leading
// byte-order mark is dropped) and Shift-JIS otherwise.
std::string DecodeDocument(std::string_view bytes);

// How a document's bytes hold its text, so that saving can write it back the way it was read.
enum class TDocumentEncoding {
    Rtf,
    Utf8,
    Utf8WithBom,
    ShiftJis,
};

struct TDocumentForm {
    TDocumentEncoding Encoding = TDocumentEncoding::Rtf;
    // Plain text whose first line ended with CR LF is written with CR LF again.
    bool CrLf = false;

    bool PlainText() const { return Encoding != TDocumentEncoding::Rtf; }
    bool operator==(const TDocumentForm&) const = default;
};

// How DecodeDocument will read these bytes, or nothing when they are no text at all: empty, or
// (unless RTF) holding a NUL byte, or valid neither as UTF-8 nor as Shift-JIS, or holding a control character
// that no text file has (anything below 0x20 but tab, LF, CR, form feed and the old end-of-file
// mark 0x1A). A sound, a picture or a program is refused here rather than shown as garbage.
std::optional<TDocumentForm> DocumentFormOf(std::string_view bytes);

// DecodeDocument for bytes whose form DocumentFormOf (or ReadDocumentBytes) has found: nothing is
// asked of them again, and UTF-8 text keeps the bytes' own buffer, so a large document is neither
// checked twice nor copied.
std::string DecodeDocument(std::string bytes, const TDocumentForm& form);

// Whether Shift-JIS holds every character of this UTF-8 text, so that it reads back unchanged.
bool FitsShiftJis(std::string_view utf8);

// The bytes of a document holding this text (UTF-8, LF line ends) in the given form. Plain text
// gets a line end after its last line: the editor shows none there, and reading drops one.
std::string EncodeDocument(std::string_view utf8, const TDocumentForm& form);

// The largest document read. A piece is text, and the longest real ones are a few hundred
// kilobytes; anything far beyond that is not a document, and reading it whole could exhaust memory.
inline constexpr std::size_t MaxDocumentBytes = 64 * 1024 * 1024;

// The largest RTF document read: what WriteRtf makes of the largest text, so that every text the
// program reads, and so may save, opens again.
std::size_t MaxRtfDocumentBytes();

// Whether a document whose first bytes (everything read so far) are these is over its bound:
// MaxRtfDocumentBytes for RTF, MaxDocumentBytes for anything else. Readers that read in pieces ask
// after each piece, so a huge file is refused without being read whole.
bool DocumentTooLarge(std::string_view bytesSoFar);

// Reads a document file's bytes. Raises Exception with a Japanese message naming the file when it
// cannot be read, is not a regular file (a FIFO or a device would block or never end; it is
// refused before it is opened), is over its bound, is empty, or is no text (DocumentFormOf).
// With form, also says how the file holds its text, as DocumentFormOf does.
std::string ReadDocumentBytes(const std::string& path, TDocumentForm* form = nullptr);

// ReadDocumentBytes, decoded: the text as DecodeDocument gives it (UTF-8, every line ended by LF).
std::string ReadDocumentText(const std::string& path);

// ReadDocumentText split into lines.
std::vector<std::string> ReadDocumentLines(const std::string& path);
