// Classifying scan-outs against the oracle.
#include "ScanOutChecker.h"

#include "sim/app/FrameCompare.h"
#include "sim/gpus/Display.h"

#include <algorithm>
#include <stdio.h>

namespace demo {

namespace {

// The product's in-game icon: 180 x 89 pixels in a corner of the presented surface.
constexpr uint32_t kIconWidth = 180;
constexpr uint32_t kIconHeight = 89;

// How many application frames, newest first, a shown frame is compared with besides the
// one shown last: pacing shows recent frames, and each comparison costs a frame's oracle.
constexpr uint32_t kCandidates = 16;

} // namespace

std::vector<RECT> iconRectangles(const std::string& corner, uint32_t width, uint32_t height) {
    if (corner.size() != 2)
        return {};
    LONG w = LONG(std::min(width, kIconWidth));
    LONG h = LONG(std::min(height, kIconHeight));
    LONG left = corner[1] == 'R' ? LONG(width) - w : 0;
    LONG top = corner[0] == 'L' ? LONG(height) - h : 0;
    return {RECT{left, top, left + w, top + h}};
}

const sim::Image& ScanOutChecker::oracle(const sim::app::RunReport& report, uint32_t frame) {
    auto found = m_oracles.find(frame);
    if (found != m_oracles.end())
        return found->second;
    sim::Image& image = m_oracles[frame];
    sim::app::SceneRunner::expectedFrame(m_script, report, frame, image);
    return image;
}

bool ScanOutChecker::matches(const sim::app::RunReport& report, uint32_t frame,
                             const sim::Image& shown, const std::vector<RECT>& ignored) {
    return sim::app::compareFrames(oracle(report, frame), shown, ignored).equal();
}

void ScanOutChecker::describeMismatch(const sim::app::RunReport& report, uint32_t frame,
                                      const sim::Image& shown, const std::vector<RECT>& ignored) {
    if (!m_firstDifference.empty())
        return;
    const sim::Image& expected = oracle(report, frame);
    sim::app::FrameDifference d = sim::app::compareFrames(expected, shown, ignored);
    char text[200];
    if (d.sameSize)
        snprintf(text, sizeof text,
                 "scan-out %zu (application frame %u presented last): %zu pixels differ, the "
                 "first at (%u,%u): 0x%08X expected, 0x%08X shown",
                 m_shown.size(), frame, d.differing, d.firstX, d.firstY, d.expected, d.actual);
    else
        snprintf(text, sizeof text,
                 "scan-out %zu (application frame %u presented last): %ux%u shown, %ux%u "
                 "expected",
                 m_shown.size(), frame, shown.width, shown.height, expected.width, expected.height);
    m_firstDifference = text;
}

void ScanOutChecker::check(const sim::app::RunReport& report, uint32_t newestFrame) {
    if (report.displayGpu < 0)
        return;
    sim::Display& display = sim::Display::instance();
    // Every read of the display first runs what the GPUs have due, and the product's threads
    // may present meanwhile: the times and the kept frames are one picture only when no
    // scan-out came between them.
    std::vector<uint64_t> times;
    std::vector<sim::ScanOut> kept;
    for (int attempt = 0; attempt < 100; ++attempt) {
        times = display.times(report.displayGpu, report.vidPnSourceId);
        kept = display.kept(report.displayGpu, report.vidPnSourceId);
        if (display.count(report.displayGpu, report.vidPnSourceId) == times.size() &&
            kept.size() <= times.size())
            break;
    }
    size_t total = times.size();
    size_t firstKept = total >= kept.size() ? total - kept.size() : 0;
    for (size_t index = m_shown.size(); index < total; ++index) {
        ShownFrame shown;
        shown.timeNs = times[index];
        if (index < firstKept) {
            m_shown.push_back(shown); // shown and gone before it could be looked at
            continue;
        }
        const sim::Image& image = kept[index - firstKept].image;
        std::vector<RECT> ignored = iconRectangles(m_iconCorner, image.width, image.height);
        if (m_lastFrame >= 0 && matches(report, uint32_t(m_lastFrame), image, ignored)) {
            shown.kind = ShownFrame::Kind::Repeated;
            shown.frame = m_lastFrame;
        } else {
            uint32_t oldest = uint32_t(std::max<int64_t>(m_lastFrame + 1, 0));
            uint32_t stop = newestFrame >= kCandidates ? newestFrame - kCandidates : 0;
            for (int64_t f = newestFrame; f >= int64_t(std::max(oldest, stop)); --f) {
                if (matches(report, uint32_t(f), image, ignored)) {
                    shown.kind = ShownFrame::Kind::New;
                    shown.frame = f;
                    m_lastFrame = f;
                    break;
                }
            }
            if (shown.kind != ShownFrame::Kind::New) {
                shown.kind = ShownFrame::Kind::Mismatched;
                describeMismatch(report, newestFrame, image, ignored);
            }
        }
        if (shown.frame >= 0 && !ignored.empty() &&
            !sim::app::compareFrames(oracle(report, uint32_t(shown.frame)), image).equal())
            ++m_iconFrames;
        m_shown.push_back(shown);
        // Frames older than the one shown last are never looked for again.
        m_oracles.erase(m_oracles.begin(),
                        m_oracles.lower_bound(uint32_t(std::max<int64_t>(m_lastFrame, 0))));
    }
}

void summariseRun(const sim::app::RunReport& report, const ScanOutChecker& checker, RunSummary& s) {
    s.gpu = report.gpu;
    s.displayGpu = report.displayGpu;
    s.width = report.width;
    s.height = report.height;
    s.framesPresented = report.framesPresented;
    s.seconds = report.seconds;
    s.averageFrameMs = report.averageFrameMs;
    s.worstFrameMs = report.worstFrameMs;
    s.firstDifference = checker.firstDifference();
    s.iconFrames = checker.iconFrames();
    summariseShown(checker.shown(), s);
}

// Pacing figures of the shown frames: counts and the intervals between new frames.
void summariseShown(const std::vector<ShownFrame>& shown, RunSummary& s) {
    s.scanOuts = shown.size();
    uint64_t previousNew = 0;
    bool havePrevious = false;
    double totalMs = 0.0;
    uint64_t intervals = 0;
    for (const ShownFrame& f : shown) {
        switch (f.kind) {
        case ShownFrame::Kind::New:
            ++s.newFrames;
            if (havePrevious) {
                double ms = double(f.timeNs - previousNew) / 1e6;
                totalMs += ms;
                ++intervals;
                s.worstNewIntervalMs = std::max(s.worstNewIntervalMs, ms);
            }
            previousNew = f.timeNs;
            havePrevious = true;
            break;
        case ShownFrame::Kind::Repeated:
            ++s.repeated;
            break;
        case ShownFrame::Kind::Mismatched:
            ++s.mismatched;
            break;
        case ShownFrame::Kind::Unchecked:
            break;
        }
    }
    s.exact = s.newFrames + s.repeated;
    s.compared = s.exact + s.mismatched;
    s.meanNewIntervalMs = intervals ? totalMs / double(intervals) : 0.0;
}

} // namespace demo
