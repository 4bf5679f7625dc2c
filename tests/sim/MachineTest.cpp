// The machine core: path mapping, journal, fault injection, message boxes, the debugger
// and the last error.
#include "sim/Machine.h"
#include "platform/sim/win32_api.h"
#include "sim/Call.h"
#include "sim/WideString.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

struct PathCase {
    const char16_t* windows;
    const char* hostBelowRoot; // "" when the path maps nowhere
};

} // namespace

TEST(RootFolder, WindowsPathsMapIntoTheRoot) {
    sim::RootFolder& root = sim::Machine::instance().root();
    const std::string base = root.hostRoot();
    const PathCase cases[] = {
        {u"C:\\vessa.log", "/c/vessa.log"},
        {u"c:/dir/file.txt", "/c/dir/file.txt"},
        {u"C:\\a\\.\\b\\..\\c", "/c/a/c"},
        {u"C:\\..\\..\\x", "/c/x"}, // ".." never leaves the drive
        {u"D:\\games", "/d/games"},
        {u"relative\\name.ini", "/c/relative/name.ini"},
        {u"\\rooted.txt", "/c/rooted.txt"},
        {u"\\\\?\\C:\\long", "/c/long"},
    };
    for (const PathCase& c : cases)
        EXPECT_EQ(root.toHost(c.windows), base + c.hostBelowRoot) << sim::toUtf8(c.windows);
    EXPECT_EQ(root.toHost(u"\\\\server\\share\\x"), "");
    EXPECT_EQ(root.toHost(u""), "");
    EXPECT_EQ(root.toHost(u"Z:\\usr\\lib"), "/usr/lib");
}

TEST(RootFolder, ExistingComponentsAreFoundCaseInsensitively) {
    sim::RootFolder& root = sim::Machine::instance().root();
    ASSERT_TRUE(root.writeFile(u"C:\\Program Files\\Vessa\\Vessa.XML", "<x/>"));
    EXPECT_EQ(root.toHost(u"c:\\PROGRAM FILES\\vessa\\vessa.xml"),
              root.hostRoot() + "/c/Program Files/Vessa/Vessa.XML");
    // A new component keeps the caller's spelling.
    EXPECT_EQ(root.toHost(u"c:\\program files\\vessa\\New.txt"),
              root.hostRoot() + "/c/Program Files/Vessa/New.txt");
}

TEST(RootFolder, HostPathsMapBackToWindowsPaths) {
    sim::RootFolder& root = sim::Machine::instance().root();
    EXPECT_EQ(root.toWindows(root.hostRoot() + "/c/dir/x.dll"), u"C:\\dir\\x.dll");
    EXPECT_EQ(root.toWindows(root.hostRoot() + "/c"), u"C:\\");
    EXPECT_EQ(root.toWindows("/usr/lib/x.so"), u"Z:\\usr\\lib\\x.so");
    std::u16string outside = u"Z:" + sim::fromUtf8(root.hostRoot()) + u"/cc/x";
    for (char16_t& c : outside)
        if (c == u'/')
            c = u'\\';
    EXPECT_EQ(root.toWindows(root.hostRoot() + "/cc/x"), outside);
}

TEST(Journal, RecordsCallsAndFindsThemByModuleEntryAndGpu) {
    sim::Journal& journal = sim::Machine::instance().journal();
    journal.clear();
    {
        sim::Call call("gdi32.dll", "D3DKMTPresent", 0);
        call.args("hContext=%u", 4u);
        call.finish(0);
    }
    {
        sim::Call call("GDI32.DLL", "D3DKMTPresent", 1);
        call.finish(static_cast<NTSTATUS>(STATUS_INVALID_PARAMETER));
    }
    EXPECT_EQ(journal.count("gdi32.dll", "D3DKMTPresent"), 2u);
    EXPECT_EQ(journal.count("Gdi32.dll", "D3DKMTPresent", 1), 1u);
    EXPECT_EQ(journal.count("gdi32.dll", "d3dkmtpresent"), 0u); // entries compare exactly
    std::vector<sim::JournalEntry> found = journal.find("gdi32.dll", "D3DKMTPresent");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].arguments, "hContext=4");
    EXPECT_EQ(found[0].gpu, 0);
    EXPECT_EQ(found[1].result, static_cast<int64_t>(STATUS_INVALID_PARAMETER));
    EXPECT_LT(found[0].sequence, found[1].sequence);
    EXPECT_EQ(found[0].threadId, GetCurrentThreadId());
    journal.clear();
    EXPECT_EQ(journal.count("gdi32.dll", "D3DKMTPresent"), 0u);
}

