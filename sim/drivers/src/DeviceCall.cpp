// The device entries' common shape.
#include "DeviceCall.h"

namespace sim {
namespace umd {

DeviceCall::DeviceCall(int profileIndex, const char* entry, HANDLE hDevice)
    : m_pDevice(DriverState::instance().findDevice(profileIndex, hDevice)),
      m_call(profile(profileIndex).module, entry, m_pDevice ? m_pDevice->gpu() : kNoGpu) {
    if (m_pDevice)
        m_guard = std::unique_lock<std::recursive_mutex>(m_pDevice->mutex());
}

HRESULT DeviceCall::result() {
    if (!m_pDevice) {
        m_call.args("unknown device");
        return finish(E_INVALIDARG);
    }
    return m_call.finish(HRESULT(m_call.faultStatus()));
}

HRESULT DeviceCall::finish(HRESULT hr) {
    if (hr == E_INVALIDARG)
        DriverState::instance().count(m_pDevice ? m_pDevice->gpu() : kNoGpu,
                                      &DriverStats::rejected);
    return m_call.finish(hr);
}

} // namespace umd
} // namespace sim
