// The routing of the wrapped device entries with two GPUs: dropped frames, handle exchange,
// the pacing inputs each Present writes, flushes, destruction order, and the device lock
// being free after every path.
#include "PresentTestSupport.h"

#include <gtest/gtest.h>

using namespace presenttest;

namespace {

class DeviceRoutingTest : public EmptyLogTest {
protected:
    HANDLE createSurface() {
        std::vector<D3DDDI_SURFACEINFO> list = surfaces(1);
        D3DDDIARG_CREATERESOURCE args = createArgs(list);
        EXPECT_EQ(S_OK, DeviceFuncs::pfnCreateResource(hDevice(), &args));
        return args.hResource;
    }
    HANDLE createPrimary() {
        std::vector<D3DDDI_SURFACEINFO> list = surfaces(2);
        D3DDDIARG_CREATERESOURCE args = createArgs(list, D3DDDI_RESOURCEFLAGS::Primary);
        EXPECT_EQ(S_OK, DeviceFuncs::pfnCreateResource(hDevice(), &args));
        return args.hResource;
    }
    HANDLE openShared() {
        D3DDDIARG_OPENRESOURCE args = {};
        EXPECT_EQ(S_OK, DeviceFuncs::pfnOpenResource(hDevice(), &args));
        return args.hResource;
    }
    HANDLE hDevice() const { return m_device.hDevice(); }
    FlipManager& flip() { return *m_device.get()->m_pFlipManager; }
    size_t renderingCalls(const char* entry) const { return m_driver.count(1, entry); }

