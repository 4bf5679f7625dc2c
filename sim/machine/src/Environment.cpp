// The machine's environment variables.
#include "sim/Environment.h"

#include "sim/WideString.h"

namespace sim {

Environment::Environment() {
    set(u"SystemDrive", u"C:");
    set(u"SystemRoot", u"C:\\Windows");
    set(u"windir", u"C:\\Windows");
    set(u"ProgramFiles", u"C:\\Program Files");
    set(u"USERPROFILE", u"C:\\Users\\Player");
    set(u"TEMP", u"C:\\Users\\Player\\AppData\\Local\\Temp");
    set(u"TMP", u"C:\\Users\\Player\\AppData\\Local\\Temp");
}

void Environment::set(std::u16string_view name, std::u16string_view value) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto key = upperAscii(name);
    auto it = m_variables.find(key);
    if (it != m_variables.end())
        it->second.second = std::u16string(value);
    else
        m_variables.emplace(key, std::make_pair(std::u16string(name), std::u16string(value)));
}

void Environment::unset(std::u16string_view name) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_variables.erase(upperAscii(name));
}

std::optional<std::u16string> Environment::get(std::u16string_view name) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_variables.find(upperAscii(name));
    if (it == m_variables.end())
        return std::nullopt;
    return it->second.second;
}

void Environment::clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_variables.clear();
}

} // namespace sim
