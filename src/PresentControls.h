// The process-wide present controls: what the interposed kernel present applies to every
// kernel present of the process. The swap chain writes them (under its device's lock) through
// the addresses the library's "getInterval" export hands out; the kernel present reads them
// on whatever thread presents, without a lock. Each is one aligned byte or 32-bit value.
#pragma once

#include "platform/win.h"

#include <stdint.h>

/// Hands out the addresses of the flip interval (initially 1), perform present (true) and
/// force interval (true). The addresses never change. False, and nothing written, when an
/// out pointer is null.
VESSA_EXPORT bool getInterval(uint32_t** ppInterval, bool** ppPerformPresent,
                              bool** ppForceInterval);

namespace PresentControls {

/// The interval written into a kernel present's FlipInterval when forceInterval() is true.
uint32_t flipInterval();
/// False: the kernel present is skipped and reports success.
bool performPresent();
/// True: flipInterval() overrides the caller's interval.
bool forceInterval();

} // namespace PresentControls
