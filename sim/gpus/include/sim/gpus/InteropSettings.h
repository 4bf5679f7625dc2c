// What a benchmark or test may change on the simulated interop library (vessaInterop.dll),
// which reads these settings at every copy it records. Kept in the GPUs' library because
// the interop library is loaded as a module of the simulated machine and shares it.
#pragma once

#include "sim/Export.h"

namespace sim {

struct InteropSettings {
    /// Whether the library's copies move pixels. Off, every copy is still recorded, submitted
    /// and waited for as usual but moves nothing: a baseline for what the copies cost.
    bool movePixels = true;
};

SIM_API InteropSettings interopSettings();
SIM_API void setInteropSettings(const InteropSettings& settings);

} // namespace sim
