// Shared helpers of the simulated-GPU tests: the thunk declarations (the system resolves
// them at run time; tests link gdi32.dll directly) and small openers.
#pragma once

#include "platform/win.h"
#include "sim/Machine.h"
#include "sim/WideString.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/KernelStatus.h"
#include "sim/gpus/Presets.h"
#include "sim/gpus/SimAllocation.h"
#include "sim/gpus/SimSubmission.h"

#include <gtest/gtest.h>
#include <string>

extern "C" {
#define SIM_TEST_THUNK(Name, NAME, qualifier)                                                      \
    NTSTATUS APIENTRY D3DKMT##Name(qualifier D3DKMT_##NAME* pArgs);
VESSA_D3DKMT_THUNKS(SIM_TEST_THUNK)
#undef SIM_TEST_THUNK
}

namespace simtest {

/// Installs a machine and fails the test when that does not work.
inline void install(const sim::MachineDesc& machine) {
    std::string error;
    ASSERT_TRUE(sim::installMachine(machine, &error)) << error;
}

/// Opens GPU `gpu` of the installed machine by its interface name; 0 on failure.
inline D3DKMT_HANDLE openGpu(int gpu) {
    std::u16string name =
        sim::fromUtf8(sim::installedMachine()->gpus[size_t(gpu)].adapterInterfaceName());
    D3DKMT_OPENADAPTERFROMDEVICENAME open = {};
    open.pDeviceName = name.c_str();
    if (D3DKMTOpenAdapterFromDeviceName(&open) != sim::kStatusSuccess)
        return 0;
    return open.hAdapter;
}

/// Creates a legacy-mode device on an open adapter; 0 on failure.
inline D3DKMT_HANDLE createDevice(D3DKMT_HANDLE hAdapter) {
    D3DKMT_CREATEDEVICE create = {};
    create.hAdapter = hAdapter;
    create.Flags.Value = D3DKMT_CREATEDEVICEFLAGS::LegacyMode;
    if (D3DKMTCreateDevice(&create) != sim::kStatusSuccess)
        return 0;
    return create.hDevice;
}

/// The private data a driver of the device's GPU writes for an X8R8G8B8 surface.
inline sim::SimAllocationDesc surfaceDesc(D3DKMT_HANDLE hDevice, UINT width, UINT height) {
    sim::SimAllocationDesc desc;
    desc.width = width;
    desc.height = height;
    desc.format = D3DDDIFMT_X8R8G8B8;
    int gpu = sim::Kernel::instance().deviceGpu(hDevice);
    if (gpu >= 0)
        desc.setOwner(sim::installedMachine()->gpus[size_t(gpu)].vendorId, gpu);
    return desc;
}

/// The private data a driver of the device's GPU hands with a submission.
inline sim::SimSubmissionDesc submissionDesc(D3DKMT_HANDLE hDevice) {
    sim::SimSubmissionDesc desc;
    int gpu = sim::Kernel::instance().deviceGpu(hDevice);
    if (gpu >= 0)
        desc.setOwner(sim::installedMachine()->gpus[size_t(gpu)].vendorId, gpu);
    return desc;
}

} // namespace simtest
