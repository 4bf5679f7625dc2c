// The crash hand-off: the unhandled-exception filter, the start of the watchdog and the
// report it receives through the named pipe.
//
// The pipe is created overlapped so that neither the wait for the watchdog to connect nor
// the write can block for ever: each waits on its completion event together with the
// watchdog's process handle, within one overall time limit, and is cancelled when the
// watchdog ends first or the time runs out. A watchdog that never takes the report is ended
// rather than waited for, since it has nothing left to do.
#include "CrashHandoff.h"

#include <atomic>
#include <stdio.h>
#include <string.h>

namespace {

// Pipe parameters: duplex with WRITE_DAC, byte stream, at most 2 instances, 1 KiB buffers,
// a default time-out of 2 s. Overlapped, so every wait on it has a bound.
constexpr DWORD kPipeOpenMode = PIPE_ACCESS_DUPLEX | WRITE_DAC | FILE_FLAG_OVERLAPPED;
constexpr DWORD kPipeMaxInstances = 2;
constexpr DWORD kPipeBufferSize = 1024;
constexpr DWORD kPipeDefaultTimeoutMs = 2000;

// Room for a MAX_PATH program path and its arguments.
constexpr size_t kCommandLineChars = 2 * MAX_PATH;
// "%d" of a 32-bit process id.
constexpr size_t kDecimalChars = 12;

static_assert(sizeof(CONTEXT) == crashreport::kContextSize, "x64 CONTEXT");
static_assert(sizeof(EXCEPTION_RECORD) == crashreport::kExceptionSize, "x64 EXCEPTION_RECORD");
static_assert(offsetof(CONTEXT, Rip) == crashreport::context::kRip, "CONTEXT layout");
static_assert(offsetof(CONTEXT, Rax) == crashreport::context::kRax, "CONTEXT layout");

bool s_armed = false;
// Set while a hand-off runs: a second crash (a fault inside the hand-off, or another thread)
// goes straight on instead of starting a second watchdog on the same pipe.
std::atomic<bool> s_handingOff{false};

// The report and the command line live in static storage: the crashing thread's stack may
// be nearly exhausted, and the heap may be what is broken.
unsigned char s_report[crashreport::kSize];
WCHAR s_commandLine[kCommandLineChars];

// Writes to the standard output through the handle, bypassing the C runtime's buffered
// stream (its buffer is allocated on first use).
void print(const char* text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!out || out == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(out, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

// "%d" of `value` into `buffer`, without the C runtime's wide functions.
void formatDecimal(DWORD value, WCHAR (&buffer)[kDecimalChars]) {
    char digits[kDecimalChars];
    int length = snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
    for (int i = 0; i <= length; ++i)
        buffer[i] = static_cast<WCHAR>(digits[i]);
}

DWORD remainingUntil(ULONGLONG deadline) {
    ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// Waits for the pending operation of `overlapped` on `pipe`, at most until `deadline`, and
// no longer than `watchdog` runs. On success `transferred` holds its byte count. Otherwise
// the operation is cancelled (and the cancellation waited for, since the OVERLAPPED lives
// on this stack) and the error returned.
DWORD finishPipeOperation(HANDLE pipe, OVERLAPPED* overlapped, HANDLE watchdog, ULONGLONG deadline,
                          DWORD* transferred) {
    HANDLE waits[2] = {overlapped->hEvent, watchdog};
    DWORD woken = WaitForMultipleObjects(2, waits, FALSE, remainingUntil(deadline));
    if (woken != WAIT_OBJECT_0)
        CancelIo(pipe);
    // After a cancellation this waits only for the cancellation to land; the operation may
    // still have completed in the meantime, and then it counts.
    if (GetOverlappedResult(pipe, overlapped, transferred, TRUE))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (error != ERROR_OPERATION_ABORTED)
        return error;
    if (woken == WAIT_TIMEOUT)
        return ERROR_TIMEOUT;
    return woken == WAIT_OBJECT_0 + 1 ? static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED) : error;
}

// Waits until the watchdog has opened the pipe. A client that opened it before the call is
// connected as well (ERROR_PIPE_CONNECTED).
DWORD connectWatchdog(HANDLE pipe, HANDLE event, HANDLE watchdog, ULONGLONG deadline) {
    OVERLAPPED overlapped;
    memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = event;
    ResetEvent(event);
    if (ConnectNamedPipe(pipe, &overlapped))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED)
        return ERROR_SUCCESS;
    if (error != ERROR_IO_PENDING)
        return error;
    DWORD unused = 0;
    return finishPipeOperation(pipe, &overlapped, watchdog, deadline, &unused);
}

DWORD writeToPipe(HANDLE pipe, HANDLE event, HANDLE watchdog, ULONGLONG deadline,
                  const unsigned char* data, DWORD size, DWORD* written) {
    OVERLAPPED overlapped;
    memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = event;
    ResetEvent(event);
    *written = 0;
    if (WriteFile(pipe, data, size, written, &overlapped))
        return GetOverlappedResult(pipe, &overlapped, written, FALSE) ? ERROR_SUCCESS
                                                                      : GetLastError();
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING)
        return error;
    return finishPipeOperation(pipe, &overlapped, watchdog, deadline, written);
}

} // namespace

void armCrashHandoff() {
    SetUnhandledExceptionFilter(crashFilter);
    s_armed = true;
}

bool isCrashHandoffArmed() {
    return s_armed;
}

