// The process-wide state of the simulated drivers: vendor profiles, settings, counters,
// the live adapters, devices and resources with the module that created each (so that
// every entry can refuse a handle its module never gave out, and say whose it is), and the
// GPU each runtime adapter handle stands for.
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
    /// The adapter a driver handle names when the module of `profileIndex` created it;
    /// null otherwise (another module's adapter is journalled as a foreign handle).
    Adapter* findAdapter(int profileIndex, HANDLE hAdapter);

    void addDevice(Device* pDevice);
    void removeDevice(Device* pDevice);
    /// The device a driver handle names when the module of `profileIndex` created it;
    /// null otherwise (another module's device is journalled as a foreign handle).
    Device* findDevice(int profileIndex, HANDLE hDevice);

    /// Resources live in their device; the registry only says whose a handle is.
    void addResource(const void* hResource, const Device* pDevice);
    void removeResource(const void* hResource);
    /// Journals a resource handle that `pDevice` does not have when another device, of
    /// this module or another, created it: "<module>!ForeignHandle".
    void noteForeignResource(const Device& device, const void* hResource);
    /// The device that created (or opened) `hResource`; null when none did.
    Device* resourceOwner(const void* hResource);

    void registerRuntimeAdapter(const void* hAdapter, int gpu);
    void unregisterRuntimeAdapter(const void* hAdapter);
    /// The GPU of a runtime adapter handle given to OpenAdapter; -1 when unknown.
    int runtimeAdapterGpu(const void* hAdapter);

    /// Live object counts (queries are counted by the devices).
    void countQueries(long delta);
    DriverCounts counts();

private:
    std::mutex m_lock;
    DriverSettings m_settings;
    std::map<int, DriverStats> m_stats;
    std::set<std::string> m_unimplemented;
    /// Journals that `handle` (a `kind`) given to the module of `profileIndex` belongs to
    /// `ownerProfile`'s module; called with the lock held.
    void noteForeign(int profileIndex, const char* kind, const void* handle, int ownerProfile,
                     int ownerGpu, const char* detail);

    std::set<Adapter*> m_adapters;
    std::set<Device*> m_devices;
    std::map<const void*, const Device*> m_resources;
    std::map<const void*, int> m_runtimeAdapters;
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
