// The near allocator's search over a made-up address space.
#include "hook/NearAllocator.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using hook::MemoryRegion;
using hook::NearAllocator;

constexpr uint64_t kGranularity = 0x10000;
constexpr uint64_t kGiB = uint64_t(1) << 30;

/// Used ranges in an otherwise free space of [0x10000, 0x7FFFFFFF0000).
class FakeMemory : public hook::VirtualMemory {
public:
    void use(uint64_t base, uint64_t size) { m_used[base] = base + size; }

    bool query(uint64_t address, MemoryRegion& region) const override {
        ++queries;
        auto next = m_used.upper_bound(address);
        if (next != m_used.begin()) {
            auto it = std::prev(next);
            if (address < it->second) {
                region = {it->first, it->second, false, true};
                return true;
            }
        }
        uint64_t end = next == m_used.end() ? highestAddress() + 1 : next->first;
        region = {address & ~uint64_t(0xFFF), end, true, false};
        return true;
    }

    void* allocateAt(uint64_t address, size_t size) override {
        MemoryRegion region;
        if (address % kGranularity || !query(address, region) || !region.free ||
            address + size > region.end)
            return nullptr;
        use(address, size);
        return reinterpret_cast<void*>(address);
    }

    uint64_t granularity() const override { return kGranularity; }
    uint64_t lowestAddress() const override { return 0x10000; }
    uint64_t highestAddress() const override { return 0x7FFFFFFEFFFF; }

    mutable int queries = 0;

private:
    std::map<uint64_t, uint64_t> m_used;
};

uint64_t address(uint8_t* slot) {
    return reinterpret_cast<uint64_t>(slot);
}

TEST(NearAllocator, TakesTheNearestFreeBlockBelowTheTarget) {
    FakeMemory memory;
    const uint64_t image = 0x7FF600000000;
    memory.use(image, 0x200000);          // the target's module
    memory.use(image - 0x30000, 0x30000); // something right below it
    NearAllocator allocator(memory);
    uint8_t* slot = allocator.allocate(image + 0x1000, image - 2 * kGiB, image + 2 * kGiB);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(address(slot), image - 0x40000);
    // The next slot comes from the same block.
    uint8_t* second = allocator.allocate(image + 0x1000, image - 2 * kGiB, image + 2 * kGiB);
    EXPECT_EQ(address(second), address(slot) + NearAllocator::kSlotSize);
}

TEST(NearAllocator, GoesAboveWhenEverythingBelowIsTaken) {
    FakeMemory memory;
    const uint64_t image = 0x180000000;
    memory.use(0x10000, image + 0x100000 - 0x10000); // all of it up to the image's end
    NearAllocator allocator(memory);
    uint8_t* slot = allocator.allocate(image + 0x1000, image - 2 * kGiB, image + 2 * kGiB);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(address(slot), image + 0x100000);
}

TEST(NearAllocator, StaysInsideTheWindow) {
    FakeMemory memory;
    const uint64_t target = 0x7FF600000000;
    memory.use(target - kGiB, 2 * kGiB); // nothing free within 1 GiB either side
    NearAllocator allocator(memory);
    EXPECT_EQ(allocator.allocate(target, target - kGiB + 0x1000, target + kGiB - 0x1000), nullptr);
    uint8_t* slot = allocator.allocate(target, target - 2 * kGiB, target + 2 * kGiB);
    ASSERT_NE(slot, nullptr);
    EXPECT_GE(address(slot), target - 2 * kGiB);
    EXPECT_LE(address(slot) + NearAllocator::kSlotSize - 1, target + 2 * kGiB);
    // A block that exists but lies outside a later, narrower window is not used.
    EXPECT_EQ(allocator.allocate(target, address(slot) + 0x20000, target), nullptr);
}

TEST(NearAllocator, ReleasedSlotsAreReused) {
    FakeMemory memory;
    NearAllocator allocator(memory);
    const uint64_t target = 0x400000000;
    uint8_t* first = allocator.allocate(target, 0, UINT64_MAX);
    ASSERT_NE(first, nullptr);
    allocator.release(first);
    EXPECT_EQ(allocator.allocate(target, 0, UINT64_MAX), first);
}

TEST(NearAllocator, GivesUpAfterABoundedSearch) {
    FakeMemory memory;
    // The last page of every 64 KiB taken: no free run holds a whole aligned block.
    const uint64_t target = 0x100000000;
    for (uint64_t a = target - 0x4000000; a < target + 0x4000000; a += kGranularity)
        memory.use(a + kGranularity - 0x1000, 0x1000);
    NearAllocator allocator(memory);
    EXPECT_EQ(allocator.allocate(target, target - 0x4000000, target + 0x4000000), nullptr);
    EXPECT_LE(memory.queries, 2 * NearAllocator::kMaximumQueries);
}

} // namespace
