// Installing hooks: under load from 8 threads, on system functions of the platform (the
// simulated user32/gdi32 on Linux, Wine's real ones on the Windows build), and refusals
// that leave everything untouched.
#include "CodeBuffer.h"

#include "hook/Hook.h"

#include "platform/win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

// Targets whose first bytes are one-byte instructions, so a thread stopped while the
// patch is written is often inside the bytes being replaced. Written for the Microsoft
// calling convention on both builds (argument in rcx).
asm(R"(
    .text
    .p2align 4
    .globl hookTestTarget0, hookTestTarget1, hookTestTarget2, hookTestTarget3, hookTestChained
hookTestTarget0:
    nop
    nop
    nop
    nop
    nop
    nop
    leal 10(%rcx), %eax
    ret
    .p2align 4
hookTestTarget1:
    nop
    nop
    nop
    nop
    nop
    nop
    leal 11(%rcx), %eax
    ret
    .p2align 4
hookTestTarget2:
    pushq %rbx
    movl %ecx, %ebx
    nop
    nop
    leal 12(%rbx), %eax
    popq %rbx
    ret
    .p2align 4
hookTestTarget3:
    xorl %eax, %eax
    testl %ecx, %ecx
    je 1f
    leal 13(%rcx), %eax
1:
    ret
    .p2align 4
hookTestChained:
    nop
    nop
    nop
    nop
    nop
    movl %ecx, %eax
    ret
)");

extern "C" {
int __attribute__((ms_abi)) hookTestTarget0(long long);
int __attribute__((ms_abi)) hookTestTarget1(long long);
int __attribute__((ms_abi)) hookTestTarget2(long long);
int __attribute__((ms_abi)) hookTestTarget3(long long);
int __attribute__((ms_abi)) hookTestChained(long long);
}

