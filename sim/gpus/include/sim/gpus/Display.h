// The simulated display: what each video present source of each GPU scanned out.
#pragma once

#include "sim/Export.h"

#include "sim/gpus/PngWriter.h"

#include <map>
#include <mutex>
#include <stdint.h>
#include <string>
#include <utility>
#include <vector>

namespace sim {

/// One scan-out: the frame a present put on a video present source.
struct ScanOut {
    int gpu = -1;               ///< index of the GPU in the machine description
    uint32_t vidPnSourceId = 0; ///< video present source on that GPU
    uint64_t sequence = 0;      ///< 1 for the first scan-out of the machine, then counting
    uint64_t timeNs = 0;        ///< machine clock (sim::Clock) when it showed
    uint32_t flipInterval = 0;  ///< D3DDDI_FLIPINTERVAL_TYPE of the present
    uint32_t presentFlags = 0;  ///< D3DKMT_PRESENTFLAGS of the present
    uint32_t sourceFormat = 0;  ///< D3DDDIFORMAT of the presented allocation
    Image image;                ///< the frame as 0xAARRGGBB pixels
};

/// Records every scan-out per (GPU, video present source). The newest frames are kept
/// with their pixels (a bounded number per source, so long runs stay small); counts and
/// times are kept for all of them.
class SIM_API Display {
public:
    /// The machine's display.
    static Display& instance();

    /// Records a scan-out; its sequence number is assigned here.
    void record(ScanOut scanOut);

    /// Waits until a source has shown `scanOuts` frames since the last clear (the GPUs run
    /// their queued presents meanwhile); false when no GPU work could bring them.
    bool waitForCount(int gpu, uint32_t vidPnSourceId, uint64_t scanOuts) const;

    /// Number of scan-outs of a source since the last clear. Like every query here, it
    /// first lets the GPUs run what is due, so presents they reached are counted.
    uint64_t count(int gpu, uint32_t vidPnSourceId) const;
    /// Number of scan-outs on all sources since the last clear.
    uint64_t totalCount() const;
    /// The newest scan-out of a source; false when it has none.
    bool last(int gpu, uint32_t vidPnSourceId, ScanOut& out) const;
    /// The kept scan-outs of a source, oldest first.
    std::vector<ScanOut> kept(int gpu, uint32_t vidPnSourceId) const;
    /// Present times of every scan-out of a source, oldest first.
    std::vector<uint64_t> times(int gpu, uint32_t vidPnSourceId) const;

    /// How many frames with pixels each source keeps (default 16, at least 1).
    void setKeepLimit(size_t frames);
    /// Forgets every scan-out.
    void clear();

    /// Writes the newest scan-out of a source as a PNG file; false when there is none or
    /// the file cannot be written.
    bool writeLastPng(int gpu, uint32_t vidPnSourceId, const std::string& path,
                      std::string* error = nullptr) const;

    /// Writes every kept frame of every source into a host folder as
    /// "gpu<g>-source<s>-<sequence>.png"; returns the number written, and stops with the
    /// reason in error at the first file that cannot be written.
    size_t writeKeptPngs(const std::string& directory, std::string* error = nullptr) const;

private:
    void settled() const;

    struct Source {
        uint64_t count = 0;
        std::vector<uint64_t> times;
        std::vector<ScanOut> frames;
    };

    mutable std::mutex m_lock;
    std::map<std::pair<int, uint32_t>, Source> m_sources;
    uint64_t m_sequence = 0;
    size_t m_keepLimit = 16;
};

/// Converts rows of a display format (A8R8G8B8, X8R8G8B8, R5G6B5) to 0xAARRGGBB pixels.
/// False when the format is not one the display can show.
SIM_API bool convertToImage(const uint8_t* pBits, uint32_t pitch, uint32_t width, uint32_t height,
                            uint32_t format, Image& out);

} // namespace sim
