// OpenAdapter: the GPU roles and the adapter and device registries.
//
// The report lines below are the registry's long-standing report sites; keep them stable.
#include "OpenAdapter.h"

#include "Adapter9.h"
#include "DdiObject.h"
#include "Report.h"

#include <stdint.h>

int OpenAdapter::s_renderingGPU = -1;
int OpenAdapter::s_presentingGPU = -1;
std::map<HANDLE, Adapter*> OpenAdapter::s_adapterMap;
std::map<HANDLE, DdiObject*> OpenAdapter::s_deviceMap;
std::mutex OpenAdapter::s_registryLock;

namespace {

// Handles print as the low 32 bits, as the reports have always shown them.
unsigned shortHandle(HANDLE handle) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle));
}

// The object's user handle on the rendering GPU (with the per-GPU mask check) against the
// handle the runtime used.
bool isRenderingHandle(const DdiObject* res, HANDLE handle) {
    return res->getUserHandle(static_cast<unsigned>(OpenAdapter::renderingGPU())) ==
           static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

} // namespace

void OpenAdapter::setGpuRoles(int rendering, int presenting) {
    s_renderingGPU = rendering;
    s_presentingGPU = presenting;
}

void OpenAdapter::addDevice(HANDLE hDevice, DdiObject* pDevice) {
    std::lock_guard<std::mutex> guard(s_registryLock);
    VESSA_CHECK_AT(37, Error, 10883, s_deviceMap.end() == s_deviceMap.find(hDevice),
                   "Device %x already defined!", shortHandle(hDevice));
    s_deviceMap[hDevice] = pDevice;
}

DdiObject* OpenAdapter::getDevice(HANDLE hDevice, void (*whileRegistered)(DdiObject*)) {
    std::lock_guard<std::mutex> guard(s_registryLock);
    // Every wrapped entry comes here: one look-up, not two.
    auto it = s_deviceMap.find(hDevice);
    if (!VESSA_CHECK_AT(43, Error, 10884, s_deviceMap.end() != it, "Could not find Device %x!",
                        shortHandle(hDevice)))
        return nullptr;
    DdiObject* res = it->second;
    if (!isRenderingHandle(res, hDevice))
        VESSA_REPORT_AT(45, Error, 10885,
                        "isCoreLayer || res->getUserHandle(OpenAdapter::renderingGPU()) == hDevice",
                        "Application device should be of OpenAdapter::renderingGPU()!");
    if (whileRegistered && res)
        whileRegistered(res);
    return res;
}

void OpenAdapter::removeDevice(HANDLE hDevice) {
    std::lock_guard<std::mutex> guard(s_registryLock);
    auto it = s_deviceMap.find(hDevice);
    if (!VESSA_CHECK_AT(51, Error, 10886, s_deviceMap.end() != s_deviceMap.find(hDevice),
                        "Could not find Device %x!", shortHandle(hDevice)))
        return;
    s_deviceMap.erase(it);
}

void OpenAdapter::addAdapter(HANDLE hAdapter, Adapter* pAdapter) {
    std::lock_guard<std::mutex> guard(s_registryLock);
    VESSA_CHECK_AT(57, Error, 10887, s_adapterMap.end() == s_adapterMap.find(hAdapter),
                   "Adapter %x already defined!", shortHandle(hAdapter));
    s_adapterMap[hAdapter] = pAdapter;
}

Adapter* OpenAdapter::getAdapter(HANDLE hAdapter) {
    std::lock_guard<std::mutex> guard(s_registryLock);
    auto it = s_adapterMap.find(hAdapter);
    if (!VESSA_CHECK_AT(63, Error, 10888, s_adapterMap.end() != s_adapterMap.find(hAdapter),
                        "Could not find Adapter %x!", shortHandle(hAdapter)))
        return nullptr;
    Adapter* res = it->second;
    if (!isRenderingHandle(res, hAdapter))
        VESSA_REPORT_AT(65, Error, 10889,
                        "res->getUserHandle(OpenAdapter::renderingGPU()) == hAdapter",
                        "Application adapter should be of OpenAdapter::renderingGPU()!");
    return res;
}

void OpenAdapter::removeAdapter(HANDLE hAdapter) {
    std::lock_guard<std::mutex> guard(s_registryLock);
    auto it = s_adapterMap.find(hAdapter);
    if (!VESSA_CHECK_AT(71, Error, 10890, s_adapterMap.end() != s_adapterMap.find(hAdapter),
                        "Could not find Adapter %x!", shortHandle(hAdapter)))
        return;
    s_adapterMap.erase(it);
}

size_t OpenAdapter::adapterCount() {
    std::lock_guard<std::mutex> guard(s_registryLock);
    return s_adapterMap.size();
}

size_t OpenAdapter::deviceCount() {
    std::lock_guard<std::mutex> guard(s_registryLock);
    return s_deviceMap.size();
}
