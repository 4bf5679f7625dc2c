// Import of registry files in the text form regedit writes.
#include "sim/Registry.h"

#include "sim/WideString.h"

#include <vector>

namespace sim {

namespace {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

std::u16string trim(std::u16string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t' || s[b] == u'\r'))
        ++b;
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t' || s[e - 1] == u'\r'))
        --e;
    return std::u16string(s.substr(b, e - b));
}

int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// A quoted string starting at text[pos] (the opening quote); `\\` and `\"` are escapes.
// On success `pos` is just past the closing quote.
bool parseQuoted(const std::u16string& text, size_t& pos, std::u16string& out) {
    if (pos >= text.size() || text[pos] != u'"')
        return false;
    out.clear();
    for (size_t i = pos + 1; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size()) {
            out += text[++i];
        } else if (text[i] == u'"') {
            pos = i + 1;
            return true;
        } else {
            out += text[i];
        }
    }
    return false;
}

// "01,02,ab" into bytes.
bool parseHexList(std::u16string_view list, std::vector<uint8_t>& out) {
    out.clear();
    std::u16string item;
    std::u16string text(list);
    text += u',';
    for (char16_t c : text) {
        if (c == u',') {
            std::u16string t = trim(item);
            item.clear();
            if (t.empty())
                continue;
            if (t.size() > 2 || hexDigit(t[0]) < 0 || (t.size() == 2 && hexDigit(t[1]) < 0))
                return false;
            out.push_back(static_cast<uint8_t>(
                t.size() == 1 ? hexDigit(t[0]) : hexDigit(t[0]) * 16 + hexDigit(t[1])));
        } else {
            item += c;
        }
    }
    return true;
}

// The data after '=': a quoted string, dword:, hex: or hex(N):.
bool parseData(const std::u16string& data, RegistryValue& value) {
    if (!data.empty() && data[0] == u'"') {
        size_t pos = 0;
        std::u16string text;
        if (!parseQuoted(data, pos, text) || !trim(std::u16string_view(data).substr(pos)).empty())
            return false;
        const uint8_t* p = reinterpret_cast<const uint8_t*>(text.c_str());
        value.type = kRegSz;
        value.data.assign(p, p + (text.size() + 1) * sizeof(char16_t));
        return true;
    }
    std::u16string lower = data;
    for (char16_t& c : lower)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    if (lower.rfind(u"dword:", 0) == 0) {
        std::u16string digits = trim(std::u16string_view(data).substr(6));
        if (digits.empty() || digits.size() > 8)
            return false;
        uint32_t number = 0;
        for (char16_t c : digits) {
            if (hexDigit(c) < 0)
                return false;
            number = number * 16 + static_cast<uint32_t>(hexDigit(c));
        }
        const uint8_t* p = reinterpret_cast<const uint8_t*>(&number);
        value.type = kRegDword;
        value.data.assign(p, p + 4);
        return true;
    }
    if (lower.rfind(u"hex:", 0) == 0) {
        value.type = kRegBinary;
        return parseHexList(std::u16string_view(data).substr(4), value.data);
    }
    if (lower.rfind(u"hex(", 0) == 0) {
        size_t close = lower.find(u"):");
        if (close == std::u16string::npos || close == 4)
            return false;
        uint32_t type = 0;
        for (size_t i = 4; i < close; ++i) {
            if (hexDigit(lower[i]) < 0)
                return false;
            type = type * 16 + static_cast<uint32_t>(hexDigit(lower[i]));
        }
        value.type = type;
        return parseHexList(std::u16string_view(data).substr(close + 2), value.data);
    }
    return false;
}

} // namespace

bool Registry::importText(std::string_view bytes, size_t* errorLine) {
    std::u16string text = decodeTextFile(bytes);
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos)
            end = text.size();
        lines.push_back(trim(std::u16string_view(text).substr(start, end - start)));
        start = end + 1;
    }

    auto fail = [&](size_t line) {
        if (errorLine)
            *errorLine = line;
        return false;
    };
    bool sawHeader = false;
    std::u16string currentKey;
    for (size_t i = 0; i < lines.size(); ++i) {
        size_t number = i + 1;
        std::u16string line = lines[i];
        // Hex lists continue over lines that end in '\'.
        while (!line.empty() && line.back() == u'\\' && i + 1 < lines.size()) {
            line.pop_back();
            line += lines[++i];
        }
        if (line.empty() || line[0] == u';')
            continue;
        if (!sawHeader) {
            if (line != u"Windows Registry Editor Version 5.00" && line != u"REGEDIT4")
                return fail(number);
            sawHeader = true;
            continue;
        }
        if (line[0] == u'[') {
            if (line.back() != u']')
                return fail(number);
            std::u16string path = line.substr(1, line.size() - 2);
            if (!path.empty() && path[0] == u'-') {
                removeKey(path.substr(1));
                currentKey.clear();
                continue;
            }
            if (!createKey(path))
                return fail(number);
            currentKey = path;
            continue;
        }
        if (currentKey.empty())
            return fail(number);
        std::u16string name;
        size_t pos = 0;
        if (line[0] == u'@') {
            pos = 1;
        } else if (!parseQuoted(line, pos, name)) {
            return fail(number);
        }
        std::u16string rest = trim(std::u16string_view(line).substr(pos));
        if (rest.empty() || rest[0] != u'=')
            return fail(number);
        std::u16string data = trim(std::u16string_view(rest).substr(1));
        if (data == u"-") {
            removeValue(currentKey, name);
            continue;
        }
        RegistryValue value;
        if (!parseData(data, value))
            return fail(number);
        setValue(currentKey, name, std::move(value));
    }
    if (!sawHeader)
        return fail(1);
    if (errorLine)
        *errorLine = 0;
    return true;
}

} // namespace sim
