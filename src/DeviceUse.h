// DeviceUse: one wrapped entry's use of a device, from finding it to leaving.
#pragma once

#include "Device9.h"

/// Holds a device found by Device::acquire and releases it on leaving scope. Declared before
/// the entry's DeviceLockGuard, so that the lock is let go first: the release may delete a
/// device that DestroyDevice retired meanwhile.
class DeviceUse {
public:
    explicit DeviceUse(HANDLE hDevice) : m_pDevice(Device::acquire(hDevice)) {}
    ~DeviceUse() {
        if (m_pDevice)
            m_pDevice->release();
    }
    DeviceUse(const DeviceUse&) = delete;
    DeviceUse& operator=(const DeviceUse&) = delete;

    Device* get() const { return m_pDevice; }

private:
    Device* m_pDevice;
};
