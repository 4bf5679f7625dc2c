// kernel32.dll: file handles (CreateFileW, ReadFile, WriteFile, ...) and named pipes.
//
// A named pipe "\\.\pipe\<name>" is a local stream socket in the host's abstract namespace,
// named after the machine's root folder and the pipe's name (in lower case, as Windows
// compares pipe names). Processes that share the root share the pipes.
#include "FileObject.h"

#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <errno.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char kModule[] = "kernel32.dll";
const char16_t kPipePrefix[] = u"\\\\.\\pipe\\";

using sim::FileObject;
using sim::PipeListener;

std::mutex s_pipesLock;
std::map<std::string, std::weak_ptr<PipeListener>> s_listeners;

bool isPipeName(const std::u16string& name) {
    return name.size() > sim::wideLength(kPipePrefix) &&
           sim::equalNoCase(std::u16string_view(name).substr(0, sim::wideLength(kPipePrefix)),
                            kPipePrefix);
}

// The socket address of a pipe: abstract (leading NUL), so no file is left behind.
std::string pipeAddress(const std::u16string& name) {
    std::string pipe = sim::toUtf8(name.substr(sim::wideLength(kPipePrefix)));
    for (char& c : pipe)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    char root[32];
    snprintf(root, sizeof root, "%016zx",
             std::hash<std::string>()(sim::Machine::instance().root().hostRoot()));
    if (pipe.size() > 60) {
        char hashed[32];
        snprintf(hashed, sizeof hashed, "%016zx", std::hash<std::string>()(pipe));
        pipe = hashed;
    }
    return std::string(1, '\0') + "vessa-sim-pipe-" + root + "-" + pipe;
}

socklen_t socketAddress(const std::string& address, sockaddr_un& out) {
    memset(&out, 0, sizeof out);
    out.sun_family = AF_UNIX;
    memcpy(out.sun_path, address.data(), address.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
}

DWORD errorOfErrno(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EPIPE:
    case ECONNRESET:
        return ERROR_NO_DATA;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

HANDLE failWith(DWORD error) {
    sim::setLastError(error);
    return INVALID_HANDLE_VALUE;
}

HANDLE openPipeClient(const std::u16string& name) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return failWith(ERROR_NOT_ENOUGH_MEMORY);
    sockaddr_un address;
    socklen_t length = socketAddress(pipeAddress(name), address);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        close(fd);
        return failWith(ERROR_FILE_NOT_FOUND);
    }
    auto object = std::make_shared<FileObject>(FileObject::Kind::PipeClient, fd);
    return sim::Machine::instance().handles().add(object);
}

HANDLE openFile(const std::u16string& name, DWORD access, DWORD disposition) {
    std::string host = sim::Machine::instance().root().toHost(name);
    if (host.empty())
        return failWith(ERROR_PATH_NOT_FOUND);
    bool read = access & (GENERIC_READ | GENERIC_ALL);
    bool write = access & (GENERIC_WRITE | GENERIC_ALL);
    int flags = O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
    switch (disposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        if (!write)
            return failWith(ERROR_INVALID_PARAMETER);
        flags |= O_TRUNC;
        break;
    default:
        return failWith(ERROR_INVALID_PARAMETER);
    }
    struct stat st;
    bool existed = ::stat(host.c_str(), &st) == 0;
    if (existed && S_ISDIR(st.st_mode))
        return failWith(ERROR_ACCESS_DENIED);
    int fd = ::open(host.c_str(), flags, 0666);
    if (fd < 0) {
        DWORD error = errorOfErrno(errno);
        if (error == ERROR_FILE_NOT_FOUND && errno == ENOENT && (flags & O_CREAT))
            error = ERROR_PATH_NOT_FOUND; // the folder is missing
        return failWith(error);
    }
    // Opening over an existing file with CREATE_ALWAYS or OPEN_ALWAYS succeeds and says so.
    bool reportExisting = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    sim::setLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    auto object = std::make_shared<FileObject>(FileObject::Kind::File, fd);
    return sim::Machine::instance().handles().add(object);
}

// Waits until `fd` is ready for `events`. Without `cancelled` it blocks; with it, it looks
// every 10 ms whether the operation was cancelled (false then). A set `cancelled` on entry
// makes it a plain check that never blocks.
bool waitReady(int fd, short events, const std::atomic<bool>* cancelled) {
    for (;;) {
        pollfd entry = {fd, events, 0};
        int timeout = !cancelled ? -1 : cancelled->load() ? 0 : 10;
        int n = ::poll(&entry, 1, timeout);
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return true; // let the call itself report the failure
        if (cancelled && cancelled->load())
            return false;
    }
}

