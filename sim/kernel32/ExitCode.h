// GetExitCodeProcess and GetExitCodeThread share one answer (kernel32.dll internals).
#pragma once

#include "platform/sim/win32_api.h"
#include "sim/Machine.h"

namespace sim {

/// Writes the exit code of the `Object` (a process or thread kernel object) behind `handle`
/// to `exitCode` (STILL_ACTIVE while it runs). FALSE with ERROR_INVALID_HANDLE when the
/// handle is not such an object, ERROR_NOACCESS for a null `exitCode`.
template <typename Object> BOOL exitCodeOf(HANDLE handle, LPDWORD exitCode) {
    auto object = Machine::instance().handles().getAs<Object>(handle);
    if (!object) {
        setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!exitCode) {
        setLastError(ERROR_NOACCESS);
        return FALSE;
    }
    *exitCode = object->exitCode();
    return TRUE;
}

} // namespace sim
