// Kernel handles of the machine: threads, events, registry keys, ...
#pragma once

#include "sim/Export.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace sim {

/// Base of every object a kernel handle can refer to. Objects live while a handle or
/// another owner (a running thread, say) holds them.
class SIM_API KernelObject {
public:
    virtual ~KernelObject();
};

/// Handle values for kernel objects, as Windows hands them out: multiples of 4 from a
/// counter, never reused within a process (so a stale handle is reliably invalid).
class SIM_API HandleTable {
public:
    /// Registers an object and returns its new handle value.
    void* add(std::shared_ptr<KernelObject> object);

    /// The object behind a handle, or null for an unknown handle.
    std::shared_ptr<KernelObject> get(void* handle) const;

    /// The object of type T behind a handle, or null for an unknown handle or another type.
    template <class T> std::shared_ptr<T> getAs(void* handle) const {
        return std::dynamic_pointer_cast<T>(get(handle));
    }

    /// Closes a handle; false when it was not open.
    bool close(void* handle);

    /// Open handles (tests check for leaks with it).
    size_t openCount() const;

private:
    mutable std::mutex m_lock;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> m_objects;
    uintptr_t m_next = 0x100;
};

} // namespace sim
