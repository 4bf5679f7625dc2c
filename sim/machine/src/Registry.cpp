// The machine's registry tree.
#include "sim/Registry.h"

#include "sim/WideString.h"

#include <algorithm>
#include <map>
#include <vector>

namespace sim {

namespace {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

std::vector<std::u16string> splitPath(std::u16string_view path) {
    std::vector<std::u16string> parts;
    std::u16string part;
    for (char16_t c : path) {
        if (c == u'\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

std::vector<uint8_t> bytesOf(const std::u16string& s) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(s.c_str());
    return std::vector<uint8_t>(p, p + (s.size() + 1) * sizeof(char16_t));
}

} // namespace

struct RegistryNode {
    std::u16string name;
    std::map<std::u16string, RegistryKey> children; // upper-cased name -> key
    std::vector<std::pair<std::u16string, RegistryValue>> values;

    std::vector<std::pair<std::u16string, RegistryValue>>::iterator
    findValue(std::u16string_view valueName) {
        return std::find_if(values.begin(), values.end(), [&](const auto& v) {
            return equalNoCase(std::u16string_view(v.first), valueName);
        });
    }
};

Registry::Registry() : m_root(std::make_shared<RegistryNode>()) {
    m_root->name = u"REGISTRY";
    bool created = false;
    create(m_root, u"MACHINE\\SOFTWARE\\Classes", created);
    create(m_root, u"MACHINE\\SYSTEM\\CurrentControlSet", created);
    create(m_root, std::u16string(u"USER\\") + kCurrentUserSid + u"\\Software", created);
}

RegistryKey Registry::keyOfPath(std::u16string_view keyPath) const {
    std::vector<std::u16string> parts = splitPath(keyPath);
    if (parts.empty())
        return nullptr;
    std::u16string first = upperAscii(parts[0]);
    std::u16string base;
    size_t skip = 1;
    if (first == u"HKLM" || first == u"HKEY_LOCAL_MACHINE") {
        base = u"MACHINE";
    } else if (first == u"HKCU" || first == u"HKEY_CURRENT_USER") {
        base = std::u16string(u"USER\\") + kCurrentUserSid;
    } else if (first == u"HKU" || first == u"HKEY_USERS") {
        base = u"USER";
    } else if (first == u"HKCR" || first == u"HKEY_CLASSES_ROOT") {
        base = u"MACHINE\\SOFTWARE\\Classes";
    } else if (first == u"REGISTRY" && !keyPath.empty() && keyPath[0] == u'\\') {
        base = u"";
    } else {
        return nullptr;
    }
    std::u16string relative = base;
    for (size_t i = skip; i < parts.size(); ++i)
        relative += (relative.empty() ? u"" : u"\\") + parts[i];
    return open(m_root, relative);
}

RegistryKey Registry::open(const RegistryKey& from, std::u16string_view relativePath) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return openLocked(from, relativePath);
}

RegistryKey Registry::openLocked(const RegistryKey& from, std::u16string_view relativePath) const {
    RegistryKey key = from;
    for (const std::u16string& part : splitPath(relativePath)) {
        if (!key)
            return nullptr;
        auto it = key->children.find(upperAscii(part));
        key = it == key->children.end() ? nullptr : it->second;
    }
    return key;
}

RegistryKey Registry::create(const RegistryKey& from, std::u16string_view relativePath,
                             bool& created) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return createLocked(from, relativePath, created);
}

RegistryKey Registry::createLocked(const RegistryKey& from, std::u16string_view relativePath,
                                   bool& created) {
    created = false;
    RegistryKey key = from;
    if (!key)
        return nullptr;
    for (const std::u16string& part : splitPath(relativePath)) {
        auto& slot = key->children[upperAscii(part)];
        if (!slot) {
            slot = std::make_shared<RegistryNode>();
            slot->name = part;
            created = true;
        } else {
            created = false;
        }
        key = slot;
    }
    return key;
}

bool Registry::queryValue(const RegistryKey& key, std::u16string_view name,
                          RegistryValue& out) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!key)
        return false;
    auto it = key->findValue(name);
    if (it == key->values.end())
        return false;
    out = it->second;
    return true;
}

void Registry::setValue(const RegistryKey& key, std::u16string_view name, RegistryValue value) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!key)
        return;
    auto it = key->findValue(name);
    if (it != key->values.end())
        it->second = std::move(value);
    else
        key->values.emplace_back(std::u16string(name), std::move(value));
}

bool Registry::deleteValue(const RegistryKey& key, std::u16string_view name) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!key)
        return false;
    auto it = key->findValue(name);
    if (it == key->values.end())
        return false;
    key->values.erase(it);
    return true;
}

