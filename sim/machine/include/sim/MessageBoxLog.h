// Message boxes shown on the machine: recorded, never displayed.
#pragma once

#include "sim/Export.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

/// One message box as the application asked for it.
struct MessageBoxRecord {
    std::u16string title;
    std::u16string text;
    uint32_t style = 0; ///< MB_* flags
    void* owner = nullptr;
};

/// Records MessageBoxW/A calls; each returns the configured answer (IDOK unless set).
class SIM_API MessageBoxLog {
public:
    /// Records one box and returns the answer the "user" gives.
    int show(MessageBoxRecord record);

    /// Boxes shown so far, in order.
    std::vector<MessageBoxRecord> records() const;
    size_t count() const;
    void clear();

    /// The button every following box answers with (IDOK = 1 by default).
    void setAnswer(int answer);

private:
    mutable std::mutex m_lock;
    std::vector<MessageBoxRecord> m_records;
    int m_answer = 1;
};

} // namespace sim
