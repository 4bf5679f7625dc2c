// What the machine's journal says about a run: the road the frames took from the rendering
// GPU to the presenting GPU, and when each stage happened.
#pragma once

#include "sim/Journal.h"
#include "sim/gpus/MachineDesc.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace demo {

/// The stages of an interposed frame seen in the journal, with their machine times.
struct JournalStages {
    std::vector<uint64_t> transfers;          ///< copies into the presenting GPU's surfaces
    std::vector<uint64_t> presentingPresents; ///< the presenting GPU driver's Present calls
    std::string transferPath;                 ///< how frames crossed, described
};

/// Reads the stages of a run from journal entries. `renderGpu` is the GPU that rendered the
/// frames (-1: none did), `displayGpu` the one that showed them; a run on one GPU has no
/// transfer.
JournalStages readStages(const std::vector<sim::JournalEntry>& entries,
                         const sim::MachineDesc& machine, int renderGpu, int displayGpu,
                         bool interposed);

} // namespace demo
