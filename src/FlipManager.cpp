// FlipManager: construction and the pacing reset.
#include "FlipManager.h"

FlipManager::FlipManager(Device* pDevice, SwapChainDDI9* pSwapChain, bool orrEnabled)
    : m_decision(false), m_decisionPending(true), m_vsyncRequested(false), m_frameDropped(false),
      m_dropAccumulator(0.0f), m_measuredRate(0.0f), m_presentInterval(0), m_refreshRate(60),
      m_margin(0), m_targetRate(60), m_pDevice(pDevice), m_pSwapChain(pSwapChain),
      m_orrEnabled(orrEnabled), m_zari(false), m_dropDraw(false) {}

void FlipManager::resetPacing() {
    m_dropAccumulator = 0.0f;
    m_measuredRate = 0.0f;
    m_decision = false;
    m_decisionPending = true;
}
