// The simulated interop library's state and the two halves of a transfer.
//
// Both halves are GPU work, as a real library's copies are: an injection records the copy
// of the source surface into the token's memory on the device that owns the source, behind
// the application's drawing, and submits it; the call returns at once. Its CPU
// notification is signalled once that copy ran and the machine's interop delay has passed.
// A transfer from buffer records the copy of the token's memory into the destination on
// the presenting device, gated on the injection (and the notification's moment), so work
// queued without CPU waits (asynchronous mode) is still ordered; the presenting device's
// later commands run after it. The pixels move when the simulated GPUs run the work.
#include "InteropLibrary.h"

#include "sim/Clock.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/InteropSettings.h"
#include "sim/gpus/Kernel.h"

#include <algorithm>
#include <string.h>

namespace interop {

namespace {

uint64_t notifyDelayNs() {
    std::shared_ptr<const sim::MachineDesc> pMachine = sim::Kernel::instance().machine();
    return pMachine ? uint64_t(pMachine->interopNotifyUs) * 1000 : 0;
}

/// `rect` clipped to a width x height surface; false when nothing is left.
bool clip(const RECT& rect, uint32_t width, uint32_t height, RECT& out) {
    out.left = std::max<LONG>(rect.left, 0);
    out.top = std::max<LONG>(rect.top, 0);
    out.right = std::min<LONG>(rect.right, LONG(width));
    out.bottom = std::min<LONG>(rect.bottom, LONG(height));
    return out.left < out.right && out.top < out.bottom;
}

} // namespace

InteropLibrary& InteropLibrary::instance() {
    // Never destroyed: the driver may call in until the process ends.
    static InteropLibrary* s_pLibrary = new InteropLibrary();
    return *s_pLibrary;
}

VI_STATUS InteropLibrary::createObjects(ViObject** ppGpu, ViObject** ppDdi9) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!ppGpu || !ppDdi9)
        return kViStatusInvalidArgument;
    m_objectsLive = true;
    return VI_SUCCESS_VAL;
}

VI_STATUS InteropLibrary::destroyObjects(ViObject* pDdi9, ViObject* pGpu) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!pDdi9 || !pGpu || !m_objectsLive)
        return kViStatusInvalidHandle;
    m_objectsLive = false;
    // Whatever a user left behind goes with the objects that owned it.
    m_devices.clear();
    m_mappings.clear();
    m_tokens.clear();
    m_notifications.clear();
    return VI_SUCCESS_VAL;
}

UINT InteropLibrary::nextGroupId() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nextGroupId++;
}

VI_STATUS InteropLibrary::registerDevice(const ViDeviceDescriptor* pDescriptors, UINT groupId,
                                         UINT count) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!pDescriptors || count == 0 || count > 2)
        return kViStatusInvalidArgument;
    if (m_devices.count(groupId))
        return kViStatusBusy;
    Device& device = m_devices[groupId];
    for (UINT i = 0; i < count; ++i)
        device.descriptors[i] = pDescriptors[i];
    device.count = count;
    return VI_SUCCESS_VAL;
}

VI_STATUS InteropLibrary::forgetDevice(UINT groupId) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_devices.erase(groupId) ? VI_SUCCESS_VAL : kViStatusNotRegistered;
}

VI_STATUS InteropLibrary::mapResource(UINT groupId, UINT gpu, UINT64 hResource, UINT64* pCell) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!pCell)
        return kViStatusInvalidArgument;
    auto device = m_devices.find(groupId);
    if (device == m_devices.end())
        return kViStatusNotRegistered;
    if (gpu >= device->second.count)
        return kViStatusInvalidArgument;
    std::vector<sim::umd::SurfaceAllocation> surfaces;
    const void* handle = reinterpret_cast<const void*>(static_cast<uintptr_t>(hResource));
    if (!handle || !sim::umd::resourceSurfaces(handle, surfaces))
        return kViStatusInvalidHandle;
    const uint64_t mapped = m_nextHandle++;
    m_mappings[mapped] = Mapping{groupId, gpu, handle};
    *pCell = mapped;
    return VI_SUCCESS_VAL;
}

VI_STATUS InteropLibrary::unmap(UINT64 mapped) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_mappings.erase(mapped) ? VI_SUCCESS_VAL : kViStatusInvalidHandle;
}

