// The readable crash report: a header of who crashed, the exception by name with what its
// parameters mean, the registers, and the modules of the process.
#include "CrashReportText.h"

#include "CrashReportLayout.h"
#include "platform/unicode.h"

#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>

namespace watchdog {

namespace {

const ExceptionName kExceptionNames[] = {
    {0x80000001u, "EXCEPTION_GUARD_PAGE", "guard page touched"},
    {0x80000002u, "EXCEPTION_DATATYPE_MISALIGNMENT", "misaligned data access"},
    {0x80000003u, "EXCEPTION_BREAKPOINT", "breakpoint"},
    {0x80000004u, "EXCEPTION_SINGLE_STEP", "single step"},
    {0xC0000005u, "EXCEPTION_ACCESS_VIOLATION", "access violation"},
    {0xC0000006u, "EXCEPTION_IN_PAGE_ERROR", "page could not be read in"},
    {0xC0000008u, "EXCEPTION_INVALID_HANDLE", "invalid handle"},
    {0xC000001Du, "EXCEPTION_ILLEGAL_INSTRUCTION", "illegal instruction"},
    {0xC0000025u, "EXCEPTION_NONCONTINUABLE_EXCEPTION",
     "continued after a noncontinuable exception"},
    {0xC0000026u, "EXCEPTION_INVALID_DISPOSITION", "invalid exception disposition"},
    {0xC000008Cu, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED", "array bounds exceeded"},
    {0xC000008Du, "EXCEPTION_FLT_DENORMAL_OPERAND", "floating-point denormal operand"},
    {0xC000008Eu, "EXCEPTION_FLT_DIVIDE_BY_ZERO", "floating-point division by zero"},
    {0xC000008Fu, "EXCEPTION_FLT_INEXACT_RESULT", "floating-point inexact result"},
    {0xC0000090u, "EXCEPTION_FLT_INVALID_OPERATION", "floating-point invalid operation"},
    {0xC0000091u, "EXCEPTION_FLT_OVERFLOW", "floating-point overflow"},
    {0xC0000092u, "EXCEPTION_FLT_STACK_CHECK", "floating-point stack check"},
    {0xC0000093u, "EXCEPTION_FLT_UNDERFLOW", "floating-point underflow"},
    {0xC0000094u, "EXCEPTION_INT_DIVIDE_BY_ZERO", "integer division by zero"},
    {0xC0000095u, "EXCEPTION_INT_OVERFLOW", "integer overflow"},
    {0xC0000096u, "EXCEPTION_PRIV_INSTRUCTION", "privileged instruction"},
    {0xC00000FDu, "EXCEPTION_STACK_OVERFLOW", "stack overflow"},
    {0xC0000374u, "STATUS_HEAP_CORRUPTION", "heap corruption"},
    {0xC0000409u, "STATUS_STACK_BUFFER_OVERRUN", "stack buffer overrun (fail fast)"},
    {0xE06D7363u, "C++ exception", "C++ exception not caught"},
};

const char* const kRegisterNames[16] = {"RAX", "RCX", "RDX", "RBX", "RSP", "RBP", "RSI", "RDI",
                                        "R8",  "R9",  "R10", "R11", "R12", "R13", "R14", "R15"};
const char* const kSegmentNames[6] = {"CS", "DS", "ES", "FS", "GS", "SS"};

// printf into a std::string; every value printed is a number or text we made safe.
void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0)
        out.append(line,
                   static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
}

// Access violations and page errors say what was accessed where.
void appendAccessDetails(std::string& out, const ExceptionInfo& e,
                         const ReportSurroundings& around) {
    bool access = e.code == 0xC0000005u || e.code == 0xC0000006u;
    if (!access || e.parameterCount < 2)
        return;
    const char* kind = e.parameters[0] == 0   ? "reading"
                       : e.parameters[0] == 1 ? "writing"
                       : e.parameters[0] == 8 ? "executing"
                                              : "accessing";
    appendf(out, "Access:       %s address 0x%016" PRIx64 "\r\n", kind, e.parameters[1]);
    if (e.code == 0xC0000006u && e.parameterCount >= 3)
        appendf(out, "I/O status:   0x%08" PRIx64 "\r\n", e.parameters[2]);
}

void appendException(std::string& out, const CrashReport& report,
                     const ReportSurroundings& around) {
    if (!report.hasException) {
        out += "Exception:    (not received)\r\n";
        return;
    }
    const ExceptionInfo& e = report.exception;
    const ExceptionName* name = exceptionNameOf(e.code);
    if (name)
        appendf(out, "Exception:    0x%08X %s (%s)\r\n", e.code, name->name, name->meaning);
    else
        appendf(out, "Exception:    0x%08X (unknown exception code)\r\n", e.code);
    std::string where = moduleOffsetText(around.modules, e.address);
    appendf(out, "Address:      0x%016" PRIx64 " %s\r\n", e.address,
            where.empty() ? (around.modulesKnown ? "(in no known module)" : "(modules unknown)")
                          : ("in " + where).c_str());
    appendf(out, "Flags:        0x%08X (%s)\r\n", e.flags,
            (e.flags & 1) ? "noncontinuable" : "continuable");
    uint32_t count = e.parameterCount;
    if (count > crashreport::exception::kMaxParameters) {
        appendf(out, "Parameters:   %u claimed, only 15 fit\r\n", count);
        count = crashreport::exception::kMaxParameters;
    } else {
        appendf(out, "Parameters:   %u\r\n", count);
    }
    for (uint32_t i = 0; i < count; ++i)
        appendf(out, "  [%2u] 0x%016" PRIx64 "\r\n", i, e.parameters[i]);
    appendAccessDetails(out, e, around);
    if (e.nestedRecord)
        appendf(out, "Nested record at 0x%016" PRIx64 "\r\n", e.nestedRecord);
}

void appendRegisters(std::string& out, const CrashReport& report,
                     const ReportSurroundings& around) {
    out += "\r\nRegisters\r\n";
    if (!report.hasRegisters) {
        out += "  (not received)\r\n";
        return;
    }
    const Registers& r = report.registers;
    std::string where = moduleOffsetText(around.modules, r.rip);
    appendf(out, "  RIP=%016" PRIx64 "%s%s\r\n", r.rip, where.empty() ? "" : "  ", where.c_str());
    for (size_t i = 0; i < 16; i += 2)
        appendf(out, "  %-3s=%016" PRIx64 "  %-3s=%016" PRIx64 "\r\n", kRegisterNames[i],
                r.general[i], kRegisterNames[i + 1], r.general[i + 1]);
    appendf(out, "  EFLAGS=%08X  MXCSR=%08X  ContextFlags=%08X\r\n", r.eflags, r.mxcsr,
            r.contextFlags);
    out += " ";
    for (size_t i = 0; i < 6; ++i)
        appendf(out, " %s=%04X", kSegmentNames[i], r.segments[i]);
    out += "\r\n";
    appendf(out,
            "  DR0=%016" PRIx64 "  DR1=%016" PRIx64 "  DR2=%016" PRIx64 "\r\n"
            "  DR3=%016" PRIx64 "  DR6=%016" PRIx64 "  DR7=%016" PRIx64 "\r\n",
            r.debug[0], r.debug[1], r.debug[2], r.debug[3], r.debug[4], r.debug[5]);
}

void appendModules(std::string& out, const ReportSurroundings& around) {
    if (!around.modulesKnown) {
        out += "\r\nModules: could not be read\r\n";
        return;
    }
    appendf(out, "\r\nModules (%" PRIu64 ")\r\n", static_cast<uint64_t>(around.modules.size()));
    for (const ModuleInfo& m : around.modules)
        appendf(out, "  %016" PRIx64 "-%016" PRIx64 "  %s\r\n", m.base, m.base + m.size,
                m.path.empty() ? m.name.c_str() : m.path.c_str());
}

} // namespace

const ExceptionName* exceptionNameOf(uint32_t code) {
    for (const ExceptionName& e : kExceptionNames)
        if (e.code == code)
            return &e;
    return nullptr;
}

const ModuleInfo* moduleAt(const std::vector<ModuleInfo>& modules, uint64_t address) {
    for (const ModuleInfo& m : modules)
        if (address >= m.base && address - m.base < m.size)
            return &m;
    return nullptr;
}

std::string moduleOffsetText(const std::vector<ModuleInfo>& modules, uint64_t address) {
    const ModuleInfo* m = moduleAt(modules, address);
    if (!m)
        return "";
    std::string text = m->name;
    appendf(text, "+0x%" PRIx64, address - m->base);
    return text;
}

std::string printableText(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c < 0x20 || c == 0x7F) {
            c = 0xFFFD;
        }
        text::appendUtf8(out, c);
    }
    return out;
}

