// Open files and pipe ends, and the operations they run in the background (kernel32.dll
// internals shared by the file handles, the named pipes and overlapped I/O).
#pragma once

#include "platform/sim/win32_api.h"
#include "sim/HandleTable.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

/// The listening socket of one pipe name, shared by its server instances.
struct PipeListener {
    std::string address;
    int fd = -1;
    unsigned instances = 0;
    unsigned maxInstances = 1;
    ~PipeListener();
};

/// One overlapped operation, run by a thread of its own until it ends or is cancelled.
struct PendingIo {
    OVERLAPPED* overlapped = nullptr;
    std::atomic<bool> cancelled{false};
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    DWORD error = ERROR_SUCCESS;
    DWORD transferred = 0;
    std::thread thread;
};

/// An open file, a server end of a pipe, or a client end.
class FileObject : public KernelObject {
public:
    enum class Kind { File, PipeServer, PipeClient };

    /// A background operation: polls `cancelled` while it blocks; returns its Win32 error
    /// (ERROR_OPERATION_ABORTED once cancelled) and the bytes it moved.
    using Operation = std::function<DWORD(const std::atomic<bool>& cancelled, DWORD& transferred)>;

    FileObject(Kind kind, int fd) : m_kind(kind), m_fd(fd) {}
    /// Cancels and joins the operations still running, then closes the file.
    ~FileObject() override;

    /// Starts `operation` for `overlapped`: STATUS_PENDING in it and its event reset now;
    /// the result, the byte count and the event when it ends.
    void startOverlapped(OVERLAPPED* overlapped, Operation operation);
    /// The operation of `overlapped`, or null when none was started here.
    std::shared_ptr<PendingIo> pendingOf(const OVERLAPPED* overlapped);
    /// Asks every running operation (or the one of `overlapped`) to stop; false when none runs.
    bool cancel(const OVERLAPPED* overlapped);

    int fd() {
        std::lock_guard<std::mutex> guard(m_fdLock);
        return m_fd;
    }
    void setFd(int fd) {
        std::lock_guard<std::mutex> guard(m_fdLock);
        m_fd = fd;
    }

    const Kind m_kind;
    std::shared_ptr<PipeListener> m_listener;

private:
    std::mutex m_fdLock;
    int m_fd; // the file, the client socket, or a server's connected socket (-1: none yet)
    std::mutex m_ioLock;
    std::vector<std::shared_ptr<PendingIo>> m_pending;
};

/// The file object behind `handle`; null (ERROR_INVALID_HANDLE) for anything else.
std::shared_ptr<FileObject> fileOf(HANDLE handle);

/// The status an ended operation leaves in OVERLAPPED::Internal, and back: 0 for success,
/// else the Win32 error under a failure code.
ULONG_PTR overlappedStatusOf(DWORD error);
DWORD errorOfOverlappedStatus(ULONG_PTR status);

} // namespace sim
