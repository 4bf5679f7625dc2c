// A stand-in for NVIDIA's nvapi.dll on the simulated machine: its query interface with the
// compute-capable-GPU entry, and a call of EnumDisplayDevicesW made from inside the module
// (the interposer must leave NVIDIA's own enumeration alone).
#include "platform/win.h"

#include <cstring>

namespace {

constexpr unsigned kCudaEnumComputeCapableGpus = 0x5786CC6E;
bool s_cudaEntryAvailable = true;

/// Fills a GPU list: a count of 1 and the field at byte 12 set to 3; fails on null.
int cudaEnumComputeCapableGpus(void* gpus) {
    if (!gpus)
        return -1; // NVAPI_ERROR
    int32_t count = 1, capability = 3;
    memcpy(gpus, &count, sizeof count);
    memcpy(static_cast<char*>(gpus) + 12, &capability, sizeof capability);
    return 0;
}

int otherInterface() {
    return 77;
}

} // namespace

VESSA_EXPORT void* nvapi_QueryInterface(unsigned int id) {
    if (id == kCudaEnumComputeCapableGpus)
        return s_cudaEntryAvailable ? reinterpret_cast<void*>(&cudaEnumComputeCapableGpus)
                                    : nullptr;
    return id == 1 ? reinterpret_cast<void*>(&otherInterface) : nullptr;
}

/// Test control: whether the query answers the compute-capable-GPU entry.
VESSA_EXPORT void nvapiTestSetCudaEntryAvailable(int available) {
    s_cudaEntryAvailable = available != 0;
}

/// EnumDisplayDevicesW called from this module's own code.
VESSA_EXPORT BOOL nvapiTestEnumDisplayDevicesW(DWORD index, DISPLAY_DEVICEW* device) {
    BOOL result = EnumDisplayDevicesW(nullptr, index, device, 0);
    asm volatile("" ::: "memory"); // no tail call: the call must come from this module
    return result;
}
