// The ready-made machines.
#include "sim/gpus/Presets.h"

#include <utility>

namespace sim {
namespace presets {

namespace {

std::vector<DisplayMode> laptopModes() {
    return {{1280, 800, kFormatX8R8G8B8, 60}, {1024, 768, kFormatX8R8G8B8, 60},
            {800, 600, kFormatX8R8G8B8, 60},  {640, 480, kFormatX8R8G8B8, 60},
            {1280, 800, kFormatR5G6B5, 60},   {1024, 768, kFormatR5G6B5, 60}};
}

// The private blob every simulated kernel driver hands its user-mode driver:
// vendor id, device id, then the video memory size in MiB, all 32-bit little endian.
std::vector<uint8_t> privateData(uint32_t vendor, uint32_t device, uint64_t memory) {
    std::vector<uint8_t> out;
    for (uint32_t v : {vendor, device, uint32_t(memory >> 20)}) {
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(uint8_t(v >> shift));
    }
    return out;
}

GpuDesc discrete(GpuDesc g) {
    g.modes = laptopModes();
    g.multisampleMethods = {{1, 1}, {2, 2}, {4, 4}, {8, 2}};
    g.umdPrivateData = privateData(g.vendorId, g.deviceId, g.videoMemory);
    return g;
}

} // namespace

GpuDesc intelGpu() {
    GpuDesc g;
    g.id = "intel";
    g.name = "Intel(R) HD Graphics";
    g.vendorId = kVendorIntel;
    g.deviceId = 0x0046;
    g.subsysId = 0x02151025;
    g.revision = 0x02;
    g.busNumber = 0;
    g.deviceNumber = 2;
    g.functionNumber = 0;
    g.luidLow = 0x0000C4A1;
    g.umdFileName = "simumd_intel.dll";
    g.videoGuid = "{7A1C4E9B-3D52-4B8F-A6E0-21C93F5D8B74}";
    g.instance = "3&21436425&0&10";
    g.modes = laptopModes();
    g.multisampleMethods = {{1, 1}, {4, 1}};
    g.videoMemory = 128u << 20;
    g.umdPrivateData = privateData(g.vendorId, g.deviceId, g.videoMemory);
    return g;
}

GpuDesc nvidiaGpu() {
    GpuDesc g;
    g.id = "nvidia";
    g.name = "NVIDIA GeForce GT 330M";
    g.vendorId = kVendorNvidia;
    g.deviceId = 0x0A29;
    g.subsysId = 0x02151025;
    g.revision = 0xA2;
    g.busNumber = 1;
    g.luidLow = 0x0000D3F7;
    g.umdFileName = "simumd_nv.dll";
    g.videoGuid = "{E5B0A8D2-91F4-4C6A-8B3E-5F07C2D194A6}";
    g.instance = "4&2d3a6d5c&0&0008";
    g.videoMemory = 512u << 20;
    return discrete(g);
}

GpuDesc atiGpu() {
    GpuDesc g;
    g.id = "ati";
    g.name = "ATI Mobility Radeon HD 5650";
    g.vendorId = kVendorAti;
    g.deviceId = 0x68C1;
    g.subsysId = 0x04341025;
    g.revision = 0x00;
    g.busNumber = 1;
    g.luidLow = 0x0000D402;
    g.umdFileName = "simumd_ati.dll";
    g.videoGuid = "{2C6F9D41-7E08-4A3B-B5C2-9D81E4F06A37}";
    g.instance = "4&1f7c0e2a&0&0008";
    g.videoMemory = 1024u << 20;
    return discrete(g);
}

MachineDesc defaultMachine() {
    MachineDesc m;
    int intel = m.addGpu(intelGpu());
    int nvidia = m.addGpu(nvidiaGpu());
    m.addOutput(intel, true, {1280, 800, kFormatX8R8G8B8, 60});
    m.addOutput(intel, false, {1024, 768, kFormatX8R8G8B8, 60});
    m.addInactive(nvidia);
    return m;
}

MachineDesc intelAti() {
    MachineDesc m;
    int intel = m.addGpu(intelGpu());
    int ati = m.addGpu(atiGpu());
    m.addOutput(intel, true, {1280, 800, kFormatX8R8G8B8, 60});
    m.addOutput(intel, false, {1024, 768, kFormatX8R8G8B8, 60});
    m.addInactive(ati);
    return m;
}

MachineDesc nvidiaPrimary() {
    MachineDesc m;
    GpuDesc nv = nvidiaGpu();
    nv.busNumber = 0;
    nv.deviceNumber = 0;
    GpuDesc intel = intelGpu();
    intel.busNumber = 1;
    int nvidia = m.addGpu(nv);
    int in = m.addGpu(intel);
    m.addOutput(nvidia, true, {1280, 800, kFormatX8R8G8B8, 60});
    m.addInactive(in);
    return m;
}

MachineDesc nvidiaListedFirst() {
    MachineDesc m;
    int intel = m.addGpu(intelGpu());
    int nvidia = m.addGpu(nvidiaGpu());
    m.addInactive(nvidia);
    m.addOutput(intel, true, {1280, 800, kFormatX8R8G8B8, 60});
    m.addOutput(intel, false, {1024, 768, kFormatX8R8G8B8, 60});
    return m;
}

MachineDesc oneGpu() {
    MachineDesc m;
    int intel = m.addGpu(intelGpu());
    m.addOutput(intel, true, {1280, 800, kFormatX8R8G8B8, 60});
    return m;
}

MachineDesc fiveGpus() {
    MachineDesc m = defaultMachine();
    const char* ids[] = {"nvidia2", "ati2", "nvidia3"};
    for (int i = 0; i < 3; ++i) {
        GpuDesc g = (i % 2 == 0) ? atiGpu() : nvidiaGpu();
        if (i == 0)
            g.id = "ati";
        else
            g.id = ids[i - 1];
        g.busNumber = uint32_t(2 + i);
        g.luidLow += uint32_t(0x100 * (i + 1));
        g.videoGuid[1] = char('0' + i);
        g.instance[2] = char('a' + i);
        m.addInactive(m.addGpu(g));
    }
    return m;
}

MachineDesc mirroringDriver() {
    MachineDesc m;
    int intel = m.addGpu(intelGpu());
    int nvidia = m.addGpu(nvidiaGpu());
    m.addOutput(intel, true, {1280, 800, kFormatX8R8G8B8, 60});
    m.addOutput(intel, false, {1024, 768, kFormatX8R8G8B8, 60});
    m.addMirror("Remote Display Mirror Driver").stateFlags |= kAttachedToDesktop;
    m.addInactive(nvidia);
    return m;
}

MachineDesc monitorOnEveryGpu() {
    MachineDesc m;
    int intel = m.addGpu(intelGpu());
    int nvidia = m.addGpu(nvidiaGpu());
    m.addOutput(intel, true, {1280, 800, kFormatX8R8G8B8, 60});
    m.addOutput(intel, false, {1024, 768, kFormatX8R8G8B8, 60});
    m.addOutput(nvidia, false, {1280, 800, kFormatX8R8G8B8, 60});
    return m;
}

namespace {
struct Named {
    const char* name;
    MachineDesc (*make)();
};
const Named kPresets[] = {
    {"default", defaultMachine},
    {"intel-ati", intelAti},
    {"nvidia-primary", nvidiaPrimary},
    {"nvidia-listed-first", nvidiaListedFirst},
    {"one-gpu", oneGpu},
    {"five-gpus", fiveGpus},
    {"mirroring-driver", mirroringDriver},
    {"monitor-on-every-gpu", monitorOnEveryGpu},
    {"empty", [] { return MachineDesc(); }},
};
} // namespace

std::vector<std::string> names() {
    std::vector<std::string> out;
    for (const Named& n : kPresets)
        out.push_back(n.name);
    return out;
}

bool byName(const std::string& name, MachineDesc& out) {
    for (const Named& n : kPresets) {
        if (name == n.name) {
            out = n.make();
            return true;
        }
    }
    return false;
}

} // namespace presets
} // namespace sim
