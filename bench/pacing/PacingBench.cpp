// Frame pacing on the machine's virtual clock: an application presenting at a steady rate,
// the flip manager deciding each Present. Each figure is a ratio against what the policy
// promises, computed in the same run:
//  - ORR new frame rate: 1 - |new frames per second / target - 1|, for application rates
//    from 1.02x to 16x the target (goal 0.99).
//  - ORR interval spread: (quantisation floor + 0.5 ms) / (longest - shortest interval
//    between new frames), where the floor is one application frame unless the rate is a
//    multiple of the target (goal 1).
//  - ZARI: 1 - |new frames per second / min(application rate, 1 / completion time) - 1|
//    (goal 0.99), and 0 when more than one event query was pending at once or a decision
//    moved the virtual clock (a wait).
#include "FlipManager.h"

#include "PacingTestSupport.h"
#include "sim/Clock.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr double kTarget = 60.0;
constexpr int kPresents = 6000;

struct Run {
    double newFramesPerSecond = 0;
    double spreadMs = 0;
    uint64_t decisionNs = 0; ///< virtual time that passed inside the decisions
    int mostPendingQueries = 0;
};

/// Presents `kPresents` frames at `fps` under ORR, or ZARI with queries that complete
/// `completionNs` after their issue.
Run pace(double fps, bool zari, uint64_t completionNs) {
    sim::Clock& clock = sim::Clock::instance();
    clock.setMode(sim::Clock::Mode::Virtual);
    pacingtest::FakeGpu gpu;
    gpu.completionNs = completionNs;
    Run run;
    std::vector<uint64_t> newFrames;
    {
        pacingtest::FakeDevice device(gpu);
        FlipManager flip(device.get(), device.get()->m_pSwapChain, true);
        flip.m_refreshRate = uint32_t(kTarget);
        flip.m_targetRate = uint32_t(kTarget);
        flip.setZari(zari);
        const uint64_t frameNs = uint64_t(1e9 / fps);
        for (int i = 0; i < kPresents; ++i) {
            clock.sleepFor(frameNs);
            const uint64_t before = clock.nowNs();
            const bool repeat = flip.shouldRepeat();
            run.decisionNs += clock.nowNs() - before;
            flip.m_decisionPending = true;
            // The rate is known from the sixth Present on; count from well after that.
            if (!repeat && i >= kPresents / 10)
                newFrames.push_back(before);
        }
    }
    clock.setMode(sim::Clock::Mode::Real);
    run.mostPendingQueries = gpu.mostLiveQueries;
    if (newFrames.size() < 2)
        return run;
    double shortest = 1e300, longest = 0;
    for (size_t i = 1; i < newFrames.size(); ++i) {
        const double ms = double(newFrames[i] - newFrames[i - 1]) / 1e6;
        shortest = std::min(shortest, ms);
        longest = std::max(longest, ms);
    }
    run.spreadMs = longest - shortest;
    run.newFramesPerSecond =
        double(newFrames.size() - 1) * 1e9 / double(newFrames.back() - newFrames.front());
    return run;
}

double accuracy(double measured, double expected) {
    return 1.0 - std::fabs(measured / expected - 1.0);
}

std::string fixed(double value, int decimals) {
    char text[32];
    snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void BM_OrrNewFrameRate(benchmark::State& state) {
    const double multiple = double(state.range(0)) / 100.0;
    Run run;
    for (auto _ : state)
        run = pace(kTarget * multiple, false, 0);
    state.counters["new_fps"] = run.newFramesPerSecond;
    state.counters["ratio"] = accuracy(run.newFramesPerSecond, kTarget);
    state.counters["goal"] = 0.99;
    state.SetLabel("ORR new frames/s vs the 60/s target, application at " + fixed(multiple, 2) +
                   "x");
}
BENCHMARK(BM_OrrNewFrameRate)
    ->Arg(102)
    ->Arg(150)
    ->Arg(200)
    ->Arg(300)
    ->Arg(450)
    ->Arg(800)
    ->Arg(1600)
    ->Iterations(1);

void BM_OrrIntervalSpread(benchmark::State& state) {
    const double multiple = double(state.range(0)) / 100.0;
    const double fps = kTarget * multiple;
    Run run;
    for (auto _ : state)
        run = pace(fps, false, 0);
    const bool whole = std::fabs(multiple - std::round(multiple)) < 1e-9;
    const double allowedMs = (whole ? 0.0 : 1000.0 / fps) + 0.5;
    state.counters["spread_ms"] = run.spreadMs;
    state.counters["ratio"] = run.spreadMs > 0 ? std::min(9.99, allowedMs / run.spreadMs) : 9.99;
    state.counters["goal"] = 1.0;
    state.SetLabel("ORR (quantisation floor + 0.5 ms) / interval spread, application at " +
                   fixed(multiple, 2) + "x: spread " + fixed(run.spreadMs, 2) + " ms");
}
BENCHMARK(BM_OrrIntervalSpread)->Arg(102)->Arg(150)->Arg(200)->Arg(300)->Arg(1600)->Iterations(1);

// Application rate (frames/s) and the presenting GPU's completion time (microseconds).
void BM_ZariNewFrameRate(benchmark::State& state) {
    const double fps = double(state.range(0));
    const uint64_t completionNs = uint64_t(state.range(1)) * 1000;
    Run run;
    for (auto _ : state)
        run = pace(fps, true, completionNs);
    const double expected = std::min(fps, 1e9 / double(completionNs));
    const bool oneQueryNoWait = run.mostPendingQueries <= 1 && run.decisionNs == 0;
    state.counters["new_fps"] = run.newFramesPerSecond;
    state.counters["ratio"] = oneQueryNoWait ? accuracy(run.newFramesPerSecond, expected) : 0.0;
    state.counters["goal"] = 0.99;
    state.SetLabel("ZARI new frames/s vs min(app rate, 1/completion), " + fixed(fps, 0) +
                   " fps, completion " + fixed(double(state.range(1)) / 1000.0, 1) +
                   " ms; at most one query, no wait: " + (oneQueryNoWait ? "yes" : "no"));
}
BENCHMARK(BM_ZariNewFrameRate)
    ->Args({1000, 16000})
    ->Args({1000, 8000})
    ->Args({4000, 10000})
    ->Args({5000, 7000})
    ->Args({120, 4000})
    ->Args({60, 2000})
    ->Iterations(1);

} // namespace

BENCHMARK_MAIN();
