// The simulated graphics kernel: object tables, handles, queries and the adapter thunks.
// Device-level thunks are in KernelDevices.cpp, allocation and present thunks in
// KernelAllocations.cpp.
#include "sim/gpus/Kernel.h"

#include "GpuQueues.h"
#include "sim/Clock.h"
#include "sim/WideString.h"
#include "sim/gpus/KernelStatus.h"

#include <string.h>

namespace sim {

namespace {

bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = char(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

// A terminated wide string read with a bound, as a kernel probes user memory; false when
// no terminator comes within `limit` characters.
bool boundedText(const WCHAR* text, size_t limit, std::string& out) {
    size_t n = 0;
    while (n < limit && text[n])
        ++n;
    if (n == limit)
        return false;
    out = toUtf8(std::u16string_view(asU16(text), n));
    return true;
}

void copyWide(WCHAR* dst, size_t capacity, const std::string& text) {
    std::u16string wide = fromUtf8(text);
    size_t n = wide.size() < capacity - 1 ? wide.size() : capacity - 1;
    memcpy(dst, wide.data(), n * sizeof(WCHAR));
    dst[n] = 0;
}

// The list thunks share one convention: without a list the caller learns how many entries
// there are; a list that is too small is refused with the count it needs. Returns true when
// the caller's list has room for all `available` entries and is to be filled; otherwise
// `status` holds the answer.
bool listHasRoom(const void* pList, UINT& listCount, UINT available, NTSTATUS& status) {
    if (pList && listCount >= available)
        return true;
    status = pList ? kStatusBufferTooSmall : kStatusSuccess;
    listCount = available;
    return false;
}

} // namespace

Kernel& Kernel::instance() {
    // Never destroyed: drivers may still call the kernel from threads during process exit.
    static Kernel* s_pKernel = new Kernel();
    return *s_pKernel;
}

Kernel::Kernel()
    : m_pMachine(std::make_shared<MachineDesc>()),
      m_pQueues(new GpuQueues(
          m_lock, [this](int gpu, uint32_t source) { return currentModeLocked(gpu, source); })) {}

Kernel::~Kernel() = default;

void Kernel::reset(std::shared_ptr<const MachineDesc> pMachine) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_pMachine = pMachine ? pMachine : std::make_shared<MachineDesc>();
    m_pQueues->reset(m_pMachine);
    m_adapters.clear();
    m_devices.clear();
    m_resources.clear();
    m_shares.clear();
    m_allocations.clear();
    m_contexts.clear();
    m_syncObjects.clear();
    m_displayContexts.clear();
    m_sourceOwners.clear();
    m_modes.clear();
    m_methodCountOverReport = 0;
    // The escape handler stays: it is the simulated kernel-mode driver's code, installed
    // once by whoever simulates it, not state of one machine. Handles go on counting, so a
    // handle from before the reset stays invalid.
}

std::shared_ptr<const MachineDesc> Kernel::machine() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_pMachine;
}

const GpuDesc* Kernel::gpuOf(int gpu) const {
    if (gpu < 0 || gpu >= int(m_pMachine->gpus.size()))
        return nullptr;
    return &m_pMachine->gpus[gpu];
}

Kernel::Device* Kernel::findDevice(D3DKMT_HANDLE h) {
    auto it = m_devices.find(h);
    return it == m_devices.end() ? nullptr : &it->second;
}

Kernel::Context* Kernel::findContext(D3DKMT_HANDLE h) {
    auto it = m_contexts.find(h);
    return it == m_contexts.end() ? nullptr : &it->second;
}

Kernel::Allocation* Kernel::findAllocation(D3DKMT_HANDLE h, D3DKMT_HANDLE hDevice) {
    auto it = m_allocations.find(h);
    if (it == m_allocations.end() || it->second.info.hDevice != hDevice)
        return nullptr;
    return &it->second;
}

