#include "hook/NearAllocator.h"

#include <algorithm>
#include <iterator>

namespace hook {

namespace {

uint64_t alignDown(uint64_t value, uint64_t alignment) {
    return value - value % alignment;
}

uint64_t alignUp(uint64_t value, uint64_t alignment) {
    uint64_t down = alignDown(value, alignment);
    return down == value ? value : down + alignment;
}

} // namespace

NearAllocator::NearAllocator(VirtualMemory& memory) : m_memory(memory) {}

uint64_t NearAllocator::blockSize() const {
    return std::max<uint64_t>(m_memory.granularity(), 64 * 1024);
}

uint8_t* NearAllocator::allocate(uint64_t near, uint64_t lowest, uint64_t highest) {
    lowest = std::max(lowest, m_memory.lowestAddress());
    highest = std::min(highest, m_memory.highestAddress());
    if (lowest > highest)
        return nullptr;
    for (Block& block : m_blocks)
        if (uint8_t* slot = takeFrom(block, lowest, highest))
            return slot;
    if (!addBlock(near, lowest, highest))
        return nullptr;
    return takeFrom(m_blocks.back(), lowest, highest);
}

void NearAllocator::release(uint8_t* slot) {
    uint64_t address = reinterpret_cast<uint64_t>(slot);
    for (Block& block : m_blocks)
        if (address >= block.base && address < block.base + block.size) {
            block.freeSlots.push_back(slot);
            return;
        }
}

uint8_t* NearAllocator::takeFrom(Block& block, uint64_t lowest, uint64_t highest) {
    // From the back: the lowest fresh slot, or the one released last.
    for (auto it = block.freeSlots.rbegin(); it != block.freeSlots.rend(); ++it) {
        uint64_t slot = reinterpret_cast<uint64_t>(*it);
        if (slot >= lowest && slot + kSlotSize - 1 <= highest) {
            uint8_t* taken = *it;
            block.freeSlots.erase(std::next(it).base());
            return taken;
        }
    }
    return nullptr;
}

bool NearAllocator::tryBlockAt(uint64_t address) {
    void* memory = m_memory.allocateAt(address, blockSize());
    if (!memory)
        return false;
    Block block{reinterpret_cast<uint64_t>(memory), blockSize(), {}};
    // Kept highest first, so slots go out from the lowest address up.
    for (uint64_t slot = block.base + block.size; slot > block.base;)
        block.freeSlots.push_back(reinterpret_cast<uint8_t*>(slot -= kSlotSize));
    m_blocks.push_back(std::move(block));
    return true;
}

bool NearAllocator::addBlock(uint64_t near, uint64_t lowest, uint64_t highest) {
    const uint64_t granularity = m_memory.granularity();
    const uint64_t size = blockSize();
    int queries = 0;
    MemoryRegion region;

    // Downward: every free run below `near`, nearest first.
    uint64_t address = alignDown(std::min(near, highest), granularity);
    while (address >= lowest && queries++ < kMaximumQueries && m_memory.query(address, region)) {
        if (region.free && address + size <= region.end && address + size - 1 <= highest &&
            tryBlockAt(address))
            return true;
        uint64_t below = region.free ? address : region.base;
        if (below < granularity + lowest)
            break;
        address = alignDown(below - 1, granularity);
    }

    // Upward from the first boundary above `near`.
    address = alignUp(std::max(near, lowest), granularity);
    while (address + size - 1 <= highest && queries++ < kMaximumQueries &&
           m_memory.query(address, region)) {
        if (region.free && address + size <= region.end && tryBlockAt(address))
            return true;
        uint64_t next = alignUp(region.end, granularity);
        address = next > address ? next : address + granularity;
    }
    return false;
}

} // namespace hook
