// FlipManager: paces the presents of one device.
//
// The device creates it with its options; the routing of the wrapped entries reads the
// drop-draw option and the drop-frame flag and writes the present interval and rates. The
// pacing decision itself (onPresent) comes with the present paths.
#pragma once

#include <stdint.h>

class Device;
class SwapChainDDI9;

class FlipManager {
public:
    FlipManager(Device* pDevice, SwapChainDDI9* pSwapChain, bool orrEnabled);
    virtual ~FlipManager() = default;

    FlipManager(const FlipManager&) = delete;
    FlipManager& operator=(const FlipManager&) = delete;

    /// The options the device sets after construction: `use_zari_dx9` and `drop_draw_dx9`.
    void setZari(bool zari) { m_zari = zari; }
    void setDropDraw(bool dropDraw) { m_dropDraw = dropDraw; }
    bool zari() const { return m_zari; }
    bool dropDraw() const { return m_dropDraw; }
    bool orrEnabled() const { return m_orrEnabled; }
    Device* device() const { return m_pDevice; }
    SwapChainDDI9* swapChain() const { return m_pSwapChain; }
    /// Draws of the current frame are skipped: drop-draw mode and a dropped frame.
    bool dropsDraws() const { return m_dropDraw && m_frameDropped; }

    /// Marks the pacing decision for re-evaluation and clears the accumulated pacing.
    void resetPacing();

    bool m_decision;
    bool m_decisionPending;
    bool m_vsyncRequested;
    bool m_frameDropped;
    float m_dropAccumulator;
    float m_measuredRate;
    uint32_t m_presentInterval;
    uint32_t m_refreshRate;
    uint32_t m_margin;
    uint32_t m_targetRate;

private:
    Device* m_pDevice;
    SwapChainDDI9* m_pSwapChain;
    bool m_orrEnabled;
    bool m_zari;
    bool m_dropDraw;
};