NTSTATUS Kernel::openAdapter(int gpu, D3DKMT_HANDLE& hAdapter, LUID& luid) {
    const GpuDesc* pGpu = gpuOf(gpu);
    if (!pGpu)
        return kStatusInvalidParameter;
    hAdapter = newHandle();
    m_adapters[hAdapter].gpu = gpu;
    luid.LowPart = pGpu->luidLow;
    luid.HighPart = pGpu->luidHigh;
    return kStatusSuccess;
}

// ---- Adapter opening and closing -------------------------------------------------------------

NTSTATUS Kernel::OpenAdapterFromDeviceName(D3DKMT_OPENADAPTERFROMDEVICENAME* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs || !pArgs->pDeviceName)
        return kStatusInvalidParameter;
    std::string name;
    if (!boundedText(pArgs->pDeviceName, 4096, name))
        return kStatusInvalidParameter;
    for (size_t i = 0; i < m_pMachine->gpus.size(); ++i) {
        if (equalNoCase(m_pMachine->gpus[i].adapterInterfaceName(), name)) {
            gpu = int(i);
            return openAdapter(gpu, pArgs->hAdapter, pArgs->AdapterLuid);
        }
    }
    return kStatusObjectNameNotFound;
}

NTSTATUS Kernel::OpenAdapterFromHdc(D3DKMT_OPENADAPTERFROMHDC* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs || !pArgs->hDc)
        return kStatusInvalidParameter;
    auto it = m_displayContexts.find(reinterpret_cast<uintptr_t>(pArgs->hDc));
    if (it == m_displayContexts.end())
        return kStatusInvalidParameter;
    const DisplayDeviceDesc& display = m_pMachine->displays[it->second.display];
    if (display.mirroring() || !gpuOf(display.gpu))
        return kStatusInvalidParameter;
    gpu = display.gpu;
    NTSTATUS status = openAdapter(gpu, pArgs->hAdapter, pArgs->AdapterLuid);
    if (status >= 0)
        pArgs->VidPnSourceId = display.vidPnSourceId;
    return status;
}

NTSTATUS Kernel::OpenAdapterFromGdiDisplayName(D3DKMT_OPENADAPTERFROMGDIDISPLAYNAME* pArgs,
                                               int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    std::string name;
    if (!boundedText(pArgs->DeviceName, 32, name))
        return kStatusInvalidParameter;
    int index = m_pMachine->findDisplay(name);
    if (index < 0 || m_pMachine->displays[index].mirroring())
        return kStatusInvalidParameter;
    const DisplayDeviceDesc& display = m_pMachine->displays[index];
    gpu = display.gpu;
    // A display device that is not attached to the desktop has no video present source to
    // open (Wine's conformance tests see STATUS_UNSUCCESSFUL for it).
    if (!display.attached())
        return kStatusUnsuccessful;
    NTSTATUS status = openAdapter(gpu, pArgs->hAdapter, pArgs->AdapterLuid);
    if (status >= 0)
        pArgs->VidPnSourceId = display.vidPnSourceId;
    return status;
}

NTSTATUS Kernel::CloseAdapter(const D3DKMT_CLOSEADAPTER* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = adapterGpu(pArgs->hAdapter);
    if (gpu < 0)
        return kStatusInvalidParameter;
    // Devices keep their own reference to the GPU, as they keep the adapter object alive
    // on Windows; only the handle goes.
    m_adapters.erase(pArgs->hAdapter);
    return kStatusSuccess;
}

// ---- Adapter queries -------------------------------------------------------------------------

NTSTATUS Kernel::QueryAdapterInfo(const D3DKMT_QUERYADAPTERINFO* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = adapterGpu(pArgs->hAdapter);
    if (gpu < 0)
        return kStatusInvalidParameter;
    if (!pArgs->pPrivateDriverData || pArgs->PrivateDriverDataSize == 0)
        return kStatusInvalidParameter;
    return queryAdapterInfoLocked(gpu, *pArgs);
}

