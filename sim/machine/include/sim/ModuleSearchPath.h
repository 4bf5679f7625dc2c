// Where the machine's loader looks for modules named without a path.
#pragma once

#include "sim/Export.h"

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class RootFolder;

/// The module search path, in order: the application's folder (when the executable's path
/// was set to a folder of the root), the build's modules folder (VESSA_MODULE_DIR from the
/// host environment, else the folder compiled in), folders added by tests, then the root's
/// "C:\Windows\System32" and "C:\Windows". File names are matched case-insensitively.
class SIM_API ModuleSearchPath {
public:
    explicit ModuleSearchPath(const RootFolder& root);

    /// The host folder of the built modules (kernel32.dll, gdi32.dll, ...).
    std::string buildDirectory() const;

    /// Adds a host folder, searched after the build's modules folder.
    void addDirectory(std::string hostDirectory);

    /// Sets the application's folder (a host path; "" for none).
    void setApplicationDirectory(std::string hostDirectory);

    /// The host folders in search order.
    std::vector<std::string> directories() const;

    /// The host path of the first file called `fileName` (any case) in the search path,
    /// or "" when there is none.
    std::string find(std::string_view fileName) const;

private:
    const RootFolder& m_root;
    mutable std::mutex m_lock;
    std::string m_buildDirectory;
    std::string m_applicationDirectory;
    std::vector<std::string> m_extra;
};

} // namespace sim