std::string formatCrashReport(const CrashReport& report, const ReportSurroundings& around) {
    std::string out = "Crash report\r\n\r\n";
    if (around.hasProcessId)
        appendf(out, "Process id:   %u\r\n", around.processId);
    else
        out += "Process id:   (not given on the command line)\r\n";
    appendf(out, "Thread id:    ");
    if (report.hasThreadId)
        appendf(out, "%u\r\n", report.threadId);
    else
        out += "(not received)\r\n";
    out += "Executable:   " +
           (report.executable.empty() ? std::string("(not received)")
                                      : printableText(report.executable)) +
           "\r\n";
    out += "Command line: " + around.commandLine + "\r\n";
    if (!around.time.empty())
        out += "Received at:  " + around.time + "\r\n";
    appendf(out, "Report:       %" PRIu64 " bytes received, %" PRIu64 " expected%s\r\n",
            static_cast<uint64_t>(report.received), static_cast<uint64_t>(crashreport::kSize),
            report.complete()                      ? ""
            : report.received < crashreport::kSize ? " (truncated)"
                                                   : " (longer than expected; the rest ignored)");
    if (report.hasMarker && !report.markerValid())
        appendf(out, "Marker:       %u, expected %u: the report may not be from this system\r\n",
                report.marker, crashreport::kMarker);
    out += "\r\n";
    appendException(out, report, around);
    appendRegisters(out, report, around);
    appendModules(out, around);
    return out;
}

} // namespace watchdog
