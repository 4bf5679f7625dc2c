// The swap chain's back-buffer storage, its primary and its present controls.
#include "PresentControls.h"
#include "PresentTestSupport.h"

#include <gtest/gtest.h>

using namespace presenttest;

namespace {

class SwapChainStorageTest : public EmptyLogTest {
protected:
    /// A resource object with `count` surfaces, as the device keeps it.
    ResourceDDI9* resource(UINT count) {
        std::vector<D3DDDI_SURFACEINFO> list = surfaces(count);
        D3DDDIARG_CREATERESOURCE args = createArgs(list);
        m_owned.emplace_back(new ResourceDDI9(m_device.get(), args, false));
        return m_owned.back().get();
    }
    SwapChainDDI9::BBStorage& storage() {
        return const_cast<SwapChainDDI9::BBStorage&>(m_device.swapChain().storage());
    }
    HANDLE createPrimary(UINT count, uint64_t runtimeHandle,
                         D3DDDIARG_CREATERESOURCE* pOut = nullptr) {
        std::vector<D3DDDI_SURFACEINFO> list = surfaces(count);
        D3DDDIARG_CREATERESOURCE args = createArgs(list, D3DDDI_RESOURCEFLAGS::Primary);
        args.hResource = handle(runtimeHandle);
        EXPECT_EQ(S_OK, DeviceFuncs::pfnCreateResource(m_device.hDevice(), &args));
        if (pOut)
            *pOut = args;
        return args.hResource;
    }

    FakeDriver m_driver;
    FakeHybridDevice m_device{m_driver};
    std::vector<std::unique_ptr<ResourceDDI9>> m_owned;
};

TEST_F(SwapChainStorageTest, SurfacesFillEntriesInOrderAndAFullStorageReportsOnce) {
    ResourceDDI9* primary = resource(3);
    ResourceDDI9* second = resource(2);
    storage().addEntry(primary);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(primary, storage().resource(i));
        EXPECT_EQ(UINT(i), storage().subresource(i));
    }
    storage().addEntry(second);
    EXPECT_EQ(4, storage().m_arrayLen);
    EXPECT_EQ(second, storage().resource(3));
    EXPECT_EQ(0u, storage().subresource(3));
    EXPECT_EQ(1, reportCount("Error", 11103));
}

TEST_F(SwapChainStorageTest, FrontBufferIsTheEntryPresentedLast) {
    ResourceDDI9* primary = resource(3);
    EXPECT_EQ(nullptr, storage().getFrontBB()); // empty: no front buffer, nothing reported
    storage().addEntry(primary);
    EXPECT_EQ(2u, storage().getFrontBBSubresource());
    storage().m_currentBBIndex = 2;
    EXPECT_EQ(1u, storage().getFrontBBSubresource());
    storage().advance();
    EXPECT_EQ(0, storage().m_currentBBIndex);
    storage().m_currentBBIndex = 4;
    EXPECT_EQ(nullptr, storage().getCurrentBB());
    EXPECT_EQ(1, reportCount("Error", 11112));
    EXPECT_EQ(0, reportCount("Error", 11141));
}

TEST_F(SwapChainStorageTest, RemovingAResourceCompactsTheEntriesAfterIt) {
    ResourceDDI9* primary = resource(3);
    ResourceDDI9* other = resource(1);
    storage().addEntry(primary);
    storage().addEntry(other);
    storage().m_currentBBIndex = 2;
    EXPECT_TRUE(storage().removeResource(primary));
    EXPECT_EQ(1, storage().m_arrayLen);
    EXPECT_EQ(0, storage().m_currentBBIndex);
    EXPECT_EQ(other, storage().resource(0));
    for (int i = 1; i < SwapChainDDI9::BBStorage::MAX_LEN; ++i)
        EXPECT_EQ(nullptr, storage().resource(i)) << "entry " << i << " keeps a removed surface";
}

TEST_F(SwapChainStorageTest, AResourceTooLargeForTheStorageLeavesItEmptyNotNegative) {
    ResourceDDI9* five = resource(5);
    ResourceDDI9* next = resource(1);
    storage().addEntry(five);
    EXPECT_EQ(4, storage().m_arrayLen);
    storage().removeResource(five);
    EXPECT_EQ(0, storage().m_arrayLen);
    storage().addEntry(next);
    EXPECT_EQ(1, storage().m_arrayLen);
    EXPECT_EQ(next, storage().resource(0));
    // A gap larger than the filled entries is reported and clamped.
    storage().handleArrayGapOnRemoveEntry(0, 3);
    EXPECT_EQ(0, storage().m_arrayLen);
    EXPECT_EQ(1, reportCount("Error", 11110));
    EXPECT_EQ(1, reportCount("Error", 11111));
}

