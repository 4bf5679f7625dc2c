// Display devices and display settings of the simulated machine, on every preset, and the
// registry walk from a display device's key to the adapter it names.
#include "GpuTestSupport.h"

#include <string.h>
#include <vector>

namespace {

using simtest::install;

struct Listed {
    std::string name;
    DWORD flags;
    std::string id;
    std::string key;
    std::string string;
};

std::vector<Listed> listW() {
    std::vector<Listed> out;
    for (DWORD i = 0;; ++i) {
        DISPLAY_DEVICEW d;
        memset(&d, 0, sizeof d);
        d.cb = sizeof d;
        if (!EnumDisplayDevicesW(nullptr, i, &d, 0))
            break;
        out.push_back({sim::toUtf8(d.DeviceName), d.StateFlags, sim::toUtf8(d.DeviceID),
                       sim::toUtf8(d.DeviceKey), sim::toUtf8(d.DeviceString)});
    }
    return out;
}

TEST(DisplayDevicesTest, DefaultMachineListsTwoIntelOutputsThenTheInactiveNvidiaGpu) {
    std::vector<Listed> list = listW();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "\\\\.\\DISPLAY1");
    EXPECT_EQ(list[0].flags,
              DWORD(DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE));
    EXPECT_EQ(list[0].id, "PCI\\VEN_8086&DEV_0046&SUBSYS_02151025&REV_02");
    EXPECT_EQ(list[0].string, "Intel(R) HD Graphics");
    EXPECT_EQ(list[1].name, "\\\\.\\DISPLAY2");
    EXPECT_EQ(list[1].flags, DWORD(DISPLAY_DEVICE_ATTACHED_TO_DESKTOP));
    EXPECT_EQ(list[2].name, "\\\\.\\DISPLAY3");
    EXPECT_EQ(list[2].flags, 0u);
    EXPECT_EQ(list[2].id.substr(0, 21), "PCI\\VEN_10DE&DEV_0A29");
    // Every output has its own key; the NVIDIA GPU's is under its own video GUID.
    EXPECT_EQ(list[0].key.substr(0, 56),
              "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Video");
    EXPECT_NE(list[0].key, list[1].key);
    EXPECT_EQ(list[0].key.substr(0, list[0].key.size() - 4),
              list[1].key.substr(0, list[1].key.size() - 4));
    EXPECT_EQ(list[2].key, sim::presets::nvidiaGpu().deviceKey(0));
}

TEST(DisplayDevicesTest, AnsiEnumerationMatchesTheWideOne) {
    std::vector<Listed> wide = listW();
    for (DWORD i = 0; i < wide.size(); ++i) {
        DISPLAY_DEVICEA d;
        memset(&d, 0, sizeof d);
        d.cb = sizeof d;
        ASSERT_TRUE(EnumDisplayDevicesA(nullptr, i, &d, 0));
        EXPECT_EQ(std::string(d.DeviceName), wide[i].name);
        EXPECT_EQ(std::string(d.DeviceID), wide[i].id);
        EXPECT_EQ(std::string(d.DeviceKey), wide[i].key);
        EXPECT_EQ(d.StateFlags, wide[i].flags);
    }
    DISPLAY_DEVICEA d = {};
    d.cb = sizeof d;
    EXPECT_FALSE(EnumDisplayDevicesA(nullptr, DWORD(wide.size()), &d, 0));
}

TEST(DisplayDevicesTest, SizeFieldDecidesWhatIsFilled) {
    DISPLAY_DEVICEW d;
    memset(&d, 0xCC, sizeof d);
    d.cb = 0;
    EXPECT_FALSE(EnumDisplayDevicesW(nullptr, 0, &d, 0));
    EXPECT_FALSE(EnumDisplayDevicesW(nullptr, 0, nullptr, 0));

    // The older, shorter layout (cb 420 ends inside DeviceID): names and flags only.
    memset(&d, 0xCC, sizeof d);
    d.cb = 420;
    ASSERT_TRUE(EnumDisplayDevicesW(nullptr, 0, &d, 0));
    EXPECT_EQ(sim::toUtf8(d.DeviceName), "\\\\.\\DISPLAY1");
    EXPECT_EQ(d.StateFlags,
              DWORD(DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE));
    EXPECT_EQ(d.DeviceID[0], 0xCCCC);
    EXPECT_EQ(d.DeviceKey[0], 0xCCCC);
}

