// Executable memory for tests that run code built from bytes: slots from the engine's
// allocator, so the original and its relocated entry lie within 2 GiB of each other.
#pragma once

#include "hook/NearAllocator.h"
#include "hook/VirtualMemory.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace hooktest {

/// The calling convention the byte arrays are written for (first argument in rcx), on
/// both builds.
using Function = int(__attribute__((ms_abi)) *)(long long argument);

inline hook::NearAllocator& allocator() {
    static hook::Win32VirtualMemory memory;
    static hook::NearAllocator allocator(memory);
    return allocator;
}

/// A slot near `near` (near the allocator's first block by default).
inline uint8_t* slotNear(uint64_t near) {
    const uint64_t span = uint64_t(1) << 30;
    return allocator().allocate(near, near > span ? near - span : 0, near + span);
}

/// Copies `bytes` into a fresh executable slot (padded with int3).
inline uint8_t* place(const std::vector<uint8_t>& bytes, uint64_t near) {
    uint8_t* slot = slotNear(near);
    if (!slot)
        return nullptr;
    memset(slot, 0xCC, hook::NearAllocator::kSlotSize);
    memcpy(slot, bytes.data(), bytes.size());
    return slot;
}

inline Function asFunction(const void* code) {
    return reinterpret_cast<Function>(const_cast<void*>(code));
}

} // namespace hooktest
