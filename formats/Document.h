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

// Reads a file and returns its lines (UTF-8). Raises Exception with a Japanese message naming the
// file when it cannot be read or is larger than MaxDocumentBytes.
std::vector<std::string> ReadDocumentLines(const std::string& path);
