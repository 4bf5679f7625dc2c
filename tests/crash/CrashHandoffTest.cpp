// The crash hand-off end to end, on the machine of the build (Wine's, or the simulated
// one): a crashing game.exe whose library start-up armed the filter, v_WatchDog.exe started
// from "C:/dizizir" with the process id, the 1442-byte report through the pipe, and the
// readable report the watchdog writes; and a watchdog that does not take the report never
// holds the crashing process for long.
#include "CrashHandoff.h"

#include "platform/win.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

const char16_t kWatchdogFolder[] = u"C:\\dizizir";
const char16_t kWatchdog[] = u"C:\\dizizir\\v_WatchDog.exe";
const char16_t kIdleWatchdog[] = u"C:\\dizizir\\v_idle.exe";

std::u16string wide(const std::string& s) {
    return text::widen(s.c_str());
}

// A host path as the machine's Windows path: both Wine and the simulated machine show the
// host's file system as drive Z:.
std::u16string hostPath(const char* path) {
    std::u16string out = u"Z:";
    for (const char* p = path; *p; ++p)
        out += *p == '/' ? u'\\' : static_cast<char16_t>(*p);
    return out;
}

void createFolders(const std::u16string& path) {
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == u'\\')
            CreateDirectoryW(text::w(path.substr(0, i)), nullptr);
}

bool readFile(const std::u16string& path, std::string& contents) {
    HANDLE file = CreateFileW(text::w(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    contents.clear();
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        contents.append(buffer, read);
    CloseHandle(file);
    return true;
}

bool writeFile(const std::u16string& path, const std::string& contents) {
    HANDLE file = CreateFileW(text::w(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok =
        WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == contents.size();
}

void install(const char* program, const char16_t* as) {
    createFolders(kWatchdogFolder);
    ASSERT_TRUE(CopyFileW(text::w(hostPath(program)), text::w(as), FALSE))
        << "error " << GetLastError();
}

// The loader ini of the current user, switching the crash handler on for the test's life.
class CrashHandlerSwitch {
public:
    CrashHandlerSwitch() {
        WCHAR profile[MAX_PATH] = {};
        DWORD length = GetEnvironmentVariableW(text::w(u"USERPROFILE"), profile, MAX_PATH);
        EXPECT_GT(length, 0u);
        std::u16string folder = reinterpret_cast<const char16_t*>(profile);
        folder += u"\\Quorvex";
        createFolders(folder);
        m_ini = folder + u"\\vessaloader.ini";
        EXPECT_TRUE(writeFile(m_ini, "[GENERAL]\r\nCRASH_HANDLER_ACTIVE=1\r\n"));
    }
    ~CrashHandlerSwitch() { DeleteFileW(text::w(m_ini)); }

private:
    std::u16string m_ini;
};

struct GameRun {
    DWORD processId = 0;
    DWORD exitCode = 0;
};

GameRun runToEnd(const std::u16string& program, const std::u16string& arguments) {
    std::u16string commandLine = u"\"" + program + u"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    GameRun run;
    BOOL started = CreateProcessW(text::w(program), const_cast<WCHAR*>(text::w(commandLine)),
                                  nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
    EXPECT_TRUE(started) << "error " << GetLastError();
    if (!started)
        return run;
    run.processId = info.dwProcessId;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, 120000));
    GetExitCodeProcess(info.hProcess, &run.exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return run;
}

// The path without extension of the first of the watchdog's file pairs for process
// `processId` ("crash-<pid>-<time>.txt"/".bin"); false when there is none.
bool findReportBase(DWORD processId, std::u16string& base) {
    std::u16string pattern =
        std::u16string(kWatchdogFolder) + u"\\crash-" + wide(std::to_string(processId)) + u"-*.txt";
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(text::w(pattern), &found);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    std::u16string name = reinterpret_cast<const char16_t*>(found.cFileName);
    base = std::u16string(kWatchdogFolder) + u"\\" + name.substr(0, name.size() - 4);
    return true;
}

// The watchdog's readable and raw reports for process `processId`.
bool findReport(DWORD processId, std::string& readable, std::string& raw) {
    std::u16string base;
    return findReportBase(processId, base) && readFile(base + u".txt", readable) &&
           readFile(base + u".bin", raw);
}

// Deletes the first of the watchdog's file pairs for process `processId`.
bool deleteReport(DWORD processId) {
    std::u16string base;
    return findReportBase(processId, base) && DeleteFileW(text::w(base + u".txt")) &&
           DeleteFileW(text::w(base + u".bin"));
}

uint32_t u32At(const std::string& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + i])) << (8 * i);
    return value;
}

// An exception to hand off without crashing: an access violation writing address 0x10.
struct FakeCrash {
    EXCEPTION_RECORD record = {};
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {&record, &context};
    FakeCrash() {
        record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = 1;
        record.ExceptionInformation[1] = 0x10;
        context.Rip = 0x1234;
        record.ExceptionAddress = reinterpret_cast<PVOID>(context.Rip);
        context.Rax = 0x1122334455667788ull;
    }
};

std::u16string ownProcessId() {
    return wide(std::to_string(GetCurrentProcessId()));
}

} // namespace

