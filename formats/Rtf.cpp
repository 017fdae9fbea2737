#include "formats/Rtf.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "formats/Chars.h"
#include "formats/Encoding.h"

namespace {

// Real documents nest groups a few dozen deep at most. Groups opened beyond this are skipped
// whole, which keeps the state stack (and so memory) bounded whatever the input.
constexpr std::size_t kMaxDepth = 512;

// A control word's name is at most 32 letters; longer runs of letters are still read past but
// match nothing.
constexpr std::size_t kMaxWordLength = 32;

// Control word parameters are clamped to this magnitude while they are read, so that runs of
// digits of any length cannot overflow.
constexpr std::int64_t kParamLimit = 10'000'000'000;

constexpr char32_t kReplacement = 0xFFFD;

// The code page of a font's \fcharset, or 0 when the font follows the document's \ansicpg
// (ANSI, DEFAULT and SYMBOL, and anything unknown).
int CharsetCodePage(std::int64_t charset)
{
    switch (charset) {
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return 0;
    }
}

enum class Word {
    Skip,      // starts a destination whose text is not shown
    Upr,       // holds the same text twice: for readers without Unicode, and in its \ud part
    Ud,        // the Unicode part of \upr
    FontTable, // starts the font table, read for the fonts' code pages
    Font,
    Charset,
    FontCodePage,
    DefaultFont,
    Plain,
    Ansi,
    AnsiCodePage,
    Mac,
    Pc,
    Pca,
    UnicodeSkip,
    Unicode,
    Binary,
    Paragraph,
    LineBreak,
    Tab,
    Char, // a character of its own, given in the table
};

struct WordInfo {
    Word kind;
    char32_t ch = 0;
};

const WordInfo* FindWord(std::string_view name)
{
    static const std::unordered_map<std::string_view, WordInfo> words = {
        // Destinations a rich-edit control does not show as text.
        {"fonttbl", {Word::FontTable}},
        {"colortbl", {Word::Skip}},
        {"stylesheet", {Word::Skip}},
        {"info", {Word::Skip}},
        {"pict", {Word::Skip}},
        {"object", {Word::Skip}},
        {"header", {Word::Skip}},
        {"headerl", {Word::Skip}},
        {"headerr", {Word::Skip}},
        {"headerf", {Word::Skip}},
        {"footer", {Word::Skip}},
        {"footerl", {Word::Skip}},
        {"footerr", {Word::Skip}},
        {"footerf", {Word::Skip}},
        {"footnote", {Word::Skip}},
        {"ftnsep", {Word::Skip}},
        {"ftnsepc", {Word::Skip}},
        {"ftncn", {Word::Skip}},
        {"aftnsep", {Word::Skip}},
        {"aftnsepc", {Word::Skip}},
        {"aftncn", {Word::Skip}},
        {"annotation", {Word::Skip}},
        {"atnid", {Word::Skip}},
        {"atnauthor", {Word::Skip}},
        {"listtable", {Word::Skip}},
        {"listoverridetable", {Word::Skip}},
        {"revtbl", {Word::Skip}},
        {"rsidtbl", {Word::Skip}},
        {"filetbl", {Word::Skip}},
        {"generator", {Word::Skip}},
        {"xmlnstbl", {Word::Skip}},
        {"themedata", {Word::Skip}},
        {"colorschememapping", {Word::Skip}},
        {"datastore", {Word::Skip}},
        {"latentstyles", {Word::Skip}},
        {"pgdsctbl", {Word::Skip}},
        {"fldinst", {Word::Skip}},
        {"bkmkstart", {Word::Skip}},
        {"bkmkend", {Word::Skip}},
        // Numbering text is a fallback for readers that do not number paragraphs themselves.
        {"pntext", {Word::Skip}},
        {"pntxta", {Word::Skip}},
        {"pntxtb", {Word::Skip}},
        {"listtext", {Word::Skip}},
        {"nonshppict", {Word::Skip}},
        {"shpinst", {Word::Skip}},
        {"userprops", {Word::Skip}},
        {"docvar", {Word::Skip}},
        {"template", {Word::Skip}},
        {"xe", {Word::Skip}},
        {"tc", {Word::Skip}},
        {"txe", {Word::Skip}},
        // Plain paragraphs standing in for nested tables, for readers that do not know them.
        {"nonesttables", {Word::Skip}},
        {"upr", {Word::Upr}},
        {"ud", {Word::Ud}},
        // Fonts and code pages.
        {"f", {Word::Font}},
        {"fcharset", {Word::Charset}},
        {"cpg", {Word::FontCodePage}},
        {"deff", {Word::DefaultFont}},
        {"plain", {Word::Plain}},
        {"ansi", {Word::Ansi}},
        {"ansicpg", {Word::AnsiCodePage}},
        {"mac", {Word::Mac}},
        {"pc", {Word::Pc}},
        {"pca", {Word::Pca}},
        // Unicode and binary data.
        {"uc", {Word::UnicodeSkip}},
        {"u", {Word::Unicode}},
        {"bin", {Word::Binary}},
        // Text.
        {"par", {Word::Paragraph}},
        {"row", {Word::Paragraph}},
        {"line", {Word::LineBreak}},
        {"tab", {Word::Tab}},
        {"cell", {Word::Tab}},
        {"emdash", {Word::Char, 0x2014}},
        {"endash", {Word::Char, 0x2013}},
        {"emspace", {Word::Char, 0x2003}},
        {"enspace", {Word::Char, 0x2002}},
        {"qmspace", {Word::Char, 0x2005}},
        {"bullet", {Word::Char, 0x2022}},
        {"lquote", {Word::Char, 0x2018}},
        {"rquote", {Word::Char, 0x2019}},
        {"ldblquote", {Word::Char, 0x201C}},
        {"rdblquote", {Word::Char, 0x201D}},
        {"zwj", {Word::Char, 0x200D}},
        {"zwnj", {Word::Char, 0x200C}},
        {"ltrmark", {Word::Char, 0x200E}},
        {"rtlmark", {Word::Char, 0x200F}},
    };
    const auto it = words.find(name);
    return it == words.end() ? nullptr : &it->second;
}

enum class Destination { Text, Skip, FontTable };

// What a group changes and its closing brace restores.
struct GroupState {
    Destination destination = Destination::Text;
    // Inside \upr: the destination its \ud part returns to. Only the \ud part is read, so the
    // text is neither lost nor shown twice.
    bool inUpr = false;
    Destination uprDestination = Destination::Text;
    std::int64_t fallbackLength = 1; // \ucN: characters standing in for each \uN
    std::int64_t font = -1;          // \fN; -1 for the document's default font
};

class RtfReader {
public:
    explicit RtfReader(std::string_view rtf) : in_(rtf) {}

