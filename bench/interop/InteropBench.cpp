// The interop transfer of a frame against two plain memcpys of the same bytes, measured in
// the same run on the simulated machine with the simulated interop library installed. The
// mode is the process's (the first interop start fixes it), so the file builds two
// executables: interop_sync_bench and interop_async_bench (VESSA_BENCH_ASYNC). Each
// iteration times the baseline and the subject; the figure is the ratio of their least
// times (baseline over subject: 1.00 is as fast as two memcpys).
#include "platform/win.h"
#include "sim/Machine.h"
#include "sim/gpus/GpuMachine.h"
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
#include <vector>

namespace {

#ifdef VESSA_BENCH_ASYNC
constexpr bool kAsynchronous = true;
#else
constexpr bool kAsynchronous = false;
#endif

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "bench setup failed: %s\n", what);
    exit(1);
}

template <typename Fn> Fn probe(const char* name) {
    HMODULE library = GetModuleHandleW(WSTR("vessad3d9u.dll"));
    return library ? reinterpret_cast<Fn>(
                         reinterpret_cast<void (*)(void)>(GetProcAddress(library, name)))
                   : nullptr;
}

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
    std::string error;
    if (!sim::installMachine(sim::presets::defaultMachine(), &error))
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

/// The least baseline and subject times of the iterations (see bench/device).
class BestTimes {
public:
    void add(double baseline, double subject) {
        if (baseline > 0 && subject > 0) {
            m_baseline = std::min(m_baseline, baseline);
            m_subject = std::min(m_subject, subject);
        }
    }
    double ratio() const { return m_subject < kNone ? m_baseline / m_subject : 0; }
    double baselineMs() const { return m_baseline < kNone ? m_baseline * 1e3 : 0; }
    double subjectMs() const { return m_subject < kNone ? m_subject * 1e3 : 0; }

private:
    static constexpr double kNone = 1e30;
    double m_baseline = kNone;
    double m_subject = kNone;
};

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

    std::vector<uint8_t> a(frameBytes, 1), b(frameBytes, 2), c(frameBytes, 3);
    BestTimes ratios;
    for (auto _ : state) {
        Clock::time_point t0 = Clock::now();
        memcpy(b.data(), a.data(), frameBytes);
        memcpy(c.data(), b.data(), frameBytes);
        benchmark::ClobberMemory();
        Clock::time_point t1 = Clock::now();
        // A frame as the swap chain moves it: the transfer, then the completion step.
        transfer(hDevice, hDst, 0, hSrc, 0);
        completion(hDevice, hDst, 0, hSrc, 0);
        if (!kAsynchronous)
            workerPass(hDevice);
        Clock::time_point t2 = Clock::now();
        ratios.add(seconds(t0, t1), seconds(t1, t2));
        state.SetIterationTime(seconds(t1, t2));
    }
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

} // namespace

BENCHMARK_MAIN();
