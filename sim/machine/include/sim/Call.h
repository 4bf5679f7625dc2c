// The one helper every simulated entry uses: fault injection first, then a journal entry.
#pragma once

#include "sim/Export.h"
#include "sim/Journal.h"

#include <cstdint>
#include <string>

namespace sim {

/// One call of a simulated entry.
///
///     sim::Call call("advapi32.dll", "RegOpenKeyExW");
///     call.args("key=%p subKey=%s", key, sim::toUtf8(...).c_str());
///     if (call.faulted())
///         return call.finish(static_cast<LSTATUS>(call.faultStatus()));
///     ...
///     return call.finish(status);
///
/// The constructor consults the fault injector (so the Nth call is counted whether or not
/// the entry later fails on its own); finish() or, failing that, the destructor records
/// the call in the journal with its result.
class SIM_API Call {
public:
    Call(const char* module, const char* entry, int gpu = kNoGpu);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    /// Sets the argument text, printf-style.
    Call& args(const char* format, ...) __attribute__((format(printf, 2, 3)));

    /// Sets the GPU the call reached, when it is known only after argument checks.
    void setGpu(int gpu) { m_gpu = gpu; }

    /// True when fault injection wants this call to fail.
    bool faulted() const { return m_faulted; }
    /// The status to fail with (meaningful only when faulted()).
    int64_t faultStatus() const { return m_faultStatus; }

    /// Records the result and returns it unchanged (so `return call.finish(x);`).
    template <class T> T finish(T result) {
        setResult(static_cast<int64_t>(result));
        return result;
    }
    /// Pointer results are recorded as 1 (non-null) or 0.
    template <class T> T* finish(T* result) {
        setResult(result ? 1 : 0);
        return result;
    }

private:
    void setResult(int64_t result);

    const char* m_module;
    const char* m_entry;
    int m_gpu;
    std::string m_arguments;
    int64_t m_result = 0;
    bool m_faulted = false;
    int64_t m_faultStatus = 0;
};

} // namespace sim