    std::string Read()
    {
        while (pos_ < in_.size()) {
            const char c = in_[pos_++];
            if (c == '{') {
                OpenGroup();
            } else if (c == '}') {
                if (!CloseGroup()) break; // the document's own group has closed
            } else if (groups_.empty() && overflow_ == 0) {
                // Outside the document's group (blanks before it): nothing to read.
            } else if (c == '\\') {
                ControlSequence();
            } else if (c == '\r' || c == '\n') {
                // Line ends in RTF source are not text.
            } else if (overflow_ > 0) {
                // Inside a group nested too deep: skipped.
            } else if (fallbackLeft_ > 0) {
                --fallbackLeft_;
            } else if (c != '\0') {
                TextByte(c);
            }
        }
        FlushBytes();
        FlushSurrogate();
        // A paragraph mark still pending here is the document's last one, which the control
        // takes as its own closing mark rather than as a line end.
        return std::move(out_);
    }

private:
    void OpenGroup()
    {
        fallbackLeft_ = 0;
        if (overflow_ > 0 || groups_.size() >= kMaxDepth) {
            ++overflow_;
            return;
        }
        groups_.push_back(state_);
    }

    // Returns false when the brace closes the document's outermost group.
    bool CloseGroup()
    {
        fallbackLeft_ = 0;
        if (overflow_ > 0) {
            --overflow_;
            return true;
        }
        if (groups_.empty()) return true; // a stray brace before the document starts
        state_ = groups_.back();
        groups_.pop_back();
        return !groups_.empty();
    }

