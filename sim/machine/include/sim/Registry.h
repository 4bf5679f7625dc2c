// The machine's registry: keys, values and the paths that name them.
#pragma once

#include "sim/Export.h"
#include "sim/HandleTable.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

/// One registry value: its REG_* type and its bytes exactly as stored.
struct RegistryValue {
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

/// A key of the tree (opaque outside the registry).
struct RegistryNode;
using RegistryKey = std::shared_ptr<RegistryNode>;

/// The registry tree, rooted at "\Registry" as the native API sees it.
///
/// Key and value names compare case-insensitively and keep the spelling they were created
/// with. Subkeys enumerate in case-insensitive name order, values in creation order, as
/// Windows does. Paths given to the seeding functions may start with a predefined key's
/// name ("HKLM\...", "HKEY_LOCAL_MACHINE\...", "HKCU\...", "HKEY_CURRENT_USER\...",
/// "HKEY_USERS\...", "HKEY_CLASSES_ROOT\...") or be native ("\Registry\Machine\...").
/// HKEY_CURRENT_USER is "\Registry\User\<kCurrentUserSid>", HKEY_CLASSES_ROOT is
/// "\Registry\Machine\Software\Classes". Keys stay valid while referenced, even if removed.
class SIM_API Registry {
public:
    /// The security identifier under "\Registry\User" that HKEY_CURRENT_USER names.
    static constexpr const char16_t* kCurrentUserSid = u"S-1-5-21-1004336348-1177238915-1001";

    Registry();

    // ---- Seeding and inspection by tests and scenarios (full paths) ----

    /// Sets a REG_SZ value (stored with its terminator), creating the key.
    bool setString(std::u16string_view keyPath, std::u16string_view name,
                   std::u16string_view value);
    /// Sets a REG_DWORD value, creating the key.
    bool setDword(std::u16string_view keyPath, std::u16string_view name, uint32_t value);
    /// Sets a REG_BINARY value, creating the key.
    bool setBinary(std::u16string_view keyPath, std::u16string_view name, const void* data,
                   size_t size);
    /// Sets a REG_MULTI_SZ value (each string terminated, then a final terminator).
    bool setMultiString(std::u16string_view keyPath, std::u16string_view name,
                        const std::vector<std::u16string>& strings);
    /// Sets a value of any type from raw bytes, creating the key.
    bool setValue(std::u16string_view keyPath, std::u16string_view name, RegistryValue value);
    /// Creates a key and its parents; false for a malformed path.
    bool createKey(std::u16string_view keyPath);
    /// Removes a key with everything below it; false when it does not exist.
    bool removeKey(std::u16string_view keyPath);
    /// Removes a value; false when it does not exist.
    bool removeValue(std::u16string_view keyPath, std::u16string_view name);
    /// Reads a value; false when the key or value does not exist.
    bool getValue(std::u16string_view keyPath, std::u16string_view name, RegistryValue& out) const;
    /// True when the key exists.
    bool keyExists(std::u16string_view keyPath) const;

    /// Imports a registry file in the text form regedit writes ("Windows Registry Editor
    /// Version 5.00" or "REGEDIT4"): [key] lines, "name"="text", "name"=dword:hex,
    /// "name"=hex:.., hex(7):.. and hex(2):.., @ for the default value, line continuations
    /// with '\', "[-key]" and "name"=- removals. Returns false (and imports nothing more)
    /// at the first malformed line; `errorLine` then holds its number.
    bool importText(std::string_view text, size_t* errorLine = nullptr);

    // ---- Tree access for advapi32.dll and ntdll.dll ----

    /// "\Registry".
    RegistryKey rootKey() const { return m_root; }
    /// The key a full path names (see the class comment), or null.
    RegistryKey keyOfPath(std::u16string_view keyPath) const;
    /// The subkey at `relativePath` ('\'-separated, no leading '\') below `from`, or null.
    RegistryKey open(const RegistryKey& from, std::u16string_view relativePath) const;
    /// As open(), creating missing keys; `created` tells whether the last one was new.
    RegistryKey create(const RegistryKey& from, std::u16string_view relativePath, bool& created);
    /// Reads a value of a key; the empty name is the key's default value.
    bool queryValue(const RegistryKey& key, std::u16string_view name, RegistryValue& out) const;
    /// Sets a value of a key.
    void setValue(const RegistryKey& key, std::u16string_view name, RegistryValue value);
    /// Removes a value of a key; false when missing.
    bool deleteValue(const RegistryKey& key, std::u16string_view name);
    /// Removes a subkey that has no subkeys of its own; false when missing or not empty.
    bool deleteLeafKey(const RegistryKey& key, std::u16string_view name);
    /// The name of the `index`th subkey in enumeration order; false past the end.
    bool subkeyName(const RegistryKey& key, size_t index, std::u16string& name) const;
    /// The `index`th value (creation order); false past the end.
    bool valueAt(const RegistryKey& key, size_t index, std::u16string& name,
                 RegistryValue& value) const;
    /// Counts and longest names, as RegQueryInfoKeyW reports them.
    void info(const RegistryKey& key, size_t& subkeys, size_t& longestSubkey, size_t& values,
              size_t& longestValueName, size_t& longestData) const;
    /// The key's own name (its last path component).
    std::u16string nameOf(const RegistryKey& key) const;

private:
    RegistryKey openLocked(const RegistryKey& from, std::u16string_view relativePath) const;
    RegistryKey createLocked(const RegistryKey& from, std::u16string_view relativePath,
                             bool& created);

    mutable std::recursive_mutex m_lock;
    RegistryKey m_root;
};

/// The kernel object behind an open key handle. HKEYs of advapi32.dll and native key
/// handles of ntdll.dll are the same handles, as on Windows.
class SIM_API RegistryKeyObject : public KernelObject {
public:
    explicit RegistryKeyObject(RegistryKey key) : m_key(std::move(key)) {}
    ~RegistryKeyObject() override;
    const RegistryKey& key() const { return m_key; }

private:
    RegistryKey m_key;
};

} // namespace sim
