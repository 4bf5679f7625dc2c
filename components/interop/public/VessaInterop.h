// The boundary to the interop library "vessaInterop.dll": its two exports, its three
// objects and the operations the driver calls on them, by position.
//
// The objects are plain tables of function pointers (COM style), each operation taking the
// object as its first argument, so that positions never depend on a compiler's layout of
// virtual functions. The driver fixes only the calls, their arguments and the results it
// reads; what the library does behind them is its own.
#pragma once

#include "platform/win.h"

#include <stddef.h>
#include <stdint.h>

/// Status of an interop operation; 0 is success. On failure bits 16-19 carry a category
/// and bits 8-15 a code.
typedef int64_t VI_STATUS;
#define VI_SUCCESS_VAL ((VI_STATUS)0)

/// Any entry of an object's table; callers cast it to the operation's own type.
typedef void (*VI_PROC)(void);

/// Every library object: the address of its table of operations.
struct ViObject {
    const VI_PROC* pTable;
};

/// Category and code of a failed status.
inline uint32_t viStatusCategory(VI_STATUS status) {
    return static_cast<uint32_t>((static_cast<uint64_t>(status) >> 16) & 0xF);
}
inline uint32_t viStatusCode(VI_STATUS status) {
    return static_cast<uint32_t>((static_cast<uint64_t>(status) >> 8) & 0xFF);
}

// ---- Exports -----------------------------------------------------------------------------
/// VI_getFactory(0, 0): the root object, null when the library cannot serve this machine.
typedef ViObject*(APIENTRY* PFNVI_GETFACTORY)(UINT reserved0, UINT reserved1);
/// VI_getNextGroupId(): a new group id, one per registered device.
typedef UINT(APIENTRY* PFNVI_GETNEXTGROUPID)(void);

// ---- Root ------------------------------------------------------------------------------
enum ViRootSlot : unsigned {
    viRootCreate = 0,
    viRootDestroy = 3,
    viRootSlotCount = 4,
};
/// create(3, 1, out GPU interop object, out DDI9 interop object).
typedef VI_STATUS(APIENTRY* PFNVI_ROOT_CREATE)(ViObject* pRoot, UINT kind, UINT version,
                                               ViObject** ppGpuInterop, ViObject** ppDdi9Interop);
/// destroy(DDI9 interop object, GPU interop object).
typedef VI_STATUS(APIENTRY* PFNVI_ROOT_DESTROY)(ViObject* pRoot, ViObject* pDdi9Interop,
                                                ViObject* pGpuInterop);

// ---- GPU interop object ----------------------------------------------------------------------
enum ViGpuSlot : unsigned {
    viGpuSetOptions = 2,
    viGpuUnmap = 4,
    viGpuDestroyStagingBufferToken = 6,
    viGpuCreateCpuNotificationEvent = 8,
    viGpuDestroyCpuNotification = 10,
    viGpuTestCpuNotification = 11,
    viGpuTransferFromBufSurface = 20,
    viGpuCreateStagingBufferToken = 21,
    viGpuInjectBufferedSurfaceTransfer = 23,
    viGpuSetSynchronous = 32,
    viGpuSlotCount = 33,
};
/// (0xFFFFFFFF), once after creation.
typedef void(APIENTRY* PFNVI_GPU_SETOPTIONS)(ViObject* pGpu, UINT options);
/// unmap(mapped handle).
typedef VI_STATUS(APIENTRY* PFNVI_GPU_UNMAP)(ViObject* pGpu, UINT64 mapped);
typedef VI_STATUS(APIENTRY* PFNVI_GPU_DESTROYSTAGINGBUFFERTOKEN)(ViObject* pGpu, UINT64 token);
/// createCpuNotificationEvent(group id, rendering GPU index, out notification, 1).
typedef VI_STATUS(APIENTRY* PFNVI_GPU_CREATECPUNOTIFICATIONEVENT)(ViObject* pGpu, UINT groupId,
                                                                  UINT renderingGpu,
                                                                  UINT64* pNotification,
                                                                  UINT flags);
typedef VI_STATUS(APIENTRY* PFNVI_GPU_DESTROYCPUNOTIFICATION)(ViObject* pGpu, UINT64 notification);
/// 0 once the injection the notification belongs to has finished.
typedef VI_STATUS(APIENTRY* PFNVI_GPU_TESTCPUNOTIFICATION)(ViObject* pGpu, UINT64 notification);
/// transferFromBufSurface(token, destination mapped handle, destination subresource, 0).
typedef VI_STATUS(APIENTRY* PFNVI_GPU_TRANSFERFROMBUFSURFACE)(ViObject* pGpu, UINT64 token,
                                                              UINT64 dstMapped, UINT dstSub,
                                                              UINT flags);
/// createStagingBufferToken(group id, rendering GPU, presenting GPU, width, height, depth,
/// bits per pixel, multisample quality, multisample type, format, out token, 2).
typedef VI_STATUS(APIENTRY* PFNVI_GPU_CREATESTAGINGBUFFERTOKEN)(
    ViObject* pGpu, UINT groupId, UINT renderingGpu, UINT presentingGpu, UINT width, UINT height,
    UINT depth, UINT bitsPerPixel, UINT msQuality, UINT msType, UINT format, UINT64* pToken,
    UINT flags);
