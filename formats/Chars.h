// ASCII character classes for the readers of every text the program takes in: MML source (bytes
// of Shift-JIS, where a trail byte may look like any ASCII character), RTF, and the editor's
// colouring (UTF-16). Only ASCII counts, whatever the locale, so the readers agree with each other
// and with the compiler byte for byte; hence no <cctype>. Each works on any character type.
#pragma once

template <class C>
constexpr bool IsAsciiDigit(C c)
{
    return c >= C('0') && c <= C('9');
}

template <class C>
constexpr bool IsAsciiLetter(C c)
{
    return (c >= C('a') && c <= C('z')) || (c >= C('A') && c <= C('Z'));
}

template <class C>
constexpr C AsciiUpper(C c)
{
    return c >= C('a') && c <= C('z') ? static_cast<C>(c - C('a') + C('A')) : c;
}

// The value of a hexadecimal digit in either case, or -1 for any other character.
template <class C>
constexpr int HexValue(C c)
{
    if (IsAsciiDigit(c)) return c - C('0');
    if (c >= C('a') && c <= C('f')) return c - C('a') + 10;
    if (c >= C('A') && c <= C('F')) return c - C('A') + 10;
    return -1;
}

template <class C>
constexpr bool IsHexDigit(C c)
{
    return HexValue(c) >= 0;
}
