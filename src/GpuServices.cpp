// GpuServices: the process-wide object, the interop start and end, the staging ring of each
// device, the transfer, the completion step and the worker pass.
#include "GpuServices.h"

#include "AppHandling.h"
#include "Configuration.h"
#include "Device9.h"
#include "GpuServicesDDI9.h"
#include "OpenAdapter.h"
#include "Report.h"
#include "ResourceDDI9.h"
#include "SwapChainDDI9.h"
#include "platform/text.h"

#include <new>
#include <stdlib.h>
#include <string.h>

std::atomic<uint32_t> GpuServices::s_interopUserCount{0};
uint32_t GpuServices::s_holders = 0;
std::atomic<GpuServices*> GpuServices::s_pInstance{nullptr};
std::atomic<ViObject*> GpuServices::s_pRoot{nullptr};
std::atomic<ViObject*> GpuServices::s_pGpuInterop{nullptr};
std::atomic<ViObject*> GpuServices::s_pDdi9Interop{nullptr};
std::atomic<PFNVI_GETNEXTGROUPID> GpuServices::s_pfnGetNextGroupId{nullptr};
std::recursive_mutex GpuServices::s_instanceLock;

namespace {

unsigned roleIndex(int role) {
    return role >= 0 && role < int(DdiObject::kGpuSlots) ? unsigned(role) : 0;
}

unsigned renderingGpu() {
    return roleIndex(OpenAdapter::renderingGPU());
}

unsigned presentingGpu() {
    return roleIndex(OpenAdapter::presentingGPU());
}

void clearStagingSlots(DeviceBase* pDevice) {
    for (unsigned i = 0; i < DdiObject::kGpuSlots; ++i)
        pDevice->stagingBuffer(i) = nullptr;
    memset(pDevice->stagingDesc(), 0, sizeof(uint32_t) * kStagingDescSize);
}

} // namespace

// ---- The process-wide object -----------------------------------------------------------------

GpuServices* GpuServices::instance() {
    return s_pInstance.load();
}

GpuServices* GpuServices::createInstance() {
    std::lock_guard<std::recursive_mutex> guard(s_instanceLock);
    if (!s_pInstance.load())
        s_pInstance.store(new (std::nothrow) GpuServicesDDI9());
    return s_pInstance.load();
}

bool GpuServices::destroyInstanceIfUnused() {
    std::lock_guard<std::recursive_mutex> guard(s_instanceLock);
    GpuServices* services = s_pInstance.load();
    if (!services)
        return true;
    if (services->getUserCount() != 0 || s_holders != 0)
        return false;
    s_pInstance.store(nullptr);
    delete services;
    return true;
}

bool GpuServices::acquire() {
    std::lock_guard<std::recursive_mutex> guard(s_instanceLock);
    if (!createInstance())
        return false;
    ++s_holders;
    return true;
}

void GpuServices::release() {
    std::lock_guard<std::recursive_mutex> guard(s_instanceLock);
    if (s_holders != 0)
        --s_holders;
    destroyInstanceIfUnused();
}

