// GpuServicesDDI9: device registration, resource mapping and event queries.
#include "GpuServicesDDI9.h"

#include "Adapter9.h"
#include "Device9.h"
#include "OpenAdapter.h"
#include "Report.h"

#include <new>
#include <string.h>

namespace {

unsigned roleIndex(int role) {
    return role >= 0 && role < int(DdiObject::kGpuSlots) ? unsigned(role) : 0;
}

HANDLE asHandle(uint64_t value) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

uint64_t asValue(const void* pointer) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer));
}

uint32_t knownVendor(uint32_t vendor) {
    return vendor >= 1 && vendor <= 3 ? vendor : 0;
}

/// Fills what both kinds of descriptor share for GPU `gpu`.
void fillCommon(Device* pDevice, unsigned gpu, bool presenting, ViDeviceDescriptor& out) {
    Adapter* pAdapter = pDevice->adapter();
    out.hUserDevice = pDevice->getUserHandle(gpu);
    out.present = 1;
    out.presenting = presenting ? 1 : 0;
    out.perGpuValue = asValue(pDevice->view(gpu));
    out.pDeviceFuncs = asValue(pDevice->deviceFuncsArray() + gpu);
    out.vendor = pAdapter ? knownVendor(pAdapter->getVendor(gpu)) : 0;
}

} // namespace

void GpuServicesDDI9::describeDevice(Device* pDevice, ViDeviceDescriptor descriptors[2]) {
    memset(descriptors, 0, 2 * sizeof(ViDeviceDescriptor));
    Adapter* pAdapter = pDevice->adapter();
    const unsigned presenting = roleIndex(OpenAdapter::presentingGPU());
    const unsigned rendering = roleIndex(OpenAdapter::renderingGPU());
    if (presenting < 2) {
        ViDeviceDescriptor& out = descriptors[presenting];
        out.hAdapter = pAdapter ? pAdapter->ddiHandles().getRuntimeHandle(presenting) : 0;
        out.hDdiDevice = pDevice->ddiHandles().getRuntimeHandle(presenting);
        fillCommon(pDevice, presenting, true, out);
    }
    if (rendering < 2) {
        ViDeviceDescriptor& out = descriptors[rendering];
        out.hAdapter = pAdapter ? pAdapter->ddiHandles().getKernelHandle(rendering) : 0;
        out.hDdiDevice = pDevice->ddiHandles().getKernelHandle(rendering);
        fillCommon(pDevice, rendering, false, out);
    }
}

bool GpuServicesDDI9::onAfterCreateDevice(Device* pDevice) {
    if (pDevice->interopRegistered())
        return true;
    PFNVI_GETNEXTGROUPID nextGroupId = nextGroupIdFunction();
    pDevice->setInteropGroupId(nextGroupId ? nextGroupId() : 0);
    ViObject* pDdi9 = ddi9Interop();
    if (!pDdi9) {
        pDevice->setInteropRegistered(true);
        return false;
    }
    ViDeviceDescriptor descriptors[2];
    describeDevice(pDevice, descriptors);
    const unsigned presenting = roleIndex(OpenAdapter::presentingGPU());
    VI_STATUS retVal = viOperation<PFNVI_DDI9_REGISTERDEVICE>(pDdi9, viDdi9RegisterDevice)(
        pDdi9, descriptors, pDevice->interopGroupId(), 2, &pDevice->runtimeCallbacks(presenting),
        pDevice->kernelCallThroughTable());
    pDevice->setInteropRegistered(true);
    if (retVal != VI_SUCCESS_VAL) {
        VESSA_REPORT(Error, 10981, "retVal", "Failed on After Create Device, viRetVal:%x",
                     static_cast<unsigned>(retVal));
        return false;
    }
    return true;
}

bool GpuServicesDDI9::onBeforeDestroyDevice(uint32_t interopGroupId) {
    ViObject* pDdi9 = ddi9Interop();
    if (!pDdi9)
        return false;
    VI_STATUS retVal = viOperation<PFNVI_DDI9_BEFOREDESTROYDEVICE>(
        pDdi9, viDdi9BeforeDestroyDevice)(pDdi9, interopGroupId);
    if (retVal != VI_SUCCESS_VAL) {
        VESSA_REPORT(Error, 10984, "retVal", "onBeforeDestroyDevice failed ");
        return false;
    }
    return true;
}

VI_STATUS GpuServicesDDI9::createInterop(ViObject* pRoot, UINT kind, UINT version,
                                         ViObject** ppGpuInterop) {
    ViObject* pDdi9 = nullptr;
    VI_STATUS status = viOperation<PFNVI_ROOT_CREATE>(pRoot, viRootCreate)(pRoot, kind, version,
                                                                           ppGpuInterop, &pDdi9);
    if (status == VI_SUCCESS_VAL)
        setDdi9Interop(pDdi9 && pDdi9->pTable ? pDdi9 : nullptr);
    return status;
}