namespace {

using hook::HookStatus;
using hooktest::Function;

constexpr int kTargets = 4;
constexpr int kReplacedOffset = 1000;
const Function kTargetFunctions[kTargets] = {hookTestTarget0, hookTestTarget1, hookTestTarget2,
                                             hookTestTarget3};
Function s_real[kTargets] = {hookTestTarget0, hookTestTarget1, hookTestTarget2, hookTestTarget3};

int realResult(int target, long long argument) {
    return target == 3 && argument == 0 ? 0 : static_cast<int>(argument) + 10 + target;
}

template <int N> int __attribute__((ms_abi)) replaced(long long argument) {
    return s_real[N](argument) + kReplacedOffset; // through the entry: the real code runs
}
const Function kReplacements[kTargets] = {replaced<0>, replaced<1>, replaced<2>, replaced<3>};

TEST(HookUnderLoad, EveryCallAfterThePatchReachesTheReplacement) {
    constexpr int kThreads = 8;
    std::atomic<bool> stop{false};
    std::atomic<int> installed{0};
    std::atomic<long> missed{0}, wrong{0}, callsAfterPatch{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (long long i = t; !stop.load(); ++i) {
                int target = static_cast<int>(i % kTargets);
                bool hooked = target < installed.load();
                int result = kTargetFunctions[target](i % 100);
                int real = realResult(target, i % 100);
                if (result != real && result != real + kReplacedOffset)
                    ++wrong;
                if (hooked) {
                    ++callsAfterPatch;
                    if (result != real + kReplacedOffset)
                        ++missed;
                }
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int k = 0; k < kTargets; ++k) {
        HookStatus status;
        ASSERT_EQ(hook::setHook(&s_real[k], kReplacements[k], &status), 1)
            << "target " << k << ": " << hook::hookStatusText(status);
        installed.store(k + 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop.store(true);
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(missed.load(), 0);
    EXPECT_GT(callsAfterPatch.load(), 0);
    for (int k = 0; k < kTargets; ++k) {
        EXPECT_NE(s_real[k], kTargetFunctions[k]);
        EXPECT_EQ(s_real[k](7), realResult(k, 7));
    }
}

Function s_chainFirst = hookTestChained;
Function s_chainSecond = hookTestChained;
int __attribute__((ms_abi)) chainFirst(long long argument) {
    return s_chainFirst(argument) + 100;
}
int __attribute__((ms_abi)) chainSecond(long long argument) {
    return s_chainSecond(argument) + 20;
}

TEST(HookChain, ASecondHookRunsBeforeTheFirst) {
    ASSERT_EQ(hook::setHook(&s_chainFirst, chainFirst), 1);
    ASSERT_EQ(hook::setHook(&s_chainSecond, chainSecond), 1);
    EXPECT_EQ(hookTestChained(3), 123);
    EXPECT_EQ(s_chainFirst(3), 3);
}

TEST(HookRefusal, NothingChangesWhenTheTargetCannotBeMoved) {
    // L: dec ecx ; nop x3 ; jne L ; ret  -- a loop back to the first byte
    const std::vector<uint8_t> bytes = {0xFF, 0xC9, 0x90, 0x90, 0x90, 0x75, 0xF9, 0xC3};
    uint8_t* code = hooktest::place(bytes, reinterpret_cast<uint64_t>(&hooktest::allocator));
    ASSERT_NE(code, nullptr);
    void* real = code;
    HookStatus status;
    EXPECT_EQ(hook::setHook(&real, reinterpret_cast<void*>(&chainFirst), &status), 0);
    EXPECT_EQ(status, HookStatus::JumpIntoPatchedBytes);
    EXPECT_EQ(real, code);
    EXPECT_EQ(memcmp(code, bytes.data(), bytes.size()), 0);
}

TEST(HookRefusal, NullArguments) {
    void* real = nullptr;
    EXPECT_EQ(hook::setHook(&real, reinterpret_cast<void*>(&chainFirst)), 0);
    EXPECT_EQ(hook::setHook(static_cast<void**>(nullptr), reinterpret_cast<void*>(&chainFirst)), 0);
    real = reinterpret_cast<void*>(&hookTestChained);
    EXPECT_EQ(hook::installHook(real, nullptr, &real), HookStatus::InvalidArgument);
    EXPECT_EQ(real, reinterpret_cast<void*>(&hookTestChained));
}

// ---- Functions of the platform's own modules ---------------------------------------------
void* exportOf(HMODULE module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(module, name));
}

using EnumDisplayDevicesWFunction = BOOL(WINAPI*)(LPCWSTR, DWORD, PDISPLAY_DEVICEW, DWORD);
EnumDisplayDevicesWFunction s_realEnum = nullptr;
std::atomic<int> s_enumCalls{0};

BOOL WINAPI enumReplacement(LPCWSTR device, DWORD index, PDISPLAY_DEVICEW info, DWORD flags) {
    ++s_enumCalls;
    BOOL result = s_realEnum(device, index, info, flags);
    if (result && info)
        memcpy(info->DeviceString, u"Hooked", sizeof u"Hooked");
    return result;
}

TEST(HookSystemFunction, User32EnumDisplayDevicesW) {
    HMODULE user32 = LoadLibraryA("user32.dll");
    ASSERT_NE(user32, nullptr);
    auto exported =
        reinterpret_cast<EnumDisplayDevicesWFunction>(exportOf(user32, "EnumDisplayDevicesW"));
    ASSERT_NE(exported, nullptr);
    DISPLAY_DEVICEW before;
    memset(&before, 0, sizeof before);
    before.cb = sizeof before;
    ASSERT_TRUE(exported(nullptr, 0, &before, 0));

    s_realEnum = exported;
    HookStatus status;
    ASSERT_EQ(hook::setHook(&s_realEnum, enumReplacement, &status), 1)
        << hook::hookStatusText(status);
    DISPLAY_DEVICEW after;
    memset(&after, 0, sizeof after);
    after.cb = sizeof after;
    ASSERT_TRUE(exported(nullptr, 0, &after, 0));
    EXPECT_EQ(s_enumCalls.load(), 1);
    EXPECT_EQ(memcmp(after.DeviceString, u"Hooked", sizeof u"Hooked"), 0);
    EXPECT_EQ(memcmp(after.DeviceName, before.DeviceName, sizeof before.DeviceName), 0);
    EXPECT_FALSE(exported(nullptr, 1000, &after, 0)); // past the last device: the real answer
}

using DeleteDCFunction = BOOL(WINAPI*)(HDC);
DeleteDCFunction s_realDeleteDC = nullptr;
std::atomic<int> s_deleteCalls{0};

BOOL WINAPI deleteReplacement(HDC dc) {
    ++s_deleteCalls;
    return s_realDeleteDC(dc);
}

TEST(HookSystemFunction, Gdi32DeleteDC) {
    HMODULE gdi32 = LoadLibraryA("gdi32.dll");
    ASSERT_NE(gdi32, nullptr);
    auto exported = reinterpret_cast<DeleteDCFunction>(exportOf(gdi32, "DeleteDC"));
    ASSERT_NE(exported, nullptr);
    BOOL unhooked = exported(nullptr);
    s_realDeleteDC = exported;
    HookStatus status;
    ASSERT_EQ(hook::setHook(&s_realDeleteDC, deleteReplacement, &status), 1)
        << hook::hookStatusText(status);
    EXPECT_EQ(exported(nullptr), unhooked);
    EXPECT_EQ(s_deleteCalls.load(), 1);
}

} // namespace
