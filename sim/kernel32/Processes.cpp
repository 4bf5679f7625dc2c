// kernel32.dll: starting and watching processes.
//
// A started process is a host process. It inherits the machine's root folder
// (VESSA_SIM_ROOT) and module folder (VESSA_MODULE_DIR), so a simulated program it runs
// sees the same drives and pipes. The machine's own environment variables are not passed
// on: the child's machine starts with the defaults.
#include "ExitCode.h"
#include "Waitable.h"

#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <chrono>
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const char kModule[] = "kernel32.dll";

/// A started process: signalled when it has ended. Waits poll the host's child status.
class ProcessObject : public sim::Waitable {
public:
    explicit ProcessObject(pid_t pid) : m_pid(pid) {}

    bool wait(uint32_t milliseconds) override {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            if (poll())
                return true;
            if (milliseconds != 0xFFFFFFFFu && std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    /// True once the process has ended (reaping it the first time).
    bool poll() {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_signalled)
            return true;
        int status = 0;
        pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done != m_pid)
            return false;
        if (!m_terminated)
            m_exitCode = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status))
                                           : 0xC0000000u | static_cast<DWORD>(WTERMSIG(status));
        m_signalled = true;
        return true;
    }

    DWORD exitCode() {
        if (!poll())
            return STILL_ACTIVE;
        std::lock_guard<std::mutex> lock(m_lock);
        return m_exitCode;
    }

    bool terminate(DWORD exitCode) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_signalled)
            return false;
        m_terminated = true;
        m_exitCode = exitCode;
        return ::kill(m_pid, SIGKILL) == 0;
    }

    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid;
    DWORD m_exitCode = STILL_ACTIVE;
    bool m_terminated = false;
};

/// The primary thread of a started process: waiting for it waits for the process.
class ProcessThreadObject : public sim::Waitable {
public:
    explicit ProcessThreadObject(std::shared_ptr<ProcessObject> process)
        : m_process(std::move(process)) {}
    bool wait(uint32_t milliseconds) override { return m_process->wait(milliseconds); }

private:
    std::shared_ptr<ProcessObject> m_process;
};

/// Splits a command line as the C runtime does (CommandLineToArgvW's rules): blanks separate
/// arguments outside quotes; 2n backslashes before a quote are n backslashes and the quote
/// opens or closes, 2n+1 are n backslashes and a literal quote. The program name (the first
/// argument) ends at the next quote or blank, backslashes taken literally.
std::vector<std::u16string> splitCommandLine(const std::u16string& line) {
    std::vector<std::u16string> args;
    size_t i = 0;
    std::u16string program;
    if (i < line.size() && line[i] == u'"') {
        size_t close = line.find(u'"', i + 1);
        program = line.substr(i + 1,
                              close == std::u16string::npos ? std::u16string::npos : close - i - 1);
        i = close == std::u16string::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && line[i] != u' ' && line[i] != u'\t')
            program += line[i++];
    }
    args.push_back(program);
    for (;;) {
        while (i < line.size() && (line[i] == u' ' || line[i] == u'\t'))
            ++i;
        if (i >= line.size())
            break;
        std::u16string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != u' ' && line[i] != u'\t'))) {
            if (line[i] == u'\\') {
                size_t slashes = 0;
                while (i < line.size() && line[i] == u'\\') {
                    ++slashes;
                    ++i;
                }
                if (i < line.size() && line[i] == u'"') {
                    arg.append(slashes / 2, u'\\');
                    if (slashes % 2) {
                        arg += u'"';
                        ++i;
                    }
                } else {
                    arg.append(slashes, u'\\');
                }
            } else if (line[i] == u'"') {
                quoted = !quoted;
                ++i;
            } else {
                arg += line[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

bool isFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The host environment of a child: ours, with the machine's root and module folder.
std::vector<std::string> childEnvironment() {
    sim::Machine& machine = sim::Machine::instance();
    std::vector<std::string> variables;
    for (char** e = environ; e && *e; ++e) {
        std::string entry = *e;
        if (entry.rfind("VESSA_SIM_ROOT=", 0) != 0 && entry.rfind("VESSA_MODULE_DIR=", 0) != 0)
            variables.push_back(entry);
    }
    variables.push_back("VESSA_SIM_ROOT=" + machine.root().hostRoot());
    variables.push_back("VESSA_MODULE_DIR=" + machine.modules().buildDirectory());
    return variables;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

BOOL WINAPI CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine,
                           LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                           DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                           LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation) {
    sim::Call call(kModule, "CreateProcessW");
    std::u16string application = sim::wideOf(applicationName);
    std::u16string line = sim::wideOf(commandLine);
    call.args("application=%s commandLine=%s flags=0x%x", sim::toUtf8(application).c_str(),
              sim::toUtf8(line).c_str(), creationFlags);
    if (call.faulted()) {
        sim::setLastError(static_cast<DWORD>(call.faultStatus()));
        return call.finish(FALSE);
    }
    if (!startupInfo || !processInformation || (application.empty() && line.empty())) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(FALSE);
    }
    std::vector<std::u16string> args = splitCommandLine(line.empty() ? application : line);
    if (application.empty())
        application = args[0];

    sim::RootFolder& root = sim::Machine::instance().root();
    std::string program = root.toHost(application);
    if (!isFile(program) && isFile(root.toHost(application + u".exe")))
        program = root.toHost(application + u".exe");
    if (!isFile(program)) {
        sim::setLastError(ERROR_FILE_NOT_FOUND);
        return call.finish(FALSE);
    }

    std::vector<std::string> argv;
    for (const std::u16string& arg : args)
        argv.push_back(sim::toUtf8(arg));
    std::vector<std::string> envp = childEnvironment();
    std::vector<char*> argvPointers = pointersTo(argv);
    std::vector<char*> envpPointers = pointersTo(envp);
    pid_t pid = 0;
    int error = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argvPointers.data(),
                            envpPointers.data());
    if (error != 0) {
        sim::setLastError(error == ENOEXEC  ? ERROR_BAD_EXE_FORMAT
                          : error == EACCES ? ERROR_ACCESS_DENIED
                                            : ERROR_FILE_NOT_FOUND);
        return call.finish(FALSE);
    }
    auto process = std::make_shared<ProcessObject>(pid);
    sim::HandleTable& handles = sim::Machine::instance().handles();
    processInformation->hProcess = handles.add(process);
    processInformation->hThread = handles.add(std::make_shared<ProcessThreadObject>(process));
    processInformation->dwProcessId = static_cast<DWORD>(pid);
    processInformation->dwThreadId = static_cast<DWORD>(pid);
    return call.finish(TRUE);
}

BOOL WINAPI GetExitCodeProcess(HANDLE handle, LPDWORD exitCode) {
    return sim::exitCodeOf<ProcessObject>(handle, exitCode);
}

BOOL WINAPI TerminateProcess(HANDLE handle, UINT exitCode) {
    auto process = sim::Machine::instance().handles().getAs<ProcessObject>(handle);
    if (!process) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!process->terminate(exitCode)) {
        sim::setLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}
