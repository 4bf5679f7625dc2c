// The kernel thunks (D3DKMT* of gdi32.dll), resolved at run time instead of imported.
//
// A DLL with a missing import does not load at all, and gdi32 need not export every thunk
// (Wine's lacks most of them). So the thunks are looked up once with GetProcAddress, and one
// that is missing is replaced by a stub that fails as the kernel would: it returns
// STATUS_PROCEDURE_NOT_FOUND and touches nothing. Every member of the table is callable.
#pragma once

#include "platform/win.h"

/// Position of each thunk in VESSA_D3DKMT_THUNKS, e.g. kmtCreateDevice.
enum KernelThunkId : unsigned {
#define VESSA_KMT_ID(Name, NAME, qualifier) kmt##Name,
    VESSA_D3DKMT_THUNKS(VESSA_KMT_ID)
#undef VESSA_KMT_ID
        kmtThunkCount
};

/// One pointer per thunk: `KernelThunks::get().pfnCreateDevice(&args)`.
struct KernelThunkTable {
#define VESSA_KMT_MEMBER(Name, NAME, qualifier) PFND3DKMT_##NAME pfn##Name;
    VESSA_D3DKMT_THUNKS(VESSA_KMT_MEMBER)
#undef VESSA_KMT_MEMBER
};

/// The process-wide table of kernel thunks.
class KernelThunks {
public:
    /// The table, resolved from gdi32.dll on first use (thread-safe, once per process).
    static const KernelThunkTable& get();

    /// True when gdi32 exports the thunk, false when its member is the failing stub.
    static bool isResolved(KernelThunkId id);

    /// The export's name without the "D3DKMT" prefix ("CreateDevice"); null for a bad id.
    static const char* name(KernelThunkId id);

    /// Fills `table` from `gdi32` (which may be null): resolved thunks where the module
    /// exports them, stubs elsewhere. Returns a mask with bit `id` set per resolved thunk.
    static unsigned long long resolve(HMODULE gdi32, KernelThunkTable& table);

private:
    struct State;
    static const State& state();
};
