// Threads, waits, events and critical sections of the simulated kernel32.dll.
#include "platform/sim/win32_api.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

struct Shared {
    CRITICAL_SECTION lock;
    std::atomic<int> inside{0};
    std::atomic<int> maxInside{0};
    int counter = 0;
    HANDLE event = nullptr;
    std::atomic<DWORD> threadId{0};
};

DWORD WINAPI returnsParameter(LPVOID parameter) {
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
}

DWORD WINAPI waitsForEvent(LPVOID parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    shared->threadId = GetCurrentThreadId();
    return WaitForSingleObject(shared->event, INFINITE) == WAIT_OBJECT_0 ? 5 : 6;
}

DWORD WINAPI countsUnderLock(LPVOID parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    for (int i = 0; i < 2000; ++i) {
        EnterCriticalSection(&shared->lock);
        int now = ++shared->inside;
        if (now > shared->maxInside)
            shared->maxInside = now;
        ++shared->counter;
        --shared->inside;
        LeaveCriticalSection(&shared->lock);
    }
    return 0;
}

DWORD WINAPI triesTheLock(LPVOID parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    if (!TryEnterCriticalSection(&shared->lock))
        return 1;
    LeaveCriticalSection(&shared->lock);
    return 0;
}

DWORD runToEnd(LPTHREAD_START_ROUTINE start, void* parameter) {
    HANDLE thread = CreateThread(nullptr, 0, start, parameter, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_TRUE(CloseHandle(thread));
    return code;
}

} // namespace

TEST(Threads, InvalidHandlesAndParametersFail) {
    HANDLE bogus = reinterpret_cast<HANDLE>(0x7777770);
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(bogus, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(bogus, &code));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(bogus));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(SetEvent(bogus));
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(CloseHandle(GetCurrentProcess())); // pseudo handles close successfully
}

TEST(Threads, ExitCodeIsTheRoutinesResultAndTheHandleClosesOnce) {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, returnsParameter, reinterpret_cast<void*>(77), 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0); // stays signalled
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 77u);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_FALSE(CloseHandle(thread));
}

TEST(Threads, ARunningThreadIsStillActiveUntilItsEventIsSet) {
    Shared shared;
    shared.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(shared.event, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, waitsForEvent, &shared, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_TRUE(SetEvent(shared.event));
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 5u);
    EXPECT_EQ(shared.threadId.load(), id);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(CloseHandle(shared.event));
}

TEST(Threads, ASuspendedThreadRunsOnlyAfterResume) {
    Shared shared;
    shared.event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, waitsForEvent, &shared, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    EXPECT_EQ(shared.threadId.load(), 0u);
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_NE(shared.threadId.load(), 0u);
    CloseHandle(thread);
    CloseHandle(shared.event);
}

TEST(Events, AutoResetEventsReleaseOneWaitManualResetEventsStaySignalled) {
    HANDLE autoReset = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);
    HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    CloseHandle(autoReset);
    CloseHandle(manual);
}

TEST(CriticalSections, TheOwningThreadReentersAndOthersWaitUntilTheLastLeave) {
    Shared shared;
    InitializeCriticalSection(&shared.lock);
    EnterCriticalSection(&shared.lock);
    EnterCriticalSection(&shared.lock);
    EXPECT_TRUE(TryEnterCriticalSection(&shared.lock));
    EXPECT_EQ(runToEnd(triesTheLock, &shared), 1u);
    LeaveCriticalSection(&shared.lock);
    LeaveCriticalSection(&shared.lock);
    EXPECT_EQ(runToEnd(triesTheLock, &shared), 1u); // still held once
    LeaveCriticalSection(&shared.lock);
    EXPECT_EQ(runToEnd(triesTheLock, &shared), 0u);
    DeleteCriticalSection(&shared.lock);
}

TEST(CriticalSections, ExcludeOtherThreads) {
    Shared shared;
    InitializeCriticalSection(&shared.lock);
    HANDLE threads[4];
    for (HANDLE& thread : threads)
        thread = CreateThread(nullptr, 0, countsUnderLock, &shared, 0, nullptr);
    for (HANDLE thread : threads) {
        EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    EXPECT_EQ(shared.counter, 8000);
    EXPECT_EQ(shared.maxInside.load(), 1);
    DeleteCriticalSection(&shared.lock);
}

TEST(Time, CountersAdvanceAndTheFrequencyIsFixed) {
    LARGE_INTEGER frequency, first, second;
    EXPECT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 10000000);
    EXPECT_TRUE(QueryPerformanceCounter(&first));
    Sleep(2);
    EXPECT_TRUE(QueryPerformanceCounter(&second));
    EXPECT_GT(second.QuadPart, first.QuadPart);
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_GE(now.wYear, 2024);
    EXPECT_GE(now.wMonth, 1);
    EXPECT_LE(now.wMonth, 12);
}

TEST(Time, MultimediaTimerPeriodsAreCheckedLikeWindows) {
    EXPECT_EQ(timeBeginPeriod(1), static_cast<MMRESULT>(TIMERR_NOERROR));
    EXPECT_EQ(timeEndPeriod(1), static_cast<MMRESULT>(TIMERR_NOERROR));
    EXPECT_EQ(timeBeginPeriod(0), static_cast<MMRESULT>(TIMERR_NOCANDO));
    DWORD first = timeGetTime();
    Sleep(3);
    EXPECT_GE(timeGetTime() - first, 2u);
}
