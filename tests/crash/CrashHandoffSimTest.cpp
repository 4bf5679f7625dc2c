// The crash hand-off on the simulated machine, where a test can shorten every pipe write
// and read what the hand-off prints: short writes are continued until all 1442 bytes are
// through, and each step is printed as it happens.
#include "CrashHandoff.h"

#include "platform/win.h"
#include "sim/Machine.h"

#include <gtest/gtest.h>

#include <string>

TEST(CrashHandoffSim, ShortWritesAreContinuedUntilTheWholeReportIsThrough) {
    sim::Machine& machine = sim::Machine::instance();
    ASSERT_TRUE(machine.root().createFolder(u"C:\\dizizir"));
    ASSERT_TRUE(CopyFileW(text::w(machine.root().toWindows(CRASH_TEST_WATCHDOG)),
                          u"C:\\dizizir\\v_WatchDog.exe", FALSE));
    machine.setPipeWriteLimit(500);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_BREAKPOINT;
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {&record, &context};
    std::u16string processId = text::widen(std::to_string(GetCurrentProcessId()).c_str());

    testing::internal::CaptureStdout();
    DWORD result = launchWatchdog(&pointers, u"C:/dizizir/v_WatchDog.exe", text::w(processId));
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), result);
    // The watchdog's own line comes after ours (it ends after our pipe is closed).
    EXPECT_EQ(0u, printed.find("Wrote 500 bytes (pipe_buff_size=1442)"
                               "Wrote 500 bytes (pipe_buff_size=1442)"
                               "Wrote 442 bytes (pipe_buff_size=1442)"
                               "Done writing into pipe\n"))
        << printed;
    size_t pipeWrites = 0;
    for (const sim::JournalEntry& entry : machine.journal().entries())
        if (entry.entry == "WriteFile" && entry.arguments.find("bytes=") != std::string::npos &&
            entry.arguments.find("overlapped") != std::string::npos)
            ++pipeWrites;
    EXPECT_EQ(3u, pipeWrites);
    EXPECT_EQ(1u, machine.journal().count("kernel32.dll", "CreateProcessW"));
}

TEST(CrashHandoffSim, ArmingInstallsTheFilter) {
    armCrashHandoff();
    EXPECT_TRUE(isCrashHandoffArmed());
    EXPECT_EQ(crashFilter, SetUnhandledExceptionFilter(nullptr));
}
