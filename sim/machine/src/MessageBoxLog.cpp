// Recorded message boxes.
#include "sim/MessageBoxLog.h"

namespace sim {

int MessageBoxLog::show(MessageBoxRecord record) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_records.push_back(std::move(record));
    return m_answer;
}

std::vector<MessageBoxRecord> MessageBoxLog::records() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_records;
}

size_t MessageBoxLog::count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_records.size();
}

void MessageBoxLog::clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_records.clear();
}

void MessageBoxLog::setAnswer(int answer) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_answer = answer;
}

} // namespace sim
