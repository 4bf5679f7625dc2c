// The timeline picture of a run: one row per stage of a frame (application present,
// transfer, presenting-GPU present, scan-out), a mark per event on a common time axis;
// scan-outs coloured by what they showed (new, repeated, mismatched, unchecked).
#pragma once

#include "ScanOutChecker.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace demo {

/// The events of one run on the machine's clock.
struct TimelineEvents {
    std::vector<uint64_t> appPresents;
    std::vector<uint64_t> transfers;
    std::vector<uint64_t> presentingPresents;
    std::vector<ShownFrame> scanOuts;
};

/// Colours of the picture (0xAARRGGBB), for the report's legend.
struct TimelineColours {
    static constexpr uint32_t kBackground = 0xFF202020u;
    static constexpr uint32_t kGrid = 0xFF383838u;
    static constexpr uint32_t kEvent = 0xFFD0D0D0u;
    static constexpr uint32_t kNew = 0xFF30C050u;
    static constexpr uint32_t kRepeated = 0xFFE0A020u;
    static constexpr uint32_t kMismatched = 0xFFE03030u;
    static constexpr uint32_t kUnchecked = 0xFF707070u;
};

/// Draws the picture: time runs left to right over the span of all events, a faint line
/// every 100 ms. False with a reason when the file cannot be written.
bool writeTimeline(const TimelineEvents& events, const std::string& path, std::string& error);

} // namespace demo
