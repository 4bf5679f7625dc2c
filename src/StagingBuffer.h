// StagingBuffer: one of a device's four interop staging buffers and where it stands.
#pragma once

#include <stdint.h>

/// States of a staging buffer. A buffer goes 0 or 1 -> 2 (injection queued on the rendering
/// GPU) -> 3 (injection finished) -> 4 (transfer from buffer queued on the presenting GPU)
/// -> 1 (the presenting GPU is done with it).
enum StagingState : uint32_t {
    e_new = 0,
    e_copiedFrom = 1,
    e_injected = 2,
    e_copyiedTo = 3,
    e_transferred = 4,
};

class StagingBuffer {
public:
    /// The interop library's staging buffer token (0 when none could be made).
    uint64_t token = 0;
    /// Signalled by the library when the rendering GPU has finished the injection.
    uint64_t cpuNotification = 0;
    /// Event query on the presenting GPU issued after the transfer from buffer; 0 when none.
    uint64_t query = 0;
    uint32_t state = e_new;
    /// Times a missing token or notification was asked for again.
    uint32_t repairs = 0;
};