NTSTATUS Kernel::queryAdapterInfoLocked(int gpu, const D3DKMT_QUERYADAPTERINFO& query) {
    const GpuDesc& g = *gpuOf(gpu);
    void* pData = query.pPrivateDriverData;
    UINT size = query.PrivateDriverDataSize;
    switch (rawValue(query.Type)) {
    case KMTQAITYPE_UMDRIVERPRIVATE: {
        // The kernel-mode driver answers with its blob; a larger buffer is zero-filled
        // behind it, a smaller one is refused rather than cut.
        if (size < g.umdPrivateData.size())
            return kStatusBufferTooSmall;
        memset(pData, 0, size);
        if (!g.umdPrivateData.empty())
            memcpy(pData, g.umdPrivateData.data(), g.umdPrivateData.size());
        return kStatusSuccess;
    }
    case KMTQAITYPE_UMDRIVERNAME: {
        if (size != sizeof(D3DKMT_UMDFILENAMEINFO))
            return kStatusInvalidParameter;
        auto* pInfo = static_cast<D3DKMT_UMDFILENAMEINFO*>(pData);
        UINT version = rawValue(pInfo->Version);
        if (version > KMTUMDVERSION_DX11)
            return kStatusInvalidParameter;
        // The simulated GPUs ship Direct3D 9 user-mode drivers only.
        if (version != KMTUMDVERSION_DX9 || g.umdFileName.empty())
            return kStatusNotSupported;
        copyWide(pInfo->UmdFileName, MAX_PATH, g.umdFileName);
        return kStatusSuccess;
    }
    case KMTQAITYPE_ADAPTERADDRESS: {
        if (size != sizeof(D3DKMT_ADAPTERADDRESS))
            return kStatusInvalidParameter;
        auto* pAddress = static_cast<D3DKMT_ADAPTERADDRESS*>(pData);
        pAddress->BusNumber = g.busNumber;
        pAddress->DeviceNumber = g.deviceNumber;
        pAddress->FunctionNumber = g.functionNumber;
        return kStatusSuccess;
    }
    case KMTQAITYPE_GETSEGMENTSIZE: {
        if (size != sizeof(D3DKMT_SEGMENTSIZEINFO))
            return kStatusInvalidParameter;
        auto* pSizes = static_cast<D3DKMT_SEGMENTSIZEINFO*>(pData);
        pSizes->DedicatedVideoMemorySize = g.videoMemory;
        pSizes->DedicatedSystemMemorySize = 0;
        pSizes->SharedSystemMemorySize = 1ull << 30;
        return kStatusSuccess;
    }
    case KMTQAITYPE_ADAPTERREGISTRYINFO: {
        if (size != sizeof(D3DKMT_ADAPTERREGISTRYINFO))
            return kStatusInvalidParameter;
        auto* pInfo = static_cast<D3DKMT_ADAPTERREGISTRYINFO*>(pData);
        copyWide(pInfo->AdapterString, MAX_PATH, g.name);
        copyWide(pInfo->BiosString, MAX_PATH, "Simulated BIOS");
        copyWide(pInfo->DacType, MAX_PATH, "Internal");
        copyWide(pInfo->ChipType, MAX_PATH, g.name);
        return kStatusSuccess;
    }
    case KMTQAITYPE_DRIVERVERSION: {
        if (size != sizeof(UINT))
            return kStatusInvalidParameter;
        *static_cast<UINT*>(pData) = KMT_DRIVERVERSION_WDDM_1_1;
        return kStatusSuccess;
    }
    case KMTQAITYPE_CHECKDRIVERUPDATESTATUS: {
        if (size != sizeof(BOOL))
            return kStatusInvalidParameter;
        *static_cast<BOOL*>(pData) = FALSE;
        return kStatusSuccess;
    }
    default:
        return kStatusInvalidParameter;
    }
}

