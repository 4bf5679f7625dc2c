// Resolves the kernel thunks from gdi32.dll at run time.
#include "platform/KernelThunks.h"

static_assert(kmtThunkCount <= 64, "the resolved mask has one bit per thunk");

namespace {

// Stand-ins for thunks that gdi32 does not export: the call fails like a kernel call to a
// missing service, so callers take their ordinary failure path.
#define VESSA_KMT_STUB(Name, NAME, qualifier)                                                      \
    NTSTATUS APIENTRY missing##Name(qualifier D3DKMT_##NAME*) {                                    \
        return STATUS_PROCEDURE_NOT_FOUND;                                                         \
    }
VESSA_D3DKMT_THUNKS(VESSA_KMT_STUB)
#undef VESSA_KMT_STUB

const char* const s_names[] = {
#define VESSA_KMT_NAME(Name, NAME, qualifier) #Name,
    VESSA_D3DKMT_THUNKS(VESSA_KMT_NAME)
#undef VESSA_KMT_NAME
};
static_assert(sizeof(s_names) / sizeof(s_names[0]) == kmtThunkCount, "one name per thunk");

// GetProcAddress's FARPROC converted to a thunk pointer through the generic function type,
// which every function pointer may be cast to and from.
template <typename Pfn> Pfn asThunk(FARPROC proc) {
    return reinterpret_cast<Pfn>(reinterpret_cast<void (*)(void)>(proc));
}

HMODULE findGdi32() {
    // gdi32 is normally loaded already (user32 needs it); load it only when it is not.
    HMODULE gdi32 = GetModuleHandleW(WSTR("gdi32.dll"));
    if (gdi32 == nullptr) {
        gdi32 = LoadLibraryW(WSTR("gdi32.dll"));
    }
    return gdi32;
}

} // namespace

struct KernelThunks::State {
    KernelThunkTable table;
    unsigned long long resolvedMask;
};

unsigned long long KernelThunks::resolve(HMODULE gdi32, KernelThunkTable& table) {
    unsigned long long mask = 0;
#define VESSA_KMT_RESOLVE(Name, NAME, qualifier)                                                   \
    {                                                                                              \
        FARPROC proc = gdi32 ? GetProcAddress(gdi32, "D3DKMT" #Name) : nullptr;                    \
        if (proc != nullptr) {                                                                     \
            table.pfn##Name = asThunk<PFND3DKMT_##NAME>(proc);                                     \
            mask |= 1ull << kmt##Name;                                                             \
        } else {                                                                                   \
            table.pfn##Name = &missing##Name;                                                      \
        }                                                                                          \
    }
    VESSA_D3DKMT_THUNKS(VESSA_KMT_RESOLVE)
#undef VESSA_KMT_RESOLVE
    return mask;
}

const KernelThunks::State& KernelThunks::state() {
    // A function-local static is initialised exactly once even when several threads arrive
    // at the same time; the module handle is kept for the life of the process.
    static const State s_state = [] {
        State state{};
        state.resolvedMask = resolve(findGdi32(), state.table);
        return state;
    }();
    return s_state;
}

const KernelThunkTable& KernelThunks::get() {
    return state().table;
}

bool KernelThunks::isResolved(KernelThunkId id) {
    return id < kmtThunkCount && (state().resolvedMask & (1ull << id)) != 0;
}

const char* KernelThunks::name(KernelThunkId id) {
    return id < kmtThunkCount ? s_names[id] : nullptr;
}
