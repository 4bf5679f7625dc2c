// The adapter interposition end to end on the simulated machine: the simulated runtime
// loads vessad3d9u.dll by name and enters one of its exports, the library opens the
// simulated vendor drivers of both GPUs, and the journal says which GPU each call reached.
#include "AdapterTestSupport.h"
#include "ConfigProperty.h"

#include "platform/win.h"
#include "sim/drivers/DriverControl.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/Presets.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using adaptertest::machine;
using adaptertest::reports;
using sim::rt::AdapterSource;
using sim::rt::RuntimeAdapter;

namespace {

constexpr int kIntel = 0;  // GPU indexes of the machine descriptions
constexpr int kNvidia = 1; // (both presets list the Intel GPU first)
constexpr UINT kFormatA2R10G10B10 = 35;

AdapterSource exportOf(const char* entry) {
    AdapterSource source;
    source.library = "vessad3d9u.dll";
    source.entry = entry;
    return source;
}

const AdapterSource kIntelExport = exportOf("OpenAdapter9DetourIntel");
const AdapterSource kNvidiaExport = exportOf("OpenAdapter9DetourNV");
const AdapterSource kAtiExport = exportOf("OpenAdapter9DetourATI");

void install(const sim::MachineDesc& desc) {
    std::string error;
    ASSERT_TRUE(sim::installMachine(desc, &error)) << error;
}

// An application database with every property at its usual value, except `values`, and the
// driver's installation key leading to it and to the configuration library.
void installDatabase(const std::map<std::string, std::string>& values) {
    std::string xml = "<?xml version=\"1.0\"?>\n<kora><default><all>\n";
    auto add = [&](const char* name, const char* fallback) {
        auto it = values.find(name);
        std::string value = it != values.end() ? it->second : (fallback ? fallback : "0");
        xml += std::string("<") + name + ">" + value + "</" + name + ">\n";
    };
#define ADAPTER_TEST_PROPERTY(name, id, kind, fallback)                                            \
    if (id >= 1 && id <= 25)                                                                       \
        add(#name, fallback);
    VESSA_CONFIG_PROPERTIES(ADAPTER_TEST_PROPERTY)
#undef ADAPTER_TEST_PROPERTY
    xml += "</all></default></kora>\n";
    ASSERT_TRUE(machine().root().writeFile(u"C:\\Vessa\\config\\vessa.xml", xml));

    const char* moduleDir = getenv("VESSA_MODULE_DIR");
    ASSERT_NE(nullptr, moduleDir);
    const std::u16string key = u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver";
    ASSERT_TRUE(machine().registry().setString(key, u"InstallDirectory",
                                               machine().root().toWindows(moduleDir)));
    ASSERT_TRUE(machine().registry().setString(key, u"ConfigFileDirectory", u"C:\\Vessa\\config"));
}

// A user profile with an empty user settings file, so the configuration loads without a
// report.
void installUserSettings() {
    machine().environment().set(u"USERPROFILE", u"C:\\Users\\player");
    ASSERT_TRUE(machine().root().writeFile(u"C:\\Users\\player\\Quorvex\\userSettings.xml",
                                           "<userSettings/>"));
}

// A GPU that owns the display and, unless `other` is null, a second GPU without a monitor.
// A second GPU of the first one's vendor gets an identity of its own.
sim::MachineDesc displayAndOther(sim::GpuDesc (*display)(), sim::GpuDesc (*other)()) {
    sim::GpuDesc first = display();
    first.busNumber = 0;
    first.deviceNumber = 0;
    sim::MachineDesc desc;
    desc.addOutput(desc.addGpu(first), true, {1280, 800, sim::kFormatX8R8G8B8, 60});
    if (!other)
        return desc;
    sim::GpuDesc second = other();
    second.busNumber = 1;
    if (second.vendorId == first.vendorId) {
        second.id += "2";
        second.luidLow += 0x100;
        second.videoGuid[1] = '9';
        second.instance[2] = 'z';
    }
    desc.addInactive(desc.addGpu(second));
    return desc;
}

// The default machine, with the display also offering a ten-bit mode.
sim::MachineDesc tenBitDisplay() {
    sim::MachineDesc desc = sim::presets::defaultMachine();
    desc.gpus[kIntel].modes.push_back({1280, 800, kFormatA2R10G10B10, 60});
    return desc;
}

size_t calls(const char* module, const char* entry) {
    return machine().journal().count(module, entry);
}
size_t calls(const char* module, const char* entry, int gpu) {
    return machine().journal().count(module, entry, gpu);
}

// Opens the primary display through `source`; fails the test unless the runtime got S_OK.
std::string pointerText(const void* pointer) {
    char text[32];
    snprintf(text, sizeof text, "%p", pointer);
    return text;
}

std::unique_ptr<RuntimeAdapter> open(const AdapterSource& source) {
    std::unique_ptr<RuntimeAdapter> adapter;
    HRESULT hr = RuntimeAdapter::openDisplay("", source, adapter);
    EXPECT_EQ(S_OK, hr);
    return adapter;
}

// The formats the runtime's adapter reports, queried as the runtime does: count, then data.
std::vector<FORMATOP> formats(RuntimeAdapter& adapter, bool countFirst = true, UINT room = 64) {
    UINT count = room;
    if (countFirst) {
        EXPECT_EQ(S_OK, adapter.getCaps(D3DDDICAPS_GETFORMATCOUNT, &count, sizeof count));
    }
    std::vector<FORMATOP> data(count);
    EXPECT_EQ(S_OK, adapter.getCaps(D3DDDICAPS_GETFORMATDATA, data.data(),
                                    UINT(data.size() * sizeof(FORMATOP))));
    return data;
}

const FORMATOP* find(const std::vector<FORMATOP>& formats, UINT format) {
    for (const FORMATOP& op : formats) {
        if (UINT(op.Format) == format)
            return &op;
    }
    return nullptr;
}

template <typename Fn> Fn probe(const char* name) {
    HMODULE library = GetModuleHandleW(WSTR("vessad3d9u.dll"));
    return library ? reinterpret_cast<Fn>(
                         reinterpret_cast<void (*)(void)>(GetProcAddress(library, name)))
                   : nullptr;
}

class Interposition : public ::testing::Test {
protected:
    void SetUp() override { adaptertest::clearLog(); }
    void TearDown() override { machine().faults().clear(); }
};

} // namespace

// ---- Opening, routing and closing ---------------------------------------------------------

TEST_F(Interposition, RuntimeGetsTheRenderingAdapterQueriesCapsAndClosesIt) {
    install(sim::presets::defaultMachine());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);

