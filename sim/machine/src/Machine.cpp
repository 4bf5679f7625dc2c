// The machine object and the per-thread last error.
#include "sim/Machine.h"

#include "sim/WideString.h"

#include <stdlib.h>

#ifdef _WIN32
// The Windows test harness hosts the machine core inside a real Windows process.
#include <windows.h>

#include <filesystem>
#include <random>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace sim {

namespace {

thread_local uint32_t t_lastError = 0;

// The root folder: VESSA_SIM_ROOT when the host environment names one, else a fresh
// temporary folder of this process.
std::string makeTemporaryFolder();

RootFolder makeRoot() {
    const char* configured = getenv("VESSA_SIM_ROOT");
    if (configured && *configured)
        return RootFolder(configured, false);
    return RootFolder(makeTemporaryFolder(), true);
}

#ifdef _WIN32
std::string makeTemporaryFolder() {
    std::error_code error;
    std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    if (error)
        temp = ".";
    std::random_device seed;
    for (int attempt = 0;; ++attempt) {
        std::filesystem::path folder =
            temp /
            ("vessa-sim-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(seed()));
        if (std::filesystem::create_directory(folder, error) || attempt == 16)
            return folder.string();
    }
}
#else
std::string makeTemporaryFolder() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vessa-sim-XXXXXX";
    if (!mkdtemp(pattern.data()))
        pattern = "/tmp/vessa-sim-" + std::to_string(getpid());
    return pattern;
}
#endif

} // namespace

Machine& Machine::instance() {
    // Never destroyed: modules, threads and reports may reach the machine during exit.
    static Machine* s_machine = new Machine();
    return *s_machine;
}

Machine::Machine() : m_root(makeRoot()), m_modules(m_root) {
    // The folders every Windows installation has, so files can be placed in them directly.
    m_root.createFolder(u"C:\\Windows\\System32");
    m_root.createFolder(u"C:\\Users\\Player\\AppData\\Local\\Temp");
}

void Machine::setExecutablePath(std::u16string windowsPath) {
    std::string hostDirectory;
    size_t slash = windowsPath.find_last_of(u"\\/");
    if (!windowsPath.empty() && slash != std::u16string::npos)
        hostDirectory = m_root.toHost(windowsPath.substr(0, slash + 1));
    m_modules.setApplicationDirectory(hostDirectory);
    std::lock_guard<std::mutex> guard(m_lock);
    m_executablePath = std::move(windowsPath);
}

std::u16string Machine::executablePath() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_executablePath;
}

uint32_t lastError() {
    return t_lastError;
}

void setLastError(uint32_t error) {
    t_lastError = error;
}

uint32_t currentThreadId() {
#ifdef _WIN32
    return static_cast<uint32_t>(GetCurrentThreadId());
#else
    return static_cast<uint32_t>(syscall(SYS_gettid));
#endif
}

} // namespace sim
