// Scan-out recording and the conversion of display formats into comparable frames.
#include "sim/gpus/Display.h"

#include "sim/gpus/Kernel.h"
#include "sim/gpus/MachineDesc.h"

#include <stdio.h>
#include <string.h>

namespace sim {

Display& Display::instance() {
    // Never destroyed: presents may still arrive from threads during process exit.
    static Display* s_pDisplay = new Display();
    return *s_pDisplay;
}

void Display::record(ScanOut scanOut) {
    std::lock_guard<std::mutex> guard(m_lock);
    scanOut.sequence = ++m_sequence;
    Source& source = m_sources[{scanOut.gpu, scanOut.vidPnSourceId}];
    ++source.count;
    source.times.push_back(scanOut.timeNs);
    source.frames.push_back(std::move(scanOut));
    if (source.frames.size() > m_keepLimit)
        source.frames.erase(source.frames.begin(),
                            source.frames.begin() + (source.frames.size() - m_keepLimit));
}

void Display::settled() const {
    // Presents the GPUs have reached by now are on the display before anyone looks; the
    // kernel lock is taken before the display's, as when a present's scan-out records.
    Kernel::instance().settleGpus();
}

bool Display::waitForCount(int gpu, uint32_t vidPnSourceId, uint64_t scanOuts) const {
    return Kernel::instance().waitForGpus([&] {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_sources.find({gpu, vidPnSourceId});
        return it != m_sources.end() && it->second.count >= scanOuts;
    });
}

uint64_t Display::count(int gpu, uint32_t vidPnSourceId) const {
    settled();
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_sources.find({gpu, vidPnSourceId});
    return it == m_sources.end() ? 0 : it->second.count;
}

uint64_t Display::totalCount() const {
    settled();
    std::lock_guard<std::mutex> guard(m_lock);
    uint64_t total = 0;
    for (const auto& entry : m_sources)
        total += entry.second.count;
    return total;
}

bool Display::last(int gpu, uint32_t vidPnSourceId, ScanOut& out) const {
    settled();
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_sources.find({gpu, vidPnSourceId});
    if (it == m_sources.end() || it->second.frames.empty())
        return false;
    out = it->second.frames.back();
    return true;
}

std::vector<ScanOut> Display::kept(int gpu, uint32_t vidPnSourceId) const {
    settled();
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_sources.find({gpu, vidPnSourceId});
    return it == m_sources.end() ? std::vector<ScanOut>() : it->second.frames;
}

std::vector<uint64_t> Display::times(int gpu, uint32_t vidPnSourceId) const {
    settled();
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_sources.find({gpu, vidPnSourceId});
    return it == m_sources.end() ? std::vector<uint64_t>() : it->second.times;
}

void Display::setKeepLimit(size_t frames) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_keepLimit = frames == 0 ? 1 : frames;
}

void Display::clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_sources.clear();
}

bool Display::writeLastPng(int gpu, uint32_t vidPnSourceId, const std::string& path,
                           std::string* error) const {
    ScanOut scanOut;
    if (!last(gpu, vidPnSourceId, scanOut)) {
        if (error)
            *error = "no scan-out on that video present source";
        return false;
    }
    return PngWriter::write(path, scanOut.image, scanOut.sourceFormat == kFormatA8R8G8B8, error);
}

size_t Display::writeKeptPngs(const std::string& directory, std::string* error) const {
    std::vector<ScanOut> frames;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const auto& entry : m_sources)
            frames.insert(frames.end(), entry.second.frames.begin(), entry.second.frames.end());
    }
    size_t written = 0;
    for (const ScanOut& frame : frames) {
        char name[96];
        snprintf(name, sizeof name, "/gpu%d-source%u-%06llu.png", frame.gpu, frame.vidPnSourceId,
                 static_cast<unsigned long long>(frame.sequence));
        if (!PngWriter::write(directory + name, frame.image, frame.sourceFormat == kFormatA8R8G8B8,
                              error))
            return written;
        ++written;
    }
    return written;
}

bool convertToImage(const uint8_t* pBits, uint32_t pitch, uint32_t width, uint32_t height,
                    uint32_t format, Image& out) {
    uint32_t bpp = formatBitsPerPixel(format);
    if (!pBits ||
        (format != kFormatA8R8G8B8 && format != kFormatX8R8G8B8 && format != kFormatR5G6B5) ||
        pitch < width * (bpp / 8))
        return false;
    out.width = width;
    out.height = height;
    out.pixels.resize(size_t(width) * height);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = pBits + size_t(y) * pitch;
        uint32_t* dst = out.pixels.data() + size_t(y) * width;
        if (format == kFormatR5G6B5) {
            for (uint32_t x = 0; x < width; ++x) {
                uint16_t p;
                memcpy(&p, row + x * 2, 2);
                uint32_t r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
                dst[x] = 0xFF000000u | (((r << 3) | (r >> 2)) << 16) |
                         (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
            }
        } else {
            memcpy(dst, row, size_t(width) * 4);
            if (format == kFormatX8R8G8B8) {
                for (uint32_t x = 0; x < width; ++x)
                    dst[x] |= 0xFF000000u;
            }
        }
    }
    return true;
}

} // namespace sim
