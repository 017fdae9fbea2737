// The small readers every command shares: blanks, line ends, numbers and argument lists.
#include <cstring>

#include "compiler/Compilation.h"
#include "formats/Chars.h"

namespace {

// Reads a number without raising: the cursor always moves past the run it collected, and the
// result says whether the run was a valid number. Lengths and optional arguments use this
// directly, since a missing number there is no error.
bool TryReadNumber(const char*& p, std::int32_t& value)
{
    if (*p == '$') {
        // $ and up to eight hex digits; eight give the 32-bit two's-complement value.
        ++p;
        const char* start = p;
        std::uint32_t v = 0;
        while (HexValue(*p) >= 0) {
            v = (v << 4) | static_cast<std::uint32_t>(HexValue(*p));
            ++p;
        }
        const auto digits = p - start;
        if (digits == 0 || digits > 8) return false;
        value = static_cast<std::int32_t>(v);
        return true;
    }
    // The longest run of minus signs and digits; valid only as one optional leading minus sign
    // followed by digits, within the 32-bit range.
    const char* start = p;
    while (*p == '-' || IsAsciiDigit(*p)) ++p;
    const char* q = start;
    const bool negative = q < p && *q == '-';
    if (negative) ++q;
    if (q == p) return false;
    std::int64_t v = 0;
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    for (; q < p; ++q) {
        if (!IsAsciiDigit(*q)) return false;
        v = v * 10 + (*q - '0');
        if (v > limit) return false;
    }
    value = static_cast<std::int32_t>(negative ? -v : v);
    return true;
}

}  // namespace

void TCompilation::SkipToLineEnd(const char*& p)
{
    while (*p != '\n' && *p != '\0') ++p;
}

bool TCompilation::IsLetter(char c) { return IsAsciiLetter(c); }

std::int32_t TCompilation::ReadNumber(const char*& p)
{
    std::int32_t value = 0;
    if (!TryReadNumber(p, value)) Error(MMLMessage::BadNumber);
    return value;
}

bool TCompilation::TryNumber(const char*& p, std::int32_t& value) { return TryReadNumber(p, value); }

bool TCompilation::ReadOptionalNumber(const char*& p, std::int32_t& value)
{
    const char* const start = p;
    if (TryReadNumber(p, value)) return true;
    // Something was written there but it is no number the language can hold (too many digits,
    // "$" without hex digits, a stray minus): the default is used as for no number at all, and
    // the user is told, since the piece then plays what they did not write.
    if (p != start) Warn(MMLMessage::BadNumber);
    return false;
}

// One entry per letter (TArgLetters), so entry i always belongs to letter i.
// A comma alone in a place is an absent argument; a missing or malformed number in an I or J
// place is absent too, without an error. One comma after each argument is consumed.
bool TCompilation::ReadArgs(TMMLParams& params, TArgLetters letters, const char*& p, bool raise)
{
    bool inRange = true;
    for (const char* letter = letters.Letters(); *letter != '\0'; ++letter) {
        TMMLParam param;
        if (*p == ',') {
            ++p;
            params.Add(param);
            continue;
        }
        switch (*letter) {
        case 'I':
        case 'J': {
            std::int32_t value = 0;
            const bool read = ReadOptionalNumber(p, value);
            if (*p == ',') ++p;
            if (read) {
                param.Given = true;
                param.Value = value;
                const std::int32_t low = *letter == 'I' ? 0 : 1;
                if (value < low || value > low + 127) {
                    if (raise) Error(MMLMessage::NumberOutOfRange);
                    inRange = false;
                }
            }
            break;
        }
        default: {  // 'L' and 'l'
            param.Value = ReadTiedLength(p, *letter == 'l');
            param.Given = param.Value >= 0;
            if (*p == ',') ++p;
            break;
        }
        }
        params.Add(param);
    }
    return inRange;
}

// Numbers separated by commas, up to the first place that holds neither; a comma alone is an
// absent entry whose value 0 still counts as a data byte.
void TCompilation::ReadNumberList(TMMLParams& params, const char*& p)
{
    for (;;) {
        TMMLParam param;
        if (*p == ',') {
            ++p;
            params.Add(param);
            continue;
        }
        if (!ReadOptionalNumber(p, param.Value)) return;
        param.Given = true;
        params.Add(param);
        if (param.Value < 0 || param.Value > 127) Error(MMLMessage::NumberOutOfRange);
        if (*p == ',') ++p;
    }
}
