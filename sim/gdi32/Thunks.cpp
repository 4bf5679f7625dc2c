// The D3DKMT kernel thunks of gdi32.dll. Each one consults fault injection, lets the
// simulated kernel do the work, and journals the call with the GPU it reached, its
// arguments (and on success what it handed back) and its status.
#include "platform/win.h"
#include "sim/Call.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/KernelStatus.h"

#include "ThunkArguments.h"

#include <new>
#include <string.h>

namespace {

// The GPU a call is about, known before it runs, so that fault rules can name a GPU.
// Every thunk argument but the three adapter openers and the escape starts with the kernel
// handle that names its object; handles are unique across object kinds.
template <class A> int gpuBefore(const A* pArgs) {
    if (!pArgs)
        return sim::kNoGpu;
    D3DKMT_HANDLE handle;
    memcpy(&handle, pArgs, sizeof handle);
    return sim::Kernel::instance().gpuOfHandle(handle);
}
int gpuBefore(const D3DKMT_ESCAPE* pArgs) {
    if (!pArgs)
        return sim::kNoGpu;
    return sim::Kernel::instance().gpuOfHandle(pArgs->hAdapter ? pArgs->hAdapter : pArgs->hDevice);
}
int gpuBefore(const D3DKMT_OPENADAPTERFROMDEVICENAME* pArgs) {
    return pArgs ? sim::Kernel::instance().gpuOfInterfaceName(pArgs->pDeviceName) : sim::kNoGpu;
}
int gpuBefore(const D3DKMT_OPENADAPTERFROMHDC* pArgs) {
    return pArgs ? sim::Kernel::instance().gpuOfDisplayContext(pArgs->hDc) : sim::kNoGpu;
}
int gpuBefore(const D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME* pArgs) {
    return pArgs ? sim::Kernel::instance().gpuOfDisplayName(pArgs->DeviceName, 32) : sim::kNoGpu;
}

template <class A>
NTSTATUS runThunk(const char* entry, A* pArgs, NTSTATUS (sim::Kernel::*method)(A*, int&)) {
    sim::Call call("gdi32.dll", entry, gpuBefore(pArgs));
    std::string in = sim::describeIn(pArgs);
    call.args("%s", in.c_str());
    if (call.faulted())
        return call.finish(NTSTATUS(call.faultStatus()));
    int gpu = sim::kNoGpu;
    NTSTATUS status;
    try {
        status = (sim::Kernel::instance().*method)(pArgs, gpu);
    } catch (const std::bad_alloc&) {
        status = sim::kStatusNoMemory;
    } catch (...) {
        // Nothing crosses the thunk boundary; a kernel bug shows as a failed call.
        status = NTSTATUS(STATUS_UNSUCCESSFUL);
    }
    call.setGpu(gpu);
    if (status >= 0) {
        std::string out = sim::describeOut(pArgs);
        if (!out.empty())
            call.args("%s -> %s", in.c_str(), out.c_str());
    }
    return call.finish(status);
}

} // namespace

#define SIM_GDI32_THUNK(Name, NAME, qualifier)                                                     \
    VESSA_EXPORT NTSTATUS APIENTRY D3DKMT##Name(qualifier D3DKMT_##NAME* pArgs) {                  \
        return runThunk("D3DKMT" #Name, pArgs, &sim::Kernel::Name);                                \
    }
VESSA_D3DKMT_THUNKS(SIM_GDI32_THUNK)
#undef SIM_GDI32_THUNK
