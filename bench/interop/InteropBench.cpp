// The interop transfer of a frame against two plain memcpys of the same bytes, measured in
// the same run on the simulated machine with the simulated interop library installed. The
// mode is the process's (the first interop start fixes it), so the file builds two
// executables: interop_sync_bench and interop_async_bench (VESSA_BENCH_ASYNC). Each
// iteration times the baseline and the subject; the figure is the ratio of their least
// times (baseline over subject: 1.00 is as fast as two memcpys). The library's copies are
// GPU work, which the simulated GPUs run on the CPU: a frame counts as moved once they ran.
//
// interop_present_bench (VESSA_BENCH_PRESENT, asynchronous) times the application's windowed
// present instead: the interposed present whose frame the library copies, against the same
// present with a library whose copies move nothing. Copies take GPU time and the
// notification comes late, so a present that waited for the copy would take that long at
// least; between frames the GPUs get the time to finish, as while a game draws its next
// frame.
#include "common/BenchSupport.h"
#include "platform/win.h"
#include "sim/Machine.h"
#include "sim/drivers/DriverControl.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/InteropSettings.h"
#include "sim/gpus/Kernel.h"
#include "sim/gpus/Presets.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <thread>
#include <vector>

namespace {

#ifdef VESSA_BENCH_ASYNC
constexpr bool kAsynchronous = true;
#else
constexpr bool kAsynchronous = false;
#endif

#ifdef VESSA_BENCH_PRESENT
/// How long after an injection its CPU notification is signalled.
constexpr uint32_t kNotifyDelayUs = 2000;
/// GPU time of every copy, the library's included.
constexpr uint32_t kCopyTimeUs = 500;
/// Time between the end of one present and the next: longer than a frame's copies and its
/// notification delay together, so the GPUs are idle when a present starts.
constexpr uint32_t kFrameGapUs = 4000;
#else
constexpr uint32_t kNotifyDelayUs = 0;
constexpr uint32_t kCopyTimeUs = 0;
#endif

using namespace vessa::bench;

/// The product's ring of staging buffers: each frame goes through the next one.
constexpr size_t kStagingRingDepth = 4;

std::string hostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

/// The default machine with the product installed: configuration library, interop library,
/// an application database in the bench's mode, user settings and loader ini.
void installProduct() {
    // Once per process: the libraries are loaded from these files, which must not be
    // rewritten under them.
    static bool s_installed = false;
    if (s_installed)
        return;
    s_installed = true;
    sim::Machine& machine = sim::Machine::instance();
    machine.journal().setEnabled(false);
    // An event query is done once its GPU's queue ran it, as on a real GPU, rather than
    // after a fixed number of polls: the ring waits on queries issued four frames earlier,
    // which a real presenting GPU has long finished, and each refused poll costs the
    // product's 1 ms poll interval.
    sim::umd::DriverSettings settings = sim::umd::settings();
    settings.eventQueryPolls = 0;
    sim::umd::setSettings(settings);
    std::string error;
    sim::MachineDesc desc = sim::presets::defaultMachine();
    desc.interopNotifyUs = kNotifyDelayUs;
    for (sim::GpuDesc& gpu : desc.gpus)
        gpu.copyTimeUs = kCopyTimeUs;
    if (!sim::installMachine(desc, &error))
        fail(error.c_str());
    const char* moduleDir = getenv("VESSA_MODULE_DIR");
    std::string modules = moduleDir ? moduleDir : VESSA_BENCH_MODULE_DIR;
    const std::u16string dir = u"C:\\Vessa\\install";
    machine.root().createFolder(dir);
    if (!machine.root().writeFile(dir + u"\\ConfigurationController.dll",
                                  hostFile(modules + "/ConfigurationController.dll")) ||
        !machine.root().writeFile(dir + u"\\vessaInterop.dll",
                                  hostFile(VESSA_BENCH_INTEROP_DIR "/vessaInterop.dll")))
        fail("installing the libraries");
    std::string xml =
        "<?xml version=\"1.0\"?>\n<kora><default><all>\n"
        "<should_umd_sync_copy>" +
        std::string(kAsynchronous ? "0" : "1") +
        "</should_umd_sync_copy>\n<partial_copy>1.0</partial_copy>\n"
        "<use_api_copy_dx9>0</use_api_copy_dx9>\n<vessa_icon_show>0</vessa_icon_show>\n"
        "</all></default></kora>\n";
    machine.root().writeFile(u"C:\\Vessa\\config\\vessa.xml", xml);
    const std::u16string key = u"HKLM\\SOFTWARE\\Quorvex\\VessaDriver";
    machine.registry().setString(key, u"InstallDirectory", dir);
    machine.registry().setString(key, u"ConfigFileDirectory", u"C:\\Vessa\\config");
    machine.environment().set(u"USERPROFILE", u"C:\\Users\\player");
    machine.root().writeFile(u"C:\\Users\\player\\Quorvex\\userSettings.xml", "<userSettings/>");
    machine.root().writeFile(u"C:\\Users\\player\\Quorvex\\vessaloader.ini", "[Driver]\r\n");
}

#ifndef VESSA_BENCH_PRESENT

void BM_InteropTransfer(benchmark::State& state) {
    const UINT width = UINT(state.range(0));
    const UINT height = UINT(state.range(1));
    const size_t frameBytes = size_t(width) * height * 4;
    installProduct();
    std::unique_ptr<sim::rt::RuntimeAdapter> pAdapter;
    std::unique_ptr<sim::rt::RuntimeDevice> pDevice;
    sim::rt::AdapterSource library;
    library.library = "vessad3d9u.dll";
    library.entry = "OpenAdapter9DetourIntel";
    if (sim::rt::RuntimeAdapter::openDisplay("", library, pAdapter) != S_OK ||
        pAdapter->createDevice(pDevice) != S_OK)
        fail("the device through vessad3d9u.dll");
    auto transfer = probe<int (*)(HANDLE, HANDLE, UINT, HANDLE, UINT)>("vessaProbeTransfer");
    auto completion =
        probe<BOOL (*)(HANDLE, HANDLE, UINT, HANDLE, UINT)>("vessaProbeCompletionStep");
    auto createOnPresenting =
        probe<BOOL (*)(HANDLE, HANDLE, uint64_t*)>("vessaProbeCreateOnPresenting");
    auto stopWorker = probe<BOOL (*)(HANDLE)>("vessaProbeStopWorker");
    auto workerPass = probe<BOOL (*)(HANDLE)>("vessaProbeWorkerPass");
    auto presentTarget = probe<int (*)(HANDLE, HANDLE, UINT)>("vessaProbePresentTarget");
    if (!transfer || !completion || !createOnPresenting || !stopWorker || !workerPass ||
        !presentTarget)
        fail("the library's probe exports");
    HANDLE hDevice = pDevice->driverDevice();
    if (!kAsynchronous && !stopWorker(hDevice))
        fail("the interop did not start (no worker)");
    sim::rt::SurfaceDesc desc;
    desc.width = width;
    desc.height = height;
    desc.format = D3DDDIFMT_A8R8G8B8;
    HANDLE hSrc = nullptr, hDst = nullptr;
    uint64_t presenting = 0;
    if (pDevice->createResource(desc, hSrc) != S_OK ||
        pDevice->createResource(desc, hDst) != S_OK ||
        !createOnPresenting(hDevice, hDst, &presenting))
        fail("the frame surfaces");
    // The worker's passes run in the frame's time (the worker thread is stopped so that they
    // are counted), copying out into the destination.
    presentTarget(hDevice, hDst, 0);
    // The first transfer registers the device and makes the ring; later frames are measured.
    if (transfer(hDevice, hDst, 0, hSrc, 0) != 1)
        fail("the first interop transfer");

    std::vector<sim::umd::SurfaceAllocation> surfaces;
    if (!sim::umd::resourceSurfaces(reinterpret_cast<const void*>(uintptr_t(presenting)),
                                    surfaces) ||
        surfaces.empty())
        fail("the destination's presenting surface");
    const uint32_t hDestination = surfaces[0].hAllocation;
    sim::Kernel& kernel = sim::Kernel::instance();

    // A frame as the swap chain moves it: the transfer, then the completion step; it has
    // moved once the GPUs ran the copies into the destination.
    BestTimes ratios = timeAgainstTwoMemcpys(
        state, frameBytes,
        [&] {
            transfer(hDevice, hDst, 0, hSrc, 0);
            completion(hDevice, hDst, 0, hSrc, 0);
            if (!kAsynchronous)
                workerPass(hDevice);
            kernel.waitForGpus([&] { return !kernel.allocationBusy(hDestination); });
        },
        kStagingRingDepth);
    presentTarget(hDevice, nullptr, 0);
    pDevice->destroyResource(hSrc);
    pDevice->destroyResource(hDst);
    pDevice->destroy();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frameBytes));
    state.SetLabel(std::string(kAsynchronous ? "asynchronous" : "synchronous") +
                   " interop transfer of a " + std::to_string(width) + "x" +
                   std::to_string(height) + " A8R8G8B8 frame vs two memcpys of it");
    state.counters["ratio"] = ratios.ratio();
    state.counters["goal"] = 0.85;
    state.counters["memcpys_ms"] = ratios.baselineMs();
    state.counters["transfer_ms"] = ratios.subjectMs();
}
BENCHMARK(BM_InteropTransfer)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

