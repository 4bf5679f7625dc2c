// Reading a run's stages from the journal.
#include "RunJournal.h"

#include <map>
#include <set>
#include <strings.h>

namespace demo {

namespace {

bool sameModule(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// The system-memory blocks a kernel allocation call placed (its "sysmem=0x..." arguments).
std::vector<std::string> systemMemoryOf(const std::string& arguments) {
    std::vector<std::string> blocks;
    size_t at = 0;
    while ((at = arguments.find("sysmem=0x", at)) != std::string::npos) {
        at += 7;
        size_t end = arguments.find_first_of(" ]", at);
        blocks.push_back(arguments.substr(at, end - at));
    }
    return blocks;
}

} // namespace

JournalStages readStages(const std::vector<sim::JournalEntry>& entries,
                         const sim::MachineDesc& machine, int renderGpu, int displayGpu,
                         bool interposed) {
    JournalStages stages;
    if (displayGpu < 0 || size_t(displayGpu) >= machine.gpus.size())
        return stages;
    const std::string& presentingDriver = machine.gpus[size_t(displayGpu)].umdFileName;
    std::string renderingDriver;
    if (renderGpu >= 0 && size_t(renderGpu) < machine.gpus.size())
        renderingDriver = machine.gpus[size_t(renderGpu)].umdFileName;
    // The application talks to the interposer only, so every copy the presenting GPU's
    // driver makes is the interposer's: a frame arriving (or the icon drawn into it).
    static const std::set<std::string> kCopies = {"Blt", "Lock", "TexBlt", "BufBlt", "VolBlt"};
    std::map<std::string, std::set<int>> blockGpus; // system-memory block -> GPUs using it
    size_t renderingLocks = 0;
    size_t interopTransfers = 0;
    for (const sim::JournalEntry& e : entries) {
        if (e.result < 0)
            continue;
        if (interposed && sameModule(e.module, "vessaInterop.dll")) {
            // The interop library's copy out of a staging buffer is a frame arriving.
            if (e.entry == "transferFromBufSurface" && e.result == 0) {
                ++interopTransfers;
                stages.transfers.push_back(e.timeNs);
            }
        } else if (sameModule(e.module, presentingDriver) && e.entry == "Present") {
            stages.presentingPresents.push_back(e.timeNs);
        } else if (interposed && sameModule(e.module, presentingDriver) && kCopies.count(e.entry)) {
            stages.transfers.push_back(e.timeNs);
        } else if (interposed && !renderingDriver.empty() && renderGpu != displayGpu &&
                   sameModule(e.module, renderingDriver) && e.entry == "Lock") {
            ++renderingLocks;
            stages.transfers.push_back(e.timeNs);
        } else if (sameModule(e.module, "gdi32.dll") && e.entry == "D3DKMTCreateAllocation") {
            for (const std::string& block : systemMemoryOf(e.arguments))
                blockGpus[block].insert(e.gpu);
        }
    }
    if (interposed && renderGpu < 0) {
        stages.transferPath = "none seen (nothing was rendered)";
        return stages;
    }
    if (!interposed || renderGpu == displayGpu) {
        stages.transferPath = "none (rendered and shown on one GPU)";
        return stages;
    }
    bool sharedBlock = false;
    for (const auto& block : blockGpus)
        sharedBlock =
            sharedBlock || (block.second.count(renderGpu) && block.second.count(displayGpu));
    if (interopTransfers > 0)
        stages.transferPath = "interop library staging buffers (vessaInterop.dll)";
    else if (sharedBlock)
        stages.transferPath = "system memory shared by both GPUs (API copy staging buffer)";
    else if (renderingLocks > 0)
        stages.transferPath = "CPU copy through locked staging surfaces (API copy)";
    else if (!stages.transfers.empty())
        stages.transferPath = "copies on the presenting GPU only (no frame left the rendering GPU)";
    else
        stages.transferPath = "none seen (no frame reached the presenting GPU)";
    return stages;
}

} // namespace demo
