// kernel32.dll: virtual memory over the host's mappings, with Windows' granularity.
//
// Reservations start on 64 KiB boundaries, as Windows' allocation granularity requires, so
// code that probes for free memory near an address (trampolines within +-2 GiB) behaves as
// it does on Windows. Protections and regions are read from /proc/self/maps.
#include "platform/sim/win32_api.h"
#include "sim/Machine.h"

#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uintptr_t kPage = 4096;
constexpr uintptr_t kGranularity = 65536;
constexpr uintptr_t kMinimumAddress = 0x10000;
constexpr uintptr_t kMaximumAddress = 0x7FFFFFFEFFFFull;

/// One line of /proc/self/maps.
struct Region {
    uintptr_t begin;
    uintptr_t end;
    int protection; // PROT_*
    bool fileBacked;
};

std::vector<Region> hostRegions() {
    std::vector<Region> regions;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream in(line);
        std::string range, perms, offset, device;
        unsigned long inode = 0;
        in >> range >> perms >> offset >> device >> inode;
        size_t dash = range.find('-');
        if (dash == std::string::npos || perms.size() < 3)
            continue;
        Region r;
        r.begin = std::stoull(range.substr(0, dash), nullptr, 16);
        r.end = std::stoull(range.substr(dash + 1), nullptr, 16);
        r.protection = (perms[0] == 'r' ? PROT_READ : 0) | (perms[1] == 'w' ? PROT_WRITE : 0) |
                       (perms[2] == 'x' ? PROT_EXEC : 0);
        r.fileBacked = inode != 0;
        regions.push_back(r);
    }
    return regions;
}

DWORD windowsProtection(int protection) {
    bool r = protection & PROT_READ, w = protection & PROT_WRITE, x = protection & PROT_EXEC;
    if (x)
        return w ? PAGE_EXECUTE_READWRITE : (r ? PAGE_EXECUTE_READ : PAGE_EXECUTE);
    if (w)
        return PAGE_READWRITE;
    return r ? PAGE_READONLY : PAGE_NOACCESS;
}

bool hostProtection(DWORD protect, int& out) {
    switch (protect & 0xFF) {
    case PAGE_NOACCESS:
        out = PROT_NONE;
        return true;
    case PAGE_READONLY:
        out = PROT_READ;
        return true;
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:
        out = PROT_READ | PROT_WRITE;
        return true;
    case PAGE_EXECUTE:
    case PAGE_EXECUTE_READ:
        out = PROT_READ | PROT_EXEC;
        return true;
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
        out = PROT_READ | PROT_WRITE | PROT_EXEC;
        return true;
    default:
        return false;
    }
}

/// The reservations VirtualAlloc made: base -> size, with their protection at allocation.
struct Reservation {
    size_t size;
    DWORD protect;
};
std::mutex s_lock;
std::map<uintptr_t, Reservation> s_reservations;

const Reservation* reservationOf(uintptr_t address, uintptr_t& base) {
    auto it = s_reservations.upper_bound(address);
    if (it == s_reservations.begin())
        return nullptr;
    --it;
    if (address >= it->first + it->second.size)
        return nullptr;
    base = it->first;
    return &it->second;
}

} // namespace

LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect) {
    int protection = 0;
    if (size == 0 || !hostProtection(protect, protection) ||
        !(allocationType & (MEM_COMMIT | MEM_RESERVE)) ||
        (allocationType & ~(MEM_COMMIT | MEM_RESERVE))) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(s_lock);
    uintptr_t requested = reinterpret_cast<uintptr_t>(address);
    uintptr_t base = 0;
    // Committing pages of an existing reservation changes their protection.
    if (requested && !(allocationType & MEM_RESERVE)) {
        if (!reservationOf(requested, base)) {
            sim::setLastError(ERROR_INVALID_ADDRESS);
            return nullptr;
        }
        uintptr_t begin = requested & ~(kPage - 1);
        uintptr_t end = (requested + size + kPage - 1) & ~(kPage - 1);
        if (mprotect(reinterpret_cast<void*>(begin), end - begin, protection) != 0) {
            sim::setLastError(ERROR_INVALID_ADDRESS);
            return nullptr;
        }
        return reinterpret_cast<void*>(begin);
    }
    size_t length = (size + kPage - 1) & ~(kPage - 1);
    int reserveProtection = (allocationType & MEM_COMMIT) ? protection : PROT_NONE;
    void* mapped;
    if (requested) {
        uintptr_t aligned = requested & ~(kGranularity - 1);
        mapped = mmap(reinterpret_cast<void*>(aligned), length, reserveProtection,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (mapped != MAP_FAILED && reinterpret_cast<uintptr_t>(mapped) != aligned) {
            munmap(mapped, length); // an old kernel treated the hint as a hint
            mapped = MAP_FAILED;
        }
    } else {
        // Over-allocate to find a 64 KiB boundary, then trim.
        size_t padded = length + kGranularity;
        void* raw = mmap(nullptr, padded, reserveProtection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        mapped = raw;
        if (raw != MAP_FAILED) {
            uintptr_t begin = reinterpret_cast<uintptr_t>(raw);
            uintptr_t aligned = (begin + kGranularity - 1) & ~(kGranularity - 1);
            if (aligned > begin)
                munmap(raw, aligned - begin);
            if (begin + padded > aligned + length)
                munmap(reinterpret_cast<void*>(aligned + length),
                       begin + padded - aligned - length);
            mapped = reinterpret_cast<void*>(aligned);
        }
    }
    if (mapped == MAP_FAILED) {
        sim::setLastError(requested ? ERROR_INVALID_ADDRESS : ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    s_reservations[reinterpret_cast<uintptr_t>(mapped)] = Reservation{length, protect};
    return mapped;
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
    std::lock_guard<std::mutex> guard(s_lock);
    uintptr_t base = 0;
    const Reservation* reservation = reservationOf(reinterpret_cast<uintptr_t>(address), base);
    if (!reservation) {
        sim::setLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    if (freeType == MEM_RELEASE) {
        // A release frees the whole reservation and takes its base and a size of 0.
        if (size != 0 || base != reinterpret_cast<uintptr_t>(address)) {
            sim::setLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        munmap(address, reservation->size);
        s_reservations.erase(base);
        return TRUE;
    }
    if (freeType == MEM_DECOMMIT) {
        uintptr_t begin = reinterpret_cast<uintptr_t>(address) & ~(kPage - 1);
        size_t length =
            size
                ? ((reinterpret_cast<uintptr_t>(address) + size + kPage - 1) & ~(kPage - 1)) - begin
                : reservation->size - (begin - base);
        mmap(reinterpret_cast<void*>(begin), length, PROT_NONE,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        return TRUE;
    }
    sim::setLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL WINAPI VirtualProtect(LPVOID address, SIZE_T size, DWORD newProtect, LPDWORD oldProtect) {
    int protection = 0;
    if (!oldProtect || !hostProtection(newProtect, protection)) {
        sim::setLastError(oldProtect ? ERROR_INVALID_PARAMETER : ERROR_NOACCESS);
        return FALSE;
    }
    uintptr_t begin = reinterpret_cast<uintptr_t>(address) & ~(kPage - 1);
    uintptr_t end =
        (reinterpret_cast<uintptr_t>(address) + (size ? size : 1) + kPage - 1) & ~(kPage - 1);
    DWORD previous = 0;
    bool mapped = false;
    for (const Region& r : hostRegions()) {
        if (begin >= r.begin && begin < r.end) {
            previous = windowsProtection(r.protection);
            mapped = true;
            break;
        }
    }
    if (!mapped || mprotect(reinterpret_cast<void*>(begin), end - begin, protection) != 0) {
        sim::setLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    *oldProtect = previous;
    return TRUE;
}

SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length) {
    uintptr_t target = reinterpret_cast<uintptr_t>(address);
    if (!info || length < sizeof(MEMORY_BASIC_INFORMATION) || target > kMaximumAddress) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    memset(info, 0, sizeof *info);
    uintptr_t page = target & ~(kPage - 1);
    info->BaseAddress = reinterpret_cast<void*>(page);
    for (const Region& r : hostRegions()) {
        if (page < r.begin) {
            // A free gap between two mappings.
            info->State = MEM_FREE;
            info->Protect = PAGE_NOACCESS;
            info->RegionSize = r.begin - page;
            return sizeof *info;
        }
        if (page < r.end) {
            info->RegionSize = r.end - page;
            info->Protect = windowsProtection(r.protection);
            info->Type = r.fileBacked ? MEM_IMAGE : MEM_PRIVATE;
            std::lock_guard<std::mutex> guard(s_lock);
            uintptr_t base = 0;
            const Reservation* reservation = reservationOf(page, base);
            info->AllocationBase = reinterpret_cast<void*>(reservation ? base : r.begin);
            info->AllocationProtect = reservation ? reservation->protect : info->Protect;
            bool reservedOnly = reservation && r.protection == PROT_NONE;
            info->State = reservedOnly ? MEM_RESERVE : MEM_COMMIT;
            if (reservedOnly)
                info->Protect = 0;
            return sizeof *info;
        }
    }
    info->State = MEM_FREE;
    info->Protect = PAGE_NOACCESS;
    info->RegionSize = kMaximumAddress + 1 - page;
    return sizeof *info;
}

BOOL WINAPI FlushInstructionCache(HANDLE process, LPCVOID address, SIZE_T size) {
    // x86-64 keeps instruction and data caches coherent; only the compiler must not reorder.
    __builtin___clear_cache(static_cast<char*>(const_cast<void*>(address)),
                            static_cast<char*>(const_cast<void*>(address)) + size);
    return TRUE;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
    if (!info)
        return;
    memset(info, 0, sizeof *info);
    long processors = sysconf(_SC_NPROCESSORS_ONLN);
    info->u.s.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    info->dwPageSize = kPage;
    info->lpMinimumApplicationAddress = reinterpret_cast<void*>(kMinimumAddress);
    info->lpMaximumApplicationAddress = reinterpret_cast<void*>(kMaximumAddress);
    info->dwNumberOfProcessors = processors > 0 ? static_cast<DWORD>(processors) : 1;
    info->dwActiveProcessorMask =
        info->dwNumberOfProcessors >= 64 ? ~0ull : (1ull << info->dwNumberOfProcessors) - 1;
    info->dwProcessorType = 8664; // PROCESSOR_AMD_X8664
    info->dwAllocationGranularity = kGranularity;
    info->wProcessorLevel = 6;
}
