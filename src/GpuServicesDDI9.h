// GpuServicesDDI9: the Direct3D 9 side of the GPU services: registering a device with the
// interop library, mapping resources on a GPU, and event queries through the vendor
// drivers' own device tables.
#pragma once

#include "GpuServices.h"

class GpuServicesDDI9 : public GpuServices {
public:
    GpuServicesDDI9() = default;
    ~GpuServicesDDI9() override = default;

    bool onAfterCreateDevice(Device* pDevice) override;
    bool onBeforeDestroyDevice(uint32_t interopGroupId) override;
    VI_STATUS createInterop(ViObject* pRoot, UINT kind, UINT version,
                            ViObject** ppGpuInterop) override;
    void* mapResource(unsigned gpu, uint64_t hResource, UINT width, UINT height, UINT format,
                      UINT bitsPerPixel, uint32_t groupId) override;
    void* mapMultiResource(unsigned gpu, uint64_t hResource, UINT count, const UINT* pSizes,
                           UINT format, UINT bitsPerPixel, uint32_t groupId) override;
    bool isQueryDone(Device* pDevice, unsigned gpu, uint64_t query) override;
    uint64_t createEventQuery(Device* pDevice, unsigned gpu) override;
    void destroyQuery(Device* pDevice, unsigned gpu, uint64_t query) override;

    /// The two descriptors the registration passes for `pDevice` (GPU 0 and GPU 1).
    static void describeDevice(Device* pDevice, ViDeviceDescriptor descriptors[2]);
};