NTSTATUS Kernel::GetDisplayModeList(D3DKMT_GETDISPLAYMODELIST* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = adapterGpu(pArgs->hAdapter);
    if (gpu < 0)
        return kStatusInvalidParameter;
    // Modes are those of a monitor on the source; a GPU without one has no source.
    if (!m_pMachine->activeSource(gpu, pArgs->VidPnSourceId))
        return kStatusInvalidParameter;
    const std::vector<DisplayMode>& modes = gpuOf(gpu)->modes;
    UINT count = UINT(modes.size());
    NTSTATUS status = kStatusSuccess;
    if (!listHasRoom(pArgs->pModeList, pArgs->ModeCount, count, status))
        return status;
    for (UINT i = 0; i < count; ++i) {
        D3DKMT_DISPLAYMODE& m = pArgs->pModeList[i];
        memset(&m, 0, sizeof m);
        m.Width = modes[i].width;
        m.Height = modes[i].height;
        m.Format = D3DDDIFORMAT(modes[i].format);
        m.IntegerRefreshRate = modes[i].refreshRate;
        m.RefreshRate.Numerator = modes[i].refreshRate;
        m.RefreshRate.Denominator = 1;
        m.ScanLineOrdering = D3DDDI_VSSLO_PROGRESSIVE;
        m.DisplayOrientation = D3DDDI_ROTATION_IDENTITY;
        m.Flags.Flags = D3DKMDT_DISPLAYMODE_FLAGS::ValidatedAgainstMonitorCaps;
    }
    pArgs->ModeCount = count;
    return kStatusSuccess;
}

NTSTATUS Kernel::GetMultisampleMethodList(D3DKMT_GETMULTISAMPLEMETHODLIST* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = adapterGpu(pArgs->hAdapter);
    if (gpu < 0)
        return kStatusInvalidParameter;
    if (pArgs->VidPnSourceId >= m_pMachine->sourceCount(gpu) || pArgs->Width == 0 ||
        pArgs->Height == 0)
        return kStatusInvalidParameter;
    const std::vector<MultisampleMethod>& methods = gpuOf(gpu)->multisampleMethods;
    UINT count = UINT(methods.size());
    UINT reported = count;
    if (m_methodCountOverReport && pArgs->pMethodList) {
        count = count < pArgs->MethodCount ? count : pArgs->MethodCount;
        reported = pArgs->MethodCount + m_methodCountOverReport;
    }
    NTSTATUS status = kStatusSuccess;
    if (!listHasRoom(pArgs->pMethodList, pArgs->MethodCount, count, status))
        return status;
    for (UINT i = 0; i < count; ++i) {
        pArgs->pMethodList[i].NumSamples = methods[i].numSamples;
        pArgs->pMethodList[i].NumQualityLevels = methods[i].numQualityLevels;
        pArgs->pMethodList[i].Reserved = 0;
    }
    pArgs->MethodCount = reported;
    return kStatusSuccess;
}

NTSTATUS Kernel::Escape(const D3DKMT_ESCAPE* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    // The adapter is always named (Windows routes an escape by its adapter; the runtime
    // fills it in for a driver's escape callback). A device must be of that adapter's GPU,
    // and a context needs its device.
    auto adapter = m_adapters.find(pArgs->hAdapter);
    if (adapter == m_adapters.end())
        return kStatusInvalidParameter;
    gpu = adapter->second.gpu;
    if (pArgs->hDevice) {
        Device* pDevice = findDevice(pArgs->hDevice);
        if (!pDevice || pDevice->gpu != gpu)
            return kStatusInvalidParameter;
    }
    if (pArgs->hContext) {
        Context* pContext = findContext(pArgs->hContext);
        if (!pArgs->hDevice || !pContext || pContext->info.hDevice != pArgs->hDevice)
            return kStatusInvalidParameter;
    }
    if (!pArgs->pPrivateDriverData || pArgs->PrivateDriverDataSize == 0 ||
        rawValue(pArgs->Type) > D3DKMT_ESCAPE_DRT_TEST ||
        !onlyKnownBits(pArgs->Flags.Value, kEscapeFlagBits))
        return kStatusInvalidParameter;
    if (m_escapeHandler)
        return m_escapeHandler(gpu, *pArgs);
    return kStatusSuccess;
}

