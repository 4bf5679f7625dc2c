// The simulated vendor drivers' adapter side, entered through the simulated runtime: each
// GPU's driver is found by the kernel's driver name, opened, queried and closed, and every
// call is journalled under the driver module and the GPU it reached.
#include "platform/win.h"
#include "sim/Machine.h"
#include "sim/drivers/DriverControl.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Presets.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using sim::rt::AdapterSource;
using sim::rt::RuntimeAdapter;

sim::Journal& journal() {
    return sim::Machine::instance().journal();
}

std::vector<FORMATOP> formats(RuntimeAdapter& adapter) {
    UINT count = 0;
    EXPECT_EQ(S_OK, adapter.getCaps(D3DDDICAPS_GETFORMATCOUNT, &count, sizeof count));
    std::vector<FORMATOP> table(count);
    EXPECT_EQ(S_OK, adapter.getCaps(D3DDDICAPS_GETFORMATDATA, table.data(),
                                    UINT(table.size() * sizeof(FORMATOP))));
    return table;
}

struct DriverCase {
    int gpu;
    const char* module;
};

class UmdAdapterTest : public ::testing::TestWithParam<DriverCase> {};

TEST_P(UmdAdapterTest, OpensQueriesAndClosesOnItsGpu) {
    const DriverCase& c = GetParam();
    std::unique_ptr<RuntimeAdapter> pAdapter;
    ASSERT_EQ(S_OK, RuntimeAdapter::openGpu(c.gpu, AdapterSource(), pAdapter));
    EXPECT_EQ(1u, journal().count(c.module, "OpenAdapter", c.gpu));

    std::vector<FORMATOP> table = formats(*pAdapter);
    ASSERT_FALSE(table.empty());
    bool tenBit = false;
    for (const FORMATOP& op : table) {
        if (op.Format == D3DDDIFMT_A2R10G10B10) {
            tenBit = true;
            // The driver leaves display use of ten-bit colour to the display.
            EXPECT_EQ(0u, op.Operations & FORMATOP_DISPLAYMODE);
        }
    }
    EXPECT_TRUE(tenBit);

    DDIGAMMACAPS gamma = {};
    EXPECT_EQ(S_OK, pAdapter->getCaps(D3DDDICAPS_GETGAMMARAMPCAPS, &gamma, sizeof gamma));
    EXPECT_EQ(GAMMA_CAP_RGB256x3x16, gamma.GammaCaps);
    EXPECT_EQ(3u, journal().count(c.module, "GetCaps", c.gpu));

    EXPECT_EQ(S_OK, pAdapter->close());
    EXPECT_EQ(1u, journal().count(c.module, "CloseAdapter", c.gpu));
    EXPECT_EQ(0u, sim::umd::counts().adapters);
}

INSTANTIATE_TEST_SUITE_P(DefaultMachine, UmdAdapterTest,
                         ::testing::Values(DriverCase{0, "simumd_intel.dll"},
                                           DriverCase{1, "simumd_nv.dll"}),
                         [](const ::testing::TestParamInfo<DriverCase>& info) {
                             return std::string(info.param.gpu == 0 ? "Intel" : "Nvidia");
                         });

TEST(UmdAdapter, AtiDriverServesTheAtiGpu) {
    ASSERT_TRUE(sim::installMachine(sim::presets::intelAti()));
    std::unique_ptr<RuntimeAdapter> pAdapter;
    ASSERT_EQ(S_OK, RuntimeAdapter::openGpu(1, AdapterSource(), pAdapter));
    EXPECT_EQ(1u, journal().count("simumd_ati.dll", "OpenAdapter", 1));
    EXPECT_EQ(S_OK, pAdapter->close());
}

TEST(UmdAdapter, PrimaryDisplayOpensTheIntelDriver) {
    std::unique_ptr<RuntimeAdapter> pAdapter;
    ASSERT_EQ(S_OK, RuntimeAdapter::openDisplay("", AdapterSource(), pAdapter));
    EXPECT_EQ(0, pAdapter->gpu());
    EXPECT_EQ(1u, journal().count("simumd_intel.dll", "OpenAdapter", 0));
}

TEST(UmdAdapter, NamedExportOfNamedLibraryIsEntered) {
    AdapterSource source;
    source.library = "simumd_intel.dll";
    source.entry = "OpenAdapter";
    std::unique_ptr<RuntimeAdapter> pAdapter;
    ASSERT_EQ(S_OK, RuntimeAdapter::openDisplay("\\\\.\\DISPLAY1", source, pAdapter));
    source.entry = "OpenAdapter9DetourIntel";
    std::unique_ptr<RuntimeAdapter> pMissing;
    EXPECT_EQ(E_NOINTERFACE, RuntimeAdapter::openDisplay("", source, pMissing));
    source.library = "nosuchdriver.dll";
    EXPECT_EQ(E_FAIL, RuntimeAdapter::openDisplay("", source, pMissing));
}

