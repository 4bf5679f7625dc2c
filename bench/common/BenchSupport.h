// What every benchmark on the simulated machine shares: the clock, setup failure, the
// library's probe exports, and the least-times figure.
#pragma once

#include "platform/win.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

namespace vessa::bench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

/// A benchmark whose set-up failed measures nothing: it says why and ends the run.
[[noreturn]] inline void fail(const char* what) {
    fprintf(stderr, "bench setup failed: %s\n", what);
    exit(1);
}

/// An export of the loaded vessad3d9u.dll, or null when it is not loaded or lacks it.
template <typename Fn> Fn probe(const char* name) {
    HMODULE library = GetModuleHandleW(WSTR("vessad3d9u.dll"));
    return library ? reinterpret_cast<Fn>(
                         reinterpret_cast<void (*)(void)>(GetProcAddress(library, name)))
                   : nullptr;
}

/// The least baseline and subject times of the iterations; their ratio is the figure. On a
/// shared machine other processes only ever add time, and a preempted subject or baseline
/// moves the ratio of that iteration by any factor, so even the median of per-iteration
/// ratios swings between runs; each side's least time is its cost undisturbed.
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

/// Times `moveFrame` against its baseline, two memcpys of the same `frameBytes` (a frame
/// through system memory on the CPU), in every iteration; the iteration's time is the
/// subject's. The baseline's middle copy goes round `ringDepth` buffers, as a frame that
/// travels through a ring of that many staging buffers does: with a ring of one, three
/// frames of 1920x1080 stay in a 32 MiB cache that the subject's ring outgrows, and the
/// figure would measure the cache rather than the transfer.
template <typename MoveFrame>
BestTimes timeAgainstTwoMemcpys(benchmark::State& state, size_t frameBytes, MoveFrame moveFrame,
                                size_t ringDepth = 1) {
    std::vector<uint8_t> a(frameBytes, 1), c(frameBytes, 3);
    std::vector<std::vector<uint8_t>> ring(std::max<size_t>(ringDepth, 1),
                                           std::vector<uint8_t>(frameBytes, 2));
    BestTimes times;
    size_t slot = 0;
    for (auto _ : state) {
        std::vector<uint8_t>& b = ring[slot++ % ring.size()];
        Clock::time_point t0 = Clock::now();
        memcpy(b.data(), a.data(), frameBytes);
        memcpy(c.data(), b.data(), frameBytes);
        benchmark::ClobberMemory();
        Clock::time_point t1 = Clock::now();
        moveFrame();
        Clock::time_point t2 = Clock::now();
        times.add(seconds(t0, t1), seconds(t1, t2));
        state.SetIterationTime(seconds(t1, t2));
    }
    return times;
}

} // namespace vessa::bench
