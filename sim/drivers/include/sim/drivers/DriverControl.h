// What tests, benchmarks and the demo can set and read on the simulated vendor user-mode
// drivers (simumd_intel.dll, simumd_nv.dll, simumd_ati.dll). Every driver module shares
// one driver core per process, so these settings and counters cover all of them.
#pragma once

#include "sim/Export.h"
#include "sim/gpus/GpuCommand.h"

#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

namespace sim {
namespace umd {

/// Behaviour a test may change. Applies to queries issued after the change.
struct DriverSettings {
    /// An event query answers "still drawing" this many times after its issue.
    uint32_t eventQueryPolls = 2;
    /// ... and at least this long after its issue (microseconds, 0: no time bound).
    uint32_t eventQueryDelayUs = 0;
};

/// Counters of one GPU's driver since the last reset.
struct DriverStats {
    uint64_t draws = 0;         ///< draw entries (primitives, indexed, patches, ...)
    uint64_t primitives = 0;    ///< primitives those draws asked for
    uint64_t presents = 0;      ///< successful pfnPresent calls
    uint64_t flushes = 0;       ///< pfnRenderCb submissions
    uint64_t blts = 0;          ///< Blt, TexBlt, BufBlt and VolBlt copies
    uint64_t fills = 0;         ///< ColorFill, Clear and DepthFill operations
    uint64_t bytesCopied = 0;   ///< pixels bytes moved by the copies
    uint64_t unimplemented = 0; ///< calls of entries without a real implementation
    uint64_t rejected = 0;      ///< calls refused for bad handles or arguments
};

/// The current settings.
SIM_API DriverSettings settings();
/// Replaces the settings.
SIM_API void setSettings(const DriverSettings& settings);

/// Counters of the driver of one GPU (index into the machine description).
SIM_API DriverStats stats(int gpu);
/// Sets every counter of every GPU to 0.
SIM_API void resetStats();

/// Names of the device entries that were called without a real implementation, once each.
SIM_API std::vector<std::string> unimplementedEntries();

/// Live driver objects, for leak checks.
struct DriverCounts {
    size_t adapters = 0;
    size_t devices = 0;
    size_t resources = 0;
    size_t queries = 0;
};
SIM_API DriverCounts counts();

/// Tells the drivers which GPU a runtime adapter handle stands for. A runtime calls it
/// before it enters a driver's OpenAdapter with its own handle; a driver opened with a
/// kernel adapter handle finds its GPU through the kernel instead. Journal entries carry
/// the GPU found this way.
SIM_API void registerRuntimeAdapter(const void* hAdapter, int gpu);
SIM_API void unregisterRuntimeAdapter(const void* hAdapter);

/// Where one subresource of a driver resource keeps its pixels.
struct SurfaceAllocation {
    uint32_t hAllocation = 0; ///< the kernel allocation
    uint32_t width = 0;
    uint32_t height = 0;
};
/// The kernel allocations of every subresource of the resource a driver handed out as
/// `hResource` (any module's). False when no driver knows the handle. Components that move
/// pixels behind the drivers' backs (the simulated interop library) find memory this way.
SIM_API bool resourceSurfaces(const void* hResource, std::vector<SurfaceAllocation>& out);
/// Records work of a component that moves pixels behind the drivers' backs on the device
/// that owns `hResource`, behind that device's earlier commands, and submits it: `work` runs
/// when that GPU's queue reaches it (and `gate`, when given, lets it), reading `hRead` and
/// writing `hWrite` (kernel allocations of that device, 0: none) as a copy. False when no
/// driver knows the resource or the submission fails (the work then never runs and is
/// destroyed).
SIM_API bool submitResourceWork(const void* hResource, uint32_t hRead, uint32_t hWrite,
                                GpuWork work, GpuGate gate = GpuGate());

} // namespace umd
} // namespace sim
