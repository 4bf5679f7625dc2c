// Small helpers for 16-bit wide text (WCHAR), which is wchar_t on Windows and char16_t on
// Linux. The C library's wide functions are never used on Linux: its wchar_t is 32 bits.
#pragma once

#include <stddef.h>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/sim/win32_api.h"
#endif

namespace text {

/// Length of a terminated wide string, 0 for null.
size_t wlen(const WCHAR* s);

/// Copies at most capacity-1 characters and always terminates (when capacity > 0).
/// Returns false when the source did not fit.
bool wcopy(WCHAR* dst, size_t capacity, const WCHAR* src);

/// Wide to narrow: characters below 0x80 as themselves, others as UTF-8.
std::string narrow(const WCHAR* s);
std::string narrow(const std::u16string& s);

/// Narrow (UTF-8) to wide; invalid bytes become U+FFFD.
std::u16string widen(const char* s);

/// Wide string as the platform's WCHAR pointer (for passing u"" literals on both builds).
inline const WCHAR* w(const std::u16string& s) {
    return reinterpret_cast<const WCHAR*>(s.c_str());
}
inline const WCHAR* w(const char16_t* s) {
    return reinterpret_cast<const WCHAR*>(s);
}

/// ASCII case-insensitive comparison of wide strings, as Windows compares file names.
bool wequalNoCase(const WCHAR* a, const WCHAR* b);

} // namespace text

/// A wide string literal of the platform's WCHAR type: WSTR("c:\\vessa.log").
#ifdef _WIN32
#define WSTR(s) L##s
#else
#define WSTR(s) u##s
#endif
