// Execution9: presents a surface on a chosen GPU and moves a surface from the rendering
// GPU to the presenting GPU, by the GPU services' interop transfer or by the API copy.
#pragma once

class Device;

class Execution9 {
public:
    explicit Execution9(Device* pDevice);
    virtual ~Execution9() = default;

    /// True when transfers use the API copy instead of the GPU services.
    bool useApiCopy() const { return m_apiCopy; }
    /// Forces the API copy, for a device whose GPU services could not be started.
    void setUseApiCopy(bool apiCopy) { m_apiCopy = apiCopy; }

private:
    bool m_apiCopy;
    Device* m_pDevice;
};
