// kernel32.dll: overlapped I/O, waits on several objects, and the standard handles.
//
// An overlapped operation runs on a thread of its own; it marks its OVERLAPPED pending at
// the start and, when it ends, stores its status and byte count there and sets the event,
// as Windows does. CancelIo asks the operations of a handle to stop; a blocked operation
// notices within 10 ms and ends with ERROR_OPERATION_ABORTED.
#include "FileObject.h"
#include "Waitable.h"

#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char kModule[] = "kernel32.dll";
constexpr ULONG_PTR kStatusPending = 0x103;
// An ended operation's failure keeps its Win32 error in the low bits under this code.
constexpr ULONG_PTR kStatusWin32Error = 0xC0070000;

} // namespace

namespace sim {

ULONG_PTR overlappedStatusOf(DWORD error) {
    return error == ERROR_SUCCESS ? 0 : kStatusWin32Error | (error & 0xFFFF);
}

DWORD errorOfOverlappedStatus(ULONG_PTR status) {
    return status == 0 ? static_cast<DWORD>(ERROR_SUCCESS) : static_cast<DWORD>(status & 0xFFFF);
}

void FileObject::startOverlapped(OVERLAPPED* overlapped, Operation operation) {
    overlapped->Internal = kStatusPending;
    overlapped->InternalHigh = 0;
    if (overlapped->hEvent)
        ResetEvent(overlapped->hEvent);
    auto io = std::make_shared<PendingIo>();
    io->overlapped = overlapped;
    std::lock_guard<std::mutex> guard(m_ioLock);
    // Operations that ended long ago leave the list when the next one starts.
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        std::unique_lock<std::mutex> ioGuard((*it)->lock);
        if ((*it)->done && (*it)->thread.joinable()) {
            ioGuard.unlock();
            (*it)->thread.join();
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    m_pending.push_back(io);
    io->thread = std::thread([io, operation] {
        DWORD transferred = 0;
        DWORD error = operation(io->cancelled, transferred);
        HANDLE event = io->overlapped->hEvent;
        {
            std::lock_guard<std::mutex> ioGuard(io->lock);
            io->error = error;
            io->transferred = transferred;
            io->overlapped->InternalHigh = transferred;
            io->overlapped->Internal = overlappedStatusOf(error);
            io->done = true;
        }
        io->ended.notify_all();
        if (event)
            SetEvent(event);
    });
}

std::shared_ptr<PendingIo> FileObject::pendingOf(const OVERLAPPED* overlapped) {
    std::lock_guard<std::mutex> guard(m_ioLock);
    for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it)
        if ((*it)->overlapped == overlapped)
            return *it;
    return nullptr;
}

bool FileObject::cancel(const OVERLAPPED* overlapped) {
    std::lock_guard<std::mutex> guard(m_ioLock);
    bool any = false;
    for (auto& io : m_pending) {
        std::lock_guard<std::mutex> ioGuard(io->lock);
        if (io->done || (overlapped && io->overlapped != overlapped))
            continue;
        io->cancelled = true;
        any = true;
    }
    return any;
}

} // namespace sim

BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                BOOL wait) {
    auto object = sim::fileOf(file);
    if (!object)
        return FALSE;
    if (!overlapped || !transferred) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (std::shared_ptr<sim::PendingIo> io = object->pendingOf(overlapped)) {
        std::unique_lock<std::mutex> guard(io->lock);
        if (!io->done && !wait) {
            sim::setLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        io->ended.wait(guard, [&] { return io->done; });
    } else if (overlapped->Internal == kStatusPending) {
        sim::setLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    DWORD error = sim::errorOfOverlappedStatus(overlapped->Internal);
    if (error != ERROR_SUCCESS) {
        sim::setLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    sim::Call call(kModule, "CancelIoEx");
    call.args("file=%p overlapped=%p", file, static_cast<void*>(overlapped));
    auto object = sim::fileOf(file);
    if (!object)
        return call.finish(FALSE);
    if (!object->cancel(overlapped)) {
        sim::setLastError(ERROR_NOT_FOUND);
        return call.finish(FALSE);
    }
    return call.finish(TRUE);
}

BOOL WINAPI CancelIo(HANDLE file) {
    // Windows cancels the calling thread's operations; those of other threads are rare enough
    // in a simulated process that every operation of the handle is cancelled.
    auto object = sim::fileOf(file);
    if (!object)
        return FALSE;
    object->cancel(nullptr);
    return TRUE;
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                    DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<sim::Waitable>> objects;
    for (DWORD i = 0; i < count; ++i) {
        auto object = sim::Machine::instance().handles().getAs<sim::Waitable>(handles[i]);
        if (!object) {
            sim::setLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(object);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::vector<bool> signalled(count, false);
    for (;;) {
        // Any: the first signalled object, lowest index first. All: each once (an auto-reset
        // object is consumed when its turn comes, not all at one instant as on Windows).
        for (DWORD i = 0; i < count; ++i) {
            if (signalled[i] || !objects[i]->wait(0))
                continue;
            if (!waitAll)
                return WAIT_OBJECT_0 + i;
            signalled[i] = true;
        }
        if (waitAll && std::find(signalled.begin(), signalled.end(), false) == signalled.end())
            return WAIT_OBJECT_0;
        if (milliseconds != INFINITE && std::chrono::steady_clock::now() >= deadline)
            return WAIT_TIMEOUT;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

HANDLE WINAPI GetStdHandle(DWORD which) {
    static std::mutex lock;
    static HANDLE handles[3] = {};
    int slot = which == STD_INPUT_HANDLE    ? 0
               : which == STD_OUTPUT_HANDLE ? 1
               : which == STD_ERROR_HANDLE  ? 2
                                            : -1;
    if (slot < 0) {
        sim::setLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> guard(lock);
    // One handle per stream for the life of the process, over a copy of the host's
    // descriptor (closing the handle leaves the host's stream open).
    if (!handles[slot] || !sim::Machine::instance().handles().get(handles[slot])) {
        int fd = dup(slot);
        if (fd < 0)
            return INVALID_HANDLE_VALUE;
        handles[slot] = sim::Machine::instance().handles().add(
            std::make_shared<sim::FileObject>(sim::FileObject::Kind::File, fd));
    }
    return handles[slot];
}