    void ControlSequence()
    {
        if (pos_ >= in_.size()) return; // a lone backslash at the very end
        const char c = in_[pos_];
        if (IsAsciiLetter(c)) {
            ControlWord();
            return;
        }
        ++pos_;
        if (c == '\'') {
            int value = -1;
            if (pos_ + 1 < in_.size()) {
                const int hi = HexValue(in_[pos_]);
                const int lo = HexValue(in_[pos_ + 1]);
                if (hi >= 0 && lo >= 0) {
                    value = hi * 16 + lo;
                    pos_ += 2;
                }
            }
            if (overflow_ > 0) return;
            if (fallbackLeft_ > 0) {
                --fallbackLeft_;
                return;
            }
            if (value >= 0) TextByte(static_cast<char>(value));
            return;
        }
        if (overflow_ > 0) return;
        if (fallbackLeft_ > 0) {
            --fallbackLeft_;
            return;
        }
        switch (c) {
        case '\\':
        case '{':
        case '}':
            TextByte(c);
            break;
        case '*':
            // Marks a destination that a reader not knowing it must skip; none of those is text.
            state_.destination = Destination::Skip;
            break;
        case '~':
            Character(0x00A0);
            break;
        case '_':
            Character(0x2011);
            break;
        case '\t':
            Character('\t');
            break;
        case '\r':
        case '\n':
            // A backslash before a line end in the source is an old way of writing \par.
            Paragraph();
            break;
        default:
            // \- (optional hyphen), \| and \: (formula and index marks) and unknown symbols show
            // nothing.
            break;
        }
    }

    void ControlWord()
    {
        const std::size_t nameStart = pos_;
        while (pos_ < in_.size() && IsAsciiLetter(in_[pos_])) ++pos_;
        const std::string_view name = in_.substr(nameStart, pos_ - nameStart);

        bool hasParam = false;
        std::int64_t param = 0;
        bool negative = false;
        if (pos_ + 1 < in_.size() && in_[pos_] == '-' && IsAsciiDigit(in_[pos_ + 1])) {
            negative = true;
            ++pos_;
        }
        while (pos_ < in_.size() && IsAsciiDigit(in_[pos_])) {
            hasParam = true;
            param = std::min(param * 10 + (in_[pos_] - '0'), kParamLimit);
            ++pos_;
        }
        if (negative) param = -param;
        if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_; // the delimiting space is part of the word

        const WordInfo* info = name.size() <= kMaxWordLength ? FindWord(name) : nullptr;
        if (info && info->kind == Word::Binary) {
            // \binN is followed by N raw bytes, which may hold anything, braces included.
            const auto available = static_cast<std::int64_t>(in_.size() - pos_);
            pos_ += static_cast<std::size_t>(std::clamp<std::int64_t>(param, 0, available));
        }
        if (overflow_ > 0) return;
        if (fallbackLeft_ > 0) {
            // A control word standing in as (part of) the fallback for a \uN is skipped with it.
            --fallbackLeft_;
            return;
        }
        if (!info) return;

        if (info->kind == Word::Skip) {
            state_.destination = Destination::Skip;
            return;
        }
        if (info->kind == Word::Upr) {
            state_.inUpr = true;
            state_.uprDestination = state_.destination;
            state_.destination = Destination::Skip;
            return;
        }
        if (info->kind == Word::Ud) {
            // Written as {\*\ud ...}, so it arrives marked as skipped; outside \upr it stays so.
            if (state_.inUpr) state_.destination = state_.uprDestination;
            return;
        }
        if (info->kind == Word::FontTable) {
            if (state_.destination == Destination::Text) state_.destination = Destination::FontTable;
            return;
        }
        if (state_.destination == Destination::FontTable) {
            FontTableWord(info->kind, hasParam, param);
            return;
        }
        if (state_.destination == Destination::Skip) return;

        switch (info->kind) {
        case Word::Font:
            if (hasParam) state_.font = param;
            break;
        case Word::DefaultFont:
            if (hasParam) defaultFont_ = param;
            break;
        case Word::Plain:
            state_.font = -1;
            break;
        case Word::Ansi:
            ansiCodePage_ = 1252;
            break;
        case Word::AnsiCodePage:
            if (hasParam && param > 0) ansiCodePage_ = static_cast<int>(param);
            break;
        case Word::Mac:
            ansiCodePage_ = 10000;
            break;
        case Word::Pc:
            ansiCodePage_ = 437;
            break;
        case Word::Pca:
            ansiCodePage_ = 850;
            break;
        case Word::UnicodeSkip:
            if (hasParam) state_.fallbackLength = std::max<std::int64_t>(param, 0);
            break;
        case Word::Unicode:
            if (hasParam) {
                UnicodeUnit(param);
                fallbackLeft_ = state_.fallbackLength;
            }
            break;
        case Word::Paragraph:
            Paragraph();
            break;
        case Word::LineBreak:
            Character('\n');
            break;
        case Word::Tab:
            Character('\t');
            break;
        case Word::Char:
            Character(info->ch);
            break;
        default:
            break;
        }
    }

