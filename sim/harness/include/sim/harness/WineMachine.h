// The simulated hybrid machine inside a real Windows process (the Wine test harness).
//
// The product DLL is the file that ships: it reaches the kernel thunks through
// GetProcAddress on gdi32.dll, the display devices through user32.dll and its settings
// through the registry. The harness hooks, with the product's own interception engine,
// kernel32's GetProcAddress (so gdi32's D3DKMT* names lead to the simulated kernel's
// thunks in simgdi32.dll) and user32's EnumDisplayDevicesW/A (answered by simuser32.dll
// from the installed machine), and writes the registry values the product reads.
#pragma once

#include "sim/gpus/MachineDesc.h"

#include <string>

namespace sim {
namespace harness {

class WineMachine {
public:
    /// Installs `desc` as the simulated machine, hooks the system entries (once per
    /// process) and writes the machine's video keys and the driver's key
    /// (InstallDirectory and ConfigFileDirectory: `productDirectory`) into the registry.
    /// False, with the reason in error, when any step fails.
    static bool install(const MachineDesc& desc, const std::wstring& productDirectory,
                        std::string* error);

    /// The folder of the running executable, without a trailing backslash.
    static std::wstring executableDirectory();
};

} // namespace harness
} // namespace sim