DWORD acceptClient(int listener, int& fd, const std::atomic<bool>* cancelled) {
    for (;;) {
        if (!waitReady(listener, POLLIN, cancelled))
            return ERROR_OPERATION_ABORTED;
        fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            return ERROR_SUCCESS;
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return ERROR_BROKEN_PIPE;
    }
}

DWORD readSome(int fd, bool pipe, void* buffer, DWORD toRead, DWORD& n,
               const std::atomic<bool>* cancelled) {
    n = 0;
    if (pipe && !waitReady(fd, POLLIN, cancelled))
        return ERROR_OPERATION_ABORTED;
    ssize_t got;
    do
        got = ::read(fd, buffer, toRead);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return errorOfErrno(errno);
    // The other end of a pipe has closed: Windows reports a broken pipe, not an empty read.
    if (got == 0 && toRead && pipe)
        return ERROR_BROKEN_PIPE;
    n = static_cast<DWORD>(got);
    return ERROR_SUCCESS;
}

DWORD writeAll(int fd, bool pipe, const char* data, size_t wanted, DWORD& done,
               const std::atomic<bool>* cancelled) {
    done = 0;
    while (done < wanted) {
        if (pipe && !waitReady(fd, POLLOUT, cancelled))
            return ERROR_OPERATION_ABORTED;
        ssize_t n = pipe ? ::send(fd, data + done, wanted - done, MSG_NOSIGNAL | MSG_DONTWAIT)
                         : ::write(fd, data + done, wanted - done);
        if (n < 0 && (errno == EINTR || (pipe && (errno == EAGAIN || errno == EWOULDBLOCK))))
            continue;
        if (n < 0)
            return errorOfErrno(errno);
        done += static_cast<DWORD>(n);
    }
    return ERROR_SUCCESS;
}

// What a call that started an overlapped operation answers.
BOOL pendingResult() {
    sim::setLastError(ERROR_IO_PENDING);
    return FALSE;
}

} // namespace

namespace sim {

PipeListener::~PipeListener() {
    if (fd >= 0)
        close(fd);
}

FileObject::~FileObject() {
    std::vector<std::shared_ptr<PendingIo>> pending;
    {
        std::lock_guard<std::mutex> guard(m_ioLock);
        pending.swap(m_pending);
    }
    for (auto& io : pending) {
        io->cancelled = true;
        if (io->thread.joinable())
            io->thread.join();
    }
    if (m_fd >= 0)
        close(m_fd);
    if (m_listener) {
        std::lock_guard<std::mutex> guard(s_pipesLock);
        --m_listener->instances;
    }
}

std::shared_ptr<FileObject> fileOf(HANDLE handle) {
    auto object = Machine::instance().handles().getAs<FileObject>(handle);
    if (!object)
        setLastError(ERROR_INVALID_HANDLE);
    return object;
}

} // namespace sim

