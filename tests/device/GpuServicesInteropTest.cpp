// GpuServices against a damaged interop library on the simulated machine: a library that
// lacks one of the two exports the start needs is refused, and a staging buffer whose
// notification event could not be made never waits on or destroys one.
#include "../interop/InteropFixture.h"

using namespace interoptest;

namespace {

std::map<std::string, std::string> syncMode() {
    return {{"should_umd_sync_copy", "1"}};
}

class MissingInteropExport : public ::testing::TestWithParam<const char*> {
protected:
    void TearDown() override {
        m_device.close();
        machine().faults().clear();
    }
    InteropDevice m_device;
};

class FailedNotificationEvent : public ::testing::Test {
protected:
    void TearDown() override {
        m_device.close();
        machine().faults().clear();
    }
    InteropDevice m_device;
};

} // namespace

TEST_P(MissingInteropExport, RefusesTheLibraryAndTheDeviceUsesTheApiCopy) {
    ASSERT_NO_FATAL_FAILURE(installMachine(virtualMachine(), syncMode(), true));
    machine().faults().hideExport(kInterop, GetParam());
    ASSERT_NO_FATAL_FAILURE(m_device.open());
    EXPECT_EQ(uint32_t(kWorkerNone), m_device.workerState());
    EXPECT_EQ(0u, calls(kInterop, "create"));

    expectTransferByApiCopy(m_device, 64, 48);
}

INSTANTIATE_TEST_SUITE_P(GpuServicesInterop, MissingInteropExport,
                         ::testing::Values("VI_getFactory", "VI_getNextGroupId"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

TEST_F(FailedNotificationEvent, IsNeverWaitedOnNorDestroyed) {
    ASSERT_NO_FATAL_FAILURE(installMachine(virtualMachine(), syncMode(), true));
    ASSERT_NO_FATAL_FAILURE(m_device.open());
    machine().faults().failAlways(kInterop, "createCpuNotificationEvent", kViStatusOutOfMemory);
    HANDLE hSrc = m_device.create(64, 48);
    HANDLE hDst = m_device.createDestination(64, 48);
    m_device.transfer(hDst, hSrc);
    m_device.transfer(hDst, hSrc);
    EXPECT_NE(0u, m_device.ring().tokens[0]); // the buffers themselves were made
    EXPECT_EQ(0u, calls(kInterop, "testCpuNotification"));

    m_device.close();
    EXPECT_EQ(0u, calls(kInterop, "destroyCpuNotification"));
    EXPECT_EQ(0, reports("Error", 11054, "destroyCpuNotification failed"));
}