TEST(CrashHandoff, ACrashingGameHandsItsReportToTheWatchdog) {
    install(CRASH_TEST_WATCHDOG, kWatchdog);
    CrashHandlerSwitch crashHandler;
    GameRun game = runToEnd(hostPath(CRASH_TEST_GAME), hostPath(CRASH_TEST_LIBRARY));
    // 10: the library did not load; 11: the bad write did not crash.
    ASSERT_NE(10u, game.exitCode);
    ASSERT_NE(11u, game.exitCode);
    ASSERT_NE(0u, game.exitCode);

    std::string readable;
    std::string raw;
    ASSERT_TRUE(findReport(game.processId, readable, raw)) << "no report for " << game.processId;
    // Exactly one report of 1442 bytes arrived, with the crashing executable's name.
    ASSERT_EQ(crashreport::kSize, raw.size());
    EXPECT_EQ(crashreport::kMarker, u32At(raw, crashreport::kMarkerOffset));
    EXPECT_EQ(EXCEPTION_ACCESS_VIOLATION, u32At(raw, crashreport::kExceptionOffset));
    std::string name = raw.substr(crashreport::kNameOffset, 2 * crashreport::kNameChars);
    EXPECT_EQ(std::string("g\0a\0m\0e\0.\0e\0x\0e\0", 16), name.substr(0, 16));
    EXPECT_EQ(std::string(2 * crashreport::kNameChars - 16, '\0'), name.substr(16));

    // The watchdog was started with the crashed process's id, and says what happened where.
    std::string pid = std::to_string(game.processId);
    EXPECT_NE(std::string::npos,
              readable.find("Command line: C:/dizizir/v_WatchDog.exe " + pid + "\r\n"))
        << readable;
    EXPECT_NE(std::string::npos, readable.find("Process id:   " + pid + "\r\n")) << readable;
    EXPECT_NE(std::string::npos, readable.find("Executable:   game.exe\r\n")) << readable;
    EXPECT_NE(std::string::npos,
              readable.find("0xC0000005 EXCEPTION_ACCESS_VIOLATION (access violation)"))
        << readable;
    EXPECT_NE(std::string::npos, readable.find("writing address 0x0000000000000010")) << readable;
    EXPECT_NE(std::string::npos, readable.find(" in game.exe+0x")) << readable;
    EXPECT_NE(std::string::npos, readable.find("1442 bytes received, 1442 expected\r\n"))
        << readable;
}

TEST(CrashHandoff, TheCommandLineIsTheProgramNameAndTheProcessId) {
    WCHAR line[64];
    ASSERT_TRUE(formatWatchdogCommandLine(text::w(u"C:/dizizir/v_WatchDog.exe"), text::w(u"4242"),
                                          line, 64));
    EXPECT_EQ(u"C:/dizizir/v_WatchDog.exe 4242", std::u16string(reinterpret_cast<char16_t*>(line)));
    // After the last backslash only; arguments that begin with a blank get no second one.
    ASSERT_TRUE(formatWatchdogCommandLine(text::w(u"C:\\tools\\w.exe"), text::w(u" 7"), line, 64));
    EXPECT_EQ(u"w.exe 7", std::u16string(reinterpret_cast<char16_t*>(line)));
    ASSERT_TRUE(formatWatchdogCommandLine(text::w(u"C:\\tools\\w.exe"), text::w(u""), line, 64));
    EXPECT_EQ(u"w.exe", std::u16string(reinterpret_cast<char16_t*>(line)));
    // Too long: refused, still terminated.
    EXPECT_FALSE(
        formatWatchdogCommandLine(text::w(u"C:\\tools\\w.exe"), text::w(u"4242"), line, 8));
    EXPECT_EQ(u"w.exe 4", std::u16string(reinterpret_cast<char16_t*>(line)));
}

TEST(CrashHandoff, TheWatchdogReceivesTheReportOfTheException) {
    install(CRASH_TEST_WATCHDOG, kWatchdog);
    FakeCrash crash;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              launchWatchdog(&crash.pointers, text::w(kWatchdog), text::w(ownProcessId())));
    std::string readable;
    std::string raw;
    ASSERT_TRUE(findReport(GetCurrentProcessId(), readable, raw));
    unsigned char expected[crashreport::kSize];
    fillCrashReport(expected, &crash.pointers, GetCurrentThreadId());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(expected), sizeof expected), raw);
    EXPECT_NE(std::string::npos, readable.find("RAX=1122334455667788")) << readable;
    EXPECT_NE(std::string::npos,
              readable.find("Thread id:    " + std::to_string(GetCurrentThreadId()) + "\r\n"))
        << readable;
}