VI_STATUS InteropLibrary::createToken(UINT groupId, UINT renderingGpu, UINT presentingGpu,
                                      UINT width, UINT height, UINT bitsPerPixel, UINT format,
                                      UINT64* pToken) {
    (void)renderingGpu, (void)presentingGpu, (void)format;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!pToken || width == 0 || height == 0 || width > 16384 || height > 16384 ||
        bitsPerPixel != 32)
        return kViStatusInvalidArgument;
    std::shared_ptr<Token> token = std::make_shared<Token>();
    token->groupId = groupId;
    token->width = width;
    token->height = height;
    token->pixels.assign(size_t(width) * height * token->bytesPerPixel, 0);
    const uint64_t value = reinterpret_cast<uintptr_t>(&token->record);
    m_tokens[value] = std::move(token);
    *pToken = value;
    return VI_SUCCESS_VAL;
}

VI_STATUS InteropLibrary::destroyToken(UINT64 token) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_tokens.erase(token) ? VI_SUCCESS_VAL : kViStatusInvalidHandle;
}

VI_STATUS InteropLibrary::createNotification(UINT groupId, UINT gpu, UINT64* pNotification) {
    (void)gpu;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!pNotification)
        return kViStatusInvalidArgument;
    const uint64_t value = m_nextHandle++;
    m_notifications[value] = Notification{groupId, nullptr};
    *pNotification = value;
    return VI_SUCCESS_VAL;
}

VI_STATUS InteropLibrary::destroyNotification(UINT64 notification) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_notifications.erase(notification) ? VI_SUCCESS_VAL : kViStatusInvalidHandle;
}

VI_STATUS InteropLibrary::testNotification(UINT64 notification) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_notifications.find(notification);
    if (it == m_notifications.end())
        return kViStatusInvalidHandle;
    // A notification nobody injected for is signalled: nothing is pending behind it.
    std::shared_ptr<CopyTicket>& injection = it->second.injection;
    if (!injection)
        return VI_SUCCESS_VAL;
    // Whatever work has come runs first: the injection's copy may be due.
    sim::Kernel::instance().settleGpus();
    if (!injection->settled() || sim::Clock::instance().nowNs() < injection->readyAtNs())
        return kViStatusNotSignalled;
    injection.reset();
    return VI_SUCCESS_VAL;
}

uint32_t InteropLibrary::surfaceAllocation(const Mapping& mapping, UINT sub) {
    std::vector<sim::umd::SurfaceAllocation> surfaces;
    if (!sim::umd::resourceSurfaces(mapping.hResource, surfaces) || sub >= surfaces.size())
        return 0;
    return surfaces[sub].hAllocation;
}

VI_STATUS InteropLibrary::inject(UINT64 srcMapped, UINT srcSub, const RECT* pSrcRect,
                                 UINT64 dstMapped, UINT dstSub, const RECT* pDstRect, UINT64 token,
                                 UINT64 notification) {
    (void)dstMapped, (void)dstSub;
    std::lock_guard<std::mutex> guard(m_lock);
    auto tokenIt = m_tokens.find(token);
    auto source = m_mappings.find(srcMapped);
    auto notify = m_notifications.find(notification);
    if (tokenIt == m_tokens.end() || source == m_mappings.end() || notify == m_notifications.end())
        return kViStatusInvalidHandle;
    if (!pSrcRect || !pDstRect)
        return kViStatusInvalidArgument;
    std::shared_ptr<Token> staging = tokenIt->second;
    const uint32_t hSource = surfaceAllocation(source->second, srcSub);
    if (!hSource)
        return kViStatusInvalidArgument;
    RECT area;
    VI_STATUS status = copyArea(hSource, *pSrcRect, *staging, area);
    if (status != VI_SUCCESS_VAL)
        return status;

    auto ticket = std::make_shared<CopyTicket>(sim::Clock::instance().nowNs() + notifyDelayNs());
    const bool move = sim::interopSettings().movePixels;
    sim::GpuWork copy = [staging, hSource, area, move,
                         settles = CopyTicket::settleOnRelease(ticket)] {
        if (move)
            moveArea(hSource, area, *staging, CopyDirection::IntoStaging);
    };
    // Submitted with the drawing before it, which the copy reads; it overwrites the buffer
    // only once the presenting GPU has read what the last injection left there.
    if (!sim::umd::submitResourceWork(source->second.hResource, hSource, 0, std::move(copy),
                                      afterCopy(staging->copyOut)))
        return kViStatusGpuFailure;
    staging->dstRect = *pDstRect;
    staging->injection = ticket;
    staging->record.filled = 1;
    notify->second.injection = ticket;
    return VI_SUCCESS_VAL;
}

