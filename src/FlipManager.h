// FlipManager: paces the presents of one device.
//
// For every Present of the application it decides whether the swap chain shows a new frame
// or the last one again. Two policies: ZARI shows a new frame only once the presenting GPU
// has finished the previous one (an event query on that GPU tells); ORR drops frames above
// the target rate (refresh rate plus margin) in proportion to the excess. The routing of the
// wrapped entries writes the inputs (vsync requested, flip interval, target rate) before
// each Present and reads the drop-frame flag to skip the draws of dropped frames.
#pragma once

#include "platform/win.h"

#include <stdint.h>

class Device;
class SwapChainDDI9;

class FlipManager {
public:
    /// The refresh rate taken when the display reports none, or only the "hardware default"
    /// (0 or 1).
    static constexpr uint32_t kDefaultRefreshRate = 60;
    /// Presents counted before the rate is measured again.
    static constexpr uint32_t kFramesPerMeasurement = 6;
    /// The largest share of a frame added to the drop accumulator per Present: some frames
    /// always get through, however fast the application.
    static constexpr float kMaxDropShare = 0.97f;

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
    /// The event query on the presenting GPU that the ZARI policy waits for, or null.
    HANDLE pendingQuery() const { return m_pendingQuery; }

    /// Marks the pacing decision for re-evaluation and clears the accumulated pacing.
    void resetPacing();

    /// True when the current Present must show the last frame again instead of a new one.
    /// Computed once per Present: later calls before onPresent return the same answer.
    bool shouldRepeat();

    /// The application's Present after the swap chain's handling: shows a new frame or the
    /// last one again, as the pacing decision (`m_decision`: repeat) says.
    HRESULT onPresent(const D3DDDIARG_PRESENT* pData);

    bool m_decision;
    bool m_decisionPending;
    bool m_vsyncRequested;
    bool m_frameDropped;
    float m_dropAccumulator;

private:
    bool m_orrEnabled;

public:
    float m_measuredRate;
    uint32_t m_refreshRate;
    uint32_t m_margin;
    uint32_t m_targetRate;

private:
    int64_t m_counterFrequency;
    uint32_t m_frameCount;
    int64_t m_lastCounter;

public:
    /// The interval of presents the worker pass completes; -1 before the first Present.
    int32_t m_presentInterval;

private:
    bool m_zari;
    bool m_dropDraw;
    HANDLE m_pendingQuery;
    SwapChainDDI9* m_pSwapChain;
    Device* m_pDevice;

    void readRefreshRate();
    void measureRate();
    bool orrDecision();
    bool zariDecision();
    /// True when the presenting GPU is done with the pending query's work (or cannot tell).
    bool pendingQueryDone();
    /// Issues a new event query on the presenting GPU; null when none could be made.
    HANDLE issueEventQuery();
    void destroyQuery(HANDLE hQuery);
};
