// DdiObjHandle: the DDI handles of one interposed object, per GPU.
//
// Slot 0 holds the runtime handle, the one the Direct3D runtime passed when it created the
// object (only the presenting GPU's driver sees the runtime's calls directly). Slots 1 to 3
// hold kernel handles (D3DKMT_HANDLE, widened) that the system obtained itself for the
// object on an auxiliary GPU.
#pragma once

#include "Object.h"

#include <stdint.h>

class DdiObjHandle {
public:
    /// The runtime's handle; only slot 0 is meant, any other index is reported and used.
    uint64_t getRuntimeHandle(unsigned index = 0) const {
        VESSA_CHECK_AT(172, Warning, 1071, 0 == index,
                       "Runtime handles should be stored for primary GPU only.");
        return m_handles.get(index);
    }

    void setRuntimeHandle(uint64_t handle, unsigned index = 0) {
        VESSA_CHECK_AT(172, Warning, 1071, 0 == index,
                       "Runtime handles should be stored for primary GPU only.");
        m_handles.set(index, handle);
    }

    /// A kernel handle of auxiliary GPU `index`; index 0 is reported and read all the same.
    uint64_t getKernelHandle(unsigned index) const {
        VESSA_CHECK_AT(161, Warning, 1070, 0 != index,
                       "Kernel handles should be stored for auxiliary GPU only.");
        return m_handles.get(index);
    }

    void setKernelHandle(unsigned index, uint64_t handle) {
        VESSA_CHECK_AT(155, Warning, 1069, 0 != index,
                       "Kernel handles should be stored for auxiliary GPU only.");
        m_handles.set(index, handle);
    }

    uint32_t mask() const { return m_handles.mask(); }

private:
    Object<uint64_t> m_handles;
};