double GpuServices::fractionFromText(const WCHAR* text) {
    char narrow[64] = {};
    for (size_t i = 0; text && text[i] && i + 1 < sizeof narrow; ++i)
        narrow[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    char* end = nullptr;
    double value = strtod(narrow, &end);
    // A property without a number copies whole rows: a missing setting must not shrink
    // every frame to nothing.
    if (end == narrow)
        return 1.0;
    if (!(value >= 0.0))
        return 0.0;
    return value > 1.0 ? 1.0 : value;
}

RECT GpuServices::partialRect(uint32_t width, uint32_t height, double fraction) {
    RECT rect = {0, 0, LONG(double(width) * fraction), LONG(height)};
    return rect;
}

void GpuServices::freeMappedCell(void* pCell) {
    delete static_cast<uint64_t*>(pCell);
}

GpuServices::GpuServices() : m_hInteropModule(nullptr), m_partialCopy(1.0), m_asynchronous(true) {
    m_partialCopy =
        fractionFromText(Configuration::getInstance()->getProperty(ConfigProperty::partial_copy));
    timeBeginPeriod(1);
}

GpuServices::~GpuServices() {
    // The library stays loaded: its objects may outlive this object's users, and unloading
    // code another thread may still be returning through is never safe.
    timeEndPeriod(1);
}

RECT GpuServices::partialRect(uint32_t width, uint32_t height) const {
    return partialRect(width, height, m_partialCopy);
}

// ---- Interop start and end -------------------------------------------------------------------

bool GpuServices::initInterop(bool asynchronous) {
    std::lock_guard<std::recursive_mutex> guard(s_instanceLock);
    s_interopUserCount.fetch_add(1);
    if (s_pGpuInterop.load())
        return true;
    return startLibrary(asynchronous);
}

bool GpuServices::startLibrary(bool asynchronous) {
    if (!m_hInteropModule) {
        WCHAR path[kAppPathChars] = {};
        if (!getInteropLibraryPath(WSTR("vessaInterop.dll"), path))
            return false;
        m_hInteropModule = LoadLibraryW(path);
        if (!m_hInteropModule)
            return false;
    }
    auto getFactory = reinterpret_cast<PFNVI_GETFACTORY>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(m_hInteropModule, "VI_getFactory")));
    auto getNextGroupId = reinterpret_cast<PFNVI_GETNEXTGROUPID>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(m_hInteropModule, "VI_getNextGroupId")));
    s_pfnGetNextGroupId.store(getNextGroupId);
    if (!getFactory || !getNextGroupId)
        return false;
    ViObject* pRoot = getFactory(0, 0);
    s_pRoot.store(pRoot);
    if (!pRoot || !pRoot->pTable)
        return false;
    ViObject* pGpuInterop = nullptr;
    const VI_STATUS status = createInterop(pRoot, 3, 1, &pGpuInterop);
    if (status != VI_SUCCESS_VAL) {
        const uint32_t code = viStatusCode(status);
        if (viStatusCategory(status) == 4 && !(code >= 1 && code <= 7))
            VESSA_REPORT(Warning, 11051, "false", "unknown error interop");
        return false;
    }
    if (!pGpuInterop || !pGpuInterop->pTable) {
        VESSA_REPORT(Error, 0, "pGpuInterop", "the interop library created no GPU interop object");
        return false;
    }
    s_pGpuInterop.store(pGpuInterop);
    m_asynchronous = asynchronous;
    if (!asynchronous)
        viOperation<PFNVI_GPU_SETSYNCHRONOUS>(pGpuInterop, viGpuSetSynchronous)(pGpuInterop, 0, 10,
                                                                                0);
    viOperation<PFNVI_GPU_SETOPTIONS>(pGpuInterop, viGpuSetOptions)(pGpuInterop, 0xFFFFFFFFu);
    return true;
}

void GpuServices::destroyGpuInterop() {
    std::lock_guard<std::recursive_mutex> guard(s_instanceLock);
    uint32_t users = s_interopUserCount.load();
    if (users == 0)
        return; // never below zero: a second end for one start must not free others' interop
    s_interopUserCount.store(users - 1);
    ViObject* pRoot = s_pRoot.load();
    if (users - 1 != 0 || !pRoot)
        return;
    if (s_pGpuInterop.load()) {
        VI_STATUS retVal = destroyInteropObjects(pRoot, s_pGpuInterop.load());
        VESSA_CHECK(Error, 11056, retVal == VI_SUCCESS_VAL, "destroyGpuInterop failed %x",
                    static_cast<unsigned>(retVal));
    }
    s_pRoot.store(nullptr);
    s_pGpuInterop.store(nullptr);
    s_pDdi9Interop.store(nullptr);
}

bool GpuServices::onBeforeDestroyDevice(uint32_t interopGroupId) {
    (void)interopGroupId;
    return false;
}

VI_STATUS GpuServices::destroyInteropObjects(ViObject* pRoot, ViObject* pGpuInterop) {
    return viOperation<PFNVI_ROOT_DESTROY>(pRoot, viRootDestroy)(pRoot, s_pDdi9Interop.load(),
                                                                 pGpuInterop);
}

