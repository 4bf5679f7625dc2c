// Ready-made machines. Each is the default hybrid machine changed in a few lines, so a
// test states only what differs.
#pragma once

#include "sim/Export.h"

#include "sim/gpus/MachineDesc.h"

#include <string>
#include <vector>

namespace sim {
namespace presets {

/// An Intel GPU on bus 0 (two 32-bit modes lists, 4x multisampling).
SIM_API GpuDesc intelGpu();
/// An NVIDIA GPU on bus 1.
SIM_API GpuDesc nvidiaGpu();
/// An ATI GPU on bus 1.
SIM_API GpuDesc atiGpu();

/// The default hybrid machine: the Intel GPU owns the display with two attached outputs
/// ("\\.\DISPLAY1" primary, "\\.\DISPLAY2"), the NVIDIA GPU has no monitor and is listed
/// after them as an inactive display device with its own DeviceKey.
SIM_API MachineDesc defaultMachine();
/// The default machine with an ATI GPU in place of the NVIDIA GPU.
SIM_API MachineDesc intelAti();
/// The NVIDIA GPU owns the display; the Intel GPU is listed after it, inactive.
SIM_API MachineDesc nvidiaPrimary();
/// The default machine, but Windows lists the NVIDIA GPU's display device first.
SIM_API MachineDesc nvidiaListedFirst();
/// Only the Intel GPU, with one primary output.
SIM_API MachineDesc oneGpu();
/// The Intel GPU and four discrete GPUs (NVIDIA, ATI, NVIDIA, ATI on buses 1 to 4).
SIM_API MachineDesc fiveGpus();
/// The default machine with a mirroring driver listed between the two GPUs.
SIM_API MachineDesc mirroringDriver();

/// The default machine with a monitor on the NVIDIA GPU too ("\\.\DISPLAY3", 1280x800,
/// right of the Intel GPU's outputs): applications rendering directly on each GPU present
/// there, which a GPU without a monitor cannot.
SIM_API MachineDesc monitorOnEveryGpu();
/// Names that scenario files use for the presets ("default", "intel-ati", ...).
SIM_API std::vector<std::string> names();
/// The preset of that name; false when there is none.
SIM_API bool byName(const std::string& name, MachineDesc& out);

} // namespace presets
} // namespace sim
