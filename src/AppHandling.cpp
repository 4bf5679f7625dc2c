// AppHandling: process start-up, the per-user folder and files, the loader ini and the
// developer environment switches.
#include "AppHandling.h"

#include "CrashHandoff.h"
#include "GpuEnumerator.h"
#include "OpenAdapter.h"
#include "RegManager.h"
#include "Report.h"

namespace {

const WCHAR kLoaderIniName[] = WSTR("vessaloader.ini");
const WCHAR kInteropLibraryName[] = WSTR("vessaInterop.dll");

// The loader ini's values are short switches; these are the buffer sizes the ini was
// always read with, so longer values are cut the same way everywhere.
constexpr DWORD kSwitchChars = 10;
// At most this many trailing path components name an application entry of the loader ini.
constexpr int kMaxAppNameLevels = 4;

bool s_processInitialized = false;

// The per-user folder, computed once. It is written before any thread but the loader's
// can run system code, so it needs no lock.
WCHAR s_userFolder[kAppPathChars] = {};
bool s_userFolderComputed = false;

// Formats "<first>\<second>" into `buffer` (capacity `capacity` characters). False, with
// the buffer holding as much as fitted, when the result is too long.
bool joinPath(WCHAR* buffer, size_t capacity, const WCHAR* first, const WCHAR* second) {
    if (!text::wcopy(buffer, capacity, first))
        return false;
    size_t used = text::wlen(buffer);
    const WCHAR separator[] = WSTR("\\");
    if (!text::wcopy(buffer + used, capacity - used, separator))
        return false;
    used += 1;
    return text::wcopy(buffer + used, capacity - used, second);
}

// Reads a loader ini value into `buffer` of `capacity` characters.
void readLoaderIni(const WCHAR* iniPath, const WCHAR* section, const WCHAR* key,
                   const WCHAR* defaultValue, WCHAR* buffer, DWORD capacity) {
    GetPrivateProfileStringW(section, key, defaultValue, buffer, capacity, iniPath);
}

// The loader ini's path into `buffer` (kAppPathChars); false when there is none.
bool findLoaderIni(WCHAR* buffer) {
    DWORD size = kAppPathChars;
    return getUserFilePath(kLoaderIniName, buffer, &size);
}

// A base-10 integer as the C library's wcstol reads it: leading blanks, an optional sign,
// digits up to the first other character. Values beyond 32 bits saturate.
long parseDecimal(const WCHAR* text) {
    const WCHAR* p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value < 0x80000000LL)
            value = value * 10 + (*p - '0');
    }
    if (value > 0x7FFFFFFFLL)
        value = negative ? 0x80000000LL : 0x7FFFFFFFLL;
    return static_cast<long>(negative ? -value : value);
}

// True when the narrow environment variable `name` is set and non-empty. A value too long
// for the buffer still counts as set.
bool isEnvironmentSet(const char* name) {
    char value[kAppPathChars];
    size_t required = 0;
    getenv_s(&required, value, sizeof value, name);
    return required > 1;
}

// The start of the tail of `path` after its `level`-th backslash counted from the end, or
// null when the path has fewer backslashes.
const WCHAR* pathTail(const WCHAR* path, int level) {
    size_t length = text::wlen(path);
    int seen = 0;
    for (size_t i = length; i > 0; --i) {
        if (path[i - 1] == '\\' && ++seen == level)
            return path + i;
    }
    return nullptr;
}

} // namespace

bool initProcess() {
    if (s_processInitialized)
        return true;
    OpenAdapter::setGpuRoles(1, 0);
    if (isCrashHandlerActive())
        armCrashHandoff();
    s_processInitialized = true;
    return true;
}

bool isProcessInitialized() {
    return s_processInitialized;
}

bool getUserFolder(WCHAR* buffer, DWORD* size) {
    if (!buffer || !size)
        return false;
    if (!s_userFolderComputed) {
        WCHAR profile[kAppPathChars] = {};
        size_t required = 0;
        int result = _wgetenv_s(&required, profile, kAppPathChars, WSTR("USERPROFILE"));
        if (required > kAppPathChars) {
            VESSA_REPORT(Warning, 0, "required <= MAX_PATH",
                         "USERPROFILE is longer than %u characters; no per-user folder",
                         static_cast<unsigned>(kAppPathChars - 1));
            return false;
        }
        if (result != 0 || profile[0] == 0)
            return false;
        if (!joinPath(s_userFolder, kAppPathChars, profile, WSTR("Quorvex"))) {
            VESSA_REPORT(Warning, 0, "folder length < MAX_PATH",
                         "the per-user folder under USERPROFILE is longer than %u characters",
                         static_cast<unsigned>(kAppPathChars - 1));
            s_userFolder[0] = 0;
            return false;
        }
        s_userFolderComputed = true;
    }
    if (!text::wcopy(buffer, *size, s_userFolder))
        return false;
    *size = static_cast<DWORD>(text::wlen(buffer));
    return true;
}

