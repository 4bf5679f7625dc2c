// An application script: which scene to run, how many frames at what rate, and on which
// path (straight on one GPU's driver, or through a named export of a named library such as
// the interposer). Scenario files carry them as "[app <name>]" sections.
#pragma once

#include "sim/Export.h"
#include "sim/app/Scene.h"
#include "sim/gpus/MachineDesc.h"
#include "sim/runtime/RuntimeAdapter.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace sim {
namespace app {

/// How the application reaches a driver.
enum class AppPath {
    Direct,     ///< the vendor driver of one GPU, entered through its own OpenAdapter
    Interposed, ///< a named export of a named library, on the display's adapter
};

/// One scripted application run.
struct AppScript {
    std::string name = "app";
    SceneKind scene = SceneKind::Rectangles;
    uint32_t frames = 60;
    double rate = 60.0; ///< presents per second; 0 presents as fast as it can
    AppPath path = AppPath::Direct;
    std::string gpu;     ///< direct: GPU id or index; empty: the primary display's GPU
    std::string display; ///< interposed: display device; empty: the primary display
    std::string library = "vessad3d9u.dll";        ///< interposed only
    std::string entry = "OpenAdapter9DetourIntel"; ///< interposed only
    uint32_t width = 0; ///< frame size; 0: the display mode (the window: 640x480)
    uint32_t height = 0;
    uint32_t backBuffers = 2; ///< flip chain: surfaces besides the front buffer
    uint32_t interval = 1;    ///< D3DDDI_FLIPINTERVAL_TYPE of each present
    uint32_t frameUs = 0;     ///< CPU time the application spends per frame (machine clock)
    /// The application's executable (a Windows path the run reports as its own file name,
    /// which selects its section of the product's application database); empty: unchanged.
    std::string executable;
    /// Full screen only: at frame `switchFrame` (0: never) the application changes the
    /// display mode to switchWidth x switchHeight, with a new flip chain of that size.
    uint32_t switchFrame = 0;
    uint32_t switchWidth = 0;
    uint32_t switchHeight = 0;
    /// Corner where the product's in-game icon is drawn ("UL", "UR", "LL", "LR"); the
    /// oracle comparison leaves that rectangle out. Empty: no icon expected.
    std::string iconCorner;
};

/// Sets one script key ("scene", "frames", "rate", "path", "gpu", "display", "library",
/// "export", "size", "backbuffers", "interval", "frame-us", "exe", "icon-corner", "mode-switch" as
/// "<frame> <W>x<H>"); false with a reason for a bad key or value.
SIM_API bool setScriptKey(AppScript& script, const std::string& key, const std::string& value,
                          std::string& error);

/// Registers the "[app <name>]" section with the scenario loader (idempotent; done when
/// this library loads).
SIM_API void registerScenarioSection();

/// Loads a scenario file: the machine and its application scripts, in file order.
SIM_API bool loadScenario(const std::string& path, MachineDesc& machine,
                          std::vector<AppScript>& scripts, std::string* error = nullptr);
/// The same from text.
SIM_API bool loadScenarioText(const std::string& text, const std::string& name,
                              MachineDesc& machine, std::vector<AppScript>& scripts,
                              std::string* error = nullptr);

/// The GPU index a direct script runs on in a machine; -1 when it names none.
SIM_API int scriptGpu(const AppScript& script, const MachineDesc& machine);

} // namespace app
} // namespace sim
