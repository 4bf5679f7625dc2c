// The machine description: presets, derived texts, consistency checks, the scenario format
// (with its example files), installation into the registry and root folder, and the PNG
// writer of the display.
#include "GpuTestSupport.h"

#include "sim/gpus/Display.h"
#include "sim/gpus/PngWriter.h"
#include "sim/gpus/ScenarioLoader.h"

#include <fstream>
#include <iterator>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

using sim::MachineDesc;
using sim::ScenarioLoader;

TEST(MachineDescTest, EveryPresetIsConsistent) {
    for (const std::string& name : sim::presets::names()) {
        MachineDesc m;
        ASSERT_TRUE(sim::presets::byName(name, m)) << name;
        EXPECT_EQ(m.validate(), "") << name;
    }
    MachineDesc m;
    EXPECT_FALSE(sim::presets::byName("no-such-machine", m));
}

TEST(MachineDescTest, DerivedTextsOfAGpu) {
    sim::GpuDesc g = sim::presets::nvidiaGpu();
    EXPECT_EQ(g.pciDeviceId(), "PCI\\VEN_10DE&DEV_0A29&SUBSYS_02151025&REV_A2");
    EXPECT_EQ(g.registryInterfacePath(),
              "\\\\?\\PCI#VEN_10DE&DEV_0A29&SUBSYS_02151025&REV_A2#4&2d3a6d5c&0&0008#"
              "{5b45201d-f2f2-4f3b-85bb-30ff1f953599}");
    EXPECT_EQ(g.adapterInterfaceName(),
              "\\\\?\\PCI#VEN_10DE&DEV_0A29&SUBSYS_02151025&REV_A2#4&2d3a6d5c&0&0008#"
              "{1CA05180-A699-450A-9A0C-DE4FBE3DDD89}");
    EXPECT_EQ(g.deviceKey(1), "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Video\\"
                              "{E5B0A8D2-91F4-4C6A-8B3E-5F07C2D194A6}\\0001");
}

struct InvalidCase {
    const char* what;
    void (*edit)(MachineDesc&);
    const char* expected;
};

void PrintTo(const InvalidCase& c, std::ostream* os) {
    *os << c.what;
}

class MachineValidateTest : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(MachineValidateTest, NamesTheProblem) {
    MachineDesc m = sim::presets::defaultMachine();
    GetParam().edit(m);
    EXPECT_NE(m.validate().find(GetParam().expected), std::string::npos) << m.validate();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MachineValidateTest,
    ::testing::Values(
        InvalidCase{"same id", [](MachineDesc& m) { m.gpus[1].id = "INTEL"; }, "used twice"},
        InvalidCase{"same bus",
                    [](MachineDesc& m) { m.gpus[1].busNumber = 0, m.gpus[1].deviceNumber = 2; },
                    "adapter address"},
        InvalidCase{"same luid", [](MachineDesc& m) { m.gpus[1].luidLow = m.gpus[0].luidLow; },
                    "LUID"},
        InvalidCase{"two primaries",
                    [](MachineDesc& m) { m.displays[1].stateFlags |= sim::kPrimaryDevice; },
                    "more than one"},
        InvalidCase{"detached primary",
                    [](MachineDesc& m) { m.displays[0].stateFlags = sim::kPrimaryDevice; },
                    "not attached"},
        InvalidCase{"no gpu", [](MachineDesc& m) { m.displays[2].gpu = 7; }, "names no GPU"},
        InvalidCase{"shared source", [](MachineDesc& m) { m.displays[1].vidPnSourceId = 0; },
                    "twice"},
        InvalidCase{"duplicate name",
                    [](MachineDesc& m) { m.displays[1].deviceName = "\\\\.\\display1"; },
                    "listed twice"},
        InvalidCase{"bad mode", [](MachineDesc& m) { m.gpus[0].modes[0].format = 99; },
                    "invalid display mode"}),
    [](const ::testing::TestParamInfo<InvalidCase>& info) {
        std::string name = info.param.what;
        for (char& c : name) {
            if (c == ' ')
                c = '_';
        }
        return name;
    });

std::string scenarioPath(const char* file) {
    return std::string(SIM_SCENARIO_DIR) + "/" + file;
}

