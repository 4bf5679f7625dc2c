// The simulated vendor drivers' device side, driven through the simulated runtime: pixel
// operations on real memory, locks with the vendor's pitch, presents that reach the
// display, queries, handle and argument checks, and fault injection through an entry.
#include "platform/win.h"
#include "sim/Machine.h"
#include "sim/drivers/DriverControl.h"
#include "sim/gpus/Display.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/Presets.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string.h>
#include <vector>

namespace {

using sim::rt::AdapterSource;
using sim::rt::RuntimeAdapter;
using sim::rt::RuntimeDevice;
using sim::rt::SurfaceDesc;

sim::Journal& journal() {
    return sim::Machine::instance().journal();
}

class UmdDeviceTest : public ::testing::Test {
protected:
    void open(int gpu) {
        ASSERT_EQ(S_OK, RuntimeAdapter::openGpu(gpu, AdapterSource(), m_pAdapter));
        ASSERT_EQ(S_OK, m_pAdapter->createDevice(m_pDevice));
    }
    // The NVIDIA GPU gets a monitor, so that its driver's flips have a source to reach.
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim::installMachine(sim::presets::monitorOnEveryGpu(), &error)) << error;
        open(1);
    }

    HANDLE surface(UINT width, UINT height, D3DDDIFORMAT format = D3DDDIFMT_X8R8G8B8,
                   UINT flags = D3DDDI_RESOURCEFLAGS::RenderTarget) {
        SurfaceDesc desc;
        desc.width = width;
        desc.height = height;
        desc.format = format;
        desc.flags = flags;
        HANDLE h = nullptr;
        EXPECT_EQ(S_OK, m_pDevice->createResource(desc, h));
        return h;
    }

    // Reads one 32-bit pixel through a lock.
    uint32_t pixel(HANDLE h, UINT x, UINT y) {
        void* pBits = nullptr;
        UINT pitch = 0;
        EXPECT_EQ(S_OK, m_pDevice->lock(h, 0, pBits, pitch, D3DDDI_LOCKFLAGS::ReadOnly));
        uint32_t value = 0;
        if (pBits)
            memcpy(&value, static_cast<uint8_t*>(pBits) + size_t(y) * pitch + x * 4, 4);
        EXPECT_EQ(S_OK, m_pDevice->unlock(h, 0));
        return value;
    }

    const D3DDDI_DEVICEFUNCS& funcs() { return m_pDevice->funcs(); }
    HANDLE device() { return m_pDevice->driverDevice(); }

    std::unique_ptr<RuntimeAdapter> m_pAdapter;
    std::unique_ptr<RuntimeDevice> m_pDevice;
};

TEST_F(UmdDeviceTest, EveryDeviceSlotIsFilled) {
    const void* const* pSlots = reinterpret_cast<const void* const*>(&funcs());
    for (size_t i = 0; i < sizeof(D3DDDI_DEVICEFUNCS) / sizeof(void*); ++i)
        EXPECT_NE(nullptr, pSlots[i]) << "slot " << i;
}

TEST_F(UmdDeviceTest, DeviceCreationTakesAContextThroughTheRuntime) {
    EXPECT_EQ(1u, journal().count("d3d9.dll", "CreateContextCb", 1));
    EXPECT_EQ(1u, journal().count("gdi32.dll", "D3DKMTCreateContext", 1));
    EXPECT_EQ(1u, journal().count("simumd_nv.dll", "CreateDevice", 1));
}

TEST_F(UmdDeviceTest, ColorFillWritesTheRectangleOnly) {
    HANDLE h = surface(64, 32);
    ASSERT_EQ(S_OK, m_pDevice->colorFill(h, 0, {0, 0, 64, 32}, 0xFF000000u));
    ASSERT_EQ(S_OK, m_pDevice->colorFill(h, 0, {10, 5, 20, 15}, 0xFF123456u));
    EXPECT_EQ(0xFF123456u, pixel(h, 10, 5));
    EXPECT_EQ(0xFF123456u, pixel(h, 19, 14));
    EXPECT_EQ(0xFF000000u, pixel(h, 20, 14));
    EXPECT_EQ(0xFF000000u, pixel(h, 19, 15));
    EXPECT_EQ(0xFF000000u, pixel(h, 9, 5));
}

