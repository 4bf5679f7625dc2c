// The DDI function tables built from their X-macro lists: every slot where the driver
// interface puts it, and every list entry's argument list matching its parameter list, so
// that routing tables expanded from the same lists forward calls unchanged.
#include "platform/win.h"

#include <gtest/gtest.h>

namespace {

// The table a forwarder passes each call on to.
D3DDDI_DEVICEFUNCS s_next;

// One pass-through wrapper per device entry, written only from the list: if a parameter and
// argument column disagreed anywhere, this would not compile.
#define VESSA_TEST_FORWARDER(slot, member, Pfn, params, args)                                      \
    HRESULT APIENTRY forward_##member params {                                                     \
        return s_next.member args;                                                                 \
    }
VESSA_DDI_DEVICEFUNCS(VESSA_TEST_FORWARDER)
#undef VESSA_TEST_FORWARDER

const D3DDDI_DEVICEFUNCS s_forwarders = {
#define VESSA_TEST_ENTRY(slot, member, Pfn, params, args) &forward_##member,
    VESSA_DDI_DEVICEFUNCS(VESSA_TEST_ENTRY)
#undef VESSA_TEST_ENTRY
};

struct PresentCall {
    HANDLE device = nullptr;
    D3DDDIARG_PRESENT args{};
    int count = 0;
};
PresentCall s_present;

HRESULT APIENTRY recordPresent(HANDLE hDevice, const D3DDDIARG_PRESENT* pData) {
    s_present.device = hDevice;
    s_present.args = *pData;
    ++s_present.count;
    return S_PRESENT_OCCLUDED;
}

struct ClearCall {
    UINT numRect = 0;
    const RECT* pRect = nullptr;
};
ClearCall s_clear;

HRESULT APIENTRY recordClear(HANDLE, const D3DDDIARG_CLEAR*, UINT numRect, const RECT* pRect) {
    s_clear.numRect = numRect;
    s_clear.pRect = pRect;
    return D3DERR_INVALIDCALL;
}

const void* slotAt(const void* table, size_t slot) {
    return reinterpret_cast<const void* const*>(table)[slot];
}

TEST(DdiTables, DeviceEntriesSitAtTheirSlots) {
    D3DDDI_DEVICEFUNCS funcs{};
    funcs.pfnPresent = &recordPresent;
    funcs.pfnClear = &recordClear;
    EXPECT_EQ(reinterpret_cast<const void*>(&recordPresent), slotAt(&funcs, 40));
    EXPECT_EQ(reinterpret_cast<const void*>(&recordClear), slotAt(&funcs, 21));
    EXPECT_EQ(121 * sizeof(void*), sizeof(D3DDDI_DEVICEFUNCS));
}

TEST(DdiTables, ListedForwardersPassEveryArgumentAndTheResultThrough) {
    s_next.pfnPresent = &recordPresent;
    s_next.pfnClear = &recordClear;
    HANDLE device = reinterpret_cast<HANDLE>(0x1234);

    D3DDDIARG_PRESENT present{};
    present.hSrcResource = reinterpret_cast<HANDLE>(0x10);
    present.FlipInterval = D3DDDI_FLIPINTERVAL_TWO;
    present.Flags.Value = D3DDDI_PRESENTFLAGS::Flip;
    EXPECT_EQ(S_PRESENT_OCCLUDED, s_forwarders.pfnPresent(device, &present));
    EXPECT_EQ(1, s_present.count);
    EXPECT_EQ(device, s_present.device);
    EXPECT_EQ(present.hSrcResource, s_present.args.hSrcResource);
    EXPECT_EQ(D3DDDI_FLIPINTERVAL_TWO, s_present.args.FlipInterval);

    RECT rects[2] = {};
    D3DDDIARG_CLEAR clear{};
    EXPECT_EQ(D3DERR_INVALIDCALL, s_forwarders.pfnClear(device, &clear, 2, rects));
    EXPECT_EQ(2u, s_clear.numRect);
    EXPECT_EQ(rects, s_clear.pRect);
}

TEST(DdiTables, CallbackAndAdapterTablesHaveTheirSlots) {
    D3DDDI_DEVICECALLBACKS callbacks{};
    EXPECT_EQ(22 * sizeof(void*), sizeof(callbacks));
    EXPECT_EQ(5 * sizeof(void*), offsetof(D3DDDI_DEVICECALLBACKS, pfnPresentCb));
    EXPECT_EQ(9 * sizeof(void*), offsetof(D3DDDI_DEVICECALLBACKS, pfnEscapeCb));
    EXPECT_EQ(2 * sizeof(void*), sizeof(D3DDDI_ADAPTERCALLBACKS));
    EXPECT_EQ(3 * sizeof(void*), sizeof(D3DDDI_ADAPTERFUNCS));
    EXPECT_EQ(2 * sizeof(void*), offsetof(D3DDDI_ADAPTERFUNCS, pfnCloseAdapter));
}

TEST(DdiTables, ArgumentRecordsMatchTheRuntimeLayouts) {
    EXPECT_EQ(64u, sizeof(D3DDDIARG_CREATERESOURCE));
    EXPECT_EQ(40u, sizeof(D3DDDIARG_OPENADAPTER));
    EXPECT_EQ(96u, sizeof(D3DDDIARG_CREATEDEVICE));
    EXPECT_EQ(536u, sizeof(D3DDDICB_PRESENT));
    EXPECT_EQ(624u, sizeof(D3DDDICB_RENDER));

    // The driver's resource handle comes back at offset 48; the flags follow at 56.
    D3DDDIARG_CREATERESOURCE create{};
    create.hResource = reinterpret_cast<HANDLE>(0x5A5A);
    create.Flags.Value = D3DDDI_RESOURCEFLAGS::Primary | D3DDDI_RESOURCEFLAGS::RenderTarget;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&create);
    EXPECT_EQ(0x5Au, bytes[48]);
    EXPECT_EQ(0x01u, bytes[56]);
    EXPECT_EQ(0x80u, bytes[57]);

    // The two lock-flag words disagree on Discard; code must use the right one.
    EXPECT_EQ(0x8u, D3DDDI_LOCKFLAGS::Discard);
    EXPECT_EQ(0x80u, D3DDDICB_LOCKFLAGS::Discard);
    EXPECT_EQ(0xC00u, FORMATOP_DISPLAYMODE | FORMATOP_3DACCELERATION);
}

} // namespace
