// The device object on its own: the resource map's reports, the set-once context slots, the
// icon's corner codes and the worker thread's life.
#include "Configuration.h"
#include "Device9.h"
#include "Execution9.h"
#include "GpuServices.h"
#include "OpenAdapter.h"
#include "VessaIcon.h"

#include "../adapter/AdapterTestSupport.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using adaptertest::machine;
using adaptertest::reports;

namespace {

const HANDLE kRuntimeDevice = reinterpret_cast<HANDLE>(uintptr_t(0x5000));

ResourceDDI9* fakeResource(uintptr_t value) {
    // The map never looks into its objects when it adds or removes them.
    return reinterpret_cast<ResourceDDI9*>(value);
}

class DeviceObject : public ::testing::Test {
protected:
    void SetUp() override {
        OpenAdapter::setGpuRoles(1, 0);
        m_device.reset(new Device(kRuntimeDevice, nullptr));
        // The first device loads the configuration, whose reports do not concern these tests.
        adaptertest::clearLog();
    }
    void TearDown() override {
        machine().faults().clear();
        while (m_device->resourceCount())
            m_device->removeResource(m_device->resourceMap().begin()->first);
        m_device.reset();
    }
    std::unique_ptr<Device> m_device;
};

} // namespace

TEST_F(DeviceObject, ResourceMapReportsDuplicatesAndUnknownHandles) {
    m_device->addResource(0x20, fakeResource(0x1000));
    m_device->addResource(0x20, fakeResource(0x2000));
    EXPECT_EQ(1, reports("Error", 11031, "Resource 20 already defined!", "DeviceBase.cpp:108"));
    ASSERT_EQ(1u, m_device->resourceCount());
    EXPECT_EQ(fakeResource(0x2000), m_device->resourceMap().at(0x20));

    EXPECT_EQ(nullptr, m_device->getResource(0x30));
    EXPECT_EQ(1, reports("Error", 11032, "Could not find Resource 30!", "DeviceBase.cpp:114"));
    EXPECT_EQ(1u, m_device->resourceCount());

    m_device->removeResource(0x30);
    EXPECT_EQ(1, reports("Error", 11034, "Could not find Resource 30!", "DeviceBase.cpp:122"));
    m_device->removeResource(0x20);
    EXPECT_EQ(0u, m_device->resourceCount());
}

TEST_F(DeviceObject, ContextSlotsKeepTheFirstHandle) {
    m_device->setContext(1, 0x11);
    m_device->setContext(1, 0x12);
    m_device->setContext(7, 0x13);
    EXPECT_EQ(0x11u, m_device->getContext(1));
    EXPECT_EQ(0u, m_device->getContext(0));
    EXPECT_EQ(0u, m_device->getContext(7));
}

TEST_F(DeviceObject, IconCornerCodesFollowTheFirstTwoCharacters) {
    EXPECT_EQ(4u, VessaIcon::cornerFromText(WSTR("LR")));
    EXPECT_EQ(1u, VessaIcon::cornerFromText(WSTR("UL")));
    EXPECT_EQ(2u, VessaIcon::cornerFromText(WSTR("UR")));
    EXPECT_EQ(3u, VessaIcon::cornerFromText(WSTR("LL")));
    EXPECT_EQ(4u, VessaIcon::cornerFromText(WSTR("xx")));
    EXPECT_EQ(4u, VessaIcon::cornerFromText(WSTR("0")));
    EXPECT_EQ(2u, VessaIcon::cornerFromText(WSTR("U")));
    EXPECT_EQ(4u, VessaIcon::cornerFromText(WSTR("")));
    EXPECT_EQ(4u, VessaIcon::cornerFromText(nullptr));
}

TEST_F(DeviceObject, IconFollowsTheShowAndHideProperties) {
    Configuration* config = Configuration::getInstance();
    config->setProperty(ConfigProperty::vessa_icon_show, 2);
    config->setProperty(ConfigProperty::hide_vessa_icon, 0);
    {
        Device device(kRuntimeDevice, nullptr);
        ASSERT_NE(nullptr, device.m_pVessaIcon);
        EXPECT_TRUE(device.m_pVessaIcon->timed());
        delete device.m_pVessaIcon;
        device.m_pVessaIcon = nullptr;
    }
    config->setProperty(ConfigProperty::vessa_icon_show, 1);
    {
        Device device(kRuntimeDevice, nullptr);
        ASSERT_NE(nullptr, device.m_pVessaIcon);
        EXPECT_FALSE(device.m_pVessaIcon->timed());
        delete device.m_pVessaIcon;
        device.m_pVessaIcon = nullptr;
    }
    config->setProperty(ConfigProperty::hide_vessa_icon, 1);
    {
        Device device(kRuntimeDevice, nullptr);
        EXPECT_EQ(nullptr, device.m_pVessaIcon);
    }
    config->setProperty(ConfigProperty::vessa_icon_show, 0);
    config->setProperty(ConfigProperty::hide_vessa_icon, 0);
    EXPECT_EQ(0, reports("Warning", 10977, "Icon was not destroyed!"));
}

TEST_F(DeviceObject, WorkerRunsPassesUntilStoppedAndItsHandleIsClosed) {
    ASSERT_TRUE(m_device->startWorker());
    EXPECT_EQ(uint32_t(kWorkerRunning), m_device->workerState());
    EXPECT_NE(nullptr, m_device->workerThread());
    Sleep(20);
    m_device->stopWorker();
    EXPECT_EQ(uint32_t(kWorkerExited), m_device->workerState());
    EXPECT_EQ(nullptr, m_device->workerThread());
}

TEST_F(DeviceObject, WorkerWaitingForServicesStillLeavesOnAStopRequest) {
    GpuServices::release(); // the fixture's device lets go: no services at all
    ASSERT_EQ(nullptr, GpuServices::instance());
    ASSERT_TRUE(m_device->startWorker());
    Sleep(30);
    m_device->stopWorker();
    EXPECT_EQ(uint32_t(kWorkerExited), m_device->workerState());
    GpuServices::acquire();
}

TEST_F(DeviceObject, WorkerThatCannotStartLeavesTheStateAtNone) {
    machine().faults().failNth("kernel32.dll", "CreateThread", 1, 8 /* no memory */);
    EXPECT_FALSE(m_device->startWorker());
    EXPECT_EQ(uint32_t(kWorkerNone), m_device->workerState());
    EXPECT_EQ(1, reports("Error", 0, "worker thread did not start"));
    m_device->stopWorker(); // nothing to wait for
}

TEST_F(DeviceObject, DeviceDeletedWithResourcesInItsMapReportsThem) {
    auto device = std::make_unique<Device>(kRuntimeDevice, nullptr);
    device->addResource(0x40, fakeResource(0x4000));
    device.reset();
    EXPECT_EQ(
        1, reports("Warning", 10976, "Not all device resources were destroy!", "Device9.cpp:244"));
    EXPECT_NE(std::string::npos, adaptertest::log().find("Condition: m_resourceMap.empty()"));
}

TEST_F(DeviceObject, ConfiguredApiCopyIsWhatANewDeviceUses) {
    Configuration* config = Configuration::getInstance();
    const int before = config->getIntProperty(ConfigProperty::use_api_copy_dx9);
    for (int value : {0, 1}) {
        config->setProperty(ConfigProperty::use_api_copy_dx9, value);
        Device device(kRuntimeDevice, nullptr);
        EXPECT_EQ(value == 1, device.execution().useApiCopy()) << value;
    }
    config->setProperty(ConfigProperty::use_api_copy_dx9, before);
}