TEST_F(UmdDeviceTest, ColorFillConvertsToSixteenBitFormats) {
    HANDLE h = surface(8, 8, D3DDDIFMT_R5G6B5);
    ASSERT_EQ(S_OK, m_pDevice->colorFill(h, 0, {0, 0, 8, 8}, 0xFFFF0000u));
    void* pBits = nullptr;
    UINT pitch = 0;
    ASSERT_EQ(S_OK, m_pDevice->lock(h, 0, pBits, pitch));
    uint16_t value;
    memcpy(&value, pBits, 2);
    EXPECT_EQ(0xF800u, value);
    EXPECT_EQ(S_OK, m_pDevice->unlock(h, 0));
}

TEST_F(UmdDeviceTest, BltCopiesBetweenRectanglesAndSubresources) {
    SurfaceDesc desc;
    desc.width = 32;
    desc.height = 32;
    desc.surfaceCount = 2;
    HANDLE chain = nullptr;
    ASSERT_EQ(S_OK, m_pDevice->createResource(desc, chain));
    HANDLE dst = surface(64, 64);
    ASSERT_EQ(S_OK, m_pDevice->colorFill(chain, 1, {0, 0, 32, 32}, 0xFF00FF00u));
    ASSERT_EQ(S_OK, m_pDevice->colorFill(chain, 1, {8, 8, 16, 16}, 0xFFFF0000u));
    ASSERT_EQ(S_OK, m_pDevice->colorFill(dst, 0, {0, 0, 64, 64}, 0xFF0000FFu));
    // Surface 1's rectangle (8,8)-(16,16) lands at (40,40); the rest of dst is untouched.
    ASSERT_EQ(S_OK, m_pDevice->blt(chain, 1, {8, 8, 16, 16}, dst, 0, {40, 40, 48, 48}));
    EXPECT_EQ(0xFFFF0000u, pixel(dst, 40, 40));
    EXPECT_EQ(0xFFFF0000u, pixel(dst, 47, 47));
    EXPECT_EQ(0xFF0000FFu, pixel(dst, 48, 47));
    EXPECT_EQ(0xFF0000FFu, pixel(dst, 39, 40));
    // A stretch samples points: (0,0)-(2,2) of a two-colour source doubled.
    ASSERT_EQ(S_OK, m_pDevice->blt(chain, 1, {7, 7, 9, 9}, dst, 0, {0, 0, 4, 4}));
    EXPECT_EQ(0xFF00FF00u, pixel(dst, 1, 1));
    EXPECT_EQ(0xFFFF0000u, pixel(dst, 2, 2));
    EXPECT_EQ(0xFFFF0000u, pixel(dst, 3, 3));
    EXPECT_EQ(1u, sim::umd::stats(1).draws + 1); // no draw counted by blits
    EXPECT_EQ(2u, sim::umd::stats(1).blts);
}

TEST_F(UmdDeviceTest, BltWithinOneSurfaceHandlesOverlap) {
    HANDLE h = surface(16, 4);
    ASSERT_EQ(S_OK, m_pDevice->colorFill(h, 0, {0, 0, 16, 4}, 0xFF000000u));
    ASSERT_EQ(S_OK, m_pDevice->colorFill(h, 0, {0, 0, 1, 4}, 0xFFFFFFFFu));
    ASSERT_EQ(S_OK, m_pDevice->colorFill(h, 0, {1, 0, 2, 4}, 0xFF111111u));
    ASSERT_EQ(S_OK, m_pDevice->blt(h, 0, {0, 0, 8, 4}, h, 0, {1, 0, 9, 4}));
    EXPECT_EQ(0xFFFFFFFFu, pixel(h, 1, 2));
    EXPECT_EQ(0xFF111111u, pixel(h, 2, 2));
}