bool Registry::deleteLeafKey(const RegistryKey& key, std::u16string_view name) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!key)
        return false;
    auto it = key->children.find(upperAscii(name));
    if (it == key->children.end() || !it->second->children.empty())
        return false;
    key->children.erase(it);
    return true;
}

bool Registry::subkeyName(const RegistryKey& key, size_t index, std::u16string& name) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!key || index >= key->children.size())
        return false;
    auto it = key->children.begin();
    std::advance(it, static_cast<long>(index));
    name = it->second->name;
    return true;
}

bool Registry::valueAt(const RegistryKey& key, size_t index, std::u16string& name,
                       RegistryValue& value) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!key || index >= key->values.size())
        return false;
    name = key->values[index].first;
    value = key->values[index].second;
    return true;
}

void Registry::info(const RegistryKey& key, size_t& subkeys, size_t& longestSubkey, size_t& values,
                    size_t& longestValueName, size_t& longestData) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    subkeys = longestSubkey = values = longestValueName = longestData = 0;
    if (!key)
        return;
    subkeys = key->children.size();
    for (const auto& child : key->children)
        longestSubkey = std::max(longestSubkey, child.second->name.size());
    values = key->values.size();
    for (const auto& value : key->values) {
        longestValueName = std::max(longestValueName, value.first.size());
        longestData = std::max(longestData, value.second.data.size());
    }
}

std::u16string Registry::nameOf(const RegistryKey& key) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return key ? key->name : u"";
}

// ---- Seeding by full path ----

bool Registry::createKey(std::u16string_view keyPath) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::vector<std::u16string> parts = splitPath(keyPath);
    if (parts.empty())
        return false;
    // Find the deepest existing prefix that keyOfPath accepts, then create the rest.
    for (size_t n = parts.size(); n >= 1; --n) {
        std::u16string prefix = keyPath[0] == u'\\' ? u"\\" : u"";
        for (size_t i = 0; i < n; ++i)
            prefix += (i ? u"\\" : u"") + parts[i];
        RegistryKey base = keyOfPath(prefix);
        if (!base)
            continue;
        std::u16string rest;
        for (size_t i = n; i < parts.size(); ++i)
            rest += (i > n ? u"\\" : u"") + parts[i];
        bool created = false;
        return createLocked(base, rest, created) != nullptr;
    }
    return false;
}

bool Registry::setValue(std::u16string_view keyPath, std::u16string_view name,
                        RegistryValue value) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!createKey(keyPath))
        return false;
    setValue(keyOfPath(keyPath), name, std::move(value));
    return true;
}

bool Registry::setString(std::u16string_view keyPath, std::u16string_view name,
                         std::u16string_view value) {
    return setValue(keyPath, name, RegistryValue{kRegSz, bytesOf(std::u16string(value))});
}

bool Registry::setDword(std::u16string_view keyPath, std::u16string_view name, uint32_t value) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&value);
    return setValue(keyPath, name, RegistryValue{kRegDword, std::vector<uint8_t>(p, p + 4)});
}

bool Registry::setBinary(std::u16string_view keyPath, std::u16string_view name, const void* data,
                         size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    return setValue(keyPath, name,
                    RegistryValue{kRegBinary, std::vector<uint8_t>(p, p ? p + size : p)});
}

bool Registry::setMultiString(std::u16string_view keyPath, std::u16string_view name,
                              const std::vector<std::u16string>& strings) {
    std::u16string joined;
    for (const std::u16string& s : strings) {
        joined += s;
        joined += u'\0';
    }
    return setValue(keyPath, name, RegistryValue{kRegMultiSz, bytesOf(joined)});
}

bool Registry::removeKey(std::u16string_view keyPath) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::vector<std::u16string> parts = splitPath(keyPath);
    if (parts.size() < 2 || !keyOfPath(keyPath))
        return false;
    std::u16string parentPath = keyPath[0] == u'\\' ? u"\\" : u"";
    for (size_t i = 0; i + 1 < parts.size(); ++i)
        parentPath += (i ? u"\\" : u"") + parts[i];
    RegistryKey parent = keyOfPath(parentPath);
    return parent && parent->children.erase(upperAscii(parts.back())) == 1;
}

bool Registry::removeValue(std::u16string_view keyPath, std::u16string_view name) {
    return deleteValue(keyOfPath(keyPath), name);
}

bool Registry::getValue(std::u16string_view keyPath, std::u16string_view name,
                        RegistryValue& out) const {
    return queryValue(keyOfPath(keyPath), name, out);
}

RegistryKeyObject::~RegistryKeyObject() = default;

bool Registry::keyExists(std::u16string_view keyPath) const {
    return keyOfPath(keyPath) != nullptr;
}

} // namespace sim