VI_STATUS InteropLibrary::transferFromBuffer(UINT64 token, UINT64 dstMapped, UINT dstSub) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto tokenIt = m_tokens.find(token);
    auto destination = m_mappings.find(dstMapped);
    if (tokenIt == m_tokens.end() || destination == m_mappings.end())
        return kViStatusInvalidHandle;
    std::shared_ptr<Token> staging = tokenIt->second;
    if (!staging->injection)
        return kViStatusInvalidArgument;
    const uint32_t hDestination = surfaceAllocation(destination->second, dstSub);
    if (!hDestination)
        return kViStatusInvalidArgument;
    RECT area;
    VI_STATUS status = copyArea(hDestination, staging->dstRect, *staging, area);
    if (status != VI_SUCCESS_VAL)
        return status;

    // The copy out never overtakes the injection it belongs to, nor the notification's
    // moment.
    auto ticket = std::make_shared<CopyTicket>(0);
    const bool move = sim::interopSettings().movePixels;
    sim::GpuWork copy = [staging, hDestination, area, move,
                         settles = CopyTicket::settleOnRelease(ticket)] {
        if (move)
            moveArea(hDestination, area, *staging, CopyDirection::OutOfStaging);
    };
    if (!sim::umd::submitResourceWork(destination->second.hResource, 0, hDestination,
                                      std::move(copy), afterCopy(staging->injection)))
        return kViStatusGpuFailure;
    staging->copyOut = ticket;
    return VI_SUCCESS_VAL;
}

sim::GpuGate InteropLibrary::afterCopy(const std::shared_ptr<CopyTicket>& ticket) {
    if (!ticket)
        return sim::GpuGate();
    return [ticket](uint64_t& startNotBeforeNs) {
        if (!ticket->settled())
            return false;
        startNotBeforeNs = std::max(startNotBeforeNs, ticket->readyAtNs());
        return true;
    };
}

VI_STATUS InteropLibrary::copyArea(uint32_t hAllocation, const RECT& rect, const Token& staging,
                                   RECT& area) {
    sim::AllocationInfo info;
    if (!sim::Kernel::instance().allocation(hAllocation, info) || !info.pMemory)
        return kViStatusInvalidHandle;
    if (!clip(rect, std::min(info.width, staging.width), std::min(info.height, staging.height),
              area))
        return kViStatusInvalidArgument;
    return VI_SUCCESS_VAL;
}

bool InteropLibrary::moveBlock(const sim::AllocationInfo& info, const RECT& area, Token& staging,
                               CopyDirection direction) {
    // Whole rows of equal pitch lie end to end in both memories: one copy moves them all.
    const size_t stagingPitch = size_t(staging.width) * staging.bytesPerPixel;
    if (area.left != 0 || size_t(area.right) * staging.bytesPerPixel != stagingPitch ||
        info.pitch != stagingPitch)
        return false;
    const size_t offset = size_t(area.top) * stagingPitch;
    const size_t bytes = size_t(area.bottom - area.top) * stagingPitch;
    if (offset + bytes > info.size || offset + bytes > staging.pixels.size())
        return false;
    if (direction == CopyDirection::IntoStaging)
        memcpy(&staging.pixels[offset], info.pMemory + offset, bytes);
    else
        memcpy(info.pMemory + offset, &staging.pixels[offset], bytes);
    return true;
}

void InteropLibrary::moveArea(uint32_t hAllocation, const RECT& area, Token& staging,
                              CopyDirection direction) {
    sim::AllocationInfo info;
    if (!sim::Kernel::instance().allocation(hAllocation, info) || !info.pMemory)
        return;
    if (moveBlock(info, area, staging, direction))
        return;
    const size_t rowBytes = size_t(area.right - area.left) * staging.bytesPerPixel;
    const size_t stagingPitch = size_t(staging.width) * staging.bytesPerPixel;
    for (LONG y = area.top; y < area.bottom && y < LONG(info.height); ++y) {
        const size_t inSurface = size_t(y) * info.pitch + size_t(area.left) * staging.bytesPerPixel;
        if (inSurface + rowBytes > info.size)
            break;
        uint8_t* pStaging =
            &staging.pixels[size_t(y) * stagingPitch + size_t(area.left) * staging.bytesPerPixel];
        if (direction == CopyDirection::IntoStaging)
            memcpy(pStaging, info.pMemory + inSurface, rowBytes);
        else
            memcpy(info.pMemory + inSurface, pStaging, rowBytes);
    }
}

size_t InteropLibrary::liveTokens() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_tokens.size();
}

size_t InteropLibrary::liveNotifications() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_notifications.size();
}

size_t InteropLibrary::liveMappings() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_mappings.size();
}

} // namespace interop
