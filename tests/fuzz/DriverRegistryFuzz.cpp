// Registry values the driver reads, holding anything: the installation key's directories
// (through the Win32 and the native registry functions, into buffers of any capacity) and
// the adapter's device interface name behind a display device's key.
//
// Input: which value, its type, the reader's capacity in bytes, then the value's data.
#include "FuzzSupport.h"
#include "GpuEnumerator.h"
#include "RegManager.h"

#include "platform/text.h"
#include "platform/win.h"
#include "sim/Registry.h"
#include "sim/gpus/GpuMachine.h"

#include <string>
#include <vector>

namespace {

const char16_t kDriverKey[] = u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver";
const char16_t kInterfaceName[] = u"{5b45201d-f2f2-4f3b-85bb-30ff1f953599}";

struct Slot {
    std::u16string key;
    std::u16string name;
    sim::RegistryValue original;
};
std::vector<Slot> s_slots;
std::u16string s_deviceKey;

sim::Registry& registry() {
    return sim::Machine::instance().registry();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useBuildModules();
    registry().setString(kDriverKey, u"InstallDirectory", u"C:\\Program Files\\Quorvex\\Vessa");
    registry().setString(kDriverKey, u"ConfigFileDirectory",
                         u"C:\\Program Files\\Quorvex\\Vessa\\config");
    s_slots.push_back({kDriverKey, u"InstallDirectory", {}});
    s_slots.push_back({kDriverKey, u"ConfigFileDirectory", {}});

    // The discrete GPU's display device key leads to its interface name.
    const DISPLAY_DEVICEW* secondary = GpuEnumerator::getInstance()->getSecondaryDisplayDevice();
    if (!secondary)
        abort();
    s_deviceKey = reinterpret_cast<const char16_t*>(secondary->DeviceKey);
    size_t system = s_deviceKey.find(u"System");
    if (system == std::u16string::npos)
        abort();
    s_slots.push_back(
        {u"HKLM\\" + s_deviceKey.substr(system) + u"\\" + text::widen(sim::kVolatileSettingsSubkey),
         kInterfaceName,
         {}});
    for (Slot& slot : s_slots) {
        if (!registry().getValue(slot.key, slot.name, slot.original))
            abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    size_t which = input.byte() % s_slots.size();
    uint8_t type = input.byte();
    DWORD capacity = input.byte() * 3u;
    std::string bytes = input.remaining();

    for (const Slot& slot : s_slots)
        registry().setValue(slot.key, slot.name, slot.original);
    sim::RegistryValue value;
    value.type = type % 12;
    value.data.assign(bytes.begin(), bytes.end());
    registry().setValue(s_slots[which].key, s_slots[which].name, value);

    std::vector<uint8_t> buffer(capacity + 16, 0xCD);
    for (const WCHAR* name : {WSTR("InstallDirectory"), WSTR("ConfigFileDirectory")}) {
        DWORD got = capacity;
        RegManager::readDriverValue(name, buffer.data(), &got);
        got = capacity;
        RegManager::readDriverValueNt(name, buffer.data(), &got);
    }
    // The guard bytes past the capacity stay as they were.
    for (size_t i = capacity; i < buffer.size(); ++i) {
        if (buffer[i] != 0xCD)
            abort();
    }

    D3DKMT_UMDFILENAMEINFO info;
    GpuEnumerator::queryUmdFileName(text::w(s_deviceKey), info);
    fuzz::keepLogSmall();
    return 0;
}