TEST_F(UmdDeviceTest, LockReportsTheVendorsAlignedPitch) {
    HANDLE h = surface(100, 10);
    void* pBits = nullptr;
    UINT pitch = 0;
    ASSERT_EQ(S_OK, m_pDevice->lock(h, 0, pBits, pitch));
    EXPECT_EQ(512u, pitch); // 400 bytes, aligned to the NVIDIA driver's 256
    // An area lock nested in the whole lock points into the same locked memory.
    D3DDDIARG_LOCK area = {};
    area.hResource = h;
    area.Flags.Value = D3DDDI_LOCKFLAGS::AreaValid;
    area.Area = {4, 2, 8, 6};
    ASSERT_EQ(S_OK, funcs().pfnLock(device(), &area));
    EXPECT_EQ(static_cast<uint8_t*>(pBits) + 2 * 512 + 16, area.pSurfData);
    D3DDDIARG_UNLOCK unlock = {h, 0, {}};
    EXPECT_EQ(S_OK, funcs().pfnUnlock(device(), &unlock));
    EXPECT_EQ(S_OK, m_pDevice->unlock(h, 0));
    EXPECT_EQ(E_INVALIDARG, m_pDevice->unlock(h, 0)); // not locked any more
    area.Area = {90, 0, 101, 1};                      // one column past the edge
    EXPECT_EQ(E_INVALIDARG, funcs().pfnLock(device(), &area));
}

TEST_F(UmdDeviceTest, IntelDriverAlignsToSixtyFourBytes) {
    m_pDevice.reset();
    m_pAdapter.reset();
    open(0);
    HANDLE h = surface(100, 10);
    void* pBits = nullptr;
    UINT pitch = 0;
    ASSERT_EQ(S_OK, m_pDevice->lock(h, 0, pBits, pitch));
    EXPECT_EQ(448u, pitch);
    EXPECT_EQ(S_OK, m_pDevice->unlock(h, 0));
}

TEST_F(UmdDeviceTest, SystemMemorySurfacesUseTheCallersMemory) {
    std::vector<uint32_t> memory(16 * 8, 0);
    SurfaceDesc desc;
    desc.width = 16;
    desc.height = 8;
    desc.pool = D3DDDIPOOL_SYSTEMMEM;
    desc.flags = 0;
    desc.pSysMem = memory.data();
    desc.sysMemPitch = 64;
    HANDLE h = nullptr;
    ASSERT_EQ(S_OK, m_pDevice->createResource(desc, h));
    ASSERT_EQ(S_OK, m_pDevice->colorFill(h, 0, {2, 1, 3, 2}, 0xFFABCDEFu));
    // The GPU writes the caller's memory when it runs the fill, not before.
    EXPECT_EQ(0u, memory[16 + 2]);
    ASSERT_EQ(S_OK, m_pDevice->waitForIdle());
    EXPECT_EQ(0xFFABCDEFu, memory[16 + 2]);
    ASSERT_EQ(S_OK, m_pDevice->destroyResource(h)); // before the memory goes
}

TEST_F(UmdDeviceTest, ClearFillsTheRenderTargetClippedToIt) {
    HANDLE h = surface(32, 32);
    ASSERT_EQ(S_OK, m_pDevice->setRenderTarget(h, 0));
    ASSERT_EQ(S_OK, m_pDevice->clear(0xFF445566u));
    EXPECT_EQ(0xFF445566u, pixel(h, 31, 31));
    RECT rect = {30, 30, 100, 100};
    ASSERT_EQ(S_OK, m_pDevice->clear(0xFF000001u, 1, &rect));
    EXPECT_EQ(0xFF000001u, pixel(h, 31, 31));
    EXPECT_EQ(0xFF445566u, pixel(h, 29, 31));
}

