// The machine's clock: what QueryPerformanceCounter, GetTickCount, timeGetTime and Sleep
// read and wait on, and what the simulated GPUs' queues and the display's vertical blank
// run on.
#pragma once

#include "sim/Export.h"

#include <atomic>
#include <stdint.h>

namespace sim {

/// Real time (the host's monotonic clock, the default) or virtual time.
///
/// On the virtual clock nothing waits: a thread that waits for a moment moves the clock
/// there itself (`sleepUntil`, `sleepFor`; Sleep does it), and the clock never goes back.
/// Two threads sleeping at once therefore both wake at the later of their deadlines, and a
/// thread that waits for another thread's action (a signal) blocks on that action, not on
/// the clock, so no wait on the virtual clock can deadlock. A loop that spins on the
/// counter without sleeping never sees time pass. Virtual time starts at `kVirtualEpochNs`
/// whenever the virtual clock is selected, so a run reads the same numbers every time.
class SIM_API Clock {
public:
    enum class Mode { Real, Virtual };

    /// Where virtual time starts (ten seconds after "boot": counters are never small).
    static constexpr uint64_t kVirtualEpochNs = 10ull * 1000 * 1000 * 1000;

    /// The machine's clock.
    static Clock& instance();

    /// Selects a mode; selecting the virtual clock (again) restarts it at the epoch.
    void setMode(Mode mode);
    Mode mode() const { return m_virtual.load() ? Mode::Virtual : Mode::Real; }
    bool isVirtual() const { return m_virtual.load(); }

    /// Nanoseconds now on the current clock.
    uint64_t nowNs() const;

    /// Waits `ns` (real) or moves the clock `ns` past the moment of the call (virtual).
    void sleepFor(uint64_t ns);
    /// Waits until `ns` (real) or moves the clock to `ns` unless it is past it (virtual).
    void sleepUntil(uint64_t ns);

private:
    Clock() = default;
    static uint64_t hostNs();

    std::atomic<bool> m_virtual{false};
    std::atomic<uint64_t> m_virtualNs{kVirtualEpochNs};
};

} // namespace sim
