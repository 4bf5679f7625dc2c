#include "hook/ThreadFreezer.h"

#include "platform/win.h"

namespace hook {

namespace {

void listOtherThreads(std::vector<uint32_t>& ids) {
    ids.clear();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    const DWORD process = GetCurrentProcessId();
    const DWORD self = GetCurrentThreadId();
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == process && entry.th32ThreadID != self)
            ids.push_back(entry.th32ThreadID);
        entry.dwSize = sizeof entry;
    }
    CloseHandle(snapshot);
}

} // namespace

HookStatus ThreadFreezer::freeze() {
    for (int attempt = 0; attempt < kAttempts; ++attempt)
        if (freezeOnce())
            return HookStatus::Ok;
    return HookStatus::ThreadsNotSuspended;
}

bool ThreadFreezer::freezeOnce() {
    thaw();
    // Both lists live in members: freeing them here would free memory while threads are
    // frozen.
    listOtherThreads(m_ids);
    std::vector<HANDLE>& handles = m_opened;
    handles.clear();
    handles.reserve(m_ids.size());
    for (uint32_t id : m_ids) {
        HANDLE thread =
            OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, id);
        if (thread)
            handles.push_back(thread); // a thread that already ended cannot be opened
    }
    m_frozen.reserve(handles.size());
    size_t stopped = 0;
    while (stopped < handles.size() && SuspendThread(handles[stopped]) != static_cast<DWORD>(-1))
        m_frozen.push_back(handles[stopped++]);
    if (stopped == handles.size())
        return true;
    // Closing may free memory, which waits until no thread is frozen.
    thaw();
    for (size_t i = stopped; i < handles.size(); ++i)
        CloseHandle(handles[i]);
    return false;
}

void ThreadFreezer::moveOutOfPatch(const RelocationPlan& plan, uint64_t entryAddress) {
    for (HANDLE thread : m_frozen) {
        CONTEXT context;
        context.ContextFlags = CONTEXT_CONTROL;
        if (!GetThreadContext(thread, &context))
            continue;
        uint64_t moved = plan.relocatedAddress(context.Rip, entryAddress);
        if (moved == 0)
            continue;
        context.Rip = moved;
        SetThreadContext(thread, &context);
    }
}

void ThreadFreezer::thaw() {
    for (HANDLE thread : m_frozen)
        ResumeThread(thread);
    // Closing may free memory, so only once every thread runs again.
    for (HANDLE thread : m_frozen)
        CloseHandle(thread);
    m_frozen.clear();
}

} // namespace hook