NTSTATUS Kernel::WaitForVerticalBlankEvent(const D3DKMT_WAITFORVERTICALBLANKEVENT* pArgs,
                                           int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = adapterGpu(pArgs->hAdapter);
    if (gpu < 0)
        return kStatusInvalidParameter;
    if (pArgs->hDevice) {
        Device* pDevice = findDevice(pArgs->hDevice);
        if (!pDevice || pDevice->gpu != gpu)
            return kStatusInvalidParameter;
    }
    if (!m_pMachine->activeSource(gpu, pArgs->VidPnSourceId))
        return kStatusInvalidParameter;
    // Until the source's next vertical blank, on either clock.
    uint64_t vblank = m_pQueues->nextVblank(gpu, pArgs->VidPnSourceId, Clock::instance().nowNs());
    m_pQueues->waitFor([] { return false; }, vblank, "a vertical blank wait");
    return kStatusSuccess;
}

NTSTATUS Kernel::GetScanLine(D3DKMT_GETSCANLINE* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = adapterGpu(pArgs->hAdapter);
    if (gpu < 0)
        return kStatusInvalidParameter;
    if (!m_pMachine->activeSource(gpu, pArgs->VidPnSourceId))
        return kStatusInvalidParameter;
    bool inBlank = false;
    m_pQueues->scanLine(gpu, pArgs->VidPnSourceId, pArgs->ScanLine, inBlank);
    pArgs->InVerticalBlank = inBlank ? TRUE : FALSE;
    return kStatusSuccess;
}

// ---- GDI device contexts -----------------------------------------------------------------------

HDC Kernel::createDisplayContext(const std::string& deviceName) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    int index = -1;
    if (deviceName.empty()) {
        for (size_t i = 0; i < m_pMachine->displays.size(); ++i) {
            if (m_pMachine->displays[i].primary() && !m_pMachine->displays[i].mirroring())
                index = int(i);
        }
    } else {
        index = m_pMachine->findDisplay(deviceName);
    }
    if (index < 0 || !m_pMachine->displays[index].attached())
        return nullptr;
    // GDI handles live in their own number space, apart from the kernel's.
    uintptr_t value = 0x01010000u + (m_nextDc++) * 4;
    m_displayContexts[value].display = index;
    return reinterpret_cast<HDC>(value);
}

bool Kernel::deleteDisplayContext(HDC hdc) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_displayContexts.erase(reinterpret_cast<uintptr_t>(hdc)) == 1;
}

// ---- Queries -----------------------------------------------------------------------------------

bool Kernel::allocation(D3DKMT_HANDLE hAllocation, AllocationInfo& out) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    auto it = m_allocations.find(hAllocation);
    if (it == m_allocations.end())
        return false;
    out = it->second.info;
    return true;
}

std::vector<D3DKMT_HANDLE> Kernel::allocationsOf(D3DKMT_HANDLE hDevice) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::vector<D3DKMT_HANDLE> out;
    for (const auto& entry : m_allocations) {
        if (entry.second.info.hDevice == hDevice)
            out.push_back(entry.first);
    }
    return out;
}

std::vector<D3DKMT_HANDLE> Kernel::resourceAllocations(D3DKMT_HANDLE hResource) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    auto it = m_resources.find(hResource);
    return it == m_resources.end() ? std::vector<D3DKMT_HANDLE>() : it->second.allocations;
}

int Kernel::adapterGpu(D3DKMT_HANDLE hAdapter) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    auto it = m_adapters.find(hAdapter);
    return it == m_adapters.end() ? -1 : it->second.gpu;
}

