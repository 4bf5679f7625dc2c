// Wide-text helpers shared by both builds.
#include "platform/text.h"

#include "platform/unicode.h"

namespace text {

size_t wlen(const WCHAR* s) {
    if (!s)
        return 0;
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

bool wcopy(WCHAR* dst, size_t capacity, const WCHAR* src) {
    if (!dst || capacity == 0)
        return false;
    size_t n = wlen(src);
    bool fits = n < capacity;
    size_t count = fits ? n : capacity - 1;
    for (size_t i = 0; i < count; ++i)
        dst[i] = src[i];
    dst[count] = 0;
    return fits;
}

static std::string narrowN(const WCHAR* s, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = static_cast<uint16_t>(s[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n) {
            uint32_t low = static_cast<uint16_t>(s[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        appendUtf8(out, c);
    }
    return out;
}

std::string narrow(const WCHAR* s) {
    return s ? narrowN(s, wlen(s)) : std::string();
}

std::string narrow(const std::u16string& s) {
    return narrowN(reinterpret_cast<const WCHAR*>(s.data()), s.size());
}

// Decodes one UTF-8 sequence at s[i]; returns U+FFFD and advances one byte when invalid.
static uint32_t decodeUtf8(const unsigned char* s, size_t& i) {
    unsigned char c = s[i];
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0) {
        ++i;
        return 0xFFFD;
    }
    uint32_t cp = extra == 0 ? c : (c & (0x3F >> extra));
    for (int k = 1; k <= extra; ++k) {
        unsigned char next = s[i + k];
        if ((next & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    i += extra + 1;
    return cp;
}

std::u16string widen(const char* s) {
    std::u16string out;
    if (!s)
        return out;
    const auto* bytes = reinterpret_cast<const unsigned char*>(s);
    for (size_t i = 0; bytes[i];) {
        appendUtf16(out, decodeUtf8(bytes, i));
    }
    return out;
}

static WCHAR lowerAscii(WCHAR c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<WCHAR>(c + 32) : c;
}

bool wequalNoCase(const WCHAR* a, const WCHAR* b) {
    if (!a || !b)
        return a == b;
    for (; *a && *b; ++a, ++b) {
        if (lowerAscii(*a) != lowerAscii(*b))
            return false;
    }
    return *a == *b;
}

} // namespace text