    // The display's driver was opened with the runtime's own callbacks, the NVIDIA driver
    // over a kernel adapter with the library's: its adapter query went to the kernel.
    EXPECT_EQ(1u, calls("simumd_intel.dll", "OpenAdapter", kIntel));
    EXPECT_EQ(1u, calls("simumd_nv.dll", "OpenAdapter", kNvidia));
    EXPECT_EQ(1u, calls("d3d9.dll", "QueryAdapterInfoCb", kIntel));
    EXPECT_EQ(0u, calls("d3d9.dll", "QueryAdapterInfoCb", kNvidia));
    EXPECT_EQ(2u, sim::umd::counts().adapters);

    // The runtime holds the NVIDIA driver's handle: its caps come from the NVIDIA driver.
    machine().journal().clear();
    std::vector<uint8_t> caps(1024);
    EXPECT_EQ(S_OK, adapter->getCaps(D3DDDICAPS_GETD3D9CAPS, caps.data(), UINT(caps.size())));
    EXPECT_EQ(1u, calls("simumd_nv.dll", "GetCaps", kNvidia));
    EXPECT_EQ(0u, calls("simumd_intel.dll", "GetCaps"));

    // A device of the adapter lives on both GPUs and goes before the adapter closes.
    std::unique_ptr<sim::rt::RuntimeDevice> device;
    ASSERT_EQ(S_OK, adapter->createDevice(device));
    EXPECT_EQ(1u, calls("simumd_nv.dll", "CreateDevice", kNvidia));
    EXPECT_EQ(S_OK, device->destroy());

    machine().journal().clear();
    EXPECT_EQ(S_OK, adapter->close());
    EXPECT_EQ(1u, calls("simumd_intel.dll", "CloseAdapter", kIntel));
    EXPECT_EQ(1u, calls("simumd_nv.dll", "CloseAdapter", kNvidia));
    EXPECT_EQ(0u, sim::umd::counts().adapters);
    // The library's kernel adapter is closed with it; the runtime closed its own.
    EXPECT_EQ(0u, sim::Kernel::instance().counts().adapters);
    EXPECT_EQ(std::string::npos, adaptertest::log().find("Could not destroy adapter"));
}

