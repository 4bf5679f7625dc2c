// The interposed device against the plain driver, measured in the same run on the
// simulated machine. Each benchmark times its subject and its baseline alternately in every
// iteration, so both see the same machine, and reports the ratio of their least times
// (baseline time over subject time: 1.00 is as fast as the baseline) with its goal;
// scripts/bench.sh writes them into docs/performance.md.
//
// - An entry the library does not wrap, called through the table the runtime received
//   against the rendering driver's own table: the runtime's copy must add nothing.
// - A wrapped draw entry (device look-up, lock, drop check) against the rendering driver's
//   own entry: at most 25 ns more per call, so the goal is the ratio that allows exactly that.
// - The API copy of a frame (a Blt into system memory on the rendering GPU, a Blt out of
//   it on the presenting GPU) against two plain memcpys of the same bytes.
#include "common/BenchSupport.h"
#include "platform/win.h"
#include "sim/Machine.h"
#include "sim/gpus/GpuMachine.h"
#include "sim/gpus/Presets.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

namespace {

using namespace vessa::bench;

/// A device on the NVIDIA GPU's own driver and one created through the library on the
/// default machine; the journal is off, as a benchmark measures the path, not the
/// bookkeeping.
struct Devices {
    std::unique_ptr<sim::rt::RuntimeAdapter> pDirectAdapter;
    std::unique_ptr<sim::rt::RuntimeDevice> pDirect;
    std::unique_ptr<sim::rt::RuntimeAdapter> pInterposedAdapter;
    std::unique_ptr<sim::rt::RuntimeDevice> pInterposed;

