// Adapter: one adapter that the runtime opened through the OpenAdapter entry.
//
// It opens the vendor driver of the primary GPU (slot 0) with the runtime's own arguments
// and the auxiliary GPU (slot 1) through a kernel adapter and the system's own adapter
// callbacks, keeps each GPU's adapter handle and function table, and hands the runtime the
// rendering GPU's handle with the system's adapter function table.
#pragma once

#include "DdiObject.h"
#include "platform/win.h"

/// The interposed adapter. Slot usage of the base: user handle i is GPU i's vendor adapter
/// handle, runtime handle (slot 0) the runtime's hAdapter, kernel handle i (i >= 1) GPU i's
/// kernel adapter, vendor i GPU i's vendor code.
class Device;

class Adapter : public DdiObject {
public:
    /// GPUs an adapter works with: the enumerator's GPU 0 (primary) and GPU 1 (auxiliary).
    static constexpr unsigned kGpuCount = 2;

    /// Records the runtime's hAdapter and prepares the auxiliary adapter callbacks.
    explicit Adapter(const D3DDDIARG_OPENADAPTER& runtimeArgs);
    /// Closes kernel adapters still held (the vendor adapters are closed by closeAdapter,
    /// or by a failing open).
    ~Adapter() override;

    /// The adapter callbacks the auxiliary GPU's driver receives.
    virtual const D3DDDI_ADAPTERCALLBACKS* auxAdapterCallbacks() { return &m_auxAdapterCallbacks; }
    /// The runtime's CreateDevice: a device on both GPUs, registered under the handle the
    /// runtime receives. E_FAIL when it could not be created.
    virtual HRESULT createDevice(D3DDDIARG_CREATEDEVICE* pCreateData);
    /// Unregisters the adapter and closes every vendor and kernel adapter. Always S_OK.
    virtual HRESULT closeAdapter();

    /// Opens both GPUs. On S_OK `args` carries the rendering GPU's adapter handle and the
    /// system's function table. On failure nothing stays open, and the runtime's table may
    /// have been written by a vendor driver.
    HRESULT open(D3DDDIARG_OPENADAPTER* args, uint32_t vendor);

    /// GPU `index`'s vendor adapter function table (zero when that GPU is not open). An
    /// index beyond the slots is reported and gets an empty table.
    const D3DDDI_ADAPTERFUNCS& vendorFuncs(unsigned index) const;

private:
    void openAuxiliaryAdapters(const D3DDDIARG_OPENADAPTER& runtimeArgs, unsigned* pCurrentAux);
    HRESULT openAuxiliaryDriver(PFND3DDDI_OPENADAPTER openAdapter,
                                const D3DDDIARG_OPENADAPTER& runtimeArgs, unsigned slot,
                                uint32_t vendor);
    /// Calls GPU `index`'s vendor CloseAdapter if that GPU is open; `line` is the report's.
    void closeVendorAdapter(unsigned index, int line);
    void closeKernelAdapters();
    /// Starts the GPU services' interop for a new device; without it the device uses the
    /// API copy.
    void startGpuServices(Device* pDevice);
    /// The DDI version the runtime may use with both drivers: the lower of theirs.
    UINT commonDriverVersion() const;

    D3DDDI_ADAPTERCALLBACKS m_auxAdapterCallbacks;
    D3DDDI_ADAPTERFUNCS m_adapterFuncs[kGpuSlots];
    /// The DDI version each GPU's driver said it supports (OpenAdapter's DriverVersion).
    UINT m_driverVersions[kGpuSlots];
};
