// The call journal.
#include "sim/Journal.h"

#include "sim/Clock.h"
#include "sim/WideString.h"

namespace sim {

namespace {

bool matches(const JournalEntry& e, std::string_view module, std::string_view entry) {
    return e.entry == entry && equalNoCase(std::string_view(e.module), module);
}

} // namespace

void Journal::record(JournalEntry entry) {
    entry.timeNs = Clock::instance().nowNs();
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_enabled)
        return;
    entry.sequence = m_nextSequence++;
    m_entries.push_back(std::move(entry));
    while (m_entries.size() > m_capacity)
        m_entries.pop_front();
}

size_t Journal::count(std::string_view module, std::string_view entry) const {
    std::lock_guard<std::mutex> guard(m_lock);
    size_t n = 0;
    for (const JournalEntry& e : m_entries)
        n += matches(e, module, entry) ? 1 : 0;
    return n;
}

size_t Journal::count(std::string_view module, std::string_view entry, int gpu) const {
    std::lock_guard<std::mutex> guard(m_lock);
    size_t n = 0;
    for (const JournalEntry& e : m_entries)
        n += matches(e, module, entry) && e.gpu == gpu ? 1 : 0;
    return n;
}

std::vector<JournalEntry> Journal::find(std::string_view module, std::string_view entry) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<JournalEntry> found;
    for (const JournalEntry& e : m_entries)
        if (matches(e, module, entry))
            found.push_back(e);
    return found;
}

bool Journal::last(std::string_view module, std::string_view entry, JournalEntry& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        if (matches(*it, module, entry)) {
            out = *it;
            return true;
        }
    }
    return false;
}

std::vector<JournalEntry> Journal::entries() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return std::vector<JournalEntry>(m_entries.begin(), m_entries.end());
}

void Journal::clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_entries.clear();
}

void Journal::setEnabled(bool enabled) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_enabled = enabled;
}

bool Journal::enabled() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_enabled;
}

void Journal::setCapacity(size_t capacity) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_capacity = capacity ? capacity : 1;
    while (m_entries.size() > m_capacity)
        m_entries.pop_front();
}

size_t Journal::capacity() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_capacity;
}

} // namespace sim
