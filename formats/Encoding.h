// Conversion between the editor's Unicode (held as UTF-8) and the Shift-JIS (CP932) bytes that
// the MML language and the program's older documents are defined over.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Every character without a CP932 form, and every byte that is not valid UTF-8, becomes '?'
// (0x3F): outside a comment the compiler then rejects it as an undefined command, inside one it
// is harmless. Nothing is dropped, so byte offsets stay meaningful for line counting.
std::string Utf8ToCp932(std::string_view utf8);
// The same, with every line end (CR LF, LF or a lone CR) written as CR LF and a CR LF after a last
// line that has none: the form the compiler reads, made in one pass.
std::string Utf8ToCp932Lines(std::string_view utf8);

// Bytes that are not valid CP932 become U+FFFD, one per undecodable byte.
std::string Cp932ToUtf8(std::string_view cp932);

bool IsValidUtf8(std::string_view bytes);

// Reads the character at the front of bytes as strict UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF). Returns its length in bytes, or 0 when the bytes there are not valid.
std::size_t DecodeUtf8Char(std::string_view bytes, char32_t& codePoint);

// Appends codePoint as UTF-8; surrogates and values above U+10FFFF are appended as U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);

// Decodes bytes in a Windows code page (932, the 125x pages and the other pages RTF writers name);
// a page this program does not know is read as 1252. Undecodable bytes become U+FFFD.
std::string CodePageToUtf8(int codePage, std::string_view bytes);
