// The desktop compositor.
#include "sim/runtime/Compositor.h"

#include "sim/gpus/Kernel.h"

#include <algorithm>

namespace sim {
namespace rt {

HRESULT Compositor::start(const std::string& display, std::unique_ptr<Compositor>& out) {
    std::unique_ptr<Compositor> pCompositor(new Compositor());
    HRESULT hr = RuntimeAdapter::openDisplay(display, AdapterSource(), pCompositor->m_pAdapter);
    if (FAILED(hr))
        return hr;
    hr = pCompositor->m_pAdapter->createDevice(pCompositor->m_pDevice);
    if (FAILED(hr))
        return hr;
    DisplayMode mode = Kernel::instance().currentMode(pCompositor->m_pAdapter->gpu(),
                                                      pCompositor->m_pAdapter->vidPnSourceId());
    pCompositor->m_width = mode.width;
    pCompositor->m_height = mode.height;
    SurfaceDesc desktop;
    desktop.width = mode.width;
    desktop.height = mode.height;
    hr = pCompositor->m_pDevice->createResource(desktop, pCompositor->m_hDesktop);
    if (SUCCEEDED(hr))
        hr = pCompositor->m_pDevice->openSharedPrimary(mode.width, mode.height,
                                                       pCompositor->m_hPrimary);
    if (FAILED(hr))
        return hr;
    out = std::move(pCompositor);
    return S_OK;
}

Compositor::~Compositor() {
    if (m_pDevice) {
        for (const Window& w : m_windows)
            m_pDevice->destroyResource(w.hSurface);
        for (HANDLE h : {m_hDesktop, m_hPrimary}) {
            if (h)
                m_pDevice->destroyResource(h);
        }
        m_pDevice->destroy();
        m_pDevice.reset();
    }
    if (m_pAdapter)
        m_pAdapter->close();
}

HRESULT Compositor::addWindow(D3DKMT_HANDLE hGlobalShare, UINT width, UINT height, LONG x, LONG y,
                              int& id) {
    std::lock_guard<std::mutex> guard(m_lock);
    Window w;
    HRESULT hr = m_pDevice->openSharedSurface(hGlobalShare, w.hSurface);
    if (FAILED(hr))
        return hr;
    w.id = m_nextId++;
    w.width = width;
    w.height = height;
    w.x = x;
    w.y = y;
    m_windows.push_back(w);
    id = w.id;
    return S_OK;
}

bool Compositor::removeWindow(int id) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = std::find_if(m_windows.begin(), m_windows.end(),
                           [id](const Window& w) { return w.id == id; });
    if (it == m_windows.end())
        return false;
    m_pDevice->destroyResource(it->hSurface);
    m_windows.erase(it);
    return true;
}

HRESULT Compositor::compose() {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const Window& w : m_windows) {
        // The part of the window that lies on the desktop.
        LONG left = std::max<LONG>(w.x, 0);
        LONG top = std::max<LONG>(w.y, 0);
        LONG right = std::min<LONG>(w.x + LONG(w.width), LONG(m_width));
        LONG bottom = std::min<LONG>(w.y + LONG(w.height), LONG(m_height));
        if (right <= left || bottom <= top)
            continue;
        RECT dst = {left, top, right, bottom};
        RECT src = {left - w.x, top - w.y, right - w.x, bottom - w.y};
        HRESULT hr = m_pDevice->blt(w.hSurface, 0, src, m_hDesktop, 0, dst);
        if (FAILED(hr))
            return hr;
    }
    HRESULT hr = m_pDevice->present(m_hDesktop, 0, m_hPrimary, 0, D3DDDI_PRESENTFLAGS::Blt,
                                    D3DDDI_FLIPINTERVAL_IMMEDIATE);
    if (SUCCEEDED(hr))
        ++m_compositions;
    return hr;
}

uint64_t Compositor::compositions() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_compositions;
}

} // namespace rt
} // namespace sim
