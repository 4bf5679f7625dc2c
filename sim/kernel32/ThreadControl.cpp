// kernel32.dll: thread snapshots, suspension and thread registers over host threads.
//
// SuspendThread sends the thread a signal; its handler publishes the interrupted registers
// (the handler's ucontext) and waits on a futex until ResumeThread releases it. While it
// waits, GetThreadContext reads and SetThreadContext writes that ucontext, and the kernel
// restores the registers from it when the handler returns, so a changed Rip is where the
// thread goes on. As on Windows, SuspendThread returns once the thread has stopped.
//
// Suspending threads is what a patcher does while other threads may hold any lock, heap
// included. So suspension, resumption and the register calls take no lock a running
// thread could hold, allocate nothing and write no journal entries; handles that
// OpenThread gave out are found through a lock-free table of their own.
#include "ThreadControl.h"
#include "ThreadRegisters.h"

#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <linux/futex.h>
#include <memory>
#include <mutex>
#include <signal.h>
#include <string>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

namespace {

const char kModule[] = "kernel32.dll";
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));
constexpr DWORD kFailed = static_cast<DWORD>(-1);
constexpr DWORD kMaximumSuspendCount = 127; // MAXIMUM_SUSPEND_COUNT
constexpr long kStopTimeoutMs = 5000;

int suspendSignal() {
    return SIGRTMIN + 6;
}

pid_t hostThreadId() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

// ---- Futex waits on the stop state (async-signal-safe) -----------------------------------
void futexWait(std::atomic<int>& word, int expected, const timespec* timeout) {
    syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAIT_PRIVATE, expected, timeout,
            nullptr, 0);
}

void futexWake(std::atomic<int>& word) {
    syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr,
            0);
}

/// Waits until `word` leaves `value`; false when `timeoutMs` passed first.
bool waitWhile(std::atomic<int>& word, int value, long timeoutMs) {
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (word.load() == value) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed >= timeoutMs)
            return false;
        timespec slice = {0, 10 * 1000 * 1000};
        futexWait(word, value, &slice);
    }
    return true;
}

// ---- Stopped threads ---------------------------------------------------------------------
enum StopState : int { kIdle, kRequested, kStopped, kReleased };

/// One suspended (or being suspended) thread.
struct Stop {
    std::atomic<pid_t> tid{0}; // 0: a free slot
    std::atomic<int> state{kIdle};
    std::atomic<ucontext_t*> context{nullptr};
    DWORD count = 0; // guarded by s_control
};

constexpr size_t kStopSlots = 256;
Stop s_stops[kStopSlots];
// Serialises the suspending side; a stopped thread's handler never takes it.
std::mutex s_control;
std::once_flag s_handlerInstalled;

Stop* stopOf(pid_t tid) {
    for (Stop& stop : s_stops)
        if (stop.tid.load() == tid)
            return &stop;
    return nullptr;
}

void onSuspendSignal(int, siginfo_t*, void* ucontext) {
    int savedErrno = errno;
    pid_t self = hostThreadId();
    Stop* stop = stopOf(self);
    int expected = kRequested;
    if (stop) {
        stop->context.store(static_cast<ucontext_t*>(ucontext));
        if (stop->state.compare_exchange_strong(expected, kStopped)) {
            futexWake(stop->state);
            while (stop->state.load() == kStopped)
                futexWait(stop->state, kStopped, nullptr);
            stop->context.store(nullptr);
            stop->state.store(kIdle);
            futexWake(stop->state);
        }
    }
    errno = savedErrno;
}

void installHandler() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = onSuspendSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigfillset(&action.sa_mask); // nothing else runs on a stopped thread
    sigaction(suspendSignal(), &action, nullptr);
}

// ---- Handles of OpenThread ---------------------------------------------------------------
/// A thread opened by id.
class ThreadAccess : public sim::KernelObject {
public:
    explicit ThreadAccess(pid_t tid) : m_tid(tid) {}
    ~ThreadAccess() override;
    pid_t tid() const { return m_tid; }
    void setHandle(HANDLE handle) { m_handle = handle; }

private:
    pid_t m_tid;
    HANDLE m_handle = nullptr;
};

struct AccessEntry {
    std::atomic<uintptr_t> handle{0};
    std::atomic<pid_t> tid{0};
};
constexpr size_t kAccessSlots = 1024;
AccessEntry s_access[kAccessSlots];

void registerAccess(HANDLE handle, pid_t tid) {
    for (AccessEntry& entry : s_access) {
        uintptr_t free = 0;
        if (entry.handle.load() == 0 && entry.tid.load() == 0 &&
            entry.handle.compare_exchange_strong(free, reinterpret_cast<uintptr_t>(handle))) {
            entry.tid.store(tid);
            return;
        }
    }
    // Full: the handle is still found through the machine's handle table.
}

ThreadAccess::~ThreadAccess() {
    for (AccessEntry& entry : s_access)
        if (entry.handle.load() == reinterpret_cast<uintptr_t>(m_handle)) {
            entry.handle.store(0);
            entry.tid.store(0);
        }
}

enum class HandleKind { None, Current, Opened, Created };

/// The host thread behind a thread handle, without a lock for OpenThread's handles.
HandleKind threadOf(HANDLE handle, pid_t& tid) {
    if (handle == kCurrentThread) {
        tid = hostThreadId();
        return HandleKind::Current;
    }
    for (AccessEntry& entry : s_access)
        if (entry.handle.load() == reinterpret_cast<uintptr_t>(handle)) {
            tid = entry.tid.load();
            if (tid != 0)
                return HandleKind::Opened;
        }
    if (auto access = sim::Machine::instance().handles().getAs<ThreadAccess>(handle)) {
        tid = access->tid();
        return HandleKind::Opened;
    }
    DWORD created = 0;
    if (sim::createdThreadId(handle, created)) {
        tid = static_cast<pid_t>(created);
        return HandleKind::Created;
    }
    return HandleKind::None;
}