TEST_F(SwapChainStorageTest, EveryDestroyedResourceLeavesTheStorage) {
    HANDLE hPrimary = createPrimary(1, 0xA1);
    ResourceDDI9* primary = m_device.swapChain().primaryResource();
    HANDLE hReplacement = createPrimary(1, 0xA2); // the first is neither shared nor primary now
    storage().addEntry(primary);
    storage().addEntry(m_device.swapChain().primaryResource());
    EXPECT_EQ(S_OK, DeviceFuncs::pfnDestroyResource(m_device.hDevice(), hPrimary));
    EXPECT_EQ(1, storage().m_arrayLen);
    EXPECT_NE(nullptr, storage().resource(0));
    EXPECT_EQ(S_OK, DeviceFuncs::pfnDestroyResource(m_device.hDevice(), hReplacement));
    EXPECT_EQ(0, storage().m_arrayLen);
    EXPECT_EQ(nullptr, m_device.swapChain().primaryResource());
}

TEST_F(SwapChainStorageTest, PrimaryIsCreatedOnTheRenderingGpuWithoutFlagOrRuntimeHandle) {
    D3DDDIARG_CREATERESOURCE args;
    HANDLE hPrimary = createPrimary(3, 0xABC, &args);
    ASSERT_EQ(1u, m_driver.creates.size());
    const D3DDDIARG_CREATERESOURCE& seen = m_driver.creates[0];
    EXPECT_EQ(1, m_driver.calls[0].gpu);
    EXPECT_EQ(0u, seen.Flags.Value & D3DDDI_RESOURCEFLAGS::Primary);
    EXPECT_EQ(nullptr, seen.hResource) << "the rendering driver saw the runtime's handle";

    ResourceDDI9* primary = m_device.swapChain().primaryResource();
    ASSERT_NE(nullptr, primary);
    EXPECT_NE(0u, primary->creationArgs().Flags.Value & D3DDDI_RESOURCEFLAGS::Primary);
    EXPECT_EQ(value(hPrimary), primary->getUserHandle(1));
    EXPECT_EQ(0xABCu, primary->ddiHandles().getRuntimeHandle(0));
    EXPECT_EQ(primary, m_device.get()->getResource(value(hPrimary)));
    EXPECT_FALSE(primary->userHandles().has(0)); // the presenting GPU's copy comes later
}

TEST_F(SwapChainStorageTest, SecondPrimaryIsReportedAndReplacesTheFirst) {
    createPrimary(1, 0xA1);
    ResourceDDI9* first = m_device.swapChain().primaryResource();
    createPrimary(2, 0xA2);
    EXPECT_EQ(1, reportCount("Error", 10993));
    EXPECT_NE(first, m_device.swapChain().primaryResource());
    EXPECT_EQ(2u, m_device.swapChain().primaryResource()->surfaceCount());
}

TEST_F(SwapChainStorageTest, FailedPrimaryCreationLeavesNothing) {
    m_driver.fail(1, "CreateResource", E_OUTOFMEMORY);
    std::vector<D3DDDI_SURFACEINFO> list = surfaces(2);
    D3DDDIARG_CREATERESOURCE args = createArgs(list, D3DDDI_RESOURCEFLAGS::Primary);
    EXPECT_EQ(E_OUTOFMEMORY, DeviceFuncs::pfnCreateResource(m_device.hDevice(), &args));
    EXPECT_EQ(nullptr, m_device.swapChain().primaryResource());
    EXPECT_TRUE(m_device.get()->resourceMap().empty());
}

TEST_F(SwapChainStorageTest, WithoutTheLibrarysControlsNothingIsWrittenAndThreeErrorsAreReported) {
    // The test executable is not vessad3d9u.dll: the swap chain found no controls.
    ASSERT_FALSE(m_device.swapChain().hasPresentControls());
    m_device.swapChain().SetbPerformPresentAndFlipInterval(0, 3, false);
    EXPECT_EQ(3, reportCount("Error", 0));
    const std::string log = testlog::readLog();
    EXPECT_NE(std::string::npos, log.find("NULL m_pKmtVsyncInterval in FlipManager::"));
    EXPECT_NE(std::string::npos, log.find("NULL m_pbKmtPerformPresent in FlipManager::"));
    EXPECT_NE(std::string::npos, log.find("NULL m_pbKmtForceVsyncInterval in FlipManager::"));
    EXPECT_EQ(1u, PresentControls::flipInterval());
    EXPECT_TRUE(PresentControls::forceInterval());
}

} // namespace
