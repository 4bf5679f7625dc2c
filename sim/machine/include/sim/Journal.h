// The call journal: every call into the machine, for tests that assert routing.
#pragma once

#include "sim/Export.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

/// GPU index of a journal entry or fault rule that concerns no particular GPU.
constexpr int kNoGpu = -1;

/// One call into the machine.
struct JournalEntry {
    std::string module;    ///< Windows module name, "gdi32.dll"
    std::string entry;     ///< entry point name, "D3DKMTOpenAdapterFromLuid"
    int gpu = kNoGpu;      ///< GPU index the call reached, or kNoGpu
    std::string arguments; ///< the arguments as text, "hAdapter=0x4 format=21"
    int64_t result = 0;    ///< the returned status (NTSTATUS, HRESULT, Win32 error, BOOL)
    uint32_t threadId = 0; ///< calling thread (GetCurrentThreadId)
    uint64_t sequence = 0; ///< order of the call across all threads, from 1
    uint64_t timeNs = 0;   ///< the machine's clock (sim::Clock) when it was recorded
};

/// Thread-safe record of calls. Module names compare case-insensitively (as Windows
/// module names do), entry names exactly. The journal keeps the most recent `capacity()`
/// entries (a million by default), so a long demo run cannot exhaust memory.
class SIM_API Journal {
public:
    /// Appends one entry (its sequence number is assigned here). Ignored while disabled.
    void record(JournalEntry entry);

    /// Number of calls of `module`!`entry`; with a GPU, only calls that reached it.
    size_t count(std::string_view module, std::string_view entry) const;
    size_t count(std::string_view module, std::string_view entry, int gpu) const;

    /// Calls of `module`!`entry`, in call order.
    std::vector<JournalEntry> find(std::string_view module, std::string_view entry) const;

    /// The most recent call of `module`!`entry`; false when there was none.
    bool last(std::string_view module, std::string_view entry, JournalEntry& out) const;

    /// Every recorded call, in order.
    std::vector<JournalEntry> entries() const;

    /// Forgets every entry (sequence numbers go on).
    void clear();

    /// Recording on or off (benchmarks turn it off); on by default.
    void setEnabled(bool enabled);
    bool enabled() const;

    /// The number of entries kept; older ones are dropped first. At least 1.
    void setCapacity(size_t capacity);
    size_t capacity() const;

private:
    mutable std::mutex m_lock;
    std::deque<JournalEntry> m_entries;
    uint64_t m_nextSequence = 1;
    size_t m_capacity = 1000000;
    bool m_enabled = true;
};

} // namespace sim
