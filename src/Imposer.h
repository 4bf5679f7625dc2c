// Imposer: makes the host process take the rendering GPU (record 1 of the GPU enumerator)
// for its display adapter, by hooking display-device enumeration, NVIDIA's control
// interfaces, the kernel's adapter-from-device-context open, Direct3DCreate9 and the
// file-version queries Direct3D 9 identifies its driver with. Each replacement calls the
// real function and adjusts its result, for every caller or only for callers inside a named
// module. Started by the export handleEnumDisplayDevices; hooks stay for the process's life.
#pragma once

#include "platform/win.h"

#include <cstddef>

class Imposer {
public:
    /// NVIDIA's interface id of CudaEnumComputeCapableGpus.
    static constexpr unsigned kCudaEnumComputeCapableGpusId = 0x5786CC6E;

    /// Installs the hooks, once per process (a second call would hook the replacements).
    static void handleEnumDisplayDevices();

    /// Whether `address` lies in [module + offset, module + offset + size] (both ends
    /// inside). A size of 0 stands for the module's image size when its headers give one
    /// (PE headers on Windows, the loaded segments on the simulated machine); otherwise the
    /// size is taken as given.
    static bool isAddressInModule(const void* address, size_t offset, size_t size, HMODULE module);

    /// Whether a narrow file name names the loaded module of the primary GPU's (record 0's)
    /// Direct3D 9 user-mode driver.
    static bool isPrimaryUmd(const char* fileName);

    /// Whether `returnAddress` lies in the image of the loaded module `moduleName`.
    static bool isCalledFrom(const void* returnAddress, const char* moduleName);
};
