// The NTSTATUS values the simulated kernel answers with, typed as NTSTATUS (some of the
// shared definitions are DWORD so that they compare alike with <windows.h>'s).
#pragma once

#include "platform/win.h"

#include <string.h>

namespace sim {

constexpr NTSTATUS kStatusSuccess = NTSTATUS(STATUS_SUCCESS);
constexpr NTSTATUS kStatusInvalidParameter = NTSTATUS(STATUS_INVALID_PARAMETER);
constexpr NTSTATUS kStatusInvalidHandle = NTSTATUS(STATUS_INVALID_HANDLE);
constexpr NTSTATUS kStatusUnsuccessful = NTSTATUS(STATUS_UNSUCCESSFUL);
constexpr NTSTATUS kStatusNotExclusiveModeOwner =
    NTSTATUS(STATUS_GRAPHICS_NOT_EXCLUSIVE_MODE_OWNER);
constexpr NTSTATUS kStatusVidPnSourceInUse = NTSTATUS(STATUS_GRAPHICS_VIDPN_SOURCE_IN_USE);
constexpr NTSTATUS kStatusObjectNameNotFound = NTSTATUS(STATUS_OBJECT_NAME_NOT_FOUND);
constexpr NTSTATUS kStatusBufferTooSmall = NTSTATUS(STATUS_BUFFER_TOO_SMALL);
constexpr NTSTATUS kStatusNotSupported = NTSTATUS(STATUS_NOT_SUPPORTED);
constexpr NTSTATUS kStatusNoMemory = NTSTATUS(STATUS_NO_MEMORY);
constexpr NTSTATUS kStatusNoVideoMemory = NTSTATUS(STATUS_GRAPHICS_NO_VIDEO_MEMORY);
constexpr NTSTATUS kStatusAllocationBusy = NTSTATUS(STATUS_GRAPHICS_ALLOCATION_BUSY);

/// The raw value of an enumeration member of a caller's structure. The kernel must not
/// trust a caller to stay inside an enumeration's range, and loading an out-of-range value
/// as the enumeration type is undefined, so it reads the 32 bits as they are.
template <class E> UINT rawValue(const E& member) {
    static_assert(sizeof(E) == sizeof(UINT), "32-bit enumeration expected");
    UINT value;
    memcpy(&value, &member, sizeof value);
    return value;
}

/// The flag bits Windows 7 defines in the flag words the kernel reads; a set bit outside
/// them is a reserved one, which the kernel refuses (STATUS_INVALID_PARAMETER) rather than
/// ignore, so a caller that fills a flag word from the wrong structure is caught.
constexpr UINT kCreateDeviceFlagBits = 0x3;      ///< LegacyMode, RequestVSync
constexpr UINT kCreateAllocationFlagBits = 0x3F; ///< CreateResource ... ExistingSysMem
constexpr UINT kAllocationInfoFlagBits = 0x1;    ///< Primary
constexpr UINT kRenderFlagBits = 0x7F;           ///< ResizeCommandBuffer ... RenderKmReadback
constexpr UINT kPresentFlagBits = 0x1FFFF;       ///< Blt ... RedirectedBlt
constexpr UINT kLockFlagBits = 0x7FF;            ///< ReadOnly ... IgnoreReadSync
constexpr UINT kCreateContextFlagBits = 0x1;     ///< NullRendering
constexpr UINT kEscapeFlagBits = 0x1;            ///< HardwareAccess

/// True when no bit outside `known` is set.
inline bool onlyKnownBits(UINT value, UINT known) {
    return (value & ~known) == 0;
}

/// Enumeration members the kernel reads from callers: anything else is refused.
inline bool validClientHint(UINT hint) {
    return hint <= D3DKMT_CLIENTHINT_CDD ||
           (hint >= D3DKMT_CLIENTHINT_DX7 && hint <= D3DKMT_CLIENTHINT_DX10);
}
inline bool validScanLineOrdering(UINT ordering) {
    return ordering <= D3DDDI_VSSLO_INTERLACED_LOWERFIELDFIRST || ordering == D3DDDI_VSSLO_OTHER;
}
inline bool validRotation(UINT rotation) {
    return rotation >= D3DDDI_ROTATION_IDENTITY && rotation <= D3DDDI_ROTATION_270;
}

} // namespace sim
