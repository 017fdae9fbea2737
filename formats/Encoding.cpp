#include "formats/Encoding.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

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

// Appends what the converter still holds back and returns it to its initial state.
void Flush(iconv_t cd, std::string& out)
{
    char buffer[64];
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
}

// Converts in with one bulk iconv call per stretch of convertible input. Where iconv stops at a
// sequence it cannot take (EILSEQ, or EINVAL for one cut off at the end), onError appends what
// stands for it and returns how many input bytes that covers (at least one); iconv then resumes.
// Output goes through a fixed buffer, so each stop costs only the bytes around it: sizing the
// output for all the input left at every stop made a text of many bad bytes quadratic.
template <class OnError>
void Convert(iconv_t cd, std::string_view in, std::string& out, OnError onError)
{
    if (in.empty()) return;
    // iconv's prototype takes a non-const input pointer but never writes through it.
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char buffer[16384];
    while (srcLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t result = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        const int error = errno;
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (result != static_cast<std::size_t>(-1)) break;
        if (error == E2BIG && dst != buffer) continue;
        // A converter that holds a character back to combine it with what follows (CP1255,
        // CP1258) gives it up before the stop, where it stands in the text.
        Flush(cd, out);
        // EILSEQ, EINVAL, or anything unforeseen: hand the stuck bytes to the caller, so the
        // loop always moves on.
        std::size_t skip = onError(std::string_view(src, srcLeft), out);
        // Some converters (glibc's CP949 on a bad pair) move past the bytes they refuse before
        // reporting them, so the refusal can come with no input left.
        if (skip == 0 || skip > srcLeft) skip = srcLeft > 0 ? 1 : 0;
        src += skip;
        srcLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    Flush(cd, out);
}

// How a code page of at most two bytes a character decodes, found once by asking iconv about
// every byte and every byte pair: for each place in the input, what iconv makes of the bytes
// there (one or two of them) or that it cannot take them. Decoding is then a table walk with the
// same results as the iconv loop, without a call into the C library per undecodable byte.
class DecodeTable {
public:
    struct Step {
        std::uint8_t consumed = 0; // 0: iconv cannot take the bytes here
        std::uint8_t length = 0;   // of utf8
        char utf8[6] = {};
    };

    // nullptr when iconv lacks the code page, or when the page does not decode byte by byte
    // (a character longer than two bytes, or a converter that holds characters back to
    // combine them with the next one, as CP1255 and CP1258 do).
    static std::unique_ptr<DecodeTable> Build(const char* name)
    {
        const iconv_t cd = iconv_open("UTF-8", name);
        if (cd == IconvCache::Invalid()) return nullptr;
        auto table = std::make_unique<DecodeTable>();
        bool usable = true;
        for (int b0 = 0; b0 < 256 && usable; ++b0) {
            const char one[1] = {static_cast<char>(b0)};
            int error = 0;
            const Step single = Try(cd, std::string_view(one, 1), error, usable);
            if (single.consumed == 1 || error == EILSEQ) {
                table->first_[b0] = single;
                continue;
            }
            if (error != EINVAL) {
                usable = false;
                break;
            }
            // A lead byte: what follows decides.
            table->row_[b0] = static_cast<std::int16_t>(table->rows_.size());
            auto& row = table->rows_.emplace_back();
            for (int b1 = 0; b1 < 256 && usable; ++b1) {
                const char two[2] = {static_cast<char>(b0), static_cast<char>(b1)};
                row[static_cast<std::size_t>(b1)] = Try(cd, std::string_view(two, 2), error, usable);
                const Step& step = row[static_cast<std::size_t>(b1)];
                if (step.consumed != 2 && !(step.consumed == 0 && error == EILSEQ)) usable = false;
            }
        }
        iconv_close(cd);
        if (!usable) return nullptr;
        table->Finish();
        return table;
    }

    void Decode(std::string_view bytes, std::string& out) const
    {
        // Written through a pointer into room for the most any byte can make, as a table walk
        // that appends piece by piece spends most of its time checking the string's capacity.
        const std::size_t size = bytes.size();
        const std::size_t start = out.size();
        out.resize(start + size * maxPerByte_ + sizeof(Step::utf8));
        char* dst = out.data() + start;
        const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
        std::size_t pos = 0;
        while (pos < size) {
            const unsigned char b0 = in[pos];
            // A lead byte at the very end is a character cut off: its first_ entry says so.
            const Step& step = row_[b0] >= 0 && pos + 1 < size ? rows_[static_cast<std::size_t>(row_[b0])][in[pos + 1]]
                                                              : first_[b0];
            std::memcpy(dst, step.utf8, sizeof step.utf8);
            dst += step.length;
            pos += step.consumed;
        }
        out.resize(static_cast<std::size_t>(dst - out.data()));
    }

    DecodeTable() { row_.fill(-1); }

private:
    // Turns every place iconv refused into U+FFFD for that one byte, so the walk has no case of
    // its own for it, and finds the most UTF-8 one input byte makes.
    void Finish()
    {
        Step replacement;
        replacement.consumed = 1;
        replacement.length = 3;
        std::memcpy(replacement.utf8, "\xEF\xBF\xBD", 3);
        auto finish = [&](Step& step) {
            if (step.consumed == 0) step = replacement;
            maxPerByte_ = std::max<std::size_t>(maxPerByte_, (step.length + step.consumed - 1) / step.consumed);
        };
        for (Step& step : first_) finish(step);
        for (auto& row : rows_)
            for (Step& step : row) finish(step);
    }

    // What iconv makes of in from its initial state: the bytes it took for its first character
    // and their UTF-8, or consumed 0 with the error. Clears usable when the answer is not one
    // the table can hold.
    static Step Try(iconv_t cd, std::string_view in, int& error, bool& usable)
    {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char out[32];
        char* dst = out;
        std::size_t dstLeft = sizeof out;
        const std::size_t result = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        error = result == static_cast<std::size_t>(-1) ? errno : 0;
        Step step;
        step.consumed = static_cast<std::uint8_t>(in.size() - srcLeft);
        const auto produced = static_cast<std::size_t>(dst - out);
        // A converter that still holds something back is one whose output depends on what
        // follows; its characters cannot be looked up one by one.
        char* flushed = dst;
        std::size_t flushLeft = dstLeft;
        iconv(cd, nullptr, nullptr, &flushed, &flushLeft);
        if (flushed != dst || produced > sizeof step.utf8 ||
            (step.consumed == 0 && produced != 0) || (step.consumed != 0 && error != 0)) {
            usable = false;
            return step;
        }
        std::memcpy(step.utf8, out, produced);
        step.length = static_cast<std::uint8_t>(produced);
        return step;
    }

    std::array<Step, 256> first_{};
    std::array<std::int16_t, 256> row_{};
    std::vector<std::array<Step, 256>> rows_;
    std::size_t maxPerByte_ = 1;
};

// The table of a code page's iconv name, built at its first use and kept for the process; nullptr
// when the page must go through iconv itself.
const DecodeTable* TableFor(const char* name)
{
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<DecodeTable>> tables;
    const std::lock_guard<std::mutex> lock(mutex);
    auto it = tables.find(name);
    if (it == tables.end()) it = tables.emplace(name, DecodeTable::Build(name)).first;
    return it->second.get();
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

// Decodes bytes from the code page iconv knows as name into out; false when iconv does not know
// it. Undecodable bytes become U+FFFD, one per byte.
bool DecodeWith(const char* name, std::string_view bytes, std::string& out)
{
    out.reserve(out.size() + bytes.size() + bytes.size() / 2);
    if (const DecodeTable* table = TableFor(name)) {
        table->Decode(bytes, out);
        return true;
    }
    const iconv_t cd = Descriptor("UTF-8", name);
    if (cd == IconvCache::Invalid()) return false;
    Convert(cd, bytes, out, [](std::string_view, std::string& o) {
        AppendReplacement(o);
        return std::size_t{1};
    });
    return true;
}

// The CP932 form of each code point, found through iconv at its first use and kept for the
// process: 0 not asked yet, NoForm when CP932 has none, else Known | length << 24 | the bytes.
// Text that repeats characters (any real text, and any hostile one) then costs one call into the
// C library per distinct character instead of one per character without a form.
class EncodeMemo {
public:
    static constexpr std::uint32_t NoForm = 1;
    static constexpr std::uint32_t Known = 0x80000000u;

    // Appends the CP932 form of cp (whose UTF-8 is utf8), or '?' when it has none.
    static void Append(iconv_t cd, char32_t cp, std::string_view utf8, std::string& out)
    {
        // calloc rather than a zero-filled new: the kernel hands out zeroed pages as they are
        // first touched, so a short text pays for the few pages its characters fall in and not
        // for clearing all 4.25 MiB at every start of the program.
        static const std::unique_ptr<std::uint32_t, decltype(&std::free)> memo(
            static_cast<std::uint32_t*>(std::calloc(0x110000, sizeof(std::uint32_t))), &std::free);
        if (!memo) throw std::bad_alloc();
        std::atomic_ref<std::uint32_t> slot(memo.get()[cp]);
        std::uint32_t entry = slot.load(std::memory_order_relaxed);
        if (entry == 0) {
            std::string bytes;
            bool ok = true;
            Convert(cd, utf8, bytes, [&ok](std::string_view rest, std::string&) {
                ok = false;
                return rest.size();
            });
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (ok && bytes.size() > 3) {
                out += bytes; // longer than an entry holds; no code page does this
                return;
            }
            entry = !ok ? NoForm : Known | static_cast<std::uint32_t>(bytes.size()) << 24;
            for (std::size_t i = 0; ok && i < bytes.size(); ++i)
                entry |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * (2 - i));
            slot.store(entry, std::memory_order_relaxed);
        }
        if (entry == NoForm) {
            out += '?';
            return;
        }
        const std::uint32_t length = (entry >> 24) & 0x7Fu;
        for (std::uint32_t i = 0; i < length; ++i) out += static_cast<char>((entry >> (8 * (2 - i))) & 0xFFu);
    }
};

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
        // Eight bytes of ASCII at a time: every document is checked whole at each open, and an
        // MML text is almost all ASCII.
        std::uint64_t word = 0;
        if (pos + sizeof word <= bytes.size()) {
            std::memcpy(&word, bytes.data() + pos, sizeof word);
            if ((word & 0x8080808080808080u) == 0) {
                pos += sizeof word;
                continue;
            }
        }
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

namespace {

// Utf8ToCp932, and with lines set every line end to CR LF as Utf8ToCp932Lines does. Runs of ASCII
// are copied as they are; the converter is opened only for the first character beyond ASCII, so
// an ASCII text never loads it.
std::string ConvertToCp932(std::string_view utf8, bool lines)
{
    std::string out;
    out.reserve(utf8.size() + (lines ? utf8.size() / 32 + 2 : 0));
    iconv_t cd = nullptr;  // not opened yet
    // Invalid bytes are found here rather than left to iconv, so that what counts as invalid is
    // exactly what IsValidUtf8 says, whatever the C library's decoder would let through.
    std::size_t pos = 0;
    const std::size_t size = utf8.size();
    const char* const text = utf8.data();
    while (pos < size) {
        std::size_t run = pos;
        while (run < size && static_cast<unsigned char>(text[run]) < 0x80 && (!lines || (text[run] != '\r' && text[run] != '\n')))
            ++run;
        out.append(text + pos, run - pos);  // CP932 keeps ASCII as it is
        pos = run;
        if (pos >= size) break;
        const auto b = static_cast<unsigned char>(text[pos]);
        if (b < 0x80) {  // a line end
            out += "\r\n";
            pos += (b == '\r' && pos + 1 < size && text[pos + 1] == '\n') ? 2 : 1;
            continue;
        }
        char32_t cp = b;
        const std::size_t len = DecodeUtf8Char(utf8.substr(pos), cp);
        if (len == 0) {
            out += '?';
            ++pos;
            continue;
        }
        if (cd == nullptr) cd = Descriptor("CP932", "UTF-8");
        if (cd == IconvCache::Invalid()) {
            // No CP932 converter at all: a '?' stands in for each character beyond ASCII.
            out += '?';
        } else {
            EncodeMemo::Append(cd, cp, utf8.substr(pos, len), out);
        }
        pos += len;
    }
    if (lines && size > 0 && text[size - 1] != '\n' && text[size - 1] != '\r') out += "\r\n";
    return out;
}

}  // namespace

std::string Utf8ToCp932(std::string_view utf8) { return ConvertToCp932(utf8, false); }

std::string Utf8ToCp932Lines(std::string_view utf8) { return ConvertToCp932(utf8, true); }

std::string Cp932ToUtf8(std::string_view cp932)
{
    std::string out;
    if (DecodeWith("CP932", cp932, out)) return out;
    for (char c : cp932) {
        if (static_cast<unsigned char>(c) < 0x80) out += c;
        else AppendReplacement(out);
    }
    return out;
}

std::string CodePageToUtf8(int codePage, std::string_view bytes)
{
    if (codePage == 65001) return RepairUtf8(bytes);
    if (codePage == 932) return Cp932ToUtf8(bytes);
    const char* name = IconvName(codePage);
    std::string out;
    if (name != nullptr && DecodeWith(name, bytes, out)) return out;
    if (DecodeWith("CP1252", bytes, out)) return out;
    return RepairUtf8(bytes);
}
