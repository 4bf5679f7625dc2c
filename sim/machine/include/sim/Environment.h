// The process environment of the machine.
#pragma once

#include "sim/Export.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

/// Environment variables with Windows semantics: names compare case-insensitively and keep
/// the spelling they were first set with. The machine's environment is its own, not the
/// host process's, so tests decide exactly what the application sees. It starts with the
/// variables every Windows process has (SystemRoot, windir, SystemDrive, USERPROFILE, TEMP).
/// The C runtime's functions (_wgetenv_s, getenv_s) and kernel32's share it.
class SIM_API Environment {
public:
    Environment();

    /// Sets a variable (an empty value is a value, as with SetEnvironmentVariableW).
    void set(std::u16string_view name, std::u16string_view value);
    /// Removes a variable; nothing happens when it is not set.
    void unset(std::u16string_view name);
    /// The value, or nothing when the variable is not set.
    std::optional<std::u16string> get(std::u16string_view name) const;
    /// Removes every variable.
    void clear();

private:
    mutable std::mutex m_lock;
    // Upper-cased name -> (name as first set, value).
    std::map<std::u16string, std::pair<std::u16string, std::u16string>> m_variables;
};

} // namespace sim
