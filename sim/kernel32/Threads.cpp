// kernel32.dll: threads, events and waits.
#include "ExitCode.h"
#include "ThreadControl.h"
#include "Waitable.h"

#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Clock.h"
#include "sim/Machine.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

const char kModule[] = "kernel32.dll";

using sim::Waitable;

/// A thread: signalled when it has run to its end.
class ThreadObject : public Waitable {
public:
    ThreadObject(LPTHREAD_START_ROUTINE start, LPVOID parameter, bool suspended)
        : m_start(start), m_parameter(parameter), m_suspendCount(suspended ? 1 : 0) {}

    void run() {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_id = sim::currentThreadId();
            m_started.notify_all();
            m_started.wait(lock, [this] { return m_suspendCount == 0; });
        }
        DWORD exitCode = m_start(m_parameter);
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_exitCode = exitCode;
        }
        signal(true);
    }

    DWORD waitForId() {
        std::unique_lock<std::mutex> lock(m_lock);
        m_started.wait(lock, [this] { return m_id != 0; });
        return m_id;
    }

    DWORD resume() {
        std::lock_guard<std::mutex> lock(m_lock);
        DWORD previous = m_suspendCount;
        if (m_suspendCount > 0 && --m_suspendCount == 0)
            m_started.notify_all();
        return previous;
    }

    DWORD exitCode() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_exitCode;
    }

private:
    LPTHREAD_START_ROUTINE m_start;
    LPVOID m_parameter;
    DWORD m_suspendCount;
    DWORD m_id = 0;
    DWORD m_exitCode = STILL_ACTIVE;
    std::condition_variable m_started;
};

/// An event, manual- or auto-reset.
class EventObject : public Waitable {
public:
    EventObject(bool manualReset, bool initialState) {
        m_autoReset = !manualReset;
        m_signalled = initialState;
    }
};

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

} // namespace

HANDLE WINAPI CreateThread(void* security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId) {
    sim::Call call(kModule, "CreateThread");
    call.args("start=%p parameter=%p flags=0x%x", reinterpret_cast<void*>(start), parameter, flags);
    if (call.faulted()) {
        sim::setLastError(static_cast<uint32_t>(call.faultStatus()));
        return call.finish(static_cast<HANDLE>(nullptr));
    }
    if (!start) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(static_cast<HANDLE>(nullptr));
    }
    auto thread = std::make_shared<ThreadObject>(start, parameter, flags & CREATE_SUSPENDED);
    try {
        std::thread([thread] { thread->run(); }).detach();
    } catch (const std::exception&) {
        sim::setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return call.finish(static_cast<HANDLE>(nullptr));
    }
    DWORD id = thread->waitForId();
    if (threadId)
        *threadId = id;
    return call.finish(sim::Machine::instance().handles().add(thread));
}

DWORD WINAPI ResumeThread(HANDLE handle) {
    DWORD previous = 0;
    if (sim::resumeStoppedThread(handle, previous))
        return previous; // a thread SuspendThread stopped (ThreadControl.cpp)
    auto thread = sim::Machine::instance().handles().getAs<ThreadObject>(handle);
    if (!thread) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    return thread->resume();
}

bool sim::createdThreadId(HANDLE handle, DWORD& threadId) {
    auto thread = sim::Machine::instance().handles().getAs<ThreadObject>(handle);
    if (!thread)
        return false;
    threadId = thread->waitForId();
    return true;
}

BOOL WINAPI GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
    return sim::exitCodeOf<ThreadObject>(handle, exitCode);
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                           LPCWSTR name) {
    auto event = std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE);
    return sim::Machine::instance().handles().add(event);
}

BOOL WINAPI SetEvent(HANDLE handle) {
    auto event = sim::Machine::instance().handles().getAs<EventObject>(handle);
    if (!event) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->signal(true);
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE handle) {
    auto event = sim::Machine::instance().handles().getAs<EventObject>(handle);
    if (!event) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->signal(false);
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto waitable = sim::Machine::instance().handles().getAs<Waitable>(handle);
    if (!waitable) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return waitable->wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    if (handle == kCurrentProcess || handle == kCurrentThread)
        return TRUE;
    if (!sim::Machine::instance().handles().close(handle)) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    if (milliseconds >= 1000) {
        // Long sleeps are journaled so tests can see them; the short polling sleeps of
        // worker threads would only flood the journal.
        sim::Call call("kernel32.dll", "Sleep");
        call.args("milliseconds=%u", milliseconds);
    }
    if (milliseconds == INFINITE) {
        for (;;)
            pause();
    }
    // The machine's clock waits, or on the virtual clock moves on by the sleep.
    sim::Clock::instance().sleepFor(uint64_t(milliseconds) * 1000000u);
}

DWORD WINAPI GetCurrentThreadId(void) {
    return sim::currentThreadId();
}

DWORD WINAPI GetCurrentProcessId(void) {
    return static_cast<DWORD>(getpid());
}

HANDLE WINAPI GetCurrentProcess(void) {
    return kCurrentProcess;
}

HANDLE WINAPI GetCurrentThread(void) {
    return kCurrentThread;
}
