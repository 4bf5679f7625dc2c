// Stops every other thread of the process while a hook's bytes change.
//
// A thread running through the patched bytes while they change would execute half a jump,
// and one stopped in the middle of them would resume inside the new jump. So the freezer
// suspends all other threads first, and before they go on, a thread whose instruction
// pointer lies inside the moved instructions continues at their rewrite in the entry.
//
// While threads are frozen, nothing here allocates: a frozen thread may hold the heap's
// lock. The thread list is taken, and its storage reserved, before the first suspension.
#pragma once

#include "hook/HookStatus.h"
#include "hook/Relocator.h"

#include <cstdint>
#include <vector>

namespace hook {

class ThreadFreezer {
public:
    /// Snapshot attempts before giving up on a thread that will not stop (one that ended
    /// after the snapshot is gone from the next one).
    static constexpr int kAttempts = 3;

    ThreadFreezer() = default;
    ThreadFreezer(const ThreadFreezer&) = delete;
    ThreadFreezer& operator=(const ThreadFreezer&) = delete;
    ~ThreadFreezer() { thaw(); }

    /// Suspends every other thread of the process. On failure none stays suspended.
    HookStatus freeze();

    /// Moves each frozen thread whose instruction pointer is at a moved instruction of
    /// `plan` to that instruction's rewrite in the entry at `entryAddress`.
    void moveOutOfPatch(const RelocationPlan& plan, uint64_t entryAddress);

    /// Resumes the frozen threads and closes their handles.
    void thaw();

    size_t frozenCount() const { return m_frozen.size(); }

private:
    std::vector<void*> m_frozen;
    std::vector<uint32_t> m_ids;
    std::vector<void*> m_opened;

    bool freezeOnce();
};

} // namespace hook
