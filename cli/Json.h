// The few JSON pieces the command-line tool writes: strings and numbers, nothing parsed.
#pragma once

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>

// A JSON string literal of UTF-8 text, quotes included.
inline std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                out += escape;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

// The shortest decimal that reads back as the same double, without an exponent and without a
// fraction when the value is integral (1000, 62.5, 0.3333333333333333).
inline std::string JsonNumber(double value)
{
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (result.ec != std::errc()) return "0";
    return std::string(buffer, result.ptr);
}
