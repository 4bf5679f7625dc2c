// Module image extents: PE headers on Windows, the dynamic linker's segments on Linux.
#include "platform/ModuleImage.h"

#include <cstdint>
#include <cstring>

#ifdef _WIN32

namespace {

bool readable(const void* address, size_t size) {
    MEMORY_BASIC_INFORMATION info;
    const auto* begin = static_cast<const uint8_t*>(address);
    while (size > 0) {
        if (VirtualQuery(begin, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
            (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)))
            return false;
        size_t left = static_cast<const uint8_t*>(info.BaseAddress) + info.RegionSize - begin;
        if (left >= size)
            return true;
        begin += left;
        size -= left;
    }
    return true;
}

} // namespace

size_t platform::moduleImageSize(HMODULE module) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    if (!base || !readable(base, 64))
        return 0;
    uint16_t signature;
    memcpy(&signature, base, sizeof signature);
    if (signature != 0x5A4D) // "MZ"
        return 0;
    uint32_t ntOffset;
    memcpy(&ntOffset, base + 60, sizeof ntOffset);
    const uint8_t* nt = base + ntOffset;
    if (!readable(nt, 264))
        return 0;
    uint32_t peSignature;
    uint16_t optionalHeaderSize;
    uint32_t sizeOfImage;
    memcpy(&peSignature, nt, sizeof peSignature);
    memcpy(&optionalHeaderSize, nt + 20,
           sizeof optionalHeaderSize);                      // FileHeader.SizeOfOptionalHeader
    memcpy(&sizeOfImage, nt + 24 + 56, sizeof sizeOfImage); // OptionalHeader.SizeOfImage
    if (peSignature != 0x4550 || optionalHeaderSize == 0)   // "PE\0\0"
        return 0;
    return sizeOfImage;
}

#else

#include <link.h>

size_t platform::moduleImageSize(HMODULE module) {
    struct Search {
        uintptr_t base;
        size_t size;
    } search{reinterpret_cast<uintptr_t>(module), 0};
    if (!search.base)
        return 0;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            uintptr_t begin = UINTPTR_MAX, end = 0;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                if (segment.p_type != PT_LOAD)
                    continue;
                uintptr_t start = info->dlpi_addr + segment.p_vaddr;
                begin = start < begin ? start : begin;
                end = start + segment.p_memsz > end ? start + segment.p_memsz : end;
            }
            begin &= ~uintptr_t(0xFFF); // an HMODULE is the first mapped page
            if (begin != s->base)
                return 0;
            s->size = end - begin;
            return 1;
        },
        &search);
    return search.size;
}

#endif
