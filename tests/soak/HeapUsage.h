// What the process holds in memory, for the soak's growth checks.
#pragma once

#include <stddef.h>

namespace soak {

/// Bytes of heap blocks in use: the allocator's own count (AddressSanitizer's when the
/// build has it, whose quarantine and shadow would otherwise hide a leak in the resident
/// size).
size_t heapBytesInUse();

/// The process's resident set, in bytes (0 when it cannot be read).
size_t residentBytes();

} // namespace soak