// ---- Staging buffers -------------------------------------------------------------------------

void GpuServices::describeResource(ResourceDDI9* pResource, unsigned sub,
                                   uint32_t desc[kStagingDescSize]) {
    desc[0] = pResource->surfaceWidth(sub);
    desc[1] = pResource->surfaceHeight(sub);
    desc[2] = pResource->surfaceDepth(sub);
    desc[3] = pResource->bitsPerPixel();
    desc[4] = pResource->multisampleQuality();
    desc[5] = pResource->multisampleType();
    desc[6] = pResource->format();
}

uint64_t GpuServices::createStagingToken(unsigned renderingGpu, unsigned presentingGpu,
                                         const uint32_t desc[kStagingDescSize], uint32_t groupId) {
    ViObject* pGpu = s_pGpuInterop.load();
    if (!pGpu)
        return 0;
    uint64_t token = 0;
    VI_STATUS result = viOperation<PFNVI_GPU_CREATESTAGINGBUFFERTOKEN>(
        pGpu, viGpuCreateStagingBufferToken)(
        pGpu, groupId, renderingGpu, presentingGpu, desc[0] ? desc[0] : 1, desc[1] ? desc[1] : 1,
        desc[2] ? desc[2] : 1, desc[3], desc[4], desc[5], desc[6], &token, 2);
    if (!VESSA_CHECK(Error, 11052, result == VI_SUCCESS_VAL, "createStagingBufferToken failed %x",
                     static_cast<unsigned>(result)))
        return 0;
    return token;
}

uint64_t GpuServices::createCpuNotification(unsigned renderingGpu, uint32_t groupId) {
    ViObject* pGpu = s_pGpuInterop.load();
    if (!pGpu)
        return 0;
    uint64_t notification = 0;
    VI_STATUS result = viOperation<PFNVI_GPU_CREATECPUNOTIFICATIONEVENT>(
        pGpu, viGpuCreateCpuNotificationEvent)(pGpu, groupId, renderingGpu, &notification, 1);
    if (!VESSA_CHECK(Error, 0, result == VI_SUCCESS_VAL, "createCpuNotificationEvent failed %x",
                     static_cast<unsigned>(result)))
        return 0;
    return notification;
}

StagingBuffer* GpuServices::createStagingBuffer(unsigned renderingGpu, unsigned presentingGpu,
                                                const uint32_t desc[kStagingDescSize],
                                                uint32_t groupId) {
    uint64_t token = createStagingToken(renderingGpu, presentingGpu, desc, groupId);
    StagingBuffer* record = new (std::nothrow) StagingBuffer();
    if (!VESSA_CHECK(Error, 0, record != nullptr, "no memory for a staging buffer record")) {
        ViObject* pGpu = s_pGpuInterop.load();
        if (token && pGpu)
            viOperation<PFNVI_GPU_DESTROYSTAGINGBUFFERTOKEN>(pGpu, viGpuDestroyStagingBufferToken)(
                pGpu, token);
        return nullptr;
    }
    record->token = token;
    record->cpuNotification = createCpuNotification(renderingGpu, groupId);
    return record;
}

void GpuServices::repairStagingBuffer(Device* pDevice, StagingBuffer* rec) {
    if ((rec->token && rec->cpuNotification) || rec->repairs >= kStagingRepairs)
        return;
    ++rec->repairs;
    if (!rec->token) {
        uint32_t made[kStagingDescSize];
        creationDesc(pDevice->stagingDesc(), made);
        rec->token =
            createStagingToken(renderingGpu(), presentingGpu(), made, pDevice->interopGroupId());
    }
    if (!rec->cpuNotification)
        rec->cpuNotification = createCpuNotification(renderingGpu(), pDevice->interopGroupId());
}

void GpuServices::creationDesc(const uint32_t desc[kStagingDescSize],
                               uint32_t made[kStagingDescSize]) {
    memcpy(made, desc, sizeof(uint32_t) * kStagingDescSize);
    if (made[5] >= 2)
        made[5] = 0; // staging buffers are never multisampled
}

