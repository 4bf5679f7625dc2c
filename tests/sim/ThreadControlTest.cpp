// kernel32.dll's thread control over host threads: snapshots, suspension counts, reading
// and writing a stopped thread's registers.
#include "platform/win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

// Where a redirected thread lands: it counts its arrival and spins there for good.
asm(R"(
    .text
    .p2align 4
    .globl simTestRedirected
simTestRedirected:
    lock incl simTestArrivals(%rip)
1:
    pause
    jmp 1b
    .data
    .p2align 2
    .globl simTestArrivals
simTestArrivals:
    .long 0
    .text
)");
extern "C" void simTestRedirected();
extern "C" int simTestArrivals;

namespace {

/// A thread counting as fast as it can, detached (a redirected one never returns).
struct Spinner {
    std::atomic<long> count{0};
    std::atomic<DWORD> id{0};

    void start() {
        std::thread([this] {
            id.store(GetCurrentThreadId());
            for (;;)
                count.fetch_add(1);
        }).detach();
        while (id.load() == 0 || count.load() == 0)
            std::this_thread::yield();
    }

    bool advances() const {
        long before = count.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return count.load() != before;
    }
};

TEST(ThreadControl, SuspensionStopsTheThreadAndCountsAsOnWindows) {
    static Spinner spinner;
    spinner.start();
    HANDLE thread = OpenThread(THREAD_ALL_ACCESS, FALSE, spinner.id.load());
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(SuspendThread(thread), 0u);
    EXPECT_EQ(SuspendThread(thread), 1u);
    EXPECT_FALSE(spinner.advances());
    CONTEXT context;
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    ASSERT_TRUE(GetThreadContext(thread, &context));
    EXPECT_NE(context.Rip, 0u);
    EXPECT_NE(context.Rsp, 0u);
    EXPECT_EQ(ResumeThread(thread), 2u);
    EXPECT_FALSE(spinner.advances());
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_TRUE(spinner.advances());
    EXPECT_EQ(ResumeThread(thread), 0u); // not suspended
    // A running thread has no registers to read.
    EXPECT_FALSE(GetThreadContext(thread, &context));
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(ThreadControl, ANewInstructionPointerIsWhereTheThreadGoesOn) {
    static Spinner spinner;
    spinner.start();
    HANDLE thread = OpenThread(THREAD_ALL_ACCESS, FALSE, spinner.id.load());
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(SuspendThread(thread), 0u);
    CONTEXT context;
    context.ContextFlags = CONTEXT_CONTROL;
    ASSERT_TRUE(GetThreadContext(thread, &context));
    context.Rip = reinterpret_cast<DWORD64>(&simTestRedirected);
    ASSERT_TRUE(SetThreadContext(thread, &context));
    ASSERT_EQ(ResumeThread(thread), 1u);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (__atomic_load_n(&simTestArrivals, __ATOMIC_SEQ_CST) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(__atomic_load_n(&simTestArrivals, __ATOMIC_SEQ_CST), 1);
    EXPECT_FALSE(spinner.advances());
    CloseHandle(thread);
}

TEST(ThreadControl, SnapshotListsTheProcessThreads) {
    static Spinner spinner;
    spinner.start();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool self = false, other = false;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        EXPECT_EQ(entry.th32OwnerProcessID, GetCurrentProcessId());
        self |= entry.th32ThreadID == GetCurrentThreadId();
        other |= entry.th32ThreadID == spinner.id.load();
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(self);
    EXPECT_TRUE(other);
    entry.dwSize = 4;
    EXPECT_FALSE(Thread32First(snapshot, &entry));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));
    CloseHandle(snapshot);
}

TEST(ThreadControl, UnknownThreadsAndHandlesAreRefused) {
    EXPECT_EQ(OpenThread(THREAD_ALL_ACCESS, FALSE, 0x7FFFFFF0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HANDLE bogus = reinterpret_cast<HANDLE>(0x7FFF0);
    EXPECT_EQ(SuspendThread(bogus), static_cast<DWORD>(-1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