    void FontTableWord(Word kind, bool hasParam, std::int64_t param)
    {
        if (!hasParam) return;
        switch (kind) {
        case Word::Font:
            definingFont_ = param;
            break;
        case Word::Charset:
            // An explicit \cpg given before the charset wins.
            if (definingFont_ >= 0 && !fontCodePages_.contains(definingFont_))
                fontCodePages_[definingFont_] = CharsetCodePage(param);
            break;
        case Word::FontCodePage:
            if (definingFont_ >= 0 && param > 0 && param < 100000)
                fontCodePages_[definingFont_] = static_cast<int>(param);
            break;
        default:
            break;
        }
    }

    int CodePage() const
    {
        const std::int64_t font = state_.font < 0 ? defaultFont_ : state_.font;
        const auto it = fontCodePages_.find(font);
        if (it != fontCodePages_.end() && it->second != 0) return it->second;
        return ansiCodePage_;
    }

    // A \uN value: a UTF-16 unit, written signed when above 32767. Writers that put a whole
    // code point above U+FFFF in one \uN are taken at their word.
    void UnicodeUnit(std::int64_t value)
    {
        if (state_.destination != Destination::Text) return;
        if (value < -32768 || value > 0x10FFFF) {
            Character(kReplacement);
            return;
        }
        if (value < 0) value += 65536;
        if (value >= 0xD800 && value <= 0xDBFF) {
            BeginOutput();
            highSurrogate_ = static_cast<char32_t>(value);
        } else if (value >= 0xDC00 && value <= 0xDFFF) {
            if (highSurrogate_ != 0) {
                const char32_t cp = 0x10000 + ((highSurrogate_ - 0xD800) << 10) +
                                    (static_cast<char32_t>(value) - 0xDC00);
                highSurrogate_ = 0;
                Character(cp);
            } else {
                Character(kReplacement);
            }
        } else {
            Character(static_cast<char32_t>(value));
        }
    }

    // Bytes of text are gathered and decoded together, so that a Shift-JIS character written as
    // two \'hh escapes (or as raw bytes) comes out whole.
    void TextByte(char byte)
    {
        if (state_.destination != Destination::Text) return;
        const int codePage = CodePage();
        if (!bytes_.empty() && codePage != bytesCodePage_) FlushBytes();
        if (bytes_.empty()) {
            FlushParagraph();
            FlushSurrogate();
        }
        bytes_ += byte;
        bytesCodePage_ = codePage;
    }

    void Character(char32_t cp)
    {
        if (state_.destination != Destination::Text) return;
        BeginOutput();
        AppendUtf8(out_, cp);
    }

    void Paragraph()
    {
        if (state_.destination != Destination::Text) return;
        BeginOutput();
        pendingParagraph_ = true;
    }

    // Writes out everything that waits for what comes next: decoded bytes, a high surrogate whose
    // partner never came, and the line end of the previous paragraph mark.
    void BeginOutput()
    {
        FlushBytes();
        FlushSurrogate();
        FlushParagraph();
    }

    void FlushBytes()
    {
        if (bytes_.empty()) return;
        out_ += CodePageToUtf8(bytesCodePage_, bytes_);
        bytes_.clear();
    }

    void FlushSurrogate()
    {
        if (highSurrogate_ == 0) return;
        highSurrogate_ = 0;
        AppendUtf8(out_, kReplacement);
    }

