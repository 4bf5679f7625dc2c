// OpenAdapter: the process-wide GPU roles and the registries of interposed objects.
//
// Index 0 is the GPU whose adapter the runtime opens (it owns the display); index 1 is the
// other GPU, which the system opens itself. The roles say which of them renders and which
// presents. They are fixed once at process start-up and never change afterwards.
//
// Every wrapped DDI entry finds its object through a registry keyed by the handle the
// runtime holds, which is the rendering GPU's vendor handle. The registries do not own
// their objects. They are guarded by one lock of their own: an application may create a
// device on one thread while another thread's device calls look theirs up, and an
// unguarded ordered map does not survive that.
#pragma once

#include "platform/win.h"

#include <map>
#include <mutex>

class Adapter;
class DdiObject;

/// The GPU roles and the adapter and device registries.
class OpenAdapter {
public:
    /// Index of the GPU that renders the application's frames; -1 before start-up.
    static int renderingGPU() { return s_renderingGPU; }
    /// Index of the GPU that presents them on its display; -1 before start-up.
    static int presentingGPU() { return s_presentingGPU; }

    /// Sets both roles. Called once, by the process start-up (initProcess).
    static void setGpuRoles(int rendering, int presenting);

    /// Registers an adapter under the handle the runtime received. A handle already present
    /// is reported, and the new adapter replaces the old entry.
    static void addAdapter(HANDLE hAdapter, Adapter* pAdapter);
    /// The adapter registered under `hAdapter`; null, reported, for an unknown handle.
    static Adapter* getAdapter(HANDLE hAdapter);
    /// Unregisters an adapter; an unknown handle is reported.
    static void removeAdapter(HANDLE hAdapter);

    /// Registers a device under the handle the runtime received (the rendering GPU's
    /// vendor device handle). A handle already present is reported and replaced.
    static void addDevice(HANDLE hDevice, DdiObject* pDevice);
    /// The device registered under `hDevice`; null, reported, for an unknown handle.
    /// `whileRegistered`, when given, runs on the device found while the registry is still
    /// locked, so that nothing can unregister it in between.
    static DdiObject* getDevice(HANDLE hDevice, void (*whileRegistered)(DdiObject*) = nullptr);
    /// Unregisters a device; an unknown handle is reported.
    static void removeDevice(HANDLE hDevice);

    /// Number of registered adapters and devices.
    static size_t adapterCount();
    static size_t deviceCount();

private:
    static int s_renderingGPU;
    static int s_presentingGPU;
    static std::map<HANDLE, Adapter*> s_adapterMap;
    // Devices are kept by their per-GPU base; the device object model builds on it.
    static std::map<HANDLE, DdiObject*> s_deviceMap;
    static std::mutex s_registryLock;
};
