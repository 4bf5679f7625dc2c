// Parsing of private-profile files.
#include "IniFile.h"

#include "sim/WideString.h"

namespace sim {

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

std::u16string trimmed(std::u16string_view s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && isBlank(s[begin]))
        ++begin;
    while (end > begin && isBlank(s[end - 1]))
        --end;
    return std::u16string(s.substr(begin, end - begin));
}

std::u16string unquoted(std::u16string value) {
    if (value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

} // namespace

IniFile::IniFile(std::string_view bytes) {
    std::u16string text = sim::decodeTextFile(bytes);
    Section* current = nullptr;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos)
            end = text.size();
        std::u16string line = trimmed(std::u16string_view(text).substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == u';')
            continue;
        if (line[0] == u'[') {
            size_t close = line.find(u']');
            std::u16string name = trimmed(std::u16string_view(line).substr(
                1, close == std::u16string::npos ? std::u16string::npos : close - 1));
            m_sections.push_back(Section{name, {}});
            current = &m_sections.back();
            continue;
        }
        if (!current)
            continue; // entries before the first section belong to no section
        size_t equals = line.find(u'=');
        if (equals == std::u16string::npos) {
            current->entries.push_back(Entry{line, u""});
            continue;
        }
        current->entries.push_back(
            Entry{trimmed(std::u16string_view(line).substr(0, equals)),
                  unquoted(trimmed(std::u16string_view(line).substr(equals + 1)))});
    }
}

const IniFile::Section* IniFile::find(std::u16string_view section) const {
    for (const Section& s : m_sections)
        if (equalNoCase(std::u16string_view(s.name), section))
            return &s;
    return nullptr;
}

std::optional<std::u16string> IniFile::value(std::u16string_view section,
                                             std::u16string_view key) const {
    const Section* s = find(section);
    if (!s)
        return std::nullopt;
    for (const Entry& e : s->entries)
        if (equalNoCase(std::u16string_view(e.key), key))
            return e.value;
    return std::nullopt;
}

std::vector<std::u16string> IniFile::sectionNames() const {
    std::vector<std::u16string> names;
    for (const Section& s : m_sections)
        if (find(s.name) == &s)
            names.push_back(s.name);
    return names;
}

std::optional<std::vector<std::u16string>> IniFile::keyNames(std::u16string_view section) const {
    const Section* s = find(section);
    if (!s)
        return std::nullopt;
    std::vector<std::u16string> names;
    for (const Entry& e : s->entries) {
        bool seen = false;
        for (const std::u16string& n : names)
            seen = seen || equalNoCase(std::u16string_view(n), e.key);
        if (!seen)
            names.push_back(e.key);
    }
    return names;
}

} // namespace sim
