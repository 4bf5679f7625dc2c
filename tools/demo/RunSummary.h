// What one demo run produced, in a form that crosses from the run's own process (each run
// is a process of its own, as each game is) to the demo that collects the report.
#pragma once

#include <stdint.h>
#include <string>
#include <vector>

namespace demo {

/// Results of one run: the application's side, the display's, and what the journal says.
struct RunSummary {
    std::string name;
    std::string scene;
    std::string path;     ///< "direct" or "interposed"
    std::string pathText; ///< "direct on GPU nvidia", "interposed: lib!export"
    bool ok = false;      ///< every frame was rendered and presented
    std::string result;   ///< "ok", or the failure ("0x80070057 create the swap chain")
    int gpu = -1;         ///< GPU whose driver the runtime opened
    int displayGpu = -1;  ///< GPU whose display showed the frames
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t framesRequested = 0;
    uint32_t framesPresented = 0; ///< application presents
    double seconds = 0.0;         ///< machine time of the frame loop
    double averageFrameMs = 0.0;
    double worstFrameMs = 0.0;

    uint64_t scanOuts = 0;   ///< frames the display showed during the run
    uint64_t compared = 0;   ///< of these, compared with the oracle
    uint64_t newFrames = 0;  ///< shown frames equal to an application frame not shown before
    uint64_t repeated = 0;   ///< shown frames equal to the application frame shown last
    uint64_t exact = 0;      ///< shown frames equal to some application frame (new + repeated)
    uint64_t mismatched = 0; ///< shown frames equal to none
    uint64_t iconFrames = 0; ///< matching frames that differ inside the icon's rectangle
    double meanNewIntervalMs = 0.0; ///< between the scan-outs of consecutive new frames
    double worstNewIntervalMs = 0.0;
    std::string transferPath;
    std::string firstDifference;

    std::vector<std::string> pngs;   ///< frames written, relative to the output folder
    std::string timeline;            ///< the timeline picture, relative to the output folder
    std::vector<std::string> counts; ///< journal and driver counts, one line each

    /// Every shown frame was compared and equals an application frame.
    bool allExact() const { return ok && compared == scanOuts && mismatched == 0 && scanOuts > 0; }

    /// One "key=value" line per field (lists repeat their key).
    std::string serialize() const;
    /// Reads what serialize wrote; unknown keys are skipped. False when nothing was read.
    bool parse(const std::string& text);
};

} // namespace demo