/// injectBufferedSurfaceTransfer(source mapped handle, source subresource, source rect,
/// destination mapped handle, destination subresource, destination rect, token, 1,
/// notification).
typedef VI_STATUS(APIENTRY* PFNVI_GPU_INJECTBUFFEREDSURFACETRANSFER)(
    ViObject* pGpu, UINT64 srcMapped, UINT srcSub, const RECT* pSrcRect, UINT64 dstMapped,
    UINT dstSub, const RECT* pDstRect, UINT64 token, UINT flags, UINT64 notification);
/// (0, 10, 0), once after creation, in synchronous mode only.
typedef void(APIENTRY* PFNVI_GPU_SETSYNCHRONOUS)(ViObject* pGpu, UINT a, UINT b, UINT c);

// ---- DDI9 interop object ---------------------------------------------------------------------
enum ViDdi9Slot : unsigned {
    viDdi9RegisterDevice = 7,
    viDdi9BeforeDestroyDevice = 8,
    viDdi9MapResource = 13,
    viDdi9MapMultiResource = 15,
    viDdi9SlotCount = 16,
};
/// register device(descriptor array, group id, descriptor count, the presenting GPU's saved
/// runtime callbacks, the device's kernel call-through table).
typedef VI_STATUS(APIENTRY* PFNVI_DDI9_REGISTERDEVICE)(ViObject* pDdi9, const void* pDescriptors,
                                                       UINT groupId, UINT count,
                                                       const void* pRuntimeCallbacks,
                                                       const void* pCallThroughTable);
typedef VI_STATUS(APIENTRY* PFNVI_DDI9_BEFOREDESTROYDEVICE)(ViObject* pDdi9, UINT groupId);
/// mapResource(group id, GPU index, resource handle on that GPU, width, height, format,
/// bits per pixel, out cell, 0).
typedef VI_STATUS(APIENTRY* PFNVI_DDI9_MAPRESOURCE)(ViObject* pDdi9, UINT groupId, UINT gpu,
                                                    UINT64 hResource, UINT width, UINT height,
                                                    UINT format, UINT bitsPerPixel, UINT64* pCell,
                                                    UINT flags);
/// mapMultiResource(group id, GPU index, resource handle, surface count, (width, height)
/// pairs, format, bits per pixel, out cell).
typedef VI_STATUS(APIENTRY* PFNVI_DDI9_MAPMULTIRESOURCE)(ViObject* pDdi9, UINT groupId, UINT gpu,
                                                         UINT64 hResource, UINT count,
                                                         const UINT* pSizes, UINT format,
                                                         UINT bitsPerPixel, UINT64* pCell);

// ---- Records shared with the library ------------------------------------------------------
/// Byte of a staging buffer token's record that says the buffer holds an injected frame:
/// set by the injection, tested and cleared by the driver before a transfer from buffer.
constexpr size_t kViTokenFilledFlagOffset = 80;

/// One GPU of a device, as the registration describes it (56 bytes).
struct ViDeviceDescriptor {
    uint64_t hAdapter;    ///< runtime adapter handle (GPU 0) or kernel adapter handle
    uint64_t hUserDevice; ///< the vendor driver's device handle
    uint64_t hDdiDevice;  ///< runtime device handle (presenting) or kernel device handle
    uint8_t present;      ///< 1
    uint8_t presenting;   ///< 1 for the presenting GPU, 0 for the rendering GPU
    uint8_t reserved0[6];
    uint64_t perGpuValue;  ///< the device's per-GPU view handed to that GPU's driver
    uint64_t pDeviceFuncs; ///< address of that GPU's D3DDDI_DEVICEFUNCS copy in the device
    uint32_t vendor;       ///< 1 NVIDIA, 2 ATI, 3 Intel, else 0
    uint32_t reserved1;
};
static_assert(sizeof(ViDeviceDescriptor) == 56, "a descriptor is 56 bytes");
static_assert(offsetof(ViDeviceDescriptor, present) == 24, "descriptor layout");
static_assert(offsetof(ViDeviceDescriptor, presenting) == 25, "descriptor layout");
static_assert(offsetof(ViDeviceDescriptor, perGpuValue) == 32, "descriptor layout");
static_assert(offsetof(ViDeviceDescriptor, pDeviceFuncs) == 40, "descriptor layout");
static_assert(offsetof(ViDeviceDescriptor, vendor) == 48, "descriptor layout");

/// Calls operation `slot` of `pObject` as `Fn`.
template <class Fn> inline Fn viOperation(ViObject* pObject, unsigned slot) {
    return reinterpret_cast<Fn>(pObject->pTable[slot]);
}

// ---- Statuses of the library -------------------------------------------------------------
/// Category 4 (a request the library refuses), codes 1 to 7, and category 5 (the GPU side).
constexpr VI_STATUS kViStatusInvalidHandle = 0x00040100;
constexpr VI_STATUS kViStatusInvalidArgument = 0x00040200;
constexpr VI_STATUS kViStatusNotSupported = 0x00040300;
constexpr VI_STATUS kViStatusOutOfMemory = 0x00040400;
/// The notification test's answer while the injection is still running.
constexpr VI_STATUS kViStatusNotSignalled = 0x00040500;
constexpr VI_STATUS kViStatusNotRegistered = 0x00040600;
constexpr VI_STATUS kViStatusBusy = 0x00040700;
constexpr VI_STATUS kViStatusGpuFailure = 0x00050900;