bool GpuServices::destroyStagingBuffers(DeviceBase* pDeviceBase) {
    Device* pDevice = static_cast<Device*>(pDeviceBase);
    bool lastTokenOk = true;
    ViObject* pGpu = s_pGpuInterop.load();
    for (unsigned i = 0; i < DdiObject::kGpuSlots; ++i) {
        StagingBuffer*& slot = pDevice->stagingBuffer(i);
        StagingBuffer* rec = slot;
        if (!rec)
            continue;
        // An injection still writing into the buffer finishes before its token goes.
        if (rec->state == e_injected && rec->cpuNotification)
            waitForQuery(pDevice, renderingGpu(), rec->cpuNotification, kDestroyWaitMs);
        if (rec->cpuNotification) {
            if (pGpu) {
                VI_STATUS result = viOperation<PFNVI_GPU_DESTROYCPUNOTIFICATION>(
                    pGpu, viGpuDestroyCpuNotification)(pGpu, rec->cpuNotification);
                VESSA_CHECK(Error, 11054, result == VI_SUCCESS_VAL,
                            "destroyCpuNotification failed %x", static_cast<unsigned>(result));
            }
            rec->cpuNotification = 0;
        }
        if (rec->query && !waitForQuery(pDevice, presentingGpu(), rec->query, kDestroyWaitMs)) {
            destroyQuery(pDevice, presentingGpu(), rec->query);
            rec->query = 0;
        }
        if (pGpu && rec->token) {
            VI_STATUS result = viOperation<PFNVI_GPU_DESTROYSTAGINGBUFFERTOKEN>(
                pGpu, viGpuDestroyStagingBufferToken)(pGpu, rec->token);
            VESSA_CHECK(Error, 11055, result == VI_SUCCESS_VAL,
                        "destroyStagingBufferToken failed %x", static_cast<unsigned>(result));
            lastTokenOk = result == VI_SUCCESS_VAL;
        }
        delete rec;
        slot = nullptr;
    }
    return lastTokenOk;
}

void GpuServices::ensureStagingBuffers(Device* pDevice, ResourceDDI9* pSrc, UINT srcSub) {
    uint32_t desc[kStagingDescSize];
    describeResource(pSrc, srcSub, desc);
    if (memcmp(desc, pDevice->stagingDesc(), sizeof desc) == 0 && pDevice->stagingBuffer(0))
        return;
    if (pDevice->stagingBuffer(0)) {
        destroyStagingBuffers(pDevice);
        clearStagingSlots(pDevice);
    }
    memcpy(pDevice->stagingDesc(), desc, sizeof desc);
    if (desc[5] >= 2)
        reportAssertion(ReportLevel::Warning, 0, "ddicommon/public/DeviceBase", 238,
                        "desc.m_multiSampleCount <= 1",
                        "GpuServices Warning: Force Non-Multisampled Staging Buffer creation");
    uint32_t made[kStagingDescSize];
    creationDesc(desc, made);
    for (unsigned i = 0; i < DdiObject::kGpuSlots; ++i)
        pDevice->stagingBuffer(i) =
            createStagingBuffer(renderingGpu(), presentingGpu(), made, pDevice->interopGroupId());
}

// ---- The two halves ---------------------------------------------------------------------------

namespace {

uint64_t cellValue(void* pCell) {
    return pCell ? *static_cast<uint64_t*>(pCell) : 0;
}

uint8_t* filledFlag(uint64_t token) {
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(token)) + kViTokenFilledFlagOffset;
}

} // namespace

VI_STATUS GpuServices::injectBufferedSurfaceTransfer(Device* pDevice, void* pSrcCell, UINT srcSub,
                                                     const RECT& srcRect, void* pDstCell,
                                                     UINT dstSub, const RECT& dstRect,
                                                     uint64_t token, uint64_t notification) {
    (void)pDevice;
    ViObject* pGpu = s_pGpuInterop.load();
    if (!pGpu)
        return VI_SUCCESS_VAL;
    VI_STATUS status = viOperation<PFNVI_GPU_INJECTBUFFEREDSURFACETRANSFER>(
        pGpu, viGpuInjectBufferedSurfaceTransfer)(pGpu, cellValue(pSrcCell), srcSub, &srcRect,
                                                  cellValue(pDstCell), dstSub, &dstRect, token, 1,
                                                  notification);
    VESSA_CHECK(Error, 0, status == VI_SUCCESS_VAL, "injectBufferedSurfaceTransfer failed %x",
                static_cast<unsigned>(status));
    // Only a buffer that really received the frame is copied out: a failed injection leaves
    // the destination with its previous frame rather than an empty or older buffer.
    if (token && status == VI_SUCCESS_VAL)
        *filledFlag(token) = 1;
    return status;
}