TEST_F(Interposition, RuntimeHoldsTheRenderingDriversHandleAndANormalSessionReportsNoError) {
    install(sim::presets::defaultMachine());
    installDatabase({});
    installUserSettings();
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    machine().journal().clear();
    std::vector<uint8_t> caps(1024);
    EXPECT_EQ(S_OK, adapter->getCaps(D3DDDICAPS_GETD3D9CAPS, caps.data(), UINT(caps.size())));
    // The NVIDIA driver was called with the very handle the runtime holds.
    std::vector<sim::JournalEntry> rendering = machine().journal().find("simumd_nv.dll", "GetCaps");
    ASSERT_EQ(1u, rendering.size());
    EXPECT_EQ(
        0u, rendering[0].arguments.find("hAdapter=" + pointerText(adapter->driverAdapter()) + " "))
        << rendering[0].arguments;
    EXPECT_EQ(S_OK, adapter->close());
    EXPECT_EQ(std::string::npos, adaptertest::log().find("Error code")) << adaptertest::log();
}

TEST_F(Interposition, RuntimeIsToldTheLowerOfTheTwoDriversVersions) {
    install(sim::presets::defaultMachine());
    std::unique_ptr<RuntimeAdapter> current = open(kIntelExport);
    ASSERT_TRUE(current);
    EXPECT_EQ(UINT(D3D_UMD_INTERFACE_VERSION_WIN7), current->driverVersion());
    EXPECT_EQ(S_OK, current->close());

    // The rendering GPU's driver is older than the display's.
    sim::MachineDesc desc = sim::presets::defaultMachine();
    desc.gpus[kNvidia].umdFileName = "simumd_nv_vista.dll";
    install(desc);
    std::unique_ptr<RuntimeAdapter> older = open(kIntelExport);
    ASSERT_TRUE(older);
    EXPECT_EQ(2u, sim::umd::counts().adapters); // interposed, not forwarded
    EXPECT_EQ(UINT(D3D_UMD_INTERFACE_VERSION_VISTA), older->driverVersion());
    EXPECT_EQ(S_OK, older->close());
}

TEST_F(Interposition, GammaRampCapsReachOnlyThePresentingGpu) {
    install(sim::presets::defaultMachine());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    machine().journal().clear();
    DDIGAMMACAPS gamma = {};
    EXPECT_EQ(S_OK, adapter->getCaps(D3DDDICAPS_GETGAMMARAMPCAPS, &gamma, sizeof gamma));
    EXPECT_EQ(GAMMA_CAP_RGB256x3x16, gamma.GammaCaps);
    EXPECT_EQ(1u, calls("simumd_intel.dll", "GetCaps", kIntel));
    EXPECT_EQ(0u, calls("simumd_nv.dll", "GetCaps"));
}

TEST_F(Interposition, RenderingDriversMultisampleQueryIsServedByTheKernel) {
    install(sim::presets::defaultMachine());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    machine().journal().clear();
    DDIMULTISAMPLEQUALITYLEVELSDATA levels = {};
    levels.Format = D3DDDIFMT_X8R8G8B8;
    levels.MsType = D3DDDIMULTISAMPLE_TYPE(4);
    EXPECT_EQ(S_OK,
              adapter->getCaps(D3DDDICAPS_GETMULTISAMPLEQUALITYLEVELS, &levels, sizeof levels));
    EXPECT_EQ(4u, levels.QualityLevels); // the NVIDIA GPU's 4x method has four levels
    EXPECT_EQ(0u, calls("d3d9.dll", "GetMultisampleMethodListCb"));
    EXPECT_EQ(2u, calls("gdi32.dll", "D3DKMTGetMultisampleMethodList", kNvidia));
}

TEST_F(Interposition, UnknownAdapterHandleFailsTheCallWithAReport) {
    install(sim::presets::defaultMachine());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    D3DDDIARG_GETCAPS caps = {};
    UINT count = 0;
    caps.Type = D3DDDICAPS_GETFORMATCOUNT;
    caps.pData = &count;
    caps.DataSize = sizeof count;
    HANDLE bogus = reinterpret_cast<HANDLE>(uintptr_t(0xBAD0));
    EXPECT_EQ(E_FAIL, adapter->funcs().pfnGetCaps(bogus, &caps));
    EXPECT_EQ(E_FAIL, adapter->funcs().pfnCloseAdapter(bogus));
    EXPECT_EQ(2, reports("Error", 10888, "Could not find Adapter bad0!", "OpenAdapter.cpp:63"));
    EXPECT_EQ(S_OK, adapter->close());
}

