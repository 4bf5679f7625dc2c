// The crash report on both sides: what the filter writes is what the watchdog reads, field
// by field; the reader and the readable report survive any bytes (short, long, garbage).
#include "CrashHandoff.h"
#include "CrashReportReader.h"
#include "CrashReportText.h"

#include "platform/win.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using watchdog::CrashReport;
using watchdog::ModuleInfo;
using watchdog::ReportSurroundings;

struct SampleCrash {
    EXCEPTION_RECORD record = {};
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {&record, &context};
    SampleCrash() {
        record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
        record.ExceptionFlags = 0;
        record.ExceptionAddress = reinterpret_cast<PVOID>(0x140001234ull);
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = 0;
        record.ExceptionInformation[1] = 0xDEADBEEFull;
        context.ContextFlags = 0x10001F;
        context.MxCsr = 0x1F80;
        context.SegCs = 0x33;
        context.SegSs = 0x2B;
        context.EFlags = 0x10246;
        context.Rax = 1;
        context.Rcx = 2;
        context.Rsp = 0x7FFE0000ull;
        context.R15 = 0xF15;
        context.Rip = 0x140001234ull;
    }
};

std::vector<uint8_t> reportOf(const SampleCrash& crash, DWORD threadId) {
    std::vector<uint8_t> bytes(crashreport::kSize);
    fillCrashReport(bytes.data(), const_cast<PEXCEPTION_POINTERS>(&crash.pointers), threadId);
    return bytes;
}

