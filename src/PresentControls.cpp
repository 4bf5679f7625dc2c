// The process-wide present controls and their export.
#include "PresentControls.h"

namespace {

// Plain aligned storage: other modules write it through the exported addresses.
alignas(4) uint32_t s_flipInterval = 1;
bool s_performPresent = true;
bool s_forceInterval = true;

} // namespace

VESSA_EXPORT bool getInterval(uint32_t** ppInterval, bool** ppPerformPresent,
                              bool** ppForceInterval) {
    if (!ppInterval || !ppPerformPresent || !ppForceInterval)
        return false;
    *ppInterval = &s_flipInterval;
    *ppPerformPresent = &s_performPresent;
    *ppForceInterval = &s_forceInterval;
    return true;
}

namespace PresentControls {

// Single loads of single aligned values: whoever writes them, on whatever thread, a reader
// sees either the old or the new value.
uint32_t flipInterval() {
    return __atomic_load_n(&s_flipInterval, __ATOMIC_RELAXED);
}

bool performPresent() {
    return __atomic_load_n(&s_performPresent, __ATOMIC_RELAXED);
}

bool forceInterval() {
    return __atomic_load_n(&s_forceInterval, __ATOMIC_RELAXED);
}

} // namespace PresentControls
