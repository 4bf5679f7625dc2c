// simumd_nv_vista.dll: the simulated NVIDIA driver as an older release of it, which supports
// only the Vista DDI version. Everything else is the NVIDIA driver's own.
#include "platform/win.h"
#include "sim/drivers/DriverEntry.h"

namespace {
constexpr int kNvidiaProfile = 1;
} // namespace

VESSA_EXPORT HRESULT APIENTRY OpenAdapter(D3DDDIARG_OPENADAPTER* pOpenData) {
    HRESULT hr = sim::umd::openAdapterForProfile(kNvidiaProfile, pOpenData);
    if (hr == S_OK)
        pOpenData->DriverVersion = D3D_UMD_INTERFACE_VERSION_VISTA;
    return hr;
}
