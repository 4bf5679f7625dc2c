// The simulated GPUs' queues, engines and vertical blank.
#include "GpuQueues.h"

#include "sim/Clock.h"
#include "sim/Machine.h"

#include <algorithm>
#include <chrono>

namespace sim {

namespace {

// Vertical blank lines below the visible ones, as a share of a frame: 1 in 20.
uint32_t totalLines(uint32_t height) {
    return height + std::max<uint32_t>(height / 20, 1);
}

std::string handleList(const std::vector<D3DKMT_HANDLE>& handles) {
    std::string text;
    for (D3DKMT_HANDLE h : handles) {
        char number[16];
        snprintf(number, sizeof number, "%s0x%x", text.empty() ? "" : ",", h);
        text += number;
    }
    return text;
}

} // namespace

GpuQueues::GpuQueues(std::recursive_mutex& kernelLock, ModeOf modeOf)
    : m_lock(kernelLock), m_modeOf(std::move(modeOf)), m_pMachine(std::make_shared<MachineDesc>()) {
}

void GpuQueues::reset(std::shared_ptr<const MachineDesc> pMachine) {
    for (auto& entry : m_contexts) {
        if (!entry.second.items.empty())
            reportWaiting(entry.first, entry.second, "when the machine was replaced");
    }
    m_pMachine = pMachine ? pMachine : std::make_shared<MachineDesc>();
    m_epochNs = Clock::instance().nowNs();
    m_contexts.clear();
    m_objects.clear();
    m_engines.clear();
    m_pending.clear();
    m_queuedPresents.clear();
    m_lastFlipNs.clear();
    m_changed.notify_all();
}

void GpuQueues::addContext(D3DKMT_HANDLE hContext, int gpu) {
    m_contexts[hContext].gpu = gpu;
}

void GpuQueues::removeContext(D3DKMT_HANDLE hContext) {
    auto it = m_contexts.find(hContext);
    if (it == m_contexts.end())
        return;
    // The kernel lets a context's work finish before the context goes; a context stalled
    // on an object that no queued signal will release cannot finish.
    auto finishedOrStuck = [this, hContext] {
        const Context& context = m_contexts[hContext];
        if (context.items.empty())
            return true;
        Candidate next;
        return !nextCandidate(next);
    };
    waitFor(finishedOrStuck, UINT64_MAX, "a context's teardown");
    it = m_contexts.find(hContext);
    if (!it->second.items.empty()) {
        reportWaiting(hContext, it->second, "when it was destroyed");
        for (const GpuItem& item : it->second.items)
            retire(item);
    }
    m_contexts.erase(it);
    m_changed.notify_all();
}

void GpuQueues::reportWaiting(D3DKMT_HANDLE hContext, const Context& context, const char* when) {
    const GpuItem& head = context.items.front();
    JournalEntry entry;
    entry.module = "gdi32.dll";
    entry.entry = "ContextStillWaiting";
    entry.gpu = context.gpu;
    char text[256];
    snprintf(text, sizeof text, "hContext=0x%x %s, %zu queued items dropped, %s%s", hContext, when,
             context.items.size(),
             head.kind == GpuItem::Kind::Wait ? "waiting for objects " : "at work",
             head.kind == GpuItem::Kind::Wait ? handleList(head.objects).c_str() : "");
    entry.arguments = text;
    entry.result = 0;
    entry.threadId = currentThreadId();
    Machine::instance().journal().record(std::move(entry));
}

void GpuQueues::addSyncObject(D3DKMT_HANDLE hObject, bool mutex, uint32_t count,
                              uint32_t maxCount) {
    SyncObject& object = m_objects[hObject];
    object.mutex = mutex;
    object.count = count;
    object.maxCount = maxCount;
    object.availableNs = 0;
}

void GpuQueues::removeSyncObject(D3DKMT_HANDLE hObject) {
    m_objects.erase(hObject);
}

void GpuQueues::push(D3DKMT_HANDLE hContext, GpuItem item) {
    auto it = m_contexts.find(hContext);
    if (it == m_contexts.end())
        return;
    item.submittedNs = Clock::instance().nowNs();
    item.sequence = ++m_sequence;
    for (D3DKMT_HANDLE h : item.reads)
        ++m_pending[h].reads;
    for (D3DKMT_HANDLE h : item.writes)
        ++m_pending[h].writes;
    if (item.kind == GpuItem::Kind::Present)
        ++m_queuedPresents[{it->second.gpu, item.vidPnSourceId}];
    it->second.items.push_back(std::move(item));
    ++m_progress;
    m_changed.notify_all();
}

uint64_t GpuQueues::endSubmission(D3DKMT_HANDLE hContext) {
    auto it = m_contexts.find(hContext);
    if (it == m_contexts.end())
        return 0;
    GpuItem fence;
    fence.kind = GpuItem::Kind::Fence;
    push(hContext, std::move(fence));
    return ++it->second.submitted;
}

bool GpuQueues::submissionDone(D3DKMT_HANDLE hContext, uint64_t number) {
    settle();
    auto it = m_contexts.find(hContext);
    return it == m_contexts.end() || it->second.completed >= number;
}

void GpuQueues::retire(const GpuItem& item) {
    auto drop = [this](D3DKMT_HANDLE h, bool write) {
        auto it = m_pending.find(h);
        if (it == m_pending.end())
            return;
        uint32_t& count = write ? it->second.writes : it->second.reads;
        if (count)
            --count;
        if (it->second.reads == 0 && it->second.writes == 0)
            m_pending.erase(it);
    };
    for (D3DKMT_HANDLE h : item.reads)
        drop(h, false);
    for (D3DKMT_HANDLE h : item.writes)
        drop(h, true);
}

bool GpuQueues::available(const GpuItem& wait, uint64_t& readyNs) const {
    for (D3DKMT_HANDLE h : wait.objects) {
        auto it = m_objects.find(h);
        if (it == m_objects.end())
            continue; // a destroyed object holds nobody up
        const SyncObject& object = it->second;
        if (object.mutex ? object.count != 0 : object.count == 0)
            return false;
        readyNs = std::max(readyNs, object.availableNs);
    }
    return true;
}

bool GpuQueues::candidateOf(int gpu, Candidate& out) const {
    bool found = false;
    uint64_t bestReady = 0;
    auto engine = m_engines.find(gpu);
    uint64_t freeNs = engine == m_engines.end() ? 0 : engine->second.busyUntilNs;
    for (const auto& entry : m_contexts) {
        const Context& context = entry.second;
        if (context.gpu != gpu || context.items.empty())
            continue;
        const GpuItem& head = context.items.front();
        uint64_t ready = head.submittedNs;
        if (head.kind == GpuItem::Kind::Wait && !available(head, ready))
            continue;
        if (head.gate && !head.gate(ready))
            continue;
        // The engine takes the head that has been ready longest, then the older one.
        if (found && (ready > bestReady || (ready == bestReady && head.sequence > out.sequence)))
            continue;
        found = true;
        bestReady = ready;
        out.hContext = entry.first;
        out.sequence = head.sequence;
        out.gpu = gpu;
        uint64_t start = std::max(freeNs, ready);
        out.endNs = start + head.durationNs;
        if (head.kind == GpuItem::Kind::Present && head.flip && head.flipInterval > 0) {
            // A flip waits for a vertical blank, and for `interval` of them after the
            // previous flip of its source.
            uint64_t period = refreshPeriod(gpu, head.vidPnSourceId, nullptr);
            out.endNs = nextVblank(gpu, head.vidPnSourceId, start);
            auto last = m_lastFlipNs.find({gpu, head.vidPnSourceId});
            if (last != m_lastFlipNs.end())
                out.endNs = std::max(out.endNs, last->second + head.flipInterval * period);
        }
    }
    return found;
}

bool GpuQueues::nextCandidate(Candidate& out) const {
    bool found = false;
    std::vector<int> gpus;
    for (const auto& entry : m_contexts)
        gpus.push_back(entry.second.gpu);
    std::sort(gpus.begin(), gpus.end());
    gpus.erase(std::unique(gpus.begin(), gpus.end()), gpus.end());
    for (int gpu : gpus) {
        Candidate c;
        if (!candidateOf(gpu, c))
            continue;
        if (!found || c.endNs < out.endNs) {
            out = c;
            found = true;
        }
    }
    return found;
}

void GpuQueues::execute(const Candidate& next) {
    Context& context = m_contexts[next.hContext];
    GpuItem item = std::move(context.items.front());
    context.items.pop_front();
    m_engines[next.gpu].busyUntilNs = next.endNs;
    retire(item);
    switch (item.kind) {
    case GpuItem::Kind::Work:
        if (item.run)
            item.run(next.endNs);
        break;
    case GpuItem::Kind::Present: {
        auto key = std::make_pair(next.gpu, item.vidPnSourceId);
        if (m_queuedPresents[key])
            --m_queuedPresents[key];
        if (item.flip)
            m_lastFlipNs[key] = next.endNs;
        if (item.run)
            item.run(next.endNs);
        break;
    }
    case GpuItem::Kind::Wait:
        for (D3DKMT_HANDLE h : item.objects) {
            auto it = m_objects.find(h);
            if (it == m_objects.end())
                continue;
            if (it->second.mutex)
                it->second.count = 1;
            else if (it->second.count)
                --it->second.count;
        }
        break;
    case GpuItem::Kind::Signal:
        for (D3DKMT_HANDLE h : item.objects) {
            auto it = m_objects.find(h);
            if (it == m_objects.end())
                continue;
            if (it->second.mutex)
                it->second.count = 0;
            else if (it->second.count < it->second.maxCount)
                ++it->second.count;
            it->second.availableNs = next.endNs;
        }
        break;
    case GpuItem::Kind::Fence:
        ++context.completed;
        break;
    }
    ++m_progress;
}

void GpuQueues::runUntil(uint64_t limitNs) {
    Candidate next;
    while (nextCandidate(next) && next.endNs <= limitNs)
        execute(next);
}

void GpuQueues::settle() {
    size_t before = m_progress;
    runUntil(Clock::instance().nowNs());
    if (m_progress != before)
        m_changed.notify_all();
}

bool GpuQueues::allocationBusy(D3DKMT_HANDLE hAllocation, bool writesOnly) const {
    auto it = m_pending.find(hAllocation);
    if (it == m_pending.end())
        return false;
    return it->second.writes > 0 || (!writesOnly && it->second.reads > 0);
}

size_t GpuQueues::queuedPresents(int gpu, uint32_t vidPnSourceId) const {
    auto it = m_queuedPresents.find({gpu, vidPnSourceId});
    return it == m_queuedPresents.end() ? 0 : it->second;
}

void GpuQueues::chargeBusyPoll() {
    Clock& clock = Clock::instance();
    if (clock.isVirtual())
        clock.sleepFor(kBusyPollNs);
}

bool GpuQueues::waitFor(const std::function<bool()>& done, uint64_t wakeNs, const char* what) {
    Clock& clock = Clock::instance();
    auto lastChange = std::chrono::steady_clock::now();
    uint64_t progress = m_progress;
    for (;;) {
        settle();
        if (done() || clock.nowNs() >= wakeNs)
            return true;
        if (m_progress != progress) {
            progress = m_progress;
            lastChange = std::chrono::steady_clock::now();
        }
        Candidate next;
        uint64_t target = wakeNs;
        if (nextCandidate(next))
            target = std::min(target, next.endNs);
        if (target != UINT64_MAX && clock.isVirtual()) {
            // Nothing else can happen before the next end on the virtual clock: go there.
            clock.sleepUntil(target);
            continue;
        }
        auto giveUp = lastChange + std::chrono::milliseconds(kStallTimeoutMs);
        auto deadline = giveUp;
        if (target != UINT64_MAX && !clock.isVirtual()) {
            // The host's monotonic clock is the one steady_clock reads.
            auto end = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(target));
            deadline = std::min(deadline, end);
        }
        m_changed.wait_until(m_lock, deadline);
        if (m_progress == progress && std::chrono::steady_clock::now() >= giveUp) {
            settle();
            if (done())
                return true;
            JournalEntry entry;
            entry.module = "gdi32.dll";
            entry.entry = "GpuStall";
            entry.arguments = std::string(what) + " gave up: no GPU work can run";
            entry.threadId = currentThreadId();
            Machine::instance().journal().record(std::move(entry));
            return false;
        }
    }
}

