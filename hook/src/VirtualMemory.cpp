#include "hook/VirtualMemory.h"

#include "platform/win.h"

namespace hook {

size_t VirtualMemory::readableLength(uint64_t address, size_t limit) const {
    size_t length = 0;
    MemoryRegion region;
    while (length < limit && query(address + length, region) && region.readable &&
           region.end > address + length)
        length = static_cast<size_t>(region.end - address);
    return length < limit ? length : limit;
}

Win32VirtualMemory::Win32VirtualMemory() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    m_granularity = info.dwAllocationGranularity;
    m_lowest = reinterpret_cast<uint64_t>(info.lpMinimumApplicationAddress);
    m_highest = reinterpret_cast<uint64_t>(info.lpMaximumApplicationAddress);
}

bool Win32VirtualMemory::query(uint64_t address, MemoryRegion& region) const {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<LPCVOID>(address), &info, sizeof info) != sizeof info)
        return false;
    uint64_t base = reinterpret_cast<uint64_t>(info.BaseAddress);
    region.end = base + info.RegionSize;
    region.free = info.State == MEM_FREE;
    region.base = region.free ? base : reinterpret_cast<uint64_t>(info.AllocationBase);
    const DWORD readableProtections = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                      PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                                      PAGE_EXECUTE_WRITECOPY;
    region.readable = info.State == MEM_COMMIT && (info.Protect & readableProtections) &&
                      !(info.Protect & PAGE_GUARD);
    return true;
}

void* Win32VirtualMemory::allocateAt(uint64_t address, size_t size) {
    return VirtualAlloc(reinterpret_cast<LPVOID>(address), size, MEM_RESERVE | MEM_COMMIT,
                        PAGE_EXECUTE_READWRITE);
}

} // namespace hook