int Kernel::deviceGpu(D3DKMT_HANDLE hDevice) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    auto it = m_devices.find(hDevice);
    return it == m_devices.end() ? -1 : it->second.gpu;
}

bool Kernel::context(D3DKMT_HANDLE hContext, ContextInfo& out) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    auto it = m_contexts.find(hContext);
    if (it != m_contexts.end()) {
        out = it->second.info;
        return true;
    }
    auto device = m_devices.find(hContext);
    if (device == m_devices.end())
        return false;
    out = device->second.submission;
    return true;
}

bool Kernel::syncObject(D3DKMT_HANDLE hSyncObject, SyncObjectInfo& out) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    auto it = m_syncObjects.find(hSyncObject);
    if (it == m_syncObjects.end())
        return false;
    out = it->second.info;
    return true;
}

KernelCounts Kernel::counts() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    KernelCounts c;
    c.adapters = m_adapters.size();
    c.devices = m_devices.size();
    c.resources = m_resources.size();
    c.allocations = m_allocations.size();
    c.contexts = m_contexts.size();
    c.syncObjects = m_syncObjects.size();
    c.deviceContexts = m_displayContexts.size();
    return c;
}

int Kernel::gpuOfHandle(D3DKMT_HANDLE handle) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (auto it = m_adapters.find(handle); it != m_adapters.end())
        return it->second.gpu;
    if (auto it = m_devices.find(handle); it != m_devices.end())
        return it->second.gpu;
    if (auto it = m_contexts.find(handle); it != m_contexts.end())
        return it->second.info.gpu;
    if (auto it = m_allocations.find(handle); it != m_allocations.end())
        return it->second.info.gpu;
    if (auto it = m_syncObjects.find(handle); it != m_syncObjects.end())
        return it->second.info.gpu;
    if (auto it = m_resources.find(handle); it != m_resources.end())
        return gpuOfHandle(it->second.hDevice);
    return -1;
}

int Kernel::gpuOfInterfaceName(const WCHAR* name) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::string text;
    if (!name || !boundedText(name, 4096, text))
        return -1;
    for (size_t i = 0; i < m_pMachine->gpus.size(); ++i) {
        if (equalNoCase(m_pMachine->gpus[i].adapterInterfaceName(), text))
            return int(i);
    }
    return -1;
}

int Kernel::gpuOfDisplayName(const WCHAR* name, size_t capacity) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::string text;
    if (!name || !boundedText(name, capacity, text))
        return -1;
    int index = m_pMachine->findDisplay(text);
    return index < 0 ? -1 : m_pMachine->displays[index].gpu;
}

int Kernel::gpuOfDisplayContext(HDC hdc) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    auto it = m_displayContexts.find(reinterpret_cast<uintptr_t>(hdc));
    return it == m_displayContexts.end() ? -1 : m_pMachine->displays[it->second.display].gpu;
}

int Kernel::gpuOfLuid(const LUID& luid) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (size_t i = 0; i < m_pMachine->gpus.size(); ++i) {
        if (m_pMachine->gpus[i].luidLow == luid.LowPart &&
            m_pMachine->gpus[i].luidHigh == luid.HighPart)
            return int(i);
    }
    return -1;
}

void Kernel::setMethodCountOverReport(UINT extra) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_methodCountOverReport = extra;
}

DisplayMode Kernel::currentMode(int gpu, uint32_t vidPnSourceId) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return currentModeLocked(gpu, vidPnSourceId);
}

DisplayMode Kernel::currentModeLocked(int gpu, uint32_t vidPnSourceId) const {
    if (!m_pMachine->activeSource(gpu, vidPnSourceId))
        return DisplayMode{0, 0, 0, 0};
    auto set = m_modes.find(SourceKey(gpu, vidPnSourceId));
    if (set != m_modes.end())
        return set->second;
    return m_pMachine->display(gpu, vidPnSourceId)->currentMode;
}

