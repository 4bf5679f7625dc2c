// The simulated GPUs' engines: a queue per context, one engine per GPU running the heads of
// its contexts' queues one at a time, and the display's vertical blank. The kernel owns one
// and calls it with the kernel lock held.
//
// Execution is lazy and exact: an item's start is the later of the engine becoming free and
// the item being ready (submitted, or its synchronisation objects signalled); its end adds
// the GPU time the machine gives it (a flip ends at its vertical blank). Whenever the kernel
// is entered, every item whose end lies in the past runs, in the order of the ends, and its
// effect (pixels written, a frame scanned out, an object signalled) appears then. So what a
// caller sees depends only on the clock, which makes virtual-clock runs repeatable.
#pragma once

#include "platform/win.h"
#include "sim/gpus/MachineDesc.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdint.h>
#include <string>
#include <vector>

namespace sim {

/// One entry of a context's queue.
struct GpuItem {
    enum class Kind { Work, Present, Wait, Signal, Fence };
    Kind kind = Kind::Work;
    /// Work and presents: the effect, run at the item's end (given in nanoseconds).
    std::function<void(uint64_t endNs)> run;
    uint64_t durationNs = 0;
    std::vector<D3DKMT_HANDLE> reads;
    std::vector<D3DKMT_HANDLE> writes;
    /// Work only: what it waits for outside its queue (GpuGate); none starts it when the
    /// queue reaches it.
    std::function<bool(uint64_t& startNotBeforeNs)> gate;
    // Presents
    uint32_t vidPnSourceId = 0;
    bool flip = false;
    uint32_t flipInterval = 0; ///< vertical blanks between this flip and the one before
    // Waits and signals
    std::vector<D3DKMT_HANDLE> objects;
    // Set by the queues
    uint64_t submittedNs = 0;
    uint64_t sequence = 0;
};

class GpuQueues {
public:
    /// Presents a video present source may have queued before a new one waits.
    static constexpr size_t kMaxQueuedPresents = 3;
    /// Virtual time a poll that finds the GPU busy costs its caller (so a polling loop
    /// moves on, as it would in real time).
    static constexpr uint64_t kBusyPollNs = 100 * 1000;
    /// Real time without any progress after which a wait gives up (a GPU hang).
    static constexpr uint64_t kStallTimeoutMs = 2000;

    /// The mode a source shows now (zero-sized when it has no monitor).
    using ModeOf = std::function<DisplayMode(int gpu, uint32_t vidPnSourceId)>;

    GpuQueues(std::recursive_mutex& kernelLock, ModeOf modeOf);

    /// Drops every queue and object (the machine is replaced); a context still waiting for
    /// a synchronisation object is reported.
    void reset(std::shared_ptr<const MachineDesc> pMachine);

    void addContext(D3DKMT_HANDLE hContext, int gpu);
    /// Lets the context's queue run empty, then forgets it; a context that is still waiting
    /// for a synchronisation object nobody signals is reported and its queue dropped.
    void removeContext(D3DKMT_HANDLE hContext);
    void addSyncObject(D3DKMT_HANDLE hObject, bool mutex, uint32_t count, uint32_t maxCount);
    void removeSyncObject(D3DKMT_HANDLE hObject);

    /// Queues an item behind the context's earlier ones.
    void push(D3DKMT_HANDLE hContext, GpuItem item);
    /// Ends a submission of the context; returns its number (1 for the first).
    uint64_t endSubmission(D3DKMT_HANDLE hContext);
    /// Whether the context's queue has run past the end of submission `number`.
    bool submissionDone(D3DKMT_HANDLE hContext, uint64_t number);

    /// Runs every item whose end has come.
    void settle();
    /// Whether queued work reads (unless `writesOnly`) or writes the allocation.
    bool allocationBusy(D3DKMT_HANDLE hAllocation, bool writesOnly) const;
    /// Presents of a source not yet shown.
    size_t queuedPresents(int gpu, uint32_t vidPnSourceId) const;
    /// Runs the queues (waiting for, or on the virtual clock moving to, each next end, and
    /// for other threads' submissions) until `done` holds or `wakeNs` has come. False when
    /// nothing moved for kStallTimeoutMs (the wait is reported).
    bool waitFor(const std::function<bool()>& done, uint64_t wakeNs = UINT64_MAX,
                 const char* what = "a wait");
    /// On the virtual clock, moves time on by kBusyPollNs (a poll that found work pending).
    void chargeBusyPoll();

    /// The first vertical blank of a source after `afterNs`.
    uint64_t nextVblank(int gpu, uint32_t vidPnSourceId, uint64_t afterNs) const;
    /// Where the beam of a source is now.
    void scanLine(int gpu, uint32_t vidPnSourceId, UINT& line, bool& inVerticalBlank) const;

private:
    struct Context {
        int gpu = -1;
        std::deque<GpuItem> items;
        uint64_t submitted = 0;
        uint64_t completed = 0;
    };
    struct SyncObject {
        bool mutex = false;
        uint32_t count = 0; ///< semaphore count, or 1 while a mutex is owned
        uint32_t maxCount = 0;
        uint64_t availableNs = 0;
    };
    struct Engine {
        uint64_t busyUntilNs = 0;
    };
    struct Candidate {
        D3DKMT_HANDLE hContext = 0;
        uint64_t endNs = 0;
        uint64_t sequence = 0;
        int gpu = -1;
    };
    struct Pending {
        uint32_t reads = 0;
        uint32_t writes = 0;
    };

    bool available(const GpuItem& wait, uint64_t& readyNs) const;
    bool candidateOf(int gpu, Candidate& out) const;
    bool nextCandidate(Candidate& out) const;
    void runUntil(uint64_t limitNs);
    void execute(const Candidate& next);
    void retire(const GpuItem& item);
    void reportWaiting(D3DKMT_HANDLE hContext, const Context& context, const char* when);
    uint64_t refreshPeriod(int gpu, uint32_t vidPnSourceId, uint32_t* pHeight) const;

    std::recursive_mutex& m_lock;
    ModeOf m_modeOf;
    std::condition_variable_any m_changed;
    std::shared_ptr<const MachineDesc> m_pMachine;
    uint64_t m_epochNs = 0;
    uint64_t m_sequence = 0;
    uint64_t m_progress = 0; ///< items run, submissions and signals (stall detection)
    std::map<D3DKMT_HANDLE, Context> m_contexts;
    std::map<D3DKMT_HANDLE, SyncObject> m_objects;
    std::map<int, Engine> m_engines;
    std::map<D3DKMT_HANDLE, Pending> m_pending;
    std::map<std::pair<int, uint32_t>, size_t> m_queuedPresents;
    std::map<std::pair<int, uint32_t>, uint64_t> m_lastFlipNs;
};

} // namespace sim
