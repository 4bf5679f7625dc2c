#include "HeapUsage.h"

#include <malloc.h>
#include <stdio.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SOAK_ASAN 1
#endif

#if defined(SOAK_ASAN)
// The sanitizer runtime's allocator statistics (its header is not always installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

namespace soak {

size_t heapBytesInUse() {
#if defined(SOAK_ASAN)
    return __sanitizer_get_current_allocated_bytes();
#else
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

size_t residentBytes() {
    FILE* f = fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    unsigned long total = 0, resident = 0;
    const bool read = fscanf(f, "%lu %lu", &total, &resident) == 2;
    fclose(f);
    return read ? size_t(resident) * size_t(sysconf(_SC_PAGESIZE)) : 0;
}

} // namespace soak