TEST(UmdAdapter, DriverRefusesAnotherVendorsGpu) {
    AdapterSource source;
    source.library = "simumd_nv.dll";
    std::unique_ptr<RuntimeAdapter> pAdapter;
    EXPECT_EQ(E_FAIL, RuntimeAdapter::openGpu(0, source, pAdapter));
    EXPECT_EQ(0u, sim::umd::counts().adapters);
}

TEST(UmdAdapter, FaultInjectedOpenFailsWithTheInjectedStatus) {
    sim::Machine::instance().faults().failNth("simumd_nv.dll", "OpenAdapter", 1,
                                              int64_t(E_OUTOFMEMORY));
    std::unique_ptr<RuntimeAdapter> pAdapter;
    EXPECT_EQ(E_OUTOFMEMORY, RuntimeAdapter::openGpu(1, AdapterSource(), pAdapter));
    EXPECT_EQ(S_OK, RuntimeAdapter::openGpu(1, AdapterSource(), pAdapter));
}

TEST(UmdAdapter, AdapterEntriesRefuseBadArguments) {
    std::unique_ptr<RuntimeAdapter> pAdapter;
    ASSERT_EQ(S_OK, RuntimeAdapter::openGpu(1, AdapterSource(), pAdapter));
    const D3DDDI_ADAPTERFUNCS& funcs = pAdapter->funcs();
    D3DDDIARG_GETCAPS caps = {};
    UINT count = 0;
    caps.Type = D3DDDICAPS_GETFORMATCOUNT;
    caps.pData = &count;
    caps.DataSize = sizeof count;
    int bogus = 0;
    EXPECT_EQ(E_INVALIDARG, funcs.pfnGetCaps(&bogus, &caps));
    EXPECT_EQ(E_INVALIDARG, funcs.pfnGetCaps(nullptr, &caps));
    EXPECT_EQ(E_INVALIDARG, funcs.pfnGetCaps(pAdapter->driverAdapter(), nullptr));
    caps.DataSize = 2;
    EXPECT_EQ(E_INVALIDARG, funcs.pfnGetCaps(pAdapter->driverAdapter(), &caps));
    caps.Type = D3DDDICAPS_TYPE(999);
    caps.DataSize = sizeof count;
    EXPECT_EQ(E_INVALIDARG, funcs.pfnGetCaps(pAdapter->driverAdapter(), &caps));
    // A format table shorter than the count is refused whole.
    caps.Type = D3DDDICAPS_GETFORMATDATA;
    FORMATOP one = {};
    caps.pData = &one;
    caps.DataSize = sizeof one;
    EXPECT_EQ(E_INVALIDARG, funcs.pfnGetCaps(pAdapter->driverAdapter(), &caps));
    EXPECT_EQ(E_INVALIDARG, funcs.pfnCloseAdapter(&bogus));
    D3DDDIARG_CREATEDEVICE create = {};
    EXPECT_EQ(E_INVALIDARG, funcs.pfnCreateDevice(pAdapter->driverAdapter(), &create));
    EXPECT_EQ(E_INVALIDARG, funcs.pfnCreateDevice(&bogus, nullptr));
    // Every refusal is journalled under the module, without a GPU for unknown handles.
    EXPECT_GE(journal().count("simumd_nv.dll", "GetCaps", sim::kNoGpu), 2u);
}

TEST(UmdAdapter, MultisampleQualityComesFromTheKernelMethodList) {
    std::unique_ptr<RuntimeAdapter> pAdapter;
    ASSERT_EQ(S_OK, RuntimeAdapter::openGpu(1, AdapterSource(), pAdapter));
    DDIMULTISAMPLEQUALITYLEVELSDATA data = {};
    data.Format = D3DDDIFMT_X8R8G8B8;
    data.MsType = D3DDDIMULTISAMPLE_4_SAMPLES;
    ASSERT_EQ(S_OK,
              pAdapter->getCaps(D3DDDICAPS_GETMULTISAMPLEQUALITYLEVELS, &data, sizeof data, &data));
    EXPECT_EQ(4u, data.QualityLevels); // the preset's NVIDIA GPU: 4 samples, 4 levels
    data.MsType = D3DDDIMULTISAMPLE_3_SAMPLES;
    ASSERT_EQ(S_OK,
              pAdapter->getCaps(D3DDDICAPS_GETMULTISAMPLEQUALITYLEVELS, &data, sizeof data, &data));
    EXPECT_EQ(0u, data.QualityLevels);
    EXPECT_GE(journal().count("d3d9.dll", "GetMultisampleMethodListCb", 1), 2u);
}

} // namespace