// ---- The vendor gate ------------------------------------------------------------------------

using GpuMaker = sim::GpuDesc (*)();
const GpuMaker kIntelGpu = sim::presets::intelGpu;
const GpuMaker kNvGpu = sim::presets::nvidiaGpu;
const GpuMaker kAtiGpu = sim::presets::atiGpu;

struct GateCase {
    const char* name;
    GpuMaker display;  // the GPU that owns the display
    GpuMaker other;    // the GPU without a monitor, or null for none
    const char* entry; // export the runtime calls
    const char* allow; // allow_openadapter_on_non_intel_gpu, or null for no database
    bool passes;       // the gate lets the entry go on (it installs the quit watcher)
    bool interposed;   // both GPUs' drivers were opened and the runtime got the table
};

void PrintTo(const GateCase& c, std::ostream* os) {
    *os << c.name;
}

class VendorGate : public Interposition, public ::testing::WithParamInterface<GateCase> {};

TEST_P(VendorGate, DecidesWhetherTheLibraryTakesPart) {
    const GateCase& c = GetParam();
    install(displayAndOther(c.display, c.other));
    if (c.allow)
        installDatabase({{"allow_openadapter_on_non_intel_gpu", c.allow}});
    std::unique_ptr<RuntimeAdapter> adapter = open(exportOf(c.entry));
    ASSERT_TRUE(adapter);
    // Interposed: both GPUs' drivers hold an adapter. Forwarded: only the display's, which
    // the runtime then talks to directly.
    EXPECT_EQ(c.interposed ? 2u : 1u, sim::umd::counts().adapters);
    EXPECT_EQ(c.passes ? 1u : 0u, calls("user32.dll", "SetWindowsHookExA"));
    EXPECT_EQ(S_OK, adapter->close());
    EXPECT_EQ(0u, sim::umd::counts().adapters);
}

const char kIntelEntry[] = "OpenAdapter9DetourIntel";
const char kNvEntry[] = "OpenAdapter9DetourNV";
const char kAtiEntry[] = "OpenAdapter9DetourATI";

// Every configuration code with each export: the Intel export and machines whose display
// belongs to the discrete GPU (7, 8) are never gated; everything else needs the property at
// exactly 1.
const GateCase kGateCases[] = {
    {"IntelExportOnIntelNv", kIntelGpu, kNvGpu, kIntelEntry, nullptr, true, true},
    {"IntelExportNeverGated", kIntelGpu, kNvGpu, kIntelEntry, "0", true, true},
    {"NvExportOnIntelNvForwards", kIntelGpu, kNvGpu, kNvEntry, "0", false, false},
    {"NvExportOnIntelNvAllowed", kIntelGpu, kNvGpu, kNvEntry, "1", true, true},
    {"NvExportAllowOnlyByOne", kIntelGpu, kNvGpu, kNvEntry, "2", false, false},
    {"AtiExportOnIntelNvForwards", kIntelGpu, kNvGpu, kAtiEntry, "0", false, false},
    {"IntelExportOnIntelAti", kIntelGpu, kAtiGpu, kIntelEntry, "0", true, true},
    {"AtiExportOnIntelAtiForwards", kIntelGpu, kAtiGpu, kAtiEntry, "0", false, false},
    {"AtiExportOnIntelAtiAllowed", kIntelGpu, kAtiGpu, kAtiEntry, "1", true, true},
    {"NvExportOnNvIntelNotGated", kNvGpu, kIntelGpu, kNvEntry, "0", true, true},
    {"AtiExportOnNvIntelNotGated", kNvGpu, kIntelGpu, kAtiEntry, "0", true, true},
    {"IntelExportOnNvIntel", kNvGpu, kIntelGpu, kIntelEntry, "0", true, true},
    {"AtiExportOnAtiIntelNotGated", kAtiGpu, kIntelGpu, kAtiEntry, "0", true, true},
    {"NvExportOnAtiIntelNotGated", kAtiGpu, kIntelGpu, kNvEntry, "0", true, true},
    {"IntelExportOnAtiIntel", kAtiGpu, kIntelGpu, kIntelEntry, "0", true, true},
    {"NvExportOnNvNvForwards", kNvGpu, kNvGpu, kNvEntry, "0", false, false},
    {"NvExportOnNvNvAllowed", kNvGpu, kNvGpu, kNvEntry, "1", true, true},
    {"AtiExportOnAtiAtiForwards", kAtiGpu, kAtiGpu, kAtiEntry, "0", false, false},
    {"AtiExportOnAtiAtiAllowed", kAtiGpu, kAtiGpu, kAtiEntry, "1", true, true},
    {"NvExportOnNvAtiForwards", kNvGpu, kAtiGpu, kNvEntry, "0", false, false},
    {"NvExportOnNvAtiAllowed", kNvGpu, kAtiGpu, kNvEntry, "1", true, true},
    {"AtiExportOnAtiNvForwards", kAtiGpu, kNvGpu, kAtiEntry, "0", false, false},
    {"AtiExportOnAtiNvAllowed", kAtiGpu, kNvGpu, kAtiEntry, "1", true, true},
    {"NvExportOnOneGpuForwards", kIntelGpu, nullptr, kNvEntry, "0", false, false},
    // Through the gate, but with no second GPU to render on the entry forwards.
    {"IntelExportOnOneGpuPassesButForwards", kIntelGpu, nullptr, kIntelEntry, "0", true, false},
};

