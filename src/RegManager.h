// RegManager: readers of the driver's installation key,
// HKEY_LOCAL_MACHINE "SOFTWARE\Quorvex\VessaDriver" (values "InstallDirectory",
// "ConfigFileDirectory").
#pragma once

#include "platform/win.h"

/// Reads string values of the driver's registry key, through the Win32 registry or through
/// the native (ntdll) registry functions.
class RegManager {
public:
    /// Reads value `name` through the Win32 registry into `data`. `size` is the capacity of
    /// `data` in bytes on entry and the byte count read on return. String values are always
    /// returned terminated: one that does not fit with its terminator fails. Failures are
    /// reported (Errors 1112, 1113, 1114) and return false.
    static bool readDriverValue(const WCHAR* name, void* data, DWORD* size);

    /// Reads value `name` through NtOpenKey/NtQueryValueKey of the loaded "ntdll.dll", which
    /// works where the Win32 registry functions must not be called. `size` is the capacity of
    /// `data` in bytes on entry and the data length on return. Writes no log: a missing key or
    /// value, or one that does not fit (with its terminator, for strings), returns false and
    /// leaves `data` untouched.
    static bool readDriverValueNt(const WCHAR* name, void* data, DWORD* size);
};
