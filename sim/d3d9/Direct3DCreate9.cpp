// The exports of the simulated d3d9.dll: Direct3DCreate9 and the tests' leak count.
#include "Direct3D9.h"

#include "sim/Call.h"

#include <new>

VESSA_EXPORT IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion) {
    sim::Call call("d3d9.dll", "Direct3DCreate9");
    call.args("sdkVersion=%u", sdkVersion);
    // Only the version the Direct3D 9 headers give is accepted (its top bit asks for the
    // debug runtime), as the system does.
    if (call.faulted() || (sdkVersion & 0x7FFFFFFFu) != D3D_SDK_VERSION)
        return call.finish(static_cast<IDirect3D9*>(nullptr));
    auto* object = new (std::nothrow) simd3d9::Direct3D9();
    return call.finish(object ? object->asInterface() : nullptr);
}

/// IDirect3D9 objects alive in the process.
VESSA_EXPORT int d3d9TestLiveObjects() {
    return simd3d9::Direct3D9::liveObjects();
}
