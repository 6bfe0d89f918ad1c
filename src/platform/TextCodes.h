#pragma once

#include <cstddef>

// Byte-level text decoding without Qt, for the parts that must not load it (the `roadloom` command) and
// for the readers that work on raw bytes.
namespace TextCodes {

// The value of a hexadecimal digit, or -1.
constexpr int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Walks UTF-8: `character(char32_t)` for each well-formed character, `invalid(size_t)` for each maximal
// invalid subpart with the number of its bytes (an invalid lead byte alone, or a lead byte and the
// continuation bytes that fitted before the sequence broke or the text ended). No overlong forms, no
// surrogates, nothing past U+10FFFF.
template <class Character, class Invalid>
void forEachUtf8(const unsigned char *bytes, std::size_t size, Character &&character, Invalid &&invalid)
{
    for (std::size_t i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            character(char32_t(lead));
            ++i;
            continue;
        }
        int length = 0;
        char32_t code = 0;
        // The range of the second byte narrows for E0, ED, F0 and F4.
        unsigned char low = 0x80, high = 0xbf;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
            code = lead & 0x1f;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            code = lead & 0x0f;
            low = lead == 0xe0 ? 0xa0 : 0x80;
            high = lead == 0xed ? 0x9f : 0xbf;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            code = lead & 0x07;
            low = lead == 0xf0 ? 0x90 : 0x80;
            high = lead == 0xf4 ? 0x8f : 0xbf;
        }
        std::size_t taken = 1;
        bool valid = length > 0;
        for (int k = 1; valid && k < length; ++k) {
            const std::size_t at = i + std::size_t(k);
            if (at >= size || bytes[at] < (k == 1 ? low : 0x80) || bytes[at] > (k == 1 ? high : 0xbf)) {
                valid = false;
                break;
            }
            code = (code << 6) | (bytes[at] & 0x3f);
            ++taken;
        }
        i += taken;
        if (valid)
            character(code);
        else
            invalid(taken);
    }
}

} // namespace TextCodes
