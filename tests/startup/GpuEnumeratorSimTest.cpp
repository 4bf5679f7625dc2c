// GPU discovery on simulated machines: records per bus, primary first, vendors,
// configuration codes, the device-key services, and the reports they write.
#include "GpuEnumerator.h"

#include "platform/KernelThunks.h"
#include "platform/win.h"
#include "sim/Machine.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Presets.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string logText() {
    std::string contents;
    sim::Machine::instance().root().readFile(u"c:\\vessa.log", contents);
    return contents;
}

std::string narrow(const WCHAR* text) {
    return text::narrow(text);
}

// Installs `desc` and enumerates it again (the enumerator keeps its first table otherwise).
GpuEnumerator* enumerateMachine(const sim::MachineDesc& desc) {
    std::string error;
    EXPECT_TRUE(sim::installMachine(desc, &error)) << error;
    GpuEnumerator* enumerator = GpuEnumerator::getInstance();
    enumerator->enumerate();
    return enumerator;
}

} // namespace

TEST(GpuEnumerator, DefaultMachineHasTheIntelGpuFirstAndCode5) {
    GpuEnumerator* enumerator = GpuEnumerator::getInstance();
    ASSERT_EQ(2, enumerator->getGpuNum());
    const DeviceProp* intel = enumerator->m_pDevicePropArray[0];
    const DeviceProp* nvidia = enumerator->m_pDevicePropArray[1];
    ASSERT_NE(nullptr, intel);
    ASSERT_NE(nullptr, nvidia);
    EXPECT_EQ(nullptr, enumerator->m_pDevicePropArray[2]);

    const sim::GpuDesc intelDesc = sim::presets::intelGpu();
    const sim::GpuDesc nvidiaDesc = sim::presets::nvidiaGpu();
    EXPECT_EQ(0x8086u, intel->vendorId);
    EXPECT_EQ(intelDesc.deviceId, intel->deviceId);
    EXPECT_EQ(intelDesc.busNumber, intel->busNumber);
    EXPECT_TRUE(intel->isPrimary);
    EXPECT_EQ(0x10DEu, nvidia->vendorId);
    EXPECT_EQ(nvidiaDesc.deviceId, nvidia->deviceId);
    EXPECT_EQ(nvidiaDesc.busNumber, nvidia->busNumber);
    EXPECT_FALSE(nvidia->isPrimary);

    // The Intel GPU's record keeps its first output, in both character sets, and the
    // whole DeviceID text.
    EXPECT_EQ("\\\\.\\DISPLAY1", narrow(intel->displayDeviceW.DeviceName));
    EXPECT_EQ(std::string("\\\\.\\DISPLAY1"), intel->displayDeviceA.DeviceName);
    EXPECT_EQ(intelDesc.pciDeviceId(), narrow(intel->displayDeviceW.DeviceID));

    EXPECT_EQ(kGpuVendorIntel, enumerator->getGPUVendorIdEnum(0));
    EXPECT_EQ(kGpuVendorNvidia, enumerator->getGPUVendorIdEnum(1));
    EXPECT_EQ(kGpuConfigIntelNv, enumerator->getGpuConfiguration());
    EXPECT_EQ(&nvidia->displayDeviceW, enumerator->getSecondaryDisplayDevice());
    EXPECT_EQ(&nvidia->displayDeviceA, enumerator->getDisplayDeviceA(1));
    EXPECT_EQ("", logText());
}

TEST(GpuEnumerator, PrimaryGpuListedLaterMovesToSlot0) {
    GpuEnumerator* enumerator = enumerateMachine(sim::presets::nvidiaListedFirst());
    ASSERT_EQ(2, enumerator->getGpuNum());
    EXPECT_EQ(0x8086u, enumerator->m_pDevicePropArray[0]->vendorId);
    EXPECT_TRUE(enumerator->m_pDevicePropArray[0]->isPrimary);
    EXPECT_EQ(0x10DEu, enumerator->m_pDevicePropArray[1]->vendorId);
    EXPECT_EQ(kGpuConfigIntelNv, enumerator->getGpuConfiguration());
}

TEST(GpuEnumerator, MirroringDriverIsIgnored) {
    GpuEnumerator* enumerator = enumerateMachine(sim::presets::mirroringDriver());
    EXPECT_EQ(2, enumerator->getGpuNum());
    EXPECT_EQ(kGpuConfigIntelNv, enumerator->getGpuConfiguration());
}

TEST(GpuEnumerator, SingleGpuHasNoConfigurationAndNoSecondary) {
    GpuEnumerator* enumerator = enumerateMachine(sim::presets::oneGpu());
    EXPECT_EQ(1, enumerator->getGpuNum());
    EXPECT_EQ(kGpuConfigNone, enumerator->getGpuConfiguration());
    EXPECT_EQ(nullptr, enumerator->getSecondaryDisplayDevice());
    EXPECT_EQ(nullptr, enumerator->getDisplayDeviceA(1));
    EXPECT_EQ(nullptr, enumerator->getDisplayDeviceA(-1));
    EXPECT_NE(nullptr, enumerator->getDisplayDeviceA(0));
    EXPECT_NE(std::string::npos, logText().find("Error code: 0\r\n"));
    EXPECT_NE(std::string::npos, logText().find(", Bad GPU index\r\r\n"));
}

