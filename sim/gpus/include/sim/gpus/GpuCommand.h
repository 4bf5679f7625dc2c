// The command stream the simulated vendor drivers write and the simulated GPUs run: one
// 16-byte token per operation. What an operation does is recorded as work (a function)
// that the GPU runs when the kernel's queue reaches the token, not when the driver is
// called, so a CPU that reads memory before the GPU got there sees the old contents.
#pragma once

#include "platform/win.h"
#include "sim/Export.h"

#include <functional>
#include <map>
#include <mutex>
#include <stdint.h>

namespace sim {

/// What one token asks the GPU for; decides how long the GPU takes (GpuDesc timings).
enum class GpuOp : uint32_t { Blt = 1, Fill, Clear, Draw, Copy, Present, Query, Lock };

/// One command of the stream, as it lies in the command buffer.
struct GpuCommandToken {
    uint32_t op;     ///< GpuOp
    uint32_t hRead;  ///< allocation the operation reads (0: none)
    uint32_t hWrite; ///< allocation the operation writes (0: none)
    uint32_t work;   ///< GpuWorkTable id of what the GPU does (0: nothing)
};
static_assert(sizeof(GpuCommandToken) == 16, "tokens are 16 bytes");

/// What the GPU does for one token.
using GpuWork = std::function<void()>;
/// Whether a token may start yet, for work that depends on something outside its own queue
/// (another GPU's copy, say): true once it may, raising `startNotBeforeNs` to the earliest
/// moment it may start. Asked with the kernel's lock held; it must not block.
using GpuGate = std::function<bool(uint64_t& startNotBeforeNs)>;

/// The work of one token and the gate it waits for (none: it starts when its queue reaches
/// it).
struct GpuRecordedWork {
    GpuWork work;
    GpuGate gate;
};

/// The work of tokens that are recorded but not yet run, by id. A driver adds work while
/// it writes a token and drops it when a submission fails; the kernel takes it when it
/// queues the submission. Work belongs to one context: a token submitted on another
/// context (or a stray number in a foreign command buffer) finds nothing.
class SIM_API GpuWorkTable {
public:
    static GpuWorkTable& instance();

    /// Stores work for a context's next submission, with the gate it waits for; returns
    /// its id (never 0).
    uint32_t add(D3DKMT_HANDLE hContext, GpuWork work, GpuGate gate = GpuGate());
    /// Removes and returns the work of an id; empty when unknown or of another context.
    GpuRecordedWork take(D3DKMT_HANDLE hContext, uint32_t id);
    /// Forgets work that will never be submitted.
    void drop(uint32_t id);
    /// Pieces of work waiting for their submission (leak checks).
    size_t size() const;

private:
    struct Entry {
        D3DKMT_HANDLE hContext;
        GpuRecordedWork recorded;
    };
    mutable std::mutex m_lock;
    uint32_t m_nextId = 1;
    std::map<uint32_t, Entry> m_work;
};

} // namespace sim