INSTANTIATE_TEST_SUITE_P(Exports, VendorGate, ::testing::ValuesIn(kGateCases),
                         [](const ::testing::TestParamInfo<GateCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(Interposition, IntelExportOnADisplayOwnedByNvidiaWarnsAndGoesOn) {
    install(sim::presets::nvidiaPrimary());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    EXPECT_EQ(1,
              reports("Warning", 11176, "Open adapter of non primary adapter", "Adapter9.cpp:179"));
    EXPECT_NE(std::string::npos, adaptertest::log().find("Condition: vendor == primVendor"));
    EXPECT_EQ(2u, sim::umd::counts().adapters);
    // The display's GPU presents, the other renders.
    machine().journal().clear();
    DDIGAMMACAPS gamma = {};
    EXPECT_EQ(S_OK, adapter->getCaps(D3DDDICAPS_GETGAMMARAMPCAPS, &gamma, sizeof gamma));
    // There the NVIDIA GPU is the machine's first GPU.
    EXPECT_EQ(1u, calls("simumd_nv.dll", "GetCaps", 0));
    EXPECT_EQ(0u, calls("simumd_intel.dll", "GetCaps"));
    EXPECT_EQ(S_OK, adapter->close());
}

// ---- The entry's process-wide state ---------------------------------------------------------

TEST_F(Interposition, OneQuitWatcherForAllEntriesAndThreads) {
    install(sim::presets::defaultMachine());
    std::unique_ptr<RuntimeAdapter> first = open(kIntelExport);
    std::unique_ptr<RuntimeAdapter> second;
    std::thread other([&] { second = open(kIntelExport); });
    other.join();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(1u, calls("user32.dll", "SetWindowsHookExA"));
    EXPECT_EQ(4u, sim::umd::counts().adapters);

    // The hook watches the first entry's thread and passes every message on.
    auto quitSeen = probe<BOOL (*)()>("vessaProbeQuitMessageSeen");
    ASSERT_NE(nullptr, quitSeen);
    MSG msg = {};
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(quitSeen());
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_QUIT, 0, 0));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(WM_QUIT, msg.message);
    EXPECT_TRUE(quitSeen());
    EXPECT_EQ(2u, calls("user32.dll", "CallNextHookEx"));

    EXPECT_EQ(S_OK, first->close());
    EXPECT_EQ(S_OK, second->close());
}

TEST_F(Interposition, FailedHookIsReportedAndTheOpenGoesOn) {
    install(sim::presets::defaultMachine());
    machine().faults().failNth("user32.dll", "SetWindowsHookExA", 1, 8 /* no memory */);
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    EXPECT_EQ(1, reports("Error", 10297, "SetWindowsHookEx for getting the WM_QUIT failed.",
                         "OpenAdapter9.cpp:233"));
    EXPECT_EQ(2u, sim::umd::counts().adapters);
    // The next entry tries again.
    std::unique_ptr<RuntimeAdapter> second = open(kIntelExport);
    EXPECT_EQ(2u, calls("user32.dll", "SetWindowsHookExA"));
}

