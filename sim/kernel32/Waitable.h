// Kernel objects a thread can wait for (kernel32.dll internals).
#pragma once

#include "sim/HandleTable.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace sim {

/// A kernel object with a signalled state: threads, processes and events.
class Waitable : public KernelObject {
public:
    /// Waits until signalled, at most `milliseconds` (0xFFFFFFFF: no limit); false on
    /// timeout. An auto-reset object consumes the signal.
    virtual bool wait(uint32_t milliseconds) {
        std::unique_lock<std::mutex> lock(m_lock);
        auto ready = [this] { return m_signalled; };
        if (milliseconds == 0xFFFFFFFFu)
            m_changed.wait(lock, ready);
        else if (!m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready))
            return false;
        if (m_autoReset)
            m_signalled = false;
        return true;
    }

    void signal(bool signalled) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_signalled = signalled;
        if (signalled)
            m_changed.notify_all();
    }

protected:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_signalled = false;
    bool m_autoReset = false;
};

} // namespace sim