void* GpuServicesDDI9::mapResource(unsigned gpu, uint64_t hResource, UINT width, UINT height,
                                   UINT format, UINT bitsPerPixel, uint32_t groupId) {
    ViObject* pDdi9 = ddi9Interop();
    if (!pDdi9)
        return nullptr;
    uint64_t* pCell = new (std::nothrow) uint64_t(0);
    if (!VESSA_CHECK(Error, 0, pCell != nullptr, "no memory for a mapped cell"))
        return nullptr;
    VI_STATUS result = viOperation<PFNVI_DDI9_MAPRESOURCE>(pDdi9, viDdi9MapResource)(
        pDdi9, groupId, gpu, hResource, width, height, format, bitsPerPixel, pCell, 0);
    if (!VESSA_CHECK(Error, 10982, result == VI_SUCCESS_VAL, "mapResource failed %x",
                     static_cast<unsigned>(result))) {
        freeMappedCell(pCell);
        return nullptr;
    }
    return pCell;
}

void* GpuServicesDDI9::mapMultiResource(unsigned gpu, uint64_t hResource, UINT count,
                                        const UINT* pSizes, UINT format, UINT bitsPerPixel,
                                        uint32_t groupId) {
    ViObject* pDdi9 = ddi9Interop();
    if (!pDdi9)
        return nullptr;
    uint64_t* pCell = new (std::nothrow) uint64_t(0);
    if (!VESSA_CHECK(Error, 0, pCell != nullptr, "no memory for a mapped cell"))
        return nullptr;
    VI_STATUS result = viOperation<PFNVI_DDI9_MAPMULTIRESOURCE>(pDdi9, viDdi9MapMultiResource)(
        pDdi9, groupId, gpu, hResource, count, pSizes, format, bitsPerPixel, pCell);
    if (!VESSA_CHECK(Error, 10983, result == VI_SUCCESS_VAL, "mapMultiResource failed %x",
                     static_cast<unsigned>(result))) {
        freeMappedCell(pCell);
        return nullptr;
    }
    return pCell;
}

bool GpuServicesDDI9::isQueryDone(Device* pDevice, unsigned gpu, uint64_t query) {
    PFND3DDDI_GETQUERYDATA getQueryData = pDevice->deviceFuncs(gpu).pfnGetQueryData;
    if (!getQueryData)
        return true;
    BOOL returned = FALSE;
    D3DDDIARG_GETQUERYDATA args = {asHandle(query), &returned};
    HRESULT res = getQueryData(pDevice->gpuHandle(gpu), &args);
    if (res == D3DERR_WASSTILLDRAWING)
        return false;
    // Any other failure will not turn into an answer by asking again.
    if (!VESSA_CHECK(Warning, 0, res == ((HRESULT)0L), "GetQueryData failed %x on gpu:%u",
                     static_cast<unsigned>(res), gpu))
        return true;
    VESSA_CHECK(Error, 0, returned == 1, "Event query returned but res is not TRUE");
    return true;
}

uint64_t GpuServicesDDI9::createEventQuery(Device* pDevice, unsigned gpu) {
    const D3DDDI_DEVICEFUNCS& funcs = pDevice->deviceFuncs(gpu);
    if (!funcs.pfnCreateQuery || !funcs.pfnIssueQuery)
        return 0;
    D3DDDIARG_CREATEQUERY create = {};
    create.QueryType = D3DDDIQUERYTYPE_EVENT;
    HRESULT res = funcs.pfnCreateQuery(pDevice->gpuHandle(gpu), &create);
    if (!VESSA_CHECK(Error, 0, res == ((HRESULT)0L), "Cannot create query"))
        return 0;
    D3DDDIARG_ISSUEQUERY issue = {};
    issue.hQuery = create.hQuery;
    issue.Flags.Value = D3DDDI_ISSUEQUERYFLAGS::End;
    res = funcs.pfnIssueQuery(pDevice->gpuHandle(gpu), &issue);
    if (!VESSA_CHECK(Error, 0, res == ((HRESULT)0L), "Cannot issue query")) {
        // A query never issued would never be done: it goes now.
        destroyQuery(pDevice, gpu, asValue(create.hQuery));
        return 0;
    }
    return asValue(create.hQuery);
}

void GpuServicesDDI9::destroyQuery(Device* pDevice, unsigned gpu, uint64_t query) {
    PFND3DDDI_DESTROYQUERY destroy = pDevice->deviceFuncs(gpu).pfnDestroyQuery;
    if (!query || !destroy)
        return;
    HRESULT res = destroy(pDevice->gpuHandle(gpu), asHandle(query));
    VESSA_CHECK(Warning, 0, res == ((HRESULT)0L), "Cannot destroy query");
}
