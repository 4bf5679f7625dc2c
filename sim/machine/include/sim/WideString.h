// Wide-text helpers of the machine core. WCHAR is 16 bits (char16_t); the C library's wide
// functions are never used, since its wchar_t is 32 bits on Linux.
#pragma once

#include "sim/Export.h"

#include <string>
#include <string_view>

namespace sim {

/// 16-bit wide text as char16_t, whichever type spells WCHAR: char16_t on the simulated
/// machine, wchar_t in the Windows test harness (where the machine core runs too).
template <class Char> const char16_t* asU16(const Char* s) {
    static_assert(sizeof(Char) == sizeof(char16_t), "WCHAR is 16 bits");
    return reinterpret_cast<const char16_t*>(s);
}
template <class Char> char16_t* asU16(Char* s) {
    static_assert(sizeof(Char) == sizeof(char16_t), "WCHAR is 16 bits");
    return reinterpret_cast<char16_t*>(s);
}

/// Length of a terminated 16-bit string; 0 for null.
SIM_API size_t wideLength(const char16_t* s);

/// A terminated 16-bit string as a u16string; empty for null.
SIM_API std::u16string wideOf(const char16_t* s);

/// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD).
SIM_API std::string toUtf8(std::u16string_view s);

/// UTF-8 to UTF-16 (invalid bytes become U+FFFD).
SIM_API std::u16string fromUtf8(std::string_view s);

/// The text of a file's raw bytes, as Windows tools write them: UTF-16LE after its byte-order
/// mark, otherwise UTF-8 with or without one.
SIM_API std::u16string decodeTextFile(std::string_view bytes);

/// ASCII upper case, as Windows folds file, registry and environment names.
SIM_API std::u16string upperAscii(std::u16string_view s);
SIM_API std::string upperAscii(std::string_view s);

/// ASCII case-insensitive equality.
SIM_API bool equalNoCase(std::u16string_view a, std::u16string_view b);
SIM_API bool equalNoCase(std::string_view a, std::string_view b);

} // namespace sim
