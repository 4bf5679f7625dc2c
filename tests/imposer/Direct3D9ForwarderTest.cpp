// The IDirect3D9 the Direct3DCreate9 replacement hands out: every operation reaches the real
// interface with the same arguments and gives back its answer; a successful
// GetAdapterIdentifier names the stored driver.
#include "Direct3D9Forwarder.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

/// A real interface that records the last operation and answers with its slot number.
struct FakeDirect3D9 {
    const IDirect3D9Vtbl* lpVtbl;
    int lastSlot = -1;
    UINT lastAdapter = 0;
    HRESULT identifierResult = 0;
};

FakeDirect3D9* fake(IDirect3D9* self) {
    return reinterpret_cast<FakeDirect3D9*>(self);
}

HRESULT record(IDirect3D9* self, int slot, UINT adapter = 0) {
    fake(self)->lastSlot = slot;
    fake(self)->lastAdapter = adapter;
    return 0x100 + slot;
}

const IDirect3D9Vtbl kFakeTable = {
    [](IDirect3D9* s, REFIID, void**) -> HRESULT { return record(s, 0); },
    [](IDirect3D9* s) -> ULONG { return static_cast<ULONG>(record(s, 1)); },
    [](IDirect3D9* s) -> ULONG { return static_cast<ULONG>(record(s, 2)); },
    [](IDirect3D9* s, void*) -> HRESULT { return record(s, 3); },
    [](IDirect3D9* s) -> UINT { return static_cast<UINT>(record(s, 4)); },
    [](IDirect3D9* s, UINT a, DWORD, D3DADAPTER_IDENTIFIER9* id) -> HRESULT {
        record(s, 5, a);
        strcpy(id->Driver, "real.dll");
        return fake(s)->identifierResult;
    },
    [](IDirect3D9* s, UINT a, D3DFORMAT) -> UINT { return static_cast<UINT>(record(s, 6, a)); },
    [](IDirect3D9* s, UINT a, D3DFORMAT, UINT, D3DDISPLAYMODE*) -> HRESULT {
        return record(s, 7, a);
    },
    [](IDirect3D9* s, UINT a, D3DDISPLAYMODE*) -> HRESULT { return record(s, 8, a); },
    [](IDirect3D9* s, UINT a, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, BOOL) -> HRESULT {
        return record(s, 9, a);
    },
    [](IDirect3D9* s, UINT a, D3DDEVTYPE, D3DFORMAT, DWORD, D3DRESOURCETYPE, D3DFORMAT) -> HRESULT {
        return record(s, 10, a);
    },
    [](IDirect3D9* s, UINT a, D3DDEVTYPE, D3DFORMAT, BOOL, D3DMULTISAMPLE_TYPE, DWORD*) -> HRESULT {
        return record(s, 11, a);
    },
    [](IDirect3D9* s, UINT a, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, D3DFORMAT) -> HRESULT {
        return record(s, 12, a);
    },
    [](IDirect3D9* s, UINT a, D3DDEVTYPE, D3DFORMAT, D3DFORMAT) -> HRESULT {
        return record(s, 13, a);
    },
    [](IDirect3D9* s, UINT a, D3DDEVTYPE, D3DCAPS9*) -> HRESULT { return record(s, 14, a); },
    [](IDirect3D9* s, UINT a) -> HMONITOR {
        return reinterpret_cast<HMONITOR>(static_cast<intptr_t>(record(s, 15, a)));
    },
    [](IDirect3D9* s, UINT a, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*,
       struct IDirect3DDevice9**) -> HRESULT { return record(s, 16, a); },
};