TEST(ScenarioTest, TheFullyWrittenDefaultMachineEqualsThePreset) {
    MachineDesc loaded;
    std::string error;
    ASSERT_TRUE(
        ScenarioLoader::loadFile(scenarioPath("hybrid-intel-nvidia.scenario"), loaded, &error))
        << error;
    MachineDesc preset = sim::presets::defaultMachine();
    ASSERT_EQ(loaded.gpus.size(), preset.gpus.size());
    for (size_t i = 0; i < preset.gpus.size(); ++i) {
        const sim::GpuDesc& a = loaded.gpus[i];
        const sim::GpuDesc& b = preset.gpus[i];
        EXPECT_EQ(a.adapterInterfaceName(), b.adapterInterfaceName());
        EXPECT_EQ(a.deviceKey(0), b.deviceKey(0));
        EXPECT_EQ(a.busNumber, b.busNumber);
        EXPECT_EQ(a.luidLow, b.luidLow);
        EXPECT_EQ(a.umdFileName, b.umdFileName);
        EXPECT_EQ(a.modes, b.modes);
        EXPECT_EQ(a.multisampleMethods.size(), b.multisampleMethods.size());
    }
    ASSERT_EQ(loaded.displays.size(), preset.displays.size());
    for (size_t i = 0; i < preset.displays.size(); ++i) {
        EXPECT_EQ(loaded.displays[i].deviceName, preset.displays[i].deviceName);
        EXPECT_EQ(loaded.displays[i].stateFlags, preset.displays[i].stateFlags);
        EXPECT_EQ(loaded.displays[i].vidPnSourceId, preset.displays[i].vidPnSourceId);
        EXPECT_EQ(loaded.displays[i].currentMode, preset.displays[i].currentMode);
        EXPECT_EQ(loaded.displays[i].positionX, preset.displays[i].positionX);
    }
}

TEST(ScenarioTest, ExampleFilesLoadAndInstall) {
    for (const char* file :
         {"intel-nvidia-installed.scenario", "nvidia-primary-mirroring.scenario"}) {
        MachineDesc m;
        std::string error;
        ASSERT_TRUE(ScenarioLoader::loadFile(scenarioPath(file), m, &error)) << error;
        EXPECT_TRUE(sim::installMachine(m, &error)) << error;
    }
}

