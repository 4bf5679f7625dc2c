// The description of a simulated hybrid machine: its GPUs, the display devices Windows
// lists for them, their display settings, and the registry values and files that go with
// the machine. Tests, benchmarks and scenario files build one of these and install it
// (sim/gpus/Machine.h); user32, gdi32 and the simulated kernel read it.
#pragma once

#include "sim/Export.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace sim {

/// PCI vendor ids of the vendors the machine knows by name.
constexpr uint32_t kVendorIntel = 0x8086;
constexpr uint32_t kVendorNvidia = 0x10DE;
constexpr uint32_t kVendorAti = 0x1002;

/// Display-device state flags as EnumDisplayDevices reports them.
constexpr uint32_t kAttachedToDesktop = 0x1;
constexpr uint32_t kPrimaryDevice = 0x4;
constexpr uint32_t kMirroringDriver = 0x8;

/// Pixel formats by their D3DDDIFORMAT numbers (the ones the display can show).
constexpr uint32_t kFormatA8R8G8B8 = 21;
constexpr uint32_t kFormatX8R8G8B8 = 22;
constexpr uint32_t kFormatR5G6B5 = 23;

/// Bits per pixel of a display format, 0 when the machine does not know the format.
SIM_API uint32_t formatBitsPerPixel(uint32_t format);

/// One display mode: size, D3DDDIFORMAT and refresh rate in Hz.
struct DisplayMode {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t format = kFormatX8R8G8B8;
    uint32_t refreshRate = 60;

    bool operator==(const DisplayMode& o) const {
        return width == o.width && height == o.height && format == o.format &&
               refreshRate == o.refreshRate;
    }
};

/// One multisample method a GPU offers: sample count and its number of quality levels.
struct MultisampleMethod {
    uint32_t numSamples = 1;
    uint32_t numQualityLevels = 1;
};

/// A physical GPU: PCI identity, bus position, LUID, user-mode driver, modes and methods.
struct SIM_API GpuDesc {
    std::string id;         ///< name used by scenario files and the journal ("intel")
    std::string name;       ///< DeviceString of its display devices
    uint32_t vendorId = 0;  ///< PCI vendor id
    uint32_t deviceId = 0;  ///< PCI device id
    uint32_t subsysId = 0;  ///< PCI subsystem id
    uint32_t revision = 0;  ///< PCI revision
    uint32_t busNumber = 0; ///< KMTQAITYPE_ADAPTERADDRESS
    uint32_t deviceNumber = 0;
    uint32_t functionNumber = 0;
    uint32_t luidLow = 0; ///< adapter LUID
    int32_t luidHigh = 0;
    std::string umdFileName; ///< Direct3D 9 user-mode driver (KMTQAITYPE_UMDRIVERNAME)
    std::string videoGuid;   ///< "{...}" of its key below ...\Control\Video
    std::string instance;    ///< PnP instance part of its device interface path
    std::vector<DisplayMode> modes;
    std::vector<MultisampleMethod> multisampleMethods;
    std::vector<uint8_t> umdPrivateData; ///< answer to KMTQAITYPE_UMDRIVERPRIVATE
    uint32_t nodeCount = 1;              ///< engines a context may be created on
    uint64_t videoMemory = 256u << 20;   ///< reported in the private data and segment sizes
    bool writeInterfaceValue = true;     ///< registry leads to its interface name
    uint32_t renderTimeUs = 0;           ///< GPU time of each draw, clear and fill it executes
    uint32_t copyTimeUs = 0;             ///< GPU time of each copy (Blt, texture, buffer, volume)

    /// "PCI\VEN_8086&DEV_0046&SUBSYS_...&REV_02", the DeviceID of its display devices.
    std::string pciDeviceId() const;
    /// The device interface path stored in the registry, ending in the monitor class
    /// suffix that the reader replaces.
    std::string registryInterfacePath() const;
    /// The adapter's device interface name, as D3DKMTOpenAdapterFromDeviceName takes it.
    std::string adapterInterfaceName() const;
    /// "\Registry\Machine\System\CurrentControlSet\Control\Video\{GUID}\000n".
    std::string deviceKey(uint32_t index) const;
};

