// Virtual memory of the simulated kernel32.dll: what a hooking engine relies on.
#include "platform/sim/win32_api.h"

#include <gtest/gtest.h>

#include <string.h>

TEST(VirtualMemory, InvalidParametersFail) {
    SetLastError(0);
    EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(VirtualAlloc(nullptr, 4096, MEM_COMMIT, 0x12345), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    int local = 0;
    EXPECT_FALSE(VirtualFree(&local, 0, MEM_RELEASE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
    EXPECT_FALSE(VirtualProtect(&local, 4, PAGE_READWRITE, nullptr));
    MEMORY_BASIC_INFORMATION info;
    EXPECT_EQ(VirtualQuery(&local, &info, sizeof info - 1), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(VirtualMemory, AllocationsAreGranularityAlignedAndQueryable) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    EXPECT_EQ(system.dwAllocationGranularity, 65536u);
    EXPECT_EQ(system.dwPageSize, 4096u);

    auto* memory = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, 10000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(memory) % 65536, 0u);
    memset(memory, 0xCC, 10000);
    MEMORY_BASIC_INFORMATION info;
    ASSERT_EQ(VirtualQuery(memory + 5000, &info, sizeof info), sizeof info);
    EXPECT_EQ(info.BaseAddress, memory + 4096);
    EXPECT_EQ(info.AllocationBase, memory);
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));
    EXPECT_EQ(info.Type, static_cast<DWORD>(MEM_PRIVATE));

    EXPECT_FALSE(VirtualFree(memory, 4096, MEM_RELEASE)); // a release takes size 0
    EXPECT_FALSE(VirtualFree(memory + 4096, 0, MEM_RELEASE));
    EXPECT_TRUE(VirtualFree(memory, 0, MEM_RELEASE));
    ASSERT_EQ(VirtualQuery(memory, &info, sizeof info), sizeof info);
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
}

TEST(VirtualMemory, ReservedPagesAreCommittedOnRequest) {
    auto* base = static_cast<uint8_t*>(VirtualAlloc(nullptr, 131072, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(base, nullptr);
    MEMORY_BASIC_INFORMATION info;
    VirtualQuery(base, &info, sizeof info);
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_RESERVE));
    uint8_t* page =
        static_cast<uint8_t*>(VirtualAlloc(base + 65536, 4096, MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    EXPECT_EQ(page, base + 65536);
    page[0] = 0xC3;
    VirtualQuery(page, &info, sizeof info);
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

TEST(VirtualMemory, AllocationAtAnAddressTakesExactlyThatPlaceOrFails) {
    auto* first = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, 65536 * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(VirtualAlloc(first, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
    EXPECT_TRUE(VirtualFree(first, 0, MEM_RELEASE));
    // The place is free again: a request for it (or for an address inside its first
    // granule) gets exactly the granule's start.
    void* again = VirtualAlloc(first + 100, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    EXPECT_EQ(again, first);
    EXPECT_TRUE(VirtualFree(again, 0, MEM_RELEASE));
}

TEST(VirtualMemory, CodePagesOfModulesCanBeMadeWritableAndRestored) {
    void* code = reinterpret_cast<void*>(&GetTickCount);
    MEMORY_BASIC_INFORMATION info;
    ASSERT_EQ(VirtualQuery(code, &info, sizeof info), sizeof info);
    EXPECT_EQ(info.Type, static_cast<DWORD>(MEM_IMAGE));
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(code, 16, PAGE_EXECUTE_READWRITE, &old));
    EXPECT_EQ(old, static_cast<DWORD>(PAGE_EXECUTE_READ));
    DWORD restored = 0;
    ASSERT_TRUE(VirtualProtect(code, 16, old, &restored));
    EXPECT_EQ(restored, static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
    EXPECT_TRUE(FlushInstructionCache(GetCurrentProcess(), code, 16));
    EXPECT_GT(GetTickCount(), 0u); // still runs
}
