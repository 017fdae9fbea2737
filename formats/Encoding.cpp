#include "Encoding.h"

#include <iconv.h>

#include <cerrno>
#include <map>
#include <string>
#include <utility>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// iconv descriptors are costly to open and not safe to share between threads, so each thread
// keeps the few it has used. A conversion the C library does not offer is remembered as such.
class IconvCache {
public:
    IconvCache() = default;
    IconvCache(const IconvCache&) = delete;
    IconvCache& operator=(const IconvCache&) = delete;
    ~IconvCache()
    {
        for (auto& [names, cd] : open_) {
            if (cd != Invalid()) iconv_close(cd);
        }
    }

    // Returns the descriptor in its initial state, or Invalid() when the conversion is unknown.
    iconv_t Get(const char* to, const char* from)
    {
        auto key = std::make_pair(std::string(to), std::string(from));
        auto it = open_.find(key);
        if (it == open_.end()) it = open_.emplace(std::move(key), iconv_open(to, from)).first;
        if (it->second != Invalid()) iconv(it->second, nullptr, nullptr, nullptr, nullptr);
        return it->second;
    }

    static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }

private:
    std::map<std::pair<std::string, std::string>, iconv_t> open_;
};

iconv_t Descriptor(const char* to, const char* from)
{
    thread_local IconvCache cache;
    return cache.Get(to, from);
}

// Converts in with one bulk iconv call per stretch of convertible input. Where iconv stops at a
// sequence it cannot take (EILSEQ, or EINVAL for one cut off at the end), onError appends what
// stands for it and returns how many input bytes that covers (at least one); iconv then resumes.
template <class OnError>
void Convert(iconv_t cd, std::string_view in, std::string& out, std::size_t roomPerByte,
             OnError onError)
{
    if (in.empty()) return;
    // iconv's prototype takes a non-const input pointer but never writes through it.
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    std::size_t used = out.size();
    out.resize(used + srcLeft * roomPerByte + 16);
    while (srcLeft > 0) {
        char* dst = out.data() + used;
        std::size_t dstLeft = out.size() - used;
        const std::size_t result = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        used = static_cast<std::size_t>(dst - out.data());
        if (result != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() + srcLeft * roomPerByte + 16);
            continue;
        }
        // EILSEQ, EINVAL, or anything unforeseen: hand the stuck bytes to the caller, so the
        // loop always moves on.
        out.resize(used);
        std::size_t skip = onError(std::string_view(src, srcLeft), out);
        if (skip == 0 || skip > srcLeft) skip = 1;
        src += skip;
        srcLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        used = out.size();
        out.resize(used + srcLeft * roomPerByte + 16);
    }
    out.resize(used);
}

void AppendReplacement(std::string& out) { AppendUtf8(out, kReplacement); }

// Valid UTF-8 is passed through; each byte that does not start a valid character becomes U+FFFD.
std::string RepairUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8Char(bytes.substr(pos), cp);
        if (len == 0) {
            AppendReplacement(out);
            ++pos;
        } else {
            out.append(bytes.substr(pos, len));
            pos += len;
        }
    }
    return out;
}

// The iconv name of a code page RTF documents name with \ansicpg or a font's \fcharset, or
// nullptr for one this program does not read. Only a fixed set is accepted, so a document cannot
// make the reader try any number of made-up names.
const char* IconvName(int codePage)
{
    switch (codePage) {
    case 437: return "CP437";
    case 850: return "CP850";
    case 852: return "CP852";
    case 866: return "CP866";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 1361: return "CP1361";
    case 10000: return "MACINTOSH";
    default: return nullptr;
    }
}

std::string DecodeWith(iconv_t cd, std::string_view bytes)
{
    std::string out;
    Convert(cd, bytes, out, 3, [](std::string_view, std::string& o) {
        AppendReplacement(o);
        return std::size_t{1};
    });
    return out;
}

} // namespace

std::size_t DecodeUtf8Char(std::string_view bytes, char32_t& codePoint)
{
    if (bytes.empty()) return 0;
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    if (b0 < 0x80) {
        codePoint = b0;
        return 1;
    }
    std::size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1Fu;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0Fu;
        min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07u;
        min = 0x10000;
    } else {
        return 0; // a continuation byte, an overlong two-byte lead (C0, C1) or F5..FF
    }
    if (bytes.size() < len) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if ((b & 0xC0u) != 0x80u) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    codePoint = cp;
    return len;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsValidUtf8(std::string_view bytes)
{
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
            ++pos;
            continue;
        }
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8Char(bytes.substr(pos), cp);
        if (len == 0) return false;
        pos += len;
    }
    return true;
}

std::string Utf8ToCp932(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    const iconv_t cd = Descriptor("CP932", "UTF-8");
    // Invalid bytes are found here rather than left to iconv, so that what counts as invalid is
    // exactly what IsValidUtf8 says, whatever the C library's decoder would let through. Each
    // stretch of valid text then goes to iconv in one call.
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        std::size_t end = pos;
        while (end < utf8.size()) {
            if (static_cast<unsigned char>(utf8[end]) < 0x80) {
                ++end;
                continue;
            }
            char32_t cp = 0;
            const std::size_t len = DecodeUtf8Char(utf8.substr(end), cp);
            if (len == 0) break;
            end += len;
        }
        const std::string_view valid = utf8.substr(pos, end - pos);
        if (cd == IconvCache::Invalid()) {
            // No CP932 converter at all: keep ASCII, and stand '?' in for each other character.
            for (std::size_t i = 0; i < valid.size();) {
                char32_t cp = 0;
                const std::size_t len = DecodeUtf8Char(valid.substr(i), cp);
                out += cp < 0x80 ? static_cast<char>(cp) : '?';
                i += len;
            }
        } else {
            Convert(cd, valid, out, 1, [](std::string_view rest, std::string& o) {
                o += '?';
                char32_t cp = 0;
                return DecodeUtf8Char(rest, cp); // the whole character that has no CP932 form
            });
        }
        pos = end;
        if (pos < utf8.size()) {
            out += '?';
            ++pos;
        }
    }
    return out;
}

std::string Cp932ToUtf8(std::string_view cp932)
{
    const iconv_t cd = Descriptor("UTF-8", "CP932");
    if (cd == IconvCache::Invalid()) {
        std::string out;
        for (char c : cp932) {
            if (static_cast<unsigned char>(c) < 0x80) out += c;
            else AppendReplacement(out);
        }
        return out;
    }
    return DecodeWith(cd, cp932);
}

std::string CodePageToUtf8(int codePage, std::string_view bytes)
{
    if (codePage == 65001) return RepairUtf8(bytes);
    if (codePage == 932) return Cp932ToUtf8(bytes);
    const char* name = IconvName(codePage);
    iconv_t cd = name ? Descriptor("UTF-8", name) : IconvCache::Invalid();
    if (cd == IconvCache::Invalid()) cd = Descriptor("UTF-8", "CP1252");
    if (cd == IconvCache::Invalid()) return RepairUtf8(bytes);
    return DecodeWith(cd, bytes);
}
