// The auxiliary GPU driver's adapter callbacks, called as that driver calls them: with the
// kernel adapter handle it was opened with.
#include "AuxAdapterCallbacks.h"
#include "GpuEnumerator.h"

#include "AdapterTestSupport.h"
#include "platform/KernelThunks.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Kernel.h"

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

using adaptertest::machine;
using adaptertest::reports;

namespace {

// Opens the kernel adapter of the enumerator's GPU 1 (the default machine's NVIDIA GPU),
// as the adapter does before it opens that GPU's driver.
class AuxCallbacks : public ::testing::Test {
protected:
    void SetUp() override {
        adaptertest::clearLog();
        const DeviceProp* record = GpuEnumerator::getInstance()->m_pDevicePropArray[1];
        ASSERT_NE(nullptr, record);
        D3DKMT_OPENADAPTERFROMDEVICENAME open = {};
        ASSERT_EQ(0, GpuEnumerator::openAdapterFromKey(record->displayDeviceW.DeviceKey, &open));
        m_hAdapter = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(open.hAdapter));
        m_kernelAdapter = open.hAdapter;
        machine().journal().clear();
    }
    void TearDown() override {
        machine().faults().clear();
        sim::Kernel::instance().setMethodCountOverReport(0);
        D3DKMT_CLOSEADAPTER close = {m_kernelAdapter};
        KernelThunks::get().pfnCloseAdapter(&close);
    }

    void failNextKernelCall(const char* entry, uint32_t status) {
        machine().faults().failNth("gdi32.dll", entry, 1, static_cast<int32_t>(status));
    }

    HANDLE m_hAdapter = nullptr;
    D3DKMT_HANDLE m_kernelAdapter = 0;
};

} // namespace

TEST_F(AuxCallbacks, QueryAdapterInfoFillsTheDriversBufferFromTheKernel) {
    uint8_t data[64] = {};
    D3DDDICB_QUERYADAPTERINFO query = {data, sizeof data};
    EXPECT_EQ(S_OK, AuxAdapterCallbacks::pfnQueryAdapterInfoCb(m_hAdapter, &query));
    // The NVIDIA kernel driver's private data starts with its PCI vendor id.
    uint32_t vendorId = 0;
    memcpy(&vendorId, data, sizeof vendorId);
    EXPECT_EQ(0x10DEu, vendorId);
    EXPECT_EQ(1u, machine().journal().count("gdi32.dll", "D3DKMTQueryAdapterInfo", 1));
}

TEST_F(AuxCallbacks, UnsuccessfulQueryReachesTheDriverAsFailureWithAWarning) {
    failNextKernelCall("D3DKMTQueryAdapterInfo", 0xC0000001u);
    uint8_t data[64] = {};
    D3DDDICB_QUERYADAPTERINFO query = {data, sizeof data};
    EXPECT_EQ(E_FAIL, AuxAdapterCallbacks::pfnQueryAdapterInfoCb(m_hAdapter, &query));
    EXPECT_EQ(
        1,
        reports("Warning", 0,
                "auxilliary QueryAdapterInfoCb failed (kmtResponse=0xc0000001,retVal=0x80004005)",
                "AuxAdapterCallbacks.cpp:61"));
}

TEST_F(AuxCallbacks, MethodListWithoutListReturnsTheCount) {
    D3DDDICB_GETMULTISAMPLEMETHODLIST list = {};
    list.Width = 640;
    list.Height = 480;
    list.Format = D3DDDIFMT_X8R8G8B8;
    ASSERT_EQ(S_OK, AuxAdapterCallbacks::pfnGetMultisampleMethodListCb(m_hAdapter, &list));
    EXPECT_EQ(4u, list.MethodCount); // the default machine's NVIDIA GPU offers 1, 2, 4, 8
}

TEST_F(AuxCallbacks, MethodListIsConvertedIntoTheDriversShorterRecords) {
    D3DDDICB_GETMULTISAMPLEMETHODLIST list = {};
    list.Width = 640;
    list.Height = 480;
    list.Format = D3DDDIFMT_X8R8G8B8;
    ASSERT_EQ(S_OK, AuxAdapterCallbacks::pfnGetMultisampleMethodListCb(m_hAdapter, &list));
    // Exactly the driver's size: a kernel record written in place would run past its end.
    std::vector<D3DDDI_MULTISAMPLINGMETHOD> methods(list.MethodCount);
    list.pMethodList = methods.data();
    ASSERT_EQ(S_OK, AuxAdapterCallbacks::pfnGetMultisampleMethodListCb(m_hAdapter, &list));
    ASSERT_EQ(4u, list.MethodCount);
    const UINT expected[4][2] = {{1, 1}, {2, 2}, {4, 4}, {8, 2}};
    for (UINT i = 0; i < 4; ++i) {
        EXPECT_EQ(expected[i][0], methods[i].NumSamples) << i;
        EXPECT_EQ(expected[i][1], methods[i].NumQualityLevels) << i;
    }
}

TEST_F(AuxCallbacks, KernelClaimingMoreMethodsThanTheListHoldsFillsOnlyTheDriversList) {
    sim::Kernel::instance().setMethodCountOverReport(5);
    D3DDDICB_GETMULTISAMPLEMETHODLIST list = {};
    list.Width = 640;
    list.Height = 480;
    list.Format = D3DDDIFMT_X8R8G8B8;
    // Exactly two records: a copy of the seven the kernel claims would run past them.
    std::vector<D3DDDI_MULTISAMPLINGMETHOD> methods(2);
    list.pMethodList = methods.data();
    list.MethodCount = UINT(methods.size());
    ASSERT_EQ(S_OK, AuxAdapterCallbacks::pfnGetMultisampleMethodListCb(m_hAdapter, &list));
    EXPECT_EQ(2u, list.MethodCount);
    EXPECT_EQ(2u, methods[1].NumSamples);
    EXPECT_EQ(1, reports("Warning", 0, "the kernel reported 7 methods for a list of 2"));
}

TEST_F(AuxCallbacks, UnknownKernelStatusBecomesEFailWithTwoReports) {
    failNextKernelCall("D3DKMTGetMultisampleMethodList", 0xC0000022u);
    D3DDDICB_GETMULTISAMPLEMETHODLIST list = {};
    list.Format = D3DDDIFMT_X8R8G8B8;
    EXPECT_EQ(E_FAIL, AuxAdapterCallbacks::pfnGetMultisampleMethodListCb(m_hAdapter, &list));
    EXPECT_EQ(1, reports("Warning", 0, "unknown error code", "utils.cpp:115"));
    EXPECT_EQ(1, reports("Warning", 0,
                         "auxilliary GetMultisampleMethodListCb failed "
                         "(kmtResponse=0xc0000022,retVal=0x80004005)",
                         "AuxAdapterCallbacks.cpp:89"));
}

TEST_F(AuxCallbacks, MissingArgumentsAreRefused) {
    EXPECT_EQ(E_INVALIDARG, AuxAdapterCallbacks::pfnQueryAdapterInfoCb(m_hAdapter, nullptr));
    EXPECT_EQ(E_INVALIDARG,
              AuxAdapterCallbacks::pfnGetMultisampleMethodListCb(m_hAdapter, nullptr));
}
