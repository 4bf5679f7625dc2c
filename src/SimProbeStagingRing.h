// The record vessaProbeStagingRing fills, shared by the export and the tests that read it so
// the two cannot drift apart.
#pragma once

#include "platform/win.h"

#include <stdint.h>

/// What a device's staging ring holds: the four states (0xFFFFFFFF for an empty slot), the
/// four tokens and event queries, the device's write and read counts, the stored
/// description, and the interop group the ring is registered in.
struct VessaProbeStagingRing {
    uint32_t states[4];
    uint64_t tokens[4];
    uint64_t queries[4];
    uint32_t writeCount;
    uint32_t readCount;
    uint32_t desc[7];
    uint32_t groupId;
    BOOL registered;
};
