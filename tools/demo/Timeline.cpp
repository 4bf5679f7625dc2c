// Drawing the timeline picture.
#include "Timeline.h"

#include "sim/gpus/PngWriter.h"

#include <algorithm>

namespace demo {

namespace {

constexpr uint32_t kWidth = 1600;
constexpr uint32_t kMargin = 8;
constexpr uint32_t kRowHeight = 28;
constexpr uint32_t kRowGap = 6;
constexpr uint32_t kRows = 4;
constexpr uint64_t kGridNs = 100'000'000;

class Canvas {
public:
    Canvas(uint64_t firstNs, uint64_t lastNs) : m_firstNs(firstNs) {
        m_image.width = kWidth;
        m_image.height = kMargin * 2 + kRows * kRowHeight + (kRows - 1) * kRowGap;
        m_image.pixels.assign(size_t(m_image.width) * m_image.height, TimelineColours::kBackground);
        m_spanNs = std::max<uint64_t>(lastNs - firstNs, 1);
        for (uint64_t t = firstNs; t <= lastNs; t += kGridNs)
            fill(xOf(t), 0, 1, m_image.height, TimelineColours::kGrid);
    }

    // A mark of one event in a row; marks two pixels wide so that dense events stay visible.
    void mark(uint32_t row, uint64_t timeNs, uint32_t colour) {
        uint32_t top = kMargin + row * (kRowHeight + kRowGap);
        fill(xOf(timeNs), top, 2, kRowHeight, colour);
    }

    const sim::Image& image() const { return m_image; }

private:
    uint32_t xOf(uint64_t timeNs) const {
        uint64_t usable = kWidth - 2 * kMargin - 2;
        uint64_t offset = timeNs > m_firstNs ? timeNs - m_firstNs : 0;
        return kMargin + uint32_t(std::min<uint64_t>(offset * usable / m_spanNs, usable));
    }

    void fill(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t colour) {
        for (uint32_t row = y; row < y + h && row < m_image.height; ++row) {
            for (uint32_t col = x; col < x + w && col < m_image.width; ++col)
                m_image.pixels[size_t(row) * m_image.width + col] = colour;
        }
    }

    sim::Image m_image;
    uint64_t m_firstNs;
    uint64_t m_spanNs;
};

uint32_t colourOf(ShownFrame::Kind kind) {
    switch (kind) {
    case ShownFrame::Kind::New:
        return TimelineColours::kNew;
    case ShownFrame::Kind::Repeated:
        return TimelineColours::kRepeated;
    case ShownFrame::Kind::Mismatched:
        return TimelineColours::kMismatched;
    case ShownFrame::Kind::Unchecked:
        break;
    }
    return TimelineColours::kUnchecked;
}

} // namespace

bool writeTimeline(const TimelineEvents& events, const std::string& path, std::string& error) {
    uint64_t first = UINT64_MAX;
    uint64_t last = 0;
    auto span = [&](uint64_t t) {
        first = std::min(first, t);
        last = std::max(last, t);
    };
    for (const auto* row : {&events.appPresents, &events.transfers, &events.presentingPresents}) {
        for (uint64_t t : *row)
            span(t);
    }
    for (const ShownFrame& s : events.scanOuts)
        span(s.timeNs);
    if (first > last)
        first = last = 0;
    Canvas canvas(first, last);
    for (uint64_t t : events.appPresents)
        canvas.mark(0, t, TimelineColours::kEvent);
    for (uint64_t t : events.transfers)
        canvas.mark(1, t, TimelineColours::kEvent);
    for (uint64_t t : events.presentingPresents)
        canvas.mark(2, t, TimelineColours::kEvent);
    for (const ShownFrame& s : events.scanOuts)
        canvas.mark(3, s.timeNs, colourOf(s.kind));
    return sim::PngWriter::write(path, canvas.image(), false, &error);
}

} // namespace demo