struct PresetCase {
    const char* name;
    size_t listed;
    int primaryIndex;      ///< position of the primary device in the list, -1 for none
    const char* primaryId; ///< vendor of the primary device
    int mirrorIndex;       ///< position of a mirroring driver, -1 for none
};

void PrintTo(const PresetCase& c, std::ostream* os) {
    *os << c.name;
}

class DisplayDevicesPresetTest : public ::testing::TestWithParam<PresetCase> {};

TEST_P(DisplayDevicesPresetTest, ListsDevicesInDisplayOrder) {
    const PresetCase& c = GetParam();
    sim::MachineDesc machine;
    ASSERT_TRUE(sim::presets::byName(c.name, machine));
    install(machine);
    std::vector<Listed> list = listW();
    ASSERT_EQ(list.size(), c.listed);
    for (size_t i = 0; i < list.size(); ++i) {
        bool primary = (list[i].flags & DISPLAY_DEVICE_PRIMARY_DEVICE) != 0;
        EXPECT_EQ(primary, int(i) == c.primaryIndex) << list[i].name;
        bool mirror = (list[i].flags & DISPLAY_DEVICE_MIRRORING_DRIVER) != 0;
        EXPECT_EQ(mirror, int(i) == c.mirrorIndex) << list[i].name;
        EXPECT_FALSE(list[i].key.empty());
    }
    if (c.primaryIndex >= 0) {
        EXPECT_EQ(list[size_t(c.primaryIndex)].id.substr(0, 12), c.primaryId);
    }
}

INSTANTIATE_TEST_SUITE_P(Presets, DisplayDevicesPresetTest,
                         ::testing::Values(PresetCase{"default", 3, 0, "PCI\\VEN_8086", -1},
                                           PresetCase{"intel-ati", 3, 0, "PCI\\VEN_8086", -1},
                                           PresetCase{"nvidia-primary", 2, 0, "PCI\\VEN_10DE", -1},
                                           PresetCase{"nvidia-listed-first", 3, 1, "PCI\\VEN_8086",
                                                      -1},
                                           PresetCase{"one-gpu", 1, 0, "PCI\\VEN_8086", -1},
                                           PresetCase{"five-gpus", 6, 0, "PCI\\VEN_8086", -1},
                                           PresetCase{"mirroring-driver", 4, 0, "PCI\\VEN_8086", 2},
                                           PresetCase{"empty", 0, -1, "", -1}),
                         [](const ::testing::TestParamInfo<PresetCase>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) {
                                 if (ch == '-')
                                     ch = '_';
                             }
                             return name;
                         });

TEST(DisplayDevicesTest, AttachedOutputsHaveOneMonitorAndInactiveOnesNone) {
    DISPLAY_DEVICEW d = {};
    d.cb = sizeof d;
    ASSERT_TRUE(EnumDisplayDevicesW(u"\\\\.\\DISPLAY1", 0, &d, 0));
    EXPECT_EQ(sim::toUtf8(d.DeviceName), "\\\\.\\DISPLAY1\\Monitor0");
    EXPECT_EQ(d.StateFlags, DWORD(DISPLAY_DEVICE_ACTIVE | DISPLAY_DEVICE_ATTACHED));
    EXPECT_FALSE(EnumDisplayDevicesW(u"\\\\.\\DISPLAY1", 1, &d, 0));
    EXPECT_FALSE(EnumDisplayDevicesW(u"\\\\.\\DISPLAY3", 0, &d, 0));
    EXPECT_FALSE(EnumDisplayDevicesW(u"\\\\.\\DISPLAY9", 0, &d, 0));
}

