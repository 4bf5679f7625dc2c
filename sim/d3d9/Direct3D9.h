// The IDirect3D9 object of the simulated d3d9.dll: reference counted, its adapters the
// installed machine's display outputs on the desktop, the primary first.
#pragma once

#include "platform/d3d9.h"

#include <atomic>

namespace simd3d9 {

/// Fields in order: the operation table, then the object's own state.
struct Direct3D9 {
    const IDirect3D9Vtbl* lpVtbl;
    std::atomic<ULONG> references{1};

    Direct3D9();
    ~Direct3D9();

    IDirect3D9* asInterface() { return reinterpret_cast<IDirect3D9*>(this); }

    /// Objects created and not yet released to zero, for tests that look for leaks.
    static int liveObjects();
};

} // namespace simd3d9