TEST(GpuEnumerator, FifthGpuIsReportedAndNotRecorded) {
    GpuEnumerator* enumerator = enumerateMachine(sim::presets::fiveGpus());
    EXPECT_EQ(4, enumerator->getGpuNum());
    EXPECT_EQ(0x8086u, enumerator->m_pDevicePropArray[0]->vendorId);
    EXPECT_EQ(kGpuConfigIntelNv, enumerator->getGpuConfiguration());
    EXPECT_NE(std::string::npos,
              logText().find("Condition: deviceIndex<4, Device index is too big!\r\r\n"));
}

TEST(GpuEnumerator, NoPrimaryKeepsDiscoveryOrderAndFails) {
    sim::MachineDesc desc = sim::presets::defaultMachine();
    for (auto& display : desc.displays)
        display.stateFlags &= ~sim::kPrimaryDevice;
    std::string error;
    if (!sim::installMachine(desc, &error))
        GTEST_SKIP() << "the machine refuses a desktop without a primary display: " << error;
    GpuEnumerator* enumerator = GpuEnumerator::getInstance();
    EXPECT_FALSE(enumerator->enumerate());
    EXPECT_EQ(2, enumerator->getGpuNum());
    EXPECT_NE(std::string::npos, logText().find(", No primary device found!\r\r\n"));
}

TEST(GpuEnumerator, ConfigurationCodeFollowsBothVendors) {
    struct Case {
        const char* name;
        sim::MachineDesc desc;
        int code;
    };
    sim::MachineDesc atiPrimary = sim::presets::nvidiaPrimary();
    for (auto& gpu : atiPrimary.gpus) {
        if (gpu.vendorId == sim::kVendorNvidia)
            gpu.vendorId = sim::kVendorAti;
    }
    sim::MachineDesc unknownVendor = sim::presets::defaultMachine();
    unknownVendor.gpus[1].vendorId = 0x1234;
    const Case cases[] = {
        {"intel+nvidia", sim::presets::defaultMachine(), kGpuConfigIntelNv},
        {"intel+ati", sim::presets::intelAti(), kGpuConfigIntelAti},
        {"nvidia+intel", sim::presets::nvidiaPrimary(), kGpuConfigNvIntel},
        {"ati+intel", atiPrimary, kGpuConfigAtiIntel},
        {"intel+unknown", unknownVendor, kGpuConfigNone},
    };
    for (const Case& c : cases) {
        GpuEnumerator* enumerator = enumerateMachine(c.desc);
        EXPECT_EQ(c.code, enumerator->getGpuConfiguration()) << c.name;
    }
    EXPECT_NE(std::string::npos, logText().find("getGPUVendorIdEnum: unrecognized GPU 1, "));
    EXPECT_NE(std::string::npos, logText().find("Error code: 10016\r\n"));
}

TEST(GpuEnumerator, DeviceIdFieldsParseOrReport) {
    struct Case {
        const char16_t* text;
        uint32_t vendorId;
        uint32_t deviceId;
        bool reported;
    };
    const Case cases[] = {
        {u"PCI\\VEN_10DE&DEV_0A75&SUBSYS_00000000&REV_A2", 0x10DE, 0x0A75, false},
        {u"PCI\\VEN_8086&DEV_0046", 0x8086, 0x0046, false},           // no "&" after the last field
        {u"PCI\\VEN_10DE", 0x10DE, 0, true},                          // no DEV_
        {u"ROOT\\BASICDISPLAY", 0, 0, true},                          // no markers at all
        {u"PCI\\VEN_10XE&DEV_0A75", 0, 0x0A75, true},                 // not hex
        {u"PCI\\VEN_&DEV_0A75", 0, 0x0A75, true},                     // empty field
        {u"PCI\\VEN_123456789&DEV_1", 0, 1, true},                    // longer than 32 bits
        {u"PCI\\VEN_FFFFFFFF&DEV_0000000A", 0xFFFFFFFFu, 0xA, false}, // exactly 32 bits
    };
    for (const Case& c : cases) {
        const std::string before = logText();
        const WCHAR* text = text::w(c.text);
        EXPECT_EQ(c.vendorId, GpuEnumerator::parseDeviceIdField(text, 128, "VEN_")) << narrow(text);
        EXPECT_EQ(c.deviceId, GpuEnumerator::parseDeviceIdField(text, 128, "DEV_")) << narrow(text);
        EXPECT_EQ(c.reported, logText() != before) << narrow(text);
    }

    // A DeviceID that fills its field without a terminator is read up to the field's end.
    WCHAR full[8] = {'V', 'E', 'N', '_', '1', '0', 'D', 'E'};
    EXPECT_EQ(0x10DEu, GpuEnumerator::parseDeviceIdField(full, 8, "VEN_"));
}

