// The present paths on two fake GPUs: what each Present asks of the rendering and the
// presenting GPU, the storage it moves through, and the faults it survives.
#include "PresentTestSupport.h"

#include <gtest/gtest.h>

using namespace presenttest;

namespace {

class PresentPathsTest : public EmptyLogTest {
protected:
    void SetUp() override {
        EmptyLogTest::SetUp();
        // Every Present shows a new frame unless a test says otherwise.
        m_device.get()->m_pFlipManager->m_vsyncRequested = true;
    }

    HANDLE createPrimary(UINT count, uint64_t runtimeHandle = 0xABC) {
        std::vector<D3DDDI_SURFACEINFO> list = surfaces(count);
        D3DDDIARG_CREATERESOURCE args = createArgs(list, D3DDDI_RESOURCEFLAGS::Primary);
        args.hResource = handle(runtimeHandle);
        EXPECT_EQ(S_OK, DeviceFuncs::pfnCreateResource(m_device.hDevice(), &args));
        return args.hResource;
    }
    /// The swap chain's repeat of a windowed (Blt) present of `hBack`.
    HRESULT repeatWindowed(HANDLE hBack) {
        D3DDDIARG_PRESENT args = {};
        args.hSrcResource = hBack;
        args.Flags.Value = D3DDDI_PRESENTFLAGS::Blt;
        return swapChain().repeatPresent(&args);
    }
    HANDLE createSurface(UINT multisample = 0) {
        std::vector<D3DDDI_SURFACEINFO> list = surfaces(1);
        D3DDDIARG_CREATERESOURCE args = createArgs(list);
        args.MultisampleType = D3DDDIMULTISAMPLE_TYPE(multisample);
        args.hResource = handle(0xBEE);
        EXPECT_EQ(S_OK, DeviceFuncs::pfnCreateResource(m_device.hDevice(), &args));
        return args.hResource;
    }
    HANDLE openShared() {
        D3DDDIARG_OPENRESOURCE args = {};
        EXPECT_EQ(S_OK, DeviceFuncs::pfnOpenResource(m_device.hDevice(), &args));
        return args.hResource;
    }
    HRESULT present(HANDLE hSource, UINT sub, UINT flags = D3DDDI_PRESENTFLAGS::Flip,
                    HANDLE hDestination = nullptr) {
        D3DDDIARG_PRESENT args = {};
        args.hSrcResource = hSource;
        args.SrcSubResourceIndex = sub;
        args.hDstResource = hDestination;
        args.Flags.Value = flags;
        args.FlipInterval = D3DDDI_FLIPINTERVAL_ONE;
        return DeviceFuncs::pfnPresent(m_device.hDevice(), &args);
    }
    ResourceDDI9* resource(HANDLE h) { return m_device.get()->getResource(value(h)); }
    SwapChainDDI9& swapChain() { return m_device.swapChain(); }

