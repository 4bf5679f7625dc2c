// kernel32.dll: file handles (CreateFileW, ReadFile, WriteFile, ...) and named pipes.
//
// A named pipe "\\.\pipe\<name>" is a local stream socket in the host's abstract namespace,
// named after the machine's root folder and the pipe's name (in lower case, as Windows
// compares pipe names). Processes that share the root share the pipes.
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
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char kModule[] = "kernel32.dll";
const char16_t kPipePrefix[] = u"\\\\.\\pipe\\";

/// The listening socket of one pipe name, shared by its server instances.
struct PipeListener {
    std::string address;
    int fd = -1;
    unsigned instances = 0;
    unsigned maxInstances = 1;
    ~PipeListener() {
        if (fd >= 0)
            close(fd);
    }
};

std::mutex s_pipesLock;
std::map<std::string, std::weak_ptr<PipeListener>> s_listeners;

/// An open file, a server end of a pipe, or a client end.
class FileObject : public sim::KernelObject {
public:
    enum class Kind { File, PipeServer, PipeClient };

    FileObject(Kind kind, int fd) : m_kind(kind), m_fd(fd) {}
    ~FileObject() override {
        if (m_fd >= 0)
            close(m_fd);
        if (m_listener) {
            std::lock_guard<std::mutex> guard(s_pipesLock);
            --m_listener->instances;
        }
    }

    Kind m_kind;
    int m_fd; // the file, the client socket, or a server's connected socket (-1: none yet)
    std::shared_ptr<PipeListener> m_listener;
};

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

std::shared_ptr<FileObject> fileOf(HANDLE handle) {
    auto object = sim::Machine::instance().handles().getAs<FileObject>(handle);
    if (!object)
        sim::setLastError(ERROR_INVALID_HANDLE);
    return object;
}

} // namespace

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
    if (overlapped || (!buffer && toRead)) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (object->m_fd < 0) {
        sim::setLastError(ERROR_PIPE_LISTENING);
        return FALSE;
    }
    ssize_t n;
    do
        n = ::read(object->m_fd, buffer, toRead);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        sim::setLastError(errorOfErrno(errno));
        return FALSE;
    }
    // The other end of a pipe has closed: Windows reports a broken pipe, not an empty read.
    if (n == 0 && toRead && object->m_kind != FileObject::Kind::File) {
        sim::setLastError(ERROR_BROKEN_PIPE);
        return FALSE;
    }
    if (read)
        *read = static_cast<DWORD>(n);
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED overlapped) {
    sim::Call call(kModule, "WriteFile");
    call.args("file=%p bytes=%u", file, toWrite);
    if (written)
        *written = 0;
    if (call.faulted()) {
        sim::setLastError(static_cast<DWORD>(call.faultStatus()));
        return call.finish(FALSE);
    }
    auto object = fileOf(file);
    if (!object)
        return call.finish(FALSE);
    if (overlapped || (!buffer && toWrite)) {
        sim::setLastError(ERROR_INVALID_PARAMETER);
        return call.finish(FALSE);
    }
    if (object->m_fd < 0) {
        sim::setLastError(ERROR_PIPE_LISTENING);
        return call.finish(FALSE);
    }
    bool pipe = object->m_kind != FileObject::Kind::File;
    size_t limit = sim::Machine::instance().pipeWriteLimit();
    size_t wanted = pipe && limit && limit < toWrite ? limit : toWrite;
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < wanted) {
        ssize_t n = pipe ? ::send(object->m_fd, p + done, wanted - done, MSG_NOSIGNAL)
                         : ::write(object->m_fd, p + done, wanted - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            sim::setLastError(errorOfErrno(errno));
            return call.finish(FALSE);
        }
        done += static_cast<size_t>(n);
    }
    if (written)
        *written = static_cast<DWORD>(done);
    return call.finish(TRUE);
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    auto object = fileOf(file);
    struct stat st;
    if (!object || ::fstat(object->m_fd, &st) != 0) {
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
    off_t position = ::lseek(object->m_fd, offset, whence);
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
        ::fsync(object->m_fd);
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
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
    call.args("pipe=%p", pipe);
    if (call.faulted()) {
        sim::setLastError(static_cast<DWORD>(call.faultStatus()));
        return call.finish(FALSE);
    }
    auto object = fileOf(pipe);
    if (!object || object->m_kind != FileObject::Kind::PipeServer || overlapped) {
        sim::setLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return call.finish(FALSE);
    }
    if (object->m_fd >= 0) {
        sim::setLastError(ERROR_PIPE_CONNECTED);
        return call.finish(FALSE);
    }
    int fd;
    do
        fd = accept4(object->m_listener->fd, nullptr, nullptr, SOCK_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        sim::setLastError(ERROR_BROKEN_PIPE);
        return call.finish(FALSE);
    }
    object->m_fd = fd;
    return call.finish(TRUE);
}

BOOL WINAPI DisconnectNamedPipe(HANDLE pipe) {
    auto object = fileOf(pipe);
    if (!object || object->m_kind != FileObject::Kind::PipeServer) {
        if (object)
            sim::setLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (object->m_fd >= 0)
        close(object->m_fd);
    object->m_fd = -1;
    return TRUE;
}