TEST(GpuEnumerator, DeviceKeyServicesOpenAndCompareAdapters) {
    GpuEnumerator* enumerator = GpuEnumerator::getInstance();
    ASSERT_EQ(2, enumerator->getGpuNum());
    const WCHAR* intelKey = enumerator->m_pDevicePropArray[0]->displayDeviceW.DeviceKey;
    const WCHAR* nvidiaKey = enumerator->m_pDevicePropArray[1]->displayDeviceW.DeviceKey;

    D3DKMT_UMDFILENAMEINFO umd = {};
    umd.Version = KMTUMDVERSION_DX9;
    D3DKMT_QUERYADAPTERINFO query = {};
    query.Type = KMTQAITYPE_UMDRIVERNAME;
    query.pPrivateDriverData = &umd;
    query.PrivateDriverDataSize = sizeof umd;
    ASSERT_TRUE(GpuEnumerator::queryAdapterInfoByKey(nvidiaKey, &query));
    EXPECT_EQ(sim::presets::nvidiaGpu().umdFileName, narrow(umd.UmdFileName));

    D3DKMT_OPENADAPTERFROMDEVICENAME openInfo = {};
    ASSERT_TRUE(NT_SUCCESS(GpuEnumerator::openAdapterFromKey(nvidiaKey, &openInfo)));
    EXPECT_EQ(nullptr, openInfo.pDeviceName);
    EXPECT_NE(0u, openInfo.hAdapter);
    EXPECT_TRUE(GpuEnumerator::isSameAdapter(nvidiaKey, openInfo.hAdapter));
    EXPECT_FALSE(GpuEnumerator::isSameAdapter(intelKey, openInfo.hAdapter));
    EXPECT_FALSE(GpuEnumerator::isSameAdapter(nvidiaKey, 0));
    D3DKMT_CLOSEADAPTER closeInfo = {openInfo.hAdapter};
    EXPECT_TRUE(NT_SUCCESS(KernelThunks::get().pfnCloseAdapter(&closeInfo)));
}

TEST(GpuEnumerator, DeviceKeyWithoutSystemFailsTheOpenWithAWarning) {
    D3DKMT_OPENADAPTERFROMDEVICENAME openInfo = {};
    NTSTATUS status =
        GpuEnumerator::openAdapterFromKey(WSTR("\\Registry\\Machine\\Software\\Video"), &openInfo);
    EXPECT_FALSE(NT_SUCCESS(status));
    EXPECT_EQ(nullptr, openInfo.pDeviceName);
    const std::string log = logText();
    EXPECT_NE(std::string::npos, log.find("Warning code: 10968\r\n"));
    EXPECT_NE(std::string::npos, log.find("Condition: (((LONG)(ntStatus)) >= 0), "
                                          "D3DKMTOpenAdapterFromDeviceName failed\r\r\n"));

    // The query by such a key reports the status and fails without touching the answer.
    D3DKMT_ADAPTERADDRESS address = {7, 7, 7};
    D3DKMT_QUERYADAPTERINFO query = {};
    query.Type = KMTQAITYPE_ADAPTERADDRESS;
    query.pPrivateDriverData = &address;
    query.PrivateDriverDataSize = sizeof address;
    EXPECT_FALSE(GpuEnumerator::queryAdapterInfoByKey(WSTR("no key at all"), &query));
    EXPECT_EQ(7u, address.BusNumber);
    EXPECT_NE(std::string::npos, logText().find("for openAdapterFromKey\r\r\n"));
}

TEST(GpuEnumerator, ConcurrentFirstUseEnumeratesOnce) {
    sim::Journal& journal = sim::Machine::instance().journal();
    const size_t before = journal.count("user32.dll", "EnumDisplayDevicesW");
    GpuEnumerator* seen[4] = {};
    HANDLE threads[4] = {};
    for (int i = 0; i < 4; ++i) {
        threads[i] = CreateThread(
            nullptr, 0,
            [](LPVOID out) -> DWORD {
                *static_cast<GpuEnumerator**>(out) = GpuEnumerator::getInstance();
                return 0;
            },
            &seen[i], 0, nullptr);
        ASSERT_NE(nullptr, threads[i]);
    }
    for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    for (GpuEnumerator* enumerator : seen)
        EXPECT_EQ(seen[0], enumerator);
    EXPECT_EQ(2, seen[0]->getGpuNum());
    // At most one walk over the display devices (none when an earlier test of this process
    // created the enumerator): the first call's probe, the three devices and the call that
    // ends the list.
    EXPECT_LE(journal.count("user32.dll", "EnumDisplayDevicesW") - before, 5u);
}
