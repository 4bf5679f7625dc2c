// Installing a machine description: the GPUs, display devices and kernel that user32 and
// gdi32 serve, plus the registry values and files the description carries.
#pragma once

#include "sim/Export.h"
#include "sim/gpus/MachineDesc.h"

#include <memory>
#include <string>

namespace sim {

/// Installs a machine. The description is checked first; on success the kernel forgets
/// every object, the display forgets every scan-out, the video registry keys of the
/// previous machine are replaced by the new ones (each display device key with the
/// "VolatileSettings" value that leads to its adapter's interface name), and the
/// description's own registry values and files are written. False, with the reason in
/// error, when the description is inconsistent or a registry value or file cannot be
/// written (nothing is installed in the first case).
SIM_API bool installMachine(const MachineDesc& desc, std::string* error = nullptr);

/// The installed description. Every process starts with the default hybrid machine, or
/// with the scenario file that VESSA_SCENARIO names.
SIM_API std::shared_ptr<const MachineDesc> installedMachine();

/// Registry path of the value that leads from a display device key to the adapter's
/// device interface name: key "<DeviceKey>\VolatileSettings", value name below.
constexpr const char* kVolatileSettingsSubkey = "VolatileSettings";
constexpr const char* kInterfaceValueName = "{5b45201d-f2f2-4f3b-85bb-30ff1f953599}";

} // namespace sim
