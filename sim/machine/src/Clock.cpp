// The machine's clock, real or virtual.
#include "sim/Clock.h"

#include <errno.h>
#include <time.h>

namespace sim {

Clock& Clock::instance() {
    // Never destroyed: threads may read the clock while the process exits.
    static Clock* s_pClock = new Clock();
    return *s_pClock;
}

uint64_t Clock::hostNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000ull + uint64_t(now.tv_nsec);
}

void Clock::setMode(Mode mode) {
    if (mode == Mode::Virtual)
        m_virtualNs.store(kVirtualEpochNs);
    m_virtual.store(mode == Mode::Virtual);
}

uint64_t Clock::nowNs() const {
    return m_virtual.load() ? m_virtualNs.load() : hostNs();
}

void Clock::sleepFor(uint64_t ns) {
    if (!m_virtual.load()) {
        sleepUntil(hostNs() + ns);
        return;
    }
    sleepUntil(m_virtualNs.load() + ns);
}

void Clock::sleepUntil(uint64_t ns) {
    if (m_virtual.load()) {
        // The clock only moves forward: a later deadline of another thread stays.
        uint64_t now = m_virtualNs.load();
        while (now < ns && !m_virtualNs.compare_exchange_weak(now, ns)) {
        }
        return;
    }
    timespec until;
    until.tv_sec = time_t(ns / 1000000000ull);
    until.tv_nsec = long(ns % 1000000000ull);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

} // namespace sim