TEST_F(Interposition, SleepOnStartupDelaysOnlyTheFirstEntryEvenWhenItForwards) {
    install(sim::presets::defaultMachine());
    installDatabase({{"sleep_on_startup", "1"}});
    std::unique_ptr<RuntimeAdapter> forwarded = open(kNvidiaExport);
    std::unique_ptr<RuntimeAdapter> interposed = open(kIntelExport);
    ASSERT_TRUE(forwarded && interposed);
    std::vector<sim::JournalEntry> sleeps = machine().journal().find("kernel32.dll", "Sleep");
    ASSERT_EQ(1u, sleeps.size());
    EXPECT_EQ("milliseconds=1000", sleeps[0].arguments);
}

TEST_F(Interposition, SleepOnStartupTooLongForMillisecondsSleepsTheLongestFiniteTime) {
    install(sim::presets::defaultMachine());
    installDatabase({{"sleep_on_startup", "5000000"}});
    // The entry sleeps for weeks: it runs on a thread of its own, which the end of the test
    // process takes down.
    std::thread([] {
        std::unique_ptr<RuntimeAdapter> adapter;
        RuntimeAdapter::openDisplay("", kNvidiaExport, adapter);
    }).detach();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (calls("kernel32.dll", "Sleep") == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<sim::JournalEntry> sleeps = machine().journal().find("kernel32.dll", "Sleep");
    ASSERT_EQ(1u, sleeps.size());
    EXPECT_EQ("milliseconds=4294967294", sleeps[0].arguments);
    EXPECT_EQ(1, reports("Warning", 0, "sleep_on_startup of 5000000 seconds is too long"));
}

// ---- Failed opens -------------------------------------------------------------------------

TEST_F(Interposition, FailedPrimaryOpenForwardsTheSameArguments) {
    install(sim::presets::defaultMachine());
    machine().faults().failNth("simumd_intel.dll", "OpenAdapter", 1, E_OUTOFMEMORY);
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    std::vector<sim::JournalEntry> opens =
        machine().journal().find("simumd_intel.dll", "OpenAdapter");
    ASSERT_EQ(2u, opens.size());
    EXPECT_EQ(E_OUTOFMEMORY, opens[0].result);
    EXPECT_EQ(S_OK, opens[1].result);
    EXPECT_EQ(opens[0].arguments, opens[1].arguments);
    EXPECT_EQ(0u, calls("simumd_nv.dll", "OpenAdapter"));
    // The runtime talks to the display's driver directly now.
    machine().journal().clear();
    std::vector<uint8_t> caps(1024);
    EXPECT_EQ(S_OK, adapter->getCaps(D3DDDICAPS_GETD3D9CAPS, caps.data(), UINT(caps.size())));
    EXPECT_EQ(1u, calls("simumd_intel.dll", "GetCaps", kIntel));
    EXPECT_EQ(S_OK, adapter->close());
}

TEST_F(Interposition, RuntimeReceivesTheForwardsFailure) {
    install(sim::presets::defaultMachine());
    machine().faults().failNth("simumd_intel.dll", "OpenAdapter", 1, E_OUTOFMEMORY, 2);
    std::unique_ptr<RuntimeAdapter> adapter;
    EXPECT_EQ(E_OUTOFMEMORY, RuntimeAdapter::openDisplay("", kIntelExport, adapter));
    EXPECT_EQ(0u, sim::umd::counts().adapters);
}

TEST_F(Interposition, FailedAuxiliaryOpenClosesEverythingAndForwards) {
    install(sim::presets::defaultMachine());
    machine().faults().failNth("simumd_nv.dll", "OpenAdapter", 1, E_FAIL);
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    EXPECT_EQ(1, reports("Error", 10211, "failed to open auxiliary adapter", "Adapter9.cpp:249"));
    // The display's driver was opened, closed again, and opened by the forward.
    EXPECT_EQ(2u, calls("simumd_intel.dll", "OpenAdapter", kIntel));
    EXPECT_EQ(1u, calls("simumd_intel.dll", "CloseAdapter", kIntel));
    EXPECT_EQ(1u, sim::umd::counts().adapters);
    // Only the runtime's own kernel adapter is left.
    EXPECT_EQ(1u, sim::Kernel::instance().counts().adapters);
    EXPECT_EQ(S_OK, adapter->close());
}

TEST_F(Interposition, FailedKernelOpenOfTheAuxiliaryGpuIsReportedAndForwards) {
    install(sim::presets::defaultMachine());
    // The enumerator opens each GPU once to read its address; arm after that.
    std::unique_ptr<RuntimeAdapter> first = open(kIntelExport);
    ASSERT_TRUE(first);
    ASSERT_EQ(S_OK, first->close());
    adaptertest::clearLog();
    machine().faults().failNth("gdi32.dll", "D3DKMTOpenAdapterFromDeviceName", 1,
                               int32_t(0xC000000Du), 1, kNvidia);
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    EXPECT_EQ(
        1, reports("Warning", 10968, "D3DKMTOpenAdapterFromDeviceName failed", "Adapter9.cpp:227"));
    EXPECT_EQ(1, reports("Error", 10211, "failed to open auxiliary adapter"));
    EXPECT_EQ(1u, sim::umd::counts().adapters);
    EXPECT_EQ(S_OK, adapter->close());
}

TEST_F(Interposition, MissingVendorDriverIsReportedAndNeverCalled) {
    sim::MachineDesc desc = sim::presets::defaultMachine();
    desc.gpus[kNvidia].umdFileName = "nvd3dumx_missing.dll";
    install(desc);
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter); // forwarded to the display's driver
    EXPECT_EQ(1,
              reports("Error", 0, "User-mode driver nvd3dumx_missing.dll of GPU 1 failed to load"));
    EXPECT_EQ(1, reports("Error", 10211, "failed to open auxiliary adapter"));
    EXPECT_EQ(1u, sim::umd::counts().adapters);
    EXPECT_EQ(0u, sim::Kernel::instance().counts().adapters - 1); // the runtime's own
}

