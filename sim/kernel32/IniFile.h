// A parsed private-profile (ini) file, read as GetPrivateProfileString reads it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

/// The sections and entries of one ini file.
///
/// Lines are trimmed; "[name]" starts a section; lines starting with ';' are comments;
/// "key=value" is an entry (key and value trimmed, a value in matching single or double
/// quotes loses them); a line without '=' is an entry without a value. Sections and keys
/// compare case-insensitively; the first of duplicate sections and keys wins. The text may
/// be UTF-16LE (with its byte-order mark), UTF-8 (with or without one) or ASCII.
class IniFile {
public:
    /// Parses file contents as read from disk.
    explicit IniFile(std::string_view bytes);

    /// The value of a key; nothing when the section or key is missing. A key without a
    /// value yields an empty string.
    std::optional<std::u16string> value(std::u16string_view section, std::u16string_view key) const;
    /// Section names in file order (duplicates once).
    std::vector<std::u16string> sectionNames() const;
    /// Key names of a section in file order (duplicates once); nothing when it is missing.
    std::optional<std::vector<std::u16string>> keyNames(std::u16string_view section) const;

private:
    struct Entry {
        std::u16string key;
        std::u16string value;
    };
    struct Section {
        std::u16string name;
        std::vector<Entry> entries;
    };

    const Section* find(std::u16string_view section) const;

    std::vector<Section> m_sections;
};

} // namespace sim
