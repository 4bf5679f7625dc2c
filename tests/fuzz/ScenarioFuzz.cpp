// Scenario files of the simulated machine: any text through the loader (unknown sections
// refused, then skipped); a description it accepts is installed when the first byte asks,
// and the GPU enumerator discovers the machine it describes.
#include "FuzzSupport.h"
#include "GpuEnumerator.h"

#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/ScenarioLoader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::useBuildModules();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    bool install = input.byte() & 1;
    std::string text = input.remaining();
    sim::MachineDesc strict;
    std::string error;
    sim::ScenarioLoader::loadText(text, "fuzz", strict, &error);
    sim::MachineDesc machine;
    if (!sim::ScenarioLoader::loadText(text, "fuzz", machine, &error,
                                       sim::ScenarioLoader::UnknownSections::Skip))
        return 0;
    if (install && sim::installMachine(machine, &error)) {
        GpuEnumerator* gpus = GpuEnumerator::getInstance();
        gpus->enumerate();
        for (int i = 0; i < gpus->getGpuNum(); ++i)
            gpus->getGPUVendorIdEnum(i);
        gpus->getGpuConfiguration();
        gpus->getSecondaryDisplayDevice();
    }
    fuzz::keepLogSmall();
    return 0;
}
