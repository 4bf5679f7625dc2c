// FlipManager: the pacing decision of each Present and the event query of the ZARI policy.
#include "FlipManager.h"

#include "Configuration.h"
#include "Device9.h"
#include "OpenAdapter.h"
#include "Report.h"
#include "SwapChainDDI9.h"

namespace {

/// The presenting GPU's slot, or -1 when the device has no handle there.
int presentingSlot(const Device* pDevice) {
    const int presenting = OpenAdapter::presentingGPU();
    if (!pDevice || presenting < 0 || !pDevice->userHandles().has(unsigned(presenting)))
        return -1;
    return presenting;
}

} // namespace

FlipManager::FlipManager(Device* pDevice, SwapChainDDI9* pSwapChain, bool orrEnabled)
    : m_decision(false), m_decisionPending(true), m_vsyncRequested(false), m_frameDropped(false),
      m_dropAccumulator(0.0f), m_orrEnabled(orrEnabled), m_measuredRate(0.0f),
      m_refreshRate(kDefaultRefreshRate), m_margin(0), m_targetRate(kDefaultRefreshRate),
      m_counterFrequency(0), m_frameCount(0), m_lastCounter(0), m_presentInterval(-1),
      m_zari(false), m_dropDraw(false), m_pendingQuery(nullptr), m_pSwapChain(pSwapChain),
      m_pDevice(pDevice) {
    // `orr_margin` is read but not applied: its default of 20 would move every target rate
    // the product has always used (the refresh rate for flips, +5 for windowed presents).
    if (Configuration* configuration = Configuration::getInstance())
        (void)configuration->getIntProperty(ConfigProperty::orr_margin);

    LARGE_INTEGER value = {};
    BOOL retval = QueryPerformanceFrequency(&value);
    VESSA_CHECK(Error, 10878, retval != 0, "can't get QueryPerformanceCounter");
    m_counterFrequency = value.QuadPart;
    value.QuadPart = 0;
    retval = QueryPerformanceCounter(&value);
    VESSA_CHECK(Error, 10879, retval != 0, "can't get QueryPerformanceFrequency");
    m_lastCounter = value.QuadPart;

    readRefreshRate();
    m_targetRate = m_refreshRate + m_margin;
    m_dropAccumulator = 0.0f;
    VESSA_CHECK(Error, 11058, 0 != m_pSwapChain,
                "received NULL pSwapChain in FlipManager::FlipManager");
    m_pendingQuery = nullptr;
}

void FlipManager::readRefreshRate() {
    DEVMODEA mode = {};
    mode.dmSize = sizeof mode;
    if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode))
        return;
    // 0 and 1 mean "the hardware's default rate", not a rate: taken as one, nearly every
    // frame would be dropped.
    if (mode.dmDisplayFrequency > 1)
        m_refreshRate = mode.dmDisplayFrequency;
}

void FlipManager::resetPacing() {
    m_dropAccumulator = 0.0f;
    m_frameCount = 0;
    m_measuredRate = 0.0f;
    m_decisionPending = true;
}

void FlipManager::measureRate() {
    if (++m_frameCount < kFramesPerMeasurement)
        return;
    LARGE_INTEGER now = {};
    VESSA_CHECK(Warning, 10880, QueryPerformanceCounter(&now) != 0,
                "can't get QueryPerformanceCounter");
    const int64_t countsDelta = now.QuadPart - m_lastCounter;
    VESSA_CHECK(Warning, 10881, countsDelta < 2147483647, "deltaFPSTimer is too big!");
    const float perFrame = float(countsDelta) / float(m_frameCount);
    // Six presents within one counter tick: too fast to tell, and no division by zero.
    m_measuredRate = perFrame > 0.0f ? float(m_counterFrequency) / perFrame : 0.0f;
    m_frameCount = 0;
    m_lastCounter = now.QuadPart;
}

bool FlipManager::shouldRepeat() {
    if (!m_decisionPending)
        return m_decision;
    if (m_zari) {
        m_decision = zariDecision();
        m_decisionPending = false;
        return m_decision;
    }
    if (m_vsyncRequested || !m_orrEnabled)
        return false;
    return orrDecision();
}

HRESULT FlipManager::onPresent(const D3DDDIARG_PRESENT* pData) {
    if (!VESSA_CHECK(Error, 11125, 0 != m_pSwapChain,
                     "NULL m_pSwapChain in FlipManager::onPresent"))
        return E_FAIL;
    HRESULT result;
    if (!shouldRepeat()) {
        if (m_zari && m_dropDraw && m_frameDropped)
            m_frameDropped = false;
        result = m_pSwapChain->presentFrame(pData, m_zari, 1);
    } else {
        // The draws of the frame after a repeated one are skipped: it would be dropped too.
        if (m_zari && m_dropDraw)
            m_frameDropped = true;
        result = m_pSwapChain->repeatPresent(pData);
    }
    m_decisionPending = true;
    return result;
}