    void FlushParagraph()
    {
        if (!pendingParagraph_) return;
        pendingParagraph_ = false;
        out_ += '\n';
    }

    std::string_view in_;
    std::size_t pos_ = 0;

    GroupState state_;
    std::vector<GroupState> groups_;
    std::size_t overflow_ = 0; // groups open beyond kMaxDepth
    std::int64_t fallbackLeft_ = 0;

    int ansiCodePage_ = 1252;
    std::int64_t defaultFont_ = 0;
    std::int64_t definingFont_ = -1;
    std::unordered_map<std::int64_t, int> fontCodePages_;

    std::string out_;
    std::string bytes_;
    int bytesCodePage_ = 0;
    char32_t highSurrogate_ = 0;
    bool pendingParagraph_ = false;
};

// How the writer puts one character other than ASCII: as its Shift-JIS bytes when those read back
// as the same character, else as \uN. Many characters share a Shift-JIS form with another one
// (U+301C and U+FF5E both become 81 60, U+00A5 becomes 5C); writing those as bytes would change
// them on the way back.
std::string EscapeCharacter(char32_t cp)
{
    std::string utf8;
    AppendUtf8(utf8, cp);
    const std::string sjis = Utf8ToCp932(utf8);
    std::string rtf;
    if (sjis != "?" && (static_cast<unsigned char>(sjis[0]) & 0x80) && Cp932ToUtf8(sjis) == utf8) {
        static constexpr char kHex[] = "0123456789abcdef";
        for (char c : sjis) {
            const auto b = static_cast<unsigned char>(c);
            rtf += "\\'";
            rtf += kHex[b >> 4];
            rtf += kHex[b & 0x0F];
        }
        return rtf;
    }
    auto unit = [&rtf](std::uint32_t u) {
        const auto value = static_cast<std::int32_t>(u);
        rtf += "\\u" + std::to_string(value > 32767 ? value - 65536 : value) + "?";
    };
    if (cp >= 0x10000) {
        unit(0xD800 + ((cp - 0x10000) >> 10));
        unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        unit(cp);
    }
    return rtf;
}

} // namespace

bool LooksLikeRtf(std::string_view bytes)
{
    const std::size_t start = bytes.find_first_not_of(" \t\r\n");
    return start != std::string_view::npos && bytes.substr(start, 5) == "{\\rtf";
}

std::string ReadRtf(std::string_view rtf)
{
    return RtfReader(rtf).Read();
}

std::string WriteRtf(std::string_view utf8Text)
{
    std::string rtf =
        "{\\rtf1\\ansi\\ansicpg932\\deff0{\\fonttbl{\\f0\\fmodern\\fcharset128 MS Gothic;}}\n"
        "\\viewkind4\\uc1\\pard\\f0\\fs20 ";
    rtf.reserve(rtf.size() + utf8Text.size() * 2 + 16);
    // Documents repeat the same few hundred characters; each is looked up in Shift-JIS once.
    std::unordered_map<char32_t, std::string> escapes;
    std::size_t pos = 0;
    while (pos < utf8Text.size()) {
        char32_t cp = 0;
        std::size_t len = DecodeUtf8Char(utf8Text.substr(pos), cp);
        if (len == 0) {
            cp = kReplacement;
            len = 1;
        }
        pos += len;
        switch (cp) {
        case '\r':
            if (pos < utf8Text.size() && utf8Text[pos] == '\n') ++pos;
            [[fallthrough]];
        case '\n':
            rtf += "\\par\n";
            continue;
        case '\t':
            rtf += "\\tab ";
            continue;
        case '\\':
        case '{':
        case '}':
            rtf += '\\';
            rtf += static_cast<char>(cp);
            continue;
        default:
            break;
        }
        if (cp >= 0x20 && cp < 0x7F) {
            rtf += static_cast<char>(cp);
            continue;
        }
        // Control characters too go as \uN: raw ones would be lost as RTF source layout.
        auto it = escapes.find(cp);
        if (it == escapes.end()) it = escapes.emplace(cp, EscapeCharacter(cp)).first;
        rtf += it->second;
    }
    rtf += "\\par\n}";
    return rtf;
}