uint64_t GpuQueues::refreshPeriod(int gpu, uint32_t vidPnSourceId, uint32_t* pHeight) const {
    // A source without a monitor keeps a 60 Hz, 480-line beam for its flips.
    DisplayMode mode = m_modeOf(gpu, vidPnSourceId);
    if (mode.width == 0 || mode.height == 0)
        mode = DisplayMode{640, 480};
    if (pHeight)
        *pHeight = std::max<uint32_t>(mode.height, 1);
    uint32_t rate = mode.refreshRate ? mode.refreshRate : 60;
    return 1000000000ull / rate;
}

uint64_t GpuQueues::nextVblank(int gpu, uint32_t vidPnSourceId, uint64_t afterNs) const {
    uint64_t period = refreshPeriod(gpu, vidPnSourceId, nullptr);
    if (afterNs < m_epochNs)
        return m_epochNs;
    uint64_t frames = (afterNs - m_epochNs) / period + 1;
    return m_epochNs + frames * period;
}

void GpuQueues::scanLine(int gpu, uint32_t vidPnSourceId, UINT& line, bool& inVerticalBlank) const {
    uint32_t height = 0;
    uint64_t period = refreshPeriod(gpu, vidPnSourceId, &height);
    uint64_t now = Clock::instance().nowNs();
    uint64_t phase = now >= m_epochNs ? (now - m_epochNs) % period : 0;
    // A frame starts with the vertical blank (lines height..total-1), then the visible
    // lines 0..height-1 follow until the next blank.
    uint32_t total = totalLines(height);
    uint32_t blank = total - height;
    uint32_t position = uint32_t(phase * total / period);
    inVerticalBlank = position < blank;
    line = position < blank ? height + position : position - blank;
}

} // namespace sim