TEST_F(UmdDeviceTest, DepthFillAndDepthClearWriteTheDepthFormat) {
    HANDLE z = surface(8, 8, D3DDDIFMT_D24S8, D3DDDI_RESOURCEFLAGS::ZBuffer);
    D3DDDIARG_DEPTHFILL fill = {z, 0, {0, 0, 8, 8}, 0x12345678u};
    ASSERT_EQ(S_OK, funcs().pfnDepthFill(device(), &fill));
    EXPECT_EQ(0x12345678u, pixel(z, 7, 7));
    ASSERT_EQ(S_OK, funcs().pfnSetDepthStencil(
                        device(), reinterpret_cast<const D3DDDIARG_SETDEPTHSTENCIL*>(&z)));
    D3DDDIARG_CLEAR clear = {0x2 | 0x4, 0, 1.0f, 0x7F};
    ASSERT_EQ(S_OK, funcs().pfnClear(device(), &clear, 0, nullptr));
    EXPECT_EQ(0xFFFFFF7Fu, pixel(z, 3, 3));
    // A colour fill of a depth surface is refused.
    EXPECT_EQ(E_INVALIDARG, m_pDevice->colorFill(z, 0, {0, 0, 1, 1}, 0));
}

TEST_F(UmdDeviceTest, BufBltAndTexBltCopyBytesAndLevels) {
    HANDLE src = surface(256, 1, D3DDDIFMT_VERTEXDATA, D3DDDI_RESOURCEFLAGS::VertexBuffer);
    HANDLE dst = surface(256, 1, D3DDDIFMT_VERTEXDATA, D3DDDI_RESOURCEFLAGS::VertexBuffer);
    void* pBits = nullptr;
    UINT pitch = 0;
    ASSERT_EQ(S_OK, m_pDevice->lock(src, 0, pBits, pitch));
    for (int i = 0; i < 256; ++i)
        static_cast<uint8_t*>(pBits)[i] = uint8_t(i);
    ASSERT_EQ(S_OK, m_pDevice->unlock(src, 0));
    D3DDDIARG_BUFFERBLT buf = {dst, src, 100, {10, 20}};
    ASSERT_EQ(S_OK, funcs().pfnBufBlt(device(), &buf));
    ASSERT_EQ(S_OK, m_pDevice->lock(dst, 0, pBits, pitch));
    EXPECT_EQ(10, static_cast<uint8_t*>(pBits)[100]);
    EXPECT_EQ(29, static_cast<uint8_t*>(pBits)[119]);
    EXPECT_EQ(0, static_cast<uint8_t*>(pBits)[120]);
    ASSERT_EQ(S_OK, m_pDevice->unlock(dst, 0));
    buf.SrcRange = {250, 10}; // past the source's end
    EXPECT_EQ(E_INVALIDARG, funcs().pfnBufBlt(device(), &buf));

    HANDLE texSrc = surface(16, 16, D3DDDIFMT_A8R8G8B8, D3DDDI_RESOURCEFLAGS::Texture);
    HANDLE texDst = surface(16, 16, D3DDDIFMT_A8R8G8B8, D3DDDI_RESOURCEFLAGS::Texture);
    ASSERT_EQ(S_OK, m_pDevice->colorFill(texSrc, 0, {0, 0, 16, 16}, 0x80FF8000u));
    D3DDDIARG_TEXBLT tex = {texDst, texSrc, 0, {4, 4}, {0, 0, 8, 8}};
    ASSERT_EQ(S_OK, funcs().pfnTexBlt(device(), &tex));
    EXPECT_EQ(0x80FF8000u, pixel(texDst, 11, 11));
    EXPECT_EQ(0u, pixel(texDst, 12, 12));
    tex.DstPoint = {12, 12}; // the copy would leave the destination
    EXPECT_EQ(E_INVALIDARG, funcs().pfnTexBlt(device(), &tex));
}

