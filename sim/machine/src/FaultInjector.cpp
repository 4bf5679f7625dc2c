// Fault injection.
#include "sim/FaultInjector.h"

#include "sim/WideString.h"

namespace sim {

void FaultInjector::failNth(std::string_view module, std::string_view entry, unsigned nth,
                            int64_t status, unsigned times, int gpu) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_rules.push_back(
        Rule{std::string(module), std::string(entry), gpu, nth ? nth : 1, times, status});
}

void FaultInjector::failAlways(std::string_view module, std::string_view entry, int64_t status,
                               int gpu) {
    failNth(module, entry, 1, status, 0, gpu);
}

void FaultInjector::hideExport(std::string_view module, std::string_view exportName) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_hiddenExports.push_back(HiddenExport{std::string(module), std::string(exportName)});
}

bool FaultInjector::exportHidden(std::string_view module, std::string_view exportName) const {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const HiddenExport& hidden : m_hiddenExports)
        if (hidden.name == exportName && equalNoCase(std::string_view(hidden.module), module))
            return true;
    return false;
}

void FaultInjector::clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_rules.clear();
    m_hiddenExports.clear();
}

bool FaultInjector::consult(std::string_view module, std::string_view entry, int gpu,
                            int64_t& status) {
    std::lock_guard<std::mutex> guard(m_lock);
    bool fail = false;
    for (Rule& rule : m_rules) {
        if (rule.entry != entry || !equalNoCase(std::string_view(rule.module), module))
            continue;
        if (rule.gpu != kNoGpu && rule.gpu != gpu)
            continue;
        unsigned call = ++rule.seen;
        bool inWindow = call >= rule.nth && (rule.times == 0 || call < rule.nth + rule.times);
        if (inWindow && !fail) {
            fail = true;
            status = rule.status;
        }
    }
    if (fail)
        ++m_injected;
    return fail;
}

size_t FaultInjector::injectedCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_injected;
}

} // namespace sim