bool FlipManager::orrDecision() {
    measureRate();
    const float excess = m_measuredRate - float(m_targetRate);
    float add = 0.0f;
    if (excess > 0.0f) {
        add = excess / m_measuredRate;
        if (add > kMaxDropShare)
            add = kMaxDropShare;
    }
    m_dropAccumulator += add;
    m_decisionPending = false;
    if (m_dropAccumulator >= 1.0f) {
        m_decision = true;
        m_dropAccumulator = float(double(m_dropAccumulator) - 1.0);
        return true;
    }
    m_decision = false;
    return false;
}

bool FlipManager::zariDecision() {
    if (!VESSA_CHECK(Error, 11125, 0 != m_pDevice, "NULL m_pDevice in FlipManager::onPresent"))
        return false;
    if (m_pendingQuery && pendingQueryDone()) {
        destroyQuery(m_pendingQuery);
        m_pendingQuery = nullptr;
    }
    if (m_pendingQuery)
        return true;
    m_pendingQuery = issueEventQuery();
    return false;
}

// The query lives on the presenting GPU's own device, through its driver's table: the
// presenting GPU is the one whose progress the policy follows, and its driver is there
// whether or not the GPU services' interop could start.
HANDLE FlipManager::issueEventQuery() {
    const int slot = presentingSlot(m_pDevice);
    if (slot < 0)
        return nullptr;
    const D3DDDI_DEVICEFUNCS& funcs = m_pDevice->deviceFuncs(unsigned(slot));
    const HANDLE hDevice = m_pDevice->gpuHandle(unsigned(slot));
    if (!VESSA_CHECK(Warning, 0, funcs.pfnCreateQuery && funcs.pfnIssueQuery,
                     "no event queries on gpu:%d", slot))
        return nullptr;
    D3DDDIARG_CREATEQUERY create = {};
    create.QueryType = D3DDDIQUERYTYPE_EVENT;
    HRESULT hr = funcs.pfnCreateQuery(hDevice, &create);
    if (!VESSA_CHECK(Warning, 0, SUCCEEDED(hr) && create.hQuery,
                     "failed to create an event query on gpu:%d, ret=%x", slot, unsigned(hr)))
        return nullptr;
    D3DDDIARG_ISSUEQUERY issue = {};
    issue.hQuery = create.hQuery;
    issue.Flags.Value = D3DDDI_ISSUEQUERYFLAGS::End;
    hr = funcs.pfnIssueQuery(hDevice, &issue);
    if (!VESSA_CHECK(Warning, 0, SUCCEEDED(hr), "failed to issue an event query on gpu:%d, ret=%x",
                     slot, unsigned(hr))) {
        destroyQuery(create.hQuery);
        return nullptr;
    }
    return create.hQuery;
}

bool FlipManager::pendingQueryDone() {
    const int slot = presentingSlot(m_pDevice);
    if (slot < 0)
        return true;
    const D3DDDI_DEVICEFUNCS& funcs = m_pDevice->deviceFuncs(unsigned(slot));
    if (!funcs.pfnGetQueryData)
        return true;
    BOOL signalled = FALSE;
    D3DDDIARG_GETQUERYDATA get = {};
    get.hQuery = m_pendingQuery;
    get.pData = &signalled;
    const HRESULT hr = funcs.pfnGetQueryData(m_pDevice->gpuHandle(unsigned(slot)), &get);
    // Only "still drawing" means the GPU is busy. Any other failure (a lost or removed
    // device above all) would never turn into an answer, and waiting for it would repeat
    // the same frame for ever.
    if (hr == D3DERR_WASSTILLDRAWING)
        return false;
    VESSA_CHECK(Warning, 0, SUCCEEDED(hr), "event query failed on gpu:%d, ret=%x", slot,
                unsigned(hr));
    return true;
}

void FlipManager::destroyQuery(HANDLE hQuery) {
    const int slot = presentingSlot(m_pDevice);
    if (slot < 0 || !hQuery)
        return;
    const D3DDDI_DEVICEFUNCS& funcs = m_pDevice->deviceFuncs(unsigned(slot));
    if (!funcs.pfnDestroyQuery)
        return;
    const HRESULT hr = funcs.pfnDestroyQuery(m_pDevice->gpuHandle(unsigned(slot)), hQuery);
    VESSA_CHECK(Warning, 0, SUCCEEDED(hr), "failed to destroy an event query on gpu:%d, ret=%x",
                slot, unsigned(hr));
}
