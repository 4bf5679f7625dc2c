// The application's frame loop over the simulated runtime.
#include "sim/app/SceneRunner.h"

#include "sim/Clock.h"
#include "sim/Machine.h"
#include "sim/WideString.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/runtime/Compositor.h"
#include "sim/runtime/RuntimeDevice.h"

#include <memory>

namespace sim {
namespace app {

namespace {

// The machine's clock, real or virtual: a run on the virtual clock paces and measures in
// simulated time.
uint64_t nowNs() {
    return Clock::instance().nowNs();
}

// The mode a GPU's source shows: its display's mode, else the GPU's first mode.
DisplayMode sourceMode(const MachineDesc& machine, int gpu, uint32_t source) {
    if (const DisplayDeviceDesc* pDisplay = machine.display(gpu, source)) {
        if (pDisplay->attached())
            return pDisplay->currentMode;
    }
    const GpuDesc& g = machine.gpus[size_t(gpu)];
    return g.modes.empty() ? DisplayMode{640, 480} : g.modes.front();
}

HRESULT fail(RunReport& report, HRESULT hr, const char* step) {
    report.result = hr;
    report.failure = step;
    return hr;
}

// Surfaces of one run, released in order whatever happens.
struct Surfaces {
    rt::RuntimeDevice* pDevice = nullptr;
    HANDLE hSprite = nullptr;
    HANDLE hPrimary = nullptr;
    HANDLE hBackBuffer = nullptr;
    HANDLE hWindow = nullptr; ///< the window's shared surface the compositor reads
    std::unique_ptr<rt::Compositor> pCompositor;
    ~Surfaces() {
        // The compositor lets go of the window's surface before the application does.
        pCompositor.reset();
        for (HANDLE h : {hSprite, hBackBuffer, hPrimary, hWindow}) {
            if (h)
                pDevice->destroyResource(h);
        }
    }
};

} // namespace

HRESULT SceneRunner::run(const AppScript& script, RunReport& report,
                         const FrameObserver& observer) {
    report = RunReport();
    std::shared_ptr<const MachineDesc> pMachine = installedMachine();
    if (!pMachine)
        return fail(report, E_FAIL, "no machine installed");

    if (!script.executable.empty())
        Machine::instance().setExecutablePath(fromUtf8(script.executable));

    std::unique_ptr<rt::RuntimeAdapter> pAdapter;
    HRESULT hr;
    if (script.path == AppPath::Direct) {
        int gpu = scriptGpu(script, *pMachine);
        if (gpu < 0)
            return fail(report, E_INVALIDARG, "the script names no GPU of the machine");
        hr = rt::RuntimeAdapter::openGpu(gpu, rt::AdapterSource(), pAdapter);
    } else {
        rt::AdapterSource source;
        source.library = script.library;
        source.entry = script.entry;
        hr = rt::RuntimeAdapter::openDisplay(script.display, source, pAdapter);
    }
    if (FAILED(hr))
        return fail(report, hr, "open the adapter");
    report.gpu = pAdapter->gpu();
    report.displayGpu = pAdapter->gpu();
    report.vidPnSourceId = pAdapter->vidPnSourceId();

    std::unique_ptr<rt::RuntimeDevice> pDevice;
    hr = pAdapter->createDevice(pDevice);
    if (FAILED(hr))
        return fail(report, hr, "create the device");

    DisplayMode mode = sourceMode(*pMachine, report.displayGpu, report.vidPnSourceId);
    bool composited = script.scene == SceneKind::Composited;
    bool windowed = script.scene == SceneKind::Windowed || composited;
    report.width = script.width ? script.width : (windowed ? 640 : mode.width);
    report.height = script.height ? script.height : (windowed ? 480 : mode.height);
    report.displayWidth = windowed ? mode.width : report.width;
    report.displayHeight = windowed ? mode.height : report.height;
    Scene firstScene(report.width, report.height);
    report.width = firstScene.width();
    report.height = firstScene.height();
    std::unique_ptr<Scene> pScene(new Scene(firstScene));

    Surfaces surfaces;
    surfaces.pDevice = pDevice.get();
    hr = firstScene.prepare(*pDevice, surfaces.hSprite);
    if (FAILED(hr))
        return fail(report, hr, "create the sprite");
    UINT chain = script.backBuffers + 1;
    if (composited) {
        rt::SurfaceDesc desc;
        desc.width = report.width;
        desc.height = report.height;
        hr = pDevice->createResource(desc, surfaces.hBackBuffer);
        D3DKMT_HANDLE hShare = 0;
        if (SUCCEEDED(hr)) {
            hr =
                pDevice->createSharedSurface(report.width, report.height, surfaces.hWindow, hShare);
            if (FAILED(hr))
                return fail(report, hr, "create the window's shared surface");
        }
        // The compositor of the display the application's adapter shows on.
        std::string display = script.display;
        const DisplayDeviceDesc* pDisplay =
            pMachine->display(report.displayGpu, report.vidPnSourceId);
        if (display.empty() && pDisplay)
            display = pDisplay->deviceName;
        int window = 0;
        if (SUCCEEDED(hr)) {
            hr = rt::Compositor::start(display, surfaces.pCompositor);
            if (SUCCEEDED(hr))
                hr = surfaces.pCompositor->addWindow(hShare, report.width, report.height, 0, 0,
                                                     window);
            if (FAILED(hr))
                return fail(report, hr, "open the window in the desktop compositor");
        }
    } else if (windowed) {
        rt::SurfaceDesc desc;
        desc.width = report.width;
        desc.height = report.height;
        hr = pDevice->createResource(desc, surfaces.hBackBuffer);
        if (SUCCEEDED(hr))
            hr = pDevice->openSharedPrimary(mode.width, mode.height, surfaces.hPrimary);
    } else {
        hr = pDevice->createFlipChain(report.width, report.height, D3DDDIFMT_X8R8G8B8, chain,
                                      surfaces.hPrimary);
        if (SUCCEEDED(hr))
            hr = pDevice->setDisplayMode(surfaces.hPrimary, 0);
    }
    if (FAILED(hr))
        return fail(report, hr, "create the swap chain");

    uint64_t start = nowNs();
    uint64_t next = start;
    uint64_t period = script.rate > 0 ? uint64_t(1e9 / script.rate) : 0;
    UINT front = 0;
    for (uint32_t frame = 0; frame < script.frames; ++frame) {
        uint64_t frameStart = nowNs();
        // The application's own work of a frame.
        if (script.frameUs)
            Clock::instance().sleepFor(uint64_t(script.frameUs) * 1000);
        if (composited) {
            // The window's present reaches the compositor's surface; the compositor shows
            // it with the next composition.
            hr = pScene->draw(*pDevice, surfaces.hBackBuffer, 0, surfaces.hSprite, frame);
            RECT all = {0, 0, LONG(report.width), LONG(report.height)};
            if (SUCCEEDED(hr))
                hr = pDevice->presentToCompositor(surfaces.hBackBuffer, surfaces.hWindow, {all});
            if (SUCCEEDED(hr))
                hr = surfaces.pCompositor->compose();
        } else if (windowed) {
            hr = pScene->draw(*pDevice, surfaces.hBackBuffer, 0, surfaces.hSprite, frame);
            if (SUCCEEDED(hr))
                hr = pDevice->present(surfaces.hBackBuffer, 0, surfaces.hPrimary, 0,
                                      D3DDDI_PRESENTFLAGS::Blt, script.interval);
        } else {
            if (script.switchFrame && frame == script.switchFrame) {
                // A new resolution: a new flip chain of that size, made the display's mode.
                pDevice->destroyResource(surfaces.hPrimary);
                surfaces.hPrimary = nullptr;
                pScene.reset(new Scene(script.switchWidth, script.switchHeight));
                pDevice->destroyResource(surfaces.hSprite);
                surfaces.hSprite = nullptr;
                hr = pScene->prepare(*pDevice, surfaces.hSprite);
                if (SUCCEEDED(hr))
                    hr = pDevice->createFlipChain(pScene->width(), pScene->height(),
                                                  D3DDDIFMT_X8R8G8B8, chain, surfaces.hPrimary);
                if (SUCCEEDED(hr))
                    hr = pDevice->setDisplayMode(surfaces.hPrimary, 0);
                if (FAILED(hr))
                    return fail(report, hr, "switch the display mode");
                report.switchedFrame = frame;
                report.switchedWidth = pScene->width();
                report.switchedHeight = pScene->height();
                report.displayWidth = pScene->width();
                report.displayHeight = pScene->height();
                front = 0;
            }
            UINT back = (front + 1) % chain;
            hr = pScene->draw(*pDevice, surfaces.hPrimary, back, surfaces.hSprite, frame);
            if (SUCCEEDED(hr))
                hr = pDevice->present(surfaces.hPrimary, back, nullptr, 0,
                                      D3DDDI_PRESENTFLAGS::Flip, script.interval);
            front = back;
        }
        if (FAILED(hr))
            return fail(report, hr, "render and present a frame");
        double ms = double(nowNs() - frameStart) / 1e6;
        report.frameMs.push_back(ms);
        report.worstFrameMs = std::max(report.worstFrameMs, ms);
        ++report.framesPresented;
        if (observer)
            observer(frame);
        if (script.rate > 0) {
            next += period;
            Clock::instance().sleepUntil(next);
        }
    }
    report.seconds = double(nowNs() - start) / 1e9;
    double total = 0;
    for (double ms : report.frameMs)
        total += ms;
    report.averageFrameMs = report.frameMs.empty() ? 0.0 : total / double(report.frameMs.size());
    hr = pDevice->waitForIdle();
    if (FAILED(hr))
        return fail(report, hr, "wait for the GPU");
    report.result = S_OK;
    return S_OK;
}

void SceneRunner::expectedFrame(const AppScript& script, const RunReport& report, uint32_t frame,
                                Image& out) {
    bool switched = report.switchedFrame && frame >= report.switchedFrame;
    Scene scene(switched ? report.switchedWidth : report.width,
                switched ? report.switchedHeight : report.height);
    if (script.scene == SceneKind::Rectangles) {
        scene.expected(frame, out);
        return;
    }
    // The window sits at the shared primary's origin; the rest of the primary stays as the
    // runtime created it (zero, shown opaque black).
    Image window;
    scene.expected(frame, window);
    out.width = report.displayWidth;
    out.height = report.displayHeight;
    out.pixels.assign(size_t(out.width) * out.height, 0xFF000000u);
    for (uint32_t y = 0; y < window.height && y < out.height; ++y) {
        for (uint32_t x = 0; x < window.width && x < out.width; ++x)
            out.pixels[size_t(y) * out.width + x] = window.at(x, y);
    }
}

} // namespace app
} // namespace sim
