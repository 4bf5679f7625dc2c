// Encoding of one Unicode code point as UTF-8 or UTF-16. Header-only on purpose: both the
// platform layer and the simulated machine's core use it, and the platform library links
// the simulated modules on Linux, so a shared library piece would make a link cycle.
#pragma once

#include <stdint.h>
#include <string>

namespace text {

/// Appends `cp` (at most U+10FFFF) to `out` as one to four UTF-8 bytes.
inline void appendUtf8(std::string& out, uint32_t cp) {
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

/// Appends `cp` (at most U+10FFFF) to `out` as one UTF-16 unit or a surrogate pair.
inline void appendUtf16(std::u16string& out, uint32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
        return;
    }
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (cp >> 10));
    out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
}

} // namespace text
