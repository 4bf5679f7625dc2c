// Runs an application script on the simulated machine: opens the adapter (directly on a
// GPU's driver, or through the interposer's export), creates a device and the scene's
// surfaces, renders and presents the frames at the script's rate, and reports timings.
#pragma once

#include "sim/Export.h"
#include "sim/app/AppScript.h"

#include <functional>
#include <stdint.h>
#include <string>
#include <vector>

namespace sim {
namespace app {

/// What one run did.
struct RunReport {
    HRESULT result = E_FAIL; ///< S_OK when every frame was presented
    std::string failure;     ///< the step that failed, when one did
    int gpu = -1;            ///< GPU whose driver the runtime opened
    int displayGpu = -1;     ///< GPU whose display shows the frames
    uint32_t vidPnSourceId = 0;
    uint32_t width = 0; ///< frame size (before a mode switch)
    uint32_t height = 0;
    uint32_t switchedFrame = 0; ///< the frame a mode switch took effect at, 0: none
    uint32_t switchedWidth = 0; ///< the frame size from then on
    uint32_t switchedHeight = 0;
    uint32_t displayWidth = 0; ///< scanned-out image size (windowed: the shared primary)
    uint32_t displayHeight = 0;
    uint32_t framesPresented = 0;
    double seconds = 0.0;        ///< wall time of the frame loop
    double averageFrameMs = 0.0; ///< time spent drawing and presenting one frame
    double worstFrameMs = 0.0;
    std::vector<double> frameMs; ///< per frame
};

/// Called after each present with the frame number (tests check the display here).
using FrameObserver = std::function<void(uint32_t frame)>;

/// Runs application scripts.
class SIM_API SceneRunner {
public:
    /// Runs a script on the installed machine. The report says what happened; its result
    /// is also returned.
    static HRESULT run(const AppScript& script, RunReport& report,
                       const FrameObserver& observer = FrameObserver());

    /// The frame the display should show after frame `frame` of a script that ran with
    /// this report (the pixel oracle).
    static void expectedFrame(const AppScript& script, const RunReport& report, uint32_t frame,
                              Image& out);
};

} // namespace app
} // namespace sim
