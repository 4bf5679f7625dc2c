// kernel32.dll: folders, file attributes and the file-system search, inside the machine's
// root folder.
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <algorithm>
#include <dirent.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kModule[] = "kernel32.dll";

bool statOf(const std::string& host, struct stat& st) {
    return !host.empty() && ::stat(host.c_str(), &st) == 0;
}

std::string parentOf(const std::string& host) {
    size_t slash = host.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? "/" : host.substr(0, slash);
}

bool isDirectory(const std::string& host) {
    struct stat st;
    return statOf(host, st) && S_ISDIR(st.st_mode);
}

// The error for a path that does not exist: its folder missing or only the last component.
DWORD missingError(const std::string& host) {
    return host.empty() || !isDirectory(parentOf(host)) ? ERROR_PATH_NOT_FOUND
                                                        : ERROR_FILE_NOT_FOUND;
}

DWORD attributesOf(const struct stat& st) {
    DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR))
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

FILETIME fileTimeOf(const timespec& t) {
    // 100 ns intervals since 1601-01-01.
    uint64_t ticks = (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull +
                     static_cast<uint64_t>(t.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// Windows wildcard match, ASCII case-insensitive: '*' any run, '?' one character.
bool matches(std::u16string_view pattern, std::u16string_view name) {
    size_t p = 0, n = 0, star = std::u16string_view::npos, mark = 0;
    auto same = [](char16_t a, char16_t b) {
        return sim::equalNoCase(std::u16string_view(&a, 1), std::u16string_view(&b, 1));
    };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || same(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            mark = n;
        } else if (star != std::u16string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

/// An open search: the matching entries, handed out one by one.
class FindObject : public sim::KernelObject {
public:
    std::vector<WIN32_FIND_DATAW> entries;
    size_t next = 0;
};

WIN32_FIND_DATAW findDataOf(const std::string& hostPath, const std::u16string& name) {
    WIN32_FIND_DATAW data = {};
    struct stat st;
    if (statOf(hostPath, st)) {
        data.dwFileAttributes = attributesOf(st);
        data.ftCreationTime = fileTimeOf(st.st_ctim);
        data.ftLastAccessTime = fileTimeOf(st.st_atim);
        data.ftLastWriteTime = fileTimeOf(st.st_mtim);
        if (!S_ISDIR(st.st_mode)) {
            data.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
            data.nFileSizeLow = static_cast<DWORD>(st.st_size);
        }
    }
    size_t n = std::min<size_t>(name.size(), MAX_PATH - 1);
    memcpy(data.cFileName, name.data(), n * sizeof(WCHAR));
    data.cFileName[n] = 0;
    return data;
}

} // namespace

BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    sim::Call call(kModule, "CreateDirectoryW");
    std::u16string windowsPath = sim::wideOf(path);
    call.args("path=%s", sim::toUtf8(windowsPath).c_str());
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(FALSE);
    }
    std::string host = sim::Machine::instance().root().toHost(windowsPath);
    struct stat st;
    if (statOf(host, st)) {
        sim::setLastError(ERROR_ALREADY_EXISTS);
        return call.finish(FALSE);
    }
    if (host.empty() || ::mkdir(host.c_str(), 0777) != 0) {
        sim::setLastError(ERROR_PATH_NOT_FOUND);
        return call.finish(FALSE);
    }
    return call.finish(TRUE);
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR path) {
    std::string host = sim::Machine::instance().root().toHost(sim::wideOf(path));
    if (!isDirectory(host)) {
        sim::setLastError(missingError(host));
        return FALSE;
    }
    if (::rmdir(host.c_str()) != 0) {
        sim::setLastError(ERROR_ACCESS_DENIED); // not empty
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR path) {
    std::string host = sim::Machine::instance().root().toHost(sim::wideOf(path));
    struct stat st;
    if (!statOf(host, st)) {
        sim::setLastError(missingError(host));
        return FALSE;
    }
    if (S_ISDIR(st.st_mode) || ::unlink(host.c_str()) != 0) {
        sim::setLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR path) {
    std::string host = sim::Machine::instance().root().toHost(sim::wideOf(path));
    struct stat st;
    if (!statOf(host, st)) {
        sim::setLastError(missingError(host));
        return INVALID_FILE_ATTRIBUTES;
    }
    return attributesOf(st);
}

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    sim::Call call(kModule, "FindFirstFileW");
    std::u16string windowsPattern = sim::wideOf(pattern);
    call.args("pattern=%s", sim::toUtf8(windowsPattern).c_str());
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(INVALID_HANDLE_VALUE);
    }
    if (!pattern || !data) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(INVALID_HANDLE_VALUE);
    }
    size_t slash = windowsPattern.find_last_of(u"\\/");
    std::u16string folder =
        slash == std::u16string::npos ? u"." : windowsPattern.substr(0, slash + 1);
    std::u16string namePattern =
        slash == std::u16string::npos ? windowsPattern : windowsPattern.substr(slash + 1);
    if (namePattern.empty()) {
        sim::setLastError(ERROR_FILE_NOT_FOUND);
        return call.finish(INVALID_HANDLE_VALUE);
    }
    if (namePattern == u"*.*")
        namePattern = u"*"; // matches names without a dot as well, as on Windows

    sim::RootFolder& root = sim::Machine::instance().root();
    std::string hostFolder = root.toHost(folder);
    DIR* dir = hostFolder.empty() ? nullptr : ::opendir(hostFolder.c_str());
    if (!dir) {
        sim::setLastError(ERROR_PATH_NOT_FOUND);
        return call.finish(INVALID_HANDLE_VALUE);
    }
    // A drive's root has no "." and ".." entries; every other folder has.
    std::u16string windowsFolder = root.toWindows(hostFolder);
    bool driveRoot = windowsFolder.size() <= 3;
    std::vector<std::u16string> names;
    while (struct dirent* e = ::readdir(dir)) {
        std::u16string name = sim::fromUtf8(e->d_name);
        if (driveRoot && (name == u"." || name == u".."))
            continue;
        if (matches(namePattern, name))
            names.push_back(name);
    }
    ::closedir(dir);
    // NTFS lists a folder in case-insensitive name order.
    std::sort(names.begin(), names.end(), [](const std::u16string& a, const std::u16string& b) {
        return sim::upperAscii(a) < sim::upperAscii(b);
    });
    if (names.empty()) {
        sim::setLastError(ERROR_FILE_NOT_FOUND);
        return call.finish(INVALID_HANDLE_VALUE);
    }
    auto search = std::make_shared<FindObject>();
    for (const std::u16string& name : names)
        search->entries.push_back(findDataOf(hostFolder + "/" + sim::toUtf8(name), name));
    *data = search->entries[0];
    search->next = 1;
    return call.finish(sim::Machine::instance().handles().add(search));
}

BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
    auto search = sim::Machine::instance().handles().getAs<FindObject>(find);
    if (!search) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!data) {
        sim::setLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (search->next >= search->entries.size()) {
        sim::setLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *data = search->entries[search->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE find) {
    sim::HandleTable& handles = sim::Machine::instance().handles();
    if (!handles.getAs<FindObject>(find) || !handles.close(find)) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
