// A stand-in for NVIDIA's nvcpl.dll on the simulated machine: its driver-loaded-state query,
// which answers 1 (loaded) unless the interposer has replaced it.
#include "platform/win.h"

VESSA_EXPORT int WINAPI NvCplApiGetDriverLoadedState() {
    return 1;
}