TEST(Journal, KeepsTheMostRecentEntriesUpToItsCapacity) {
    sim::Journal journal;
    journal.setCapacity(3);
    for (int i = 1; i <= 5; ++i) {
        sim::JournalEntry e;
        e.module = "test.dll";
        e.entry = "Entry";
        e.result = i;
        journal.record(e);
    }
    std::vector<sim::JournalEntry> kept = journal.entries();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept.front().result, 3);
    EXPECT_EQ(kept.back().sequence, 5u);
    journal.setEnabled(false);
    journal.record(sim::JournalEntry{});
    EXPECT_EQ(journal.entries().size(), 3u);
}

TEST(Journal, IsThreadSafe) {
    sim::Journal& journal = sim::Machine::instance().journal();
    journal.clear();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i)
                sim::Call("test.dll", "Entry").finish(i);
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(journal.count("test.dll", "Entry"), 2000u);
}

TEST(FaultInjection, FailsTheNthMatchingCallForTheGivenNumberOfTimes) {
    sim::FaultInjector& faults = sim::Machine::instance().faults();
    faults.clear();
    faults.failNth("test.dll", "Open", 2, 0xC0000001, 2);
    std::vector<bool> failed;
    for (int i = 0; i < 5; ++i) {
        sim::Call call("TEST.dll", "Open");
        failed.push_back(call.faulted());
        if (call.faulted()) {
            EXPECT_EQ(call.faultStatus(), 0xC0000001);
        }
    }
    EXPECT_EQ(failed, (std::vector<bool>{false, true, true, false, false}));
    EXPECT_EQ(faults.injectedCount(), 2u);
    faults.clear();
}

TEST(FaultInjection, RulesCanBeLimitedToOneGpuOrFailForever) {
    sim::FaultInjector& faults = sim::Machine::instance().faults();
    faults.clear();
    faults.failAlways("gdi32.dll", "D3DKMTLock", 0xC000000D, 1);
    EXPECT_FALSE(sim::Call("gdi32.dll", "D3DKMTLock", 0).faulted());
    EXPECT_TRUE(sim::Call("gdi32.dll", "D3DKMTLock", 1).faulted());
    EXPECT_TRUE(sim::Call("gdi32.dll", "D3DKMTLock", 1).faulted());
    EXPECT_FALSE(sim::Call("gdi32.dll", "D3DKMTUnlock", 1).faulted());
    faults.clear();
    EXPECT_FALSE(sim::Call("gdi32.dll", "D3DKMTLock", 1).faulted());
}

TEST(FaultInjection, ReachesSimulatedEntries) {
    sim::FaultInjector& faults = sim::Machine::instance().faults();
    faults.failNth("kernel32.dll", "LoadLibraryW", 1, ERROR_ACCESS_DENIED);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(u"kernel32.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_NE(LoadLibraryW(u"kernel32.dll"), nullptr);
    faults.clear();
}

TEST(MessageBoxes, AreRecordedAndAnsweredWithIdOk) {
    sim::MessageBoxLog& boxes = sim::Machine::instance().messageBoxes();
    boxes.clear();
    EXPECT_EQ(MessageBoxW(nullptr, u"missing property", u"Vessa", MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "narrow", nullptr, MB_OK), IDOK);
    std::vector<sim::MessageBoxRecord> records = boxes.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].title, u"Vessa");
    EXPECT_EQ(records[0].text, u"missing property");
    EXPECT_EQ(records[0].style, MB_OK | MB_ICONERROR);
    EXPECT_EQ(records[1].title, u"Error");
    EXPECT_EQ(records[1].text, u"narrow");
    boxes.setAnswer(IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_OKCANCEL), IDCANCEL);
}

TEST(Debugger, BreaksAreRecordedOnlyWhileADebuggerIsAttached) {
    sim::Machine& machine = sim::Machine::instance();
    EXPECT_FALSE(IsDebuggerPresent());
    machine.setDebuggerAttached(true);
    EXPECT_TRUE(IsDebuggerPresent());
    DebugBreak();
    EXPECT_EQ(machine.debugBreakCount(), 1u);
    EXPECT_EQ(machine.journal().count("kernel32.dll", "DebugBreak"), 1u);
    machine.setDebuggerAttached(false);
    EXPECT_DEATH(DebugBreak(), "");
}

TEST(LastError, IsPerThread) {
    SetLastError(1234);
    DWORD other = 0;
    std::thread([&] {
        other = GetLastError();
        SetLastError(99);
    }).join();
    EXPECT_EQ(other, 0u);
    EXPECT_EQ(GetLastError(), 1234u);
}
