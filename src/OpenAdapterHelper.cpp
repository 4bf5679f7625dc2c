// OpenAdapterHelper: a GPU's vendor OpenAdapter, from the kernel's driver file name.
#include "OpenAdapterHelper.h"

#include "GpuEnumerator.h"
#include "Report.h"

PFND3DDDI_OPENADAPTER getOpenAdapterFuncPtr(int index) {
    if (!VESSA_CHECK_AT(28, Error, 11167, index >= 0, "Bad device index"))
        return nullptr;

    GpuEnumerator* enumerator = GpuEnumerator::getInstance();
    const DeviceProp* record =
        index < GpuEnumerator::kMaxGpus ? enumerator->m_pDevicePropArray[index] : nullptr;
    const WCHAR* deviceKey =
        record && record->displayDeviceW.DeviceKey[0] ? record->displayDeviceW.DeviceKey : nullptr;
    if (!VESSA_CHECK_AT(31, Error, 11168, deviceKey, "Device key for primary was not found"))
        return nullptr;

    D3DKMT_UMDFILENAMEINFO fileName;
    if (!GpuEnumerator::queryUmdFileName(deviceKey, fileName)) {
        VESSA_REPORT(Error, 0, "false", "No user-mode driver name for GPU %d", index);
        return nullptr;
    }

    HMODULE driver = LoadLibraryW(fileName.UmdFileName);
    if (!driver) {
        VESSA_REPORT(Error, 0, "false", "User-mode driver %s of GPU %d failed to load (%u)",
                     text::narrow(fileName.UmdFileName).c_str(), index,
                     static_cast<unsigned>(GetLastError()));
        return nullptr;
    }
    FARPROC entry = GetProcAddress(driver, "OpenAdapter");
    if (!entry) {
        VESSA_REPORT(Error, 0, "false", "User-mode driver %s of GPU %d has no OpenAdapter",
                     text::narrow(fileName.UmdFileName).c_str(), index);
        return nullptr;
    }
    return reinterpret_cast<PFND3DDDI_OPENADAPTER>(reinterpret_cast<void (*)(void)>(entry));
}
