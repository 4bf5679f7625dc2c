// The simulated Direct3D 9 runtime's adapter: it opens a display's kernel adapter, loads
// the user-mode driver (the vendor driver the kernel names, or a named export of a named
// library, such as an interposer's OpenAdapter9DetourIntel), enters it through
// D3DDDIARG_OPENADAPTER and serves the adapter callbacks over the kernel thunks.
#pragma once

#include "platform/win.h"
#include "sim/Export.h"

#include <memory>
#include <string>

namespace sim {
namespace rt {

class RuntimeDevice;

/// Where the runtime finds the OpenAdapter it calls.
struct AdapterSource {
    /// Library to load; empty: the user-mode driver the kernel names for the adapter
    /// (KMTQAITYPE_UMDRIVERNAME).
    std::string library;
    /// Export to call.
    std::string entry = "OpenAdapter";
};

/// Options of a device the runtime creates.
struct DeviceOptions {
    bool multithreaded = false; ///< D3DDDI_CREATEDEVICEFLAGS::AllowMultithreading
};

/// One adapter opened by the runtime. Not copyable; closes the driver adapter and the
/// kernel adapter when destroyed (if close() was not called).
class SIM_API RuntimeAdapter {
public:
    /// Opens the adapter of a display device ("\\.\DISPLAY1"; empty: the primary display).
    /// S_OK, or the failure of the kernel open, the library load (E_FAIL), the export
    /// look-up (E_NOINTERFACE) or the driver's OpenAdapter.
    static HRESULT openDisplay(const std::string& displayName, const AdapterSource& source,
                               std::unique_ptr<RuntimeAdapter>& out);
    /// Opens GPU `gpu` of the machine: through its first display device, or through its
    /// adapter interface name when it has no output.
    static HRESULT openGpu(int gpu, const AdapterSource& source,
                           std::unique_ptr<RuntimeAdapter>& out);

    ~RuntimeAdapter();
    RuntimeAdapter(const RuntimeAdapter&) = delete;
    RuntimeAdapter& operator=(const RuntimeAdapter&) = delete;

    /// pfnGetCaps of the driver.
    HRESULT getCaps(D3DDDICAPS_TYPE type, void* pData, UINT dataSize, void* pInfo = nullptr);
    /// pfnCreateDevice of the driver, over a new kernel device.
    HRESULT createDevice(std::unique_ptr<RuntimeDevice>& out,
                         const DeviceOptions& options = DeviceOptions());
    /// pfnCloseAdapter of the driver, then the kernel adapter. Returns the driver's result.
    HRESULT close();

    int gpu() const { return m_gpu; }
    D3DKMT_HANDLE kernelAdapter() const { return m_hKernelAdapter; }
    UINT vidPnSourceId() const { return m_vidPnSourceId; }
    /// The handle the driver returned from OpenAdapter.
    HANDLE driverAdapter() const { return m_hDriverAdapter; }
    /// The DDI version the driver said it supports (OpenAdapter's DriverVersion).
    UINT driverVersion() const { return m_driverVersion; }
    const D3DDDI_ADAPTERFUNCS& funcs() const { return m_funcs; }
    bool closed() const { return m_closed; }

    /// The adapter a runtime adapter handle names (the callbacks' first argument); null
    /// when it names none.
    static RuntimeAdapter* fromHandle(HANDLE hAdapter);

private:
    RuntimeAdapter() = default;
    HRESULT open(const AdapterSource& source);

    int m_gpu = -1;
    D3DKMT_HANDLE m_hKernelAdapter = 0;
    UINT m_vidPnSourceId = 0;
    HANDLE m_hDriverAdapter = nullptr;
    UINT m_driverVersion = 0;
    D3DDDI_ADAPTERFUNCS m_funcs = {};
    bool m_opened = false;
    bool m_closed = false;
};

} // namespace rt
} // namespace sim
