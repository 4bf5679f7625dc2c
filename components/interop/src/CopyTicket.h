// The progress of one of the library's copies, shared by the GPU work that does it and by
// what must wait for it: an injection's ticket by the copy out of the same staging buffer
// and by the CPU notification the application's driver tests; a copy out's ticket by the
// next injection into that buffer, which must not overwrite pixels not yet read.
#pragma once

#include <atomic>
#include <memory>
#include <stdint.h>

namespace interop {

class CopyTicket {
public:
    /// `readyAtNs`: for an injection, the notification's moment (the call plus the
    /// machine's interop delay); 0 for a copy out.
    explicit CopyTicket(uint64_t readyAtNs) : m_readyAtNs(readyAtNs) {}

    /// The copy ran, or was dropped and never will (its GPU queue went away): either way,
    /// it touches the staging buffer no more.
    void settle() { m_settled = true; }
    bool settled() const { return m_settled; }
    uint64_t readyAtNs() const { return m_readyAtNs; }

    /// Settles the ticket when the last copy of the holder goes: captured by the copy's GPU
    /// work, so work that is dropped without running still settles it and nothing waits
    /// for it for ever.
    static std::shared_ptr<void> settleOnRelease(const std::shared_ptr<CopyTicket>& ticket) {
        return std::shared_ptr<void>(nullptr, [ticket](void*) { ticket->settle(); });
    }

private:
    std::atomic<bool> m_settled{false};
    const uint64_t m_readyAtNs;
};

} // namespace interop
