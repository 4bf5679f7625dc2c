// The simulated loader: Windows module names, DllMain, GetProcAddress and module paths.
#include "platform/sim/win32_api.h"
#include "sim/Machine.h"
#include "sim/WideString.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace {

size_t dllMainCalls(const char* module, unsigned reason) {
    size_t n = 0;
    std::string wanted = "reason=" + std::to_string(reason) + " ";
    for (const sim::JournalEntry& e : sim::Machine::instance().journal().find(module, "DllMain"))
        n += e.arguments.rfind(wanted, 0) == 0 ? 1 : 0;
    return n;
}

std::u16string moduleFileName(HMODULE module) {
    WCHAR buffer[MAX_PATH];
    DWORD n = GetModuleFileNameW(module, buffer, MAX_PATH);
    return std::u16string(buffer, n);
}

} // namespace

TEST(Loader, InvalidParametersFailWithWindowsErrors) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LoadLibraryW(u"no-such-module.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA("C:\\nowhere\\simtest.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(FreeLibrary(nullptr), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetModuleHandleW(u"no-such-module.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    int local = 0;
    EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(&local), "GetLastError"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    HMODULE module = reinterpret_cast<HMODULE>(1);
    EXPECT_EQ(GetModuleHandleExW(0, u"kernel32.dll", nullptr), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN |
                                     GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 u"kernel32.dll", &module),
              FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(module, nullptr);
}

TEST(Loader, ModulesMappedAtStartAreFoundByWindowsNameInAnyCase) {
    HMODULE kernel32 = GetModuleHandleW(u"kernel32.dll");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(GetModuleHandleW(u"KERNEL32.DLL"), kernel32);
    EXPECT_EQ(GetModuleHandleA("Kernel32"), kernel32); // no extension means ".dll"
    EXPECT_NE(GetModuleHandleW(u"user32.dll"), nullptr);
    EXPECT_NE(GetModuleHandleW(u"gdi32.dll"), nullptr);
    EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(GetModuleHandleW(nullptr), kernel32);

    HMODULE fromAddress = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                       GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCWSTR>(&GetLastError), &fromAddress));
    EXPECT_EQ(fromAddress, kernel32);
}

