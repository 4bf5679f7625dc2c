// Overlapped pipe operations, waits on several objects, module snapshots, file copies and
// the standard handles: what a crash hand-off with bounded waits relies on.
#include "platform/sim/win32_api.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

const char kPipe[] = "\\\\.\\pipe\\overlapped_test";
const char16_t kPipeWide[] = u"\\\\.\\pipe\\overlapped_test";

HANDLE createPipe() {
    return CreateNamedPipeA(kPipe, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, 0, 2, 1024, 1024,
                            2000, nullptr);
}

HANDLE openClient() {
    return CreateFileW(kPipeWide, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

} // namespace

TEST(OverlappedPipes, AConnectPendsUntilAClientOpensThePipe) {
    HANDLE pipe = createPipe();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    EXPECT_FALSE(ConnectNamedPipe(pipe, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT); // reset when the operation started
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(pipe, &overlapped, &transferred, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));

    HANDLE client = openClient();
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(pipe, &overlapped, &transferred, TRUE));

    // An overlapped write completes with its byte count; the client reads it.
    OVERLAPPED write = {};
    write.hEvent = event;
    EXPECT_FALSE(WriteFile(pipe, "report", 6, nullptr, &write));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_TRUE(GetOverlappedResult(pipe, &write, &transferred, TRUE));
    EXPECT_EQ(transferred, 6u);
    char buffer[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(client, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "report");
    CloseHandle(client);
    CloseHandle(pipe);
    CloseHandle(event);
}

TEST(OverlappedPipes, AClientThatOpenedFirstIsConnectedAtOnce) {
    HANDLE pipe = createPipe();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    HANDLE client = openClient();
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(ConnectNamedPipe(pipe, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_CONNECTED));
    DWORD written = 0;
    OVERLAPPED write = {};
    write.hEvent = overlapped.hEvent;
    WriteFile(pipe, "x", 1, &written, &write);
    EXPECT_TRUE(GetOverlappedResult(pipe, &write, &written, TRUE));
    EXPECT_EQ(written, 1u);
    CloseHandle(overlapped.hEvent);
    CloseHandle(client);
    CloseHandle(pipe);
}

TEST(OverlappedPipes, ACancelledConnectEndsAborted) {
    HANDLE pipe = createPipe();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(ConnectNamedPipe(pipe, &overlapped));
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 50), WAIT_TIMEOUT);
    EXPECT_TRUE(CancelIo(pipe));
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(pipe, &overlapped, &transferred, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_FALSE(CancelIoEx(pipe, &overlapped)); // nothing left to cancel
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));

    // Closing a pipe whose connect still pends ends the operation too.
    EXPECT_FALSE(ConnectNamedPipe(pipe, &overlapped));
    EXPECT_TRUE(CloseHandle(pipe));
    CloseHandle(overlapped.hEvent);
}

TEST(Waits, WaitForMultipleObjectsNamesTheFirstSignalledObject) {
    HANDLE events[2] = {CreateEventW(nullptr, TRUE, FALSE, nullptr),
                        CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 20), WAIT_TIMEOUT);
    std::thread setter([&] {
        Sleep(20);
        SetEvent(events[1]);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 10000), WAIT_OBJECT_0 + 1);
    setter.join();
    // The auto-reset event was consumed; waiting for all needs both.
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 20), WAIT_TIMEOUT);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 10000), WAIT_OBJECT_0);

    HANDLE bad[2] = {events[0], reinterpret_cast<HANDLE>(0x7777)};
    EXPECT_EQ(WaitForMultipleObjects(2, bad, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForMultipleObjects(0, events, FALSE, 0), WAIT_FAILED);
    CloseHandle(events[0]);
    CloseHandle(events[1]);
}

TEST(ModuleSnapshots, TheModulesOfAProcessAreItsMappedFiles) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
    MODULEENTRY32W entry;
    entry.dwSize = sizeof entry;
    auto inside = reinterpret_cast<uintptr_t>(&CreateToolhelp32Snapshot);
    bool foundKernel32 = false;
    for (BOOL more = Module32FirstW(snapshot, &entry); more;
         more = Module32NextW(snapshot, &entry)) {
        auto base = reinterpret_cast<uintptr_t>(entry.modBaseAddr);
        if (sim::toUtf8(sim::wideOf(entry.szModule)) == "kernel32.dll") {
            foundKernel32 = true;
            EXPECT_GE(inside, base);
            EXPECT_LT(inside, base + entry.modBaseSize);
            EXPECT_EQ(entry.hModule, GetModuleHandleW(u"kernel32.dll"));
            EXPECT_EQ(sim::toUtf8(sim::wideOf(entry.szExePath)).substr(0, 3), "Z:\\");
        }
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(foundKernel32);
    entry.dwSize = 8;
    EXPECT_FALSE(Module32FirstW(snapshot, &entry));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseHandle(snapshot);
    EXPECT_EQ(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0x7FFFFFF0u), INVALID_HANDLE_VALUE);
}

TEST(Files, ACopyKeepsThePermissionsAndCanRefuseToOverwrite) {
    sim::RootFolder& root = sim::Machine::instance().root();
    ASSERT_TRUE(root.writeFile(u"C:\\tool.sh", "#!/bin/sh\nexit 7\n"));
    ASSERT_EQ(chmod(root.toHost(u"C:\\tool.sh").c_str(), 0755), 0);
    EXPECT_TRUE(CopyFileW(u"C:\\tool.sh", u"C:\\copy.sh", FALSE));
    struct stat st;
    ASSERT_EQ(stat(root.toHost(u"C:\\copy.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_FALSE(CopyFileW(u"C:\\tool.sh", u"C:\\copy.sh", TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_FALSE(CopyFileW(u"C:\\missing.sh", u"C:\\x.sh", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(CopyFileW(u"C:\\tool.sh", u"C:\\no\\dir\\x.sh", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(StandardHandles, TheOutputHandleWritesToTheProcessOutput) {
    testing::internal::CaptureStdout();
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_EQ(out, GetStdHandle(STD_OUTPUT_HANDLE));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(out, "to stdout\n", 10, &written, nullptr));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "to stdout\n");
    EXPECT_EQ(GetStdHandle(12345), INVALID_HANDLE_VALUE);
}
