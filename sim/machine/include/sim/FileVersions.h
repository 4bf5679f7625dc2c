// File-version data of the machine's files, as version.dll reports it.
#pragma once

#include "sim/Export.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

/// The version resource of one file.
struct FileVersion {
    uint16_t fileVersion[4] = {1, 0, 0, 0};    ///< major, minor, build, revision
    uint16_t productVersion[4] = {1, 0, 0, 0}; ///< major, minor, build, revision
    /// StringFileInfo values of the "040904b0" table (CompanyName, FileDescription,
    /// FileVersion, ProductName, ...), in order.
    std::vector<std::pair<std::u16string, std::u16string>> strings;
};

/// Version resources by file. A file is found by its Windows path first, then by its
/// file name alone (so "nvd3dumx.dll" describes that driver wherever it is loaded from);
/// names compare case-insensitively.
class SIM_API FileVersions {
public:
    /// Sets the version of a file path ("C:\Windows\System32\nvd3dumx.dll") or file name.
    void set(std::u16string_view pathOrName, FileVersion version);
    /// Removes a file's version; false when it had none.
    bool remove(std::u16string_view pathOrName);
    /// The version of a file, looked up by path, then by name.
    std::optional<FileVersion> find(std::u16string_view windowsPath) const;

    /// The VS_VERSIONINFO resource block of a version, as GetFileVersionInfoW returns it.
    static std::vector<uint8_t> resourceOf(const FileVersion& version);

private:
    mutable std::mutex m_lock;
    std::map<std::u16string, FileVersion> m_versions; // upper-cased path or name
};

} // namespace sim