bool getUserFilePath(const WCHAR* fileName, WCHAR* buffer, DWORD* size) {
    if (!fileName || !buffer || !size)
        return false;
    WCHAR folder[kAppPathChars];
    DWORD folderSize = kAppPathChars;
    if (!getUserFolder(folder, &folderSize))
        return false;
    if (!joinPath(buffer, *size, folder, fileName))
        return false;
    if (!PathFileExistsW(buffer))
        return false;
    *size = static_cast<DWORD>(text::wlen(buffer));
    return true;
}

int getAppInitMode() {
    if (isEnvironmentSet("RELEASE_APPINIT"))
        return 2;
    if (isEnvironmentSet("DEBUG_APPINIT"))
        return 1;
    return 0;
}

bool isCrashHandlerActive() {
    WCHAR iniPath[kAppPathChars];
    if (!findLoaderIni(iniPath))
        return false;
    WCHAR value[kAppPathChars];
    readLoaderIni(iniPath, WSTR("GENERAL"), WSTR("CRASH_HANDLER_ACTIVE"), WSTR("0"), value,
                  kAppPathChars);
    return value[0] == '1';
}

const WCHAR* getMultiLevelAppName(const WCHAR* modulePath) {
    if (!modulePath)
        return nullptr;
    WCHAR iniPath[kAppPathChars];
    if (!findLoaderIni(iniPath))
        return nullptr;

    const WCHAR* name = nullptr;
    unsigned long mask = 0;
    for (int level = 1; level <= kMaxAppNameLevels; ++level) {
        const WCHAR* section = pathTail(modulePath, level);
        if (!section)
            break;
        WCHAR active[kSwitchChars];
        WCHAR va[kSwitchChars];
        readLoaderIni(iniPath, section, WSTR("ACTIVE"), WSTR("0"), active, kSwitchChars);
        readLoaderIni(iniPath, section, WSTR("VA"), WSTR("0"), va, kSwitchChars);
        if (active[0] != '0') {
            // A longer active entry is more specific and wins.
            name = section;
            mask = static_cast<unsigned long>(parseDecimal(va)) & 0xFFFFFFFFul;
        }
    }
    if (!name)
        return nullptr;

    int code = GpuEnumerator::getInstance()->getGpuConfiguration();
    if (code < 0 || code >= 32 || !((mask >> code) & 1u))
        return nullptr;
    return name;
}

bool getDllDirectory(const WCHAR* defaultDir, WCHAR* buffer) {
    if (!buffer)
        return false;
    switch (getAppInitMode()) {
    case 2:
        return text::wcopy(buffer, kAppPathChars, WSTR("RELEASE_ROOT64"));
    case 1:
        return text::wcopy(buffer, kAppPathChars, WSTR("DEBUG_ROOT64"));
    default: {
        WCHAR iniPath[kAppPathChars];
        if (!findLoaderIni(iniPath))
            return false;
        readLoaderIni(iniPath, WSTR("Driver"), WSTR("DLL_DIR"), defaultDir ? defaultDir : WSTR(""),
                      buffer, kAppPathChars);
        return true;
    }
    }
}

bool getInteropLibraryPath(const WCHAR* name, WCHAR* buffer) {
    if (!buffer)
        return false;
    WCHAR installDir[kAppPathChars] = {};
    DWORD size = sizeof installDir;
    if (!RegManager::readDriverValueNt(WSTR("InstallDirectory"), installDir, &size))
        installDir[0] = 0;
    WCHAR directory[kAppPathChars];
    if (!getDllDirectory(installDir, directory))
        return false;
    // With neither an installation directory nor DLL_DIR, the path would name the library
    // in the root of the current drive: no library is better than a stray one.
    if (directory[0] == 0) {
        VESSA_REPORT(Warning, 0, "directory[0] != 0", "no directory for the interop library");
        return false;
    }
    if (!joinPath(buffer, kAppPathChars, directory, name ? name : kInteropLibraryName)) {
        VESSA_REPORT(Warning, 0, "path length < MAX_PATH",
                     "the interop library path is longer than %u characters",
                     static_cast<unsigned>(kAppPathChars - 1));
        return false;
    }
    return true;
}
