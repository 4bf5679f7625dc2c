// The simulated Windows machine: the one object every simulated module and test reaches.
#pragma once

#include "sim/Environment.h"
#include "sim/Export.h"
#include "sim/FaultInjector.h"
#include "sim/FileVersions.h"
#include "sim/HandleTable.h"
#include "sim/Journal.h"
#include "sim/MessageBoxLog.h"
#include "sim/ModuleSearchPath.h"
#include "sim/Registry.h"
#include "sim/RootFolder.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace sim {

/// The machine: its root folder, module search path, call journal, fault injection,
/// message boxes, environment, registry, kernel handles and file-version data.
///
/// One per process, created on first use and never destroyed (modules and reports may
/// still reach it while the process exits). The root folder is VESSA_SIM_ROOT from the host
/// environment when set (kept afterwards), else a fresh temporary folder removed at exit.
class SIM_API Machine {
public:
    /// The process's machine.
    static Machine& instance();

    RootFolder& root() { return m_root; }
    ModuleSearchPath& modules() { return m_modules; }
    Journal& journal() { return m_journal; }
    FaultInjector& faults() { return m_faults; }
    MessageBoxLog& messageBoxes() { return m_messageBoxes; }
    Environment& environment() { return m_environment; }
    Registry& registry() { return m_registry; }
    HandleTable& handles() { return m_handles; }
    FileVersions& fileVersions() { return m_fileVersions; }

    /// Whether a debugger is attached: IsDebuggerPresent reports it, and DebugBreak then
    /// records a break in the journal (kernel32.dll!DebugBreak) instead of trapping.
    void setDebuggerAttached(bool attached) { m_debuggerAttached = attached; }
    bool debuggerAttached() const { return m_debuggerAttached; }

    /// Breaks recorded while a debugger was attached.
    size_t debugBreakCount() const { return m_debugBreaks; }
    void noteDebugBreak() { ++m_debugBreaks; }

    /// The most bytes one WriteFile moves into a named pipe (0, the default: no limit), so
    /// tests can see writers continue after a short write.
    void setPipeWriteLimit(size_t bytes) { m_pipeWriteLimit = bytes; }
    size_t pipeWriteLimit() const { return m_pipeWriteLimit; }

    /// The Windows path GetModuleFileNameW(NULL) reports for the executable
    /// ("C:\Games\Bin\game.exe"); empty (the default) reports the real executable's path.
    /// A path inside the root also becomes the loader's application folder.
    void setExecutablePath(std::u16string windowsPath);
    std::u16string executablePath() const;

private:
    Machine();

    RootFolder m_root;
    ModuleSearchPath m_modules;
    Journal m_journal;
    FaultInjector m_faults;
    MessageBoxLog m_messageBoxes;
    Environment m_environment;
    Registry m_registry;
    HandleTable m_handles;
    FileVersions m_fileVersions;
    std::atomic<bool> m_debuggerAttached{false};
    std::atomic<size_t> m_debugBreaks{0};
    std::atomic<size_t> m_pipeWriteLimit{0};
    mutable std::mutex m_lock;
    std::u16string m_executablePath;
};

/// The calling thread's last error (what GetLastError reports).
SIM_API uint32_t lastError();
SIM_API void setLastError(uint32_t error);

/// The calling thread's id, as GetCurrentThreadId reports it.
SIM_API uint32_t currentThreadId();

} // namespace sim