TEST(DisplayDevicesTest, InterfaceNameFlagGivesTheRegistryInterfacePath) {
    DISPLAY_DEVICEW d = {};
    d.cb = sizeof d;
    ASSERT_TRUE(EnumDisplayDevicesW(nullptr, 2, &d, EDD_GET_DEVICE_INTERFACE_NAME));
    EXPECT_EQ(sim::toUtf8(d.DeviceID), sim::presets::nvidiaGpu().registryInterfacePath());
}

TEST(DisplaySettingsTest, CurrentSettingsOfThePrimaryAndOfANamedDisplay) {
    DEVMODEA mode;
    memset(&mode, 0xCC, sizeof mode);
    ASSERT_TRUE(EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode));
    EXPECT_EQ(mode.dmPelsWidth, 1280u);
    EXPECT_EQ(mode.dmPelsHeight, 800u);
    EXPECT_EQ(mode.dmBitsPerPel, 32u);
    EXPECT_EQ(mode.dmDisplayFrequency, 60u);
    EXPECT_EQ(mode.dmSize, sizeof mode);
    EXPECT_TRUE(mode.dmFields & DM_DISPLAYFREQUENCY);

    ASSERT_TRUE(EnumDisplaySettingsA("\\\\.\\DISPLAY2", ENUM_CURRENT_SETTINGS, &mode));
    EXPECT_EQ(mode.dmPelsWidth, 1024u);
    EXPECT_EQ(mode.dmPosition.x, 1280);
    // The GPU without a monitor has modes but no current settings.
    EXPECT_FALSE(EnumDisplaySettingsA("\\\\.\\DISPLAY3", ENUM_CURRENT_SETTINGS, &mode));
    EXPECT_TRUE(EnumDisplaySettingsA("\\\\.\\DISPLAY3", 0, &mode));
    EXPECT_FALSE(EnumDisplaySettingsA("\\\\.\\DISPLAY7", ENUM_CURRENT_SETTINGS, &mode));
    EXPECT_FALSE(EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, nullptr));
}

TEST(DisplaySettingsTest, ModeIndicesWalkTheGpuModeListAndEndWithFalse) {
    const std::vector<sim::DisplayMode>& modes = sim::presets::intelGpu().modes;
    DEVMODEA mode = {};
    for (DWORD i = 0; i < modes.size(); ++i) {
        ASSERT_TRUE(EnumDisplaySettingsA(nullptr, i, &mode)) << i;
        EXPECT_EQ(mode.dmPelsWidth, modes[i].width);
        EXPECT_EQ(mode.dmBitsPerPel, sim::formatBitsPerPixel(modes[i].format));
    }
    EXPECT_FALSE(EnumDisplaySettingsA(nullptr, DWORD(modes.size()), &mode));
}

// What the GPU enumerator does with a display device: from its key to the adapter's
// interface name through the registry, then open the adapter by that name and ask its bus.
std::u16string interfaceNameFromKey(const std::string& deviceKey) {
    std::string below = deviceKey.substr(deviceKey.find("System"));
    sim::RegistryValue value;
    if (!sim::Machine::instance().registry().getValue(
            sim::fromUtf8("HKLM\\" + below + "\\VolatileSettings"),
            u"{5b45201d-f2f2-4f3b-85bb-30ff1f953599}", value))
        return u"";
    std::u16string text(reinterpret_cast<const char16_t*>(value.data.data()),
                        value.data.size() / 2);
    text = text.c_str(); // the reader terminates what it reads
    return text.substr(0, text.rfind(u'#')) + u"#{1CA05180-A699-450A-9A0C-DE4FBE3DDD89}";
}

