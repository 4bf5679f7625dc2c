// kernel32.dll and the C runtime: the machine's environment variables.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <errno.h>
#include <string.h>

namespace {

const char kModule[] = "kernel32.dll";

// The C runtime's getenv_s contract, for either character width.
template <class Char>
errno_t copyVariable(const std::basic_string<Char>* value, size_t* required, Char* buffer,
                     size_t count) {
    if (!value) {
        *required = 0;
        if (buffer && count)
            buffer[0] = 0;
        return 0;
    }
    *required = value->size() + 1;
    if (!buffer)
        return 0; // a size query
    if (count < value->size() + 1) {
        if (count)
            buffer[0] = 0;
        return ERANGE;
    }
    memcpy(buffer, value->c_str(), (value->size() + 1) * sizeof(Char));
    return 0;
}

} // namespace

errno_t _wgetenv_s(size_t* required, WCHAR* buffer, size_t count, const WCHAR* name) {
    sim::Call call(kModule, "_wgetenv_s");
    call.args("name=%s count=%zu", sim::toUtf8(sim::wideOf(name)).c_str(), count);
    if (call.faulted())
        return call.finish(static_cast<errno_t>(call.faultStatus()));
    if (!required || !name || (!buffer && count))
        return call.finish(static_cast<errno_t>(EINVAL));
    auto value = sim::Machine::instance().environment().get(sim::wideOf(name));
    return call.finish(copyVariable<char16_t>(value ? &*value : nullptr, required, buffer, count));
}

errno_t getenv_s(size_t* required, char* buffer, size_t count, const char* name) {
    sim::Call call(kModule, "getenv_s");
    call.args("name=%s count=%zu", name ? name : "(null)", count);
    if (call.faulted())
        return call.finish(static_cast<errno_t>(call.faultStatus()));
    if (!required || !name || (!buffer && count))
        return call.finish(static_cast<errno_t>(EINVAL));
    auto value = sim::Machine::instance().environment().get(sim::fromUtf8(name));
    std::string narrow = value ? sim::toUtf8(*value) : "";
    return call.finish(copyVariable<char>(value ? &narrow : nullptr, required, buffer, count));
}

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    sim::Call call(kModule, "GetEnvironmentVariableW");
    call.args("name=%s size=%u", sim::toUtf8(sim::wideOf(name)).c_str(), size);
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(0u);
    }
    auto value =
        name ? sim::Machine::instance().environment().get(sim::wideOf(name)) : std::nullopt;
    if (!value) {
        sim::setLastError(ERROR_ENVVAR_NOT_FOUND);
        return call.finish(0u);
    }
    if (!buffer || size < value->size() + 1)
        return call.finish(static_cast<DWORD>(value->size() + 1)); // the size needed
    memcpy(buffer, value->c_str(), (value->size() + 1) * sizeof(WCHAR));
    return call.finish(static_cast<DWORD>(value->size()));
}

BOOL WINAPI SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
    sim::Call call(kModule, "SetEnvironmentVariableW");
    std::u16string variable = sim::wideOf(name);
    call.args("name=%s", sim::toUtf8(variable).c_str());
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(FALSE);
    }
    if (variable.empty() || variable.find(u'=') != std::u16string::npos) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(FALSE);
    }
    sim::Environment& environment = sim::Machine::instance().environment();
    if (value)
        environment.set(variable, sim::wideOf(value));
    else
        environment.unset(variable);
    return call.finish(TRUE);
}
