// The simulated interop library's settings, shared by every module of the process.
#include "sim/gpus/InteropSettings.h"

#include <atomic>

namespace sim {

namespace {
std::atomic<bool> s_movePixels{true};
} // namespace

InteropSettings interopSettings() {
    InteropSettings settings;
    settings.movePixels = s_movePixels.load();
    return settings;
}

void setInteropSettings(const InteropSettings& settings) {
    s_movePixels = settings.movePixels;
}

} // namespace sim