TEST(DisplayDevicesTest, RegistryLeadsFromEveryDeviceKeyToItsAdapterAndBus) {
    std::vector<Listed> list = listW();
    const uint32_t expectedBus[] = {0, 0, 1};
    ASSERT_EQ(list.size(), 3u);
    for (size_t i = 0; i < list.size(); ++i) {
        std::u16string name = interfaceNameFromKey(list[i].key);
        ASSERT_FALSE(name.empty()) << list[i].key;
        D3DKMT_OPENADAPTERFROMDEVICENAME open = {};
        open.pDeviceName = name.c_str();
        ASSERT_EQ(D3DKMTOpenAdapterFromDeviceName(&open), sim::kStatusSuccess);
        D3DKMT_ADAPTERADDRESS address = {};
        D3DKMT_QUERYADAPTERINFO query = {};
        query.hAdapter = open.hAdapter;
        query.Type = KMTQAITYPE_ADAPTERADDRESS;
        query.pPrivateDriverData = &address;
        query.PrivateDriverDataSize = sizeof address;
        EXPECT_EQ(D3DKMTQueryAdapterInfo(&query), sim::kStatusSuccess);
        EXPECT_EQ(address.BusNumber, expectedBus[i]) << list[i].name;
        D3DKMT_CLOSEADAPTER close = {open.hAdapter};
        EXPECT_EQ(D3DKMTCloseAdapter(&close), sim::kStatusSuccess);
    }
}

TEST(DisplayDevicesTest, FiveGpusHaveDistinctBusesAndLuids) {
    install(sim::presets::fiveGpus());
    std::vector<Listed> list = listW();
    std::vector<uint32_t> buses;
    std::vector<DWORD> luids;
    for (const Listed& l : list) {
        std::u16string name = interfaceNameFromKey(l.key);
        D3DKMT_OPENADAPTERFROMDEVICENAME open = {};
        open.pDeviceName = name.c_str();
        ASSERT_EQ(D3DKMTOpenAdapterFromDeviceName(&open), sim::kStatusSuccess) << l.name;
        luids.push_back(open.AdapterLuid.LowPart);
        D3DKMT_ADAPTERADDRESS address = {};
        D3DKMT_QUERYADAPTERINFO query = {open.hAdapter, KMTQAITYPE_ADAPTERADDRESS, &address,
                                         sizeof address};
        ASSERT_EQ(D3DKMTQueryAdapterInfo(&query), sim::kStatusSuccess);
        buses.push_back(address.BusNumber);
    }
    EXPECT_EQ(buses, (std::vector<uint32_t>{0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(luids[0], luids[1]);
    for (size_t i = 2; i < luids.size(); ++i)
        EXPECT_NE(luids[i], luids[i - 1]);
}

TEST(DisplayDevicesTest, MissingRegistryValueLeavesNoWayToTheAdapter) {
    sim::MachineDesc machine = sim::presets::defaultMachine();
    machine.gpus[1].writeInterfaceValue = false;
    install(machine);
    EXPECT_TRUE(interfaceNameFromKey(machine.gpus[1].deviceKey(0)).empty());
    EXPECT_FALSE(interfaceNameFromKey(machine.gpus[0].deviceKey(0)).empty());
}

TEST(DisplayDevicesTest, CallsAreJournaledWithTheGpuAndCanBeMadeToFail) {
    sim::Machine& m = sim::Machine::instance();
    m.journal().clear();
    DISPLAY_DEVICEW d = {};
    d.cb = sizeof d;
    ASSERT_TRUE(EnumDisplayDevicesW(nullptr, 2, &d, 0));
    sim::JournalEntry entry;
    ASSERT_TRUE(m.journal().last("user32.dll", "EnumDisplayDevicesW", entry));
    EXPECT_EQ(entry.gpu, 1);
    EXPECT_EQ(entry.result, 1);
    EXPECT_NE(entry.arguments.find("index=2"), std::string::npos);

    m.faults().failNth("user32.dll", "EnumDisplayDevicesW", 2, ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(EnumDisplayDevicesW(nullptr, 0, &d, 0));
    EXPECT_FALSE(EnumDisplayDevicesW(nullptr, 0, &d, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(EnumDisplayDevicesW(nullptr, 0, &d, 0));
}

} // namespace