VI_STATUS GpuServices::transferFromBufSurface(Device* pDevice, uint64_t token, void* pDstCell,
                                              UINT dstSub) {
    (void)pDevice;
    ViObject* pGpu = s_pGpuInterop.load();
    if (!pGpu)
        return VI_SUCCESS_VAL;
    // A buffer the injection never filled (it failed, or the buffer has no token) holds an
    // older frame or none: copying nothing keeps the caller from showing it as this one.
    if (!token || !*filledFlag(token))
        return kViStatusNotSignalled;
    *filledFlag(token) = 0;
    VI_STATUS status = viOperation<PFNVI_GPU_TRANSFERFROMBUFSURFACE>(
        pGpu, viGpuTransferFromBufSurface)(pGpu, token, cellValue(pDstCell), dstSub, 0);
    VESSA_CHECK(Error, 0, status == VI_SUCCESS_VAL, "transferFromBufSurface failed %x",
                static_cast<unsigned>(status));
    return status;
}

bool GpuServices::unmapResource(void* pCell) {
    if (!pCell)
        return false;
    ViObject* pGpu = s_pGpuInterop.load();
    VI_STATUS status = kViStatusNotRegistered;
    if (pGpu)
        status = viOperation<PFNVI_GPU_UNMAP>(pGpu, viGpuUnmap)(pGpu, cellValue(pCell));
    // The cell is ours: it goes whether or not the library could still unmap.
    freeMappedCell(pCell);
    return pGpu && status == VI_SUCCESS_VAL;
}

bool GpuServices::getMappedResource(Device* pDevice, unsigned gpu, MappingRequest& request) {
    if (request.state == 2)
        return request.pointer != nullptr;
    if (request.state != 1 || !request.pointer)
        return false;
    ResourceDDI9* res = static_cast<ResourceDDI9*>(request.pointer);
    if (void* cached = res->mappedCell(gpu)) {
        request = {cached, 2};
        return true;
    }
    const uint64_t handle = res->getUserHandle(gpu);
    void* pCell = nullptr;
    const UINT count = res->surfaceCount();
    if (count < 2) {
        pCell = mapResource(gpu, handle, res->surfaceWidth(0), res->surfaceHeight(0), res->format(),
                            res->bitsPerPixel(), pDevice->interopGroupId());
    } else {
        UINT* pSizes = new (std::nothrow) UINT[size_t(count) * 2];
        if (!VESSA_CHECK(Error, 0, pSizes != nullptr, "no memory for %u surface sizes", count))
            return false;
        res->surfaceSizes(pSizes, count);
        pCell = mapMultiResource(gpu, handle, count, pSizes, res->format(), res->bitsPerPixel(),
                                 pDevice->interopGroupId());
        delete[] pSizes;
    }
    // A resource the library refused is asked again next time: handle 0 names nothing.
    if (!pCell)
        return false;
    res->setMappedCell(gpu, pCell);
    request = {pCell, 2};
    return true;
}

// ---- Waits -------------------------------------------------------------------------------------

bool GpuServices::queryDone(Device* pDevice, unsigned gpu, uint64_t query) {
    if (gpu != renderingGpu())
        return isQueryDone(pDevice, gpu, query);
    ViObject* pGpu = s_pGpuInterop.load();
    if (!pGpu)
        return true; // no library, nothing it could still be doing
    VI_STATUS status =
        viOperation<PFNVI_GPU_TESTCPUNOTIFICATION>(pGpu, viGpuTestCpuNotification)(pGpu, query);
    if (status == VI_SUCCESS_VAL)
        return true;
    if (status == kViStatusNotSignalled)
        return false;
    // A notification the library no longer knows will never be signalled.
    VESSA_REPORT(Warning, 0, "status == VI_SUCCESS_VAL", "CPU notification test failed %x",
                 static_cast<unsigned>(status));
    return true;
}

