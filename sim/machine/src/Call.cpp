// The helper every simulated entry goes through.
#include "sim/Call.h"

#include "sim/Machine.h"

#include <stdarg.h>
#include <stdio.h>

namespace sim {

Call::Call(const char* module, const char* entry, int gpu)
    : m_module(module), m_entry(entry), m_gpu(gpu) {
    m_faulted = Machine::instance().faults().consult(module, entry, gpu, m_faultStatus);
}

Call::~Call() {
    JournalEntry e;
    e.module = m_module;
    e.entry = m_entry;
    e.gpu = m_gpu;
    e.arguments = std::move(m_arguments);
    e.result = m_result;
    e.threadId = currentThreadId();
    Machine::instance().journal().record(std::move(e));
}

Call& Call::args(const char* format, ...) {
    char buffer[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buffer, sizeof buffer, format, ap);
    va_end(ap);
    m_arguments = buffer;
    return *this;
}

void Call::setResult(int64_t result) {
    m_result = result;
}

} // namespace sim