    FakeDriver m_driver;
    FakeHybridDevice m_device{m_driver};
};

TEST_F(DeviceRoutingTest, DroppedFrameSkipsDrawsButNeverStateOrResourceBlts) {
    HANDLE hTarget = createSurface();
    HANDLE hOther = createSurface();
    flip().setDropDraw(true);
    flip().m_frameDropped = true;

    D3DDDIARG_DRAWPRIMITIVE draw = {};
    D3DDDIARG_CLEAR clear = {};
    D3DDDIARG_COLORFILL fill = {};
    fill.hResource = hTarget;
    D3DDDIARG_DEPTHFILL depth = {};
    D3DDDIARG_BLT blt = {};
    blt.hSrcResource = hOther;
    blt.hDstResource = hTarget;
    EXPECT_EQ(S_OK, DeviceFuncs::pfnDrawPrimitive(hDevice(), &draw, nullptr));
    EXPECT_EQ(S_OK, DeviceFuncs::pfnClear(hDevice(), &clear, 0, nullptr));
    EXPECT_EQ(S_OK, DeviceFuncs::pfnColorFill(hDevice(), &fill));
    EXPECT_EQ(S_OK, DeviceFuncs::pfnDepthFill(hDevice(), &depth));
    EXPECT_EQ(S_OK, DeviceFuncs::pfnBlt(hDevice(), &blt));
    for (const char* entry : {"DrawPrimitive", "Clear", "ColorFill", "DepthFill", "Blt"})
        EXPECT_EQ(0u, renderingCalls(entry)) << entry << " reached the driver";
    EXPECT_TRUE(lockIsFree(m_device.get()));

    D3DDDIARG_SETRENDERTARGET target = {0, hTarget, 0};
    D3DDDIARG_TEXBLT tex = {};
    tex.hDstResource = hTarget;
    tex.hSrcResource = hOther;
    D3DDDIARG_BUFFERBLT buf = {};
    EXPECT_EQ(S_OK, DeviceFuncs::pfnSetRenderTarget(hDevice(), &target));
    EXPECT_EQ(S_OK, DeviceFuncs::pfnTexBlt(hDevice(), &tex));
    EXPECT_EQ(S_OK, DeviceFuncs::pfnBufBlt(hDevice(), &buf));
    for (const char* entry : {"SetRenderTarget", "TexBlt", "BufBlt"})
        EXPECT_EQ(1u, renderingCalls(entry)) << entry << " was dropped";

    flip().m_frameDropped = false;
    EXPECT_EQ(S_OK, DeviceFuncs::pfnDrawPrimitive(hDevice(), &draw, nullptr));
    EXPECT_EQ(1u, renderingCalls("DrawPrimitive"));
}

TEST_F(DeviceRoutingTest, SharedResourcesStandForThePrimaryOnTheRenderingGpu) {
    HANDLE hShared = openShared();
    D3DDDIARG_SETRENDERTARGET target = {0, hShared, 0};
    // Before any primary there is nothing to draw into: refused, not passed on.
    EXPECT_EQ(E_FAIL, DeviceFuncs::pfnSetRenderTarget(hDevice(), &target));
    EXPECT_EQ(1, reportCount("Error", 11002));
    EXPECT_EQ(0u, renderingCalls("SetRenderTarget"));

    HANDLE hPrimary = createPrimary();
    EXPECT_EQ(S_OK, DeviceFuncs::pfnSetRenderTarget(hDevice(), &target));
    EXPECT_EQ(value(hPrimary), m_driver.last(1, "SetRenderTarget")->h1);
    EXPECT_EQ(hShared, target.hRenderTarget) << "the runtime's structure was modified";

    D3DDDIARG_COLORFILL fill = {};
    fill.hResource = hShared;
    EXPECT_EQ(S_OK, DeviceFuncs::pfnColorFill(hDevice(), &fill));
    EXPECT_EQ(value(hPrimary), m_driver.last(1, "ColorFill")->h1);
}

TEST_F(DeviceRoutingTest, NullRenderTargetPassesWithoutALookUp) {
    D3DDDIARG_SETRENDERTARGET target = {1, nullptr, 0};
    EXPECT_EQ(S_OK, DeviceFuncs::pfnSetRenderTarget(hDevice(), &target));
    EXPECT_EQ(0u, m_driver.last(1, "SetRenderTarget")->h1);
    EXPECT_EQ(0, reportCount("Error", 11032));
}

TEST_F(DeviceRoutingTest, UnknownResourceFailsTheCallWithoutReachingTheDriver) {
    D3DDDIARG_COLORFILL fill = {};
    fill.hResource = handle(0xDEAD);
    EXPECT_EQ(E_FAIL, DeviceFuncs::pfnColorFill(hDevice(), &fill));
    EXPECT_EQ(0u, renderingCalls("ColorFill"));
    EXPECT_EQ(1, reportCount("Error", 11032));
    EXPECT_TRUE(lockIsFree(m_device.get()));
}

struct RateCase {
    UINT flags;
    uint32_t margin;
    uint32_t expected;
};

TEST_F(DeviceRoutingTest, EachPresentWritesItsTargetRateAndInterval) {
    HANDLE hPrimary = createPrimary();
    flip().m_refreshRate = 60;
    for (const RateCase& c :
         {RateCase{D3DDDI_PRESENTFLAGS::Flip, 2, 62}, RateCase{D3DDDI_PRESENTFLAGS::Blt, 2, 65},
          RateCase{D3DDDI_PRESENTFLAGS::Blt, 7, 67}}) {
        flip().m_margin = c.margin;
        D3DDDIARG_PRESENT args = {};
        args.hSrcResource = hPrimary;
        args.Flags.Value = c.flags;
        args.FlipInterval = D3DDDI_FLIPINTERVAL_ONE;
        DeviceFuncs::pfnPresent(hDevice(), &args);
        EXPECT_EQ(c.expected, flip().m_targetRate) << "flags " << c.flags << " margin " << c.margin;
        EXPECT_TRUE(flip().m_vsyncRequested);
    }
    flip().setZari(true);
    D3DDDIARG_PRESENT immediate = {};
    immediate.hSrcResource = hPrimary;
    immediate.Flags.Value = D3DDDI_PRESENTFLAGS::Flip;
    immediate.FlipInterval = D3DDDI_FLIPINTERVAL_IMMEDIATE;
    DeviceFuncs::pfnPresent(hDevice(), &immediate);
    EXPECT_FALSE(flip().m_vsyncRequested);
    EXPECT_EQ(1, flip().m_presentInterval);
    EXPECT_TRUE(lockIsFree(m_device.get()));
}

TEST_F(DeviceRoutingTest, OneGpuForBothRolesPresentsThereWithoutPacing) {
    HANDLE hSurface = createSurface();
    OpenAdapter::setGpuRoles(1, 1);
    const uint32_t target = flip().m_targetRate;
    D3DDDIARG_PRESENT args = {};
    args.hSrcResource = hSurface;
    args.Flags.Value = D3DDDI_PRESENTFLAGS::Blt;
    args.FlipInterval = D3DDDI_FLIPINTERVAL_ONE;
    EXPECT_EQ(S_OK, DeviceFuncs::pfnPresent(hDevice(), &args));
    EXPECT_EQ(value(hSurface), m_driver.last(1, "Present")->h1);
    EXPECT_EQ(target, flip().m_targetRate);
    EXPECT_FALSE(flip().m_vsyncRequested);

    D3DDDIARG_BLT blt = {};
    blt.hSrcResource = hSurface;
    blt.hDstResource = hSurface;
    blt.Flags.Value = D3DDDI_BLTFLAGS::BeginPresentToDwm | D3DDDI_BLTFLAGS::EndPresentToDwm;
    EXPECT_EQ(S_OK, DeviceFuncs::pfnBlt(hDevice(), &blt));
    EXPECT_EQ(1u, renderingCalls("Blt"));
    EXPECT_EQ(0u, m_driver.count(0, "Present") + m_driver.count(0, "Blt"));
    OpenAdapter::setGpuRoles(1, 0);
}

TEST_F(DeviceRoutingTest, FlushReturnsTheRenderingGpusResultAfterFlushingBoth) {
    m_driver.fail(0, "Flush", E_FAIL);
    EXPECT_EQ(S_OK, DeviceFuncs::pfnFlush(hDevice()));
    EXPECT_EQ(1u, m_driver.count(0, "Flush"));
    EXPECT_EQ(1u, m_driver.count(1, "Flush"));
    m_driver.fail(1, "Flush", E_OUTOFMEMORY);
    EXPECT_EQ(E_OUTOFMEMORY, DeviceFuncs::pfnFlush(hDevice()));
    EXPECT_EQ(3, reportCount("Warning", 0)); // P, then R and P
}

TEST_F(DeviceRoutingTest, DestroyGoesToThePresentingGpuFirstAndResetsPacingForThePrimary) {
    HANDLE hPrimary = createPrimary();
    D3DDDIARG_PRESENT args = {};
    args.hSrcResource = hPrimary;
    args.Flags.Value = D3DDDI_PRESENTFLAGS::Flip;
    args.FlipInterval = D3DDDI_FLIPINTERVAL_ONE;
    DeviceFuncs::pfnPresent(hDevice(), &args);
    const uint64_t onPresenting = m_device.get()->getResource(value(hPrimary))->getUserHandle(0);
    ASSERT_NE(0u, onPresenting);
    flip().m_dropAccumulator = 0.5f;
    flip().m_decisionPending = false;

    m_driver.calls.clear();
    EXPECT_EQ(S_OK, DeviceFuncs::pfnDestroyResource(hDevice(), hPrimary));
    std::vector<std::pair<int, uint64_t>> order;
    for (const Call& c : m_driver.calls)
        if (c.entry == "DestroyResource")
            order.push_back({c.gpu, c.h1});
    // The staging surfaces of the API copy go after the resource itself.
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(std::make_pair(0, onPresenting), order[0]);
    EXPECT_EQ(std::make_pair(1, value(hPrimary)), order[1]);
    EXPECT_EQ(0.0f, flip().m_dropAccumulator);
    EXPECT_TRUE(flip().m_decisionPending);
    EXPECT_EQ(nullptr, m_device.swapChain().primaryResource());
}

} // namespace
