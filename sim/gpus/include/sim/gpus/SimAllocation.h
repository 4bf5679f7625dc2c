// The private driver data through which a simulated user-mode driver describes each
// allocation to the simulated kernel: the kernel needs the size to back the allocation
// with memory, and the layout to lock it and to scan it out.
#pragma once

#include <stdint.h>

namespace sim {

/// "SALC": marks private driver data the simulated kernel understands.
constexpr uint32_t kSimAllocationMagic = 0x434C4153u;

/// Private driver data of one D3DDDI_ALLOCATIONINFO, written by the user-mode driver.
///
/// A surface gives width, height and a D3DDDIFORMAT; pitch 0 lets the kernel use
/// width * bytes per pixel (only for formats it knows), size 0 lets it use pitch * height.
/// A buffer or a format the kernel does not know gives pitch (bytes per row) or size.
///
/// Private data is the driver's own format for its own kernel-mode half: it names the
/// vendor and the GPU it was written for, and a kernel refuses data written for another
/// GPU, as a kernel-mode driver cannot read another vendor's layout.
struct SimAllocationDesc {
    uint32_t magic = kSimAllocationMagic;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t format = 0;
    uint32_t pitch = 0;
    uint16_t vendorId = 0;  ///< PCI vendor id of the GPU the data is for
    uint16_t gpu = 0xFFFFu; ///< index of that GPU in the machine description
    uint64_t size = 0;

    /// Marks the data as written for GPU `gpuIndex` of vendor `vendor`.
    void setOwner(uint32_t vendor, int gpuIndex) {
        vendorId = uint16_t(vendor);
        gpu = uint16_t(gpuIndex);
    }
};
static_assert(sizeof(SimAllocationDesc) == 32, "the layout is shared with the drivers");

} // namespace sim