#else

/// A device of the runtime on one display adapter, with a back buffer and the shared
/// primary its windowed presents go to.
struct WindowedDevice {
    std::unique_ptr<sim::rt::RuntimeAdapter> pAdapter;
    std::unique_ptr<sim::rt::RuntimeDevice> pDevice;
    HANDLE hBack = nullptr;
    HANDLE hPrimary = nullptr;

    void open(const sim::rt::AdapterSource& source, UINT width, UINT height) {
        if (sim::rt::RuntimeAdapter::openDisplay("", source, pAdapter) != S_OK ||
            pAdapter->createDevice(pDevice) != S_OK)
            fail(source.library.empty() ? "the presenting GPU's own device"
                                        : "the device through vessad3d9u.dll");
        sim::rt::SurfaceDesc desc;
        desc.width = width;
        desc.height = height;
        desc.format = D3DDDIFMT_A8R8G8B8;
        if (pDevice->createResource(desc, hBack) != S_OK ||
            pDevice->openSharedPrimary(width, height, hPrimary) != S_OK)
            fail("the windowed swap chain");
    }
    /// One frame: a fill of the back buffer (so there is new work to move), the time the
    /// application would spend drawing, in which the GPUs finish the last frame's work,
    /// then the present; only the present is timed.
    double frame(D3DCOLOR color) {
        const RECT all = {0, 0, 64, 64};
        if (pDevice->colorFill(hBack, 0, all, color) != S_OK)
            fail("a frame's fill");
        std::this_thread::sleep_for(std::chrono::microseconds(kFrameGapUs));
        sim::Kernel::instance().settleGpus();
        Clock::time_point t0 = Clock::now();
        HRESULT hr = pDevice->present(hBack, 0, hPrimary, 0, D3DDDI_PRESENTFLAGS::Blt,
                                      D3DDDI_FLIPINTERVAL_IMMEDIATE);
        Clock::time_point t1 = Clock::now();
        if (hr != S_OK)
            fail("a present");
        return seconds(t0, t1);
    }
    ~WindowedDevice() {
        if (!pDevice)
            return;
        pDevice->waitForIdle();
        if (hBack)
            pDevice->destroyResource(hBack);
        if (hPrimary)
            pDevice->destroyResource(hPrimary);
        pDevice->destroy();
    }
};