using sim::fileOf;

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile) {
    sim::Call call(kModule, "CreateFileW");
    std::u16string name = sim::wideOf(fileName);
    call.args("name=%s access=0x%x disposition=%u", sim::toUtf8(name).c_str(), access,
              creationDisposition);
    if (call.faulted())
        return call.finish(failWith(static_cast<DWORD>(call.faultStatus())));
    if (name.empty())
        return call.finish(failWith(ERROR_PATH_NOT_FOUND));
    if (isPipeName(name))
        return call.finish(openPipeClient(name));
    return call.finish(openFile(name, access, creationDisposition));
}

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile) {
    std::u16string name = sim::fromUtf8(fileName ? fileName : "");
    return CreateFileW(name.c_str(), access, shareMode, security, creationDisposition,
                       flagsAndAttributes, templateFile);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                     LPOVERLAPPED overlapped) {
    if (read)
        *read = 0;
    auto object = fileOf(file);
    if (!object)
        return FALSE;
    if (!buffer && toRead) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int fd = object->fd();
    if (fd < 0) {
        sim::setLastError(ERROR_PIPE_LISTENING);
        return FALSE;
    }
    bool pipe = object->m_kind != FileObject::Kind::File;
    if (overlapped) {
        object->startOverlapped(overlapped, [=](const std::atomic<bool>& cancelled, DWORD& n) {
            return readSome(fd, pipe, buffer, toRead, n, &cancelled);
        });
        return pendingResult();
    }
    DWORD n = 0;
    DWORD error = readSome(fd, pipe, buffer, toRead, n, nullptr);
    if (error != ERROR_SUCCESS) {
        sim::setLastError(error);
        return FALSE;
    }
    if (read)
        *read = n;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED overlapped) {
    sim::Call call(kModule, "WriteFile");
    call.args("file=%p bytes=%u%s", file, toWrite, overlapped ? " overlapped" : "");
    if (written)
        *written = 0;
    if (call.faulted()) {
        sim::setLastError(static_cast<DWORD>(call.faultStatus()));
        return call.finish(FALSE);
    }
    auto object = fileOf(file);
    if (!object)
        return call.finish(FALSE);
    if (!buffer && toWrite) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(FALSE);
    }
    int fd = object->fd();
    if (fd < 0) {
        sim::setLastError(ERROR_PIPE_LISTENING);
        return call.finish(FALSE);
    }
    bool pipe = object->m_kind != FileObject::Kind::File;
    size_t limit = sim::Machine::instance().pipeWriteLimit();
    size_t wanted = pipe && limit && limit < toWrite ? limit : toWrite;
    const char* data = static_cast<const char*>(buffer);
    if (overlapped) {
        object->startOverlapped(overlapped, [=](const std::atomic<bool>& cancelled, DWORD& n) {
            return writeAll(fd, pipe, data, wanted, n, &cancelled);
        });
        return call.finish(pendingResult());
    }
    DWORD done = 0;
    DWORD error = writeAll(fd, pipe, data, wanted, done, nullptr);
    if (error != ERROR_SUCCESS) {
        sim::setLastError(error);
        return call.finish(FALSE);
    }
    if (written)
        *written = done;
    return call.finish(TRUE);
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    auto object = fileOf(file);
    struct stat st;
    if (!object || ::fstat(object->fd(), &st) != 0) {
        if (object)
            sim::setLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (sizeHigh)
        *sizeHigh = static_cast<DWORD>(size >> 32);
    sim::setLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
    auto object = fileOf(file);
    if (!object)
        return INVALID_SET_FILE_POINTER;
    int64_t offset =
        distanceHigh ? (static_cast<int64_t>(*distanceHigh) << 32) | static_cast<uint32_t>(distance)
                     : distance;
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t position = ::lseek(object->fd(), offset, whence);
    if (position < 0 || method > FILE_END) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh)
        *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
    sim::setLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(position);
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
    auto object = fileOf(file);
    if (!object)
        return FALSE;
    if (object->m_kind == FileObject::Kind::File)
        ::fsync(object->fd());
    return TRUE;
}

HANDLE WINAPI CreateNamedPipeW(LPCWSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                               DWORD outBufferSize, DWORD inBufferSize, DWORD defaultTimeOut,
                               LPSECURITY_ATTRIBUTES security) {
    sim::Call call(kModule, "CreateNamedPipeW");
    std::u16string pipeName = sim::wideOf(name);
    call.args("name=%s openMode=0x%x pipeMode=0x%x maxInstances=%u out=%u in=%u timeout=%u",
              sim::toUtf8(pipeName).c_str(), openMode, pipeMode, maxInstances, outBufferSize,
              inBufferSize, defaultTimeOut);
    if (call.faulted())
        return call.finish(failWith(static_cast<DWORD>(call.faultStatus())));
    if (!isPipeName(pipeName))
        return call.finish(failWith(ERROR_INVALID_NAME));
    if (maxInstances == 0 || maxInstances > PIPE_UNLIMITED_INSTANCES || !(openMode & 3))
        return call.finish(failWith(ERROR_INVALID_PARAMETER));

    std::string address = pipeAddress(pipeName);
    std::lock_guard<std::mutex> guard(s_pipesLock);
    std::shared_ptr<PipeListener> listener = s_listeners[address].lock();
    if (!listener) {
        // Non-blocking, so two instances waiting for the same client never block in accept.
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un socketName;
        socklen_t length = socketAddress(address, socketName);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&socketName), length) != 0 ||
            listen(fd, static_cast<int>(maxInstances)) != 0) {
            if (fd >= 0)
                close(fd);
            // Another process serves this name already.
            return call.finish(failWith(ERROR_ACCESS_DENIED));
        }
        listener = std::make_shared<PipeListener>();
        listener->address = address;
        listener->fd = fd;
        listener->maxInstances = maxInstances;
        s_listeners[address] = listener;
    }
    if (listener->instances >= listener->maxInstances)
        return call.finish(failWith(ERROR_PIPE_BUSY));
    ++listener->instances;
    auto object = std::make_shared<FileObject>(FileObject::Kind::PipeServer, -1);
    object->m_listener = listener;
    sim::setLastError(ERROR_SUCCESS);
    return call.finish(sim::Machine::instance().handles().add(object));
}