TEST_F(UmdDeviceTest, FlipPresentScansTheSurfaceOutOnItsGpu) {
    sim::Display::instance().clear();
    HANDLE chain = nullptr;
    // A flip chain in a mode of the display, which the device switches to first.
    ASSERT_EQ(S_OK, m_pDevice->createFlipChain(640, 480, D3DDDIFMT_X8R8G8B8, 2, chain));
    EXPECT_EQ(S_OK, m_pDevice->setDisplayMode(chain, 0));
    EXPECT_TRUE(m_pDevice->displayModeSet());
    ASSERT_EQ(S_OK, m_pDevice->colorFill(chain, 1, {0, 0, 640, 480}, 0xFF102030u));
    ASSERT_EQ(S_OK, m_pDevice->present(chain, 1, nullptr, 0, D3DDDI_PRESENTFLAGS::Flip));
    // The flip shows at the display's next vertical blank.
    ASSERT_TRUE(sim::Display::instance().waitForCount(1, 0, 1));
    sim::ScanOut shown;
    ASSERT_TRUE(sim::Display::instance().last(1, 0, shown));
    EXPECT_EQ(640u, shown.image.width);
    EXPECT_EQ(0xFF102030u, shown.image.at(639, 479));
    EXPECT_EQ(1u, journal().count("d3d9.dll", "PresentCb", 1));
    EXPECT_EQ(1u, journal().count("gdi32.dll", "D3DKMTPresent", 1));
    EXPECT_EQ(0u, journal().count("gdi32.dll", "D3DKMTPresent", 0));
    // Work drawn before the present was submitted before it.
    EXPECT_GE(journal().count("d3d9.dll", "RenderCb", 1), 1u);
}

TEST_F(UmdDeviceTest, EventQueryCompletesAfterTheConfiguredPolls) {
    sim::umd::DriverSettings settings;
    settings.eventQueryPolls = 3;
    sim::umd::setSettings(settings);
    UINT polls = 0;
    ASSERT_EQ(S_OK, m_pDevice->waitForIdle(&polls));
    EXPECT_EQ(4u, polls);
    settings.eventQueryPolls = 0;
    sim::umd::setSettings(settings);
    ASSERT_EQ(S_OK, m_pDevice->waitForIdle(&polls));
    EXPECT_EQ(1u, polls);
    // A time bound holds the query back at least that long, however often it is polled.
    settings.eventQueryDelayUs = 20000;
    sim::umd::setSettings(settings);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(S_OK, m_pDevice->waitForIdle(&polls));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    EXPECT_GE(polls, 2u);
}

TEST_F(UmdDeviceTest, DrawsAreCountedPerGpu) {
    HANDLE h = surface(8, 8);
    ASSERT_EQ(S_OK, m_pDevice->setRenderTarget(h, 0));
    sim::umd::resetStats();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(S_OK, m_pDevice->drawPrimitive(2));
    EXPECT_EQ(5u, sim::umd::stats(1).draws);
    EXPECT_EQ(10u, sim::umd::stats(1).primitives);
    EXPECT_EQ(0u, sim::umd::stats(0).draws);
    EXPECT_EQ(S_OK, m_pDevice->flush());
    EXPECT_EQ(1u, sim::umd::stats(1).flushes);
}

TEST_F(UmdDeviceTest, UnimplementedEntriesAreCountedAndAnswerSensibly) {
    sim::umd::resetStats();
    EXPECT_EQ(S_OK, funcs().pfnSetRenderState(device(), nullptr));
    EXPECT_EQ(E_NOTIMPL, funcs().pfnCreatePixelShader(device(), nullptr, nullptr));
    EXPECT_EQ(E_INVALIDARG, funcs().pfnSetRenderState(nullptr, nullptr));
    EXPECT_EQ(2u, sim::umd::stats(1).unimplemented);
    std::vector<std::string> names = sim::umd::unimplementedEntries();
    EXPECT_EQ(2u, names.size());
}

