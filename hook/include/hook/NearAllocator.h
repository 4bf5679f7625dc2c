// Executable slots for hook entries, placed where a 32-bit jump from the target reaches.
//
// A hook's first bytes become `jmp rel32`, so its entry must lie within +-2 GiB of the
// target; moved RIP-relative operands narrow the span further. Slots come from 64 KiB
// blocks found by walking the address space outward from the target, nearest first below
// (where Windows leaves room under its images), then above.
#pragma once

#include "hook/VirtualMemory.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hook {

class NearAllocator {
public:
    static constexpr size_t kSlotSize = 128;
    /// How many regions one search may look at before it gives up.
    static constexpr int kMaximumQueries = 1 << 16;

    explicit NearAllocator(VirtualMemory& memory);

    /// A slot of kSlotSize bytes lying wholly inside [lowest, highest] (inclusive), searched
    /// from `near` outward; null when none can be had. The slot's memory is
    /// read-write-execute.
    uint8_t* allocate(uint64_t near, uint64_t lowest, uint64_t highest);

    /// Gives a slot back for reuse (its memory stays mapped).
    void release(uint8_t* slot);

private:
    struct Block {
        uint64_t base;
        size_t size;
        std::vector<uint8_t*> freeSlots;
    };

    VirtualMemory& m_memory;
    std::vector<Block> m_blocks;

    uint64_t blockSize() const;
    uint8_t* takeFrom(Block& block, uint64_t lowest, uint64_t highest);
    bool addBlock(uint64_t near, uint64_t lowest, uint64_t highest);
    bool tryBlockAt(uint64_t address);
};

} // namespace hook
