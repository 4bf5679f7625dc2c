// DeviceFuncs_auto: the wrapped device entries, one per listed D3DDDI_DEVICEFUNCS slot.
#include "DeviceFuncs_auto.h"

#include "Device9.h"
#include "DeviceUse.h"
#include "GuardedEntry.h"
#include "Report.h"

#include <stddef.h>
#include <type_traits>

namespace {

#define VESSA_DEVICEFUNCS_CHECK(slot, member, Route, Pfn, params, args)                            \
    static_assert(offsetof(D3DDDI_DEVICEFUNCS, member) == (slot) * sizeof(void*),                  \
                  #member " is in its slot");
VESSA_DEVICEFUNCS_WRAPPED(VESSA_DEVICEFUNCS_CHECK)
#undef VESSA_DEVICEFUNCS_CHECK

#define VESSA_DEVICEFUNCS_COUNT(slot, member, Route, Pfn, params, args) +1
static_assert(0 VESSA_DEVICEFUNCS_WRAPPED(VESSA_DEVICEFUNCS_COUNT) == DeviceFuncs::kWrappedCount,
              "wrapped entry count");
#undef VESSA_DEVICEFUNCS_COUNT

/// An entry that found its device just before another thread destroyed it.
HRESULT retiredDevice(const char* entry, HANDLE hDevice) {
    VESSA_REPORT(Error, 0, "!pDevice->retired()", "%s: device %p was destroyed meanwhile", entry,
                 hDevice);
    return E_FAIL;
}

} // namespace

namespace DeviceFuncs {

#define VESSA_UNPAREN(...) __VA_ARGS__
#define VESSA_DEVICEFUNCS_DEFINE(slot, member, Route, Pfn, params, args)                           \
    HRESULT APIENTRY member params {                                                               \
        static_assert(std::is_same<decltype(&member), Pfn>::value, #member " signature");          \
        return guardedEntry(#member, [&]() -> HRESULT {                                            \
            DeviceUse use(hDevice);                                                                \
            Device* pDevice = use.get();                                                           \
            if (!pDevice)                                                                          \
                return E_FAIL;                                                                     \
            DeviceLockGuard lock(pDevice);                                                         \
            if (pDevice->retired())                                                                \
                return retiredDevice(#member, hDevice);                                            \
            return Route(pDevice, lock, VESSA_UNPAREN args);                                       \
        });                                                                                        \
    }
VESSA_DEVICEFUNCS_WRAPPED(VESSA_DEVICEFUNCS_DEFINE)
#undef VESSA_DEVICEFUNCS_DEFINE

void fill(D3DDDI_DEVICEFUNCS* pFuncs) {
#define VESSA_DEVICEFUNCS_FILL(slot, member, Route, Pfn, params, args) pFuncs->member = member;
    VESSA_DEVICEFUNCS_WRAPPED(VESSA_DEVICEFUNCS_FILL)
#undef VESSA_DEVICEFUNCS_FILL
}

bool isWrapped(unsigned slot) {
#define VESSA_DEVICEFUNCS_IS(s, member, Route, Pfn, params, args)                                  \
    if (slot == (s))                                                                               \
        return true;
    VESSA_DEVICEFUNCS_WRAPPED(VESSA_DEVICEFUNCS_IS)
#undef VESSA_DEVICEFUNCS_IS
    return false;
}

} // namespace DeviceFuncs