    FakeDriver m_driver;
    FakeHybridDevice m_device{m_driver};
};

TEST_F(PresentPathsTest, FirstFlipPresentMakesThePrimaryOnThePresentingGpuAndSetsThePendingMode) {
    HANDLE hPrimary = createPrimary(3);
    D3DDDIARG_SETDISPLAYMODE mode = {hPrimary, 0};
    m_driver.fail(1, "SetDisplayMode", E_INVALIDARG); // not a primary on the rendering GPU
    EXPECT_EQ(S_OK, DeviceFuncs::pfnSetDisplayMode(m_device.hDevice(), &mode));
    EXPECT_EQ(1, reportCount("Warning", 11066));
    EXPECT_TRUE(swapChain().m_bDisplayModePending);

    ASSERT_EQ(S_OK, present(hPrimary, 1));
    ResourceDDI9* primary = resource(hPrimary);
    const uint64_t onPresenting = primary->getUserHandle(0);
    ASSERT_NE(0u, onPresenting);
    // Created there under the runtime's own handle, with all three surfaces in the storage.
    const Call* created = nullptr;
    for (const Call& c : m_driver.calls)
        if (!created && c.gpu == 0 && c.entry == "CreateResource")
            created = &c;
    ASSERT_NE(nullptr, created);
    EXPECT_EQ(0xABCu, created->h1);
    EXPECT_EQ(3u, created->sub);
    EXPECT_EQ(3, swapChain().storage().m_arrayLen);
    EXPECT_FALSE(swapChain().m_bDisplayModePending);
    const Call* setMode = m_driver.last(0, "SetDisplayMode");
    ASSERT_NE(nullptr, setMode);
    EXPECT_EQ(onPresenting, setMode->h1);
    // The primary is presented on the rendering GPU, the copy on the presenting GPU.
    EXPECT_EQ(value(hPrimary), m_driver.last(1, "Present")->h1);
    const Call* shown = m_driver.last(0, "Present");
    ASSERT_NE(nullptr, shown);
    EXPECT_EQ(onPresenting, shown->h1);
    EXPECT_EQ(0u, shown->sub);
    EXPECT_EQ(1, swapChain().storage().m_currentBBIndex);

    ASSERT_EQ(S_OK, present(hPrimary, 2));
    EXPECT_EQ(1u, m_driver.count(0, "SetDisplayMode")) << "the mode is set once";
    EXPECT_EQ(1u, m_driver.last(0, "Present")->sub);
}

TEST_F(PresentPathsTest, ModeSetOnceThePrimaryExistsIsSetOnThePresentingGpuAtTheNextFlip) {
    HANDLE hPrimary = createPrimary(3);
    ASSERT_EQ(S_OK, present(hPrimary, 1)); // the primary is made on the presenting GPU
    const uint64_t onPresenting = resource(hPrimary)->getUserHandle(0);
    const size_t modesBefore = m_driver.count(0, "SetDisplayMode");
    D3DDDIARG_SETDISPLAYMODE mode = {hPrimary, 0};
    m_driver.fail(1, "SetDisplayMode", E_INVALIDARG);
    EXPECT_EQ(S_OK, DeviceFuncs::pfnSetDisplayMode(m_device.hDevice(), &mode));
    EXPECT_TRUE(swapChain().m_bDisplayModePending);

    ASSERT_EQ(S_OK, present(hPrimary, 2));
    EXPECT_EQ(modesBefore + 1, m_driver.count(0, "SetDisplayMode"));
    EXPECT_EQ(onPresenting, m_driver.last(0, "SetDisplayMode")->h1);
    EXPECT_FALSE(swapChain().m_bDisplayModePending);
    ASSERT_EQ(S_OK, present(hPrimary, 3));
    EXPECT_EQ(modesBefore + 1, m_driver.count(0, "SetDisplayMode")) << "the mode is set once";
}

TEST_F(PresentPathsTest, RepeatedFlipPresentShowsTheFrontBufferAgainWithoutACopy) {
    HANDLE hPrimary = createPrimary(2);
    ASSERT_EQ(S_OK, present(hPrimary, 1)); // surface 0 shown, surface 1 next
    const size_t bltsBefore = m_driver.count(1, "Blt") + m_driver.count(0, "Blt");
    // The pacing decided this Present repeats.
    FlipManager& flip = *m_device.get()->m_pFlipManager;
    flip.m_decision = true;
    flip.m_decisionPending = false;
    ASSERT_EQ(S_OK, present(hPrimary, 0));
    EXPECT_EQ(0u, m_driver.last(0, "Present")->sub);
    EXPECT_EQ(1, swapChain().storage().m_currentBBIndex) << "advanced without a new frame";
    EXPECT_EQ(bltsBefore, m_driver.count(1, "Blt") + m_driver.count(0, "Blt")) << "copied";
    EXPECT_TRUE(flip.m_decisionPending) << "the next Present is decided anew";
}

TEST_F(PresentPathsTest, PresentsBeforeAnyPrimaryOrOfAnUnknownResourceAreSurvived) {
    HANDLE hSurface = createSurface();
    EXPECT_EQ(S_OK, present(hSurface, 0));
    EXPECT_EQ(1, reportCount("Error", 11085));
    EXPECT_EQ(0u, m_driver.count(0, "Present"));

    present(handle(0xDEAD), 0);
    EXPECT_GE(reportCount("Error", 11032), 1);
    EXPECT_TRUE(lockIsFree(m_device.get()));
}

TEST_F(PresentPathsTest, FailedPresentsOnEitherGpuAreReportedAndTheNextFrameGoesOn) {
    HANDLE hPrimary = createPrimary(2);
    m_driver.fail(1, "Present", E_FAIL);
    m_driver.fail(0, "Present", E_FAIL);
    EXPECT_EQ(S_OK, present(hPrimary, 1)); // the flip paths hide a failed present
    EXPECT_EQ(1, reportCount("Error", 11117));
    EXPECT_EQ(1, reportCount("Error", 11099));
    m_driver.fail(0, "Present", D3DDDIERR_DEVICEREMOVED);
    EXPECT_EQ(D3DDDIERR_DEVICEREMOVED, present(hPrimary, 0)) << "a removed device is told";
    EXPECT_TRUE(lockIsFree(m_device.get()));
}

TEST_F(PresentPathsTest, WindowedRepeatBeforeAnyFrameShowsNothing) {
    HANDLE hBack = createSurface();
    EXPECT_EQ(S_OK, repeatWindowed(hBack));
    EXPECT_EQ(1, reportCount("Warning", 11147));
    EXPECT_EQ(0u, m_driver.count(0, "Present"));
}

TEST_F(PresentPathsTest, WindowedPresentIntoANonSharedDestinationIsReportedAndStillShown) {
    HANDLE hBack = createSurface();
    HANDLE hNotShared = createSurface();
    ASSERT_EQ(S_OK, present(hBack, 0, D3DDDI_PRESENTFLAGS::Blt, hNotShared));
    EXPECT_TRUE(swapChain().windowedMode());
    EXPECT_EQ(1, reportCount("Error", 11083));
    const Call* shown = m_driver.last(0, "Present");
    ASSERT_NE(nullptr, shown);
    EXPECT_EQ(resource(hBack)->getUserHandle(0), shown->h1);
    EXPECT_EQ(resource(hNotShared)->getUserHandle(0), shown->h2);
    EXPECT_EQ(D3DDDI_PRESENTFLAGS::Blt, shown->flags);
}

TEST_F(PresentPathsTest, DestroyedWindowedDestinationIsNeverShownAgain) {
    HANDLE hBack = createSurface();
    HANDLE hDestination = createSurface();
    ASSERT_EQ(S_OK, present(hBack, 0, D3DDDI_PRESENTFLAGS::Blt, hDestination));
    const size_t shownBefore = m_driver.count(0, "Present");
    // The destination goes; the source stays. A repeat has no frame to show any more.
    EXPECT_EQ(S_OK, DeviceFuncs::pfnDestroyResource(m_device.hDevice(), hDestination));
    EXPECT_EQ(S_OK, repeatWindowed(hBack));
    EXPECT_EQ(1, reportCount("Warning", 11147));
    EXPECT_EQ(shownBefore, m_driver.count(0, "Present"));
}

TEST_F(PresentPathsTest, TransferredWindowedFrameWithoutDestinationIsABltPresent) {
    HANDLE hBack = createSurface();
    ASSERT_EQ(S_OK, present(hBack, 0, D3DDDI_PRESENTFLAGS::Blt));
    ResourceDDI9* target = nullptr;
    UINT sub = 7;
    swapChain().getPresentTarget(&target, &sub);
    EXPECT_EQ(resource(hBack), target);
    EXPECT_EQ(0u, sub);
    EXPECT_EQ(S_OK, swapChain().presentTransferred(target, sub));
    const Call* shown = m_driver.last(0, "Present");
    EXPECT_EQ(0u, shown->h2);
    EXPECT_EQ(D3DDDI_PRESENTFLAGS::Blt, shown->flags);
}

TEST_F(PresentPathsTest, CompositorBltWithContinueFlagIsReportedAndCarriedOut) {
    HANDLE hBack = createSurface();
    HANDLE hShared = openShared();
    D3DDDIARG_BLT blt = {};
    blt.hSrcResource = hBack;
    blt.hDstResource = hShared;
    blt.SrcRect = blt.DstRect = {0, 0, 64, 32};
    blt.Flags.Value = D3DDDI_BLTFLAGS::BeginPresentToDwm | D3DDDI_BLTFLAGS::ContinuePresentToDwm |
                      D3DDDI_BLTFLAGS::EndPresentToDwm;
    EXPECT_EQ(S_OK, DeviceFuncs::pfnBlt(m_device.hDevice(), &blt));
    EXPECT_EQ(1, reportCount("Error", 11086));
    const Call* done = m_driver.last(0, "Blt");
    ASSERT_NE(nullptr, done);
    EXPECT_EQ(resource(hBack)->getUserHandle(0), done->h1);
    EXPECT_EQ(value(hShared), done->h2);
    // The rendering GPU's only Blt is the frame's copy into system memory.
    for (const Call& c : m_driver.calls)
        EXPECT_FALSE(c.gpu == 1 && c.entry == "Blt" && c.h2 == value(hShared))
            << "a compositor Blt is not the rendering GPU's";
    // Windowed and DWM presents aim 5 frames per second above the refresh rate.
    FlipManager& flip = *m_device.get()->m_pFlipManager;
    EXPECT_EQ(flip.m_refreshRate + 5, flip.m_targetRate);
}

TEST_F(PresentPathsTest, ApplicationsSharedSurfaceLivesWhereTheCompositorReadsIt) {
    HANDLE hBack = createSurface();
    std::vector<D3DDDI_SURFACEINFO> list = surfaces(1);
    D3DDDIARG_CREATERESOURCE args =
        createArgs(list, D3DDDI_RESOURCEFLAGS::RenderTarget | D3DDDI_RESOURCEFLAGS::SharedResource);
    args.hResource = handle(0xC0);
    ASSERT_EQ(S_OK, DeviceFuncs::pfnCreateResource(m_device.hDevice(), &args));
    ResourceDDI9* window = resource(args.hResource);
    ASSERT_NE(0u, window->getUserHandle(0)) << "no copy on the presenting GPU";
    const Call* created = m_driver.last(0, "CreateResource");
    EXPECT_EQ(0xC0u, created->h1) << "made under the runtime's own handle";

    D3DDDIARG_BLT blt = {};
    blt.hSrcResource = hBack;
    blt.hDstResource = args.hResource;
    blt.Flags.Value = D3DDDI_BLTFLAGS::BeginPresentToDwm | D3DDDI_BLTFLAGS::EndPresentToDwm;
    EXPECT_EQ(S_OK, DeviceFuncs::pfnBlt(m_device.hDevice(), &blt));
    EXPECT_EQ(0, reportCount("Error", 11091));
    EXPECT_EQ(window->getUserHandle(0), m_driver.last(0, "Blt")->h2);
}

TEST_F(PresentPathsTest, MultisampledSourceWithoutItsTwinCrossesAsItIs) {
    HANDLE hPrimary = createPrimary(1);
    ASSERT_EQ(S_OK, present(hPrimary, 0)); // the copy on the presenting GPU exists
    HANDLE hMultisampled = createSurface(4);
    m_driver.failOnce(1, "CreateResource", E_OUTOFMEMORY); // the twin cannot be made
    const bool copied = swapChain().transferToPresenting(resource(hPrimary), 0,
                                                         resource(hMultisampled), 0, 0, false);
    EXPECT_TRUE(copied) << "the frame must still cross";
    EXPECT_EQ(1, reportCount("Error", 11079));
    for (const Call& c : m_driver.calls)
        EXPECT_FALSE(c.entry == "Blt" && c.h2 == 0) << "downsampled into no surface";
}

TEST_F(PresentPathsTest, ASurfaceWithoutAPresentingCopyIsNeitherCopiedNorPresented) {
    HANDLE hPrimary = createPrimary(2);
    m_driver.fail(0, "CreateResource", E_OUTOFMEMORY);
    EXPECT_EQ(S_OK, present(hPrimary, 1));
    EXPECT_EQ(0, swapChain().storage().m_arrayLen) << "a failed copy entered the storage";
    EXPECT_EQ(0u, m_driver.count(0, "Present"));
    // The next Present tries again and succeeds.
    m_driver.results.clear();
    EXPECT_EQ(S_OK, present(hPrimary, 0));
    EXPECT_EQ(2, swapChain().storage().m_arrayLen);
    EXPECT_EQ(1u, m_driver.count(0, "Present"));
}

} // namespace
