// Reading documents: an RTF file, or failing that plain text in UTF-8, or failing that Shift-JIS.
#pragma once

#include <cstddef>
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
// refused before it is opened), or is over its bound.
std::string ReadDocumentBytes(const std::string& path);

// ReadDocumentBytes, decoded: the text as DecodeDocument gives it (UTF-8, every line ended by LF).
std::string ReadDocumentText(const std::string& path);

// ReadDocumentText split into lines.
std::vector<std::string> ReadDocumentLines(const std::string& path);
