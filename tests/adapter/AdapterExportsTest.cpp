// The product library as the runtime meets it: loaded by name with LoadLibraryW, entered
// through its three OpenAdapter exports. Runs on both builds (under Wine on Windows).
#include "platform/win.h"

#include <gtest/gtest.h>

namespace {

typedef HRESULT(APIENTRY* OpenAdapterExport)(D3DDDIARG_OPENADAPTER*);

const char* const kEntries[] = {"OpenAdapter9DetourNV", "OpenAdapter9DetourATI",
                                "OpenAdapter9DetourIntel"};

OpenAdapterExport entry(HMODULE module, const char* name) {
    return reinterpret_cast<OpenAdapterExport>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

} // namespace

TEST(AdapterExports, LibraryLoadsAndExportsTheThreeEntriesAndDllMain) {
    HMODULE library = LoadLibraryW(WSTR("vessad3d9u.dll"));
    ASSERT_NE(nullptr, library) << GetLastError();
    for (const char* name : kEntries)
        EXPECT_NE(nullptr, entry(library, name)) << name;
    EXPECT_NE(nullptr, GetProcAddress(library, "DllMain"));
    // What a vendor driver exports is not ours to offer.
    EXPECT_EQ(nullptr, GetProcAddress(library, "OpenAdapter"));
}

TEST(AdapterExports, EntriesRefuseMissingArgumentsWithoutTouchingTheDriver) {
    HMODULE library = LoadLibraryW(WSTR("vessad3d9u.dll"));
    ASSERT_NE(nullptr, library);
    for (const char* name : kEntries) {
        OpenAdapterExport openAdapter = entry(library, name);
        ASSERT_NE(nullptr, openAdapter) << name;
        EXPECT_EQ(E_INVALIDARG, openAdapter(nullptr)) << name;

        // Arguments without the table the driver is to fill are refused too.
        D3DDDIARG_OPENADAPTER args = {};
        EXPECT_EQ(E_INVALIDARG, openAdapter(&args)) << name;
    }
}
