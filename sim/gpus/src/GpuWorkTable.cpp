// Work recorded by the simulated drivers, waiting for the submission that names it.
#include "sim/gpus/GpuCommand.h"

namespace sim {

GpuWorkTable& GpuWorkTable::instance() {
    // Never destroyed: drivers may record work while the process exits.
    static GpuWorkTable* s_pTable = new GpuWorkTable();
    return *s_pTable;
}

uint32_t GpuWorkTable::add(D3DKMT_HANDLE hContext, GpuWork work, GpuGate gate) {
    std::lock_guard<std::mutex> guard(m_lock);
    uint32_t id = m_nextId++;
    if (m_nextId == 0)
        m_nextId = 1;
    m_work[id] = Entry{hContext, GpuRecordedWork{std::move(work), std::move(gate)}};
    return id;
}

GpuRecordedWork GpuWorkTable::take(D3DKMT_HANDLE hContext, uint32_t id) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_work.find(id);
    if (it == m_work.end() || it->second.hContext != hContext)
        return GpuRecordedWork();
    GpuRecordedWork recorded = std::move(it->second.recorded);
    m_work.erase(it);
    return recorded;
}

void GpuWorkTable::drop(uint32_t id) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_work.erase(id);
}

size_t GpuWorkTable::size() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_work.size();
}

} // namespace sim
