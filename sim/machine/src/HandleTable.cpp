// Kernel handles.
#include "sim/HandleTable.h"

namespace sim {

KernelObject::~KernelObject() = default;

void* HandleTable::add(std::shared_ptr<KernelObject> object) {
    std::lock_guard<std::mutex> guard(m_lock);
    uintptr_t value = m_next;
    m_next += 4;
    m_objects.emplace(value, std::move(object));
    return reinterpret_cast<void*>(value);
}

std::shared_ptr<KernelObject> HandleTable::get(void* handle) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == m_objects.end() ? nullptr : it->second;
}

bool HandleTable::close(void* handle) {
    std::shared_ptr<KernelObject> released;
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == m_objects.end())
        return false;
    released = std::move(it->second);
    m_objects.erase(it);
    return true;
}

size_t HandleTable::openCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_objects.size();
}

} // namespace sim
