// Display devices and display settings of user32.dll, read from the installed machine:
// EnumDisplayDevicesW/A and EnumDisplaySettingsA.
#include "platform/win.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Kernel.h"

#include <stddef.h>
#include <string.h>

namespace {

const char* const kMonitorClassKey =
    "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\"
    "{4d36e96e-e325-11ce-bfc1-08002be10318}\\";

bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = (a[i] >= 'A' && a[i] <= 'Z') ? char(a[i] + 32) : a[i];
        char y = (b[i] >= 'A' && b[i] <= 'Z') ? char(b[i] + 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

/// One answer of EnumDisplayDevices, before it is cut to the caller's structure.
struct DeviceText {
    std::string name, string, id, key;
    DWORD flags = 0;
    int gpu = sim::kNoGpu;
};

// The iDevNum-th adapter output (device null) or monitor of a display device.
bool lookUp(const std::string* pDevice, DWORD index, DWORD flags, DeviceText& out) {
    std::shared_ptr<const sim::MachineDesc> pMachine = sim::installedMachine();
    const sim::MachineDesc& m = *pMachine;
    if (!pDevice) {
        if (index >= m.displays.size())
            return false;
        const sim::DisplayDeviceDesc& d = m.displays[index];
        out.name = d.deviceName;
        out.flags = d.stateFlags;
        out.key = m.deviceKeyOf(d);
        if (d.mirroring()) {
            out.string = d.mirrorString;
            out.id = d.mirrorDeviceId;
            return true;
        }
        const sim::GpuDesc& g = m.gpus[d.gpu];
        out.gpu = d.gpu;
        out.string = g.name;
        out.id =
            (flags & EDD_GET_DEVICE_INTERFACE_NAME) ? g.registryInterfacePath() : g.pciDeviceId();
        return true;
    }
    // Monitors: an attached output of a GPU has one.
    int display = m.findDisplay(*pDevice);
    if (display < 0 || index != 0)
        return false;
    const sim::DisplayDeviceDesc& d = m.displays[display];
    if (d.mirroring() || !d.attached())
        return false;
    out.gpu = d.gpu;
    out.name = d.deviceName + "\\Monitor0";
    out.string = d.monitorName;
    out.flags = DISPLAY_DEVICE_ACTIVE | DISPLAY_DEVICE_ATTACHED;
    char number[16];
    snprintf(number, sizeof number, "%04u", unsigned(display));
    out.id =
        (flags & EDD_GET_DEVICE_INTERFACE_NAME)
            ? std::string("\\\\?\\DISPLAY#SIM0001#") + number +
                  "#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}"
            : std::string("MONITOR\\SIM0001\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\") + number;
    out.key = kMonitorClassKey + std::string(number);
    return true;
}

// Writes a text into a fixed field, cut to fit and terminated.
void putText(WCHAR* dst, size_t capacity, const std::string& text) {
    std::u16string wide = sim::fromUtf8(text);
    size_t n = wide.size() < capacity ? wide.size() : capacity - 1;
    memcpy(dst, wide.data(), n * sizeof(WCHAR));
    dst[n] = 0;
}
void putText(CHAR* dst, size_t capacity, const std::string& text) {
    size_t n = text.size() < capacity ? text.size() : capacity - 1;
    memcpy(dst, text.data(), n);
    dst[n] = 0;
}

// Fills the members that lie wholly inside cb, as user32 does for the older, shorter
// layouts of the structure.
template <class T> void fill(T* p, const DeviceText& t) {
    DWORD cb = p->cb;
    if (cb >= offsetof(T, DeviceName) + sizeof(p->DeviceName))
        putText(p->DeviceName, sizeof(p->DeviceName) / sizeof(p->DeviceName[0]), t.name);
    if (cb >= offsetof(T, DeviceString) + sizeof(p->DeviceString))
        putText(p->DeviceString, sizeof(p->DeviceString) / sizeof(p->DeviceString[0]), t.string);
    if (cb >= offsetof(T, StateFlags) + sizeof(p->StateFlags))
        p->StateFlags = t.flags;
    if (cb >= offsetof(T, DeviceID) + sizeof(p->DeviceID))
        putText(p->DeviceID, sizeof(p->DeviceID) / sizeof(p->DeviceID[0]), t.id);
    if (cb >= offsetof(T, DeviceKey) + sizeof(p->DeviceKey))
        putText(p->DeviceKey, sizeof(p->DeviceKey) / sizeof(p->DeviceKey[0]), t.key);
}

template <class T>
BOOL enumDisplayDevices(const char* entry, const std::string* pDevice, DWORD index, T* pInfo,
                        DWORD flags) {
    sim::Call call("user32.dll", entry);
    call.args("device=%s index=%u cb=%u flags=0x%x", pDevice ? pDevice->c_str() : "(null)", index,
              pInfo ? pInfo->cb : 0, flags);
    if (call.faulted()) {
        sim::setLastError(uint32_t(call.faultStatus()));
        return call.finish(BOOL(FALSE));
    }
    if (!pInfo || pInfo->cb < offsetof(T, DeviceName) + sizeof(pInfo->DeviceName)) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(BOOL(FALSE));
    }
    DeviceText text;
    if (!lookUp(pDevice, index, flags, text))
        return call.finish(BOOL(FALSE));
    call.setGpu(text.gpu);
    fill(pInfo, text);
    return call.finish(BOOL(TRUE));
}

} // namespace

BOOL WINAPI EnumDisplayDevicesW(LPCWSTR lpDevice, DWORD iDevNum, PDISPLAY_DEVICEW lpDisplayDevice,
                                DWORD dwFlags) {
    std::string device = lpDevice ? sim::toUtf8(sim::wideOf(sim::asU16(lpDevice))) : std::string();
    return enumDisplayDevices("EnumDisplayDevicesW", lpDevice ? &device : nullptr, iDevNum,
                              lpDisplayDevice, dwFlags);
}

BOOL WINAPI EnumDisplayDevicesA(LPCSTR lpDevice, DWORD iDevNum, PDISPLAY_DEVICEA lpDisplayDevice,
                                DWORD dwFlags) {
    std::string device = lpDevice ? lpDevice : "";
    return enumDisplayDevices("EnumDisplayDevicesA", lpDevice ? &device : nullptr, iDevNum,
                              lpDisplayDevice, dwFlags);
}

BOOL WINAPI EnumDisplaySettingsA(LPCSTR lpszDeviceName, DWORD iModeNum, DEVMODEA* lpDevMode) {
    sim::Call call("user32.dll", "EnumDisplaySettingsA");
    call.args("device=%s mode=%d", lpszDeviceName ? lpszDeviceName : "(null)", int(iModeNum));
    if (call.faulted()) {
        sim::setLastError(uint32_t(call.faultStatus()));
        return call.finish(BOOL(FALSE));
    }
    std::shared_ptr<const sim::MachineDesc> pMachine = sim::installedMachine();
    const sim::DisplayDeviceDesc* pDisplay = nullptr;
    if (!lpszDeviceName) {
        pDisplay = pMachine->primaryDisplay();
    } else {
        for (const sim::DisplayDeviceDesc& d : pMachine->displays) {
            if (equalNoCase(d.deviceName, lpszDeviceName) && !d.mirroring())
                pDisplay = &d;
        }
    }
    if (!lpDevMode || !pDisplay) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(BOOL(FALSE));
    }
    call.setGpu(pDisplay->gpu);
    sim::DisplayMode mode;
    bool current = iModeNum == ENUM_CURRENT_SETTINGS || iModeNum == ENUM_REGISTRY_SETTINGS;
    if (current) {
        // A display device without a monitor has no current settings.
        if (!pDisplay->attached())
            return call.finish(BOOL(FALSE));
        // A full-screen application's mode change shows here until it gives the source up;
        // the registry keeps the desktop's mode.
        mode = iModeNum == ENUM_CURRENT_SETTINGS && !pDisplay->mirroring()
                   ? sim::Kernel::instance().currentMode(pDisplay->gpu, pDisplay->vidPnSourceId)
                   : pDisplay->currentMode;
    } else {
        const std::vector<sim::DisplayMode>& modes = pMachine->gpus[pDisplay->gpu].modes;
        if (iModeNum >= modes.size())
            return call.finish(BOOL(FALSE));
        mode = modes[iModeNum];
    }
    memset(lpDevMode, 0, sizeof *lpDevMode);
    putText(reinterpret_cast<CHAR*>(lpDevMode->dmDeviceName), sizeof lpDevMode->dmDeviceName,
            pDisplay->deviceName);
    lpDevMode->dmSpecVersion = 0x0401;
    lpDevMode->dmSize = sizeof *lpDevMode;
    lpDevMode->dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFLAGS |
                          DM_DISPLAYFREQUENCY | DM_DISPLAYORIENTATION | DM_DISPLAYFIXEDOUTPUT;
    if (current) {
        lpDevMode->dmFields |= DM_POSITION;
        lpDevMode->dmPosition.x = pDisplay->positionX;
        lpDevMode->dmPosition.y = pDisplay->positionY;
    }
    lpDevMode->dmBitsPerPel = sim::formatBitsPerPixel(mode.format);
    lpDevMode->dmPelsWidth = mode.width;
    lpDevMode->dmPelsHeight = mode.height;
    lpDevMode->dmDisplayFrequency = mode.refreshRate;
    return call.finish(BOOL(TRUE));
}
