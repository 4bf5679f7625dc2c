// Run-time resolution of the kernel thunks: what gdi32 exports is called directly, what it
// lacks fails with a kernel status instead of a null call.
#include "platform/KernelThunks.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

HMODULE gdi32() {
    return GetModuleHandleW(WSTR("gdi32.dll"));
}

// Calls the table's entry for `id` with a zeroed argument, as a caller with nothing to say
// would; only used on stubs, which must not look at it.
NTSTATUS callWithZeroedArgument(const KernelThunkTable& table, KernelThunkId id) {
    switch (id) {
#define VESSA_KMT_CALL(Name, NAME, qualifier)                                                      \
    case kmt##Name: {                                                                              \
        D3DKMT_##NAME argument{};                                                                  \
        return table.pfn##Name(&argument);                                                         \
    }
        VESSA_D3DKMT_THUNKS(VESSA_KMT_CALL)
#undef VESSA_KMT_CALL
    default:
        return STATUS_INVALID_PARAMETER;
    }
}

TEST(KernelThunks, WithoutGdi32EveryThunkFailsAsProcedureNotFound) {
    KernelThunkTable table{};
    EXPECT_EQ(0u, KernelThunks::resolve(nullptr, table));
    for (unsigned id = 0; id < kmtThunkCount; ++id) {
        EXPECT_EQ(STATUS_PROCEDURE_NOT_FOUND,
                  callWithZeroedArgument(table, static_cast<KernelThunkId>(id)))
            << KernelThunks::name(static_cast<KernelThunkId>(id));
    }
}

TEST(KernelThunks, ResolvesExactlyWhatGdi32Exports) {
    const KernelThunkTable& table = KernelThunks::get(); // loads gdi32 when needed
    HMODULE module = gdi32();
    ASSERT_NE(nullptr, module);
    const void* const* entries = reinterpret_cast<const void* const*>(&table);
    for (unsigned i = 0; i < kmtThunkCount; ++i) {
        KernelThunkId id = static_cast<KernelThunkId>(i);
        std::string exportName = std::string("D3DKMT") + KernelThunks::name(id);
        FARPROC exported = GetProcAddress(module, exportName.c_str());
        ASSERT_NE(nullptr, entries[i]) << exportName;
        if (exported != nullptr) {
            EXPECT_TRUE(KernelThunks::isResolved(id)) << exportName;
            EXPECT_EQ(reinterpret_cast<const void*>(exported), entries[i]) << exportName;
        } else {
            EXPECT_FALSE(KernelThunks::isResolved(id)) << exportName;
            EXPECT_EQ(STATUS_PROCEDURE_NOT_FOUND, callWithZeroedArgument(table, id)) << exportName;
        }
    }
}

TEST(KernelThunks, TableMembersFollowTheThunkList) {
    // The table is read by position above; its size must be one pointer per thunk.
    EXPECT_EQ(kmtThunkCount * sizeof(void*), sizeof(KernelThunkTable));
    EXPECT_STREQ("OpenAdapterFromHdc", KernelThunks::name(kmtOpenAdapterFromHdc));
    EXPECT_STREQ("Present", KernelThunks::name(kmtPresent));
    EXPECT_EQ(nullptr, KernelThunks::name(kmtThunkCount));
    EXPECT_FALSE(KernelThunks::isResolved(kmtThunkCount));
}

TEST(KernelThunks, ResolvedOpenAdapterRejectsAMissingDeviceName) {
    if (!KernelThunks::isResolved(kmtOpenAdapterFromDeviceName)) {
        GTEST_SKIP() << "gdi32 does not export D3DKMTOpenAdapterFromDeviceName";
    }
    D3DKMT_OPENADAPTERFROMDEVICENAME open{};
    EXPECT_EQ(STATUS_INVALID_PARAMETER, KernelThunks::get().pfnOpenAdapterFromDeviceName(&open));
    EXPECT_EQ(0u, open.hAdapter);
}

TEST(KernelThunks, ConcurrentFirstUseSeesOneTable) {
    std::vector<const KernelThunkTable*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &KernelThunks::get(); });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (const KernelThunkTable* table : seen) {
        EXPECT_EQ(seen[0], table);
    }
}

} // namespace
