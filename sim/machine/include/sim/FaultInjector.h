// Fault injection: any entry of the machine can be told to fail.
#pragma once

#include "sim/Export.h"
#include "sim/Journal.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

/// Armed failures of machine entries.
///
/// A rule names a module and an entry (and optionally a GPU); the calls that match it are
/// counted from the moment it is armed, and the `nth` of them (1 = the next) fails with
/// `status`, as do the `times - 1` matching calls after it. `times` 0 means "from the nth
/// call on, always". The status is what the entry reports: the NTSTATUS, HRESULT or Win32
/// error it returns, or for entries that return BOOL or a handle, the last-error code.
class SIM_API FaultInjector {
public:
    /// Arms a rule. Module names compare case-insensitively, entries exactly.
    void failNth(std::string_view module, std::string_view entry, unsigned nth, int64_t status,
                 unsigned times = 1, int gpu = kNoGpu);

    /// Every following call of the entry fails.
    void failAlways(std::string_view module, std::string_view entry, int64_t status,
                    int gpu = kNoGpu);

    /// Every following GetProcAddress of `exportName` in `module` (a file name, compared
    /// case-insensitively) finds nothing, as if the module had been built without that
    /// export. The module's own code still reaches the function.
    void hideExport(std::string_view module, std::string_view exportName);

    /// Whether GetProcAddress must not find the export.
    bool exportHidden(std::string_view module, std::string_view exportName) const;

    /// Disarms every rule and shows every hidden export again.
    void clear();

    /// Counts one call against the armed rules; true (with `status`) when it must fail.
    /// Each simulated entry calls this once, first (through sim::Call).
    bool consult(std::string_view module, std::string_view entry, int gpu, int64_t& status);

    /// Number of failures injected so far (all rules).
    size_t injectedCount() const;

private:
    struct Rule {
        std::string module;
        std::string entry;
        int gpu;
        unsigned nth;
        unsigned times;
        int64_t status;
        unsigned seen = 0;
    };

    struct HiddenExport {
        std::string module;
        std::string name;
    };

    mutable std::mutex m_lock;
    std::vector<Rule> m_rules;
    std::vector<HiddenExport> m_hiddenExports;
    size_t m_injected = 0;
};

} // namespace sim
