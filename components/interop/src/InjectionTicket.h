// One injection's progress, shared by the copy the rendering GPU runs, the copy out the
// presenting GPU runs after it, and the CPU notification the application's driver tests.
#pragma once

#include <atomic>
#include <memory>
#include <stdint.h>

namespace interop {

class InjectionTicket {
public:
    /// `readyAtNs`: the notification's moment (the injection's call plus the machine's
    /// interop delay).
    explicit InjectionTicket(uint64_t readyAtNs) : m_readyAtNs(readyAtNs) {}

    /// The copy ran, or was dropped and never will (its GPU queue went away): either way,
    /// nothing more will write the staging buffer for this injection.
    void settle() { m_settled = true; }
    bool settled() const { return m_settled; }
    uint64_t readyAtNs() const { return m_readyAtNs; }

    /// Settles the ticket when the last copy of the holder goes: captured by the GPU work
    /// of the injection, so work that is dropped without running still settles it and no
    /// copy out waits for it for ever.
    static std::shared_ptr<void> settleOnRelease(const std::shared_ptr<InjectionTicket>& ticket) {
        return std::shared_ptr<void>(nullptr, [ticket](void*) { ticket->settle(); });
    }

private:
    std::atomic<bool> m_settled{false};
    const uint64_t m_readyAtNs;
};

} // namespace interop
