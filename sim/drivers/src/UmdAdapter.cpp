// OpenAdapter and the adapter entries' work: the private data handshake with the kernel,
// the capability answers and the format table.
#include "UmdAdapter.h"

#include "DdiTables.h"
#include "sim/Call.h"
#include "sim/drivers/DriverEntry.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Kernel.h"

#include <new>
#include <string.h>

namespace sim {
namespace umd {

namespace {

// The kernel-mode half of each simulated driver answers KMTQAITYPE_UMDRIVERPRIVATE with
// vendor id, device id and video memory in MiB (32-bit little endian each).
struct KmdPrivateData {
    uint32_t vendorId = 0;
    uint32_t deviceId = 0;
    uint32_t memoryMiB = 0;
};

// Answers a capability query with one fixed record: a buffer too small for the record is
// refused rather than written past.
template <class T> HRESULT answerCaps(const D3DDDIARG_GETCAPS& args, const T& record) {
    if (args.DataSize < sizeof record)
        return E_INVALIDARG;
    memcpy(args.pData, &record, sizeof record);
    return S_OK;
}

// The GPU a runtime adapter handle or a kernel adapter handle stands for.
int gpuOfAdapterHandle(HANDLE hAdapter) {
    int gpu = DriverState::instance().runtimeAdapterGpu(hAdapter);
    uintptr_t value = reinterpret_cast<uintptr_t>(hAdapter);
    if (gpu < 0 && value != 0 && value <= 0xFFFFFFFFu)
        gpu = Kernel::instance().adapterGpu(D3DKMT_HANDLE(value));
    return gpu;
}

// The first GPU of the machine with these PCI ids; -1 when none.
int gpuOfIds(uint32_t vendorId, uint32_t deviceId) {
    std::shared_ptr<const MachineDesc> pMachine = installedMachine();
    for (size_t i = 0; pMachine && i < pMachine->gpus.size(); ++i) {
        if (pMachine->gpus[i].vendorId == vendorId && pMachine->gpus[i].deviceId == deviceId)
            return int(i);
    }
    return -1;
}

constexpr UINT kColorTextureOps = FORMATOP_TEXTURE | FORMATOP_VOLUMETEXTURE | FORMATOP_CUBETEXTURE |
                                  FORMATOP_OFFSCREENPLAIN | FORMATOP_MEMBEROFGROUP_ARGB;
constexpr UINT kRenderTargetOps = FORMATOP_OFFSCREEN_RENDERTARGET |
                                  FORMATOP_SAME_FORMAT_RENDERTARGET |
                                  FORMATOP_SAME_FORMAT_UP_TO_ALPHA_RENDERTARGET;
constexpr UINT kDisplayOps = FORMATOP_DISPLAYMODE | FORMATOP_3DACCELERATION;

} // namespace

std::vector<FORMATOP> formatTable(const VendorProfile& profile) {
    UINT ms = profile.sampleCounts | 1u; // bit 0: the non-maskable type
    std::vector<FORMATOP> table = {
        {D3DDDIFMT_X8R8G8B8,
         kColorTextureOps | kRenderTargetOps | kDisplayOps | FORMATOP_SRGBREAD | FORMATOP_SRGBWRITE,
         ms, ms, 0},
        {D3DDDIFMT_A8R8G8B8,
         kColorTextureOps | kRenderTargetOps | FORMATOP_SRGBREAD | FORMATOP_SRGBWRITE |
             FORMATOP_AUTOGENMIPMAP,
         ms, ms, 0},
        {D3DDDIFMT_R5G6B5, kColorTextureOps | kRenderTargetOps | kDisplayOps, ms, ms, 0},
        {D3DDDIFMT_X1R5G5B5, kColorTextureOps | kRenderTargetOps, ms, ms, 0},
        {D3DDDIFMT_A1R5G5B5, kColorTextureOps, 0, 0, 0},
        {D3DDDIFMT_A4R4G4B4, kColorTextureOps, 0, 0, 0},
        // Ten-bit colour renders and samples; whether it can be a display mode is for the
        // display to say, so the driver does not claim it.
        {D3DDDIFMT_A2R10G10B10, FORMATOP_TEXTURE | FORMATOP_OFFSCREENPLAIN | kRenderTargetOps, ms,
         ms, 0},
        {D3DDDIFMT_A16B16G16R16F, FORMATOP_TEXTURE | FORMATOP_OFFSCREEN_RENDERTARGET, 0, 0, 0},
        {D3DDDIFMT_R32F, FORMATOP_TEXTURE | FORMATOP_OFFSCREEN_RENDERTARGET, 0, 0, 0},
        {D3DDDIFMT_A8, FORMATOP_TEXTURE, 0, 0, 0},
        {D3DDDIFMT_L8, FORMATOP_TEXTURE | FORMATOP_VOLUMETEXTURE, 0, 0, 0},
        {D3DDDIFMT_DXT1, FORMATOP_TEXTURE | FORMATOP_CUBETEXTURE, 0, 0, 0},
        {D3DDDIFMT_DXT3, FORMATOP_TEXTURE | FORMATOP_CUBETEXTURE, 0, 0, 0},
        {D3DDDIFMT_DXT5, FORMATOP_TEXTURE | FORMATOP_CUBETEXTURE, 0, 0, 0},
        {D3DDDIFMT_D24S8, FORMATOP_ZSTENCIL | FORMATOP_ZSTENCIL_WITH_ARBITRARY_COLOR_DEPTH, ms, 0,
         0},
        {D3DDDIFMT_D24X8, FORMATOP_ZSTENCIL | FORMATOP_ZSTENCIL_WITH_ARBITRARY_COLOR_DEPTH, ms, 0,
         0},
        {D3DDDIFMT_D16, FORMATOP_ZSTENCIL | FORMATOP_ZSTENCIL_WITH_ARBITRARY_COLOR_DEPTH, ms, 0, 0},
        {D3DDDIFMT_INDEX16, 0, 0, 0, 0},
        {D3DDDIFMT_INDEX32, 0, 0, 0, 0},
        {D3DDDIFMT_VERTEXDATA, 0, 0, 0, 0},
    };
    // Depth textures only the discrete parts expose.
    if (profile.vendorId != kVendorIntel)
        table.push_back({D3DDDIFMT_INTZ, FORMATOP_TEXTURE | FORMATOP_ZSTENCIL, 0, 0, 0});
    return table;
}

Adapter::Adapter(int profileIndex, int gpu, const D3DDDIARG_OPENADAPTER& args)
    : m_profileIndex(profileIndex), m_gpu(gpu), m_hRuntime(args.hAdapter),
      m_callbacks(*args.pAdapterCallbacks) {}

HRESULT Adapter::formatCaps(const D3DDDIARG_GETCAPS& args) {
    std::vector<FORMATOP> table = formatTable(profile());
    if (args.Type == D3DDDICAPS_GETFORMATCOUNT)
        return answerCaps(args, UINT(table.size()));
    // The runtime sizes the buffer from the count; a short buffer is its mistake and is
    // refused whole rather than half filled.
    if (args.DataSize < table.size() * sizeof(FORMATOP))
        return E_INVALIDARG;
    memcpy(args.pData, table.data(), table.size() * sizeof(FORMATOP));
    return S_OK;
}

HRESULT Adapter::multisampleQualityLevels(const D3DDDIARG_GETCAPS& args) {
    if (args.DataSize < sizeof(DDIMULTISAMPLEQUALITYLEVELSDATA))
        return E_INVALIDARG;
    DDIMULTISAMPLEQUALITYLEVELSDATA data;
    memcpy(&data, args.pData, sizeof data);
    UINT type;
    memcpy(&type, &data.MsType, sizeof type);
    if (type > 16)
        return E_INVALIDARG;
    UINT levels = 0;
    if (type == D3DDDIMULTISAMPLE_NONE) {
        levels = 1;
    } else {
        // The kernel-mode driver knows what the hardware offers; ask it as drivers do.
        D3DDDICB_GETMULTISAMPLEMETHODLIST list = {};
        list.Width = 640;
        list.Height = 480;
        list.Format = data.Format;
        HRESULT hr = m_callbacks.pfnGetMultisampleMethodListCb
                         ? m_callbacks.pfnGetMultisampleMethodListCb(m_hRuntime, &list)
                         : E_FAIL;
        if (FAILED(hr))
            return hr;
        std::vector<D3DDDI_MULTISAMPLINGMETHOD> methods(list.MethodCount);
        list.pMethodList = methods.data();
        hr = m_callbacks.pfnGetMultisampleMethodListCb(m_hRuntime, &list);
        if (FAILED(hr))
            return hr;
        for (UINT i = 0; i < list.MethodCount && i < methods.size(); ++i) {
            bool offered = methods[i].NumSamples >= 2 &&
                           (profile().sampleCounts & (1u << (methods[i].NumSamples - 1)));
            if (!offered)
                continue;
            if (type == D3DDDIMULTISAMPLE_NONMASKABLE)
                levels =
                    levels > methods[i].NumQualityLevels ? levels : methods[i].NumQualityLevels;
            else if (methods[i].NumSamples == type)
                levels = methods[i].NumQualityLevels;
        }
    }
    data.QualityLevels = levels;
    memcpy(args.pData, &data, sizeof data);
    return S_OK;
}

HRESULT Adapter::getCaps(const D3DDDIARG_GETCAPS& args) {
    if (!args.pData)
        return E_INVALIDARG;
    UINT type;
    memcpy(&type, &args.Type, sizeof type);
    switch (type) {
    case D3DDDICAPS_GETFORMATCOUNT:
    case D3DDDICAPS_GETFORMATDATA:
        return formatCaps(args);
    case D3DDDICAPS_GETMULTISAMPLEQUALITYLEVELS:
        return multisampleQualityLevels(args);
    case D3DDDICAPS_GETGAMMARAMPCAPS:
        return answerCaps(args, DDIGAMMACAPS{GAMMA_CAP_RGB256x3x16});
    case D3DDDICAPS_GETD3DQUERYCOUNT:
        return answerCaps(args, UINT(5));
    case D3DDDICAPS_GETD3DQUERYDATA: {
        const D3DDDIQUERYTYPE queries[] = {
            D3DDDIQUERYTYPE_EVENT, D3DDDIQUERYTYPE_OCCLUSION, D3DDDIQUERYTYPE_TIMESTAMP,
            D3DDDIQUERYTYPE_TIMESTAMPDISJOINT, D3DDDIQUERYTYPE_TIMESTAMPFREQ};
        return answerCaps(args, queries);
    }
    // Counts of video, extension and protection features: the simulated parts have none.
    case D3DDDICAPS_GETDECODEGUIDCOUNT:
    case D3DDDICAPS_GETDECODERTFORMATCOUNT:
    case D3DDDICAPS_GETDECODECOMPRESSEDBUFFERINFOCOUNT:
    case D3DDDICAPS_GETDECODECONFIGURATIONCOUNT:
    case D3DDDICAPS_GETVIDEOPROCESSORDEVICEGUIDCOUNT:
    case D3DDDICAPS_GETVIDEOPROCESSORRTFORMATCOUNT:
    case D3DDDICAPS_GETVIDEOPROCESSORRTSUBSTREAMFORMATCOUNT:
    case D3DDDICAPS_GETEXTENSIONGUIDCOUNT:
    case D3DDDICAPS_GETCERTIFICATESIZE:
        return answerCaps(args, UINT(0));
    // Lists that follow a zero count, and feature queries of features not offered.
    case D3DDDICAPS_GETDECODEGUIDS:
    case D3DDDICAPS_GETDECODERTFORMATS:
    case D3DDDICAPS_GETDECODECOMPRESSEDBUFFERINFO:
    case D3DDDICAPS_GETDECODECONFIGURATIONS:
    case D3DDDICAPS_GETVIDEOPROCESSORDEVICEGUIDS:
    case D3DDDICAPS_GETVIDEOPROCESSORRTFORMATS:
    case D3DDDICAPS_GETVIDEOPROCESSORRTSUBSTREAMFORMATS:
    case D3DDDICAPS_GETVIDEOPROCESSORCAPS:
    case D3DDDICAPS_GETPROCAMPRANGE:
    case D3DDDICAPS_FILTERPROPERTYRANGE:
    case D3DDDICAPS_GETEXTENSIONGUIDS:
    case D3DDDICAPS_GETEXTENSIONCAPS:
    case D3DDDICAPS_CHECKOVERLAYSUPPORT:
    case D3DDDICAPS_DXVAHD_GETVPDEVCAPS:
    case D3DDDICAPS_DXVAHD_GETVPOUTPUTFORMATS:
    case D3DDDICAPS_DXVAHD_GETVPINPUTFORMATS:
    case D3DDDICAPS_DXVAHD_GETVPCAPS:
    case D3DDDICAPS_DXVAHD_GETVPCUSTOMRATES:
    case D3DDDICAPS_DXVAHD_GETVPFILTERRANGE:
    case D3DDDICAPS_GETCONTENTPROTECTIONCAPS:
    case D3DDDICAPS_GETCERTIFICATE:
        return D3DERR_NOTAVAILABLE;
    // Capability records the simulation does not model field by field: all zero (no
    // optional feature), which every runtime copes with.
    case D3DDDICAPS_DDRAW:
    case D3DDDICAPS_DDRAW_MODE_SPECIFIC:
    case D3DDDICAPS_GETD3D3CAPS:
    case D3DDDICAPS_GETD3D5CAPS:
    case D3DDDICAPS_GETD3D6CAPS:
    case D3DDDICAPS_GETD3D7CAPS:
    case D3DDDICAPS_GETD3D8CAPS:
    case D3DDDICAPS_GETD3D9CAPS:
        memset(args.pData, 0, args.DataSize);
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}

HRESULT openAdapterForProfile(int profileIndex, D3DDDIARG_OPENADAPTER* pOpenData) {
    const VendorProfile& vendor = profile(profileIndex);
    int gpu = pOpenData ? gpuOfAdapterHandle(pOpenData->hAdapter) : -1;
    Call call(vendor.module, "OpenAdapter", gpu);
    if (!pOpenData)
        return call.finish(E_INVALIDARG);
    call.args("hAdapter=%p Interface=%u Version=0x%x", pOpenData->hAdapter, pOpenData->Interface,
              pOpenData->Version);
    if (call.faulted())
        return call.finish(HRESULT(call.faultStatus()));
    const D3DDDI_ADAPTERCALLBACKS* pCallbacks = pOpenData->pAdapterCallbacks;
    if (!pCallbacks || !pCallbacks->pfnQueryAdapterInfoCb || !pOpenData->pAdapterFuncs)
        return call.finish(E_INVALIDARG);

    // Ask the kernel-mode half which part this is; a driver refuses hardware of another
    // vendor, as a real one would not find its kernel driver there.
    uint8_t privateData[64] = {};
    D3DDDICB_QUERYADAPTERINFO query = {privateData, sizeof privateData};
    HRESULT hr = pCallbacks->pfnQueryAdapterInfoCb(pOpenData->hAdapter, &query);
    if (FAILED(hr))
        return call.finish(hr);
    KmdPrivateData kmd;
    memcpy(&kmd, privateData, sizeof kmd);
    if (kmd.vendorId != vendor.vendorId)
        return call.finish(E_FAIL);
    if (gpu < 0) {
        gpu = gpuOfIds(kmd.vendorId, kmd.deviceId);
        call.setGpu(gpu);
    }

    return call.finish(guarded([&] {
        Adapter* pAdapter = new Adapter(profileIndex, gpu, *pOpenData);
        DriverState::instance().addAdapter(pAdapter);
        fillAdapterFuncs(profileIndex, *pOpenData->pAdapterFuncs);
        pOpenData->hAdapter = pAdapter;
        pOpenData->DriverVersion = D3D_UMD_INTERFACE_VERSION_WIN7;
        return S_OK;
    }));
}

} // namespace umd
} // namespace sim
