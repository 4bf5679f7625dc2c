// SwapChainBase: the present controls, found through the library's own export.
#include "SwapChainBase.h"

#include "Report.h"

namespace {

typedef bool (*GetIntervalFn)(uint32_t**, bool**, bool**);

/// The "getInterval" export of the loaded library, or null. The module is looked up, never
/// loaded: the swap chain lives inside it.
GetIntervalFn findGetInterval() {
    HMODULE library = GetModuleHandleW(WSTR("vessad3d9u.dll"));
    if (!library)
        return nullptr;
    return reinterpret_cast<GetIntervalFn>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(library, "getInterval")));
}

} // namespace

SwapChainBase::SwapChainBase(Device* pDevice)
    : m_bDisplayModePending(false), m_pDevice(pDevice), m_pKmtVsyncInterval(nullptr),
      m_pbKmtPerformPresent(nullptr), m_pbKmtForceVsyncInterval(nullptr) {
    GetIntervalFn getInterval = findGetInterval();
    if (!getInterval)
        return;
    if (!getInterval(&m_pKmtVsyncInterval, &m_pbKmtPerformPresent, &m_pbKmtForceVsyncInterval)) {
        m_pKmtVsyncInterval = nullptr;
        m_pbKmtPerformPresent = nullptr;
        m_pbKmtForceVsyncInterval = nullptr;
    }
}

void SwapChainBase::SetbPerformPresentAndFlipInterval(uint64_t unused, uint32_t interval,
                                                      bool force) {
    (void)unused;
    VESSA_CHECK(Error, 0, 0 != m_pKmtVsyncInterval,
                "NULL m_pKmtVsyncInterval in FlipManager::SetbPerformPresentAndFlipInterval");
    VESSA_CHECK(Error, 0, 0 != m_pbKmtPerformPresent,
                "NULL m_pbKmtPerformPresent in FlipManager::SetbPerformPresentAndFlipInterval");
    VESSA_CHECK(Error, 0, 0 != m_pbKmtForceVsyncInterval,
                "NULL m_pbKmtForceVsyncInterval in FlipManager::SetbPerformPresentAndFlipInterval");
    if (m_pKmtVsyncInterval)
        *m_pKmtVsyncInterval = interval;
    // A present that reaches here always goes to the kernel; only the interval varies.
    if (m_pbKmtPerformPresent)
        *m_pbKmtPerformPresent = true;
    if (m_pbKmtForceVsyncInterval)
        *m_pbKmtForceVsyncInterval = force;
}
