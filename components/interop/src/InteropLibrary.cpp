// The simulated interop library's state and the two halves of a transfer.
//
// An injection reads the source surface on the rendering GPU into the token's own memory
// once the rendering GPU has finished writing it (the device is flushed first, as a real
// library queues its copy behind the drawing), and arms the CPU notification to fire after
// the machine's interop delay. A transfer from buffer writes the token's pixels into the
// destination surface on the presenting GPU once that GPU no longer uses it; it waits for
// the notification's moment first, so that work queued without CPU waits (asynchronous
// mode) is still ordered. Both copies run under the kernel's lock, so no GPU item runs in
// the middle of them.
#include "InteropLibrary.h"

#include "sim/Clock.h"
#include "sim/gpus/GpuMachine.h"
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
    std::unique_ptr<Token> token(new Token());
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
    m_notifications[value] = Notification{groupId, 0, false};
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
    if (it->second.armed && sim::Clock::instance().nowNs() < it->second.readyAtNs)
        return kViStatusNotSignalled;
    it->second.armed = false;
    return VI_SUCCESS_VAL;
}

uint32_t InteropLibrary::surfaceAllocation(const Mapping& mapping, UINT sub) {
    std::vector<sim::umd::SurfaceAllocation> surfaces;
    if (!sim::umd::resourceSurfaces(mapping.hResource, surfaces) || sub >= surfaces.size())
        return 0;
    return surfaces[sub].hAllocation;
}

void InteropLibrary::flushDevice(UINT groupId, UINT gpu) {
    auto device = m_devices.find(groupId);
    if (device == m_devices.end() || gpu >= device->second.count)
        return;
    const ViDeviceDescriptor& descriptor = device->second.descriptors[gpu];
    const D3DDDI_DEVICEFUNCS* pFuncs = reinterpret_cast<const D3DDDI_DEVICEFUNCS*>(
        static_cast<uintptr_t>(descriptor.pDeviceFuncs));
    if (pFuncs && pFuncs->pfnFlush && descriptor.hUserDevice)
        pFuncs->pfnFlush(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(descriptor.hUserDevice)));
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
    Token& staging = *tokenIt->second;
    const uint32_t hSource = surfaceAllocation(source->second, srcSub);
    if (!hSource)
        return kViStatusInvalidArgument;
    flushDevice(source->second.groupId, source->second.gpu);

    VI_STATUS status = copyRows(hSource, *pSrcRect, staging, CopyDirection::IntoStaging);
    if (status != VI_SUCCESS_VAL)
        return status;
    staging.dstRect = *pDstRect;
    staging.readyAtNs = sim::Clock::instance().nowNs() + notifyDelayNs();
    staging.injected = true;
    staging.record.filled = 1;
    notify->second.readyAtNs = staging.readyAtNs;
    notify->second.armed = true;
    return VI_SUCCESS_VAL;
}

VI_STATUS InteropLibrary::transferFromBuffer(UINT64 token, UINT64 dstMapped, UINT dstSub) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto tokenIt = m_tokens.find(token);
    auto destination = m_mappings.find(dstMapped);
    if (tokenIt == m_tokens.end() || destination == m_mappings.end())
        return kViStatusInvalidHandle;
    Token& staging = *tokenIt->second;
    if (!staging.injected)
        return kViStatusInvalidArgument;
    const uint32_t hDestination = surfaceAllocation(destination->second, dstSub);
    if (!hDestination)
        return kViStatusInvalidArgument;
    // The copy out never overtakes the injection it belongs to.
    sim::Clock::instance().sleepUntil(staging.readyAtNs);

    return copyRows(hDestination, staging.dstRect, staging, CopyDirection::OutOfStaging);
}

VI_STATUS InteropLibrary::copyRows(uint32_t hAllocation, const RECT& rect, Token& staging,
                                   CopyDirection direction) {
    sim::Kernel& kernel = sim::Kernel::instance();
    VI_STATUS status = VI_SUCCESS_VAL;
    const bool finished = kernel.waitForGpus([&] {
        if (kernel.allocationBusy(hAllocation))
            return false;
        sim::AllocationInfo info;
        RECT area;
        if (!kernel.allocation(hAllocation, info) || !info.pMemory) {
            status = kViStatusInvalidHandle;
            return true;
        }
        if (!clip(rect, std::min(info.width, staging.width), std::min(info.height, staging.height),
                  area)) {
            status = kViStatusInvalidArgument;
            return true;
        }
        const size_t rowBytes = size_t(area.right - area.left) * staging.bytesPerPixel;
        const size_t stagingPitch = size_t(staging.width) * staging.bytesPerPixel;
        for (LONG y = area.top; y < area.bottom; ++y) {
            const size_t inSurface =
                size_t(y) * info.pitch + size_t(area.left) * staging.bytesPerPixel;
            if (inSurface + rowBytes > info.size)
                break;
            uint8_t* pStaging =
                &staging
                     .pixels[size_t(y) * stagingPitch + size_t(area.left) * staging.bytesPerPixel];
            if (direction == CopyDirection::IntoStaging)
                memcpy(pStaging, info.pMemory + inSurface, rowBytes);
            else
                memcpy(info.pMemory + inSurface, pStaging, rowBytes);
        }
        return true;
    });
    return finished ? status : kViStatusGpuFailure;
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
