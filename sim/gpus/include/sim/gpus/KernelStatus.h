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
constexpr NTSTATUS kStatusObjectNameNotFound = NTSTATUS(STATUS_OBJECT_NAME_NOT_FOUND);
constexpr NTSTATUS kStatusBufferTooSmall = NTSTATUS(STATUS_BUFFER_TOO_SMALL);
constexpr NTSTATUS kStatusNotSupported = NTSTATUS(STATUS_NOT_SUPPORTED);
constexpr NTSTATUS kStatusNoMemory = NTSTATUS(STATUS_NO_MEMORY);
constexpr NTSTATUS kStatusNoVideoMemory = NTSTATUS(STATUS_GRAPHICS_NO_VIDEO_MEMORY);

/// The raw value of an enumeration member of a caller's structure. The kernel must not
/// trust a caller to stay inside an enumeration's range, and loading an out-of-range value
/// as the enumeration type is undefined, so it reads the 32 bits as they are.
template <class E> UINT rawValue(const E& member) {
    static_assert(sizeof(E) == sizeof(UINT), "32-bit enumeration expected");
    UINT value;
    memcpy(&value, &member, sizeof value);
    return value;
}

} // namespace sim
