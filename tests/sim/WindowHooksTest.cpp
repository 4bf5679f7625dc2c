// Thread window hooks and thread message queues of the simulated user32.
#include "platform/sim/win32_api.h"
#include "sim/Machine.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

std::vector<int> s_order;
HHOOK s_first = nullptr;
HHOOK s_second = nullptr;

LRESULT CALLBACK firstHook(int code, WPARAM wParam, LPARAM lParam) {
    s_order.push_back(1);
    return CallNextHookEx(s_first, code, wParam, lParam);
}

LRESULT CALLBACK secondHook(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    s_order.push_back(code == HC_ACTION && msg->message == WM_QUIT ? 20 : 2);
    return CallNextHookEx(s_second, code, wParam, lParam);
}

} // namespace

TEST(WindowHooks, RetrievedMessagesRunTheThreadsChainNewestFirst) {
    s_first = SetWindowsHookExA(WH_GETMESSAGE, firstHook, nullptr, GetCurrentThreadId());
    s_second = SetWindowsHookExA(WH_GETMESSAGE, secondHook, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, s_first);
    ASSERT_NE(nullptr, s_second);

    MSG msg = {};
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)); // empty queue: no hook runs
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_QUIT, 7, 0));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(WM_QUIT, msg.message);
    EXPECT_EQ(7u, msg.wParam);
    EXPECT_EQ((std::vector<int>{20, 1}), s_order);

    // Unhooked procedures no longer run; an unknown handle is refused.
    ASSERT_TRUE(UnhookWindowsHookEx(s_second));
    EXPECT_FALSE(UnhookWindowsHookEx(s_second));
    EXPECT_EQ(ERROR_INVALID_HOOK_HANDLE, static_cast<long>(GetLastError()));
    s_order.clear();
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ((std::vector<int>{1}), s_order);
    EXPECT_TRUE(UnhookWindowsHookEx(s_first));
}

TEST(WindowHooks, OtherThreadsMessagesDoNotRunThisThreadsHooks) {
    s_order.clear();
    s_first = SetWindowsHookExA(WH_GETMESSAGE, firstHook, nullptr, GetCurrentThreadId());
    std::thread other([] {
        MSG msg = {};
        ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0));
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    });
    other.join();
    EXPECT_TRUE(s_order.empty());
    EXPECT_TRUE(UnhookWindowsHookEx(s_first));
}

TEST(WindowHooks, GlobalHooksAndMissingProceduresAreRefused) {
    EXPECT_EQ(nullptr, SetWindowsHookExA(WH_GETMESSAGE, firstHook, nullptr, 0));
    EXPECT_EQ(ERROR_HOOK_NEEDS_HMOD, static_cast<long>(GetLastError()));
    EXPECT_EQ(nullptr, SetWindowsHookExA(WH_GETMESSAGE, nullptr, nullptr, GetCurrentThreadId()));
    EXPECT_EQ(ERROR_INVALID_FILTER_PROC, static_cast<long>(GetLastError()));
    EXPECT_EQ(2u, sim::Machine::instance().journal().count("user32.dll", "SetWindowsHookExA"));
}
