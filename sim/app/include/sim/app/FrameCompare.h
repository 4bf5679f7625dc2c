// Comparing a scanned-out frame with the oracle, with rectangles left out (the system's
// in-game icon is drawn only into interposed frames).
#pragma once

#include "platform/win.h"
#include "sim/Export.h"
#include "sim/gpus/PngWriter.h"

#include <stddef.h>
#include <stdint.h>
#include <vector>

namespace sim {
namespace app {

/// The outcome of one comparison.
struct FrameDifference {
    bool sameSize = false;
    size_t differing = 0; ///< pixels that differ outside the ignored rectangles
    uint32_t firstX = 0;  ///< the first differing pixel, row by row
    uint32_t firstY = 0;
    uint32_t expected = 0; ///< its oracle value and the value shown
    uint32_t actual = 0;

    bool equal() const { return sameSize && differing == 0; }
};

/// Compares two frames pixel by pixel, skipping pixels inside any of `ignored`. Frames of
/// different sizes differ (sameSize false).
SIM_API FrameDifference compareFrames(const Image& expected, const Image& actual,
                                      const std::vector<RECT>& ignored = {});

} // namespace app
} // namespace sim