bool GpuServices::waitForQuery(Device* pDevice, unsigned gpu, uint64_t& query, int timeoutMs) {
    if (!query) {
        VESSA_REPORT(Error, 0, "query", "Query handle is missing!");
        return true; // nothing to wait for
    }
    const bool bounded = timeoutMs >= 0;
    int left = bounded ? timeoutMs : kUnboundedWaitMs;
    bool done = queryDone(pDevice, gpu, query);
    while (!done) {
        if (left == 0) {
            if (!bounded)
                VESSA_REPORT(Warning, 0, "done", "gave up waiting %d ms for query %llx on gpu:%u",
                             kUnboundedWaitMs, static_cast<unsigned long long>(query), gpu);
            return false;
        }
        Sleep(1);
        --left;
        done = queryDone(pDevice, gpu, query);
    }
    if (gpu != renderingGpu()) {
        destroyQuery(pDevice, gpu, query);
        query = 0;
    }
    return true;
}

// ---- Transfer, completion, worker
// ----------------------------------------------------------------

bool GpuServices::transfer(Device* pDevice, ResourceDDI9* pDst, UINT dstSub, ResourceDDI9* pSrc,
                           UINT srcSub, bool unused) {
    (void)unused;
    if (!pDevice || !pDst || !pSrc)
        return false;
    return stagedTransfer(pDevice, pDst, dstSub, pSrc, srcSub,
                          partialRect(pSrc->surfaceWidth(0), pSrc->surfaceHeight(0)));
}

bool GpuServices::stagedTransfer(Device* pDevice, ResourceDDI9* pDst, UINT dstSub,
                                 ResourceDDI9* pSrc, UINT srcSub, const RECT& rect) {
    const bool result = m_asynchronous;
    onAfterCreateDevice(pDevice);
    ensureStagingBuffers(pDevice, pSrc, srcSub);
    StagingBuffer* rec = pDevice->stagingBuffer(pDevice->stagingWriteCount() % 4);
    if (!rec)
        return false;
    const uint32_t oldState = rec->state;
    if (oldState == e_transferred) {
        if (!m_asynchronous && rec->query &&
            !waitForQuery(pDevice, presentingGpu(), rec->query, -1)) {
            // The presenting GPU never said it was done: its query goes, the buffer is reused.
            destroyQuery(pDevice, presentingGpu(), rec->query);
            rec->query = 0;
        }
        rec->state = e_copiedFrom;
    }
    MappingRequest dst = {pDst, 1};
    MappingRequest src = {pSrc, 1};
    // Nothing is queued for a surface the library cannot reach, in either mode: the caller
    // must not show the destination as if the frame were on its way.
    if (!getMappedResource(pDevice, presentingGpu(), dst) ||
        !getMappedResource(pDevice, renderingGpu(), src))
        return false;
    if (rec->state == e_copiedFrom || oldState == e_new) {
        repairStagingBuffer(pDevice, rec);
        ++pDevice->stagingWriteCount();
        injectBufferedSurfaceTransfer(pDevice, src.pointer, srcSub, rect, dst.pointer, dstSub, rect,
                                      rec->token, rec->cpuNotification);
        if (!m_asynchronous)
            pDevice->flushGpu(renderingGpu());
        rec->state = e_injected;
        if (oldState != e_new && !m_asynchronous)
            return result; // the worker pass finishes it
    } else if (!m_asynchronous) {
        return result; // busy: still injecting or waiting to be copied out
    }
    if (rec->state == e_injected) {
        if (!m_asynchronous && rec->cpuNotification &&
            !waitForQuery(pDevice, renderingGpu(), rec->cpuNotification, -1))
            return result; // the worker pass copies it out once the injection has finished
        rec->state = e_copyiedTo;
    }
    if (rec->state != e_copyiedTo)
        return result;
    const bool moved =
        transferFromBufSurface(pDevice, rec->token, dst.pointer, dstSub) == VI_SUCCESS_VAL;
    ++pDevice->stagingReadCount();
    if (!m_asynchronous)
        rec->query = createEventQuery(pDevice, presentingGpu());
    rec->state = e_transferred;
    return moved;
}