TEST_F(Interposition, MissingDisplayDriverFailsTheOpenInsteadOfCallingNothing) {
    sim::MachineDesc desc = sim::presets::defaultMachine();
    desc.gpus[kIntel].umdFileName = "igdumd_missing.dll";
    install(desc);
    std::unique_ptr<RuntimeAdapter> adapter;
    EXPECT_EQ(E_FAIL, RuntimeAdapter::openDisplay("", kIntelExport, adapter));
    EXPECT_EQ(1, reports("Error", 0, "No vendor OpenAdapter to hand the adapter to"));
    EXPECT_EQ(0u, sim::umd::counts().adapters);
}

// ---- Formats ------------------------------------------------------------------------------

TEST_F(Interposition, TenBitFormatGainsDisplaySupportWhenTheDisplayListsItsModes) {
    install(tenBitDisplay());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    std::vector<FORMATOP> ops = formats(*adapter);
    const FORMATOP* tenBit = find(ops, kFormatA2R10G10B10);
    ASSERT_NE(nullptr, tenBit);
    EXPECT_EQ(0xC00u, tenBit->Operations & 0xC00u);
    // Only that format: the others stay as the rendering driver reported them.
    const FORMATOP* x1r5g5b5 = find(ops, D3DDDIFMT_X1R5G5B5);
    ASSERT_NE(nullptr, x1r5g5b5);
    EXPECT_EQ(0u, x1r5g5b5->Operations & 0xC00u);
    EXPECT_EQ(std::string::npos, adaptertest::log().find("AdapterFuncs_auto"));
}

TEST_F(Interposition, TenBitFormatStaysUnchangedWithoutSuchADisplayMode) {
    install(sim::presets::defaultMachine());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    std::vector<FORMATOP> ops = formats(*adapter);
    const FORMATOP* tenBit = find(ops, kFormatA2R10G10B10);
    ASSERT_NE(nullptr, tenBit);
    EXPECT_EQ(0u, tenBit->Operations & 0xC00u);
}

TEST_F(Interposition, DisplayTheKernelCannotOpenIsReportedAndTheFormatsAreStillAnswered) {
    install(tenBitDisplay());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    machine().faults().failNth("gdi32.dll", "D3DKMTOpenAdapterFromHdc", 1, int32_t(0xC0000001u));
    std::vector<FORMATOP> ops = formats(*adapter);
    EXPECT_EQ(1, reports("Warning", 0, "Cannot get VidPnSourceId of primary device", "utils.cpp"));
    EXPECT_NE(nullptr, find(ops, kFormatA2R10G10B10));
}

