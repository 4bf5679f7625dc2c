// Frame comparison against the oracle.
#include "sim/app/FrameCompare.h"

namespace sim {
namespace app {

namespace {

bool inside(const std::vector<RECT>& rects, uint32_t x, uint32_t y) {
    for (const RECT& r : rects) {
        if (LONG(x) >= r.left && LONG(x) < r.right && LONG(y) >= r.top && LONG(y) < r.bottom)
            return true;
    }
    return false;
}

} // namespace

FrameDifference compareFrames(const Image& expected, const Image& actual,
                              const std::vector<RECT>& ignored) {
    FrameDifference d;
    d.sameSize = expected.width == actual.width && expected.height == actual.height &&
                 expected.pixels.size() == actual.pixels.size() &&
                 expected.pixels.size() == size_t(expected.width) * expected.height;
    if (!d.sameSize)
        return d;
    for (uint32_t y = 0; y < expected.height; ++y) {
        const uint32_t* pExpected = &expected.pixels[size_t(y) * expected.width];
        const uint32_t* pActual = &actual.pixels[size_t(y) * actual.width];
        for (uint32_t x = 0; x < expected.width; ++x) {
            if (pExpected[x] == pActual[x] || (!ignored.empty() && inside(ignored, x, y)))
                continue;
            if (d.differing++ == 0) {
                d.firstX = x;
                d.firstY = y;
                d.expected = pExpected[x];
                d.actual = pActual[x];
            }
        }
    }
    return d;
}

} // namespace app
} // namespace sim
