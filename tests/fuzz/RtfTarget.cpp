// The RTF reader over any bytes, and the writer: what the reader makes is valid UTF-8, and the
// writer's document reads back as the text it was written from.
#include <string>

#include "formats/Document.h"
#include "formats/Encoding.h"
#include "tests/fuzz/FuzzTargets.h"
#include "formats/Rtf.h"

namespace {

// Writing text and reading it back gives the text, when its line ends are LF (the writer turns
// CR LF and CR into paragraph marks, which read back as LF; the reader itself makes a CR of
// \u13 or \'0d). Opening the written file as a document gives the same lines.
void CheckRoundTrip(const std::string& text, std::string_view bytes)
{
    if (text.find('\r') != std::string::npos) return;
    const std::string rtf = WriteRtf(text);
    FuzzCheck(LooksLikeRtf(rtf), "the writer's document does not look like RTF", bytes);
    FuzzCheck(ReadRtf(rtf) == text, "a written document reads back different", bytes);
    std::string lines;
    for (const std::string& line : SplitLines(text)) lines += line + '\n';
    FuzzCheck(DecodeDocument(rtf) == lines, "a written document opens with different lines", bytes);
}

}  // namespace

void FuzzRtf(std::string_view bytes)
{
    // LooksLikeRtf decides only how a document is opened; the reader takes any bytes.
    const bool looksLikeRtf = LooksLikeRtf(bytes);
    const std::string text = ReadRtf(bytes);
    FuzzCheck(IsValidUtf8(text), "the reader made text that is not UTF-8", bytes);
    CheckRoundTrip(text, bytes);
    // The bytes themselves as text: the writer takes whatever the editor holds.
    if (!looksLikeRtf && IsValidUtf8(bytes)) CheckRoundTrip(std::string(bytes), bytes);
}
