// DdiObject: the per-GPU base of every interposed object (adapter, device, resource).
//
// Towards the runtime an object exists once; towards the vendor drivers once per GPU. The
// base keeps, per GPU, the handle each vendor driver returned (user handles), the DDI handles
// (runtime handle in slot 0, kernel handles in slots 1 to 3), the vendor, and a view: a small
// (owner, GPU index) pair whose address is handed to GPU i's driver in place of a runtime
// handle, so a driver's callback leads back to the object and the GPU.
#pragma once

#include "DdiObjHandle.h"
#include "Object.h"

#include <stdint.h>

class DdiObject;

/// One per-GPU view. Its address is the handle a vendor driver receives.
struct DdiObjectView {
    DdiObject* owner;
    unsigned gpuIndex;
};

/// Anything an object may own and destroy with itself.
class DdiAttachment {
public:
    virtual ~DdiAttachment() = default;
};

enum DdiObjectKind : uint32_t {
    kDdiObjectAdapter = 1,
    kDdiObjectDevice = 2,
    kDdiObjectResource = 3,
};

class DdiObject {
public:
    static constexpr uint32_t kMarker = 0xEDCBA000u;
    static constexpr unsigned kGpuSlots = 4;

    explicit DdiObject(uint32_t kind);
    DdiObject(const DdiObject&) = delete;
    DdiObject& operator=(const DdiObject&) = delete;

    // Overridable operations, in table order. Derived classes override some of them:
    // resources answer the surface queries, devices the context and services queries.

    /// Must be overridden; the base reports that it was reached.
    virtual uint64_t requiredOperation();
    virtual uint32_t surfaceWidth(unsigned surfaceIndex);
    virtual uint32_t surfaceHeight(unsigned surfaceIndex);
    virtual uint32_t surfaceDepth(unsigned surfaceIndex);
    virtual uint32_t multisampleType();
    virtual uint32_t multisampleQuality();
    virtual uint32_t bitsPerPixel();
    virtual uint32_t format();
    virtual uint64_t reservedQuery();
    virtual bool isInteropReady();
    virtual ~DdiObject();
    virtual void* kernelCallThroughTable();
    virtual void* gpuServices();
    virtual uint32_t interopGroupId();
    virtual void setContext(unsigned index, uint64_t contextHandle);
    virtual bool canTransfer();
    virtual bool canPresent();

    uint32_t kind() const { return m_kind; }
    uint32_t marker() const { return m_marker; }
    uint64_t serialNumber() const { return m_serialNumber; }

    /// Handle that GPU `index`'s vendor driver returned for this object.
    uint64_t getUserHandle(unsigned index) const { return m_userHandles.get(index); }
    void setUserHandle(unsigned index, uint64_t handle) { m_userHandles.set(index, handle); }
    const Object<uint64_t>& userHandles() const { return m_userHandles; }

    DdiObjHandle& ddiHandles() { return m_ddiHandles; }
    const DdiObjHandle& ddiHandles() const { return m_ddiHandles; }

    uint32_t getVendor(unsigned index) const { return m_vendors.get(index); }
    void setVendor(unsigned index, uint32_t vendor) { m_vendors.set(index, vendor); }

    /// The view of GPU `index`: its address is the handle for that GPU's driver. An index
    /// beyond the slots is reported and has no view (null): handing out GPU 0's would send
    /// that driver's callbacks to the wrong GPU.
    DdiObjectView* view(unsigned index);
    /// The view behind a handle that a vendor driver passed back (null for null).
    static DdiObjectView* viewFromHandle(const void* handle) {
        return static_cast<DdiObjectView*>(const_cast<void*>(handle));
    }

    /// Takes ownership of `attachment`, destroyed with this object.
    void setAttachment(DdiAttachment* attachment);
    DdiAttachment* attachment() const { return m_pAttachment; }

private:
    uint32_t m_marker;
    uint32_t m_reserved0;
    uint32_t m_kind;
    uint64_t m_serialNumber;
    DdiAttachment* m_pAttachment;
    uint64_t m_reserved1;
    Object<uint64_t> m_userHandles;
    DdiObjHandle m_ddiHandles;
    DdiObjectView m_views[kGpuSlots];
    Object<uint32_t> m_vendors;
};
