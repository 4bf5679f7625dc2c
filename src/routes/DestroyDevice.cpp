// Route of the wrapped DestroyDevice entry: the device's last call.
//
// The worker is stopped first, with the device lock released, since it takes that lock on
// every pass. Then, under the lock, the device gives back its interop registration, its
// icon and its vendor devices (presenting GPU first), leaves the registry and is retired.
// The object itself is deleted by the last entry that still uses it, after that entry let go
// of the lock, which lives in the object: another thread may have found the device just
// before, and be waiting for its lock.
#include "DeviceRoute.h"

#include "GpuServices.h"
#include "VessaIcon.h"

namespace DeviceFuncs {

namespace {

void releaseInterop(Device* pDevice) {
    GpuServices* services = GpuServices::instance();
    if (services && pDevice->interopRegistered()) {
        if (pDevice->stagingBuffer(0)) {
            services->destroyStagingBuffers(pDevice);
            pDevice->stagingBuffer(0) = nullptr;
            for (unsigned i = 0; i < kStagingDescSize; ++i)
                pDevice->stagingDesc()[i] = 0;
        }
        services->onBeforeDestroyDevice(pDevice->interopGroupId());
        pDevice->setInteropRegistered(false);
    }
    // Only a device that started an interop ends one: the count is shared by all devices.
    if (services && pDevice->isInteropUser()) {
        services->destroyGpuInterop();
        pDevice->setInteropUser(false);
    }
}

void releaseIcon(Device* pDevice) {
    if (!pDevice->m_pVessaIcon)
        return;
    pDevice->m_pVessaIcon->destroyResources(
        static_cast<unsigned>(OpenAdapter::presentingGPU() < 0 ? 0 : OpenAdapter::presentingGPU()));
    delete pDevice->m_pVessaIcon;
    pDevice->m_pVessaIcon = nullptr;
}

} // namespace

HRESULT DestroyDevice(Device* pDevice, DeviceLockGuard& lock, HANDLE hDevice) {
    lock.unlock();
    pDevice->stopWorker();
    lock.relock();
    // Another DestroyDevice may have come in while the lock was let go.
    if (pDevice->retired())
        return E_FAIL;

    releaseInterop(pDevice);
    releaseIcon(pDevice);
    // Resources the runtime did not destroy go now, while their vendor devices still exist,
    // as the runtime's own DestroyResource would take them: nothing is left to leak.
    if (pDevice->reportLeftoverResources()) {
        while (!pDevice->resourceMap().empty()) {
            const uint64_t handle = pDevice->resourceMap().begin()->first;
            DestroyResource(pDevice, lock, hDevice,
                            reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)));
            if (!pDevice->resourceMap().empty() && pDevice->resourceMap().begin()->first == handle)
                pDevice->removeResource(handle); // never loop on an entry that stays
        }
    }
    HRESULT result = pDevice->destroyOnAllGpus();
    OpenAdapter::removeDevice(hDevice);
    pDevice->retire();
    return result;
}

} // namespace DeviceFuncs
