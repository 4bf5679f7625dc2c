// vessaInterop.dll's exports and its three objects: tables of operations at the positions
// the driver calls. Every operation is journalled as vessaInterop.dll!<operation> and can
// be failed through the machine's fault injection like any other simulated entry; a
// position the driver never calls answers "not supported".
#include "InteropLibrary.h"

#include "sim/Call.h"

#include <new>

using interop::InteropLibrary;

namespace {

constexpr const char* kModule = "vessaInterop.dll";

/// The fault set on the call when there is one, otherwise the library's answer: a faulted
/// entry reaches nothing in the library.
template <typename Answer> VI_STATUS finishUnlessFaulted(sim::Call& call, Answer answer) {
    if (call.faulted())
        return call.finish(VI_STATUS(call.faultStatus()));
    return call.finish(answer());
}

VI_STATUS APIENTRY unsupported(ViObject*) {
    return kViStatusNotSupported;
}

// ---- Root -----------------------------------------------------------------------------------
VI_PROC s_gpuTable[viGpuSlotCount];
VI_PROC s_ddi9Table[viDdi9SlotCount];
VI_PROC s_rootTable[viRootSlotCount];
ViObject s_gpuObject = {s_gpuTable};
ViObject s_ddi9Object = {s_ddi9Table};
ViObject s_rootObject = {s_rootTable};

VI_STATUS APIENTRY rootCreate(ViObject* pRoot, UINT kind, UINT version, ViObject** ppGpu,
                              ViObject** ppDdi9) {
    sim::Call call(kModule, "create");
    call.args("root=%p kind=%u version=%u", static_cast<void*>(pRoot), kind, version);
    if (call.faulted())
        return call.finish(VI_STATUS(call.faultStatus()));
    if (pRoot != &s_rootObject)
        return call.finish(kViStatusInvalidHandle);
    VI_STATUS status = InteropLibrary::instance().createObjects(ppGpu, ppDdi9);
    if (status == VI_SUCCESS_VAL) {
        *ppGpu = &s_gpuObject;
        *ppDdi9 = &s_ddi9Object;
    }
    return call.finish(status);
}

VI_STATUS APIENTRY rootDestroy(ViObject* pRoot, ViObject* pDdi9, ViObject* pGpu) {
    sim::Call call(kModule, "destroy");
    call.args("ddi9=%p gpu=%p", static_cast<void*>(pDdi9), static_cast<void*>(pGpu));
    if (call.faulted())
        return call.finish(VI_STATUS(call.faultStatus()));
    if (pRoot != &s_rootObject || (pDdi9 && pDdi9 != &s_ddi9Object) ||
        (pGpu && pGpu != &s_gpuObject))
        return call.finish(kViStatusInvalidHandle);
    return call.finish(InteropLibrary::instance().destroyObjects(pDdi9, pGpu));
}

// ---- GPU interop object ---------------------------------------------------------------------
void APIENTRY gpuSetOptions(ViObject*, UINT options) {
    sim::Call call(kModule, "setOptions");
    call.args("options=0x%x", options);
}

VI_STATUS APIENTRY gpuUnmap(ViObject*, UINT64 mapped) {
    sim::Call call(kModule, "unmap");
    call.args("mapped=%llu", static_cast<unsigned long long>(mapped));
    return finishUnlessFaulted(call, [&] { return InteropLibrary::instance().unmap(mapped); });
}

VI_STATUS APIENTRY gpuDestroyToken(ViObject*, UINT64 token) {
    sim::Call call(kModule, "destroyStagingBufferToken");
    call.args("token=0x%llx", static_cast<unsigned long long>(token));
    return finishUnlessFaulted(call,
                               [&] { return InteropLibrary::instance().destroyToken(token); });
}

VI_STATUS APIENTRY gpuCreateNotification(ViObject*, UINT groupId, UINT gpu, UINT64* pNotification,
                                         UINT flags) {
    sim::Call call(kModule, "createCpuNotificationEvent", int(gpu));
    call.args("group=%u gpu=%u flags=%u", groupId, gpu, flags);
    return finishUnlessFaulted(call, [&] {
        return InteropLibrary::instance().createNotification(groupId, gpu, pNotification);
    });
}

VI_STATUS APIENTRY gpuDestroyNotification(ViObject*, UINT64 notification) {
    sim::Call call(kModule, "destroyCpuNotification");
    call.args("notification=%llu", static_cast<unsigned long long>(notification));
    return finishUnlessFaulted(
        call, [&] { return InteropLibrary::instance().destroyNotification(notification); });
}

VI_STATUS APIENTRY gpuTestNotification(ViObject*, UINT64 notification) {
    sim::Call call(kModule, "testCpuNotification");
    call.args("notification=%llu", static_cast<unsigned long long>(notification));
    return finishUnlessFaulted(
        call, [&] { return InteropLibrary::instance().testNotification(notification); });
}

VI_STATUS APIENTRY gpuTransferFromBuffer(ViObject*, UINT64 token, UINT64 dstMapped, UINT dstSub,
                                         UINT flags) {
    sim::Call call(kModule, "transferFromBufSurface");
    call.args("token=0x%llx dst=%llu sub=%u flags=%u", static_cast<unsigned long long>(token),
              static_cast<unsigned long long>(dstMapped), dstSub, flags);
    return finishUnlessFaulted(call, [&] {
        return InteropLibrary::instance().transferFromBuffer(token, dstMapped, dstSub);
    });
}

VI_STATUS APIENTRY gpuCreateToken(ViObject*, UINT groupId, UINT renderingGpu, UINT presentingGpu,
                                  UINT width, UINT height, UINT depth, UINT bitsPerPixel,
                                  UINT msQuality, UINT msType, UINT format, UINT64* pToken,
                                  UINT flags) {
    sim::Call call(kModule, "createStagingBufferToken", int(renderingGpu));
    call.args("group=%u rendering=%u presenting=%u size=%ux%ux%u bpp=%u ms=%u/%u format=%u "
              "flags=%u",
              groupId, renderingGpu, presentingGpu, width, height, depth, bitsPerPixel, msType,
              msQuality, format, flags);
    if (call.faulted())
        return call.finish(VI_STATUS(call.faultStatus()));
    if (msType >= 2)
        return call.finish(kViStatusNotSupported); // staging buffers are never multisampled
    return call.finish(InteropLibrary::instance().createToken(
        groupId, renderingGpu, presentingGpu, width, height, bitsPerPixel, format, pToken));
}

VI_STATUS APIENTRY gpuInject(ViObject*, UINT64 srcMapped, UINT srcSub, const RECT* pSrcRect,
                             UINT64 dstMapped, UINT dstSub, const RECT* pDstRect, UINT64 token,
                             UINT flags, UINT64 notification) {
    sim::Call call(kModule, "injectBufferedSurfaceTransfer");
    RECT src = pSrcRect ? *pSrcRect : RECT{};
    call.args("src=%llu/%u rect=(%ld,%ld,%ld,%ld) dst=%llu/%u token=0x%llx flags=%u "
              "notification=%llu",
              static_cast<unsigned long long>(srcMapped), srcSub, long(src.left), long(src.top),
              long(src.right), long(src.bottom), static_cast<unsigned long long>(dstMapped), dstSub,
              static_cast<unsigned long long>(token), flags,
              static_cast<unsigned long long>(notification));
    return finishUnlessFaulted(call, [&] {
        return InteropLibrary::instance().inject(srcMapped, srcSub, pSrcRect, dstMapped, dstSub,
                                                 pDstRect, token, notification);
    });
}

void APIENTRY gpuSetSynchronous(ViObject*, UINT a, UINT b, UINT c) {
    sim::Call call(kModule, "setSynchronous");
    call.args("%u %u %u", a, b, c);
}

// ---- DDI9 interop object --------------------------------------------------------------------
VI_STATUS APIENTRY ddi9Register(ViObject*, const void* pDescriptors, UINT groupId, UINT count,
                                const void* pRuntimeCallbacks, const void* pCallThrough) {
    sim::Call call(kModule, "registerDevice");
    call.args("group=%u count=%u callbacks=%p callThrough=%p", groupId, count, pRuntimeCallbacks,
              pCallThrough);
    return finishUnlessFaulted(call, [&] {
        return InteropLibrary::instance().registerDevice(
            static_cast<const ViDeviceDescriptor*>(pDescriptors), groupId, count);
    });
}

VI_STATUS APIENTRY ddi9BeforeDestroy(ViObject*, UINT groupId) {
    sim::Call call(kModule, "beforeDestroyDevice");
    call.args("group=%u", groupId);
    return finishUnlessFaulted(call,
                               [&] { return InteropLibrary::instance().forgetDevice(groupId); });
}

VI_STATUS APIENTRY ddi9MapResource(ViObject*, UINT groupId, UINT gpu, UINT64 hResource, UINT width,
                                   UINT height, UINT format, UINT bitsPerPixel, UINT64* pCell,
                                   UINT flags) {
    sim::Call call(kModule, "mapResource", int(gpu));
    call.args("group=%u gpu=%u hResource=0x%llx size=%ux%u format=%u bpp=%u flags=%u", groupId, gpu,
              static_cast<unsigned long long>(hResource), width, height, format, bitsPerPixel,
              flags);
    return finishUnlessFaulted(call, [&] {
        return InteropLibrary::instance().mapResource(groupId, gpu, hResource, pCell);
    });
}

VI_STATUS APIENTRY ddi9MapMultiResource(ViObject*, UINT groupId, UINT gpu, UINT64 hResource,
                                        UINT count, const UINT* pSizes, UINT format,
                                        UINT bitsPerPixel, UINT64* pCell) {
    sim::Call call(kModule, "mapMultiResource", int(gpu));
    std::string sizes;
    for (UINT i = 0; pSizes && i < count && i < 16; ++i)
        sizes += (i ? " " : "") + std::to_string(pSizes[2 * i]) + "x" +
                 std::to_string(pSizes[2 * i + 1]);
    call.args("group=%u gpu=%u hResource=0x%llx count=%u sizes=[%s] format=%u bpp=%u", groupId, gpu,
              static_cast<unsigned long long>(hResource), count, sizes.c_str(), format,
              bitsPerPixel);
    if (call.faulted())
        return call.finish(VI_STATUS(call.faultStatus()));
    if (!pSizes || count == 0)
        return call.finish(kViStatusInvalidArgument);
    return call.finish(InteropLibrary::instance().mapResource(groupId, gpu, hResource, pCell));
}

template <class Fn> VI_PROC proc(Fn fn) {
    return reinterpret_cast<VI_PROC>(fn);
}

// The tables are filled once, before the first root is handed out.
bool fillTables() {
    for (VI_PROC& entry : s_rootTable)
        entry = proc(&unsupported);
    for (VI_PROC& entry : s_gpuTable)
        entry = proc(&unsupported);
    for (VI_PROC& entry : s_ddi9Table)
        entry = proc(&unsupported);
    s_rootTable[viRootCreate] = proc(&rootCreate);
    s_rootTable[viRootDestroy] = proc(&rootDestroy);
    s_gpuTable[viGpuSetOptions] = proc(&gpuSetOptions);
    s_gpuTable[viGpuUnmap] = proc(&gpuUnmap);
    s_gpuTable[viGpuDestroyStagingBufferToken] = proc(&gpuDestroyToken);
    s_gpuTable[viGpuCreateCpuNotificationEvent] = proc(&gpuCreateNotification);
    s_gpuTable[viGpuDestroyCpuNotification] = proc(&gpuDestroyNotification);
    s_gpuTable[viGpuTestCpuNotification] = proc(&gpuTestNotification);
    s_gpuTable[viGpuTransferFromBufSurface] = proc(&gpuTransferFromBuffer);
    s_gpuTable[viGpuCreateStagingBufferToken] = proc(&gpuCreateToken);
    s_gpuTable[viGpuInjectBufferedSurfaceTransfer] = proc(&gpuInject);
    s_gpuTable[viGpuSetSynchronous] = proc(&gpuSetSynchronous);
    s_ddi9Table[viDdi9RegisterDevice] = proc(&ddi9Register);
    s_ddi9Table[viDdi9BeforeDestroyDevice] = proc(&ddi9BeforeDestroy);
    s_ddi9Table[viDdi9MapResource] = proc(&ddi9MapResource);
    s_ddi9Table[viDdi9MapMultiResource] = proc(&ddi9MapMultiResource);
    return true;
}

} // namespace

VESSA_EXPORT ViObject* APIENTRY VI_getFactory(UINT reserved0, UINT reserved1) {
    static const bool s_filled = fillTables();
    (void)s_filled;
    sim::Call call(kModule, "VI_getFactory");
    call.args("%u %u", reserved0, reserved1);
    if (call.faulted())
        return call.finish(static_cast<ViObject*>(nullptr));
    return call.finish(&s_rootObject);
}

VESSA_EXPORT UINT APIENTRY VI_getNextGroupId(void) {
    sim::Call call(kModule, "VI_getNextGroupId");
    if (call.faulted())
        return call.finish(UINT(0));
    return call.finish(InteropLibrary::instance().nextGroupId());
}

/// Live tokens, notifications and mappings, for the leak checks of tests.
VESSA_EXPORT void viSimLiveObjects(size_t* pTokens, size_t* pNotifications, size_t* pMappings) {
    InteropLibrary& library = InteropLibrary::instance();
    if (pTokens)
        *pTokens = library.liveTokens();
    if (pNotifications)
        *pNotifications = library.liveNotifications();
    if (pMappings)
        *pMappings = library.liveMappings();
}