HANDLE WINAPI CreateNamedPipeA(LPCSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                               DWORD outBufferSize, DWORD inBufferSize, DWORD defaultTimeOut,
                               LPSECURITY_ATTRIBUTES security) {
    std::u16string wide = sim::fromUtf8(name ? name : "");
    return CreateNamedPipeW(wide.c_str(), openMode, pipeMode, maxInstances, outBufferSize,
                            inBufferSize, defaultTimeOut, security);
}

BOOL WINAPI ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped) {
    sim::Call call(kModule, "ConnectNamedPipe");
    call.args("pipe=%p%s", pipe, overlapped ? " overlapped" : "");
    if (call.faulted()) {
        sim::setLastError(static_cast<DWORD>(call.faultStatus()));
        return call.finish(FALSE);
    }
    auto object = fileOf(pipe);
    if (!object || object->m_kind != FileObject::Kind::PipeServer) {
        sim::setLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return call.finish(FALSE);
    }
    if (object->fd() >= 0) {
        sim::setLastError(ERROR_PIPE_CONNECTED);
        return call.finish(FALSE);
    }
    std::shared_ptr<PipeListener> listener = object->m_listener;
    if (overlapped) {
        // A client that opened the pipe before this call is connected at once, and Windows
        // says so with ERROR_PIPE_CONNECTED rather than a pending operation.
        int fd = -1;
        std::atomic<bool> noWait{true};
        if (acceptClient(listener->fd, fd, &noWait) == ERROR_SUCCESS) {
            object->setFd(fd);
            sim::setLastError(ERROR_PIPE_CONNECTED);
            return call.finish(FALSE);
        }
        FileObject* server = object.get(); // outlived by its operations (joined on close)
        object->startOverlapped(overlapped, [=](const std::atomic<bool>& cancelled, DWORD&) {
            int client = -1;
            DWORD error = acceptClient(listener->fd, client, &cancelled);
            if (error == ERROR_SUCCESS)
                server->setFd(client);
            return error;
        });
        return call.finish(pendingResult());
    }
    int fd = -1;
    DWORD error = acceptClient(listener->fd, fd, nullptr);
    if (error != ERROR_SUCCESS) {
        sim::setLastError(error);
        return call.finish(FALSE);
    }
    object->setFd(fd);
    return call.finish(TRUE);
}

BOOL WINAPI DisconnectNamedPipe(HANDLE pipe) {
    auto object = fileOf(pipe);
    if (!object || object->m_kind != FileObject::Kind::PipeServer) {
        if (object)
            sim::setLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int fd = object->fd();
    if (fd >= 0)
        close(fd);
    object->setFd(-1);
    return TRUE;
}

BOOL WINAPI CopyFileW(LPCWSTR existingName, LPCWSTR newName, BOOL failIfExists) {
    sim::Call call(kModule, "CopyFileW");
    std::u16string from = sim::wideOf(existingName);
    std::u16string to = sim::wideOf(newName);
    call.args("from=%s to=%s failIfExists=%d", sim::toUtf8(from).c_str(), sim::toUtf8(to).c_str(),
              failIfExists);
    if (call.faulted()) {
        sim::setLastError(static_cast<DWORD>(call.faultStatus()));
        return call.finish(FALSE);
    }
    sim::RootFolder& root = sim::Machine::instance().root();
    std::string source = root.toHost(from);
    std::string target = root.toHost(to);
    struct stat st;
    if (source.empty() || ::stat(source.c_str(), &st) != 0) {
        sim::setLastError(ERROR_FILE_NOT_FOUND);
        return call.finish(FALSE);
    }
    if (S_ISDIR(st.st_mode) || target.empty()) {
        sim::setLastError(target.empty() ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        return call.finish(FALSE);
    }
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    // The copy keeps the file's permissions, so a copied program can still be started.
    int out = ::open(target.c_str(),
                     O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (failIfExists ? O_EXCL : 0),
                     st.st_mode & 0777);
    if (in < 0 || out < 0) {
        DWORD error = errorOfErrno(errno);
        if (in >= 0)
            close(in);
        if (out >= 0)
            close(out);
        sim::setLastError(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
        return call.finish(FALSE);
    }
    char buffer[65536];
    ssize_t n;
    bool ok = true;
    while (ok && (n = ::read(in, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            ok = errno == EINTR;
            continue;
        }
        for (ssize_t done = 0; ok && done < n;) {
            ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            ok = w >= 0 || errno == EINTR;
            done += w > 0 ? w : 0;
        }
    }
    close(in);
    ::fchmod(out, st.st_mode & 0777);
    close(out);
    if (!ok) {
        sim::setLastError(ERROR_WRITE_FAULT);
        return call.finish(FALSE);
    }
    return call.finish(TRUE);
}