void BM_AsyncPresent(benchmark::State& state) {
    const UINT width = UINT(state.range(0));
    const UINT height = UINT(state.range(1));
    installProduct();
    sim::rt::AdapterSource product;
    product.library = "vessad3d9u.dll";
    product.entry = "OpenAdapter9DetourIntel";
    WindowedDevice interposed;
    interposed.open(product, width, height);
    // The baseline: the driver the kernel names for the display's adapter, called directly.
    WindowedDevice direct;
    direct.open(sim::rt::AdapterSource(), width, height);
    // The first interposed present registers the device and makes the ring.
    interposed.frame(0xFF000000);
    direct.frame(0xFF000000);

    // Turns alternate, so that both sides see the same machine: the baseline is the same
    // interposed present whose copies move nothing.
    BestTimes times;
    BestTimes versusDirect;
    D3DCOLOR color = 0xFF102030;
    bool copiesFirst = false;
    for (auto _ : state) {
        color += 0x010101;
        // Which side comes first alternates too: the first present after the other
        // device's pays for the switch.
        auto timed = [&](bool movePixels) {
            sim::setInteropSettings(sim::InteropSettings{movePixels});
            return interposed.frame(color);
        };
        double noCopy = 0, subject = 0;
        if (copiesFirst) {
            subject = timed(true);
            noCopy = timed(false);
        } else {
            noCopy = timed(false);
            subject = timed(true);
        }
        copiesFirst = !copiesFirst;
        sim::setInteropSettings(sim::InteropSettings{true});
        const double own = direct.frame(color);
        // BestTimes keeps baseline over subject; these figures are subject over baseline.
        times.add(noCopy, subject);
        versusDirect.add(own, subject);
        state.SetIterationTime(subject);
    }
    // What the product itself waits on in a present: the CPU notification tests and the
    // library's copies out, read from the journal over a few more frames.
    sim::Journal& journal = sim::Machine::instance().journal();
    journal.clear();
    journal.setEnabled(true);
    constexpr int kCountedFrames = 8;
    for (int i = 0; i < kCountedFrames; ++i)
        interposed.frame(color + 0x010101u * unsigned(i + 1));
    journal.setEnabled(false);
    const size_t tests = journal.count("vessaInterop.dll", "testCpuNotification");
    const size_t transfers = journal.count("vessaInterop.dll", "transferFromBufSurface");
    journal.clear();
    const double ratio = times.ratio() > 0 ? 1.0 / times.ratio() : 0;
    const double toDirect = versusDirect.ratio() > 0 ? 1.0 / versusDirect.ratio() : 0;
    char label[400];
    snprintf(label, sizeof label,
             "asynchronous interposed windowed present of a %ux%u frame whose copies the "
             "interop library queues vs the same present with copies that move nothing; GPU "
             "copies of %u us, notification after %u us; per present %zu copies out, %zu "
             "notification waits by the product; %.2f times the present on the presenting "
             "GPU's own driver",
             width, height, kCopyTimeUs, kNotifyDelayUs, transfers / kCountedFrames,
             tests / kCountedFrames, toDirect);
    state.SetLabel(label);
    state.counters["notification_tests"] = double(tests);
    state.counters["ratio"] = ratio;
    state.counters["goal"] = 1.10;
    state.counters["goal_is_max"] = 1;
    state.counters["vs_direct"] = toDirect;
    state.counters["no_copy_ms"] = times.baselineMs();
    state.counters["interposed_ms"] = times.subjectMs();
    state.counters["direct_ms"] = versusDirect.baselineMs();
}
// A fixed count: every iteration waits out three frame gaps, which no minimum time counts.
// Presents take tens of microseconds, so the least of many is needed for a steady figure.
BENCHMARK(BM_AsyncPresent)
    ->Args({1920, 1080})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1000);

#endif

} // namespace

BENCHMARK_MAIN();