TEST_F(UmdDeviceTest, EntriesRefuseUnknownHandlesAndBadArguments) {
    int bogus = 0;
    HANDLE h = surface(16, 16);
    D3DDDIARG_COLORFILL fill = {h, 0, {0, 0, 16, 16}, 0, {}};
    EXPECT_EQ(E_INVALIDARG, funcs().pfnColorFill(&bogus, &fill));
    EXPECT_EQ(E_INVALIDARG, funcs().pfnColorFill(nullptr, &fill));
    EXPECT_EQ(E_INVALIDARG, funcs().pfnColorFill(device(), nullptr));
    fill.hResource = &bogus;
    EXPECT_EQ(E_INVALIDARG, funcs().pfnColorFill(device(), &fill));
    fill.hResource = h;
    fill.SubResourceIndex = 1;
    EXPECT_EQ(E_INVALIDARG, funcs().pfnColorFill(device(), &fill));
    fill.SubResourceIndex = 0;
    fill.DstRect = {0, 0, 17, 16};
    EXPECT_EQ(E_INVALIDARG, funcs().pfnColorFill(device(), &fill));
    fill.DstRect = {5, 5, 5, 6}; // empty
    EXPECT_EQ(E_INVALIDARG, funcs().pfnColorFill(device(), &fill));

    D3DDDIARG_BLT blt = {};
    blt.hSrcResource = h;
    blt.hDstResource = h;
    blt.SrcRect = {0, 0, 4, 4};
    blt.DstRect = {-1, 0, 3, 4};
    EXPECT_EQ(E_INVALIDARG, funcs().pfnBlt(device(), &blt));
    EXPECT_EQ(E_INVALIDARG, funcs().pfnDestroyResource(device(), &bogus));
    EXPECT_EQ(E_INVALIDARG, funcs().pfnPresent(device(), nullptr));
    D3DDDIARG_PRESENT present = {&bogus, 0, nullptr, 0, {D3DDDI_PRESENTFLAGS::Flip}, {}};
    EXPECT_EQ(E_INVALIDARG, funcs().pfnPresent(device(), &present));
    D3DDDIARG_GETQUERYDATA query = {&bogus, nullptr};
    EXPECT_EQ(E_INVALIDARG, funcs().pfnGetQueryData(device(), &query));
    EXPECT_EQ(E_INVALIDARG, funcs().pfnDestroyDevice(&bogus));
    EXPECT_EQ(E_INVALIDARG, funcs().pfnFlush(nullptr));

    // Creation checks size, format, pool and multisampling.
    std::vector<std::pair<SurfaceDesc, const char*>> bad;
    SurfaceDesc d;
    d.width = 16;
    d.height = 16;
    SurfaceDesc zero = d;
    zero.width = 0;
    bad.push_back({zero, "zero width"});
    SurfaceDesc huge = d;
    huge.width = 20000;
    bad.push_back({huge, "too wide"});
    SurfaceDesc format = d;
    format.format = D3DDDIFORMAT(12345);
    bad.push_back({format, "unknown format"});
    SurfaceDesc pool = d;
    pool.pool = D3DDDI_POOL(0);
    bad.push_back({pool, "no pool"});
    SurfaceDesc samples = d;
    samples.multisampleType = 3; // the NVIDIA driver offers 2, 4 and 8
    bad.push_back({samples, "3 samples"});
    for (auto& entry : bad) {
        HANDLE out = nullptr;
        EXPECT_EQ(E_INVALIDARG, m_pDevice->createResource(entry.first, out)) << entry.second;
    }
    EXPECT_GE(sim::umd::stats(1).rejected, 15u);
    EXPECT_GE(journal().count("simumd_nv.dll", "ColorFill", sim::kNoGpu), 2u);
}

TEST_F(UmdDeviceTest, MultisampledTargetResolvesByBlt) {
    SurfaceDesc desc;
    desc.width = 32;
    desc.height = 32;
    desc.multisampleType = 4;
    HANDLE ms = nullptr;
    ASSERT_EQ(S_OK, m_pDevice->createResource(desc, ms));
    HANDLE plain = surface(32, 32);
    ASSERT_EQ(S_OK, m_pDevice->colorFill(ms, 0, {0, 0, 32, 32}, 0xFF0A0B0Cu));
    ASSERT_EQ(S_OK, m_pDevice->blt(ms, 0, {0, 0, 32, 32}, plain, 0, {0, 0, 32, 32}));
    EXPECT_EQ(0xFF0A0B0Cu, pixel(plain, 16, 16));
}