TEST(Direct3D9Forwarder, EveryOperationReachesTheRealInterface) {
    FakeDirect3D9 real{&kFakeTable};
    Direct3D9Forwarder forwarder(reinterpret_cast<IDirect3D9*>(&real), "nvd3dumx.dll");
    IDirect3D9* d3d = forwarder.asInterface();
    const IDirect3D9Vtbl* v = d3d9Table(d3d);
    IID iid = {};
    void* object = nullptr;
    D3DADAPTER_IDENTIFIER9 identifier;
    D3DDISPLAYMODE mode;
    DWORD quality = 0;
    const HRESULT results[17] = {
        v->QueryInterface(d3d, iid, &object),
        static_cast<HRESULT>(v->AddRef(d3d)),
        static_cast<HRESULT>(v->Release(d3d)),
        v->RegisterSoftwareDevice(d3d, nullptr),
        static_cast<HRESULT>(v->GetAdapterCount(d3d)),
        (real.identifierResult = 0x105, v->GetAdapterIdentifier(d3d, 1, 0, &identifier)),
        static_cast<HRESULT>(v->GetAdapterModeCount(d3d, 1, D3DFORMAT(22))),
        v->EnumAdapterModes(d3d, 1, D3DFORMAT(22), 0, &mode),
        v->GetAdapterDisplayMode(d3d, 1, &mode),
        v->CheckDeviceType(d3d, 1, D3DDEVTYPE(1), D3DFORMAT(22), D3DFORMAT(22), TRUE),
        v->CheckDeviceFormat(d3d, 1, D3DDEVTYPE(1), D3DFORMAT(22), 0, D3DRESOURCETYPE(1),
                             D3DFORMAT(21)),
        v->CheckDeviceMultiSampleType(d3d, 1, D3DDEVTYPE(1), D3DFORMAT(22), TRUE,
                                      D3DMULTISAMPLE_TYPE(0), &quality),
        v->CheckDepthStencilMatch(d3d, 1, D3DDEVTYPE(1), D3DFORMAT(22), D3DFORMAT(22),
                                  D3DFORMAT(75)),
        v->CheckDeviceFormatConversion(d3d, 1, D3DDEVTYPE(1), D3DFORMAT(22), D3DFORMAT(22)),
        v->GetDeviceCaps(d3d, 1, D3DDEVTYPE(1), nullptr),
        static_cast<HRESULT>(reinterpret_cast<intptr_t>(v->GetAdapterMonitor(d3d, 1))),
        v->CreateDevice(d3d, 1, D3DDEVTYPE(1), nullptr, 0, nullptr, nullptr),
    };
    for (int slot = 0; slot < 17; ++slot)
        EXPECT_EQ(results[slot], 0x100 + slot) << "operation " << slot;
    EXPECT_EQ(real.lastSlot, 16);
    EXPECT_EQ(real.lastAdapter, 1u);
    EXPECT_STREQ(identifier.Driver, "nvd3dumx.dll");
}

TEST(Direct3D9Forwarder, FailedIdentifierQueryKeepsTheRealAnswer) {
    FakeDirect3D9 real{&kFakeTable};
    real.identifierResult = static_cast<HRESULT>(0x8876086C); // D3DERR_INVALIDCALL
    Direct3D9Forwarder forwarder(reinterpret_cast<IDirect3D9*>(&real), "nvd3dumx.dll");
    D3DADAPTER_IDENTIFIER9 identifier;
    IDirect3D9* d3d = forwarder.asInterface();
    EXPECT_EQ(d3d9Table(d3d)->GetAdapterIdentifier(d3d, 0, 0, &identifier),
              static_cast<HRESULT>(0x8876086C));
    EXPECT_STREQ(identifier.Driver, "real.dll");
}

TEST(Direct3D9Forwarder, DriverNameIsCutAt260Characters) {
    FakeDirect3D9 real{&kFakeTable};
    std::string longName(400, 'x');
    Direct3D9Forwarder forwarder(reinterpret_cast<IDirect3D9*>(&real), longName.c_str());
    EXPECT_EQ(strlen(forwarder.m_driverName), 260u);
    EXPECT_EQ(offsetof(Direct3D9Forwarder, m_pReal), sizeof(void*));
}

} // namespace
