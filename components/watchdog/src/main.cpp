// v_WatchDog.exe: the watchdog the crash filter starts as "v_WatchDog.exe <process id>".
//
// It opens the crash pipe, reads the report until the crashed process closes its end,
// reads the crashed process's module list (the process waits for the watchdog to end, so
// its modules are still there), and writes two files next to itself:
// "crash-<pid>-<yyyymmdd-hhmmss>.txt", the readable report, and ".bin", the bytes exactly
// as received. Exit code 0 when a complete report was written, 2 when an incomplete one
// was, 1 when the pipe could not be opened, 3 when the files could not be written.
#include "CrashReportLayout.h"
#include "CrashReportReader.h"
#include "CrashReportText.h"

#include "platform/win.h"

#include <stdio.h>
#include <string>
#include <vector>

namespace {

// The crashed process created the pipe before starting us; opening it is retried for a
// while in case another instance holds it.
constexpr DWORD kOpenAttempts = 100;
constexpr DWORD kOpenRetryMs = 50;
// More than any report; what a confused sender writes beyond it is counted, not kept.
constexpr size_t kMaxKept = 64 * 1024;

HANDLE openPipe() {
    std::u16string name = text::widen(crashreport::kPipeName);
    for (DWORD attempt = 0; attempt < kOpenAttempts; ++attempt) {
        HANDLE pipe = CreateFileW(text::w(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE)
            return pipe;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PIPE_BUSY)
            return INVALID_HANDLE_VALUE;
        Sleep(kOpenRetryMs);
    }
    return INVALID_HANDLE_VALUE;
}

// Everything the crashed process writes, until it closes the pipe.
std::vector<uint8_t> readReport(HANDLE pipe, size_t& total) {
    std::vector<uint8_t> kept;
    total = 0;
    uint8_t buffer[512];
    DWORD read = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        total += read;
        size_t room = kMaxKept - kept.size();
        kept.insert(kept.end(), buffer, buffer + (read < room ? read : room));
    }
    return kept;
}

bool parseProcessId(const char* text, uint32_t& id) {
    if (!text || !*text)
        return false;
    uint64_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || value > 0xFFFFFFFFull / 10)
            return false;
        value = value * 10 + static_cast<uint64_t>(*p - '0');
    }
    if (value > 0xFFFFFFFFull)
        return false;
    id = static_cast<uint32_t>(value);
    return true;
}

bool readModules(uint32_t processId, std::vector<watchdog::ModuleInfo>& modules) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    MODULEENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot, &entry); more;
         more = Module32NextW(snapshot, &entry)) {
        watchdog::ModuleInfo module;
        module.base = reinterpret_cast<uintptr_t>(entry.modBaseAddr);
        module.size = entry.modBaseSize;
        entry.szModule[MAX_MODULE_NAME32] = 0;
        entry.szExePath[MAX_PATH - 1] = 0;
        module.name = text::narrow(entry.szModule);
        module.path = text::narrow(entry.szExePath);
        modules.push_back(module);
    }
    CloseHandle(snapshot);
    return true;
}

// The folder of this program, with its trailing separator.
std::u16string ownFolder() {
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return u"";
    std::u16string folder(reinterpret_cast<const char16_t*>(path), length);
    size_t cut = folder.find_last_of(u"\\/");
    return cut == std::u16string::npos ? u"" : folder.substr(0, cut + 1);
}

bool writeFile(const std::u16string& path, const void* data, size_t size) {
    HANDLE file = CreateFileW(text::w(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
    return ok && written == size;
}

} // namespace

int main(int argc, char** argv) {
    watchdog::ReportSurroundings around;
    for (int i = 0; i < argc; ++i)
        around.commandLine += (i ? " " : "") + std::string(argv[i]);
    around.hasProcessId = argc > 1 && parseProcessId(argv[1], around.processId);

    HANDLE pipe = openPipe();
    if (pipe == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "v_WatchDog: cannot open the crash pipe (error %u)\n",
                static_cast<unsigned>(GetLastError()));
        return 1;
    }
    size_t total = 0;
    std::vector<uint8_t> bytes = readReport(pipe, total);
    CloseHandle(pipe);

    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
    char readable[40];
    snprintf(readable, sizeof readable, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
             now.wDay, now.wHour, now.wMinute, now.wSecond);
    around.time = readable;
    if (around.hasProcessId)
        around.modulesKnown = readModules(around.processId, around.modules);

    watchdog::CrashReport report = watchdog::readCrashReport(bytes.data(), bytes.size());
    report.received = total;
    std::string textReport = watchdog::formatCrashReport(report, around);

    char baseName[64];
    snprintf(baseName, sizeof baseName, "crash-%u-%s", around.processId, stamp);
    std::u16string base = ownFolder() + text::widen(baseName);
    bool written = writeFile(base + u".bin", bytes.data(), bytes.size()) &&
                   writeFile(base + u".txt", textReport.data(), textReport.size());
    if (!written) {
        fprintf(stderr, "v_WatchDog: cannot write %s.txt\n", text::narrow(base).c_str());
        return 3;
    }
    printf("v_WatchDog: crash report %s.txt\n", text::narrow(base).c_str());
    return report.complete() ? 0 : 2;
}