// ---- Suspension --------------------------------------------------------------------------
DWORD suspend(pid_t tid) {
    std::call_once(s_handlerInstalled, installHandler);
    std::unique_lock<std::mutex> guard(s_control);
    if (Stop* stop = stopOf(tid)) {
        if (stop->count >= kMaximumSuspendCount) {
            sim::setLastError(ERROR_SIGNAL_REFUSED);
            return kFailed;
        }
        return stop->count++;
    }
    Stop* stop = stopOf(0);
    if (!stop) {
        sim::setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return kFailed;
    }
    stop->state.store(kRequested);
    stop->count = 1;
    stop->tid.store(tid);
    if (tid == hostThreadId()) {
        // A thread suspending itself stops right here, until another resumes it.
        guard.unlock();
        syscall(SYS_tgkill, getpid(), tid, suspendSignal());
        return 0;
    }
    if (syscall(SYS_tgkill, getpid(), tid, suspendSignal()) != 0) {
        stop->tid.store(0);
        stop->state.store(kIdle);
        stop->count = 0;
        sim::setLastError(ERROR_INVALID_HANDLE); // the thread has ended
        return kFailed;
    }
    if (!waitWhile(stop->state, kRequested, kStopTimeoutMs)) {
        // The thread keeps the signal blocked. Withdraw the request, unless it stopped
        // just now; a late signal then finds no request and returns at once.
        int expected = kRequested;
        if (stop->state.compare_exchange_strong(expected, kIdle)) {
            stop->tid.store(0);
            stop->count = 0;
            sim::setLastError(ERROR_GEN_FAILURE);
            return kFailed;
        }
    }
    return 0;
}

DWORD resume(pid_t tid) {
    std::lock_guard<std::mutex> guard(s_control);
    Stop* stop = stopOf(tid);
    if (!stop)
        return 0;
    DWORD previous = stop->count;
    if (--stop->count > 0)
        return previous;
    stop->state.store(kReleased);
    futexWake(stop->state);
    waitWhile(stop->state, kReleased, kStopTimeoutMs);
    stop->tid.store(0);
    return previous;
}

/// The stopped registers of a thread; null when it is not suspended.
ucontext_t* stoppedContext(pid_t tid) {
    Stop* stop = stopOf(tid);
    return stop && stop->state.load() == kStopped ? stop->context.load() : nullptr;
}

} // namespace

namespace sim {

bool resumeStoppedThread(HANDLE handle, DWORD& previousCount) {
    pid_t tid = 0;
    HandleKind kind = threadOf(handle, tid);
    if (kind == HandleKind::None)
        return false;
    if (kind == HandleKind::Created) {
        std::lock_guard<std::mutex> guard(s_control);
        if (!stopOf(tid))
            return false; // started suspended: Threads.cpp lets it run
    }
    previousCount = resume(tid);
    return true;
}

} // namespace sim

namespace {

bool hostThreadExists(DWORD tid) {
    std::string path = "/proc/self/task/" + std::to_string(tid);
    return tid != 0 && access(path.c_str(), F_OK) == 0;
}

} // namespace

HANDLE WINAPI OpenThread(DWORD access, BOOL inheritHandle, DWORD threadId) {
    sim::Call call(kModule, "OpenThread");
    call.args("access=0x%x threadId=%u", access, threadId);
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(static_cast<HANDLE>(nullptr));
    }
    if (!hostThreadExists(threadId)) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(static_cast<HANDLE>(nullptr));
    }
    auto thread = std::make_shared<ThreadAccess>(static_cast<pid_t>(threadId));
    HANDLE handle = sim::Machine::instance().handles().add(thread);
    thread->setHandle(handle);
    registerAccess(handle, static_cast<pid_t>(threadId));
    return call.finish(handle);
}

DWORD WINAPI SuspendThread(HANDLE handle) {
    pid_t tid = 0;
    if (threadOf(handle, tid) == HandleKind::None) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return kFailed;
    }
    return suspend(tid);
}

BOOL WINAPI GetThreadContext(HANDLE handle, PCONTEXT context) {
    pid_t tid = 0;
    HandleKind kind = threadOf(handle, tid);
    if (kind == HandleKind::None || !context) {
        sim::setLastError(kind == HandleKind::None ? ERROR_INVALID_HANDLE : ERROR_NOACCESS);
        return FALSE;
    }
    if (tid == hostThreadId()) {
        ucontext_t own;
        getcontext(&own);
        sim::readThreadRegisters(own, *context);
        return TRUE;
    }
    std::lock_guard<std::mutex> guard(s_control);
    ucontext_t* stopped = stoppedContext(tid);
    if (!stopped) {
        // A running thread has no registers to read; suspend it first.
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sim::readThreadRegisters(*stopped, *context);
    return TRUE;
}

BOOL WINAPI SetThreadContext(HANDLE handle, const CONTEXT* context) {
    pid_t tid = 0;
    HandleKind kind = threadOf(handle, tid);
    if (kind == HandleKind::None || !context) {
        sim::setLastError(kind == HandleKind::None ? ERROR_INVALID_HANDLE : ERROR_NOACCESS);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(s_control);
    ucontext_t* stopped = stoppedContext(tid);
    if (!stopped) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sim::writeThreadRegisters(*context, *stopped);
    return TRUE;
}