D3DKMT_HANDLE Kernel::sourceOwner(int gpu, uint32_t vidPnSourceId, uint32_t* pType) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    auto it = m_sourceOwners.find(SourceKey(gpu, vidPnSourceId));
    if (it == m_sourceOwners.end())
        return 0;
    if (pType)
        *pType = it->second.type;
    return it->second.hDevice;
}

void Kernel::releaseSourcesLocked(D3DKMT_HANDLE hDevice, bool all, SourceKey only) {
    for (auto it = m_sourceOwners.begin(); it != m_sourceOwners.end();) {
        if (it->second.hDevice != hDevice || (!all && it->first != only)) {
            ++it;
            continue;
        }
        // The desktop comes back in its own mode once the exclusive owner has gone.
        m_modes.erase(it->first);
        it = m_sourceOwners.erase(it);
    }
}

NTSTATUS Kernel::SetVidPnSourceOwner(const D3DKMT_SETVIDPNSOURCEOWNER* pArgs, int& gpu) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    gpu = -1;
    if (!pArgs)
        return kStatusInvalidParameter;
    gpu = deviceGpu(pArgs->hDevice);
    if (gpu < 0)
        return kStatusInvalidParameter;
    // No sources: the device gives up everything it owns.
    if (pArgs->VidPnSourceCount == 0) {
        releaseSourcesLocked(pArgs->hDevice, true);
        return kStatusSuccess;
    }
    if (!pArgs->pType || !pArgs->pVidPnSourceId || pArgs->VidPnSourceCount > 16)
        return kStatusInvalidParameter;
    for (UINT i = 0; i < pArgs->VidPnSourceCount; ++i) {
        UINT type = rawValue(pArgs->pType[i]);
        UINT source = pArgs->pVidPnSourceId[i];
        if (type > D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVEGDI || !m_pMachine->activeSource(gpu, source))
            return kStatusInvalidParameter;
        // Another device's exclusive ownership, or any other owner when exclusive ownership
        // is asked for, keeps the source.
        auto it = m_sourceOwners.find(SourceKey(gpu, source));
        bool exclusive = type >= D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVE;
        if (it != m_sourceOwners.end() && it->second.hDevice != pArgs->hDevice &&
            (exclusive || it->second.type >= D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVE) &&
            type != D3DKMT_VIDPNSOURCEOWNER_UNOWNED)
            return kStatusVidPnSourceInUse;
    }
    for (UINT i = 0; i < pArgs->VidPnSourceCount; ++i) {
        SourceKey key(gpu, pArgs->pVidPnSourceId[i]);
        UINT type = rawValue(pArgs->pType[i]);
        if (type == D3DKMT_VIDPNSOURCEOWNER_UNOWNED) {
            releaseSourcesLocked(pArgs->hDevice, false, key);
            continue;
        }
        SourceOwner& owner = m_sourceOwners[key];
        if (owner.hDevice == pArgs->hDevice && owner.type >= D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVE &&
            type < D3DKMT_VIDPNSOURCEOWNER_EXCLUSIVE)
            m_modes.erase(key);
        owner.hDevice = pArgs->hDevice;
        owner.type = type;
    }
    return kStatusSuccess;
}

void Kernel::settleGpus() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_pQueues->settle();
}

bool Kernel::waitForGpus(const std::function<bool()>& done) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_pQueues->waitFor(done, UINT64_MAX, "a wait for the GPUs");
}

bool Kernel::submissionDone(D3DKMT_HANDLE hContext, uint64_t number) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_pQueues->submissionDone(hContext, number))
        return true;
    m_pQueues->chargeBusyPoll();
    return false;
}

bool Kernel::allocationBusy(D3DKMT_HANDLE hAllocation) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_pQueues->settle();
    return m_pQueues->allocationBusy(hAllocation, false);
}

void Kernel::setEscapeHandler(EscapeHandler handler) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_escapeHandler = std::move(handler);
}

} // namespace sim