void GpuServices::completionStep(Device* pDevice, ResourceDDI9* pDst, UINT dstSub,
                                 ResourceDDI9* pSrc, UINT srcSub) {
    if (!pDevice || !pDst || !pSrc)
        return;
    if (m_asynchronous) {
        stagedTransfer(pDevice, pDst, dstSub, pSrc, srcSub, RECT{0, 0, 1, 1});
        return;
    }
    // Unsigned arithmetic: the slot two injections back, also right after the counter wraps.
    StagingBuffer* rec = pDevice->stagingBuffer((pDevice->stagingWriteCount() - 2u) % 4u);
    if (rec && rec->state == e_injected &&
        (!rec->cpuNotification || waitForQuery(pDevice, renderingGpu(), rec->cpuNotification, -1)))
        rec->state = e_copyiedTo;
}

bool GpuServices::readyToCopyOut(Device* pDevice, StagingBuffer* rec, int timeoutMs) {
    if (rec && rec->state == e_injected &&
        (!rec->cpuNotification ||
         waitForQuery(pDevice, renderingGpu(), rec->cpuNotification, timeoutMs)))
        rec->state = e_copyiedTo;
    return rec && rec->state == e_copyiedTo;
}

bool GpuServices::copyOut(Device* pDevice, StagingBuffer* rec, ResourceDDI9* pTarget, UINT sub,
                          bool& moved) {
    MappingRequest dst = {pTarget, 1};
    moved = false;
    if (!pTarget || !getMappedResource(pDevice, presentingGpu(), dst))
        return false;
    moved = transferFromBufSurface(pDevice, rec->token, dst.pointer, sub) == VI_SUCCESS_VAL;
    ++pDevice->stagingReadCount();
    return true;
}

void GpuServices::markTransferred(Device* pDevice, StagingBuffer* rec) {
    // The buffer is written again only once the presenting GPU is done reading it.
    rec->query = createEventQuery(pDevice, presentingGpu());
    rec->state = e_transferred;
}

bool GpuServices::finishTransfers(Device* pDevice, ResourceDDI9* pDst, UINT dstSub) {
    if (m_asynchronous || !pDevice || !pDst)
        return false;
    // Oldest first, so the newest frame is the one the destination keeps.
    // True when the newest buffer copied out reached the destination: an older frame left
    // there by an earlier buffer is not the one the caller is about to show.
    bool copied = false;
    const uint32_t start = pDevice->stagingReadCount();
    for (uint32_t i = 0; i < 4; ++i) {
        StagingBuffer* rec = pDevice->stagingBuffer((i + start) % 4);
        bool moved = false;
        if (readyToCopyOut(pDevice, rec, -1) && copyOut(pDevice, rec, pDst, dstSub, moved)) {
            markTransferred(pDevice, rec);
            copied = moved;
        }
    }
    return copied;
}

void GpuServices::workerPass(Device* pDevice) {
    if (m_asynchronous || !pDevice)
        return;
    const uint32_t start = pDevice->stagingReadCount();
    for (uint32_t i = 0; i < 4; ++i) {
        StagingBuffer* rec = pDevice->stagingBuffer((i + start) % 4);
        if (!readyToCopyOut(pDevice, rec, 0) || !pDevice->m_pSwapChain)
            continue;
        ResourceDDI9* pTarget = nullptr;
        UINT sub = 0;
        pDevice->m_pSwapChain->getPresentTarget(&pTarget, &sub);
        bool moved = false;
        if (!copyOut(pDevice, rec, pTarget, sub, moved))
            continue;
        // A buffer that held no frame is done with, and nothing new is shown.
        if (moved)
            pDevice->m_pSwapChain->presentTransferred(pTarget, sub);
        markTransferred(pDevice, rec);
    }
}
