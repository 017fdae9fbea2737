// Plain-text documents over any bytes: the decoded text is valid UTF-8 in lines ended by LF, and
// the conversions between UTF-8 and Shift-JIS keep to their rules.
#include <algorithm>
#include <string>

#include "formats/Document.h"
#include "formats/Encoding.h"
#include "tests/fuzz/FuzzTargets.h"

namespace {

bool IsAscii(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void CheckDocument(std::string_view bytes)
{
    const std::string text = DecodeDocument(bytes);
    FuzzCheck(IsValidUtf8(text), "a decoded document is not UTF-8", bytes);
    FuzzCheck(text.empty() || text.back() == '\n', "a decoded document's last line has no LF", bytes);
    FuzzCheck(text.find('\r') == std::string::npos, "a decoded document holds a CR", bytes);
    // Its lines are exactly what SplitLines makes of it, one per LF.
    const auto lines = SplitLines(text);
    FuzzCheck(lines.size() == static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')),
              "a decoded document splits into other lines than its LFs", bytes);
    std::string joined;
    for (const std::string& line : lines) joined += line + '\n';
    FuzzCheck(joined == text, "splitting a decoded document loses text", bytes);
}

void CheckSplitLines(std::string_view bytes)
{
    // Every byte but the line ends is kept, in order; no line holds a line end.
    std::string kept;
    for (const std::string& line : SplitLines(bytes)) {
        FuzzCheck(line.find_first_of("\r\n") == std::string::npos, "a split line holds a line end", bytes);
        kept += line;
    }
    std::string expected(bytes);
    expected.erase(std::remove_if(expected.begin(), expected.end(), [](char c) { return c == '\r' || c == '\n'; }),
                   expected.end());
    FuzzCheck(kept == expected, "splitting lines lost or changed a byte", bytes);
}

void CheckConversions(std::string_view bytes)
{
    const std::string utf8 = Cp932ToUtf8(bytes);
    FuzzCheck(IsValidUtf8(utf8), "Shift-JIS decoded to text that is not UTF-8", bytes);
    if (IsAscii(bytes)) FuzzCheck(utf8 == bytes, "ASCII changed in Shift-JIS decoding", bytes);

    // A character becomes at most two Shift-JIS bytes and is at least that long in UTF-8 unless
    // it is ASCII; a byte that is not UTF-8 becomes one '?'. So the text never grows.
    const std::string sjis = Utf8ToCp932(bytes);
    FuzzCheck(sjis.size() <= bytes.size(), "encoding to Shift-JIS made the text longer", bytes);
    if (IsAscii(bytes)) FuzzCheck(sjis == bytes, "ASCII changed in Shift-JIS encoding", bytes);
    // A zero byte ends the compiler's text: the encoder may only pass through those it was given.
    FuzzCheck(std::count(sjis.begin(), sjis.end(), '\0') == std::count(bytes.begin(), bytes.end(), '\0'),
              "encoding to Shift-JIS made or lost a zero byte", bytes);
    // Whatever went through Shift-JIS once comes back unchanged from a second trip.
    const std::string once = Cp932ToUtf8(sjis);
    FuzzCheck(IsValidUtf8(once), "a Shift-JIS round trip made text that is not UTF-8", bytes);
    FuzzCheck(Utf8ToCp932(once) == sjis, "a second Shift-JIS round trip changed the bytes", bytes);
}

}  // namespace

void FuzzDecode(std::string_view bytes)
{
    CheckDocument(bytes);
    CheckSplitLines(bytes);
    CheckConversions(bytes);
}
