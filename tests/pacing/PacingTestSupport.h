// A device whose presenting GPU (slot 0) is a fake driver: its entries record what the
// pacing and the icon ask of the GPU, and answer as a test sets them up.
#pragma once

#include "Device9.h"
#include "OpenAdapter.h"
#include "sim/Clock.h"

#include <string.h>

#include <algorithm>

#include <memory>
#include <vector>

namespace pacingtest {

struct FakeGpu {
    // Resources
    HRESULT createResult = S_OK;
    HRESULT lockResult = S_OK;
    HRESULT bltResult = S_OK;
    std::vector<D3DDDIARG_CREATERESOURCE> creates;
    std::vector<D3DDDI_SURFACEINFO> createdSurfaces;
    std::vector<D3DDDIARG_BLT> blts;
    std::vector<HANDLE> destroyed;
    UINT lockPitch = 768;
    std::vector<uint8_t> lockedMemory;
    int unlocks = 0;

    // Event queries
    int busyPolls = 0;         ///< "still drawing" answers before a query is done
    uint64_t completionNs = 0; ///< when set: a query is done this long after its issue
    uint64_t issuedAtNs = 0;
    HRESULT queryError = S_OK; ///< answered instead of the data when not S_OK
    HRESULT createQueryResult = S_OK;
    int queriesCreated = 0;
    int queriesIssued = 0;
    int queriesDestroyed = 0;
    int queryPolls = 0;
    int pollsOfCurrent = 0;
    int liveQueries = 0;
    int mostLiveQueries = 0;

    static FakeGpu* s_current;
};

inline FakeGpu* FakeGpu::s_current = nullptr;

namespace entries {

inline FakeGpu& gpu() {
    return *FakeGpu::s_current;
}

inline HRESULT APIENTRY createResource(HANDLE, D3DDDIARG_CREATERESOURCE* pData) {
    gpu().creates.push_back(*pData);
    gpu().createdSurfaces.push_back(pData->pSurfList[0]);
    if (FAILED(gpu().createResult))
        return gpu().createResult;
    pData->hResource = reinterpret_cast<HANDLE>(uintptr_t(0x1000 + gpu().creates.size()));
    return S_OK;
}

inline HRESULT APIENTRY lock(HANDLE, D3DDDIARG_LOCK* pData) {
    if (FAILED(gpu().lockResult))
        return gpu().lockResult;
    gpu().lockedMemory.assign(size_t(gpu().lockPitch) * 89, 0);
    pData->pSurfData = gpu().lockedMemory.data();
    pData->Pitch = gpu().lockPitch;
    return S_OK;
}

inline HRESULT APIENTRY unlock(HANDLE, const D3DDDIARG_UNLOCK*) {
    ++gpu().unlocks;
    return S_OK;
}

inline HRESULT APIENTRY blt(HANDLE, const D3DDDIARG_BLT* pData) {
    gpu().blts.push_back(*pData);
    return gpu().bltResult;
}

inline HRESULT APIENTRY destroyResource(HANDLE, HANDLE hResource) {
    gpu().destroyed.push_back(hResource);
    return S_OK;
}

inline HRESULT APIENTRY createQuery(HANDLE, D3DDDIARG_CREATEQUERY* pData) {
    if (FAILED(gpu().createQueryResult))
        return gpu().createQueryResult;
    ++gpu().queriesCreated;
    gpu().mostLiveQueries = std::max(gpu().mostLiveQueries, ++gpu().liveQueries);
    pData->hQuery = reinterpret_cast<HANDLE>(uintptr_t(0x2000 + gpu().queriesCreated));
    return S_OK;
}

inline HRESULT APIENTRY issueQuery(HANDLE, const D3DDDIARG_ISSUEQUERY*) {
    ++gpu().queriesIssued;
    gpu().pollsOfCurrent = 0;
    gpu().issuedAtNs = sim::Clock::instance().nowNs();
    return S_OK;
}

inline HRESULT APIENTRY getQueryData(HANDLE, const D3DDDIARG_GETQUERYDATA* pData) {
    ++gpu().queryPolls;
    if (gpu().queryError != S_OK)
        return gpu().queryError;
    if (gpu().pollsOfCurrent++ < gpu().busyPolls)
        return D3DERR_WASSTILLDRAWING;
    if (gpu().completionNs &&
        sim::Clock::instance().nowNs() < gpu().issuedAtNs + gpu().completionNs)
        return D3DERR_WASSTILLDRAWING;
    *static_cast<BOOL*>(pData->pData) = TRUE;
    return S_OK;
}

inline HRESULT APIENTRY destroyQuery(HANDLE, HANDLE) {
    ++gpu().queriesDestroyed;
    --gpu().liveQueries;
    return S_OK;
}

} // namespace entries

/// A device of the interposed adapter with only its presenting GPU, which is `fake`.
class FakeDevice {
public:
    explicit FakeDevice(FakeGpu& fake)
        : m_device(new Device(reinterpret_cast<HANDLE>(uintptr_t(0x77)), nullptr)) {
        FakeGpu::s_current = &fake;
        OpenAdapter::setGpuRoles(1, 0);
        m_device->setUserHandle(0, 0x5000);
        D3DDDI_DEVICEFUNCS& funcs = m_device->deviceFuncsArray()[0];
        funcs.pfnCreateResource = &entries::createResource;
        funcs.pfnLock = &entries::lock;
        funcs.pfnUnlock = &entries::unlock;
        funcs.pfnBlt = &entries::blt;
        funcs.pfnDestroyResource = &entries::destroyResource;
        funcs.pfnCreateQuery = &entries::createQuery;
        funcs.pfnIssueQuery = &entries::issueQuery;
        funcs.pfnGetQueryData = &entries::getQueryData;
        funcs.pfnDestroyQuery = &entries::destroyQuery;
    }
    ~FakeDevice() {
        m_device->setUserHandle(0, 0);
        FakeGpu::s_current = nullptr;
    }

    Device* get() { return m_device.get(); }
    D3DDDI_DEVICEFUNCS* funcs() { return m_device->deviceFuncsArray(); }

private:
    std::unique_ptr<Device> m_device;
};

} // namespace pacingtest