/// One entry of the display-device list that EnumDisplayDevices walks with a null name.
struct DisplayDeviceDesc {
    std::string deviceName;     ///< "\\.\DISPLAY1"
    int gpu = -1;               ///< index into MachineDesc::gpus; -1 for a mirroring driver
    uint32_t vidPnSourceId = 0; ///< video present source on its GPU
    uint32_t stateFlags = 0;    ///< kAttachedToDesktop, kPrimaryDevice, kMirroringDriver
    DisplayMode currentMode;    ///< display settings while attached
    int32_t positionX = 0;      ///< desktop position of its top-left corner
    int32_t positionY = 0;
    std::string monitorName = "Generic PnP Monitor";
    // A mirroring driver has no GPU and carries its own texts.
    std::string mirrorString;
    std::string mirrorDeviceId;
    std::string mirrorDeviceKey;

    bool attached() const { return (stateFlags & kAttachedToDesktop) != 0; }
    bool primary() const { return (stateFlags & kPrimaryDevice) != 0; }
    bool mirroring() const { return (stateFlags & kMirroringDriver) != 0; }
};

/// A registry value to create when the machine is installed.
struct RegistryValueDesc {
    std::string key;   ///< "HKLM\SOFTWARE\..." (HKLM, HKCU, HKEY_LOCAL_MACHINE, ...)
    std::string name;  ///< value name, empty for the default value
    uint32_t type = 1; ///< REG_SZ 1, REG_EXPAND_SZ 2, REG_BINARY 3, REG_DWORD 4
    std::vector<uint8_t> data;
};

/// A file to create inside the machine's root folder (Windows path).
struct FileDesc {
    std::string path;
    std::string content;
};

/// A product installation: files of the build's module folder copied into a folder of the
/// machine, as the product's installer lays them out on a user's machine.
struct InstallDesc {
    std::string directory;          ///< Windows path of the installation folder
    std::vector<std::string> files; ///< module file names, found in the module search path
};

/// The whole machine: GPUs, display devices in enumeration order, registry and files.
struct SIM_API MachineDesc {
    std::vector<GpuDesc> gpus;
    std::vector<DisplayDeviceDesc> displays;
    std::vector<RegistryValueDesc> registry;
    std::vector<FileDesc> files;
    std::vector<InstallDesc> installs;
    /// The machine runs on the virtual clock (sim::Clock) instead of real time.
    bool virtualClock = false;
    /// Time from an injection into an interop staging buffer to its CPU notification
    /// (microseconds on the machine's clock), as the simulated interop library keeps it.
    uint32_t interopNotifyUs = 0;

    /// Index of the GPU with this id, -1 when there is none.
    int findGpu(const std::string& id) const;
    /// Index of the display device with this name (case-insensitive), -1 when none.
    int findDisplay(const std::string& deviceName) const;

    /// Adds a GPU and returns its index.
    int addGpu(GpuDesc gpu);
    /// Adds an active output of a GPU ("\\.\DISPLAYn" numbered in list order); the
    /// first primary output also takes the desktop origin.
    DisplayDeviceDesc& addOutput(int gpu, bool primary, DisplayMode mode);
    /// Adds an inactive display device of a GPU, as Windows lists a GPU without monitor.
    DisplayDeviceDesc& addInactive(int gpu);
    /// Adds a mirroring driver entry.
    DisplayDeviceDesc& addMirror(const std::string& text);

    /// Video present sources of a GPU: its listed display devices, at least one.
    uint32_t sourceCount(int gpu) const;
    /// True when a monitor is attached to the desktop on that video present source of the
    /// GPU: only then can the source scan out, wait for a vertical blank, report a scan line,
    /// list modes or take a primary. A render GPU without a monitor has no such source.
    bool activeSource(int gpu, uint32_t vidPnSourceId) const;
    /// The display device of a GPU's video present source, null when it has none.
    const DisplayDeviceDesc* display(int gpu, uint32_t vidPnSourceId) const;
    /// The primary display device, null when none is primary.
    const DisplayDeviceDesc* primaryDisplay() const;
    /// The registry key (DeviceKey) of a display device.
    std::string deviceKeyOf(const DisplayDeviceDesc& display) const;

    /// Empty when the description is consistent; otherwise what is wrong with it.
    std::string validate() const;

    /// Adds a string value (REG_SZ, stored as UTF-16 with its terminator).
    void addString(const std::string& key, const std::string& name, const std::string& value);
    /// Adds a REG_DWORD value.
    void addDword(const std::string& key, const std::string& name, uint32_t value);
    /// Adds a file.
    void addFile(const std::string& path, const std::string& content);
};

/// UTF-16 little-endian bytes of a text, optionally with its terminator.
SIM_API std::vector<uint8_t> utf16Bytes(const std::string& text, bool terminate);

} // namespace sim