TEST_F(UmdDeviceTest, FaultInjectedEntryFailsOnceWithTheStatus) {
    HANDLE h = surface(8, 8);
    sim::Machine::instance().faults().failNth("simumd_nv.dll", "ColorFill", 2,
                                              int64_t(D3DERR_DEVICELOST));
    EXPECT_EQ(S_OK, m_pDevice->colorFill(h, 0, {0, 0, 8, 8}, 1));
    EXPECT_EQ(D3DERR_DEVICELOST, m_pDevice->colorFill(h, 0, {0, 0, 8, 8}, 2));
    EXPECT_EQ(S_OK, m_pDevice->colorFill(h, 0, {0, 0, 8, 8}, 3));
    // A failed runtime callback reaches the driver's caller unchanged.
    sim::Machine::instance().faults().failNth("d3d9.dll", "AllocateCb", 1,
                                              int64_t(D3DERR_OUTOFVIDEOMEMORY));
    SurfaceDesc desc;
    desc.width = 8;
    desc.height = 8;
    HANDLE out = nullptr;
    EXPECT_EQ(D3DERR_OUTOFVIDEOMEMORY, m_pDevice->createResource(desc, out));
    // A callback that claims success but hands out no allocation fails the creation.
    sim::Machine::instance().faults().failNth("d3d9.dll", "AllocateCb", 1, int64_t(S_FALSE));
    EXPECT_EQ(E_FAIL, m_pDevice->createResource(desc, out));
    EXPECT_EQ(1u, sim::umd::counts().resources);
}

TEST_F(UmdDeviceTest, ResourcesBelongToTheirDevice) {
    std::unique_ptr<RuntimeDevice> pSecond;
    ASSERT_EQ(S_OK, m_pAdapter->createDevice(pSecond));
    HANDLE mine = surface(8, 8);
    SurfaceDesc desc;
    desc.width = 8;
    desc.height = 8;
    HANDLE theirs = nullptr;
    ASSERT_EQ(S_OK, pSecond->createResource(desc, theirs));
    EXPECT_EQ(S_OK, pSecond->colorFill(theirs, 0, {0, 0, 8, 8}, 0xFF00FF00u));
    EXPECT_EQ(E_INVALIDARG, m_pDevice->colorFill(theirs, 0, {0, 0, 8, 8}, 0xFF00FF00u));
    EXPECT_EQ(E_INVALIDARG, pSecond->blt(mine, 0, {0, 0, 8, 8}, theirs, 0, {0, 0, 8, 8}));
    EXPECT_EQ(S_OK, pSecond->destroy());
    EXPECT_EQ(S_OK, m_pDevice->colorFill(mine, 0, {0, 0, 8, 8}, 0xFF0000FFu));
}

TEST_F(UmdDeviceTest, ClosingTheAdapterFirstKeepsItsDevicesWorking) {
    HANDLE h = surface(8, 8);
    EXPECT_EQ(S_OK, m_pAdapter->close());
    EXPECT_EQ(0u, sim::umd::counts().adapters);
    EXPECT_EQ(S_OK, m_pDevice->colorFill(h, 0, {0, 0, 8, 8}, 0xFF010203u));
    EXPECT_EQ(0xFF010203u, pixel(h, 7, 7));
    EXPECT_EQ(S_OK, m_pDevice->destroy());
    EXPECT_EQ(0u, sim::umd::counts().devices);
}

TEST_F(UmdDeviceTest, DestroyingTheDeviceReleasesEverything) {
    surface(16, 16);
    HANDLE chain = nullptr;
    ASSERT_EQ(S_OK, m_pDevice->createFlipChain(32, 32, D3DDDIFMT_X8R8G8B8, 3, chain));
    D3DKMT_HANDLE hKernel = m_pDevice->kernelDevice();
    EXPECT_FALSE(sim::Kernel::instance().allocationsOf(hKernel).empty());
    EXPECT_EQ(S_OK, m_pDevice->destroy());
    EXPECT_EQ(0u, sim::umd::counts().devices);
    EXPECT_EQ(0u, sim::umd::counts().resources);
    m_pDevice.reset();
    EXPECT_EQ(S_OK, m_pAdapter->close());
    sim::KernelCounts kernel = sim::Kernel::instance().counts();
    EXPECT_EQ(0u, kernel.allocations);
    EXPECT_EQ(0u, kernel.resources);
    EXPECT_EQ(0u, kernel.contexts);
    EXPECT_EQ(0u, kernel.devices);
}

} // namespace
