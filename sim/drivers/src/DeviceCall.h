// The common shape of every device entry: find the device by handle, consult fault
// injection, take the device lock, and journal the call with its result.
#pragma once

#include "DriverState.h"
#include "UmdDevice.h"
#include "sim/Call.h"

#include <mutex>

namespace sim {
namespace umd {

/// One call of a device entry.
///
///     DeviceCall c(profileIndex, "Blt", hDevice);
///     if (!c.ready())
///         return c.result();
///     ...
///     return c.finish(hr);
class DeviceCall {
public:
    DeviceCall(int profileIndex, const char* entry, HANDLE hDevice);
    DeviceCall(const DeviceCall&) = delete;
    DeviceCall& operator=(const DeviceCall&) = delete;

    /// True when the handle names a live device and no fault is injected.
    bool ready() const { return m_pDevice && !m_call.faulted(); }
    /// The result of a call that is not ready: the injected status or E_INVALIDARG.
    HRESULT result();

    Device& device() { return *m_pDevice; }
    Call& call() { return m_call; }
    /// Journals the result (and counts a refusal) and returns it.
    HRESULT finish(HRESULT hr);

private:
    Device* m_pDevice;
    Call m_call;
    std::unique_lock<std::recursive_mutex> m_guard;
};

} // namespace umd
} // namespace sim
