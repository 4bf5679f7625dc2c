// A simulated vendor user-mode driver module: its one export, OpenAdapter. The module is
// built once per vendor (SIMUMD_PROFILE names the vendor profile); the driver's work is
// in the shared driver core.
#include "platform/win.h"
#include "sim/drivers/DriverEntry.h"

VESSA_EXPORT HRESULT APIENTRY OpenAdapter(D3DDDIARG_OPENADAPTER* pOpenData) {
    return sim::umd::openAdapterForProfile(SIMUMD_PROFILE, pOpenData);
}
