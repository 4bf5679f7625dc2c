// The drivers' shared state and the public control functions over it.
#include "DriverState.h"

#include "UmdAdapter.h"
#include "UmdDevice.h"
#include "sim/Call.h"
#include "sim/gpus/MachineDesc.h"

#include <stdio.h>

namespace sim {
namespace umd {

namespace {

// Pitch alignments and sample counts as the vendors' parts of that era offered them.
const VendorProfile kProfiles[kProfileCount] = {
    {"simumd_intel.dll", "Intel", kVendorIntel, 64, (1u << 3)},
    {"simumd_nv.dll", "NVIDIA", kVendorNvidia, 256, (1u << 1) | (1u << 3) | (1u << 7)},
    {"simumd_ati.dll", "ATI", kVendorAti, 256, (1u << 1) | (1u << 3) | (1u << 7)},
};

} // namespace

const VendorProfile& profile(int index) {
    if (index < 0 || index >= kProfileCount)
        index = 0;
    return kProfiles[index];
}

DriverState& DriverState::instance() {
    // Never destroyed: driver modules may be entered until the process ends.
    static DriverState* s_pState = new DriverState();
    return *s_pState;
}

DriverSettings DriverState::settings() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_settings;
}

void DriverState::setSettings(const DriverSettings& settings) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_settings = settings;
}

void DriverState::count(int gpu, uint64_t DriverStats::*counter, uint64_t amount) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stats[gpu].*counter += amount;
}

DriverStats DriverState::stats(int gpu) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_stats.find(gpu);
    return it == m_stats.end() ? DriverStats() : it->second;
}

void DriverState::resetStats() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stats.clear();
    m_unimplemented.clear();
}

void DriverState::noteUnimplemented(const char* entry) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_unimplemented.insert(entry);
}

std::vector<std::string> DriverState::unimplemented() {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::vector<std::string>(m_unimplemented.begin(), m_unimplemented.end());
}

void DriverState::addAdapter(Adapter* pAdapter) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_adapters.insert(pAdapter);
}

void DriverState::removeAdapter(Adapter* pAdapter) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_adapters.erase(pAdapter);
}

void DriverState::noteForeign(int profileIndex, const char* kind, const void* handle,
                              int ownerProfile, int ownerGpu, const char* detail) {
    Call call(profile(profileIndex).module, "ForeignHandle", ownerGpu);
    call.args("%s=%p belongs to %s%s", kind, handle, profile(ownerProfile).module, detail);
    call.finish(E_INVALIDARG);
}

Adapter* DriverState::findAdapter(int profileIndex, HANDLE hAdapter) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_adapters.find(static_cast<Adapter*>(hAdapter));
    if (it == m_adapters.end())
        return nullptr;
    if ((*it)->profileIndex() != profileIndex) {
        noteForeign(profileIndex, "hAdapter", hAdapter, (*it)->profileIndex(), (*it)->gpu(), "");
        return nullptr;
    }
    return *it;
}

void DriverState::addDevice(Device* pDevice) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_devices.insert(pDevice);
}

void DriverState::removeDevice(Device* pDevice) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_devices.erase(pDevice);
}

Device* DriverState::findDevice(int profileIndex, HANDLE hDevice) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_devices.find(static_cast<Device*>(hDevice));
    if (it == m_devices.end())
        return nullptr;
    int owner = (*it)->adapter().profileIndex();
    if (owner != profileIndex) {
        noteForeign(profileIndex, "hDevice", hDevice, owner, (*it)->gpu(), "");
        return nullptr;
    }
    return *it;
}

void DriverState::addResource(const void* hResource, const Device* pDevice) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_resources[hResource] = pDevice;
}

void DriverState::removeResource(const void* hResource) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_resources.erase(hResource);
}

void DriverState::noteForeignResource(const Device& device, const void* hResource) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_resources.find(hResource);
    if (it == m_resources.end() || it->second == &device)
        return;
    const Device& owner = *it->second;
    char detail[48];
    snprintf(detail, sizeof detail, " device %p", static_cast<const void*>(&owner));
    noteForeign(device.adapter().profileIndex(), "hResource", hResource,
                owner.adapter().profileIndex(), owner.gpu(), detail);
}

Device* DriverState::resourceOwner(const void* hResource) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_resources.find(hResource);
    return it == m_resources.end() ? nullptr : const_cast<Device*>(it->second);
}

void DriverState::registerRuntimeAdapter(const void* hAdapter, int gpu) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_runtimeAdapters[hAdapter] = gpu;
}

void DriverState::unregisterRuntimeAdapter(const void* hAdapter) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_runtimeAdapters.erase(hAdapter);
}

int DriverState::runtimeAdapterGpu(const void* hAdapter) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_runtimeAdapters.find(hAdapter);
    return it == m_runtimeAdapters.end() ? -1 : it->second;
}

void DriverState::countQueries(long delta) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_queries += delta;
}

DriverCounts DriverState::counts() {
    std::lock_guard<std::mutex> guard(m_lock);
    DriverCounts out;
    out.adapters = m_adapters.size();
    out.devices = m_devices.size();
    out.resources = m_resources.size();
    out.queries = size_t(m_queries);
    return out;
}

// ---- Public control functions --------------------------------------------------------------
DriverSettings settings() {
    return DriverState::instance().settings();
}
void setSettings(const DriverSettings& settings) {
    DriverState::instance().setSettings(settings);
}
DriverStats stats(int gpu) {
    return DriverState::instance().stats(gpu);
}
void resetStats() {
    DriverState::instance().resetStats();
}
std::vector<std::string> unimplementedEntries() {
    return DriverState::instance().unimplemented();
}
DriverCounts counts() {
    return DriverState::instance().counts();
}
void registerRuntimeAdapter(const void* hAdapter, int gpu) {
    DriverState::instance().registerRuntimeAdapter(hAdapter, gpu);
}
void unregisterRuntimeAdapter(const void* hAdapter) {
    DriverState::instance().unregisterRuntimeAdapter(hAdapter);
}

bool resourceSurfaces(const void* hResource, std::vector<SurfaceAllocation>& out) {
    out.clear();
    Device* pDevice = DriverState::instance().resourceOwner(hResource);
    if (!pDevice)
        return false;
    std::lock_guard<std::recursive_mutex> guard(pDevice->mutex());
    Resource* pResource = pDevice->findResource(const_cast<void*>(hResource));
    if (!pResource)
        return false;
    for (const Surface& surface : pResource->surfaces) {
        SurfaceAllocation entry;
        entry.hAllocation = surface.hAllocation;
        entry.width = surface.width;
        entry.height = surface.height;
        out.push_back(entry);
    }
    return true;
}

bool submitResourceWork(const void* hResource, uint32_t hRead, uint32_t hWrite, GpuWork work,
                        GpuGate gate) {
    Device* pDevice = DriverState::instance().resourceOwner(hResource);
    if (!pDevice)
        return false;
    std::lock_guard<std::recursive_mutex> guard(pDevice->mutex());
    return SUCCEEDED(
        pDevice->submitForeignWork(GpuOp::Copy, hRead, hWrite, std::move(work), std::move(gate)));
}

} // namespace umd
} // namespace sim