TEST(ScenarioTest, BaseMachineIsEditedAndRegistryAndFilesAreInstalled) {
    const char* text = "[machine]\n"
                       "base = default\n"
                       "[gpu nvidia]\n"
                       "umd = other_umd.dll\n"
                       "bus = 5\n"
                       "[display \\\\.\\DISPLAY4]\n"
                       "gpu = nvidia\n"
                       "[registry HKLM\\SOFTWARE\\Quorvex\\VessaDriver]\n"
                       "InstallDirectory = sz:C:\\Vessa\n"
                       "Flags = dword:0x10\n"
                       "[file C:\\Users\\player\\Quorvex\\vessaloader.ini]\n"
                       "| [General]\n"
                       "|   Indented=1\n";
    MachineDesc m;
    std::string error;
    ASSERT_TRUE(ScenarioLoader::loadText(text, "edit", m, &error)) << error;
    EXPECT_EQ(m.gpus[1].umdFileName, "other_umd.dll");
    EXPECT_EQ(m.gpus[1].busNumber, 5u);
    ASSERT_EQ(m.displays.size(), 4u);
    EXPECT_EQ(m.displays[3].vidPnSourceId, 1u); // the NVIDIA GPU's second source
    simtest::install(m);

    sim::Machine& machine = sim::Machine::instance();
    sim::RegistryValue value;
    ASSERT_TRUE(
        machine.registry().getValue(u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver", u"Flags", value));
    EXPECT_EQ(value.type, 4u);
    EXPECT_EQ(value.data[0], 0x10);
    ASSERT_TRUE(machine.registry().getValue(u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver",
                                            u"InstallDirectory", value));
    EXPECT_EQ(value.type, 1u);
    std::string content;
    ASSERT_TRUE(machine.root().readFile(u"c:\\users\\player\\quorvex\\vessaloader.ini", content));
    EXPECT_EQ(content, "[General]\n  Indented=1\n");
    // Each display device key leads to the interface name of its GPU.
    std::u16string key = sim::fromUtf8(m.gpus[1].deviceKey(1) + "\\VolatileSettings");
    ASSERT_TRUE(machine.registry().getValue(key, u"{5b45201d-f2f2-4f3b-85bb-30ff1f953599}", value));
    EXPECT_EQ(value.type, 3u);
    EXPECT_EQ(value.data, sim::utf16Bytes(m.gpus[1].registryInterfacePath(), false));
}

// An installation copies built modules into the product's folder and points the registry
// at it, as the installer leaves a user's machine; a module the build lacks fails the
// installation with its name.
TEST(ScenarioTest, InstallSectionCopiesModulesAndWritesTheRegistryValue) {
    const char* text = "[machine]\n"
                       "base = default\n"
                       "[install C:\\Program Files\\Quorvex\\Vessa]\n"
                       "files = winmm.dll USER32.dll\n"
                       "registry = HKLM\\SOFTWARE\\Quorvex\\VessaDriver\\InstallDirectory\n";
    MachineDesc m;
    std::string error;
    ASSERT_TRUE(ScenarioLoader::loadText(text, "install", m, &error)) << error;
    simtest::install(m);
    sim::Machine& machine = sim::Machine::instance();
    for (const char* name : {"winmm.dll", "USER32.dll"}) {
        std::string copy;
        std::string built;
        ASSERT_TRUE(machine.root().readFile(
            u"C:\\Program Files\\Quorvex\\Vessa\\" + sim::fromUtf8(name), copy))
            << name;
        std::ifstream original(machine.modules().find(name), std::ios::binary);
        built.assign(std::istreambuf_iterator<char>(original), {});
        EXPECT_FALSE(copy.empty());
        EXPECT_EQ(copy, built) << name;
    }
    sim::RegistryValue value;
    ASSERT_TRUE(machine.registry().getValue(u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver",
                                            u"InstallDirectory", value));
    EXPECT_EQ(value.type, 1u);
    EXPECT_EQ(value.data, sim::utf16Bytes("C:\\Program Files\\Quorvex\\Vessa", true));

    m.installs[0].files.push_back("not_built.dll");
    EXPECT_FALSE(sim::installMachine(m, &error));
    EXPECT_NE(error.find("cannot install not_built.dll"), std::string::npos) << error;
    simtest::install(sim::presets::defaultMachine());
}

TEST(ScenarioTest, InstallingReplacesTheVideoKeysOfThePreviousMachine) {
    simtest::install(sim::presets::defaultMachine());
    std::u16string nvidiaKey = sim::fromUtf8(sim::presets::nvidiaGpu().deviceKey(0));
    EXPECT_TRUE(sim::Machine::instance().registry().keyExists(nvidiaKey));
    simtest::install(sim::presets::oneGpu());
    EXPECT_FALSE(sim::Machine::instance().registry().keyExists(nvidiaKey));
}

struct BadScenario {
    const char* text;
    const char* expected; ///< "name:line: message" prefix or fragment
};

void PrintTo(const BadScenario& c, std::ostream* os) {
    *os << c.expected;
}

class ScenarioErrorTest : public ::testing::TestWithParam<BadScenario> {};

TEST_P(ScenarioErrorTest, ReportsTheLine) {
    MachineDesc m;
    std::string error;
    EXPECT_FALSE(ScenarioLoader::loadText(GetParam().text, "bad", m, &error));
    EXPECT_NE(error.find(GetParam().expected), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScenarioErrorTest,
    ::testing::Values(
        BadScenario{"key = value\n", "bad:1: 'key = value' before the first [section]"},
        BadScenario{"[gpu a\n", "bad:1: section header without ']'"},
        BadScenario{"# note\n[gpu a]\nvendor = 0x8086\nvendr = 1\n",
                    "bad:4: unknown GPU key 'vendr'"},
        BadScenario{"[gpu a]\nbus = one\n", "bad:2: bad value 'one' for 'bus'"},
        BadScenario{"[gpu a]\nmodes = 640x480@60 640y480\n", "bad:2: bad value"},
        BadScenario{"[gpu a]\nvideo-guid = {x}\n[display \\\\.\\DISPLAY1]\ngpu = b\n",
                    "bad:4: no GPU named 'b'"},
        BadScenario{"[gpu a]\nvideo-guid = {x}\n[display \\\\.\\DISPLAY1]\nstate = on\n",
                    "bad:4: bad value 'on' for 'state'"},
        BadScenario{"[display \\\\.\\DISPLAY1]\nstate = attached\n",
                    "bad:1: display device '\\\\.\\DISPLAY1' needs 'gpu = <id>'"},
        BadScenario{"[gpu a]\nvideo-guid = {x}\n[machine]\nbase = default\n",
                    "bad:3: [machine] must be the first section"},
        BadScenario{"[machine]\nbase = laptop\n", "bad:2: unknown base machine 'laptop'"},
        BadScenario{"[registry HKLM\\x]\nv = qword:1\n", "bad:2: bad registry value"},
        BadScenario{"[file c:\\a.txt]\nkey = v\n", "bad:2: file lines start with '|'"},
        BadScenario{"| text\n", "bad:1: '|' lines belong to a [file] section"},
        BadScenario{"[install C:\\V]\nfiles = a.dll ..\\b.dll\n",
                    "bad:2: install file '..\\b.dll' must be a bare module name"},
        BadScenario{"[install C:\\V]\nregistry = InstallDirectory\n",
                    "bad:2: install registry wants <key>\\<value name>"},
        BadScenario{"[install C:\\V]\nfolder = x\n", "bad:2: unknown install key 'folder'"},
        BadScenario{"[install]\n", "bad:1: section [install] needs a name"},
        BadScenario{"[weather sunny]\n", "bad:1: unknown section kind 'weather'"},
        BadScenario{"[gpu]\n", "bad:1: section [gpu] needs a name"},
        BadScenario{"[machine]\nbase = default\n[display \\\\.\\DISPLAY2]\nstate = primary\n",
                    "more than one display device is primary"},
        BadScenario{"just words\n", "bad:1: expected 'key = value'"}));

TEST(ScenarioTest, OtherPartsCanDefineSectionKinds) {
    ScenarioLoader::registerSection(
        "app", [](const std::string& title, const std::vector<sim::ScenarioEntry>& entries,
                  MachineDesc& machine, std::string& error, size_t& line) {
            for (const sim::ScenarioEntry& e : entries) {
                if (e.key != "exe") {
                    error = "unknown app key";
                    line = e.line;
                    return false;
                }
                machine.addFile(e.value, title);
            }
            return true;
        });
    MachineDesc m;
    std::string error;
    EXPECT_TRUE(ScenarioLoader::loadText("[app game]\nexe = c:\\game.exe\n", "ok", m, &error))
        << error;
    ASSERT_EQ(m.files.size(), 1u);
    EXPECT_FALSE(ScenarioLoader::loadText("[app game]\nexe = x\nrun = y\n", "app", m, &error));
    EXPECT_EQ(error, "app:3: unknown app key");
}

TEST(ScenarioTest, UnknownSectionKindsCanBeSkipped) {
    const char* text = "[machine]\nbase = one-gpu\n[weather today]\nsky = blue\n";
    MachineDesc m;
    std::string error;
    EXPECT_FALSE(ScenarioLoader::loadText(text, "s", m, &error));
    ASSERT_TRUE(
        ScenarioLoader::loadText(text, "s", m, &error, ScenarioLoader::UnknownSections::Skip))
        << error;
    EXPECT_EQ(m.gpus.size(), 1u);
    // Skipped sections still have to be well-formed.
    EXPECT_FALSE(ScenarioLoader::loadText("[weather today]\nsunny\n", "s", m, &error,
                                          ScenarioLoader::UnknownSections::Skip));
}

TEST(ScenarioTest, MissingFileIsReported) {
    MachineDesc m;
    std::string error;
    EXPECT_FALSE(ScenarioLoader::loadFile("/nonexistent/x.scenario", m, &error));
    EXPECT_NE(error.find("cannot open scenario file"), std::string::npos);
}

// The start-up machine comes from VESSA_SCENARIO when the library loads, so it is checked in
// a child process of this test executable.
TEST(StartMachineTest, ChildSeesTheScenarioOfItsEnvironment) {
    const char* expected = getenv("SIMGPU_EXPECT_DISPLAYS");
    if (!expected)
        GTEST_SKIP() << "runs as the child of ScenarioTest.StartMachine*";
    std::shared_ptr<const MachineDesc> pMachine = sim::installedMachine();
    EXPECT_EQ(pMachine->displays.size(), size_t(atoi(expected)));
}

int runChild(const std::string& scenario, int displays, std::string& output) {
    std::string command = "VESSA_SCENARIO='" + scenario +
                          "' SIMGPU_EXPECT_DISPLAYS=" + std::to_string(displays) + " /proc/" +
                          std::to_string(getpid()) + "/exe --gtest_filter=StartMachineTest.* 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    return pclose(pipe);
}

TEST(ScenarioTest, StartMachineComesFromTheScenarioVariable) {
    std::string output;
    EXPECT_EQ(runChild(scenarioPath("nvidia-primary-mirroring.scenario"), 3, output), 0) << output;
}

TEST(ScenarioTest, StartMachineSkipsSectionsOfPartsNotLoadedYet) {
    std::string path = testing::TempDir() + "simgpu-start-" + std::to_string(getpid());
    FILE* pFile = fopen(path.c_str(), "w");
    ASSERT_NE(pFile, nullptr);
    fputs("[machine]\nbase = one-gpu\n[later-part game]\nframes = 3\n", pFile);
    fclose(pFile);
    std::string output;
    EXPECT_EQ(runChild(path, 1, output), 0) << output;
    remove(path.c_str());
}

TEST(ScenarioTest, UnreadableStartScenarioIsReportedAndTheDefaultMachineUsed) {
    std::string output;
    EXPECT_EQ(runChild("/nonexistent/start.scenario", 3, output), 0) << output;
    EXPECT_NE(output.find("simulated machine: cannot open scenario file /nonexistent/"),
              std::string::npos)
        << output;
}

TEST(PngWriterTest, RoundTripKeepsEveryPixel) {
    sim::Image image;
    image.width = 7;
    image.height = 3;
    for (uint32_t i = 0; i < 21; ++i)
        image.pixels.push_back(0x80000000u | (i * 0x0A0B0C));
    std::string path = testing::TempDir() + "simgpu-roundtrip-" + std::to_string(getpid());
    std::string error;
    ASSERT_TRUE(sim::PngWriter::write(path + "-a.png", image, true, &error)) << error;
    sim::Image back;
    ASSERT_TRUE(sim::PngWriter::read(path + "-a.png", back, &error)) << error;
    EXPECT_EQ(back.width, 7u);
    EXPECT_EQ(back.pixels, image.pixels);

    // Without alpha the colours stay and alpha reads back opaque.
    ASSERT_TRUE(sim::PngWriter::write(path + "-x.png", image, false, &error)) << error;
    ASSERT_TRUE(sim::PngWriter::read(path + "-x.png", back, &error)) << error;
    EXPECT_EQ(back.at(4, 2), 0xFF000000u | (18 * 0x0A0B0Cu));
    remove((path + "-a.png").c_str());
    remove((path + "-x.png").c_str());

    EXPECT_FALSE(sim::PngWriter::write("/nonexistent/dir/x.png", image, false, &error));
    EXPECT_FALSE(error.empty());
    sim::Image empty;
    EXPECT_FALSE(sim::PngWriter::write(path + "-e.png", empty, false, &error));
    EXPECT_FALSE(sim::PngWriter::read("/nonexistent/x.png", back, &error));
}

TEST(DisplayTest, ConvertsSixteenBitFramesAndKeepsABoundedNumberOfThem) {
    const uint16_t rows[2][2] = {{0xF800, 0x07E0}, {0x001F, 0xFFFF}};
    sim::Image image;
    ASSERT_TRUE(sim::convertToImage(reinterpret_cast<const uint8_t*>(rows), 4, 2, 2,
                                    sim::kFormatR5G6B5, image));
    EXPECT_EQ(image.at(0, 0), 0xFFFF0000u);
    EXPECT_EQ(image.at(1, 0), 0xFF00FF00u);
    EXPECT_EQ(image.at(0, 1), 0xFF0000FFu);
    EXPECT_EQ(image.at(1, 1), 0xFFFFFFFFu);
    EXPECT_FALSE(sim::convertToImage(reinterpret_cast<const uint8_t*>(rows), 2, 2, 2,
                                     sim::kFormatX8R8G8B8, image)); // pitch too small

    sim::Display& display = sim::Display::instance();
    display.clear();
    display.setKeepLimit(2);
    for (int i = 0; i < 5; ++i) {
        sim::ScanOut s;
        s.gpu = 0;
        s.timeNs = uint64_t(i);
        s.image = image;
        display.record(s);
    }
    EXPECT_EQ(display.count(0, 0), 5u);
    EXPECT_EQ(display.kept(0, 0).size(), 2u);
    EXPECT_EQ(display.kept(0, 0).front().timeNs, 3u);
    EXPECT_EQ(display.times(0, 0).size(), 5u);
    std::string path = testing::TempDir() + "simgpu-last-" + std::to_string(getpid()) + ".png";
    EXPECT_TRUE(display.writeLastPng(0, 0, path));
    EXPECT_FALSE(display.writeLastPng(1, 0, path));
    remove(path.c_str());
    std::string error;
    EXPECT_EQ(display.writeKeptPngs(testing::TempDir(), &error), 2u) << error;
    for (const sim::ScanOut& s : display.kept(0, 0)) {
        char name[96];
        snprintf(name, sizeof name, "gpu0-source0-%06llu.png",
                 static_cast<unsigned long long>(s.sequence));
        sim::Image back;
        EXPECT_TRUE(sim::PngWriter::read(testing::TempDir() + name, back)) << name;
        EXPECT_EQ(back.pixels, image.pixels);
        remove((testing::TempDir() + name).c_str());
    }
    EXPECT_EQ(display.writeKeptPngs("/nonexistent/dir", &error), 0u);
    display.setKeepLimit(16);
}

} // namespace
