// Journal text of the kernel-thunk arguments. Handles print in hexadecimal, the way they
// are shaped (0xC0000040, 0xC0000080, ...); only the members a test would ask about are
// shown.
#include "ThunkArguments.h"

#include "sim/WideString.h"
#include "sim/gpus/KernelStatus.h"

#include <stdarg.h>
#include <stdio.h>

namespace sim {

namespace {

std::string text(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string text(const char* fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

std::string wide(const WCHAR* s, size_t limit) {
    if (!s)
        return "(null)";
    size_t n = 0;
    while (n < limit && s[n])
        ++n;
    return toUtf8(std::u16string_view(asU16(s), n));
}

std::string handles(const D3DKMT_HANDLE* pList, UINT count) {
    if (!pList)
        return count ? "(null)" : "";
    std::string out;
    for (UINT i = 0; i < count && i < 8; ++i)
        out += text(i ? ",0x%x" : "0x%x", pList[i]);
    if (count > 8)
        out += ",...";
    return out;
}

const char* const kNull = "args=(null)";

} // namespace

std::string describeIn(const D3DKMT_OPENADAPTERFROMHDC* p) {
    return p ? text("hDc=%p", static_cast<void*>(p->hDc)) : kNull;
}
std::string describeOut(const D3DKMT_OPENADAPTERFROMHDC* p) {
    return text("hAdapter=0x%x luid=%x:%x source=%u", p->hAdapter, p->AdapterLuid.HighPart,
                p->AdapterLuid.LowPart, p->VidPnSourceId);
}

std::string describeIn(const D3DKMT_OPENADAPTERFROMDEVICENAME* p) {
    return p ? "name=" + wide(p->pDeviceName, 512) : kNull;
}
std::string describeOut(const D3DKMT_OPENADAPTERFROMDEVICENAME* p) {
    return text("hAdapter=0x%x luid=%x:%x", p->hAdapter, p->AdapterLuid.HighPart,
                p->AdapterLuid.LowPart);
}

std::string describeIn(const D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME* p) {
    return p ? "name=" + wide(p->DeviceName, 32) : kNull;
}
std::string describeOut(const D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME* p) {
    return text("hAdapter=0x%x luid=%x:%x source=%u", p->hAdapter, p->AdapterLuid.HighPart,
                p->AdapterLuid.LowPart, p->VidPnSourceId);
}

std::string describeIn(const D3DKMT_CLOSEADAPTER* p) {
    return p ? text("hAdapter=0x%x", p->hAdapter) : kNull;
}
std::string describeOut(const D3DKMT_CLOSEADAPTER*) {
    return "";
}

std::string describeIn(const D3DKMT_QUERYADAPTERINFO* p) {
    return p ? text("hAdapter=0x%x type=%u size=%u", p->hAdapter, rawValue(p->Type),
                    p->PrivateDriverDataSize)
             : kNull;
}
std::string describeOut(const D3DKMT_QUERYADAPTERINFO* p) {
    if (rawValue(p->Type) == KMTQAITYPE_UMDRIVERNAME)
        return "umd=" +
               wide(static_cast<const D3DKMT_UMDFILENAMEINFO*>(p->pPrivateDriverData)->UmdFileName,
                    MAX_PATH);
    if (rawValue(p->Type) == KMTQAITYPE_ADAPTERADDRESS)
        return text("bus=%u",
                    static_cast<const D3DKMT_ADAPTERADDRESS*>(p->pPrivateDriverData)->BusNumber);
    return "";
}

std::string describeIn(const D3DKMT_GETDISPLAYMODELIST* p) {
    return p ? text("hAdapter=0x%x source=%u list=%s count=%u", p->hAdapter, p->VidPnSourceId,
                    p->pModeList ? "yes" : "no", p->ModeCount)
             : kNull;
}
std::string describeOut(const D3DKMT_GETDISPLAYMODELIST* p) {
    return text("count=%u", p->ModeCount);
}

std::string describeIn(const D3DKMT_GETMULTISAMPLEMETHODLIST* p) {
    return p ? text("hAdapter=0x%x source=%u size=%ux%u format=%u list=%s count=%u", p->hAdapter,
                    p->VidPnSourceId, p->Width, p->Height, rawValue(p->Format),
                    p->pMethodList ? "yes" : "no", p->MethodCount)
             : kNull;
}
std::string describeOut(const D3DKMT_GETMULTISAMPLEMETHODLIST* p) {
    return text("count=%u", p->MethodCount);
}

std::string describeIn(const D3DKMT_CREATEDEVICE* p) {
    return p ? text("hAdapter=0x%x flags=0x%x", p->hAdapter, p->Flags.Value) : kNull;
}
std::string describeOut(const D3DKMT_CREATEDEVICE* p) {
    return text("hDevice=0x%x", p->hDevice);
}

std::string describeIn(const D3DKMT_DESTROYDEVICE* p) {
    return p ? text("hDevice=0x%x", p->hDevice) : kNull;
}
std::string describeOut(const D3DKMT_DESTROYDEVICE*) {
    return "";
}

std::string describeIn(const D3DKMT_CREATEALLOCATION* p) {
    if (!p)
        return kNull;
    std::string out = text("hDevice=0x%x hResource=0x%x count=%u flags=0x%x", p->hDevice,
                           p->hResource, p->NumAllocations, p->Flags.Value);
    // Each allocation's primary flag, video present source and system memory: what a test
    // of a flip chain or of caller-backed memory asks about.
    for (UINT i = 0; p->pAllocationInfo && i < p->NumAllocations && i < 8; ++i) {
        const D3DDDI_ALLOCATIONINFO& info = p->pAllocationInfo[i];
        out += text(" [%u primary=%u source=%u sysmem=%p]", i,
                    (info.Flags.Value & D3DDDI_ALLOCATIONINFOFLAGS::Primary) ? 1u : 0u,
                    info.VidPnSourceId, info.pSystemMem);
    }
    return out;
}
std::string describeOut(const D3DKMT_CREATEALLOCATION* p) {
    std::string out = text("hResource=0x%x hAllocation=", p->hResource);
    for (UINT i = 0; i < p->NumAllocations && i < 8; ++i)
        out += text(i ? ",0x%x" : "0x%x", p->pAllocationInfo[i].hAllocation);
    if (p->hGlobalShare)
        out += text(" hGlobalShare=0x%x", p->hGlobalShare);
    return out;
}

std::string describeIn(const D3DKMT_DESTROYALLOCATION* p) {
    return p ? text("hDevice=0x%x hResource=0x%x allocations=%s", p->hDevice, p->hResource,
                    handles(p->phAllocationList, p->AllocationCount).c_str())
             : kNull;
}
std::string describeOut(const D3DKMT_DESTROYALLOCATION*) {
    return "";
}

std::string describeIn(const D3DKMT_SETALLOCATIONPRIORITY* p) {
    return p ? text("hDevice=0x%x hResource=0x%x allocations=%s", p->hDevice, p->hResource,
                    handles(p->phAllocationList, p->AllocationCount).c_str())
             : kNull;
}
std::string describeOut(const D3DKMT_SETALLOCATIONPRIORITY*) {
    return "";
}

std::string describeIn(const D3DKMT_QUERYALLOCATIONRESIDENCY* p) {
    return p ? text("hDevice=0x%x hResource=0x%x allocations=%s", p->hDevice, p->hResource,
                    handles(p->phAllocationList, p->AllocationCount).c_str())
             : kNull;
}
std::string describeOut(const D3DKMT_QUERYALLOCATIONRESIDENCY*) {
    return "";
}

std::string describeIn(const D3DKMT_RENDER* p) {
    if (!p)
        return kNull;
    ULONG broadcast = p->BroadcastContextCount;
    return text("hContext=0x%x offset=%u length=%u allocations=%u patches=%u flags=0x%x "
                "broadcast=%s",
                p->hContext, p->CommandOffset, p->CommandLength, p->AllocationCount,
                p->PatchLocationCount, p->Flags.Value,
                handles(p->BroadcastContext,
                        broadcast <= D3DDDI_MAX_BROADCAST_CONTEXT ? UINT(broadcast) : 0)
                    .c_str());
}
std::string describeOut(const D3DKMT_RENDER* p) {
    return text("commandBufferSize=%u", p->NewCommandBufferSize);
}

std::string describeIn(const D3DKMT_LOCK* p) {
    return p ? text("hDevice=0x%x hAllocation=0x%x flags=0x%x", p->hDevice, p->hAllocation,
                    p->Flags.Value)
             : kNull;
}
std::string describeOut(const D3DKMT_LOCK* p) {
    return text("pData=%p", p->pData);
}

std::string describeIn(const D3DKMT_UNLOCK* p) {
    return p ? text("hDevice=0x%x allocations=%s", p->hDevice,
                    handles(p->phAllocations, p->NumAllocations).c_str())
             : kNull;
}
std::string describeOut(const D3DKMT_UNLOCK*) {
    return "";
}

std::string describeIn(const D3DKMT_ESCAPE* p) {
    return p ? text("hAdapter=0x%x hDevice=0x%x hContext=0x%x type=%u size=%u", p->hAdapter,
                    p->hDevice, p->hContext, rawValue(p->Type), p->PrivateDriverDataSize)
             : kNull;
}
std::string describeOut(const D3DKMT_ESCAPE*) {
    return "";
}

std::string describeIn(const D3DKMT_CREATECONTEXT* p) {
    return p ? text("hDevice=0x%x node=%u hint=%u", p->hDevice, p->NodeOrdinal,
                    rawValue(p->ClientHint))
             : kNull;
}
std::string describeOut(const D3DKMT_CREATECONTEXT* p) {
    return text("hContext=0x%x", p->hContext);
}

std::string describeIn(const D3DKMT_DESTROYCONTEXT* p) {
    return p ? text("hContext=0x%x", p->hContext) : kNull;
}
std::string describeOut(const D3DKMT_DESTROYCONTEXT*) {
    return "";
}

std::string describeIn(const D3DKMT_CREATESYNCHRONIZATIONOBJECT* p) {
    return p ? text("hDevice=0x%x type=%u", p->hDevice, rawValue(p->Info.Type)) : kNull;
}
std::string describeOut(const D3DKMT_CREATESYNCHRONIZATIONOBJECT* p) {
    return text("hSyncObject=0x%x", p->hSyncObject);
}

std::string describeIn(const D3DKMT_DESTROYSYNCHRONIZATIONOBJECT* p) {
    return p ? text("hSyncObject=0x%x", p->hSyncObject) : kNull;
}
std::string describeOut(const D3DKMT_DESTROYSYNCHRONIZATIONOBJECT*) {
    return "";
}

std::string describeIn(const D3DKMT_WAITFORSYNCHRONIZATIONOBJECT* p) {
    return p ? text("hContext=0x%x objects=%s", p->hContext,
                    handles(p->ObjectHandleArray,
                            p->ObjectCount <= D3DDDI_MAX_OBJECT_WAITED_ON ? p->ObjectCount : 0)
                        .c_str())
             : kNull;
}
std::string describeOut(const D3DKMT_WAITFORSYNCHRONIZATIONOBJECT*) {
    return "";
}

std::string describeIn(const D3DKMT_SIGNALSYNCHRONIZATIONOBJECT* p) {
    return p ? text("hContext=0x%x objects=%s", p->hContext,
                    handles(p->ObjectHandleArray,
                            p->ObjectCount <= D3DDDI_MAX_OBJECT_SIGNALED ? p->ObjectCount : 0)
                        .c_str())
             : kNull;
}
std::string describeOut(const D3DKMT_SIGNALSYNCHRONIZATIONOBJECT*) {
    return "";
}

std::string describeIn(const D3DKMT_PRESENT* p) {
    if (!p)
        return kNull;
    ULONG broadcast = p->BroadcastContextCount;
    return text("hDevice=0x%x hContext=0x%x source=%u hSource=0x%x hDestination=0x%x "
                "flags=0x%x interval=%u broadcast=%s",
                p->hDevice, p->hContext, p->VidPnSourceId, p->hSource, p->hDestination,
                p->Flags.Value, rawValue(p->FlipInterval),
                handles(p->BroadcastContext,
                        broadcast <= D3DDDI_MAX_BROADCAST_CONTEXT ? UINT(broadcast) : 0)
                    .c_str());
}
std::string describeOut(const D3DKMT_PRESENT*) {
    return "";
}

std::string describeIn(const D3DKMT_SETDISPLAYMODE* p) {
    return p ? text("hDevice=0x%x hPrimary=0x%x", p->hDevice, p->hPrimaryAllocation) : kNull;
}
std::string describeOut(const D3DKMT_SETDISPLAYMODE*) {
    return "";
}

std::string describeIn(const D3DKMT_WAITFORVERTICALBLANKEVENT* p) {
    return p ? text("hAdapter=0x%x hDevice=0x%x source=%u", p->hAdapter, p->hDevice,
                    p->VidPnSourceId)
             : kNull;
}
std::string describeOut(const D3DKMT_WAITFORVERTICALBLANKEVENT*) {
    return "";
}

std::string describeIn(const D3DKMT_GETSCANLINE* p) {
    return p ? text("hAdapter=0x%x source=%u", p->hAdapter, p->VidPnSourceId) : kNull;
}
std::string describeOut(const D3DKMT_GETSCANLINE* p) {
    return text("line=%u", p->ScanLine);
}

std::string describeIn(const D3DKMT_OPENRESOURCE* p) {
    return p ? text("hDevice=0x%x hGlobalShare=0x%x", p->hDevice, p->hGlobalShare) : kNull;
}
std::string describeOut(const D3DKMT_OPENRESOURCE* p) {
    std::string out = text("hResource=0x%x hAllocation=", p->hResource);
    for (UINT i = 0; p->pOpenAllocationInfo && i < p->NumAllocations && i < 8; ++i)
        out += text(i ? ",0x%x" : "0x%x", p->pOpenAllocationInfo[i].hAllocation);
    return out;
}

std::string describeIn(const D3DKMT_QUERYRESOURCEINFO* p) {
    return p ? text("hDevice=0x%x hGlobalShare=0x%x", p->hDevice, p->hGlobalShare) : kNull;
}
std::string describeOut(const D3DKMT_QUERYRESOURCEINFO* p) {
    return text("allocations=%u privateData=%u", p->NumAllocations, p->TotalPrivateDriverDataSize);
}

std::string describeIn(const D3DKMT_SETVIDPNSOURCEOWNER* p) {
    if (!p)
        return kNull;
    std::string out = text("hDevice=0x%x count=%u", p->hDevice, p->VidPnSourceCount);
    for (UINT i = 0; p->pType && p->pVidPnSourceId && i < p->VidPnSourceCount && i < 8; ++i)
        out += text(" source%u=%u", p->pVidPnSourceId[i], rawValue(p->pType[i]));
    return out;
}
std::string describeOut(const D3DKMT_SETVIDPNSOURCEOWNER*) {
    return "";
}

} // namespace sim
