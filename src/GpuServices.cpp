// GpuServices: the process-wide object, its counts and the interop start.
#include "GpuServices.h"

#include "AppHandling.h"
#include "Configuration.h"
#include "Report.h"
#include "platform/text.h"

#include <new>
#include <stdlib.h>

std::atomic<uint32_t> GpuServices::s_interopUserCount{0};
std::atomic<GpuServices*> GpuServices::s_pInstance{nullptr};
std::mutex GpuServices::s_instanceLock;

namespace {

// The text of a real-valued property as a number; 0.0 without digits.
double parseReal(const WCHAR* text) {
    char narrow[64] = {};
    for (size_t i = 0; text && text[i] && i + 1 < sizeof narrow; ++i)
        narrow[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return strtod(narrow, nullptr);
}

double clampFraction(double value) {
    if (!(value >= 0.0))
        return 0.0;
    return value > 1.0 ? 1.0 : value;
}

} // namespace

GpuServices* GpuServices::instance() {
    return s_pInstance.load();
}

GpuServices* GpuServices::createInstance() {
    std::lock_guard<std::mutex> guard(s_instanceLock);
    if (!s_pInstance.load())
        s_pInstance.store(new (std::nothrow) GpuServices());
    return s_pInstance.load();
}

GpuServices* GpuServices::acquireInteropUser() {
    std::lock_guard<std::mutex> guard(s_instanceLock);
    GpuServices* services = s_pInstance.load();
    if (!services) {
        services = new (std::nothrow) GpuServices();
        s_pInstance.store(services);
    }
    if (services)
        s_interopUserCount.fetch_add(1);
    return services;
}

bool GpuServices::destroyInstanceIfUnused() {
    std::lock_guard<std::mutex> guard(s_instanceLock);
    GpuServices* services = s_pInstance.load();
    if (!services)
        return true;
    if (services->getUserCount() != 0)
        return false;
    s_pInstance.store(nullptr);
    delete services;
    return true;
}

GpuServices::GpuServices()
    : m_hInteropModule(nullptr), m_partialCopy(0.0), m_writeCount(0), m_readCount(0),
      m_asynchronous(true) {
    m_partialCopy = clampFraction(
        parseReal(Configuration::getInstance()->getProperty(ConfigProperty::partial_copy)));
    timeBeginPeriod(1);
}

GpuServices::~GpuServices() {
    timeEndPeriod(1);
    if (m_hInteropModule)
        FreeLibrary(m_hInteropModule);
}

bool GpuServices::initInterop(bool asynchronous) {
    m_asynchronous = asynchronous;
    HMODULE module = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_moduleLock);
        if (!m_hInteropModule) {
            WCHAR path[kAppPathChars] = {};
            if (!getInteropLibraryPath(WSTR("vessaInterop.dll"), path))
                return false;
            m_hInteropModule = LoadLibraryW(path);
        }
        module = m_hInteropModule;
    }
    if (!module)
        return false;
    if (!GetProcAddress(module, "VI_getFactory") || !GetProcAddress(module, "VI_getNextGroupId"))
        return false;
    // The staging-buffer transfer over the library is not part of this build: devices use
    // the API copy even when the library is installed.
    VESSA_REPORT(Warning, 0, "false", "dx9: interop transfer not available, using the API copy");
    return false;
}

void GpuServices::destroyGpuInterop() {
    uint32_t users = s_interopUserCount.load();
    while (users != 0 && !s_interopUserCount.compare_exchange_weak(users, users - 1)) {
    }
}

HRESULT GpuServices::onBeforeDestroyDevice(uint32_t interopGroupId) {
    (void)interopGroupId;
    return S_OK;
}

void GpuServices::destroyStagingBuffers(Device* pDevice) {
    // Staging buffers are made by the interop transfer, which this build does not have.
    (void)pDevice;
}

bool GpuServices::transfer(Device* pDevice, ResourceDDI9* pDst, UINT dstSub, ResourceDDI9* pSrc,
                           UINT srcSub, bool synchronous) {
    // Without the interop transfer no device leaves the API copy (initInterop fails), so
    // nothing arrives here; should something, no copy is made.
    (void)pDevice, (void)pDst, (void)dstSub, (void)pSrc, (void)srcSub, (void)synchronous;
    return false;
}

void GpuServices::workerPass(Device* pDevice) {
    // Nothing waits in a staging buffer without the interop transfer.
    (void)pDevice;
}
