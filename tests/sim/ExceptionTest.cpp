// The unhandled-exception filter over faults and breakpoints.
#include "platform/sim/win32_api.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>

namespace {

void* s_page = nullptr;

LONG WINAPI reportAndEnd(PEXCEPTION_POINTERS exception) {
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    fprintf(stderr, "code=%08x params=%u write=%lu at=%p rip=%s\n", record->ExceptionCode,
            record->NumberParameters, static_cast<unsigned long>(record->ExceptionInformation[0]),
            reinterpret_cast<void*>(record->ExceptionInformation[1]),
            exception->ContextRecord->Rip == reinterpret_cast<DWORD64>(record->ExceptionAddress)
                ? "same"
                : "differs");
    return EXCEPTION_EXECUTE_HANDLER;
}

LONG WINAPI unlockAndContinue(PEXCEPTION_POINTERS exception) {
    if (exception->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION)
        return EXCEPTION_CONTINUE_SEARCH;
    mprotect(s_page, 4096, PROT_READ | PROT_WRITE);
    return EXCEPTION_CONTINUE_EXECUTION;
}

LONG WINAPI passes(PEXCEPTION_POINTERS) {
    return EXCEPTION_CONTINUE_SEARCH;
}

void* lockedPage() {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(page, MAP_FAILED);
    return page;
}

} // namespace

TEST(ExceptionFilter, SettingReturnsThePreviousFilter) {
    EXPECT_EQ(SetUnhandledExceptionFilter(passes), nullptr);
    EXPECT_EQ(SetUnhandledExceptionFilter(reportAndEnd), passes);
    EXPECT_EQ(SetUnhandledExceptionFilter(nullptr), reportAndEnd);
}

TEST(ExceptionFilter, AnAccessViolationReachesTheFilterWhichEndsTheProcess) {
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(reportAndEnd);
            s_page = lockedPage();
            *static_cast<volatile int*>(s_page) = 1;
        },
        ::testing::ExitedWithCode(0x05), "code=c0000005 params=2 write=1 at=0x[0-9a-f]+ rip=same");
}

TEST(ExceptionFilter, BreakpointsAndIllegalInstructionsHaveTheirCodes) {
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(reportAndEnd);
            DebugBreak();
        },
        ::testing::ExitedWithCode(0x03), "code=80000003");
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(reportAndEnd);
            raise(SIGILL);
        },
        ::testing::ExitedWithCode(0x1D), "code=c000001d");
}

TEST(ExceptionFilter, ContinueExecutionResumesTheFaultingThread) {
    SetUnhandledExceptionFilter(unlockAndContinue);
    s_page = lockedPage();
    *static_cast<volatile int*>(s_page) = 42;
    EXPECT_EQ(*static_cast<volatile int*>(s_page), 42);
    SetUnhandledExceptionFilter(nullptr);
    munmap(s_page, 4096);
}

TEST(ExceptionFilter, ContinueSearchLeavesTheFaultToThePreviousHandler) {
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(passes);
            raise(SIGILL);
        },
        ::testing::KilledBySignal(SIGILL), "");
}
