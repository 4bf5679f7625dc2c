// OpenAdapter9: the OpenAdapter entry: start-up debug options, the vendor gate, the quit
// watcher hook, creating and registering the Adapter, and forwarding.
//
// The report lines below are long-standing report sites; keep them stable.
#include "OpenAdapter9.h"

#include "Adapter9.h"
#include "AppHandling.h"
#include "Configuration.h"
#include "GpuEnumerator.h"
#include "OpenAdapter.h"
#include "OpenAdapterHelper.h"
#include "Report.h"

#include <atomic>
#include <new>

namespace {

constexpr uint32_t kVendorNvidia = 1;
constexpr uint32_t kVendorAti = 2;
constexpr uint32_t kVendorIntel = 3;

// Process-wide entry state. The entry runs on the runtime's threads; these are atomics so a
// second thread opening an adapter at the same time cannot install a second hook.
std::atomic<uint32_t> s_openAdapterCount{0};
std::atomic<bool> s_startupOptionsDone{false};
std::atomic<bool> s_hookClaimed{false};
std::atomic<HHOOK> s_quitWatcherHook{nullptr};
std::atomic<bool> s_quitSeen{false};

// Watches the entry thread's messages for WM_QUIT and passes every message on. The hook stays
// installed for the life of the process: it costs one call per message and nothing
// reads the flag it sets but diagnostics.
LRESULT CALLBACK quitWatcherProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && lParam) {
        const MSG* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg->message == WM_QUIT && isProcessInitialized())
            s_quitSeen.store(true);
    }
    return CallNextHookEx(s_quitWatcherHook.load(), code, wParam, lParam);
}

// The longest start-up sleep: the longest finite one. Seconds beyond it would wrap the
// milliseconds around to a short sleep, or reach INFINITE.
constexpr DWORD kMaxStartupSleepMs = INFINITE - 1;

DWORD startupSleepMilliseconds(int32_t seconds) {
    const uint64_t milliseconds = static_cast<uint64_t>(seconds) * 1000u;
    if (milliseconds <= kMaxStartupSleepMs)
        return static_cast<DWORD>(milliseconds);
    VESSA_REPORT(Warning, 0, "sleep_on_startup * 1000 < INFINITE",
                 "sleep_on_startup of %d seconds is too long; sleeping %u ms", seconds,
                 static_cast<unsigned>(kMaxStartupSleepMs));
    return kMaxStartupSleepMs;
}

// Debug switches for developers, honoured once per process at the first entry, before any
// decision, so that even a process that is then forwarded can be caught.
void runStartupDebugOptions() {
    if (s_startupOptionsDone.exchange(true))
        return;
    Configuration* configuration = Configuration::getInstance();
    if (!configuration)
        return;
    const int32_t sleepSeconds = configuration->getIntProperty(ConfigProperty::sleep_on_startup);
    if (sleepSeconds > 0)
        Sleep(startupSleepMilliseconds(sleepSeconds));
    if (configuration->getIntProperty(ConfigProperty::attach_to_process) == 1)
        DebugBreak();
    if (configuration->getIntProperty(ConfigProperty::freeze_process) == 1) {
        // Waits here for a developer to attach a debugger and move the thread on.
        for (;;)
            Sleep(1000);
    }
}

// True when this entry must leave the adapter to its vendor driver: an export of a discrete
// GPU's driver on a machine whose display belongs to the integrated GPU.
bool isGatedOut(uint32_t vendor) {
    if (vendor == kVendorIntel)
        return false;
    const int configuration = GpuEnumerator::getInstance()->getGpuConfiguration();
    if (configuration == kGpuConfigNvIntel || configuration == kGpuConfigAtiIntel)
        return false;
    Configuration* store = Configuration::getInstance();
    const int32_t allow =
        store ? store->getIntProperty(ConfigProperty::allow_openadapter_on_non_intel_gpu) : 0;
    return allow != 1;
}

void installQuitWatcher() {
    if (s_hookClaimed.exchange(true))
        return;
    HHOOK m_hWin = SetWindowsHookExA(WH_GETMESSAGE, quitWatcherProc, nullptr, GetCurrentThreadId());
    if (!VESSA_CHECK_AT(233, Error, 10297, m_hWin,
                        "SetWindowsHookEx for getting the WM_QUIT failed.")) {
        // A later entry tries again.
        s_hookClaimed.store(false);
        return;
    }
    s_quitWatcherHook.store(m_hWin);
}

HRESULT interpose(D3DDDIARG_OPENADAPTER* pOpenData, uint32_t vendor) {
    // Whatever the open does to the runtime's arguments, a forward gets them as they came.
    const D3DDDIARG_OPENADAPTER runtimeArgs = *pOpenData;

    Adapter* pAdapter = new (std::nothrow) Adapter(runtimeArgs);
    if (!VESSA_CHECK(Error, 0, pAdapter != nullptr, "No memory for the adapter"))
        return forwardOpenAdapter(pOpenData);
    HRESULT hr = pAdapter->open(pOpenData, vendor);
    if (hr == S_OK) {
        OpenAdapter::addAdapter(pOpenData->hAdapter, pAdapter);
        return S_OK;
    }
    delete pAdapter;
    *pOpenData = runtimeArgs;
    return forwardOpenAdapter(pOpenData);
}

HRESULT enter(D3DDDIARG_OPENADAPTER* pOpenData, uint32_t vendor) {
    // A call without arguments is no adapter to open; neither this library nor a vendor
    // driver could answer it.
    if (!VESSA_CHECK(Error, 0, pOpenData && pOpenData->pAdapterFuncs,
                     "OpenAdapter without arguments or function table (vendor %u)", vendor))
        return E_INVALIDARG;
    runStartupDebugOptions();
    s_openAdapterCount.fetch_add(1);
    if (isGatedOut(vendor))
        return forwardOpenAdapter(pOpenData);
    installQuitWatcher();
    return interpose(pOpenData, vendor);
}

} // namespace

HRESULT openAdapterEntry(D3DDDIARG_OPENADAPTER* pOpenData, uint32_t vendor) {
    try {
        return enter(pOpenData, vendor);
    } catch (...) {
        VESSA_REPORT(Error, 0, "false", "OpenAdapter: unexpected exception (vendor %u)", vendor);
        return E_FAIL;
    }
}

HRESULT forwardOpenAdapter(D3DDDIARG_OPENADAPTER* pOpenData) {
    PFND3DDDI_OPENADAPTER vendorOpenAdapter = getOpenAdapterFuncPtr(0);
    if (!VESSA_CHECK(Error, 0, vendorOpenAdapter != nullptr,
                     "No vendor OpenAdapter to hand the adapter to"))
        return E_FAIL;
    return vendorOpenAdapter(pOpenData);
}

uint32_t openAdapterCount() {
    return s_openAdapterCount.load();
}

bool quitMessageSeen() {
    return s_quitSeen.load();
}

VESSA_EXPORT HRESULT APIENTRY OpenAdapter9DetourNV(D3DDDIARG_OPENADAPTER* pOpenData) {
    return openAdapterEntry(pOpenData, kVendorNvidia);
}

VESSA_EXPORT HRESULT APIENTRY OpenAdapter9DetourATI(D3DDDIARG_OPENADAPTER* pOpenData) {
    return openAdapterEntry(pOpenData, kVendorAti);
}

VESSA_EXPORT HRESULT APIENTRY OpenAdapter9DetourIntel(D3DDDIARG_OPENADAPTER* pOpenData) {
    return openAdapterEntry(pOpenData, kVendorIntel);
}