TEST(CrashHandoff, AnEmptyProcessIdArgumentNamesNoProcess) {
    install(CRASH_TEST_WATCHDOG, kWatchdog);
    // Its report goes under process id 0; an earlier run's must not be read instead.
    std::string readable;
    std::string raw;
    while (findReport(0, readable, raw))
        ASSERT_TRUE(deleteReport(0));
    FakeCrash crash;
    // A quoted empty argument: the watchdog's first argument is there, and empty.
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              launchWatchdog(&crash.pointers, text::w(kWatchdog), text::w(u"\"\"")));
    ASSERT_TRUE(findReport(0, readable, raw));
    EXPECT_NE(std::string::npos, readable.find("Process id:   (not given on the command line)\r\n"))
        << readable;
    // No process was asked for its modules (process 0 would have answered the watchdog's own).
    EXPECT_NE(std::string::npos, readable.find("Modules: could not be read")) << readable;
}

TEST(CrashHandoff, AWatchdogThatNeverConnectsIsGivenUpOnAfterTheTimeLimit) {
    install(CRASH_TEST_IDLE_WATCHDOG, kIdleWatchdog);
    FakeCrash crash;
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT),
              launchWatchdog(&crash.pointers, text::w(kIdleWatchdog), text::w(u"600000")));
    // It returned (not after the watchdog's ten minutes): the idle watchdog was ended.
    EXPECT_LT(GetTickCount64() - start, 300000u);
}

TEST(CrashHandoff, AWatchdogThatEndsWithoutConnectingEndsTheWaitAtOnce) {
    install(CRASH_TEST_IDLE_WATCHDOG, kIdleWatchdog);
    FakeCrash crash;
    // Not ERROR_TIMEOUT: the wait ended when the watchdog did, before the time limit.
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED),
              launchWatchdog(&crash.pointers, text::w(kIdleWatchdog), text::w(u"0")));
}

TEST(CrashHandoff, APipeThatCannotBeCreatedEndsTheHandoffButNotTheProcess) {
    install(CRASH_TEST_IDLE_WATCHDOG, kIdleWatchdog);
    // Another server holds the name with a single instance.
    HANDLE taken = CreateNamedPipeA(crashreport::kPipeName, PIPE_ACCESS_DUPLEX, 0, 1, 1024, 1024,
                                    2000, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, taken);
    FakeCrash crash;
    DWORD result = launchWatchdog(&crash.pointers, text::w(kIdleWatchdog), text::w(u"600000"));
    EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), result);
    EXPECT_NE(static_cast<DWORD>(ERROR_TIMEOUT), result); // no watchdog was started
    CloseHandle(taken);
}

TEST(CrashHandoff, AMissingWatchdogProgramIsReported) {
    FakeCrash crash;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              launchWatchdog(&crash.pointers, text::w(u"C:\\dizizir\\none.exe"), text::w(u"1")));
}

TEST(CrashHandoff, AWatchdogThatOpenedThePipeFirstGetsTheReport) {
    // A pipe of this test's own, so that no other hand-off on the machine meets it.
    const char16_t name[] = u"\\\\.\\pipe\\vessa_test_early_watchdog";
    HANDLE pipe = CreateNamedPipeW(text::w(name), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, 0, 1,
                                   1024, 1024, 2000, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    // The watchdog is faster than the crashing process: it opens the pipe before the connect.
    HANDLE client = CreateFileW(text::w(name), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, client);
    std::string received;
    std::thread reader([&] {
        char buffer[512];
        DWORD read = 0;
        while (ReadFile(client, buffer, sizeof buffer, &read, nullptr) && read > 0)
            received.append(buffer, read);
    });
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE running = CreateEventW(nullptr, TRUE, FALSE, nullptr); // a watchdog that runs on
    FakeCrash crash;
    testing::internal::CaptureStdout();
    DWORD result = sendCrashReport(pipe, event, running, &crash.pointers, 4321);
    testing::internal::GetCapturedStdout();
    CloseHandle(pipe); // the reader sees the end of the report
    reader.join();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), result);
    ASSERT_EQ(crashreport::kSize, received.size());
    EXPECT_EQ(4321u, u32At(received, crashreport::kThreadIdOffset));
    EXPECT_EQ(crashreport::kMarker, u32At(received, crashreport::kMarkerOffset));
    CloseHandle(client);
    CloseHandle(event);
    CloseHandle(running);
}