bool printable(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (c == '\n' && i > 0 && text[i - 1] == '\r')
            continue;
        if (c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

ReportSurroundings gameModules() {
    ReportSurroundings around;
    around.commandLine = "C:/dizizir/v_WatchDog.exe 4242";
    around.hasProcessId = true;
    around.processId = 4242;
    around.modulesKnown = true;
    around.modules = {{0x140000000ull, 0x10000, "game.exe", "C:\\Games\\game.exe"},
                      {0x7FF800000000ull, 0x200000, "kernel32.dll", "C:\\Windows\\kernel32.dll"}};
    return around;
}

} // namespace

TEST(CrashReport, WhatTheFilterWritesTheWatchdogReadsFieldByField) {
    SampleCrash crash;
    std::vector<uint8_t> bytes = reportOf(crash, 777);
    CrashReport report = watchdog::readCrashReport(bytes.data(), bytes.size());
    EXPECT_TRUE(report.complete());
    EXPECT_TRUE(report.markerValid());
    EXPECT_EQ(777u, report.threadId);
    EXPECT_EQ(EXCEPTION_ACCESS_VIOLATION, report.exception.code);
    EXPECT_EQ(0x140001234ull, report.exception.address);
    EXPECT_EQ(2u, report.exception.parameterCount);
    EXPECT_EQ(0xDEADBEEFull, report.exception.parameters[1]);
    EXPECT_EQ(0x10001Fu, report.registers.contextFlags);
    EXPECT_EQ(0x1F80u, report.registers.mxcsr);
    EXPECT_EQ(0x33u, report.registers.segments[0]);
    EXPECT_EQ(0x2Bu, report.registers.segments[5]);
    EXPECT_EQ(0x10246u, report.registers.eflags);
    EXPECT_EQ(1u, report.registers.general[0]);          // RAX
    EXPECT_EQ(2u, report.registers.general[1]);          // RCX
    EXPECT_EQ(0x7FFE0000u, report.registers.general[4]); // RSP
    EXPECT_EQ(0xF15u, report.registers.general[15]);     // R15
    EXPECT_EQ(0x140001234ull, report.registers.rip);

    // The name field is this executable's file name, at most 25 characters.
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::u16string own(reinterpret_cast<const char16_t*>(path), length);
    own = own.substr(own.find_last_of(u'\\') + 1).substr(0, crashreport::kNameChars);
    EXPECT_EQ(own, report.executable);
}

TEST(CrashReport, AMissingExceptionOrContextIsSentAsZeros) {
    std::vector<uint8_t> bytes(crashreport::kSize, 0xAA);
    fillCrashReport(bytes.data(), nullptr, 5);
    CrashReport report = watchdog::readCrashReport(bytes.data(), bytes.size());
    EXPECT_TRUE(report.complete());
    EXPECT_EQ(0u, report.exception.code);
    EXPECT_EQ(0u, report.registers.rip);
    EXPECT_EQ(5u, report.threadId);
    EXPECT_TRUE(report.markerValid());
}

TEST(CrashReport, TheReadableReportNamesTheExceptionTheAccessAndTheModule) {
    SampleCrash crash;
    std::vector<uint8_t> bytes = reportOf(crash, 777);
    CrashReport report = watchdog::readCrashReport(bytes.data(), bytes.size());
    report.executable = u"game.exe";
    std::string text = watchdog::formatCrashReport(report, gameModules());
    EXPECT_NE(std::string::npos, text.find("Process id:   4242\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("Thread id:    777\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("Executable:   game.exe\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("Command line: C:/dizizir/v_WatchDog.exe 4242\r\n"));
    EXPECT_NE(std::string::npos,
              text.find("Exception:    0xC0000005 EXCEPTION_ACCESS_VIOLATION (access violation)"));
    EXPECT_NE(std::string::npos, text.find("Address:      0x0000000140001234 in game.exe+0x1234"))
        << text;
    EXPECT_NE(std::string::npos, text.find("reading address 0x00000000deadbeef")) << text;
    EXPECT_NE(std::string::npos, text.find("RIP=0000000140001234  game.exe+0x1234")) << text;
    EXPECT_NE(std::string::npos, text.find("R14=0000000000000000  R15=0000000000000f15")) << text;
    EXPECT_NE(std::string::npos, text.find("CS=0033")) << text;
    EXPECT_NE(std::string::npos, text.find("Modules (2)")) << text;
    EXPECT_TRUE(printable(text));

    // Outside every module, and without a module list.
    report.exception.address = 0x10;
    EXPECT_NE(std::string::npos, watchdog::formatCrashReport(report, gameModules())
                                     .find("0x0000000000000010 (in no known module)"));
    ReportSurroundings unknown;
    EXPECT_NE(std::string::npos,
              watchdog::formatCrashReport(report, unknown).find("(modules unknown)"));
}

TEST(CrashReport, ExceptionCodesHaveNames) {
    struct Case {
        uint32_t code;
        const char* name;
    };
    const Case cases[] = {{0x80000003u, "EXCEPTION_BREAKPOINT"},
                          {0xC000001Du, "EXCEPTION_ILLEGAL_INSTRUCTION"},
                          {0xC0000094u, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
                          {0xC00000FDu, "EXCEPTION_STACK_OVERFLOW"},
                          {0xC0000006u, "EXCEPTION_IN_PAGE_ERROR"}};
    for (const Case& c : cases) {
        ASSERT_NE(nullptr, watchdog::exceptionNameOf(c.code)) << std::hex << c.code;
        EXPECT_STREQ(c.name, watchdog::exceptionNameOf(c.code)->name);
    }
    EXPECT_EQ(nullptr, watchdog::exceptionNameOf(0x12345678u));
    CrashReport report;
    report.hasException = true;
    report.exception.code = 0x12345678u;
    EXPECT_NE(std::string::npos,
              watchdog::formatCrashReport(report, {}).find("0x12345678 (unknown exception code)"));
}

TEST(CrashReport, ATruncatedReportReadsAsFarAsItGoes) {
    SampleCrash crash;
    std::vector<uint8_t> bytes = reportOf(crash, 777);
    for (size_t size = 0; size <= crashreport::kSize; ++size) {
        CrashReport report = watchdog::readCrashReport(bytes.data(), size);
        EXPECT_EQ(size, report.received);
        EXPECT_EQ(size == crashreport::kSize, report.complete());
        EXPECT_EQ(size >= crashreport::kContextSize, report.hasRegisters) << size;
        EXPECT_EQ(size >= crashreport::kThreadIdOffset, report.hasException) << size;
        EXPECT_EQ(size >= crashreport::kMarkerOffset, report.hasThreadId) << size;
        EXPECT_EQ(size >= crashreport::kNameOffset, report.hasMarker) << size;
        std::string text = watchdog::formatCrashReport(report, {});
        EXPECT_TRUE(printable(text)) << size;
        if (size < crashreport::kSize) {
            EXPECT_NE(std::string::npos, text.find("(truncated)")) << size;
        }
    }
    CrashReport empty = watchdog::readCrashReport(nullptr, 100);
    EXPECT_EQ(0u, empty.received);
    EXPECT_FALSE(empty.hasRegisters);
    EXPECT_NE(std::string::npos,
              watchdog::formatCrashReport(empty, {}).find("Exception:    (not received)"));
}

TEST(CrashReport, GarbageNeverBreaksTheReaderOrTheReadableReport) {
    std::mt19937 random(1442);
    for (int round = 0; round < 300; ++round) {
        size_t size = random() % (2 * crashreport::kSize);
        std::vector<uint8_t> bytes(size);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(random());
        CrashReport report = watchdog::readCrashReport(bytes.data(), bytes.size());
        std::string text = watchdog::formatCrashReport(report, gameModules());
        EXPECT_TRUE(printable(text)) << "round " << round;
        if (report.hasException && report.exception.parameterCount > 15) {
            EXPECT_NE(std::string::npos, text.find("claimed, only 15 fit"));
        }
        if (size > crashreport::kSize) {
            EXPECT_NE(std::string::npos, text.find("longer than expected")) << round;
        }
    }
    // A wrong marker is pointed out.
    std::vector<uint8_t> bytes(crashreport::kSize, 0);
    CrashReport report = watchdog::readCrashReport(bytes.data(), bytes.size());
    EXPECT_FALSE(report.markerValid());
    EXPECT_NE(std::string::npos, watchdog::formatCrashReport(report, {}).find("Marker:       0"));
}

TEST(CrashReport, NamesAreShownSafely) {
    // Paired surrogates become one character; unpaired ones and control characters U+FFFD.
    EXPECT_EQ("game.exe", watchdog::printableText(u"game.exe"));
    EXPECT_EQ("\xF0\x9F\x98\x80.exe", watchdog::printableText(u"\xD83D\xDE00.exe"));
    EXPECT_EQ("\xEF\xBF\xBD"
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD",
              watchdog::printableText(std::u16string(u"\xD800"
                                                     u"a\r"
                                                     u"b") +
                                      u'\xDC00'));
    EXPECT_EQ("\xC3\xA9t\xC3\xA9.exe", watchdog::printableText(u"\u00E9t\u00E9.exe"));
    // A name that fills the field is taken whole, without a terminator.
    std::vector<uint8_t> bytes(crashreport::kSize, 0);
    for (size_t i = 0; i < crashreport::kNameChars; ++i)
        bytes[crashreport::kNameOffset + 2 * i] = static_cast<uint8_t>('a' + i % 26);
    CrashReport report = watchdog::readCrashReport(bytes.data(), bytes.size());
    EXPECT_EQ(u"abcdefghijklmnopqrstuvwxy", report.executable);
}

TEST(CrashReport, AModuleRunsFromItsFirstByteToJustBeforeItsEnd) {
    std::vector<ModuleInfo> modules(2);
    modules[0].base = 0x140000000ull;
    modules[0].size = 0x1000;
    modules[0].name = "game.exe";
    modules[1].base = 0x140001000ull; // the next one starts where the first ends
    modules[1].size = 0x2000;
    modules[1].name = "next.dll";
    EXPECT_EQ("game.exe+0x0", watchdog::moduleOffsetText(modules, 0x140000000ull));
    EXPECT_EQ("game.exe+0xfff", watchdog::moduleOffsetText(modules, 0x140000fffull));
    EXPECT_EQ("next.dll+0x0", watchdog::moduleOffsetText(modules, 0x140001000ull));
    EXPECT_EQ("", watchdog::moduleOffsetText(modules, 0x13FFFFFFFull));
    EXPECT_EQ("", watchdog::moduleOffsetText(modules, 0x140003000ull));
}
