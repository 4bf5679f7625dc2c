// Direct3D9Forwarder: the IDirect3D9 that the Direct3DCreate9 replacement hands out. Each of
// its 17 operations calls the same operation of the real interface (reference counting and
// QueryInterface included, so they act on the real object); GetAdapterIdentifier then names
// the rendering GPU's user-mode driver in the identifier's Driver field.
#pragma once

#include "platform/d3d9.h"

/// Fields in order: the operation table, the real interface, the driver name.
struct Direct3D9Forwarder {
    static constexpr size_t kDriverNameChars = 260;

    const IDirect3D9Vtbl* lpVtbl;
    IDirect3D9* m_pReal;
    char m_driverName[kDriverNameChars + 1];

    /// A forwarder on the heap wrapping `real` (not null), as Direct3DCreate9 hands it out;
    /// null when it cannot be allocated. It frees itself when its Release takes the real
    /// object's count to zero.
    static IDirect3D9* create(IDirect3D9* real, const char* driverName);

    /// Wraps `real` (not null), naming `driverName` (cut to 260 characters).
    Direct3D9Forwarder(IDirect3D9* real, const char* driverName);

    IDirect3D9* asInterface() { return reinterpret_cast<IDirect3D9*>(this); }

    /// The operation table every forwarder shares.
    static const IDirect3D9Vtbl s_vtable;
};
