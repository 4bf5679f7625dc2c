// The one translation between a host thread's signal-frame registers (ucontext) and the
// x64 CONTEXT that Windows hands out, used by thread control (Get/SetThreadContext of a
// suspended thread) and by the unhandled-exception filter (the faulting thread's registers).
// Both run inside signal handlers: these functions allocate nothing and take no lock.
#pragma once

#include "platform/sim/win32_api.h"

#include <ucontext.h>

namespace sim {

/// Fills the parts of `context` its ContextFlags ask for (control, integer, segments,
/// floating point) from the thread's registers; other fields are left as they are.
void readThreadRegisters(const ucontext_t& uc, CONTEXT& context);

/// Writes the parts of `context` its ContextFlags name (control, integer, floating point)
/// back into the thread's registers, which the kernel restores when the handler returns.
/// Segment selectors stay: user code cannot change them on Linux.
void writeThreadRegisters(const CONTEXT& context, ucontext_t& uc);

} // namespace sim
