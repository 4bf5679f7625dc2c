// kernel32.dll: snapshots of a process (CreateToolhelp32Snapshot): its modules
// (Module32FirstW, Module32NextW) and its threads (Thread32First, Thread32Next).
//
// A process's threads are the host threads of this process (/proc/self/task): the
// simulation lists only its own process's threads, and callers filter by owner anyway.
//
// A process's modules are the files its host process has mapped (from /proc/<pid>/maps):
// the executable, the simulated system modules and every library. A module's base is the
// start of its first mapping, its size reaches to the end of its last one, and its path is
// the Windows path of the file (inside the root folder, else Z:\ of the host).
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <dirent.h>
#include <fstream>
#include <inttypes.h>
#include <map>
#include <mutex>
#include <sstream>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <vector>

namespace {

const char kModule[] = "kernel32.dll";

struct ModuleRange {
    uintptr_t base = 0;
    uintptr_t end = 0;
};

class SnapshotObject : public sim::KernelObject {
public:
    std::vector<MODULEENTRY32W> m_modules;
    size_t m_next = 0;
    std::mutex m_threadLock;
    std::vector<DWORD> m_threads;
    size_t m_nextThread = 0;
};

std::vector<DWORD> hostThreads() {
    std::vector<DWORD> ids;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks))
            if (entry->d_name[0] != '.')
                ids.push_back(static_cast<DWORD>(strtoul(entry->d_name, nullptr, 10)));
        closedir(tasks);
    }
    return ids;
}

BOOL nextThread(HANDLE snapshot, LPTHREADENTRY32 entry, bool restart) {
    auto object = sim::Machine::instance().handles().getAs<SnapshotObject>(snapshot);
    if (!object) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!entry || entry->dwSize < sizeof(THREADENTRY32)) {
        sim::setLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(object->m_threadLock);
    if (restart)
        object->m_nextThread = 0;
    if (object->m_nextThread >= object->m_threads.size()) {
        sim::setLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    entry->cntUsage = 0;
    entry->th32ThreadID = object->m_threads[object->m_nextThread++];
    entry->th32OwnerProcessID = static_cast<DWORD>(getpid());
    entry->tpBasePri = 8; // normal priority
    entry->tpDeltaPri = 0;
    entry->dwFlags = 0;
    return TRUE;
}

void copyWide(const std::u16string& from, WCHAR* to, size_t capacity) {
    size_t n = from.size() < capacity - 1 ? from.size() : capacity - 1;
    memcpy(to, from.data(), n * sizeof(WCHAR));
    to[n] = 0;
}

// The mapped files of a host process, in the order of their first mapping.
bool readModules(pid_t pid, std::vector<MODULEENTRY32W>& modules) {
    char mapsPath[64];
    snprintf(mapsPath, sizeof mapsPath, "/proc/%d/maps", static_cast<int>(pid));
    std::ifstream maps(mapsPath);
    if (!maps)
        return false;
    std::vector<std::string> order;
    std::map<std::string, ModuleRange> ranges;
    std::string line;
    while (std::getline(maps, line)) {
        uintptr_t start = 0;
        uintptr_t end = 0;
        int pathAt = -1;
        if (sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR " %*s %*s %*s %*s %n", &start, &end,
                   &pathAt) < 2 ||
            pathAt < 0 || line.c_str()[pathAt] != '/')
            continue;
        std::string path = line.substr(static_cast<size_t>(pathAt));
        if (path.size() > 10 && path.compare(path.size() - 10, 10, " (deleted)") == 0)
            path.resize(path.size() - 10);
        auto found = ranges.find(path);
        if (found == ranges.end()) {
            order.push_back(path);
            ranges[path] = {start, end};
        } else {
            found->second.base = std::min(found->second.base, start);
            found->second.end = std::max(found->second.end, end);
        }
    }
    sim::RootFolder& root = sim::Machine::instance().root();
    for (const std::string& path : order) {
        const ModuleRange& range = ranges[path];
        MODULEENTRY32W entry;
        memset(&entry, 0, sizeof entry);
        entry.dwSize = sizeof entry;
        entry.th32ModuleID = 1;
        entry.th32ProcessID = static_cast<DWORD>(pid);
        entry.GlblcntUsage = 0xFFFF;
        entry.ProccntUsage = 0xFFFF;
        entry.modBaseAddr = reinterpret_cast<BYTE*>(range.base);
        entry.modBaseSize = static_cast<DWORD>(range.end - range.base);
        entry.hModule = reinterpret_cast<HMODULE>(range.base);
        std::u16string windowsPath = root.toWindows(path);
        size_t slash = path.rfind('/');
        copyWide(sim::fromUtf8(path.substr(slash + 1)), entry.szModule, MAX_MODULE_NAME32 + 1);
        copyWide(windowsPath, entry.szExePath, MAX_PATH);
        modules.push_back(entry);
    }
    return true;
}

BOOL nextModule(HANDLE snapshot, LPMODULEENTRY32W entry, bool first) {
    auto object = sim::Machine::instance().handles().getAs<SnapshotObject>(snapshot);
    if (!object) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!entry || entry->dwSize < sizeof(MODULEENTRY32W)) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (first)
        object->m_next = 0;
    if (object->m_next >= object->m_modules.size()) {
        sim::setLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *entry = object->m_modules[object->m_next++];
    return TRUE;
}

} // namespace

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
    sim::Call call(kModule, "CreateToolhelp32Snapshot");
    call.args("flags=0x%x process=%u", flags, processId);
    if (call.faulted()) {
        sim::setLastError(static_cast<DWORD>(call.faultStatus()));
        return call.finish(INVALID_HANDLE_VALUE);
    }
    auto snapshot = std::make_shared<SnapshotObject>();
    pid_t pid = processId ? static_cast<pid_t>(processId) : getpid();
    if ((flags & (TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32)) &&
        !readModules(pid, snapshot->m_modules)) {
        sim::setLastError(ERROR_INVALID_PARAMETER); // no such process
        return call.finish(INVALID_HANDLE_VALUE);
    }
    if (flags & TH32CS_SNAPTHREAD)
        snapshot->m_threads = hostThreads();
    return call.finish(sim::Machine::instance().handles().add(snapshot));
}

BOOL WINAPI Module32FirstW(HANDLE snapshot, LPMODULEENTRY32W entry) {
    return nextModule(snapshot, entry, true);
}

BOOL WINAPI Module32NextW(HANDLE snapshot, LPMODULEENTRY32W entry) {
    return nextModule(snapshot, entry, false);
}

BOOL WINAPI Thread32First(HANDLE snapshot, LPTHREADENTRY32 entry) {
    return nextThread(snapshot, entry, true);
}

BOOL WINAPI Thread32Next(HANDLE snapshot, LPTHREADENTRY32 entry) {
    return nextThread(snapshot, entry, false);
}
