// The state and operations of the simulated interop library: registered devices, mapped
// resources, staging buffer tokens and CPU notifications, and the two halves of a
// transfer, which move pixels between the simulated GPUs' kernel allocations as GPU work:
// the injection on the rendering GPU, the copy out on the presenting GPU.
//
// Every operation is thread-safe: devices on several threads call in at once. Objects are
// named by handles from counters (never reused), so a stale or made-up handle is refused
// with a status instead of being followed.
#pragma once

#include "CopyTicket.h"
#include "VessaInterop.h"
#include "sim/drivers/DriverControl.h"
#include "sim/gpus/Kernel.h"

#include <map>
#include <memory>
#include <mutex>
#include <stdint.h>
#include <vector>

namespace interop {

/// A staging buffer token's record. The token handed out is the record's address; byte 80
/// is the filled flag the driver tests and clears.
struct TokenRecord {
    uint8_t header[kViTokenFilledFlagOffset];
    uint8_t filled;
    uint8_t reserved[7];
};
static_assert(sizeof(TokenRecord::header) == 80, "the filled flag is byte 80 of the record");

class InteropLibrary {
public:
    static InteropLibrary& instance();

    // Root
    VI_STATUS createObjects(ViObject** ppGpu, ViObject** ppDdi9);
    VI_STATUS destroyObjects(ViObject* pDdi9, ViObject* pGpu);
    UINT nextGroupId();

    // DDI9 interop object
    VI_STATUS registerDevice(const ViDeviceDescriptor* pDescriptors, UINT groupId, UINT count);
    VI_STATUS forgetDevice(UINT groupId);
    VI_STATUS mapResource(UINT groupId, UINT gpu, UINT64 hResource, UINT64* pCell);
    VI_STATUS unmap(UINT64 mapped);

    // GPU interop object
    VI_STATUS createToken(UINT groupId, UINT renderingGpu, UINT presentingGpu, UINT width,
                          UINT height, UINT bitsPerPixel, UINT format, UINT64* pToken);
    VI_STATUS destroyToken(UINT64 token);
    VI_STATUS createNotification(UINT groupId, UINT gpu, UINT64* pNotification);
    VI_STATUS destroyNotification(UINT64 notification);
    VI_STATUS testNotification(UINT64 notification);
    VI_STATUS inject(UINT64 srcMapped, UINT srcSub, const RECT* pSrcRect, UINT64 dstMapped,
                     UINT dstSub, const RECT* pDstRect, UINT64 token, UINT64 notification);
    VI_STATUS transferFromBuffer(UINT64 token, UINT64 dstMapped, UINT dstSub);

    /// Live objects, for leak checks.
    size_t liveTokens();
    size_t liveNotifications();
    size_t liveMappings();

private:
    struct Device {
        ViDeviceDescriptor descriptors[2] = {};
        UINT count = 0;
    };
    struct Mapping {
        UINT groupId = 0;
        UINT gpu = 0;
        const void* hResource = nullptr;
    };
    /// A staging buffer: the library's memory between the two GPUs. Shared with the GPU
    /// work that reads or writes it, so a token destroyed with copies queued stays alive
    /// until they ran.
    struct Token {
        TokenRecord record = {};
        UINT groupId = 0;
        UINT width = 0;
        UINT height = 0;
        UINT bytesPerPixel = 4;
        std::vector<uint8_t> pixels;
        RECT dstRect = {};
        std::shared_ptr<CopyTicket> injection; ///< the last one; null before the first
        /// The last copy out of the buffer: the next injection waits for it, as a real
        /// library orders a write of its buffer behind the read before it.
        std::shared_ptr<CopyTicket> copyOut;
    };
    struct Notification {
        UINT groupId = 0;
        /// The injection it signals; null when nobody injected for it (then it is signalled).
        std::shared_ptr<CopyTicket> injection;
    };

    InteropLibrary() = default;
    /// The kernel allocation of surface `sub` of a mapped resource; 0 when none.
    static uint32_t surfaceAllocation(const Mapping& mapping, UINT sub);
    /// The part of `rect` a copy between the allocation and the staging buffer moves
    /// (clipped to both). Invalid handle when the allocation has no memory, invalid argument
    /// when nothing of `rect` is left.
    static VI_STATUS copyArea(uint32_t hAllocation, const RECT& rect, const Token& staging,
                              RECT& area);
    /// A gate that opens once `ticket`'s copy ran and its moment has come; none for none.
    static sim::GpuGate afterCopy(const std::shared_ptr<CopyTicket>& ticket);
    enum class CopyDirection { IntoStaging, OutOfStaging };
    /// Moves the rows of `area` between the allocation and the staging buffer; run by a GPU
    /// (the kernel's lock held), so an allocation gone by then moves nothing.
    static void moveArea(uint32_t hAllocation, const RECT& area, Token& staging,
                         CopyDirection direction);
    /// Moves all of `area` in one copy when it spans whole rows of equal pitch in both
    /// memories; false (nothing moved) otherwise.
    static bool moveBlock(const sim::AllocationInfo& info, const RECT& area, Token& staging,
                          CopyDirection direction);

    std::mutex m_lock;
    bool m_objectsLive = false;
    UINT m_nextGroupId = 1;
    uint64_t m_nextHandle = 1;
    std::map<UINT, Device> m_devices;
    std::map<uint64_t, Mapping> m_mappings;
    std::map<uint64_t, std::shared_ptr<Token>> m_tokens;
    std::map<uint64_t, Notification> m_notifications;
};

} // namespace interop
