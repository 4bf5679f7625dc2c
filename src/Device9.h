// Device: one Direct3D 9 device of an interposed adapter, living on both GPUs.
//
// The presenting GPU's driver (GPU 0) gets the runtime's handles through the device's view 0
// and the wrapped runtime callbacks; the rendering GPU's driver (GPU 1) gets a kernel device
// and the callbacks on the kernel thunks. The runtime receives the rendering GPU's device
// handle and a copy of that driver's table with the wrapped entries in place.
#pragma once

#include "DeviceBase.h"
#include "Execution9.h"
#include "SWCopierDDI9.h"
#include "platform/win.h"

#include <atomic>

class FlipManager;
class VessaIcon;

class Device : public DeviceBase {
public:
    /// Entries of a driver's device table that are kept: pfnSetRenderState through pfnRename.
    /// Later entries (video processing, content protection) stay null in every table.
    static constexpr unsigned kCopiedDeviceFuncs = 99;

    /// Constructs the device for the runtime's `hRuntimeDevice` on `pAdapter`: tables and
    /// slots zeroed, callback tables filled, icon, swap chain and flip manager created.
    Device(HANDLE hRuntimeDevice, Adapter* pAdapter);
    ~Device() override;

    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    /// Creates the device on every GPU of the adapter and hands the runtime the rendering
    /// GPU's handle and the wrapped table in `pArgs`. Returns 0 on success.
    HRESULT create(HANDLE hAdapter, D3DDDIARG_CREATEDEVICE* pArgs);

    /// The device of the runtime handle a wrapped entry received; null (reported) if none.
    static Device* fromRuntimeHandle(HANDLE hDevice);
    /// As fromRuntimeHandle, and counts one use of the device in the same step, under the
    /// registry's lock: a device cannot be deleted between an entry finding it and taking
    /// its lock. Each device acquired is given back with release().
    static Device* acquire(HANDLE hDevice);
    /// Ends one use; the last use of a retired device deletes it.
    void release();
    /// Marks the device destroyed (its vendor devices are gone, it left the registry). Its
    /// memory stays until the last entry that found it before then has released it; such
    /// entries see retired() once they hold the lock, and leave without touching it.
    void retire();
    bool retired() const { return m_retired.load(std::memory_order_acquire); }
    /// The device behind a per-GPU view that a vendor driver passed back.
    static Device* fromView(HANDLE hView, unsigned* pGpuIndex = nullptr);

    /// Flushes GPU `index`'s device.
    virtual HRESULT flushGpu(unsigned index);

    /// The process-wide GPU services object, or null.
    void* gpuServices() override;

    /// GPU `index`'s copy of its driver's device table.
    const D3DDDI_DEVICEFUNCS& deviceFuncs(unsigned index) const {
        return m_deviceFuncs[index < kGpuSlots ? index : 0];
    }
    /// The per-GPU tables, as the icon overlay receives them.
    D3DDDI_DEVICEFUNCS* deviceFuncsArray() { return m_deviceFuncs; }

    /// The device's handle on GPU `index`, as a driver expects it.
    HANDLE gpuHandle(unsigned index) const;
    /// The runtime's own device handle (what the runtime passed to CreateDevice).
    HANDLE runtimeHandle() const;

    Execution9& execution() { return m_execution; }
    SWCopierDDI9& swCopier() { return m_swCopier; }

    /// Starts the worker thread; false (state back to none) when the thread could not start.
    bool startWorker();
    /// Asks the worker to stop, waits for it to end and closes its handle. Call without
    /// holding the device lock: the worker takes it on every pass.
    void stopWorker();

    /// Destroys the vendor device of every GPU, in ascending order, each auxiliary GPU's
    /// kernel device right after its vendor device. Returns the last vendor result (S_OK
    /// when there was none).
    HRESULT destroyOnAllGpus();

    /// Reports (10976) resources the runtime left in the map; true when there are some.
    bool reportLeftoverResources();

    /// True while this device holds one of the GPU services' interop users.
    bool isInteropUser() const { return m_interopUser; }
    void setInteropUser(bool user) { m_interopUser = user; }

private:
    HRESULT createOnPresentingGpu(D3DDDIARG_CREATEDEVICE* pArgs);
    /// Creates the device on auxiliary GPU `index` over a new kernel device. False when the
    /// kernel or the vendor driver failed; nothing of that GPU is left then.
    bool createOnAuxiliaryGpu(unsigned index, D3DDDIARG_CREATEDEVICE* pArgs);
    void destroyKernelDevice(unsigned index);
    void createIcon();
    void discardIcon();
    static DWORD WINAPI workerProc(LPVOID parameter);

    D3DDDI_DEVICEFUNCS m_deviceFuncs[kGpuSlots];

public:
    /// The in-game icon overlay; null when the icon is hidden or its creation failed.
    VessaIcon* m_pVessaIcon;
    /// Paces the presents of this device.
    FlipManager* m_pFlipManager;

private:
    Execution9 m_execution;
    SWCopierDDI9 m_swCopier;
    bool m_interopUser;
    bool m_holdsGpuServices;
    std::atomic<unsigned> m_uses{0};
    std::atomic<bool> m_retired{false};
};
