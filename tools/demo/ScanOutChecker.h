// Checks every frame a display showed during a run against the pixel oracle: which
// application frame it is (outside the ignored rectangles), and whether it is new or the
// frame shown before again.
#pragma once

#include "RunSummary.h"

#include "platform/win.h"
#include "sim/app/AppScript.h"
#include "sim/app/SceneRunner.h"
#include "sim/gpus/PngWriter.h"

#include <map>
#include <stdint.h>
#include <string>
#include <vector>

namespace demo {

/// One scan-out, classified.
struct ShownFrame {
    enum class Kind {
        New,        ///< an application frame not shown before
        Repeated,   ///< the application frame shown last, again
        Mismatched, ///< no application frame looks like it
        Unchecked,  ///< its pixels were no longer kept when it was looked at
    };
    uint64_t timeNs = 0;
    Kind kind = Kind::Unchecked;
    int64_t frame = -1; ///< the application frame it shows, -1 when none
};

/// Follows one display source through a run. Call check() whenever the application has
/// presented (and once at the end); each call looks at the scan-outs since the last one.
class ScanOutChecker {
public:
    explicit ScanOutChecker(const sim::app::AppScript& script) : m_script(script) {}

    /// The corner of the shown frames whose icon rectangle the comparison leaves out ("UL",
    /// "UR", "LL", "LR"; "" for none). The rectangle follows each frame's size, as the icon
    /// follows a mode switch.
    void setIconCorner(std::string corner) { m_iconCorner = std::move(corner); }

    /// Classifies the scan-outs of the report's display source that came since the last
    /// call; `newestFrame` is the newest application frame presented so far.
    void check(const sim::app::RunReport& report, uint32_t newestFrame);

    const std::vector<ShownFrame>& shown() const { return m_shown; }
    /// The first mismatch, described ("" when every checked frame matched).
    const std::string& firstDifference() const { return m_firstDifference; }
    /// Matching frames whose ignored rectangles differ from the oracle: the icon was drawn.
    uint64_t iconFrames() const { return m_iconFrames; }

private:
    const sim::Image& oracle(const sim::app::RunReport& report, uint32_t frame);
    bool matches(const sim::app::RunReport& report, uint32_t frame, const sim::Image& shown,
                 const std::vector<RECT>& ignored);
    void describeMismatch(const sim::app::RunReport& report, uint32_t frame,
                          const sim::Image& shown, const std::vector<RECT>& ignored);

    const sim::app::AppScript& m_script;
    std::string m_iconCorner;
    std::vector<ShownFrame> m_shown;
    std::map<uint32_t, sim::Image> m_oracles; ///< recent oracle frames by number
    int64_t m_lastFrame = -1;                 ///< the application frame shown last
    std::string m_firstDifference;
    uint64_t m_iconFrames = 0;
};

/// Fills a summary's display figures from the classified scan-outs: scan-outs, compared,
/// new, repeated, exact, mismatched, and the mean and worst interval between the scan-outs
/// of consecutive new frames.
void summariseShown(const std::vector<ShownFrame>& shown, RunSummary& summary);

/// Fills a summary's run figures from the run's report (GPUs, size, frames, times) and the
/// checker's findings (first difference, icon frames, the display figures above). The
/// outcome (ok, result) is the caller's, which words failures its own way.
void summariseRun(const sim::app::RunReport& report, const ScanOutChecker& checker,
                  RunSummary& summary);

/// The icon's rectangle in a corner ("UL", "UR", "LL", "LR") of a surface; none for "".
std::vector<RECT> iconRectangles(const std::string& corner, uint32_t width, uint32_t height);

} // namespace demo