LONG WINAPI crashFilter(PEXCEPTION_POINTERS exceptionPointers) {
    if (s_handingOff.exchange(true))
        return EXCEPTION_CONTINUE_SEARCH;
    WCHAR processId[kDecimalChars];
    formatDecimal(GetCurrentProcessId(), processId);
    WCHAR program[sizeof crashreport::kWatchdogPath];
    for (size_t i = 0; i < sizeof crashreport::kWatchdogPath; ++i)
        program[i] = static_cast<WCHAR>(crashreport::kWatchdogPath[i]);
    launchWatchdog(exceptionPointers, program, processId);
    s_handingOff.store(false);
    return EXCEPTION_CONTINUE_SEARCH;
}

bool formatWatchdogCommandLine(const WCHAR* programPath, const WCHAR* arguments, WCHAR* buffer,
                               size_t capacity) {
    const WCHAR* name = programPath;
    for (const WCHAR* p = programPath; *p; ++p)
        if (*p == '\\')
            name = p + 1;
    size_t used = 0;
    auto append = [&](const WCHAR* text) {
        for (; *text; ++text) {
            if (used + 1 >= capacity)
                return false;
            buffer[used++] = *text;
        }
        return true;
    };
    const WCHAR blank[] = {' ', 0};
    bool fits = capacity > 0 && append(name);
    if (fits && arguments && arguments[0] && arguments[0] != ' ')
        fits = append(blank);
    if (fits && arguments)
        fits = append(arguments);
    if (capacity > 0)
        buffer[used] = 0;
    return fits;
}

DWORD launchWatchdog(PEXCEPTION_POINTERS exceptionPointers, const WCHAR* programPath,
                     const WCHAR* arguments) {
    if (!formatWatchdogCommandLine(programPath, arguments, s_commandLine, kCommandLineChars))
        return ERROR_INSUFFICIENT_BUFFER;

    // A pipe that cannot be created ends the hand-off, not the process: the crash goes on
    // to the system's own handling, which is what a crash report is for.
    HANDLE pipe =
        CreateNamedPipeA(crashreport::kPipeName, kPipeOpenMode, 0, kPipeMaxInstances,
                         kPipeBufferSize, kPipeBufferSize, kPipeDefaultTimeoutMs, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        print("ExceptionHandler:  Could not create the pipe\n");
        return error;
    }
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event) {
        DWORD error = GetLastError();
        CloseHandle(pipe);
        return error;
    }

    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    DWORD result = ERROR_SUCCESS;
    if (!CreateProcessW(programPath, s_commandLine, nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &startup, &process)) {
        result = GetLastError();
        CloseHandle(event);
        CloseHandle(pipe);
        return result;
    }

    result =
        sendCrashReport(pipe, event, process.hProcess, exceptionPointers, GetCurrentThreadId());
    // Closing our end tells the watchdog the report is complete.
    CloseHandle(pipe);
    CloseHandle(event);
    if (result == ERROR_SUCCESS)
        WaitForSingleObject(process.hProcess, kWatchdogExitTimeoutMs);
    else if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(process.hProcess, 1); // it never took the report
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

DWORD sendCrashReport(HANDLE pipe, HANDLE event, HANDLE watchdog,
                      PEXCEPTION_POINTERS exceptionPointers, DWORD threadId) {
    ULONGLONG deadline = GetTickCount64() + kWatchdogHandoffTimeoutMs;
    DWORD error = connectWatchdog(pipe, event, watchdog, deadline);
    if (error != ERROR_SUCCESS)
        return error;

    fillCrashReport(s_report, exceptionPointers, threadId);
    DWORD total = 0;
    while (total < crashreport::kSize) {
        DWORD written = 0;
        error = writeToPipe(pipe, event, watchdog, deadline, s_report + total,
                            static_cast<DWORD>(crashreport::kSize - total), &written);
        // A write that moves nothing would repeat for ever.
        if (error == ERROR_SUCCESS && written == 0)
            error = remainingUntil(deadline) ? ERROR_SUCCESS : ERROR_TIMEOUT;
        if (error != ERROR_SUCCESS) {
            print("ExceptionHandler:  WriteFile failed\n");
            return error;
        }
        char line[64];
        snprintf(line, sizeof line, "Wrote %d bytes (pipe_buff_size=%d)", static_cast<int>(written),
                 static_cast<int>(crashreport::kSize));
        print(line);
        total += written;
    }
    print("Done writing into pipe\n");
    return ERROR_SUCCESS;
}

void fillCrashReport(unsigned char* report, PEXCEPTION_POINTERS exceptionPointers, DWORD threadId) {
    memset(report, 0, crashreport::kSize);
    if (exceptionPointers && exceptionPointers->ContextRecord)
        memcpy(report + crashreport::kContextOffset, exceptionPointers->ContextRecord,
               crashreport::kContextSize);
    if (exceptionPointers && exceptionPointers->ExceptionRecord)
        memcpy(report + crashreport::kExceptionOffset, exceptionPointers->ExceptionRecord,
               crashreport::kExceptionSize);
    uint32_t thread = threadId;
    uint32_t marker = crashreport::kMarker;
    memcpy(report + crashreport::kThreadIdOffset, &thread, sizeof thread);
    memcpy(report + crashreport::kMarkerOffset, &marker, sizeof marker);

    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        length = length ? MAX_PATH - 1 : 0;
    path[length] = 0;
    const WCHAR* name = path;
    for (const WCHAR* p = path; *p; ++p)
        if (*p == '\\')
            name = p + 1;
    for (size_t i = 0; i < crashreport::kNameChars && name[i]; ++i) {
        uint16_t c = static_cast<uint16_t>(name[i]);
        memcpy(report + crashreport::kNameOffset + 2 * i, &c, sizeof c);
    }
}
