// GuardedEntry: the one place where a wrapped DDI entry stops a C++ exception.
#pragma once

#include "Report.h"
#include "platform/win.h"

/// Runs the body of wrapped entry `entry`; an exception becomes a reported E_FAIL, so none
/// ever reaches the runtime.
template <typename Fn> HRESULT guardedEntry(const char* entry, Fn fn) {
    try {
        return fn();
    } catch (...) {
        VESSA_REPORT(Error, 0, "false", "%s: unexpected exception", entry);
        return E_FAIL;
    }
}
