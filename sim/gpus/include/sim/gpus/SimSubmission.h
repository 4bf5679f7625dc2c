// The private driver data a simulated user-mode driver hands with each submission of its
// command buffer: which vendor's driver wrote the commands and for which GPU. A kernel
// refuses commands written for another GPU, as a kernel-mode driver cannot execute another
// vendor's command stream.
#pragma once

#include <stdint.h>

namespace sim {

/// "SSUB": marks submission private data the simulated kernel understands.
constexpr uint32_t kSimSubmissionMagic = 0x42555353u;

/// Private driver data of one D3DKMT_RENDER (D3DDDICB_RENDER), written by the driver.
struct SimSubmissionDesc {
    uint32_t magic = kSimSubmissionMagic;
    uint16_t vendorId = 0;  ///< PCI vendor id of the GPU the commands are for
    uint16_t gpu = 0xFFFFu; ///< index of that GPU in the machine description

    /// Marks the commands as written for GPU `gpuIndex` of vendor `vendor`.
    void setOwner(uint32_t vendor, int gpuIndex) {
        vendorId = uint16_t(vendor);
        gpu = uint16_t(gpuIndex);
    }
};
static_assert(sizeof(SimSubmissionDesc) == 8, "the layout is shared with the drivers");

} // namespace sim