    Devices() {
        sim::Machine::instance().journal().setEnabled(false);
        std::string error;
        if (!sim::installMachine(sim::presets::defaultMachine(), &error))
            fail(error.c_str());
        if (sim::rt::RuntimeAdapter::openGpu(1, sim::rt::AdapterSource(), pDirectAdapter) != S_OK ||
            pDirectAdapter->createDevice(pDirect) != S_OK)
            fail("the NVIDIA driver's own device");
        sim::rt::AdapterSource library;
        library.library = "vessad3d9u.dll";
        library.entry = "OpenAdapter9DetourIntel";
        if (sim::rt::RuntimeAdapter::openDisplay("", library, pInterposedAdapter) != S_OK ||
            pInterposedAdapter->createDevice(pInterposed) != S_OK)
            fail("the device through vessad3d9u.dll");
    }
    ~Devices() {
        if (pInterposed)
            pInterposed->destroy();
        if (pDirect)
            pDirect->destroy();
    }
};

/// Times the driver's own entry (the baseline) and the received one (the subject) in every
/// iteration; which goes first alternates, so neither gains from the other's warm caches.
/// The subject's time is the iteration's.
template <typename TimeOwn, typename TimeReceived>
BestTimes timeAlternately(benchmark::State& state, TimeOwn timeOwn, TimeReceived timeReceived) {
    BestTimes times;
    bool ownFirst = true;
    for (auto _ : state) {
        double ownTime = ownFirst ? timeOwn() : 0;
        double receivedTime = timeReceived();
        if (!ownFirst)
            ownTime = timeOwn();
        ownFirst = !ownFirst;
        times.add(ownTime, receivedTime);
        state.SetIterationTime(receivedTime);
    }
    return times;
}

void BM_UnwrappedEntry(benchmark::State& state) {
    Devices d;
    const D3DDDI_DEVICEFUNCS& own = d.pDirect->funcs();
    const D3DDDI_DEVICEFUNCS& received = d.pInterposed->funcs();
    HANDLE hOwn = d.pDirect->driverDevice();
    HANDLE hReceived = d.pInterposed->driverDevice();
    alignas(16) unsigned char renderState[64] = {};
    auto* pState = reinterpret_cast<const D3DDDIARG_RENDERSTATE*>(renderState);
    constexpr int kCalls = 1000;
    auto timeCalls = [&](const D3DDDI_DEVICEFUNCS& funcs, HANDLE hDevice) {
        Clock::time_point start = Clock::now();
        for (int i = 0; i < kCalls; ++i)
            benchmark::DoNotOptimize(funcs.pfnSetRenderState(hDevice, pState));
        return seconds(start, Clock::now());
    };
    BestTimes ratios = timeAlternately(
        state, [&] { return timeCalls(own, hOwn); },
        [&] { return timeCalls(received, hReceived); });
    state.SetItemsProcessed(int64_t(state.iterations()) * kCalls);
    state.SetLabel("SetRenderState through the runtime's table vs the driver's own");
    state.counters["ratio"] = ratios.ratio();
    state.counters["goal"] = 0.90;
}
BENCHMARK(BM_UnwrappedEntry)->UseManualTime()->MinTime(0.5);

void BM_WrappedDraw(benchmark::State& state) {
    Devices d;
    const D3DDDI_DEVICEFUNCS& own = d.pDirect->funcs();
    const D3DDDI_DEVICEFUNCS& received = d.pInterposed->funcs();
    HANDLE hOwn = d.pDirect->driverDevice();
    HANDLE hReceived = d.pInterposed->driverDevice();
    D3DDDIARG_DRAWPRIMITIVE draw = {};
    draw.PrimitiveType = 4; // a triangle list
    draw.PrimitiveCount = 0;
    constexpr int kCalls = 1000;
    auto timeCalls = [&](const D3DDDI_DEVICEFUNCS& funcs, HANDLE hDevice) {
        Clock::time_point start = Clock::now();
        for (int i = 0; i < kCalls; ++i)
            benchmark::DoNotOptimize(funcs.pfnDrawPrimitive(hDevice, &draw, nullptr));
        return seconds(start, Clock::now());
    };
    BestTimes times = timeAlternately(
        state, [&] { return timeCalls(own, hOwn); },
        [&] { return timeCalls(received, hReceived); });
    state.SetItemsProcessed(int64_t(state.iterations()) * kCalls);
    // Per call: the driver's own cost, and what the wrapper may add on top of it.
    const double ownNs = times.baselineMs() * 1e6 / kCalls;
    const double wrappedNs = times.subjectMs() * 1e6 / kCalls;
    constexpr double kAllowedNs = 25.0;
    char label[160];
    snprintf(label, sizeof label,
             "DrawPrimitive through the wrapped entry vs the driver's own: %.1f ns more per "
             "call (at most %.0f) on %.1f ns",
             wrappedNs - ownNs, kAllowedNs, ownNs);
    state.SetLabel(label);
    state.counters["ratio"] = times.ratio();
    state.counters["goal"] = ownNs > 0 ? ownNs / (ownNs + kAllowedNs) : 0;
    state.counters["own_ns"] = ownNs;
    state.counters["extra_ns"] = wrappedNs - ownNs;
}
BENCHMARK(BM_WrappedDraw)->UseManualTime()->MinTime(0.5);

void BM_ApiCopy(benchmark::State& state) {
    const UINT width = UINT(state.range(0));
    const UINT height = UINT(state.range(1));
    const size_t frameBytes = size_t(width) * height * 4;
    Devices d;
    auto transfer = probe<int (*)(HANDLE, HANDLE, UINT, HANDLE, UINT)>("vessaProbeTransfer");
    auto createOnPresenting =
        probe<BOOL (*)(HANDLE, HANDLE, uint64_t*)>("vessaProbeCreateOnPresenting");
    if (!transfer || !createOnPresenting)
        fail("the library's probe exports");
    sim::rt::SurfaceDesc desc;
    desc.width = width;
    desc.height = height;
    desc.format = D3DDDIFMT_A8R8G8B8;
    HANDLE hSrc = nullptr, hDst = nullptr;
    uint64_t presenting = 0;
    if (d.pInterposed->createResource(desc, hSrc) != S_OK ||
        d.pInterposed->createResource(desc, hDst) != S_OK ||
        !createOnPresenting(d.pInterposed->driverDevice(), hDst, &presenting))
        fail("the frame surfaces");
    HANDLE hDevice = d.pInterposed->driverDevice();
    // The first copy makes the staging buffer; frames after it are what is measured.
    if (transfer(hDevice, hDst, 0, hSrc, 0) != 1)
        fail("the first API copy");

    BestTimes ratios =
        timeAgainstTwoMemcpys(state, frameBytes, [&] { transfer(hDevice, hDst, 0, hSrc, 0); });
    d.pInterposed->destroyResource(hSrc);
    d.pInterposed->destroyResource(hDst);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frameBytes));
    state.SetLabel("API copy of a " + std::to_string(width) + "x" + std::to_string(height) +
                   " A8R8G8B8 frame vs two memcpys of it");
    state.counters["ratio"] = ratios.ratio();
    state.counters["goal"] = 0.85;
    state.counters["memcpys_ms"] = ratios.baselineMs();
    state.counters["copy_ms"] = ratios.subjectMs();
}
BENCHMARK(BM_ApiCopy)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

} // namespace

BENCHMARK_MAIN();
