// OpenAdapter: the GPU roles. They hold -1 until the process start-up assigns them.
#include "OpenAdapter.h"

int OpenAdapter::s_renderingGPU = -1;
int OpenAdapter::s_presentingGPU = -1;

void OpenAdapter::setGpuRoles(int rendering, int presenting) {
    s_renderingGPU = rendering;
    s_presentingGPU = presenting;
}
