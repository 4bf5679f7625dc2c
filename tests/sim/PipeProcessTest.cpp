// File handles, named pipes and processes: what a crash hand-off to a watchdog relies on.
#include "platform/sim/win32_api.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

const char kPipe[] = "\\\\.\\pipe\\pipe_vorizar2";

std::u16string programPath(const char* hostPath) {
    return sim::Machine::instance().root().toWindows(hostPath);
}

struct Process {
    PROCESS_INFORMATION info = {};
    BOOL started = FALSE;

    explicit Process(std::u16string commandLine, const char16_t* application = nullptr) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        started = CreateProcessW(application, commandLine.data(), nullptr, nullptr, FALSE,
                                 CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &startup, &info);
    }
    DWORD finish() {
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        return code;
    }
};

} // namespace

TEST(FileHandles, CreateDispositionsFailAndSucceedAsOnWindows) {
    SetLastError(0);
    EXPECT_EQ(CreateFileW(u"C:\\missing.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(
        CreateFileW(u"C:\\no\\dir\\x.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(CreateFileW(u"C:\\x.bin", GENERIC_WRITE, 0, nullptr, 99, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    HANDLE file = CreateFileW(u"C:\\x.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "hello\n", 6, &written, nullptr));
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(GetFileSize(file, nullptr), 6u);
    EXPECT_EQ(SetFilePointer(file, 1, nullptr, FILE_BEGIN), 1u);
    char buffer[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "ello\n");
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr)); // end of file
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(CloseHandle(file));

    EXPECT_EQ(CreateFileW(u"C:\\X.BIN", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    file = CreateFileW(u"C:\\X.BIN", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(GetFileSize(file, nullptr), 0u);
    CloseHandle(file);
}

TEST(NamedPipes, InvalidNamesInstancesAndMissingPipesFail) {
    EXPECT_EQ(CreateNamedPipeA("C:\\not-a-pipe", PIPE_ACCESS_DUPLEX, 0, 1, 1024, 1024, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(
        CreateFileW(u"\\\\.\\pipe\\nobody", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    HANDLE first =
        CreateNamedPipeA(kPipe, PIPE_ACCESS_DUPLEX | WRITE_DAC, 0, 2, 1024, 1024, 2000, nullptr);
    HANDLE second = CreateNamedPipeA("\\\\.\\PIPE\\Pipe_Vorizar2", PIPE_ACCESS_DUPLEX, 0, 2, 1024,
                                     1024, 2000, nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateNamedPipeA(kPipe, PIPE_ACCESS_DUPLEX, 0, 2, 1024, 1024, 2000, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(first, "x", 1, &written, nullptr)); // nobody connected yet
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_LISTENING));
    CloseHandle(first);
    CloseHandle(second);
}

TEST(NamedPipes, ShortWritesAreContinuedAndTheReaderSeesABrokenPipeAtTheEnd) {
    sim::Machine::instance().setPipeWriteLimit(500);
    HANDLE pipe =
        CreateNamedPipeA(kPipe, PIPE_ACCESS_DUPLEX | WRITE_DAC, 0, 2, 1024, 1024, 2000, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    std::vector<char> received;
    DWORD endError = 0;
    std::thread reader([&] {
        HANDLE client = CreateFileW(u"\\\\.\\pipe\\pipe_vorizar2", GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(client, INVALID_HANDLE_VALUE);
        char buffer[256];
        DWORD read = 0;
        while (ReadFile(client, buffer, sizeof buffer, &read, nullptr))
            received.insert(received.end(), buffer, buffer + read);
        endError = GetLastError();
        CloseHandle(client);
    });
    ASSERT_TRUE(ConnectNamedPipe(pipe, nullptr));
    EXPECT_FALSE(ConnectNamedPipe(pipe, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_CONNECTED));
    std::vector<char> report(1442);
    for (size_t i = 0; i < report.size(); ++i)
        report[i] = static_cast<char>(i * 7);
    std::vector<DWORD> writes;
    size_t total = 0;
    while (total < report.size()) {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(pipe, report.data() + total,
                              static_cast<DWORD>(report.size() - total), &written, nullptr));
        writes.push_back(written);
        total += written;
    }
    EXPECT_EQ(writes, (std::vector<DWORD>{500, 500, 442}));
    CloseHandle(pipe);
    reader.join();
    EXPECT_EQ(received, report);
    EXPECT_EQ(endError, static_cast<DWORD>(ERROR_BROKEN_PIPE));
    sim::Machine::instance().setPipeWriteLimit(0);
}

TEST(Processes, AMissingProgramFailsToStart) {
    Process missing(u"C:/dizizir/v_WatchDog.exe 4242", u"C:/dizizir/v_WatchDog.exe");
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Processes, ExitCodesAreStillActiveUntilTheProcessEnds) {
    std::u16string shell = programPath("/bin/sh");
    Process quick(shell + u" -c \"exit 3\"");
    ASSERT_TRUE(quick.started);
    EXPECT_NE(quick.info.dwProcessId, 0u);
    EXPECT_EQ(quick.finish(), 3u);

    Process slow(shell + u" -c \"sleep 30\"");
    ASSERT_TRUE(slow.started);
    EXPECT_EQ(WaitForSingleObject(slow.info.hProcess, 10), WAIT_TIMEOUT);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(slow.info.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_TRUE(TerminateProcess(slow.info.hProcess, 9));
    EXPECT_EQ(slow.finish(), 9u);
}

TEST(Processes, CommandLinesSplitAsTheCRuntimeSplitsThem) {
    std::u16string shell = programPath("/bin/sh");
    // The script writes its arguments, each followed by '|', into C:\args.txt.
    Process p(shell + u" -c \"printf '%s|' \\\"$@\\\" > \\\"$VESSA_SIM_ROOT/c/args.txt\\\"\" sh "
                      u"\"a b\" c\\\"d e\\\\f \"g\\\\\\\\\"");
    ASSERT_TRUE(p.started);
    EXPECT_EQ(p.finish(), 0u);
    std::string args;
    ASSERT_TRUE(sim::Machine::instance().root().readFile(u"C:\\args.txt", args));
    EXPECT_EQ(args, "a b|c\"d|e\\\\f|g\\\\|");
}

TEST(Processes, AStartedProgramSharesTheMachinesDrivesAndPipes) {
    HANDLE pipe =
        CreateNamedPipeA(kPipe, PIPE_ACCESS_DUPLEX | WRITE_DAC, 0, 2, 1024, 1024, 2000, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    Process client(programPath(SIM_PIPE_CLIENT) + u" " + sim::fromUtf8(kPipe) +
                   u" C:\\crash\\report.bin");
    ASSERT_TRUE(client.started);
    ASSERT_TRUE(sim::Machine::instance().root().createFolder(u"C:\\crash"));
    ASSERT_TRUE(ConnectNamedPipe(pipe, nullptr));
    std::string report(1442, 'r');
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(pipe, report.data(), 1442, &written, nullptr));
    EXPECT_EQ(written, 1442u);
    CloseHandle(pipe);
    EXPECT_EQ(client.finish(), 0u);
    std::string copied;
    ASSERT_TRUE(sim::Machine::instance().root().readFile(u"C:\\crash\\report.bin", copied));
    EXPECT_EQ(copied, report);
}