TEST_F(Interposition, FormatDataBeforeTheCountIsAnsweredButNotAdjusted) {
    install(tenBitDisplay());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    machine().journal().clear();
    std::vector<FORMATOP> ops = formats(*adapter, /*countFirst=*/false);
    EXPECT_EQ(1u, calls("simumd_nv.dll", "GetCaps", kNvidia));
    EXPECT_EQ(1, reports("Warning", 0, "Condition: formatCount", "AdapterFuncs_auto.cpp:77"));
    const FORMATOP* tenBit = find(ops, kFormatA2R10G10B10);
    ASSERT_NE(nullptr, tenBit);
    EXPECT_EQ(0u, tenBit->Operations & 0xC00u);
}

TEST_F(Interposition, FailingFormatCountKeepsThePreviousCount) {
    install(tenBitDisplay());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    UINT count = 0;
    ASSERT_EQ(S_OK, adapter->getCaps(D3DDDICAPS_GETFORMATCOUNT, &count, sizeof count));
    auto formatCount = probe<UINT (*)()>("vessaProbeFormatCount");
    ASSERT_NE(nullptr, formatCount);
    EXPECT_EQ(count, formatCount());

    machine().faults().failNth("simumd_nv.dll", "GetCaps", 1, E_FAIL);
    UINT failed = 0;
    EXPECT_EQ(E_FAIL, adapter->getCaps(D3DDDICAPS_GETFORMATCOUNT, &failed, sizeof failed));
    EXPECT_EQ(count, formatCount());

    std::vector<FORMATOP> ops = formats(*adapter, /*countFirst=*/false, count);
    const FORMATOP* tenBit = find(ops, kFormatA2R10G10B10);
    ASSERT_NE(nullptr, tenBit);
    EXPECT_EQ(0xC00u, tenBit->Operations & 0xC00u);
    EXPECT_EQ(std::string::npos, adaptertest::log().find("AdapterFuncs_auto"));
}

TEST_F(Interposition, FormatDataIsAdjustedOnlyWithinTheFormatCount) {
    install(tenBitDisplay());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    UINT count = 0;
    ASSERT_EQ(S_OK, adapter->getCaps(D3DDDICAPS_GETFORMATCOUNT, &count, sizeof count));
    // A buffer longer than the count: the records past it are the runtime's own, whatever
    // they happen to hold.
    std::vector<FORMATOP> data(count + 4);
    for (UINT i = count; i < data.size(); ++i)
        data[i].Format = D3DDDIFORMAT(kFormatA2R10G10B10);
    ASSERT_EQ(S_OK, adapter->getCaps(D3DDDICAPS_GETFORMATDATA, data.data(),
                                     UINT(data.size() * sizeof(FORMATOP))));
    std::vector<FORMATOP> answered(data.begin(), data.begin() + count);
    const FORMATOP* tenBit = find(answered, kFormatA2R10G10B10);
    ASSERT_NE(nullptr, tenBit);
    EXPECT_EQ(0xC00u, tenBit->Operations & 0xC00u);
    for (UINT i = count; i < data.size(); ++i)
        EXPECT_EQ(0u, data[i].Operations) << i;
}

// ---- Closing --------------------------------------------------------------------------------

TEST_F(Interposition, VendorCloseRefusingTheHandleIsNotReported) {
    install(sim::presets::defaultMachine());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    machine().faults().failNth("simumd_nv.dll", "CloseAdapter", 1, E_INVALIDARG);
    EXPECT_EQ(S_OK, adapter->close());
    EXPECT_EQ(std::string::npos, adaptertest::log().find("Could not destroy adapter"));
}

TEST_F(Interposition, OtherVendorCloseFailuresAreReportedAndTheCloseSucceeds) {
    install(sim::presets::defaultMachine());
    std::unique_ptr<RuntimeAdapter> adapter = open(kIntelExport);
    ASSERT_TRUE(adapter);
    machine().faults().failNth("simumd_nv.dll", "CloseAdapter", 1, E_FAIL);
    machine().faults().failNth("simumd_intel.dll", "CloseAdapter", 1, E_OUTOFMEMORY);
    EXPECT_EQ(S_OK, adapter->close());
    EXPECT_EQ(1, reports("Warning", 0, "on gpu:0", "Adapter9.cpp:130"));
    EXPECT_EQ(1, reports("Warning", 0, "on gpu:1", "Adapter9.cpp:141"));
    EXPECT_NE(std::string::npos,
              adaptertest::log().find(
                  "Condition: ((HRESULT)0L) == res || ((HRESULT)0x80070057L) == res"));
    EXPECT_EQ(0u, sim::Kernel::instance().counts().adapters);
}
