// Reading and writing documents as RTF, the form the program's earlier versions saved from their
// rich-edit control. Only the text matters: formatting is read past and never written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// True when bytes start with "{\rtf", after any spaces, tabs and line ends.
bool LooksLikeRtf(std::string_view bytes);

// The text a rich-edit control shows after loading rtf, as UTF-8 with LF line ends: \par and
// \line end lines, \tab is a tab, \'hh bytes are decoded in the code page of the current font
// (its \cpg or \fcharset) or else of the document (\ansicpg, 1252 when absent), \uN characters
// replace their \ucN fallbacks (a \binN with its data counts as one, a group's end stops the
// skipping), ignorable destinations (fonts, colours, styles, document information, pictures,
// field instructions, {\* ...} groups) are skipped, and of \upr only its Unicode part \ud is
// read. Like the control, the document's last paragraph mark is not part of the text: "a\par}"
// reads as "a", "a\par\par}" as "a\n". Any input is accepted; what cannot be read is skipped or
// shown as U+FFFD.
std::string ReadRtf(std::string_view rtf);

// An RTF document holding utf8Text in the form the program has always saved: code page 932 with
// one Shift-JIS font, characters Shift-JIS can hold as \'hh bytes, the others as \uN with a '?'
// fallback, each line end (CR LF, LF or CR) as \par, and the closing paragraph mark that a
// rich-edit control always writes. ReadRtf gives back utf8Text exactly when its line ends are LF.
std::string WriteRtf(std::string_view utf8Text);

// The most RTF bytes WriteRtf writes for one byte of text, beyond the frame it writes for an empty
// one: a DEL becomes "\u127?", a line end "\par" and a line break, an invalid byte "\u-3?".
inline constexpr std::size_t RtfMaxBytesPerTextByte = 6;
