// The simulated drivers' frame copies and fills against a plain memcpy of the same frame,
// measured in the same run: compare each benchmark's bytes per second with BM_Memcpy's
// (memcpy_ms is the baseline's time for one 1280x800 32-bit frame). Row copies through the
// driver should stay close to memcpy speed.
#include "platform/win.h"
#include "sim/Machine.h"
#include "sim/runtime/RuntimeAdapter.h"
#include "sim/runtime/RuntimeDevice.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string.h>
#include <vector>

namespace {

constexpr UINT kWidth = 1280;
constexpr UINT kHeight = 800;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 4;

// Seconds of one frame memcpy, measured once per process.
double memcpySeconds() {
    static double s_seconds = [] {
        std::vector<uint8_t> a(kFrameBytes, 1), b(kFrameBytes, 2);
        const int rounds = 50;
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < rounds; ++i) {
            memcpy(b.data(), a.data(), kFrameBytes);
            benchmark::DoNotOptimize(b.data());
            benchmark::ClobberMemory();
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
               rounds;
    }();
    return s_seconds;
}

// One device on the NVIDIA GPU with two frame-sized surfaces; the journal is off, as a
// benchmark measures the path, not the bookkeeping.
struct Fixture {
    std::unique_ptr<sim::rt::RuntimeAdapter> pAdapter;
    std::unique_ptr<sim::rt::RuntimeDevice> pDevice;
    HANDLE hSrc = nullptr;
    HANDLE hDst = nullptr;

    Fixture() {
        sim::Machine::instance().journal().setEnabled(false);
        sim::rt::RuntimeAdapter::openGpu(1, sim::rt::AdapterSource(), pAdapter);
        pAdapter->createDevice(pDevice);
        sim::rt::SurfaceDesc desc;
        desc.width = kWidth;
        desc.height = kHeight;
        pDevice->createResource(desc, hSrc);
        pDevice->createResource(desc, hDst);
    }
};

void BM_Memcpy(benchmark::State& state) {
    std::vector<uint8_t> a(kFrameBytes, 1), b(kFrameBytes, 2);
    for (auto _ : state) {
        memcpy(b.data(), a.data(), kFrameBytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFrameBytes));
}
BENCHMARK(BM_Memcpy);

void BM_DriverBlt(benchmark::State& state) {
    Fixture f;
    RECT whole = {0, 0, LONG(kWidth), LONG(kHeight)};
    for (auto _ : state)
        f.pDevice->blt(f.hSrc, 0, whole, f.hDst, 0, whole);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFrameBytes));
    state.counters["memcpy_ms"] = memcpySeconds() * 1000.0;
}
BENCHMARK(BM_DriverBlt)->Unit(benchmark::kMillisecond);

void BM_DriverColorFill(benchmark::State& state) {
    Fixture f;
    RECT whole = {0, 0, LONG(kWidth), LONG(kHeight)};
    for (auto _ : state)
        f.pDevice->colorFill(f.hDst, 0, whole, 0xFF336699u);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFrameBytes));
    state.counters["memcpy_ms"] = memcpySeconds() * 1000.0;
}
BENCHMARK(BM_DriverColorFill)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
