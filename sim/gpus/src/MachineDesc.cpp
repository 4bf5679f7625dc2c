// Derived texts and consistency checks of a machine description.
#include "sim/gpus/MachineDesc.h"

#include <algorithm>
#include <set>
#include <stdarg.h>
#include <stdio.h>
#include <utility>

namespace sim {

namespace {

const char* const kVideoKeyPrefix =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Video\\";
const char* const kMonitorInterfaceClass = "{5b45201d-f2f2-4f3b-85bb-30ff1f953599}";
const char* const kAdapterInterfaceClass = "{1CA05180-A699-450A-9A0C-DE4FBE3DDD89}";

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

} // namespace

uint32_t formatBitsPerPixel(uint32_t format) {
    switch (format) {
    case 20: // R8G8B8
        return 24;
    case kFormatA8R8G8B8:
    case kFormatX8R8G8B8:
    case 31: // A2B10G10R10
    case 32: // A8B8G8R8
    case 33: // X8B8G8R8
    case 35: // A2R10G10B10
        return 32;
    case kFormatR5G6B5:
    case 24: // X1R5G5B5
    case 25: // A1R5G5B5
        return 16;
    default:
        return 0;
    }
}

std::string GpuDesc::pciDeviceId() const {
    return format("PCI\\VEN_%04X&DEV_%04X&SUBSYS_%08X&REV_%02X", vendorId, deviceId, subsysId,
                  revision);
}

std::string GpuDesc::registryInterfacePath() const {
    std::string pci = format("PCI#VEN_%04X&DEV_%04X&SUBSYS_%08X&REV_%02X", vendorId, deviceId,
                             subsysId, revision);
    return "\\\\?\\" + pci + "#" + instance + "#" + kMonitorInterfaceClass;
}

std::string GpuDesc::adapterInterfaceName() const {
    std::string path = registryInterfacePath();
    return path.substr(0, path.rfind('#')) + "#" + kAdapterInterfaceClass;
}

std::string GpuDesc::deviceKey(uint32_t index) const {
    return kVideoKeyPrefix + videoGuid + format("\\%04u", index);
}

int MachineDesc::findGpu(const std::string& id) const {
    for (size_t i = 0; i < gpus.size(); ++i) {
        if (equalNoCase(gpus[i].id, id))
            return static_cast<int>(i);
    }
    return -1;
}

int MachineDesc::findDisplay(const std::string& deviceName) const {
    for (size_t i = 0; i < displays.size(); ++i) {
        if (equalNoCase(displays[i].deviceName, deviceName))
            return static_cast<int>(i);
    }
    return -1;
}

int MachineDesc::addGpu(GpuDesc gpu) {
    gpus.push_back(std::move(gpu));
    return static_cast<int>(gpus.size()) - 1;
}

DisplayDeviceDesc& MachineDesc::addOutput(int gpu, bool primary, DisplayMode mode) {
    DisplayDeviceDesc& d = addInactive(gpu);
    d.stateFlags = kAttachedToDesktop | (primary ? kPrimaryDevice : 0);
    d.currentMode = mode;
    if (!primary) {
        // Extend the desktop to the right of everything attached so far.
        int32_t right = 0;
        for (const DisplayDeviceDesc& other : displays) {
            if (&other != &d && other.attached())
                right = std::max(right, other.positionX + int32_t(other.currentMode.width));
        }
        d.positionX = right;
    }
    return d;
}

DisplayDeviceDesc& MachineDesc::addInactive(int gpu) {
    DisplayDeviceDesc d;
    d.gpu = gpu;
    d.vidPnSourceId = 0;
    for (const DisplayDeviceDesc& other : displays) {
        if (other.gpu == gpu)
            ++d.vidPnSourceId;
    }
    uint32_t number = 1;
    for (const DisplayDeviceDesc& other : displays) {
        if (!other.mirroring())
            ++number;
    }
    d.deviceName = format("\\\\.\\DISPLAY%u", number);
    if (gpu >= 0 && gpu < int(gpus.size()) && !gpus[gpu].modes.empty())
        d.currentMode = gpus[gpu].modes.front();
    displays.push_back(d);
    return displays.back();
}

DisplayDeviceDesc& MachineDesc::addMirror(const std::string& text) {
    uint32_t number = 1;
    for (const DisplayDeviceDesc& other : displays) {
        if (other.mirroring())
            ++number;
    }
    DisplayDeviceDesc d;
    d.gpu = -1;
    d.deviceName = format("\\\\.\\DISPLAYV%u", number);
    d.stateFlags = kMirroringDriver;
    d.mirrorString = text;
    d.mirrorDeviceId = "";
    d.mirrorDeviceKey = std::string(kVideoKeyPrefix) +
                        format("{D6F2B1A3-5C7E-4A1B-9E3D-%012X}\\0000", 0x4D4952u + number);
    displays.push_back(d);
    return displays.back();
}

uint32_t MachineDesc::sourceCount(int gpu) const {
    uint32_t count = 0;
    for (const DisplayDeviceDesc& d : displays) {
        if (d.gpu == gpu)
            count = std::max(count, d.vidPnSourceId + 1);
    }
    return count == 0 ? 1 : count;
}

bool MachineDesc::activeSource(int gpu, uint32_t vidPnSourceId) const {
    const DisplayDeviceDesc* pDisplay = display(gpu, vidPnSourceId);
    return pDisplay && pDisplay->attached();
}

const DisplayDeviceDesc* MachineDesc::display(int gpu, uint32_t vidPnSourceId) const {
    for (const DisplayDeviceDesc& d : displays) {
        if (d.gpu == gpu && d.vidPnSourceId == vidPnSourceId && !d.mirroring())
            return &d;
    }
    return nullptr;
}

const DisplayDeviceDesc* MachineDesc::primaryDisplay() const {
    for (const DisplayDeviceDesc& d : displays) {
        if (d.primary() && !d.mirroring())
            return &d;
    }
    return nullptr;
}

std::string MachineDesc::deviceKeyOf(const DisplayDeviceDesc& d) const {
    if (d.mirroring() || d.gpu < 0 || d.gpu >= int(gpus.size()))
        return d.mirrorDeviceKey;
    return gpus[d.gpu].deviceKey(d.vidPnSourceId);
}

std::string MachineDesc::validate() const {
    std::set<std::string> ids;
    std::set<std::pair<uint64_t, uint32_t>> addresses;
    std::set<std::pair<uint32_t, int32_t>> luids;
    for (size_t i = 0; i < gpus.size(); ++i) {
        const GpuDesc& g = gpus[i];
        std::string lower;
        for (char c : g.id)
            lower += lowerAscii(c);
        if (g.id.empty())
            return format("GPU %zu has no id", i);
        if (!ids.insert(lower).second)
            return format("GPU id '%s' is used twice", g.id.c_str());
        if (g.videoGuid.empty())
            return format("GPU '%s' has no video key GUID", g.id.c_str());
        uint64_t busDevice = (uint64_t(g.busNumber) << 32) | g.deviceNumber;
        if (!addresses.insert({busDevice, g.functionNumber}).second)
            return format("GPU '%s' has the adapter address of another GPU", g.id.c_str());
        if (!luids.insert({g.luidLow, g.luidHigh}).second)
            return format("GPU '%s' has the LUID of another GPU", g.id.c_str());
        if (g.nodeCount == 0)
            return format("GPU '%s' has no engine (nodes = 0)", g.id.c_str());
        for (const DisplayMode& m : g.modes) {
            if (m.width == 0 || m.height == 0 || formatBitsPerPixel(m.format) == 0)
                return format("GPU '%s' has an invalid display mode %ux%u format %u", g.id.c_str(),
                              m.width, m.height, m.format);
        }
    }
    std::set<std::string> names;
    std::set<std::pair<int, uint32_t>> sources;
    int primaries = 0;
    for (const DisplayDeviceDesc& d : displays) {
        std::string lower;
        for (char c : d.deviceName)
            lower += lowerAscii(c);
        if (d.deviceName.empty() || d.deviceName.size() >= 32)
            return format("display device name '%s' is empty or longer than 31 characters",
                          d.deviceName.c_str());
        if (!names.insert(lower).second)
            return format("display device '%s' is listed twice", d.deviceName.c_str());
        if (d.mirroring()) {
            if (d.gpu != -1)
                return format("mirroring driver '%s' belongs to no GPU", d.deviceName.c_str());
            continue;
        }
        if (d.gpu < 0 || d.gpu >= int(gpus.size()))
            return format("display device '%s' names no GPU", d.deviceName.c_str());
        if (!sources.insert({d.gpu, d.vidPnSourceId}).second)
            return format("display device '%s' uses video present source %u of GPU '%s' twice",
                          d.deviceName.c_str(), d.vidPnSourceId, gpus[d.gpu].id.c_str());
        if (d.primary()) {
            ++primaries;
            if (!d.attached())
                return format("primary display device '%s' is not attached to the desktop",
                              d.deviceName.c_str());
        }
        if (d.attached() && (d.currentMode.width == 0 || d.currentMode.height == 0 ||
                             formatBitsPerPixel(d.currentMode.format) == 0))
            return format("display device '%s' has no valid current mode", d.deviceName.c_str());
    }
    if (primaries > 1)
        return "more than one display device is primary";
    return std::string();
}

std::vector<uint8_t> utf16Bytes(const std::string& text, bool terminate) {
    std::vector<uint8_t> out;
    // Scenario texts are ASCII or UTF-8; characters beyond the BMP are not needed here.
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t cp = c;
        size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : 0;
        if (extra && i + extra < text.size() + 1) {
            cp = c & (0x3F >> extra);
            for (size_t k = 1; k <= extra && i + k < text.size(); ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        } else if (c >= 0x80) {
            cp = 0xFFFD;
        }
        i += extra + 1;
        out.push_back(static_cast<uint8_t>(cp & 0xFF));
        out.push_back(static_cast<uint8_t>(cp >> 8));
    }
    if (terminate) {
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

void MachineDesc::addString(const std::string& key, const std::string& name,
                            const std::string& value) {
    registry.push_back({key, name, 1, utf16Bytes(value, true)});
}

void MachineDesc::addDword(const std::string& key, const std::string& name, uint32_t value) {
    std::vector<uint8_t> data = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                                 uint8_t(value >> 24)};
    registry.push_back({key, name, 4, data});
}

void MachineDesc::addFile(const std::string& path, const std::string& content) {
    files.push_back({path, content});
}

} // namespace sim
