// SWCopierDDI9: moves a surface from the rendering GPU to the presenting GPU through one
// block of system memory under two surfaces, one per GPU, with a Blt on each.
#pragma once

class Device;

class SWCopierDDI9 {
public:
    explicit SWCopierDDI9(Device* pDevice) : m_pDevice(pDevice) {}
    virtual ~SWCopierDDI9() = default;

    Device* device() const { return m_pDevice; }

private:
    Device* m_pDevice;
};
