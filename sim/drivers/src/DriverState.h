// The process-wide state of the simulated drivers: vendor profiles, settings, counters,
// the live adapters and devices (so that every entry can refuse a handle it never gave
// out), and the GPU each runtime adapter handle stands for.
#pragma once

#include "platform/win.h"
#include "sim/drivers/DriverControl.h"

#include <map>
#include <mutex>
#include <set>
#include <stdint.h>
#include <string>

namespace sim {
namespace umd {

class Adapter;
class Device;

/// What distinguishes the vendors' drivers from one another.
struct VendorProfile {
    const char* module;      ///< the driver's file name, as the journal names it
    const char* vendor;      ///< "Intel", "NVIDIA", "ATI"
    uint32_t vendorId;       ///< PCI vendor id it drives
    uint32_t pitchAlignment; ///< row pitch alignment of video-memory surfaces
    uint32_t sampleCounts;   ///< bit n-1 set when n-sample multisampling is offered
};

/// Profile indexes, one per driver module.
enum ProfileIndex { kProfileIntel = 0, kProfileNvidia = 1, kProfileAti = 2, kProfileCount = 3 };

/// The profile of a driver module.
const VendorProfile& profile(int index);

/// The shared state; every member function is thread-safe.
class DriverState {
public:
    static DriverState& instance();

    DriverSettings settings();
    void setSettings(const DriverSettings& settings);

    /// Adds to one counter of a GPU's statistics.
    void count(int gpu, uint64_t DriverStats::*counter, uint64_t amount = 1);
    DriverStats stats(int gpu);
    void resetStats();
    void noteUnimplemented(const char* entry);
    std::vector<std::string> unimplemented();

    void addAdapter(Adapter* pAdapter);
    void removeAdapter(Adapter* pAdapter);
    /// The adapter a driver handle names; null when this process has no such adapter.
    Adapter* findAdapter(HANDLE hAdapter);

    void addDevice(Device* pDevice);
    void removeDevice(Device* pDevice);
    /// The device a driver handle names; null when unknown.
    Device* findDevice(HANDLE hDevice);

    void registerRuntimeAdapter(const void* hAdapter, int gpu);
    void unregisterRuntimeAdapter(const void* hAdapter);
    /// The GPU of a runtime adapter handle given to OpenAdapter; -1 when unknown.
    int runtimeAdapterGpu(const void* hAdapter);

    /// Live object counts (resources and queries are counted by the devices).
    void countResources(long delta);
    void countQueries(long delta);
    DriverCounts counts();

private:
    std::mutex m_lock;
    DriverSettings m_settings;
    std::map<int, DriverStats> m_stats;
    std::set<std::string> m_unimplemented;
    std::set<Adapter*> m_adapters;
    std::set<Device*> m_devices;
    std::map<const void*, int> m_runtimeAdapters;
    long m_resources = 0;
    long m_queries = 0;
};

/// Runs an entry's body so that no C++ exception leaves it: an allocation failure becomes
/// E_OUTOFMEMORY, anything else E_FAIL.
template <class F> HRESULT guarded(F&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace umd
} // namespace sim