TEST(Loader, GetProcAddressFindsOnlyTheModulesOwnExports) {
    HMODULE kernel32 = GetModuleHandleW(u"kernel32.dll");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(kernel32, "GetLastError")),
              reinterpret_cast<void*>(&GetLastError));
    SetLastError(0);
    // malloc is reachable from kernel32.dll's dependencies, but it is not its export.
    EXPECT_EQ(GetProcAddress(kernel32, "malloc"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(kernel32, reinterpret_cast<LPCSTR>(1)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

TEST(Loader, LoadLibraryRunsDllMainOnceAndFreeLibraryDetachesAtTheLastReference) {
    HMODULE first = LoadLibraryW(u"SimTest.DLL");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(dllMainCalls("simtest.dll", DLL_PROCESS_ATTACH), 1u);
    HMODULE second = LoadLibraryA("simtest");
    EXPECT_EQ(second, first);
    EXPECT_EQ(dllMainCalls("simtest.dll", DLL_PROCESS_ATTACH), 1u);
    EXPECT_EQ(GetModuleHandleW(u"SIMTEST.dll"), first);

    // DllMain receives the module handle that LoadLibrary returns.
    sim::JournalEntry attach;
    ASSERT_TRUE(sim::Machine::instance().journal().last("simtest.dll", "DllMain", attach));
    char expected[64];
    snprintf(expected, sizeof expected, "module=%p", static_cast<void*>(first));
    EXPECT_NE(attach.arguments.find(expected), std::string::npos) << attach.arguments;

    auto answer = reinterpret_cast<int (*)()>(
        reinterpret_cast<void*>(GetProcAddress(first, "simtestAnswer")));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(GetProcAddress(first, "simtestHidden"), nullptr);

    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_EQ(dllMainCalls("simtest.dll", DLL_PROCESS_DETACH), 0u);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(dllMainCalls("simtest.dll", DLL_PROCESS_DETACH), 1u);
    EXPECT_EQ(GetModuleHandleW(u"simtest.dll"), nullptr);

    // Loading it again attaches again.
    HMODULE again = LoadLibraryW(u"simtest.dll");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(dllMainCalls("simtest.dll", DLL_PROCESS_ATTACH), 2u);
    EXPECT_TRUE(FreeLibrary(again));
}

TEST(Loader, AHiddenExportIsNotFoundUntilTheFaultsAreCleared) {
    sim::FaultInjector& faults = sim::Machine::instance().faults();
    HMODULE module = LoadLibraryW(u"simtest.dll");
    ASSERT_NE(module, nullptr);
    FARPROC shown = GetProcAddress(module, "simtestAnswer");
    ASSERT_NE(shown, nullptr);

    faults.hideExport("SIMTEST.DLL", "simtestAnswer");
    faults.hideExport("simtest.dll", "GetLastError"); // names another module's export
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, "simtestAnswer"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_NE(GetProcAddress(GetModuleHandleW(u"kernel32.dll"), "GetLastError"), nullptr);

    faults.clear();
    EXPECT_EQ(GetProcAddress(module, "simtestAnswer"), shown);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(Loader, ADllMainThatRefusesToAttachFailsTheLoadAndIsDetached) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(u"simfail.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
    EXPECT_EQ(dllMainCalls("simfail.dll", DLL_PROCESS_ATTACH), 1u);
    EXPECT_EQ(dllMainCalls("simfail.dll", DLL_PROCESS_DETACH), 1u);
    EXPECT_EQ(GetModuleHandleW(u"simfail.dll"), nullptr);
}

TEST(Loader, ModulesMappedAtStartStayLoadedAfterFreeLibrary) {
    HMODULE kernel32 = GetModuleHandleW(u"kernel32.dll");
    EXPECT_EQ(LoadLibraryW(u"KERNEL32"), kernel32);
    EXPECT_TRUE(FreeLibrary(kernel32));
    EXPECT_TRUE(FreeLibrary(kernel32));
    EXPECT_EQ(GetModuleHandleW(u"kernel32.dll"), kernel32);
}

TEST(Loader, ModuleFileNamesAreWindowsPaths) {
    HMODULE kernel32 = GetModuleHandleW(u"kernel32.dll");
    std::u16string path = moduleFileName(kernel32);
    // Built modules live on the host, which the machine shows as drive Z:, as Wine does.
    EXPECT_EQ(path.rfind(u"Z:\\", 0), 0u) << sim::toUtf8(path);
    EXPECT_EQ(path.substr(path.size() - 13), u"\\kernel32.dll");

    // A module inside the root has a C: path.
    sim::Machine& machine = sim::Machine::instance();
    ASSERT_TRUE(machine.root().createFolder(u"C:\\Program Files\\Vessa"));
    std::string built = machine.modules().buildDirectory() + "/simtest.dll";
    std::string installed = machine.root().toHost(u"C:\\Program Files\\Vessa\\simtest.dll");
    ASSERT_EQ(symlink(built.c_str(), installed.c_str()), 0);
    HMODULE module = LoadLibraryW(u"c:\\PROGRAM FILES\\vessa\\SimTest.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(moduleFileName(module), u"C:\\Program Files\\Vessa\\simtest.dll");
    EXPECT_EQ(GetModuleHandleW(u"C:\\Program Files\\Vessa\\simtest.dll"), module);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(Loader, ModuleFileNameTruncatesAsWindowsDoes) {
    sim::Machine::instance().setExecutablePath(u"C:\\Games\\Bin\\game.exe");
    EXPECT_EQ(moduleFileName(nullptr), u"C:\\Games\\Bin\\game.exe");

    WCHAR small[5] = {u'x', u'x', u'x', u'x', u'x'};
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 5), 5u);
    EXPECT_EQ(std::u16string(small), u"C:\\G");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    char narrow[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(nullptr, narrow, MAX_PATH), 21u);
    EXPECT_STREQ(narrow, "C:\\Games\\Bin\\game.exe");

    int local = 0;
    EXPECT_EQ(GetModuleFileNameW(reinterpret_cast<HMODULE>(&local), small, 5), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}
