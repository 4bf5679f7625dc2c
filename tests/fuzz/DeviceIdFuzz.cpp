// The DeviceID texts the GPU enumerator parses ("PCI\VEN_10DE&DEV_0A29&..."), as a display
// device record carries them: up to 128 characters, terminated only when shorter.
#include "FuzzSupport.h"
#include "GpuEnumerator.h"

#include <algorithm>
#include <string.h>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useBuildModules();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    size_t capacity = input.byte() % 130;
    std::u16string text = input.remainingWide();
    DISPLAY_DEVICEW device;
    constexpr size_t kChars = sizeof device.DeviceID / sizeof device.DeviceID[0];
    memset(device.DeviceID, 0, sizeof device.DeviceID);
    memcpy(device.DeviceID, text.data(), std::min(text.size(), kChars) * sizeof(WCHAR));
    capacity = std::min(capacity, kChars);
    uint32_t vendor = GpuEnumerator::parseDeviceIdField(device.DeviceID, capacity, "VEN_");
    uint32_t id = GpuEnumerator::parseDeviceIdField(device.DeviceID, capacity, "DEV_");
    (void)vendor;
    (void)id;
    fuzz::keepLogSmall();
    return 0;
}
