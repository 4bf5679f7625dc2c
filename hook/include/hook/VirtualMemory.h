// The process's address space as the interception engine sees it.
//
// The allocator's search for free memory near a target is plain logic over this seam, so
// tests drive it with a made-up address space; Win32VirtualMemory is the real one
// (VirtualQuery/VirtualAlloc, which the simulated machine serves from the host's mappings).
#pragma once

#include <cstddef>
#include <cstdint>

namespace hook {

/// One run of pages with the same state.
struct MemoryRegion {
    uint64_t base = 0; ///< a free run: the queried page; a used one: its allocation's base
    uint64_t end = 0;  ///< one past the run's last byte
    bool free = false;
    bool readable = false; ///< committed and readable
};

class VirtualMemory {
public:
    virtual ~VirtualMemory() = default;
    /// The region holding `address`; false when the address cannot be queried.
    virtual bool query(uint64_t address, MemoryRegion& region) const = 0;
    /// Reserves and commits `size` read-write-execute bytes exactly at `address` (a
    /// multiple of the granularity); null when the address is taken.
    virtual void* allocateAt(uint64_t address, size_t size) = 0;
    /// Allocations start on multiples of this.
    virtual uint64_t granularity() const = 0;
    virtual uint64_t lowestAddress() const = 0;
    virtual uint64_t highestAddress() const = 0;

    /// How many bytes from `address` on (at most `limit`) are readable.
    size_t readableLength(uint64_t address, size_t limit) const;
};

/// The real address space, through the Win32 virtual-memory functions.
class Win32VirtualMemory : public VirtualMemory {
public:
    Win32VirtualMemory();
    bool query(uint64_t address, MemoryRegion& region) const override;
    void* allocateAt(uint64_t address, size_t size) override;
    uint64_t granularity() const override { return m_granularity; }
    uint64_t lowestAddress() const override { return m_lowest; }
    uint64_t highestAddress() const override { return m_highest; }

private:
    uint64_t m_granularity;
    uint64_t m_lowest;
    uint64_t m_highest;
};

} // namespace hook
